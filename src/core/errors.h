// Error codes to texts: the message table, the error detail and argument
// index that fill a message's placeholder, user error codes, the composed
// error text of a failed script, and the console output of progress messages.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "core/errcodes.h"

struct ScriptState;

constexpr size_t kErrorTextSize = 1024;
constexpr size_t kErrorDetailSize = 1024;

// Message numbers the runtime prints itself.
enum : int {
    MSG_NOERROR = 0,
    MSG_UNKNOWNCODE = 91,
    MSG_CURRENTLINE = 92,
    MSG_DONE = 95,
    MSG_OPENINGSCRIPT = 97,
    MSG_COMPILING = 106,
    MSG_FAILED = 108,
    MSG_FILE = 194,
    MSG_INFUNCTION = 280,
    MSG_LOADINGAPPLET = 287,
    MSG_ERROR = 402,
    MSG_SELECTAPPLET = 781,
    // Console lines of the loaders and the standard requester buttons.
    MSG_OK = 94,
    MSG_LOADINGANIM = 98,
    MSG_LOADINGBGPIC = 100,
    MSG_LOADINGBRUSH = 101,
    MSG_OPENINGFONT = 147,
    MSG_LOADINGPLUGIN = 148,
    MSG_LOADINGICON = 149,
    MSG_LOADINGSPRITE = 262,
    MSG_OPENINGFILE = 286,
    MSG_CANCEL = 307,
    MSG_YES = 338,
    MSG_NO = 339,
    MSG_LOADINGVIDEO = 604,
    // The help texts of the 50 command-line options follow one another in
    // option-table order, and so do the 8 group headings.
    MSG_OPTIONHELP_FIRST = 520,
    MSG_OPTIONGROUP_FIRST = 570,
};

void SetErrorDetail(const char* text);
const char* GetErrorDetail();
char* GetErrorDetailBuffer();  // the 1024-byte buffer, for direct writers
void SetErrorArgIndex(int index);
int GetErrorArgIndex();

// The default text of a message (catalog translation first), or null.
const char* GetMessageText(int number);
// Whether a translated text has the placeholders of the built-in one, in the
// same order, and no other conversion: only then may it replace it.
bool SamePlaceholders(const char* translated, const char* builtin);
// Message number of a built-in code (-1 for codes without a message row).
int GetErrorMessageNumber(int code);
// Formats the text of `code` into out (at least kErrorTextSize bytes). Returns 0.
int GetErrorText(int code, char* out);
// GetErrorText, then the current script name and line when the file-and-line
// setting is on (else null and 0).
char* GetErrorInfo(ScriptState* L, int code, char* out, const char** file, int* line);
int AddUserErrorCode(const char* text);
void FreeUserErrorList();

// The text that the error requester shows (file, line and function added
// unless raw or the file-and-line setting is off), and showing it.
void FormatErrorRequesterText(ScriptState* L, const char* text, bool raw, char* out, size_t outSize);
void ShowErrorRequester(ScriptState* L, const char* text, int raw, int flags);
// What shows the error requester's text after standard error has it: the
// display layer's system requester once it installs itself, else the
// backend's error box.
using ErrorRequesterHook = void (*)(ScriptState* L, const char* text, int flags);
void SetErrorRequesterHook(ErrorRequesterHook hook);

void PrintMessage(const char* format, const char* file, int ellipsis);
void PrintDoneMessage();
void PrintFailedMessage();
void ConsolePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same over a list of arguments; vprintf's count.
int ConsoleVPrintf(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
// FORCEFLUSH: flush standard output after every ConsolePrintf.
void SetConsoleForceFlush(bool on);
