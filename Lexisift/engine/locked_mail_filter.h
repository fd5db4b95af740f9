// CLockedMailFilter: a filter that opens the shared, file-locked store named by each
// call and closes it before returning, so that several processes can learn into one
// store. It never scans links.
#pragma once

#include "Lexisift/engine/mail_classifier.h"
#include "Lexisift/server/com_object.h"
#include "shared/mail_filter_interface.h"

namespace kestrelon {

class CLockedMailFilter : public ILockedMailFilter, public IProvideClassInfo, public ComObject {
 public:
  explicit CLockedMailFilter(IUnknown* outer);
  ~CLockedMailFilter() override;

  KESTRELON_DELEGATING_UNKNOWN

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argError) override;

  // IProvideClassInfo
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;

  // ILockedMailFilter
  HRESULT STDMETHODCALLTYPE ProcessMailStream(BSTR FilePath, BSTR szHeader, BSTR szStream, VARIANT_BOOL* bBad) override;
  HRESULT STDMETHODCALLTYPE AddMailStream(BSTR FilePath, BSTR szHeader, BSTR szStream, VARIANT_BOOL bBad) override;
  HRESULT STDMETHODCALLTYPE SwapMailStream(BSTR FilePath, BSTR szHeader, BSTR szStream, VARIANT_BOOL bToBad) override;
  HRESULT STDMETHODCALLTYPE DeleteMailStream(BSTR FilePath, BSTR szHeader, BSTR szStream, VARIANT_BOOL bBad) override;
  HRESULT STDMETHODCALLTYPE get_Marker(BSTR FilePath, BSTR id, KESTRELON_MARKER* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Marker(BSTR FilePath, BSTR id, KESTRELON_MARKER newVal) override;
  HRESULT STDMETHODCALLTYPE GetHamSpamCount(BSTR FilePath, LONG* lHam, LONG* lSpam) override;

 private:
  void* FindInterface(REFIID riid) override;

  enum class Learn { Add, Delete, Swap };
  HRESULT LearnStream(BSTR path, BSTR header, BSTR body, bool flag, Learn how);
  void BuildTable(BSTR header, BSTR body, TokenTable& table);

  MailClassifier classifier_;
};

}  // namespace kestrelon
