#include "client/win32/toolbar_images.h"

#include <algorithm>
#include <cmath>

namespace kestrelon::client {

namespace {

constexpr COLORREF kMagenta = RGB(255, 0, 255);

// Draws in a 24-unit design grid scaled to the icon size.
class Painter {
 public:
  Painter(HDC dc, int left, int size, bool hot) : dc_(dc), left_(left), scale_(size / 24.0), hot_(hot) {}

  int X(double x) const { return left_ + int(std::lround(x * scale_)); }
  int Y(double y) const { return int(std::lround(y * scale_)); }

  // Normal pictures are a little muted; hot ones show the full colour.
  COLORREF Tone(COLORREF c) const {
    if (hot_) return c;
    auto mix = [](int v) { return (v * 3 + 150 * 2) / 5; };
    return RGB(mix(GetRValue(c)), mix(GetGValue(c)), mix(GetBValue(c)));
  }

  void Rect(double l, double t, double r, double b, COLORREF fill, COLORREF line) {
    Select(fill, line);
    Rectangle(dc_, X(l), Y(t), X(r), Y(b));
  }
  void Oval(double l, double t, double r, double b, COLORREF fill, COLORREF line) {
    Select(fill, line);
    Ellipse(dc_, X(l), Y(t), X(r), Y(b));
  }
  void Shape(std::initializer_list<POINT> design, COLORREF fill, COLORREF line) {
    POINT points[16];
    int n = 0;
    for (POINT p : design) points[n++] = {X(p.x), Y(p.y)};
    Select(fill, line);
    Polygon(dc_, points, n);
  }
  void Line(double x1, double y1, double x2, double y2, COLORREF color, double width) {
    HPEN pen = CreatePen(PS_SOLID, std::max(1, int(std::lround(width * scale_))), Tone(color));
    HGDIOBJ old = SelectObject(dc_, pen);
    MoveToEx(dc_, X(x1), Y(y1), nullptr);
    LineTo(dc_, X(x2), Y(y2));
    SelectObject(dc_, old);
    DeleteObject(pen);
  }

  void Envelope(double l, double t, double r, double b) {
    Rect(l, t, r, b, RGB(255, 255, 236), RGB(120, 110, 70));
    Line(l, t, (l + r) / 2, (t + b) / 2 + 1, RGB(120, 110, 70), 1);
    Line(r - 1, t, (l + r) / 2, (t + b) / 2 + 1, RGB(120, 110, 70), 1);
  }

  ~Painter() { Release(); }

 private:
  void Select(COLORREF fill, COLORREF line) {
    Release();
    brush_ = CreateSolidBrush(Tone(fill));
    pen_ = CreatePen(PS_SOLID, 1, Tone(line));
    oldBrush_ = SelectObject(dc_, brush_);
    oldPen_ = SelectObject(dc_, pen_);
  }
  void Release() {
    if (!brush_) return;
    SelectObject(dc_, oldBrush_);
    SelectObject(dc_, oldPen_);
    DeleteObject(brush_);
    DeleteObject(pen_);
    brush_ = nullptr;
  }

  HDC dc_;
  int left_;
  double scale_;
  bool hot_;
  HBRUSH brush_ = nullptr;
  HPEN pen_ = nullptr;
  HGDIOBJ oldBrush_ = nullptr, oldPen_ = nullptr;
};

constexpr COLORREF kArrow = RGB(30, 150, 40);
constexpr COLORREF kArrowLine = RGB(10, 90, 20);

void DrawImage(Painter& p, int image) {
  switch (image) {
    case kImageCreateMail:
      p.Envelope(2, 7, 20, 20);
      p.Shape({{14, 2}, {22, 10}, {19, 13}, {11, 5}}, RGB(250, 200, 40), RGB(150, 100, 0));
      break;
    case kImageReply:
      p.Envelope(7, 9, 23, 21);
      p.Shape({{1, 8}, {8, 2}, {8, 5}, {15, 5}, {15, 11}, {8, 11}, {8, 14}}, kArrow, kArrowLine);
      break;
    case kImageReplyAll:
      p.Envelope(9, 9, 23, 21);
      p.Shape({{0, 8}, {5, 3}, {5, 13}}, kArrow, kArrowLine);
      p.Shape({{4, 8}, {10, 2}, {10, 5}, {16, 5}, {16, 11}, {10, 11}, {10, 14}}, kArrow, kArrowLine);
      break;
    case kImageForward:
      p.Envelope(1, 9, 17, 21);
      p.Shape({{23, 8}, {16, 2}, {16, 5}, {9, 5}, {9, 11}, {16, 11}, {16, 14}}, RGB(40, 90, 200), RGB(20, 40, 120));
      break;
    case kImagePrint:
      p.Rect(6, 2, 18, 10, RGB(255, 255, 255), RGB(90, 90, 90));
      p.Rect(2, 9, 22, 18, RGB(170, 170, 180), RGB(70, 70, 80));
      p.Rect(6, 15, 18, 22, RGB(255, 255, 255), RGB(90, 90, 90));
      p.Rect(17, 11, 20, 13, RGB(60, 200, 60), RGB(30, 120, 30));
      break;
    case kImageDelete:
      p.Line(4, 4, 20, 20, RGB(60, 60, 60), 5);
      p.Line(20, 4, 4, 20, RGB(60, 60, 60), 5);
      p.Line(4, 4, 20, 20, RGB(120, 120, 120), 3);
      p.Line(20, 4, 4, 20, RGB(120, 120, 120), 3);
      break;
    case kImageSendReceive:
      p.Envelope(3, 8, 21, 20);
      p.Shape({{2, 7}, {7, 1}, {12, 7}}, kArrow, kArrowLine);
      p.Shape({{12, 1}, {22, 1}, {17, 7}}, RGB(40, 90, 200), RGB(20, 40, 120));
      break;
    case kImageAddresses:
      p.Rect(4, 2, 20, 22, RGB(200, 60, 50), RGB(110, 20, 20));
      p.Rect(7, 5, 17, 10, RGB(255, 255, 236), RGB(110, 20, 20));
      p.Oval(9, 12, 15, 18, RGB(255, 220, 170), RGB(110, 70, 40));
      break;
    case kImageFind:
      p.Line(14, 14, 21, 21, RGB(90, 60, 30), 4);
      p.Oval(2, 2, 16, 16, RGB(190, 225, 255), RGB(40, 60, 110));
      break;
    default:  // the pictures of commands that are not on the toolbar
      p.Oval(4, 4, 20, 20, RGB(150, 170, 200), RGB(70, 80, 110));
      break;
  }
}

}  // namespace

HIMAGELIST CreateToolbarImages(int size, bool hot) {
  int count = kToolbarButtonCount + (size < 20 && !hot ? kSmallIconExtraImages : 0);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = size * count;
  info.bmiHeader.biHeight = size;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  HBITMAP strip = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, strip);
  RECT all{0, 0, size * count, size};
  HBRUSH background = CreateSolidBrush(kMagenta);
  FillRect(dc, &all, background);
  DeleteObject(background);
  for (int i = 0; i < count; ++i) {
    Painter painter(dc, i * size, size, hot);
    DrawImage(painter, i);
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR24 | ILC_MASK, count, 4);
  ImageList_AddMasked(list, strip, kMagenta);
  DeleteObject(strip);
  return list;
}

}  // namespace kestrelon::client
