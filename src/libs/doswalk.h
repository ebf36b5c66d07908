// What CopyFile and DeleteFile share as they walk a tree: the script's
// callback with its user value, the pattern list, and the answers that steer
// the walk.
#pragma once

#include <string>

#include "core/argapi.h"
#include "core/settings.h"
#include "libs/wildcard.h"

namespace doswalk {

// What the walk does next: go on, skip the current file, or stop the whole
// command (an abort is no error).
enum class Answer { Go, Skip, Abort };

inline bool IsSeparatorChar(char c) { return c == '/' || c == '\\'; }

inline std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty() || IsSeparatorChar(folder.back())) return folder + name;
    return folder + "/" + name;
}

struct Walk {
    ScriptState* L;
    int callback = 0;  // stack index, 0 for none
    int userValue = 0;
    std::string patterns;
    bool filterDirs = true;
    int error = 0;  // a failing callback's error

    bool HasCallback() const { return callback != 0; }

    // Calls the callback with the message table on top; its result as a
    // number, or false with error set when the call failed.
    bool Call(double* result) {
        if (userValue) {
            VmPushValue(L, userValue);
            SetTableAtKey("userdata");
        }
        VmPushValue(L, callback);
        VmInsert(L, -2);
        int err = 0;
        {
            const qbCallbackScope running;
            err = VmPCall(L, 1, 1, 0);
        }
        if (err) {
            error = err;
            return false;
        }
        *result = VmToNumber(L, -1);
        VmSetTop(L, -2);
        return !VmGetEndFlag(L);
    }
    void SetTableAtKey(const char* key) {
        VmPushString(L, key);
        VmInsert(L, -2);
        VmSetTableAt(L, -3);
    }
    // Asks with one of the question actions: -1 aborts, 0 skips.
    Answer Ask(double* result) {
        if (!Call(result)) return Answer::Abort;
        if (*result == -1) return Answer::Abort;
        return *result == 0 ? Answer::Skip : Answer::Go;
    }
    bool Matches(const std::string& name) const { return patterns.empty() || MatchPatternList(patterns, name); }
    bool Enters(const std::string& name) const { return patterns.empty() || !filterDirs || Matches(name); }
};

// The optional arguments shared by both commands from index first on:
// callback, user value, pattern list, filter directories.
inline void ReadOptions(ScriptState* L, int first, Walk& w) {
    const int top = VmGetTop(L);
    if (top >= first && VmType(L, first) != kTypeNil) {
        VmCheckFunction(L, first);
        w.callback = first;
    }
    if (top >= first + 1) w.userValue = first + 1;
    if (top >= first + 2 && VmType(L, first + 2) != kTypeNil) w.patterns = VmCheckString(L, first + 2, nullptr);
    w.filterDirs = VmOptNumber(L, first + 3, 1) != 0;
}

}  // namespace doswalk
