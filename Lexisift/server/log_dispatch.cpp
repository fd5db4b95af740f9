// CLog's IDispatch side: one flat name table of members and parameters, and Invoke.
#include "Lexisift/server/dispatch.h"
#include "Lexisift/server/log.h"
#include "Lexisift/server/type_info.h"

#include <string>

namespace kestrelon {

namespace {

// The members' DISPIDs, always named with their namespace so that no member of the class
// can hide them.
namespace dispid {
enum : DISPID { kLogError = 1, kLogInfo = 2, kInit = 3 };
}  // namespace dispid

// Parameter names map to their positions.
const DispatchName kNames[] = {
    {"LogError", dispid::kLogError}, {"LogInfo", dispid::kLogInfo}, {"Init", dispid::kInit},
    {"Function", 0},                 {"Error", 1},                  {"Info", 0},
    {"FilePath", 0},
};

}  // namespace

HRESULT CLog::GetTypeInfoCount(UINT* count) { return TypeInfoCount(count); }

HRESULT CLog::GetTypeInfo(UINT index, LCID, ITypeInfo** info) { return InterfaceTypeInfo(IID_ILog, index, info); }

HRESULT CLog::GetClassInfo(ITypeInfo** info) { return ClassTypeInfo(CLSID_Log, info); }

HRESULT CLog::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!IsEqualGUID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  return LookUpNames(kNames, names, count, ids);
}

HRESULT CLog::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                     EXCEPINFO* exception, UINT* argError) {
  if (!IsEqualGUID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (params && params->cArgs > 2) return DISP_E_BADPARAMCOUNT;
  DispatchCall call(flags, params, result, argError);
  if (!call.IsMethodOrGet()) return DISP_E_MEMBERNOTFOUND;
  HRESULT hr = S_OK;
  std::string text0, text1;
  char* bytes0 = nullptr;
  char* bytes1 = nullptr;
  BSTR path = nullptr;
  switch (id) {
    case dispid::kLogError:
      if (FAILED(hr = call.Expect(2)) || FAILED(hr = call.Bytes(0, text0, bytes0)) ||
          FAILED(hr = call.Bytes(1, text1, bytes1)))
        return hr;
      return InvokeResult(LogError(bytes0, bytes1), exception);
    case dispid::kLogInfo:
      if (FAILED(hr = call.Expect(1)) || FAILED(hr = call.Bytes(0, text0, bytes0))) return hr;
      return InvokeResult(LogInfo(bytes0), exception);
    case dispid::kInit:
      if (FAILED(hr = call.Expect(1)) || FAILED(hr = call.Bstr(0, path))) return hr;
      return InvokeResult(Init(path), exception);
    default: return DISP_E_MEMBERNOTFOUND;
  }
}

}  // namespace kestrelon
