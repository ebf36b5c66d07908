// Whole files at once, the line iterator over a file, assets and the
// environment.
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/replacefile.h"
#include "libs/doscommands.h"
#include "libs/dos.h"

namespace {

constexpr size_t kWholeFileStep = 16384;
constexpr int kLinePiece = 1024;  // characters a FileLines call takes at most
constexpr char kLinesMetatable[] = "QBFILELINES";

// The iterator's userdata; the handle is cleared once closed.
struct LinesState {
    qbFile* file;
};

qbFile* OpenForReading(const char* name) { return FileOpen(name, kFileModeRead | kFileModeAdapters, nullptr); }

// Closes the file of an iterator that was dropped before the end.
int CollectLines(ScriptState* L) {
    if (auto* state = static_cast<LinesState*>(VmCheckNamedUserdata(L, 1, kLinesMetatable))) {
        FileClose(state->file);
        state->file = nullptr;
    }
    return 0;
}

int NextLine(ScriptState* L) {
    auto* state = static_cast<LinesState*>(VmToUserdata(L, VmUpvalueIndex(1)));
    if (!state || !state->file) return 0;
    qbFile* file = state->file;
    char line[kLinePiece];
    int stored = 0;
    int taken = 0;
    bool ended = false;
    while (taken < kLinePiece) {
        const int c = FileGetC(file);
        if (c < 0) {
            // A failed read, or a file cut under the loop, is no end: the
            // lines so far were not the file's.
            if (FileReadFailed(file)) return ERR_READ;
            ended = true;
            break;
        }
        ++taken;
        if (c == '\n') break;
        if (c != '\r') line[stored++] = static_cast<char>(c);
    }
    if (ended && taken == 0) {
        FileClose(file);
        state->file = nullptr;
        return 0;
    }
    VmPushLString(L, line, static_cast<size_t>(stored));
    return 1;
}

}  // namespace

int cmdFileToString(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const char* name = VmCheckString(L, 1, nullptr);
    qbFilePtr file(OpenForReading(name));
    if (!file) {
        SetErrorDetail(name);
        return ERR_READFILE;
    }
    std::string text;
    try {
        const int64_t size = GetFileSize(file.get());
        if (size > 0) text.reserve(static_cast<size_t>(size));
        for (;;) {
            const size_t had = text.size();
            text.resize(had + kWholeFileStep);
            const size_t got = FileRead(file.get(), text.data() + had, kWholeFileStep);
            text.resize(had + got);
            if (got < kWholeFileStep) break;
        }
        // A prefix of a file cut under the read, or one whose read failed,
        // is not its contents.
        if (FileReadFailed(file.get())) return ERR_READ;
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    } catch (const std::length_error&) {
        return ERR_MEM;
    }
    VmPushLString(L, text.data(), text.size());
    VmPushNumber(L, static_cast<double>(text.size()));
    return 2;
}

int cmdStringToFile(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    size_t length = 0;
    const char* text = VmCheckString(L, 1, &length);
    const char* name = VmCheckString(L, 2, nullptr);
    qbReplaceOptions options;
    options.adapters = true;
    qbReplaceFile file;
    if (int err = BeginReplaceFile(name, options, &file)) return err;
    if (length && FileWrite(file.file.get(), text, length) != length) return ERR_WRITE;
    return CommitReplaceFile(&file);
}

int cmdFileLines(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const char* name = VmCheckString(L, 1, nullptr);
    // The userdata and its metatable come first, so that nothing can fail
    // while an open handle has no owner.
    auto* state = static_cast<LinesState*>(VmNewUserdata(L, sizeof(LinesState)));
    state->file = nullptr;
    if (VmNewNamedMetatable(L, kLinesMetatable)) {
        VmPushString(L, "__gc");
        VmPushCClosure(L, CollectLines, 0);
        VmRawSet(L, -3);
    }
    VmSetMetatable(L, -2);
    state->file = OpenForReading(name);
    if (!state->file) {
        SetErrorDetail(name);
        return ERR_READFILE;
    }
    VmPushCClosure(L, NextLine, 1);
    return 1;
}

int cmdGetAsset(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    VmCheckString(L, 1, nullptr);
    VmPushValue(L, 1);
    return 1;
}

int cmdGetEnv(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    const char* value = std::getenv(VmCheckString(L, 1, nullptr));
    VmPushString(L, value ? value : "");
    VmPushNumber(L, value ? 1 : 0);
    return 2;
}

int cmdSetEnv(ScriptState* L) {
    CheckArgCount(L, 2, 2, 0, 0);
    const char* name = VmCheckString(L, 1, nullptr);
    const char* value = VmCheckString(L, 2, nullptr);
    return setenv(name, value, 1) == 0 ? 0 : ERR_SETENV;
}

int cmdUnsetEnv(ScriptState* L) {
    CheckArgCount(L, 1, 1, 0, 0);
    unsetenv(VmCheckString(L, 1, nullptr));
    return 0;
}
