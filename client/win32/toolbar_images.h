// The stand-in client's toolbar pictures, drawn at run time at the icon size chosen on
// the command line, as a normal and a hot image list (magenta is transparent).
#pragma once

#include <windows.h>
#include <commctrl.h>

namespace kestrelon::client {

// Buttons of the client's main toolbar, in toolbar order; the image index equals the value.
enum ToolbarImage {
  kImageCreateMail, kImageReply, kImageReplyAll, kImageForward, kImagePrint, kImageDelete,
  kImageSendReceive, kImageAddresses, kImageFind,
  kToolbarButtonCount,
};

// With small icons the client's normal list also holds the pictures of five commands that
// are not on the toolbar, which have no hot pictures: its hot list is five images shorter.
constexpr int kSmallIconExtraImages = 5;

// Creates the image list of `size` pixels (16, 22 or 24); hot pictures are brighter.
HIMAGELIST CreateToolbarImages(int size, bool hot);

}  // namespace kestrelon::client
