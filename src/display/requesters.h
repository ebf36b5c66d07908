// The seven modal requesters as the libraries, the error display and the
// display-mode choice call them. Each goes to the requester adapter when one
// is installed and takes that requester, else to the scripted answers of a
// test run, else to the platform's own; the caller gets the same result from
// all three. Texts are ISO 8859-1; the display (null for none) is the one the
// requester belongs to: its handle goes to the adapter, its window is the
// requester's parent, and it counts as having a requester open meanwhile.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform_types.h"

struct ScriptState;
struct qbDisplay;

// Style bits of the adapter's system requester.
enum : uint32_t {
    kSystemStyleOk = 1,
    kSystemStyleOkCancel = 2,
    kSystemStyleYesNo = 4,
    kSystemStyleYesNoCancel = 8,
    kSystemStyleCustom = 16,
};
// Tags of the adapter's requesters.
enum : uint32_t { kRequestTagOption = 1, kRequestTagSecond = 2, kRequestTagThird = 3, kRequestTagFourth = 4 };

// The button's result (see the button rules: OK 0, the first of a pair 1,
// custom buttons 1 ... n-1 and 0 for the last). icon 0-4.
int ShowSystemRequester(ScriptState* L, qbDisplay* display, const char* title, const char* body, const char* buttons,
                        int icon, int option, int* result);
// mode kReqNormal, kReqMultiSelect or kReqSaveMode. A cancel is chosen 0 and
// no error.
int ShowFileRequester(ScriptState* L, qbDisplay* display, const char* title, const char* pattern, int mode,
                      const char* defaultPath, const char* defaultFile, int option, qbFileRequestResult* result);
// No path when cancelled.
int ShowPathRequester(ScriptState* L, qbDisplay* display, const char* title, int mode, const char* defaultPath,
                      int option, std::optional<std::string>* path);
// out holds 1024 bytes; a cancel leaves it empty and is ERR_USERABORT.
int ShowStringRequester(ScriptState* L, qbDisplay* display, const char* title, const char* body,
                        const char* defaultText, int type, int maxLength, int password, int option, char* out);
// entries: each ended by NUL, the list by an empty one. -1 when cancelled.
int ShowListRequester(ScriptState* L, qbDisplay* display, const char* title, const char* body, const char* entries,
                      int selected, int option, int* result);
// The record is left as it was when cancelled.
int ShowFontRequester(ScriptState* L, qbDisplay* display, const char* title, const char* defaultName,
                      int defaultSize, int option, qbFontRequest* font);
// 0xRRGGBB, or -1 when cancelled.
int ShowColorRequester(ScriptState* L, qbDisplay* display, const char* title, int32_t initial, int option,
                       int32_t* result);

// The adapter's style word of a system requester.
uint32_t SystemRequesterStyle(const char* buttons, int icon);
// Reads an adapter's font answer "name|size|number" and its style word into
// the record: ERR_WRONGUSAGE, the record untouched, without two "|".
int ParseAdapterFontResult(const char* text, uint32_t style, qbFontRequest* font);

// Lets the error that ends the player show in a system requester (core
// reaches it through its error-requester hook).
void InstallErrorRequester();
