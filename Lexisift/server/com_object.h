// Reference counting and aggregation shared by the server's COM objects.
//
// An object is reached through its interfaces, whose IUnknown methods delegate to the
// controlling unknown: the object itself, or the outer object that aggregates it. The
// inner, non-delegating unknown owns the reference count and answers IUnknown itself.
#pragma once

#include "platform/com.h"

#include <atomic>
#include <new>

namespace kestrelon {

class ComObject {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  // The non-delegating unknown, which an aggregating outer object holds.
  IUnknown* Inner() { return &inner_; }

  // Creates an object of type T (constructed from `outer`) and asks it for `riid`. An
  // aggregated object may only be asked for IUnknown.
  template <typename T>
  static HRESULT Create(IUnknown* outer, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer && !IsEqualGUID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    T* created = new (std::nothrow) T(outer);
    if (!created) return E_OUTOFMEMORY;
    IUnknown* inner = created->Inner();
    inner->AddRef();
    HRESULT hr = inner->QueryInterface(riid, object);
    inner->Release();  // destroys the object when the query failed
    return hr;
  }

 protected:
  explicit ComObject(IUnknown* outer);
  virtual ~ComObject();

  // The object's interfaces other than IUnknown, or nullptr.
  virtual void* FindInterface(REFIID riid) = 0;

  // What each interface's IUnknown methods forward to.
  HRESULT ControllingQueryInterface(REFIID riid, void** object) { return controlling_->QueryInterface(riid, object); }
  ULONG ControllingAddRef() { return controlling_->AddRef(); }
  ULONG ControllingRelease() { return controlling_->Release(); }

 private:
  struct InnerUnknown : IUnknown {
    explicit InnerUnknown(ComObject* owner) : self(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    ComObject* self;
  };

  InnerUnknown inner_;
  IUnknown* controlling_;
  std::atomic<ULONG> references_{0};
};

// Declares the three delegating IUnknown methods in a class derived from ComObject and
// from its interfaces.
#define KESTRELON_DELEGATING_UNKNOWN                                                               \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {                  \
    return ControllingQueryInterface(riid, object);                                                \
  }                                                                                                \
  ULONG STDMETHODCALLTYPE AddRef() override { return ControllingAddRef(); }                        \
  ULONG STDMETHODCALLTYPE Release() override { return ControllingRelease(); }

}  // namespace kestrelon
