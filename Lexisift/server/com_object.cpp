#include "Lexisift/server/com_object.h"

#include "Lexisift/server/module_count.h"

namespace kestrelon {

ComObject::ComObject(IUnknown* outer) : inner_(this), controlling_(outer ? outer : &inner_) {
  module::ObjectCreated();
}

ComObject::~ComObject() { module::ObjectDestroyed(); }

HRESULT STDMETHODCALLTYPE ComObject::InnerUnknown::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = IsEqualGUID(riid, IID_IUnknown) ? static_cast<IUnknown*>(this) : self->FindInterface(riid);
  if (!*object) return E_NOINTERFACE;
  static_cast<IUnknown*>(*object)->AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE ComObject::InnerUnknown::AddRef() { return ++self->references_; }

ULONG STDMETHODCALLTYPE ComObject::InnerUnknown::Release() {
  ULONG left = --self->references_;
  if (left == 0) delete self;
  return left;
}

}  // namespace kestrelon
