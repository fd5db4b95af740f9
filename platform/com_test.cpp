#include "platform/com.h"

#include <gtest/gtest.h>

TEST(Com, BstrCarriesItsLengthAndRoundTripsAnsiText) {
  std::string text = "Gr\xfc\xdf" "e \x80 5 \x93quoted\x94";
  BSTR b = platform::AnsiToBstr(text);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), text.size());
  EXPECT_EQ(b[2], u'\u00fc');
  EXPECT_EQ(b[6], u'\u20ac');  // the euro sign of the Western code page
  EXPECT_EQ(b[text.size()], 0);
  EXPECT_EQ(platform::BstrToAnsi(b), text);
  SysFreeString(b);
}

TEST(Com, NullAndEmbeddedNulBstrs) {
  EXPECT_EQ(platform::BstrToAnsi(nullptr), "");
  BSTR b = platform::AnsiToBstr(std::string("a\0b", 3));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(platform::BstrToAnsi(b), std::string("a\0b", 3));
  SysFreeString(b);
  BSTR empty = platform::AnsiToBstr("");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  SysFreeString(empty);
}

TEST(Com, VariantClearFreesAndResets) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = platform::AnsiToBstr("text");
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(v.vt, VT_EMPTY);
}
