#include "client/win32/image_digest.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace kestrelon::client {

std::string ImageDigest(HIMAGELIST list, int index) {
  int width = 0, height = 0;
  if (!list || index < 0 || index >= ImageList_GetImageCount(list) || !ImageList_GetIconSize(list, &width, &height))
    return {};
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP canvas = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, canvas);
  RECT all{0, 0, width, height};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  ImageList_Draw(list, index, dc, 0, 0, ILD_NORMAL);
  GdiFlush();
  // FNV-1a over the colour bytes; the fourth byte of a 32-bit pixel carries nothing.
  uint64_t hash = 14695981039346656037ull;
  const auto* pixels = static_cast<const uint8_t*>(bits);
  for (int i = 0; i < width * height; ++i) {
    for (int c = 0; c < 3; ++c) {
      hash ^= pixels[i * 4 + c];
      hash *= 1099511628211ull;
    }
  }
  SelectObject(dc, old);
  DeleteObject(canvas);
  DeleteDC(dc);
  char text[64];
  snprintf(text, sizeof text, "%dx%d:%016llx", width, height, static_cast<unsigned long long>(hash));
  return text;
}

std::string MaskedBitmapDigest(HBITMAP bitmap, int width, int height) {
  HIMAGELIST list = ImageList_Create(width, height, ILC_COLOR24 | ILC_MASK, 1, 1);
  ImageList_AddMasked(list, bitmap, RGB(255, 0, 255));
  std::string digest = ImageDigest(list, 0);
  ImageList_Destroy(list);
  return digest;
}

}  // namespace kestrelon::client
