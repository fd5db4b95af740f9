#include "plugin/host/win32/token_dialog.h"

#include "plugin/host/new_mail.h"
#include "plugin/host/plugin_data.h"
#include "plugin/host/token_view.h"
#include "plugin/host/win32/box_texts.h"
#include "plugin/host/win32/plugin_module.h"
#include "plugin/res/plugin_strings.h"
#include "plugin/res/resource.h"

#include <commctrl.h>

#include <algorithm>

namespace kestrelon {

namespace {

int TextWidth(HWND list, const std::string& text) {
  return static_cast<int>(SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

// `width` is the column's width with its English title; a longer translated title widens
// it by what it adds.
void InsertColumn(HWND list, int index, unsigned titleId, int width) {
  std::string title = LoadPluginResourceText(titleId, 64);
  int added = TextWidth(list, title) - TextWidth(list, PluginStringText(titleId, UiLanguage::kEnglish));
  LVCOLUMNA column{};
  column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  column.fmt = LVCFMT_LEFT;
  column.cx = width + std::max(0, added);
  column.pszText = title.data();
  column.iSubItem = index;
  SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
}

void Fill(HWND dialog, HWND list, PluginData& data) {
  TokenView view = FillTokenView(data);
  if (!view.filled) return;
  SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
  int row = 0;
  for (const TokenRow& token : view.rows) {
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<char*>(token.token.c_str());
    int index = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    LVITEMA cell{};
    cell.iSubItem = 1;
    cell.pszText = const_cast<char*>(token.probability.c_str());
    SendMessageA(list, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&cell));
    ++row;
  }
  SetDlgItemTextA(dialog, IDC_TOKEN_FROM, view.from.c_str());
  SetDlgItemTextA(dialog, IDC_TOKEN_SUBJECT, view.subject.c_str());
  SetDlgItemTextA(dialog, IDC_TOKEN_PROBABILITY, view.probability.c_str());
}

INT_PTR CALLBACK TokenProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      HWND list = GetDlgItem(dialog, IDC_TOKEN_LIST);
      InsertColumn(list, 0, kTokenColumnText, 200);
      InsertColumn(list, 1, kProbabilityColumnText, 70);
      try {
        Fill(dialog, list, *reinterpret_cast<PluginData*>(lParam));
      } catch (...) {
        MessageBoxA(dialog, LocalizedBoxText(kMailProcessingError).c_str(), kFilterCaption, MB_OK);
      }
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

}  // namespace

void ShowTokenDialog(HWND owner, PluginData& data) {
  DialogBoxParamA(PluginModule(), MAKEINTRESOURCEA(IDD_TOKENS), owner, TokenProc, reinterpret_cast<LPARAM>(&data));
}

}  // namespace kestrelon
