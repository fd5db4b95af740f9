// CMailFilter: the filter a client binds to one token store for its whole life. It
// scores and learns mail given as texts or files, scans the link of a short mail, and
// reports on its store.
#pragma once

#include "Lexisift/engine/mail_classifier.h"
#include "Lexisift/server/com_object.h"
#include "shared/mail_filter_interface.h"

#include <memory>
#include <string>

namespace kestrelon {

class CMailItemsMap;

class CMailFilter : public IMailFilter, public IProvideClassInfo, public ComObject {
 public:
  static constexpr LONG kSizeOnRam = 28;
  // Calls that need the store before a successful Init answer this.
  static constexpr HRESULT kNoStore = E_UNEXPECTED;
  // Init answers this when another program kept the store open for longer than the
  // opening waits (a sharing violation); other failures to open it give E_FAIL.
  static constexpr HRESULT kStoreBusy = static_cast<HRESULT>(0x80070020);

  explicit CMailFilter(IUnknown* outer);
  ~CMailFilter() override;

  KESTRELON_DELEGATING_UNKNOWN

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argError) override;

  // IProvideClassInfo
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;

  // IMailFilter
  HRESULT STDMETHODCALLTYPE ProcessMailDirectory(BSTR szPath) override;
  HRESULT STDMETHODCALLTYPE ProcessMailFile(BSTR szFileName, VARIANT_BOOL* bBad) override;
  HRESULT STDMETHODCALLTYPE ProcessMailStream(char* szHeader, char* szStream, VARIANT_BOOL* bBad) override;
  HRESULT STDMETHODCALLTYPE AddMailStream(char* szHeader, char* szStream, VARIANT_BOOL bBad) override;
  HRESULT STDMETHODCALLTYPE DeleteMailStream(char* szHeader, char* szStream, VARIANT_BOOL bBad) override;
  HRESULT STDMETHODCALLTYPE SwapMailStream(char* szHeader, char* szStream, VARIANT_BOOL bToBad) override;
  HRESULT STDMETHODCALLTYPE AddMailFile(BSTR szFileName, VARIANT_BOOL bBad) override;
  HRESULT STDMETHODCALLTYPE DeleteMailFile(BSTR szFileName, VARIANT_BOOL bBad) override;
  HRESULT STDMETHODCALLTYPE SwapMailFile(BSTR szFileName, VARIANT_BOOL bToBad) override;
  HRESULT STDMETHODCALLTYPE get_ItemsCount(VARIANT_BOOL bBad, LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE Dump(BSTR FileName) override;
  HRESULT STDMETHODCALLTYPE Init(BSTR FilePath) override;
  HRESULT STDMETHODCALLTYPE get_HTTPScanTimeout(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE put_HTTPScanTimeout(LONG newVal) override;
  HRESULT STDMETHODCALLTYPE get_NumOfToken(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE get_SizeOnRam(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE get_SizeOnDisk(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE get_ContentType(CONTENT_TYPE* pVal) override;
  HRESULT STDMETHODCALLTYPE put_ContentType(CONTENT_TYPE newVal) override;
  HRESULT STDMETHODCALLTYPE TokensMap(BSTR Header, BSTR Body, float* Prob, LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE ReadItemCounter(BSTR FilePath, LONGLONG* pVal) override;

 private:
  void* FindInterface(REFIID riid) override;

  enum class Learn { Add, Delete, Swap };
  HRESULT LearnStream(char* header, char* body, bool flag, Learn how);
  HRESULT LearnFile(BSTR fileName, bool flag, Learn how);
  void Apply(TokenTable& table, bool flag, Learn how);
  // The token table of a mail file's first bytes; false when the file cannot be read.
  bool TokenizeFile(const std::string& path, TokenTable& table);

  std::unique_ptr<CMailItemsMap> store_;
  MailClassifier classifier_;
};

// Reads the first `kMailFileLimit` bytes of a mail file, up to its first NUL; false when it
// cannot be read.
constexpr size_t kMailFileLimit = 20000;
bool ReadMailFileText(const std::string& path, std::string& text);

}  // namespace kestrelon
