// The plug-in's dialogs and pictures as Windows loads them from the resources.
#include "plugin/res/resource.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

struct Control {
  std::wstring cls, text;
  DWORD style = 0;
};

struct DialogShape {
  std::wstring caption;
  std::map<int, Control> controls;  // by id
  std::vector<std::wstring> labels;  // texts of the controls without id, sorted
  int separators = 0, icons = 0;
};

INT_PTR CALLBACK Quiet(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

DialogShape Load(int id, LANGID language = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)) {
  LCID previous = GetThreadLocale();
  SetThreadLocale(MAKELCID(language, SORT_DEFAULT));
  HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), nullptr, Quiet, 0);
  SetThreadLocale(previous);
  DialogShape shape;
  if (!dialog) return shape;
  wchar_t text[512];
  GetWindowTextW(dialog, text, 512);
  shape.caption = text;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    Control control;
    wchar_t cls[64];
    GetClassNameW(child, cls, 64);
    GetWindowTextW(child, text, 512);
    control.cls = cls;
    control.text = text;
    control.style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
    int controlId = static_cast<short>(GetDlgCtrlID(child));
    if (controlId != -1) {
      shape.controls[controlId] = control;
    } else if ((control.style & SS_TYPEMASK) == SS_ETCHEDHORZ) {
      ++shape.separators;
    } else if ((control.style & SS_TYPEMASK) == SS_ICON) {
      ++shape.icons;
    } else {
      shape.labels.push_back(control.text);
    }
  }
  std::sort(shape.labels.begin(), shape.labels.end());
  DestroyWindow(dialog);
  return shape;
}

DWORD ButtonType(const Control& c) { return c.style & BS_TYPEMASK; }

TEST(Resources, OptionsDialogHasEveryControlOfItsTable) {
  DialogShape d = Load(IDD_OPTIONS);
  EXPECT_EQ(d.caption, L"Kestrelon Options");
  const std::map<int, std::pair<std::wstring, std::wstring>> expected = {
      {1, {L"Button", L"OK"}},
      {2, {L"Button", L"Cancel"}},
      {3, {L"Button", L"&Log File"}},
      {4, {L"Button", L"&Archive"}},
      {9, {L"Button", L"Help"}},
      {203, {L"Static", L"0"}},
      {204, {L"Static", L"0"}},
      {1007, {L"Button", L"Mail Statistics"}},
      {1008, {L"Static", L"0 = Disable HTTP-Scan\r\n3 = recommended"}},
      {1009, {L"Edit", L""}},
      {1011, {L"Static", L"http://www.kestrelon.example/"}},
      {1012, {L"Static", L"Timeout (in sec) for Http-Scan"}},
      {1018, {L"Button", L"&Backup deleted Spam Mails"}},
      {1019, {L"Static", L""}},
      {1020, {L"Button", L"&Verify Senders Address (SMTP)"}},
  };
  ASSERT_EQ(d.controls.size(), expected.size());
  for (const auto& [id, kind] : expected) {
    EXPECT_EQ(d.controls[id].cls, kind.first) << id;
    EXPECT_EQ(d.controls[id].text, kind.second) << id;
  }
  EXPECT_EQ(ButtonType(d.controls[1007]), DWORD(BS_GROUPBOX));
  EXPECT_EQ(ButtonType(d.controls[1018]), DWORD(BS_AUTOCHECKBOX));
  EXPECT_EQ(ButtonType(d.controls[1020]), DWORD(BS_AUTOCHECKBOX));
  EXPECT_TRUE(d.controls[1011].style & SS_NOTIFY);  // the link must see the mouse
  EXPECT_EQ(d.labels, (std::vector<std::wstring>{L"Click Archive to view all safed emails deleted as spam.",
                                                 L"Click Log File to show the logged filter events.", L"General",
                                                 L"Information", L"KestrelonFilter Version:", L"Real Mails:",
                                                 L"Settings", L"Spam Mails:"}));
  EXPECT_EQ(d.separators, 3);
  EXPECT_EQ(d.icons, 1);
}

TEST(Resources, GermanOptionsDialogHasTheSameControls) {
  DialogShape english = Load(IDD_OPTIONS);
  DialogShape german = Load(IDD_OPTIONS, MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
  EXPECT_EQ(german.caption, L"Kestrelon-Optionen");
  ASSERT_EQ(german.controls.size(), english.controls.size());
  for (const auto& [id, control] : english.controls) {
    EXPECT_EQ(german.controls[id].cls, control.cls) << id;
    EXPECT_EQ(german.controls[id].style, control.style) << id;
  }
  EXPECT_EQ(german.controls[2].text, L"Abbrechen");
  EXPECT_EQ(german.labels.size(), english.labels.size());
  EXPECT_EQ(german.separators, 3);
  EXPECT_EQ(german.icons, 1);
}

TEST(Resources, TokenAndProgressDialogs) {
  DialogShape tokens = Load(IDD_TOKENS);
  EXPECT_EQ(tokens.caption, L"Kestrelon - Token Probabilities");
  ASSERT_EQ(tokens.controls.size(), 5u);
  EXPECT_EQ(tokens.controls[1].text, L"OK");
  EXPECT_EQ(tokens.controls[1014].cls, L"SysListView32");
  EXPECT_EQ(tokens.controls[1014].style & LVS_TYPEMASK, DWORD(LVS_REPORT));
  for (int id : {1015, 1016, 1017}) EXPECT_EQ(tokens.controls[id].text, L"|") << id;
  EXPECT_EQ(tokens.labels, (std::vector<std::wstring>{L"From:", L"Probability:", L"Subject:"}));
  DialogShape german = Load(IDD_TOKENS, MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
  EXPECT_EQ(german.caption, L"Kestrelon - Token-Wahrscheinlichkeiten");
  ASSERT_EQ(german.controls.size(), tokens.controls.size());
  for (const auto& [id, control] : tokens.controls) {
    EXPECT_EQ(german.controls[id].cls, control.cls) << id;
    EXPECT_EQ(german.controls[id].style, control.style) << id;
    EXPECT_EQ(german.controls[id].text, control.text) << id;
  }
  EXPECT_EQ(german.labels, (std::vector<std::wstring>{L"Betreff:", L"Von:", L"Wahrscheinlichkeit:"}));

  DialogShape progress = Load(IDD_PROGRESS);
  EXPECT_EQ(progress.caption, L"Kestrelon");
  ASSERT_EQ(progress.controls.size(), 2u);
  EXPECT_EQ(progress.controls[1004].cls, L"Static");
  EXPECT_EQ(progress.controls[1012].cls, L"msctls_progress32");
}

TEST(Resources, ToolbarBitmapsHaveTheirSizesAndAMagentaBackground) {
  const struct {
    int id, width, height;
  } bitmaps[] = {{102, 24, 24}, {100, 24, 24}, {34, 22, 22}, {35, 22, 22},
                 {103, 16, 16}, {101, 16, 16}, {33, 64, 16}};
  for (const auto& b : bitmaps) {
    auto bitmap = static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(b.id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(bitmap, nullptr) << b.id;
    DIBSECTION dib{};
    ASSERT_EQ(GetObjectW(bitmap, sizeof dib, &dib), int(sizeof dib));
    EXPECT_EQ(dib.dsBm.bmWidth, b.width) << b.id;
    EXPECT_EQ(dib.dsBm.bmHeight, b.height) << b.id;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    EXPECT_EQ(GetPixel(dc, 0, 0), RGB(255, 0, 255)) << b.id;
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
  EXPECT_NE(LoadCursorW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(40)), nullptr);
  EXPECT_NE(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(50), IMAGE_ICON, 32, 32, 0), nullptr);
}

}  // namespace
