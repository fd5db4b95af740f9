// CMailFilter's IDispatch side: a flat name table and a hand-written Invoke.
#include "Lexisift/engine/mail_filter.h"
#include "Lexisift/server/dispatch.h"
#include "Lexisift/server/type_info.h"

#include <string>

namespace kestrelon {

namespace {

// The members' DISPIDs, always named with their namespace: a member of the class with
// the same name (the constant kSizeOnRam, say) cannot hide them inside Invoke.
namespace dispid {
enum : DISPID {
  kProcessMailDirectory = 1, kProcessMailFile, kProcessMailStream, kAddMailStream, kDeleteMailStream,
  kSwapMailStream, kAddMailFile, kDeleteMailFile, kSwapMailFile, kItemsCount, kDump, kInit, kHTTPScanTimeout,
  kNumOfToken, kSizeOnRam, kSizeOnDisk, kContentType, kTokensMap, kReadItemCounter,
};
static_assert(kReadItemCounter == 19);
}  // namespace dispid

const DispatchName kNames[] = {
    {"ProcessMailDirectory", dispid::kProcessMailDirectory}, {"ProcessMailFile", dispid::kProcessMailFile},
    {"ProcessMailStream", dispid::kProcessMailStream},       {"AddMailStream", dispid::kAddMailStream},
    {"DeleteMailStream", dispid::kDeleteMailStream},         {"SwapMailStream", dispid::kSwapMailStream},
    {"AddMailFile", dispid::kAddMailFile},                   {"DeleteMailFile", dispid::kDeleteMailFile},
    {"SwapMailFile", dispid::kSwapMailFile},                 {"ItemsCount", dispid::kItemsCount},
    {"Dump", dispid::kDump},                                 {"Init", dispid::kInit},
    {"HTTPScanTimeout", dispid::kHTTPScanTimeout},           {"NumOfToken", dispid::kNumOfToken},
    {"SizeOnRam", dispid::kSizeOnRam},                       {"SizeOnDisk", dispid::kSizeOnDisk},
    {"ContentType", dispid::kContentType},                   {"TokensMap", dispid::kTokensMap},
    {"ReadItemCounter", dispid::kReadItemCounter},
};

}  // namespace

HRESULT CMailFilter::GetTypeInfoCount(UINT* count) { return TypeInfoCount(count); }

HRESULT CMailFilter::GetTypeInfo(UINT index, LCID, ITypeInfo** info) { return InterfaceTypeInfo(IID_IMailFilter, index, info); }

HRESULT CMailFilter::GetClassInfo(ITypeInfo** info) { return ClassTypeInfo(CLSID_MailFilter, info); }

HRESULT CMailFilter::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!IsEqualGUID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  return LookUpNames(kNames, names, count, ids);
}

HRESULT CMailFilter::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                            EXCEPINFO* exception, UINT* argError) {
  if (!IsEqualGUID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  DispatchCall call(flags, params, result, argError);
  HRESULT hr = S_OK;
  std::string text0, text1;
  char* bytes0 = nullptr;
  char* bytes1 = nullptr;
  BSTR bstr0 = nullptr, bstr1 = nullptr;
  VARIANT_BOOL flag = VARIANT_FALSE;
  LONG number = 0;

  // Properties are put only where they can be; everything else is called or read.
  bool put = call.IsPut();
  if (put && id != dispid::kHTTPScanTimeout && id != dispid::kContentType) return DISP_E_MEMBERNOTFOUND;
  if (!put && !call.IsMethodOrGet()) return DISP_E_MEMBERNOTFOUND;

  switch (id) {
    case dispid::kProcessMailDirectory:
      if (FAILED(hr = call.Expect(1)) || FAILED(hr = call.Bstr(0, bstr0))) return hr;
      return InvokeResult(ProcessMailDirectory(bstr0), exception);
    case dispid::kProcessMailFile:
      if (FAILED(hr = call.Expect(1)) || FAILED(hr = call.Bstr(0, bstr0))) return hr;
      hr = ProcessMailFile(bstr0, &flag);
      call.ReturnBool(flag);
      return InvokeResult(hr, exception);
    case dispid::kProcessMailStream:
      if (FAILED(hr = call.Expect(2)) || FAILED(hr = call.Bytes(0, text0, bytes0)) ||
          FAILED(hr = call.Bytes(1, text1, bytes1)))
        return hr;
      hr = ProcessMailStream(bytes0, bytes1, &flag);
      call.ReturnBool(flag);
      return InvokeResult(hr, exception);
    case dispid::kAddMailStream:
    case dispid::kDeleteMailStream:
    case dispid::kSwapMailStream:
      if (FAILED(hr = call.Expect(3)) || FAILED(hr = call.Bytes(0, text0, bytes0)) ||
          FAILED(hr = call.Bytes(1, text1, bytes1)) || FAILED(hr = call.Bool(2, flag)))
        return hr;
      hr = id == dispid::kAddMailStream      ? AddMailStream(bytes0, bytes1, flag)
           : id == dispid::kDeleteMailStream ? DeleteMailStream(bytes0, bytes1, flag)
                                             : SwapMailStream(bytes0, bytes1, flag);
      return InvokeResult(hr, exception);
    case dispid::kAddMailFile:
    case dispid::kDeleteMailFile:
    case dispid::kSwapMailFile:
      if (FAILED(hr = call.Expect(2)) || FAILED(hr = call.Bstr(0, bstr0)) || FAILED(hr = call.Bool(1, flag)))
        return hr;
      hr = id == dispid::kAddMailFile      ? AddMailFile(bstr0, flag)
           : id == dispid::kDeleteMailFile ? DeleteMailFile(bstr0, flag)
                                           : SwapMailFile(bstr0, flag);
      return InvokeResult(hr, exception);
    case dispid::kItemsCount:
      if (FAILED(hr = call.Expect(1)) || FAILED(hr = call.Bool(0, flag))) return hr;
      hr = get_ItemsCount(flag, &number);
      if (SUCCEEDED(hr)) call.ReturnLong(number);
      return InvokeResult(hr, exception);
    case dispid::kDump:
    case dispid::kInit:
      if (FAILED(hr = call.Expect(1)) || FAILED(hr = call.Bstr(0, bstr0))) return hr;
      return InvokeResult(id == dispid::kDump ? Dump(bstr0) : Init(bstr0), exception);
    case dispid::kHTTPScanTimeout:
      if (FAILED(hr = call.Expect(0))) return hr;
      if (put) {
        if (FAILED(hr = call.PutLong(number))) return hr;
        return InvokeResult(put_HTTPScanTimeout(number), exception);
      }
      hr = get_HTTPScanTimeout(&number);
      call.ReturnLong(number);
      return InvokeResult(hr, exception);
    case dispid::kContentType:
      if (FAILED(hr = call.Expect(0))) return hr;
      if (put) {
        if (FAILED(hr = call.PutLong(number))) return hr;
        return InvokeResult(put_ContentType(static_cast<CONTENT_TYPE>(number)), exception);
      } else {
        CONTENT_TYPE type = CONTENT_TYPE_PLAIN;
        hr = get_ContentType(&type);
        call.ReturnLong(type);
        return InvokeResult(hr, exception);
      }
    case dispid::kNumOfToken:
    case dispid::kSizeOnRam:
    case dispid::kSizeOnDisk:
      if (FAILED(hr = call.Expect(0))) return hr;
      hr = id == dispid::kNumOfToken ? get_NumOfToken(&number)
           : id == dispid::kSizeOnRam ? get_SizeOnRam(&number)
                                      : get_SizeOnDisk(&number);
      if (SUCCEEDED(hr)) call.ReturnLong(number);
      return InvokeResult(hr, exception);
    case dispid::kTokensMap: {
      float* probability = nullptr;
      if (FAILED(hr = call.Expect(3)) || FAILED(hr = call.Bstr(0, bstr0)) || FAILED(hr = call.Bstr(1, bstr1)) ||
          FAILED(hr = call.FloatRef(2, probability)))
        return hr;
      hr = TokensMap(bstr0, bstr1, probability, &number);
      call.WriteBack();
      call.ReturnLong(number);
      return InvokeResult(hr, exception);
    }
    case dispid::kReadItemCounter: {
      LONGLONG counter = 0;
      if (FAILED(hr = call.Expect(1)) || FAILED(hr = call.Bstr(0, bstr0))) return hr;
      hr = ReadItemCounter(bstr0, &counter);
      call.ReturnLongLong(counter);
      return InvokeResult(hr, exception);
    }
    default: return DISP_E_MEMBERNOTFOUND;
  }
}

}  // namespace kestrelon
