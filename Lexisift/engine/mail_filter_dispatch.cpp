// CMailFilter's IDispatch side: a flat name table and a hand-written Invoke.
#include "Lexisift/engine/mail_filter.h"
#include "Lexisift/server/dispatch.h"
#include "Lexisift/server/type_info.h"

#include <string>

namespace kestrelon {

namespace {

enum : DISPID {
  kProcessMailDirectory = 1, kProcessMailFile, kProcessMailStream, kAddMailStream, kDeleteMailStream,
  kSwapMailStream, kAddMailFile, kDeleteMailFile, kSwapMailFile, kItemsCount, kDump, kInit, kHTTPScanTimeout,
  kNumOfToken, kSizeOnRam, kSizeOnDisk, kContentType, kTokensMap, kReadItemCounter,
};

const DispatchName kNames[] = {
    {"ProcessMailDirectory", kProcessMailDirectory}, {"ProcessMailFile", kProcessMailFile},
    {"ProcessMailStream", kProcessMailStream},       {"AddMailStream", kAddMailStream},
    {"DeleteMailStream", kDeleteMailStream},         {"SwapMailStream", kSwapMailStream},
    {"AddMailFile", kAddMailFile},                   {"DeleteMailFile", kDeleteMailFile},
    {"SwapMailFile", kSwapMailFile},                 {"ItemsCount", kItemsCount},
    {"Dump", kDump},                                 {"Init", kInit},
    {"HTTPScanTimeout", kHTTPScanTimeout},           {"NumOfToken", kNumOfToken},
    {"SizeOnRam", kSizeOnRam},                       {"SizeOnDisk", kSizeOnDisk},
    {"ContentType", kContentType},                   {"TokensMap", kTokensMap},
    {"ReadItemCounter", kReadItemCounter},
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
  if (put && id != kHTTPScanTimeout && id != kContentType) return DISP_E_MEMBERNOTFOUND;
  if (!put && !call.IsMethodOrGet()) return DISP_E_MEMBERNOTFOUND;

  switch (id) {
    case kProcessMailDirectory:
      if (FAILED(hr = call.Expect(1)) || FAILED(hr = call.Bstr(0, bstr0))) return hr;
      return InvokeResult(ProcessMailDirectory(bstr0), exception);
    case kProcessMailFile:
      if (FAILED(hr = call.Expect(1)) || FAILED(hr = call.Bstr(0, bstr0))) return hr;
      hr = ProcessMailFile(bstr0, &flag);
      call.ReturnBool(flag);
      return InvokeResult(hr, exception);
    case kProcessMailStream:
      if (FAILED(hr = call.Expect(2)) || FAILED(hr = call.Bytes(0, text0, bytes0)) ||
          FAILED(hr = call.Bytes(1, text1, bytes1)))
        return hr;
      hr = ProcessMailStream(bytes0, bytes1, &flag);
      call.ReturnBool(flag);
      return InvokeResult(hr, exception);
    case kAddMailStream:
    case kDeleteMailStream:
    case kSwapMailStream:
      if (FAILED(hr = call.Expect(3)) || FAILED(hr = call.Bytes(0, text0, bytes0)) ||
          FAILED(hr = call.Bytes(1, text1, bytes1)) || FAILED(hr = call.Bool(2, flag)))
        return hr;
      hr = id == kAddMailStream      ? AddMailStream(bytes0, bytes1, flag)
           : id == kDeleteMailStream ? DeleteMailStream(bytes0, bytes1, flag)
                                     : SwapMailStream(bytes0, bytes1, flag);
      return InvokeResult(hr, exception);
    case kAddMailFile:
    case kDeleteMailFile:
    case kSwapMailFile:
      if (FAILED(hr = call.Expect(2)) || FAILED(hr = call.Bstr(0, bstr0)) || FAILED(hr = call.Bool(1, flag)))
        return hr;
      hr = id == kAddMailFile ? AddMailFile(bstr0, flag) : id == kDeleteMailFile ? DeleteMailFile(bstr0, flag)
                                                                                 : SwapMailFile(bstr0, flag);
      return InvokeResult(hr, exception);
    case kItemsCount:
      if (FAILED(hr = call.Expect(1)) || FAILED(hr = call.Bool(0, flag))) return hr;
      hr = get_ItemsCount(flag, &number);
      if (SUCCEEDED(hr)) call.ReturnLong(number);
      return InvokeResult(hr, exception);
    case kDump:
    case kInit:
      if (FAILED(hr = call.Expect(1)) || FAILED(hr = call.Bstr(0, bstr0))) return hr;
      return InvokeResult(id == kDump ? Dump(bstr0) : Init(bstr0), exception);
    case kHTTPScanTimeout:
      if (FAILED(hr = call.Expect(0))) return hr;
      if (put) {
        if (FAILED(hr = call.PutLong(number))) return hr;
        return InvokeResult(put_HTTPScanTimeout(number), exception);
      }
      hr = get_HTTPScanTimeout(&number);
      call.ReturnLong(number);
      return InvokeResult(hr, exception);
    case kContentType:
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
    case kNumOfToken:
    case kSizeOnRam:
    case kSizeOnDisk:
      if (FAILED(hr = call.Expect(0))) return hr;
      hr = id == kNumOfToken ? get_NumOfToken(&number) : id == kSizeOnRam ? get_SizeOnRam(&number)
                                                                          : get_SizeOnDisk(&number);
      if (SUCCEEDED(hr)) call.ReturnLong(number);
      return InvokeResult(hr, exception);
    case kTokensMap: {
      float storage = 0;
      float* probability = nullptr;
      if (FAILED(hr = call.Expect(3)) || FAILED(hr = call.Bstr(0, bstr0)) || FAILED(hr = call.Bstr(1, bstr1)) ||
          FAILED(hr = call.FloatRef(2, probability, storage)))
        return hr;
      hr = TokensMap(bstr0, bstr1, probability, &number);
      call.ReturnLong(number);
      return InvokeResult(hr, exception);
    }
    case kReadItemCounter: {
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
