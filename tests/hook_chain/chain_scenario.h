// What the tests of the whole chain (starter, hook library, plug-in, stand-in client)
// check of a client whose plug-in the starter's hook attached: the plug-in's commands in
// the client's menus and on its toolbar, and mail judged: the first-run scan, spam taught
// with Delete Spam, and the same spam deleted by itself when it comes again.
#pragma once

#include "client/win32/window_driver.h"
#include "plugin/host/win32/window_test_support.h"

#include <string>
#include <vector>

namespace kestrelon::testing {

// The sample mails "<kind>/NN-*.eml" numbered `first` to `last`, as " FILE FILE...".
std::string SampleFiles(const std::string& kind, int first, int last);

void ExpectPluginAttached(client::WindowDriver& window);
void ExpectMailJudged(client::WindowDriver& window, const std::string& storeFolder);

}  // namespace kestrelon::testing
