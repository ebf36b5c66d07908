// Scripted answers for the requesters: when QB_REQUESTER_ANSWERS names a
// file, every requester that no adapter takes answers with the file's next
// line instead of asking anyone, and logs what it was asked to the file's
// name plus ".log". Test runs with and without a display use it; nothing
// ever waits.
//
// Lines are UTF-8 (a CR before the LF is dropped). "cancel" cancels any
// requester; else a system requester reads the 1-based number of the button
// pressed, a list the index from 0, a colour a decimal or "0x" number, a
// string or path the text, a file requester the full path (several,
// TAB-separated, when it takes several), a font "name|size". A line that does
// not fit, no line left or an unreadable file is ERR_WINDOW.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform_types.h"

struct ScriptState;

constexpr const char* kRequesterAnswersVariable = "QB_REQUESTER_ANSWERS";

// Whether the variable names a file (read or not).
bool RequesterScriptActive();
// Forgets the lines read so far; the next requester reads the file again.
void ResetRequesterScript();

// The requesters, in and out as their native forms (ISO 8859-1 texts).
int ScriptedSystemRequester(const char* title, const char* body, const char* buttons, int icon, int* outResult);
int ScriptedFileRequester(const char* title, const char* pattern, int mode, qbFileRequestResult* outResult);
int ScriptedPathRequester(const char* title, std::optional<std::string>* outPath);
int ScriptedStringRequester(const char* title, const char* body, char* outText);
int ScriptedListRequester(const char* title, const char* body, const char* items, int* outIndex);
int ScriptedFontRequester(const char* title, qbFontRequest* outFont);
int ScriptedColorRequester(const char* title, int32_t* outColour);

// A log field: TAB, line feed and backslash written as "\t", "\n", "\\".
std::string EscapeLogField(const std::string& text);
