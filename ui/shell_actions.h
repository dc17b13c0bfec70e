// What the tool hands to the desktop: addresses to the shell's "open" action, text to the
// clipboard.
#pragma once

#include <windows.h>

#include "lookup/text.h"

namespace qinglan {

// True for the addresses the tool lets the shell open: http://, https:// and ftp:// in any letter
// case. Captions come from a web page, and the shell's open action also starts programs, so
// anything else (a path, a file: address, a share) is never handed to it.
bool is_web_address(const Text& address);

// Opens a web address with the program registered for it, as a rule the browser; any other
// address is silently not opened.
void open_web_address(const Text& address);

// Replaces the clipboard's contents by one CF_TEXT block holding the text's code-page-936
// bytes. Does nothing when another program holds the clipboard.
void copy_text_to_clipboard(HWND owner, const Text& text);

}  // namespace qinglan
