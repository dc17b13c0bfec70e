// Every text that the tool shows, in code page 936. They are defined in ui_texts.cpp, the one
// source that is compiled with code page 936 as its execution character set.
#pragma once

namespace qinglan {

extern const char kMainWindowCaption[];
extern const char kReadButtonText[];
extern const char kInstructionsButtonText[];
extern const char kAddressListHeader[];
extern const char kDownloadMenuText[];
extern const char kCopyMenuText[];

extern const char kInstructionsWindowCaption[];
extern const char kUpperText[];  // the label above the picture
extern const char kLowerText[];  // the label below it

}  // namespace qinglan
