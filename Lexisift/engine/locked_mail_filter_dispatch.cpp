// CLockedMailFilter's IDispatch side: a flat name table and a hand-written Invoke.
#include "Lexisift/engine/locked_mail_filter.h"
#include "Lexisift/server/dispatch.h"
#include "Lexisift/server/type_info.h"

namespace kestrelon {

namespace {

// The members' DISPIDs, always named with their namespace so that no member of the class
// can hide them.
namespace dispid {
enum : DISPID {
  kProcessMailStream = 1, kAddMailStream, kSwapMailStream, kDeleteMailStream, kMarker, kGetHamSpamCount
};
}  // namespace dispid

const DispatchName kNames[] = {
    {"ProcessMailStream", dispid::kProcessMailStream}, {"AddMailStream", dispid::kAddMailStream},
    {"SwapMailStream", dispid::kSwapMailStream},       {"DeleteMailStream", dispid::kDeleteMailStream},
    {"Marker", dispid::kMarker},                       {"GetHamSpamCount", dispid::kGetHamSpamCount},
};

}  // namespace

HRESULT CLockedMailFilter::GetTypeInfoCount(UINT* count) { return TypeInfoCount(count); }

HRESULT CLockedMailFilter::GetTypeInfo(UINT index, LCID, ITypeInfo** info) { return InterfaceTypeInfo(IID_ILockedMailFilter, index, info); }

HRESULT CLockedMailFilter::GetClassInfo(ITypeInfo** info) { return ClassTypeInfo(CLSID_LockedMailFilter, info); }

HRESULT CLockedMailFilter::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!IsEqualGUID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  return LookUpNames(kNames, names, count, ids);
}

HRESULT CLockedMailFilter::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                  EXCEPINFO* exception, UINT* argError) {
  if (!IsEqualGUID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  DispatchCall call(flags, params, result, argError);
  bool put = call.IsPut();
  if (put && id != dispid::kMarker) return DISP_E_MEMBERNOTFOUND;
  if (!put && !call.IsMethodOrGet()) return DISP_E_MEMBERNOTFOUND;

  HRESULT hr = S_OK;
  BSTR path = nullptr, header = nullptr, body = nullptr;
  VARIANT_BOOL flag = VARIANT_FALSE;
  switch (id) {
    case dispid::kProcessMailStream:
      if (FAILED(hr = call.Expect(3)) || FAILED(hr = call.Bstr(0, path)) || FAILED(hr = call.Bstr(1, header)) ||
          FAILED(hr = call.Bstr(2, body)))
        return hr;
      hr = ProcessMailStream(path, header, body, &flag);
      call.ReturnBool(flag);
      return InvokeResult(hr, exception);
    case dispid::kAddMailStream:
    case dispid::kSwapMailStream:
    case dispid::kDeleteMailStream:
      if (FAILED(hr = call.Expect(4)) || FAILED(hr = call.Bstr(0, path)) || FAILED(hr = call.Bstr(1, header)) ||
          FAILED(hr = call.Bstr(2, body)) || FAILED(hr = call.Bool(3, flag)))
        return hr;
      hr = id == dispid::kAddMailStream    ? AddMailStream(path, header, body, flag)
           : id == dispid::kSwapMailStream ? SwapMailStream(path, header, body, flag)
                                           : DeleteMailStream(path, header, body, flag);
      return InvokeResult(hr, exception);
    case dispid::kMarker: {
      BSTR messageId = nullptr;
      if (FAILED(hr = call.Expect(2)) || FAILED(hr = call.Bstr(0, path)) || FAILED(hr = call.Bstr(1, messageId)))
        return hr;
      if (put) {
        LONG mark = 0;
        if (FAILED(hr = call.PutLong(mark))) return hr;
        return InvokeResult(put_Marker(path, messageId, static_cast<KESTRELON_MARKER>(mark)), exception);
      }
      KESTRELON_MARKER mark = MARK_NONE;
      hr = get_Marker(path, messageId, &mark);
      call.ReturnLong(mark);
      return InvokeResult(hr, exception);
    }
    case dispid::kGetHamSpamCount: {
      LONG* ham = nullptr;
      LONG* spam = nullptr;
      if (FAILED(hr = call.Expect(3)) || FAILED(hr = call.Bstr(0, path)) || FAILED(hr = call.LongRef(1, ham)) ||
          FAILED(hr = call.LongRef(2, spam)))
        return hr;
      hr = GetHamSpamCount(path, ham, spam);
      call.WriteBack();
      return InvokeResult(hr, exception);
    }
    default: return DISP_E_MEMBERNOTFOUND;
  }
}

}  // namespace kestrelon
