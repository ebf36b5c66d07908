// Library plugins and saver formats: what a loaded plugin registers with the
// VM, and the plugin-list export that lists it.
#include "plugins/pluginlibrary.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/chars.h"
#include "core/errors.h"
#include "core/pluginadapters.h"
#include "core/replacefile.h"
#include "core/settings.h"
#include "plugins/animsavers.h"
#include "plugins/imagesavers.h"
#include "vm/vm.h"

// The plugin's rows are read as the VM's own.
static_assert(sizeof(ScriptCommand) == 16 && offsetof(ScriptCommand, handler) == 8);
static_assert(sizeof(ScriptConstant) == 24 && offsetof(ScriptConstant, num) == 16);

namespace {

// A register function that never ends its list would be called forever.
constexpr size_t kMaxSaverFormats = 4096;

struct SaverKind {
    uint32_t capability;
    const char* prefix;
    uint64_t endBit;
    void (*qbPluginRecord::*registerFn)(qbSaverFormat*);
    qbSaverFormat* qbPluginRecord::*formats;
};

const SaverKind kSaverKinds[] = {
    {PLUGINCAPS_SAVEIMAGE, "imgfmt_", QBSAVER_IMAGE_END, &qbPluginRecord::RegisterImageSaver,
     &qbPluginRecord::imageSaverFormats},
    {PLUGINCAPS_SAVEANIM, "anmfmt_", QBSAVER_ANIM_END, &qbPluginRecord::RegisterAnimSaver,
     &qbPluginRecord::animSaverFormats},
    {PLUGINCAPS_SAVESAMPLE, "smpfmt_", QBSAVER_SAMPLE_END, &qbPluginRecord::RegisterSampleSaver,
     &qbPluginRecord::sampleSaverFormats},
};

uint64_t LibraryExtensions(const qbPluginHandle& h) {
    return h.record.extensions[FindLowestSetBit(PLUGINCAPS_LIBRARY)];
}

int LibraryCount(const qbPluginHandle& h) {
    if ((LibraryExtensions(h) & QBPLUGIN_EXT_LIBRARYCOUNT) && h.record.GetLibraryCount)
        return h.record.GetLibraryCount();
    return 1;
}

// One library index's tables, as GetBaseTable, GetCommands and GetConstants
// give them.
struct LibraryTables {
    const char* base = nullptr;
    const ScriptCommand* commands = nullptr;
    const ScriptConstant* constants = nullptr;
};

LibraryTables SelectLibrary(const qbPluginHandle& h, int index) {
    const qbPluginRecord& r = h.record;
    if ((LibraryExtensions(h) & QBPLUGIN_EXT_LIBRARYCOUNT) && r.SetCurrentLibrary) r.SetCurrentLibrary(index);
    LibraryTables t;
    if (r.GetBaseTable) t.base = r.GetBaseTable();
    if (r.GetCommands) t.commands = r.GetCommands();
    if (r.GetConstants) t.constants = r.GetConstants();
    return t;
}

int RegisterLibraryCommands(ScriptState* L, const LibraryTables& t, bool withConstants) {
    const int top = VmGetTop(L);
    int made = 0;
    if (t.base) {
        made = VmRegisterCommands(L, t.base, t.commands, 0);
    } else {
        VmPushValue(L, kGlobalsIndex);
        made = VmRegisterCommands(L, nullptr, t.commands, 0);
    }
    // A table without any handler registers nothing and leaves the globals.
    VmSetTop(L, top);
    if (!made) return 0;
    return RegisterCommandTable(t.commands, t.base ? t.base : "plugin", withConstants ? t.constants : nullptr);
}

// The register function's formats; the counting pass tells how many the
// storing pass may keep. ERR_LOADPLUGIN for a list without an end.
int CountSaverFormats(const qbPluginRecord& r, const SaverKind& kind, size_t* count) {
    for (size_t n = 1; n <= kMaxSaverFormats; ++n) {
        qbSaverFormat format{};
        (r.*kind.registerFn)(&format);
        if (format.flags & kind.endBit) {
            *count = n;
            return 0;
        }
    }
    return ERR_LOADPLUGIN;
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

int RegisterSaverKind(ScriptState* L, qbPluginNode& node, const SaverKind& kind) {
    qbPluginRecord& r = node.handle->record;
    if (!(node.capabilities & kind.capability) || !(r.*kind.registerFn) || r.*kind.formats) return 0;
    size_t count = 0;
    if (CountSaverFormats(r, kind, &count)) {
        SetErrorDetail(FilePartEx(node.path.c_str()));
        return ERR_LOADPLUGIN;
    }
    // Zero-filled beyond the formats: a null name ends the array.
    std::unique_ptr<qbSaverFormat, FreeDeleter> formats(
        static_cast<qbSaverFormat*>(std::calloc(count + 2, sizeof(qbSaverFormat))));
    if (!formats) return ERR_MEM;
    std::vector<std::string> names;
    std::vector<ScriptConstant> constants;
    try {
        names.reserve(count);
        size_t stored = 0;
        // Never more than the counting pass saw: the array has room for no more.
        for (size_t call = 0; call < count; ++call) {
            qbSaverFormat format{};
            (r.*kind.registerFn)(&format);
            if (format.name) {
                formats.get()[stored++] = format;
                names.push_back(std::string(kind.prefix) + format.name);
            }
            if (format.flags & kind.endBit) break;
        }
        // The id is an unsigned 32-bit number to scripts.
        for (size_t i = 0; i < stored; ++i) {
            const auto id = static_cast<uint32_t>(formats.get()[i].id);
            constants.push_back({names[i].c_str(), nullptr, static_cast<double>(id)});
        }
        constants.push_back({nullptr, nullptr, 0.0});
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    if (L) VmRegisterConstants(L, constants.data(), 0);
    r.*kind.formats = formats.release();
    return 0;
}

void WriteLine(std::FILE* f, const char* text) {
    std::fputs(text ? text : "", f);
    std::fputc('\n', f);
}

void ExportLibraries(std::FILE* f, const qbPluginHandle& h) {
    const int count = LibraryCount(h);
    if (count < 1) return;
    std::vector<LibraryTables> tables;
    for (int i = 0; i < count; ++i) tables.push_back(SelectLibrary(h, i));
    WriteLine(f, "::commands");
    for (const LibraryTables& t : tables)
        for (const ScriptCommand* c = t.commands; c && c->name; ++c) {
            if (t.base) std::fprintf(f, "%s.", t.base);
            WriteLine(f, c->name);
        }
    WriteLine(f, "::constants");
    for (const LibraryTables& t : tables)
        for (const ScriptConstant* c = t.constants; c && c->name; ++c) WriteLine(f, c->name);
}

}  // namespace

int InitLibraryPlugin(ScriptState* L, qbPluginNode* node, int registerConstants, int initialise) {
    if (!L || !node || !node->handle || !(node->capabilities & PLUGINCAPS_LIBRARY)) return 0;
    qbPluginHandle& h = *node->handle;
    // A plugin that expects marshalled calls has nothing callable here.
    if (!AdapterCallable(&h.view)) return 0;
    const int count = LibraryCount(h);
    if (count < 1 && !initialise) return 0;
    for (int i = 0; i < count; ++i) {
        const LibraryTables t = SelectLibrary(h, i);
        if (initialise && t.commands) {
            if (int err = RegisterLibraryCommands(L, t, registerConstants != 0)) return err;
        }
        if (registerConstants && t.constants) VmRegisterConstants(L, t.constants, 0);
    }
    if (!initialise) return 0;
    const int top = VmGetTop(L);
    const int result = h.record.InitLibrary ? h.record.InitLibrary(L) : 0;
    VmSetTop(L, top);
    h.record.libraryInitialised = 1;
    return result;
}

int RegisterPluginFormats(ScriptState* L, qbPluginNode* node) {
    if (!node || !node->handle || node->formatsRegistered) return 0;
    node->formatsRegistered = true;
    const qbPluginHandle& h = *node->handle;
    if ((node->capabilities & PLUGINCAPS_LIBRARY) && !(LibraryExtensions(h) & QBPLUGIN_EXT_DEFERLIBRARY)) {
        if (int err = InitLibraryPlugin(L, node, 1, 1)) return err;
    }
    if (!AdapterCallable(&h.view)) return 0;
    for (const SaverKind& kind : kSaverKinds)
        if (int err = RegisterSaverKind(L, *node, kind)) return err;
    // The writers find the savers only through the hook, which this layer
    // owns; installing it again is harmless.
    if (node->capabilities & PLUGINCAPS_SAVEIMAGE) InstallPluginImageSavers();
    if (node->capabilities & PLUGINCAPS_SAVEANIM) InstallPluginAnimSavers();
    return 0;
}

bool FindSaverFormat(uint32_t capability, uint64_t id, qbSaverMatch* out) {
    const SaverKind* kind = nullptr;
    for (const SaverKind& k : kSaverKinds)
        if (k.capability == capability) kind = &k;
    if (!kind) return false;
    for (const auto& node : GetPluginNodes()) {
        if (!node->handle || !(node->capabilities & capability)) continue;
        qbPluginRecord& r = node->handle->record;
        for (const qbSaverFormat* f = r.*kind->formats; f && f->name; ++f) {
            if (f->id != id) continue;
            if (out) *out = {&r, f};
            return true;
        }
    }
    return false;
}

qbSaveSampleFunc FindSampleSaverPlugin(uint64_t id) {
    qbSaverMatch match;
    if (!FindSaverFormat(PLUGINCAPS_SAVESAMPLE, id, &match)) return nullptr;
    const qbPluginNode* node = FindPluginNodeByInfo(match.plugin);
    if (!node || !node->handle || !AdapterCallable(&node->handle->view)) return nullptr;
    return reinterpret_cast<qbSaveSampleFunc>(match.plugin->SaveSample);
}

void FreeSaverFormats(qbPluginRecord* record) {
    if (!record) return;
    for (const SaverKind& kind : kSaverKinds) {
        std::free(record->*kind.formats);
        record->*kind.formats = nullptr;
    }
}

int ExportPluginList(const char* fileName) {
    // The list is made in memory and written whole, as every file a command
    // writes (a failed export leaves the old list).
    char* list = nullptr;
    size_t size = 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(open_memstream(&list, &size), &std::fclose);
    if (!f) return ERR_MEM;
    for (const auto& node : GetPluginNodes()) {
        if (!node->handle) continue;
        const qbPluginHandle& h = *node->handle;
        const qbPluginRecord& r = h.record;
        WriteLine(f.get(), "::plugin");
        std::fprintf(f.get(), "%d.%d\n", static_cast<int>(r.version), static_cast<int>(r.revision));
        std::fprintf(f.get(), "0x%.8x\n", static_cast<unsigned>(r.capabilities));
        for (const char* text : {r.description, r.author, r.copyright, r.url, r.date, r.settings, r.helpText,
                                 r.extraText})
            WriteLine(f.get(), text);
        if ((node->capabilities & PLUGINCAPS_LIBRARY) && AdapterCallable(&h.view)) ExportLibraries(f.get(), h);
    }
    WriteLine(f.get(), "::end");
    const bool made = std::fclose(f.release()) == 0;
    std::unique_ptr<char, void (*)(void*)> owner(list, &std::free);
    if (!made) return ERR_MEM;
    qbReplaceFile out;
    if (int err = BeginReplaceFile(fileName ? fileName : "", qbReplaceOptions{}, &out)) return err;
    if (FileWrite(out.file.get(), list, size) != size) return ERR_WRITE;
    return CommitReplaceFile(&out);
}
