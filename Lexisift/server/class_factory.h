// The class factory of one of the server's classes: creates plain and aggregated objects.
// Factories are static; a reference to one keeps the server loaded like a lock does.
#pragma once

#include "Lexisift/server/com_object.h"
#include "Lexisift/server/module_count.h"

namespace kestrelon {

template <typename T>
class ClassFactory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    module::Lock();
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    module::Unlock();
    return 1;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    return ComObject::Create<T>(outer, riid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      module::Lock();
    else
      module::Unlock();
    return S_OK;
  }
};

}  // namespace kestrelon
