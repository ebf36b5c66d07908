// Backend operations, listed for platform_ops.h.
#pragma once

#include "platform/platform_types.h"

// The modal requesters; each returns when the user has answered. Texts are
// ISO 8859-1. Cancelling gives colour -1, index -1, an empty string with
// ERR_USERABORT, no path, or a file result with chosen 0. The error box
// shows the error that ends the player where a desktop can show it; its
// caller has written it to standard error already.
// X(result, name, (parameters), (arguments))
#define QB_PLATFORM_REQUESTER_OPS(X) \
    X(int, ColorRequesterNative, (int32_t initial, int32_t* outColour), (initial, outColour)) \
    X(int, ListRequesterNative, (const char* title, const char* body, const char* items, int selected, int* outIndex), (title, body, items, selected, outIndex)) \
    X(int, StringRequesterNative, (const char* title, const char* body, const char* defaultText, int type, int maxLength, int password, char* outText), (title, body, defaultText, type, maxLength, password, outText)) \
    X(int, SystemRequesterNative, (const char* title, const char* body, const char* buttons, int icon, int* outResult), (title, body, buttons, icon, outResult)) \
    X(int, FontRequesterNative, (ScriptState* L, const char* initialName, int initialSize, qbFontRequest* outFont), (L, initialName, initialSize, outFont)) \
    X(int, PathRequesterNative, (const char* title, const char* initialFolder, std::optional<std::string>* outPath), (title, initialFolder, outPath)) \
    X(int, FileRequesterNative, (const char* title, const char* pattern, int mode, const char* initialFolder, const char* initialFile, qbFileRequestResult* outResult), (title, pattern, mode, initialFolder, initialFile, outResult)) \
    X(void, ShowErrorBoxNative, (const char* text), (text))
