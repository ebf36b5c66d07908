// The dos library's program starts: Execute runs a program and waits for it,
// Run starts it and lets the script go on; the end of a Run program comes
// back through the event loop. Programs linked into the applet run from a
// temporary copy.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/argapi.h"
#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/errors.h"
#include "core/extprogram.h"
#include "core/file.h"
#include "core/filenames.h"
#include "core/linkedfile.h"
#include "core/programs.h"
#include "display/displays.h"
#include "display/eventsources.h"
#include "libs/doscommands.h"
#include "libs/dos.h"

namespace {

constexpr size_t kCopyStep = 16384;

// One Run program; the dispatcher hands its address back when it ends.
struct RunRecord : qbRunningProgram {
    int callbackRef = -1;  // the finish callback (or any value), -1 none
};

std::vector<std::unique_ptr<RunRecord>> runs;

// Splits the command line into the program name and its argument text.
int SplitCommandLine(const std::string& line, std::string* program, std::string* args) {
    if (line.empty()) return ERR_WRONGUSAGE;
    size_t end;
    if (line[0] == '"') {
        end = line.find('"', 1);
        if (end == std::string::npos) return ERR_WRONGUSAGE;
        *program = line.substr(1, end - 1);
        ++end;
    } else {
        end = std::min(line.find(' '), line.size());
        *program = line.substr(0, end);
    }
    while (end < line.size() && line[end] == ' ') ++end;
    *args = line.substr(end);
    return program->empty() ? ERR_WRONGUSAGE : 0;
}

// Writes the linked program's bytes to a new temporary file with the
// chunk's extension, executable by its owner only; one copy per chunk.
int TemporaryCopy(const char* chunk, std::string* path) {
    *path = FindTempFile(chunk);
    if (!path->empty()) return 0;
    qbFilePtr in(FileOpen(chunk, kFileModeRead | kFileModeAdapters, nullptr));
    if (!in) {
        SetErrorDetail(chunk);
        return ERR_READFILE;
    }
    *path = AddTempFile(chunk);
    const std::string native = NativePathOf(path->c_str());
    const int fd = path->empty() ? -1 : open(native.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        SetErrorDetail(path->c_str());
        return ERR_WRITEFILE;
    }
    char block[kCopyStep];
    int err = 0;
    while (size_t got = FileRead(in.get(), block, sizeof block)) {
        for (size_t done = 0; done < got && !err;) {
            const ssize_t n = write(fd, block + done, got - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) err = ERR_WRITE;
            else done += static_cast<size_t>(n);
        }
        if (err) break;
    }
    // A part whose container was cut under the copy is no program to run.
    if (!err && FileReadFailed(in.get())) err = ERR_READ;
    if (fchmod(fd, 0700) != 0 && !err) err = ERR_WRITE;
    if (close(fd) != 0 && !err) err = ERR_WRITE;
    return err;
}

int StartProgram(ScriptState* L, bool wait) {
    const std::string line = VmCheckString(L, 1, nullptr);
    const bool resetInput = VmOptNumber(L, 2, 1) != 0;
    std::string program, args;
    if (int err = SplitCommandLine(line, &program, &args)) return err;
    const std::string resolved = ResolveLinkedFile(L, program.c_str(), 0, nullptr);
    if (IsChunkName(resolved.c_str())) {
        if (int err = TemporaryCopy(resolved.c_str(), &program)) return err;
    }
    int err = 0;
    if (wait) {
        err = ExecuteProgram(program.c_str(), args.c_str(), 0);
    } else {
        auto record = std::make_unique<RunRecord>();
        record->program = program;
        record->args = args;
        if (VmGetTop(L) >= 3 && VmType(L, 3) != kTypeNil) {
            VmPushValue(L, 3);
            record->callbackRef = VmMakeRef(L, kRegistryIndex);
        }
        RunRecord* run = record.get();
        runs.push_back(std::move(record));
        // A program that cannot start fails Run as it fails Execute: no end
        // would ever be reported for it. A thread that cannot start leaves
        // the script going, as ever.
        const int started = StartExternalProgramThread(run);
        if (started != 0) RemoveRunningProgram(L, run);
        if (started != ERR_THREAD) err = started;
    }
    if (resetInput) {
        if (qbDisplay* d = GetCurrentDisplay()) ResetDisplayInput(d);
    }
    return err;
}

int RunUserData(const qbRunningProgram* run) { return static_cast<const RunRecord*>(run)->callbackRef; }

bool RunsWithCallbacks() {
    return std::any_of(runs.begin(), runs.end(), [](const auto& r) { return r->callbackRef != -1; });
}

}  // namespace

void RemoveRunningProgram(ScriptState* L, qbRunningProgram* run) {
    auto it = std::find_if(runs.begin(), runs.end(), [run](const auto& r) { return r.get() == run; });
    if (it == runs.end()) return;
    std::unique_ptr<RunRecord> record = std::move(*it);
    runs.erase(it);
    // Stopping the watcher does not stop the program: it runs on by itself.
    if (record->thread) StopThread(record->thread);
    if (record->callbackRef != -1 && L && VmCheckStack(L, 2)) VmReleaseRef(L, kRegistryIndex, record->callbackRef);
}

void FreeRunningPrograms(ScriptState* L) {
    while (!runs.empty()) RemoveRunningProgram(L, runs.back().get());
}

void InstallRunHooks() {
    qbEventSourceHooks hooks = GetEventSourceHooks();
    hooks.runUserData = RunUserData;
    hooks.freeRun = RemoveRunningProgram;
    hooks.runsWithCallbacks = RunsWithCallbacks;
    SetEventSourceHooks(hooks);
}

int cmdExecute(ScriptState* L) {
    CheckArgCount(L, 1, 2, 0, 0);
    return StartProgram(L, true);
}

int cmdRun(ScriptState* L) {
    CheckArgCount(L, 1, 3, 0, 0);
    return StartProgram(L, false);
}
