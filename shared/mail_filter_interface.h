// The engine's filter interfaces as clients call them through their vtables. Both
// libraries compile this one declaration; the slot order is the interfaces' contract.
#pragma once

#include "platform/com.h"
#include "shared/filter_enums.h"

namespace kestrelon {

// {FE2EEAFC-3828-4456-A690-42291EB5F033}
inline constexpr GUID LIBID_Lexisift = {0xFE2EEAFC, 0x3828, 0x4456, {0xA6, 0x90, 0x42, 0x29, 0x1E, 0xB5, 0xF0, 0x33}};
// {C99A50BF-4E51-48FF-9B0A-1440D24010C6}
inline constexpr IID IID_IMailFilter = {0xC99A50BF, 0x4E51, 0x48FF, {0x9B, 0x0A, 0x14, 0x40, 0xD2, 0x40, 0x10, 0xC6}};
// {6209CBD0-CBBD-47F1-9ECA-E2CE47A3012D}
inline constexpr IID IID_ILockedMailFilter = {0x6209CBD0, 0xCBBD, 0x47F1, {0x9E, 0xCA, 0xE2, 0xCE, 0x47, 0xA3, 0x01, 0x2D}};
// {93FF72BB-4A31-48F7-94EF-1C519291A481}
inline constexpr CLSID CLSID_MailFilter = {0x93FF72BB, 0x4A31, 0x48F7, {0x94, 0xEF, 0x1C, 0x51, 0x92, 0x91, 0xA4, 0x81}};
// {ACF441D6-13EF-4EAB-B31D-1C992EA46F41}
inline constexpr CLSID CLSID_LockedMailFilter = {0xACF441D6, 0x13EF, 0x4EAB, {0xB3, 0x1D, 0x1C, 0x99, 0x2E, 0xA4, 0x6F, 0x41}};

// A filter bound to one token store for its whole life. char* texts are consumed.
struct IMailFilter : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE ProcessMailDirectory(BSTR szPath) = 0;
  virtual HRESULT STDMETHODCALLTYPE ProcessMailFile(BSTR szFileName, VARIANT_BOOL* bBad) = 0;
  virtual HRESULT STDMETHODCALLTYPE ProcessMailStream(char* szHeader, char* szStream, VARIANT_BOOL* bBad) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddMailStream(char* szHeader, char* szStream, VARIANT_BOOL bBad) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteMailStream(char* szHeader, char* szStream, VARIANT_BOOL bBad) = 0;
  virtual HRESULT STDMETHODCALLTYPE SwapMailStream(char* szHeader, char* szStream, VARIANT_BOOL bToBad) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddMailFile(BSTR szFileName, VARIANT_BOOL bBad) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteMailFile(BSTR szFileName, VARIANT_BOOL bBad) = 0;
  virtual HRESULT STDMETHODCALLTYPE SwapMailFile(BSTR szFileName, VARIANT_BOOL bToBad) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ItemsCount(VARIANT_BOOL bBad, LONG* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE Dump(BSTR FileName) = 0;
  virtual HRESULT STDMETHODCALLTYPE Init(BSTR FilePath) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_HTTPScanTimeout(LONG* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_HTTPScanTimeout(LONG newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_NumOfToken(LONG* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_SizeOnRam(LONG* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_SizeOnDisk(LONG* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ContentType(CONTENT_TYPE* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ContentType(CONTENT_TYPE newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE TokensMap(BSTR Header, BSTR Body, float* Prob, LONG* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReadItemCounter(BSTR FilePath, LONGLONG* pVal) = 0;
};

// A filter that opens the shared, file-locked store named by each call.
struct ILockedMailFilter : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE ProcessMailStream(BSTR FilePath, BSTR szHeader, BSTR szStream,
                                                      VARIANT_BOOL* bBad) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddMailStream(BSTR FilePath, BSTR szHeader, BSTR szStream, VARIANT_BOOL bBad) = 0;
  virtual HRESULT STDMETHODCALLTYPE SwapMailStream(BSTR FilePath, BSTR szHeader, BSTR szStream,
                                                   VARIANT_BOOL bToBad) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteMailStream(BSTR FilePath, BSTR szHeader, BSTR szStream,
                                                     VARIANT_BOOL bBad) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Marker(BSTR FilePath, BSTR id, KESTRELON_MARKER* pVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Marker(BSTR FilePath, BSTR id, KESTRELON_MARKER newVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHamSpamCount(BSTR FilePath, LONG* lHam, LONG* lSpam) = 0;
};

}  // namespace kestrelon
