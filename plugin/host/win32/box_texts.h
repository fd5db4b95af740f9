// Box texts in the user's language. The plug-in's code names a few box captions and
// messages in English; a German client shows them in German, like every text of the
// plug-in's string table (whose ids 104 to 112 hold them in both languages).
#pragma once

#include <string>

namespace kestrelon {

// `text` in the language of the plug-in's resources: a caption or whole message of the
// string table, or one of the two composed start-up messages, translated part by part;
// any other text as it is.
std::string LocalizedBoxText(const std::string& text);

}  // namespace kestrelon
