// The spine of the player: the start-up steps in their fixed order, the run of
// the main chunk, and the shutdown that frees everything in its fixed order.
#include "player/startup.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <variant>
#include <vector>

#include "core/applet.h"
#include "core/appletload.h"
#include "core/catalog.h"
#include "core/chars.h"
#include "core/context.h"
#include "core/descriptorlimit.h"
#include "core/errors.h"
#include "core/eventqueue.h"
#include "core/file.h"
#include "core/fileops.h"
#include "core/linkeddata.h"
#include "core/runstate.h"
#include "core/settings.h"
#include "core/signalcleanup.h"
#include "core/timers.h"
#include "core/vmhost.h"
#include "display/adapter.h"
#include "display/bgpics.h"
#include "display/bitmapres.h"
#include "display/displays.h"
#include "display/eventlib.h"
#include "display/events.h"
#include "display/icons.h"
#include "display/requesters.h"
#include "draw/draw.h"
#include "imaging/codechooks.h"
#include "imaging/imageops.h"
#include "libs/dos.h"
#include "libs/errorhandler.h"
#include "libs/memblock.h"
#include "libs/network.h"
#include "libs/system.h"
#include "media/anims.h"
#include "media/video.h"
#include "objects/brushes.h"
#include "objects/layers.h"
#include "objects/sprites.h"
#include "platform/platform.h"
#include "player/appletadvice.h"
#include "player/cmdline.h"
#include "player/requiretags.h"
#include "plugins/plugins.h"
#include "sound/sound.h"
#include "text/print.h"
#include "text/text.h"
#include "vector/vectorlib.h"

namespace {

constexpr double kPluginProgressShare = 20.0;


// Fills the applet's header strings early so that the progress display can
// show them while plugins are scanned.
int PreReadHeaderAndCountPlugins(qbCommandLine* cl, qbApplet* applet, int compressed) {
    if (int err = PreReadAppletHeader(cl->scriptPath, compressed, applet)) return err;
    int count = 0;
    if (int err = ScanPlugins(cl->executablePath, &cl->skipPlugins, &count)) return err;
    StartupProgress.step = count > 0 ? kPluginProgressShare / count : 0.0;
    return 0;
}

bool ScreenModeOptionsChanged(const qbScreenModeOptions& o) {
    return o.mode != 0 || o.scrWidth != -1 || o.scrHeight != -1 || o.scrDepth != -1 || o.desktop != -1 ||
           o.backfill.type != -1 || o.titleBar != 0;
}

int LoadMainChunk(ScriptState* L, qbApplet* applet) {
    PrintMessage(GetMessageText(MSG_COMPILING), nullptr, 1);
    SetRuntimeTag(kTagFileAndLine, 1);
    int err = VmLoadBuffer(L, reinterpret_cast<const char*>(applet->scriptBody.data()), applet->scriptBody.size(),
                           nullptr);
    SetRuntimeTag(kTagFileAndLine, 0);
    if (err) PrintFailedMessage();
    return err;
}

// Requires the plugins that the command line and the applet name; the only
// time at which plugins may install adapters.
int RequireStartupPlugins(ScriptState* L, qbCommandLine* cl, qbApplet* applet, bool& display1, int& hideDisplays) {
    SetAdapterWindowOpen(true);
    int err = 0;
    for (const std::string& name : cl->requirePlugins) {
        std::vector<qbRequireTag> tags;
        if ((err = ParseRequireTags(cl->requireTags.c_str(), name.c_str(), tags)) != 0) break;
        if ((err = RequirePluginWithTags(L, name.c_str(), 0, 0, tags, &hideDisplays)) != 0) break;
    }
    for (const qbPreprocessorEntry& e : applet->preprocessorList) {
        if (err) break;
        if (e.type == kDeclDisplay && e.id == 1) display1 = true;
        if (e.type != kDeclPlugin) continue;
        const auto* tags = std::get_if<qbPluginTagList>(&e.record);
        err = RequirePluginWithTags(L, e.name.c_str(), e.valueA, e.valueB, tags ? *tags : qbPluginTagList{},
                                    &hideDisplays);
    }
    SetAdapterWindowOpen(false);
    return err;
}

int CreateObjectsInScriptFolder(ScriptState* L, qbCommandLine* cl, qbApplet* applet, int hideDisplays) {
    SetRuntimeTag(kTagDeclaring, 1);
    SetRuntimeTag(kTagFileAndLine, 1);
    std::error_code ec;
    std::filesystem::path before = std::filesystem::current_path(ec);
    int err = CreateDeclaredObjects(L, cl, applet, hideDisplays);
    // Loaders may change folders; later relative names must see the old one.
    if (!ec) {
        std::error_code now;
        if (std::filesystem::current_path(now) != before) std::filesystem::current_path(before, now);
    }
    return err;
}

// Steps 4 to 21 of start-up; the result goes to Shutdown as the exit code.
int RunStartupSteps(ScriptState* L, qbCommandLine* cl, qbApplet* applet, const qbLinkMarker* marker, int argc,
                    char** argv) {
    if (int err = InitTimerService()) return err;
    if (int err = ParseCommandLine(L, cl, applet, marker, argc, argv)) return err;
    if (LinkedDataOffset != 0) {
        if (int err = ExtractLinkedPlugins(cl->executablePath, LinkedDataOffset)) return err;
    }
    if (!DataIsLinked) {
        int compressed = 0;
        if (int err = CheckAppletFile(cl->scriptPath, &compressed)) return err;
        if (!cl->quiet) {
            if (int err = PreReadHeaderAndCountPlugins(cl, applet, compressed)) return err;
        }
    }
    if (int err = ScanAndRegisterPlugins(L, cl)) return err;
    if (int err = LoadScriptOrApplet(L, cl, applet)) return err;
    if (int err = LoadMainChunk(L, applet)) return err;

    if (ScreenModeOptionsChanged(applet->screenModeOptions)) {
        if (int err = ApplyScreenModeOptions(applet)) return err;
    }
    InstallLineHookPump(L);
    PrintDoneMessage();
    if (int err = AdvanceStartupProgress()) return err;

    if (cl->appletFlag) PrintMessage(GetMessageText(MSG_LOADINGAPPLET), FilePartEx(cl->scriptPath), 1);
    if (int err = LoadIconImages(!cl->quiet)) return err;
    bool display1 = false;
    int hideDisplays = 0;
    if (int err = RequireStartupPlugins(L, cl, applet, display1, hideDisplays)) return err;

    if (int err = InitDefaultFont()) return err;
    if (!display1) {
        if (int err = AddDefaultDisplayEntry(applet, nullptr)) return err;
    }
    if (!cl->displayOverrideLock) {
        if (int err = ApplyDisplayOverrides(applet, cl)) return err;
    }
    if (int err = ShareDeclaredImages(applet)) return err;
    // The declared displays find their monitors through the window system,
    // so it starts first; without one start-up ends here with its reason.
    if (!HasDisplayAdapter()) {
        if (int err = StartNativeUI()) return err;
    }
    if (int err = CreateObjectsInScriptFolder(L, cl, applet, hideDisplays)) return err;

    SetRuntimeTag(kTagDeclaring, 0);
    SetRuntimeTag(kTagFileAndLine, 0);
    SetRuntimeTag(kTagQuiet, cl->quiet);
    FreePreprocessorList(applet->preprocessorList);
    FreeImageCache();
    if (cl->appletFlag) PrintDoneMessage();

    if (int err = StartDisplays(L)) return err;
    SetRuntimeTag(kTagFileAndLine, 1);
    return RunMainChunkWithTimerThread(L);
}

void FreeLibraries(ScriptState* L) {
    StopAllVideos(L);
    StopAllAudio();
    FreeAllDisplays(L);
    FreeAllNetworkObjects(L);
    FreeBitmapResources(L);
    FreeDrawLibrary(L);
    FreeAllBrushes(L);
    FreeAllBGPics(L);
    FreeAllVideos(L);
    FreeVectorLibrary(L);
    FreeAllSprites(L);
    FreeSystemObjects(L);
    FreeTextLibrary(L);
    FreeAllAnims(L);
    FreeLayersLibrary(L);
    FreeDosObjects(L);
    FreeAllMemblocks(L);
    FreeEventSystem(L);
    FreeSoundObjects(L);
}

void ShowExitError(int exitCode, ScriptState* L, qbCommandLine* cl) {
    char local[kErrorTextSize];
    char* text = cl ? cl->errorText : local;
    const char* file = nullptr;
    int line = 0;
    GetErrorInfo(L, exitCode, text, &file, &line);
    if (cl) {
        const std::string advice = AppletPathAdvice(exitCode, cl->scriptPath, GetErrorDetail());
        if (!advice.empty()) std::snprintf(text + std::strlen(text), kErrorTextSize - std::strlen(text), "\n%s",
                                           advice.c_str());
    }
    if (cl && cl->debugDevice) {
        if (file) {
            ConsolePrintf("%s:%d: %s\n", file, line, text);
        } else {
            const char* error = GetMessageText(MSG_ERROR);
            ConsolePrintf("%s: %s\n", error ? error : "Error", text);
        }
    } else {
        ShowErrorRequester(L, text, 0, 0);
    }
}

}  // namespace

int Shutdown(int exitCode, ScriptState* L, qbCommandLine* cl, qbApplet* applet) {
    SetShuttingDown(true);
    FreeIconPaths();
    SetRuntimeTag(kTagDeclaring, 0);
    SetRuntimeTag(kTagQuiet, cl ? cl->quiet : 0);

    if (L) FreeLibraries(L);
    if (cl) {
        cl->unknownOptions.clear();
        cl->arguments.clear();
        cl->requirePlugins.clear();
        cl->skipPlugins.clear();
        cl->requireTags.clear();
    }
    if (exitCode >= 1 && exitCode != ERR_USERABORT) ShowExitError(exitCode, L, cl);
    FreeRuntimeLists(L);

    if (applet) {
        applet->scriptBody = {};
        applet->scriptSize = 0;
        FreePreprocessorList(applet->preprocessorList);
        applet->includeTable = {};
        applet->linkedFiles = {};
    }
    if (L) FreeLibraryPlugins(L);
    if (L) VmClose(L);
    if (GetMainState() == L) SetMainState(nullptr);
    // The adapter is a plugin's record, which goes with the plugin list.
    ClearDisplayAdapters();
    FreePluginList();
    RemoveExtractedPlugins();

    DeleteTemporaryFiles();
    FreeImageOpsBuffers();

    FreeCatalog(GetPlayerCatalog());
    SetPlayerCatalog(nullptr);
    ShutdownAudioCore();
    FreeTimerService();
    ShutdownPlatform();
    // The platform's and the audio core's threads post events until they
    // have stopped; the queue's mutex must outlive every one of them.
    FreeEventQueueMutex();
    return 0;
}

int PlayerMain(int argc, char** argv) {
    InstallSignalCleanup();
    RaiseDescriptorLimit();
    qbLinkMarker marker;
    BuildLinkMarker(&marker);

    std::unique_ptr<qbCommandLine> cl;
    std::unique_ptr<qbApplet> applet;
    try {
        cl = std::make_unique<qbCommandLine>();
        applet = std::make_unique<qbApplet>();
    } catch (const std::bad_alloc&) {
        std::fputs("Not enough memory.\n", stderr);
        return 1;
    }
    applet->versionMajor = 6;
    applet->versionMinor = 1;

    InstallVmHost(OfferToErrorHandler, cmdGetLastError);
    InstallErrorRequester();
    InstallImageCodecHooks();
    SetPrintValueConverter(ValueToString);
    ScriptState* L = VmOpen();
    if (!L) {
        std::fputs("Not enough memory.\n", stderr);
        return 1;
    }
    SetMainState(L);
    SetMainChunkRunner(RunMainChunkThroughAdapter);

    int code = RunStartupSteps(L, cl.get(), applet.get(), &marker, argc, argv);
    Shutdown(code, L, cl.get(), applet.get());
    // A negative code ended start-up after saying why (no applet was given).
    return code < 0 || (code >= 1 && code != ERR_USERABORT) ? 1 : 0;
}
