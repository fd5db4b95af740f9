#include "Lexisift/engine/locked_mail_filter.h"

#include "Lexisift/store/locked_mail_items_map.h"
#include "Lexisift/store/markers.h"

#include <string>

namespace kestrelon {

CLockedMailFilter::CLockedMailFilter(IUnknown* outer) : ComObject(outer) {}
CLockedMailFilter::~CLockedMailFilter() = default;

void* CLockedMailFilter::FindInterface(REFIID riid) {
  if (IsEqualGUID(riid, IID_IDispatch) || IsEqualGUID(riid, IID_ILockedMailFilter))
    return static_cast<ILockedMailFilter*>(this);
  if (IsEqualGUID(riid, IID_IProvideClassInfo)) return static_cast<IProvideClassInfo*>(this);
  return nullptr;
}

void CLockedMailFilter::BuildTable(BSTR header, BSTR body, TokenTable& table) {
  std::string headerText = platform::BstrToAnsi(header);
  std::string bodyText = platform::BstrToAnsi(body);
  classifier_.Tokenizer().TokenizeHeader(headerText.data(), table);
  classifier_.Tokenizer().TokenizeBody(bodyText.data(), table);
}

HRESULT CLockedMailFilter::ProcessMailStream(BSTR FilePath, BSTR szHeader, BSTR szStream, VARIANT_BOOL* bBad) {
  if (!bBad) return E_POINTER;
  try {
    TokenTable table;
    BuildTable(szHeader, szStream, table);  // before the store is locked
    *bBad = VARIANT_FALSE;
    auto store = CreateLockedPersistMap(platform::BstrToAnsi(FilePath));
    if (classifier_.Process(*store, table, false)) *bBad = VARIANT_TRUE;
  } catch (...) {
    return S_FALSE;
  }
  return S_OK;
}

HRESULT CLockedMailFilter::LearnStream(BSTR path, BSTR header, BSTR body, bool flag, Learn how) {
  try {
    TokenTable table;
    BuildTable(header, body, table);
    auto store = CreateLockedPersistMap(platform::BstrToAnsi(path));
    switch (how) {
      case Learn::Add: store->AddItems(table, flag); break;
      case Learn::Delete: store->DeleteItems(table, flag); break;
      case Learn::Swap: store->SwapItems(table, flag); break;
    }
  } catch (...) {
    return S_FALSE;
  }
  return S_OK;
}

HRESULT CLockedMailFilter::AddMailStream(BSTR FilePath, BSTR szHeader, BSTR szStream, VARIANT_BOOL bBad) {
  return LearnStream(FilePath, szHeader, szStream, bBad == VARIANT_TRUE, Learn::Add);
}
HRESULT CLockedMailFilter::SwapMailStream(BSTR FilePath, BSTR szHeader, BSTR szStream, VARIANT_BOOL bToBad) {
  return LearnStream(FilePath, szHeader, szStream, bToBad == VARIANT_TRUE, Learn::Swap);
}
HRESULT CLockedMailFilter::DeleteMailStream(BSTR FilePath, BSTR szHeader, BSTR szStream, VARIANT_BOOL bBad) {
  return LearnStream(FilePath, szHeader, szStream, bBad == VARIANT_TRUE, Learn::Delete);
}

HRESULT CLockedMailFilter::get_Marker(BSTR FilePath, BSTR id, KESTRELON_MARKER* pVal) {
  if (!pVal) return E_POINTER;
  try {
    *pVal = static_cast<KESTRELON_MARKER>(ReadMark(platform::BstrToAnsi(FilePath), platform::BstrToAnsi(id)));
  } catch (...) {
    return S_FALSE;
  }
  return S_OK;
}

HRESULT CLockedMailFilter::put_Marker(BSTR FilePath, BSTR id, KESTRELON_MARKER newVal) {
  try {
    WriteMark(platform::BstrToAnsi(FilePath), platform::BstrToAnsi(id), newVal);
  } catch (...) {
    return S_FALSE;
  }
  return S_OK;
}

HRESULT CLockedMailFilter::GetHamSpamCount(BSTR FilePath, LONG* lHam, LONG* lSpam) {
  if (!lHam || !lSpam) return E_POINTER;
  try {
    auto store = CreateLockedPersistMap(platform::BstrToAnsi(FilePath));
    *lHam = store->HamMails();
    *lSpam = store->SpamMails();
  } catch (...) {
    return S_FALSE;
  }
  return S_OK;
}

}  // namespace kestrelon
