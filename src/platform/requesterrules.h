// The rules every native requester keeps, whatever draws it: which buttons a
// button text makes and what each returns, what a string field accepts, which
// files a pattern shows, and how answers become the result records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform_types.h"

constexpr int kMaxRequesterButtons = 32;
// The caller's string buffer, its NUL included.
constexpr size_t kStringResultSize = 1024;

// Icon types of the system requester.
enum : int { kReqIconNone = 0, kReqIconInformation = 1, kReqIconError = 2, kReqIconWarning = 3, kReqIconQuestion = 4 };
// Input types of the string requester; only NUMERICAL is filtered.
enum : int { kStringNumerical = 3 };

// The buttons of a system requester, left to right (ISO 8859-1 labels), the
// result each one returns, and which one Return and Escape press (-1: none).
// Every set returns 0 from its last button, so a box closed without a
// button answers 0 too.
struct qbRequesterButtons {
    std::vector<std::string> labels;
    std::vector<int> results;
    int defaultButton = -1;
    int cancelButton = -1;
};

// The standard sets ("OK", "OK|Cancel", "Yes|No", "Yes|No|Cancel", any case;
// no text is "OK") get the message table's labels; any other text is split
// at "|" into custom buttons. 0, or ERR_WINDOW for more than 32 buttons.
int ParseButtonSet(const char* buttons, qbRequesterButtons* out);

// An optional "-", then digits with at most one "."; "-", "." and "-." count
// so that typing can begin; an empty text does not.
bool IsValidNumberText(std::string_view text);
// What a field of the type may hold: not longer than maxLength (0: any) and,
// when NUMERICAL, a valid number.
bool StringFieldAccepts(std::string_view text, int type, int maxLength);
// The text a field starts with: a NUMERICAL field's default only when it is
// a valid number, else "0"; then cut to maxLength.
std::string StringFieldDefault(const char* text, int type, int maxLength);
// Typed or pasted characters join the text one by one up to the first that
// the field refuses; the rest of the burst is dropped with it.
std::string TypeIntoStringField(std::string text, std::string_view typed, int type, int maxLength);
// Copies at most 1023 bytes and the NUL into the caller's 1024-byte buffer.
void CopyStringResult(std::string_view text, char* out);

// The suffixes a file pattern lets through ("png|.jpg" -> ".png", ".jpg");
// empty for a pattern that shows every file (none, "", "*" or "#?").
std::vector<std::string> FilePatternSuffixes(const char* pattern);
// Folders always show; a file when its name ends with a suffix, ignoring case.
bool FilePatternShows(const std::vector<std::string>& suffixes, std::string_view name, bool folder);
// The result record of the chosen full paths: no path is a cancel (chosen 0);
// else the folder of the first path with its "/", every file part ended by a
// NUL, and the count. A save names one path; it comes out the same way, so
// that folder plus name is always the path.
void FillFileResult(const std::vector<std::string>& paths, qbFileRequestResult* out);

// The initial font: an empty or missing name means Helvetica at 12.
void FontRequestDefaults(const char* name, int size, std::string* outName, int* outSize);
// A chosen font, upright at normal weight; the name is cut to the record.
void FillFontRecord(std::string_view name, int size, qbFontRequest* out);

// 0xRRGGBB from 8-bit components.
int32_t ColourFromRGB(int red, int green, int blue);

// Whether native requesters can be shown with the given SDL video driver
// (null: no display server reachable): never with the dummy or offscreen
// driver, which have no screen for anyone to answer on.
bool RequesterDriverUsable(const char* videoDriver);
