// The plug-in's version, shown in its options dialog and in its file properties.
#pragma once

#define KESTRELON_VERSION_NUMBERS 1, 2, 0, 5
#define KESTRELON_VERSION_TEXT "1.2.0.5"
