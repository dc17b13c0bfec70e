// What the tool hands to the desktop: addresses to the shell's "open" action, text to the
// clipboard.
#pragma once

#include <windows.h>

#include "lookup/text.h"

namespace qinglan {

// True for web addresses: http://, https:// and ftp:// in any letter case.
bool is_web_address(const Text& address);

// True for what the tool hands to the shell's open action: web addresses, and the empty text of
// an empty row, which starts nothing. Captions come from a web page, and the open action also
// starts programs, so anything else (a path, a file: address, a share) is never handed to it.
bool may_hand_to_shell(const Text& address);

// Hands an address to the shell's open action, which opens it with the program registered for
// it, as a rule the browser; an address that may not be handed to it is silently not opened.
void open_in_shell(const Text& address);

// Replaces the clipboard's contents by one CF_TEXT block holding the text's code-page-936
// bytes. Does nothing when another program holds the clipboard.
void copy_text_to_clipboard(HWND owner, const Text& text);

}  // namespace qinglan
