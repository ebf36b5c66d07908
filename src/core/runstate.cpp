#include "core/runstate.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "core/applet.h"
#include "core/context.h"
#include "core/errors.h"
#include "core/filenames.h"
#include "core/fileops.h"
#include "core/linkeddata.h"
#include "core/signalcleanup.h"
#include "platform/platform.h"

qbStartupProgress StartupProgress;
qbStartupFlags StartupFlags;

namespace {

ScriptState* mainState = nullptr;
bool adapterWindow = false;
bool shuttingDown = false;
std::vector<std::string> temporaryFiles;
MainChunkRunner mainChunkRunner = nullptr;

}  // namespace

int AdvanceStartupProgress() {
    if (DataIsLinked) return 0;
    StartupProgress.progress += StartupProgress.step;
    return CheckUserBreak() ? ERR_USERABORT : 0;
}

int RequireAppletVersion(int major, int minor) {
    const qbApplet* applet = GetAppletRecord(nullptr);
    if (!applet || !applet->appletFlag) return 1;
    if (applet->versionMajor > major || (applet->versionMajor == major && applet->versionMinor >= minor)) return 1;
    char detail[32];
    std::snprintf(detail, sizeof detail, "%d.%d", major, minor);
    SetErrorDetail(detail);
    return 0;
}

void SetMainChunkRunner(MainChunkRunner runner) { mainChunkRunner = runner; }

int RunMainChunk(ScriptState* L) { return mainChunkRunner ? mainChunkRunner(L) : VmPCall(L, 0, 0, 0); }

ScriptState* GetMainState() { return mainState; }

void SetMainState(ScriptState* L) { mainState = L; }

bool IsAdapterWindowOpen() { return adapterWindow; }

void SetAdapterWindowOpen(bool open) { adapterWindow = open; }

bool IsShuttingDown() { return shuttingDown; }

void SetShuttingDown(bool on) { shuttingDown = on; }

int AddTemporaryFile(const char* path) {
    try {
        temporaryFiles.emplace_back(path);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    AddSignalCleanupPath(NativePathOf(path).c_str(), false);
    return 0;
}

void DeleteTemporaryFiles() {
    for (const std::string& name : temporaryFiles) {
        RemoveFile(name.c_str());
        ForgetSignalCleanupPath(NativePathOf(name.c_str()).c_str());
    }
    temporaryFiles.clear();
}
