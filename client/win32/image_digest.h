// A digest of one image of an image list as it appears on a white background, so that a
// test can tell which picture a toolbar shows and that its transparent parts are clear.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

namespace kestrelon::client {

// 16 hex digits of a hash over the drawn pixels, prefixed by the size ("24x24:..."); empty
// for a missing list or index.
std::string ImageDigest(HIMAGELIST list, int index);

// The digest of a bitmap added to a fresh image list the way toolbars take pictures: with
// magenta (0xFF00FF) as the transparent colour.
std::string MaskedBitmapDigest(HBITMAP bitmap, int width, int height);

}  // namespace kestrelon::client
