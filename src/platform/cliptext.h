// Clipboard text as the desktop keeps it and as the player reads it: the
// rules every backend shares.
#pragma once

#include <cstdint>
#include <string>

// ISO 8859-1 text as UTF-8. Every ISO 8859-1 character has a UTF-8 form, so
// nothing is lost or cut short.
std::string ClipboardTextToUTF8(const std::string& latin1);
// UTF-8 text as ISO 8859-1 ("?" for characters beyond it), then with every
// carriage return made a line feed, the player's line end.
std::string ClipboardTextFromUTF8(const char* utf8);
// Line ends of text read back from a clipboard that keeps ISO 8859-1 as is.
std::string ClipboardLineEnds(std::string text);
// A fingerprint of what a clipboard holds, to tell a change from a repeat.
uint64_t ClipboardHash(int type, const std::string& text);
