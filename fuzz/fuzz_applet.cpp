// Fuzz target of the applet loader: every input is lent to the file layer as
// a memory file and loaded as the applet, compressed inputs through a
// temporary file. Every input must end in a result or an error code.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "core/applet.h"
#include "core/appletload.h"
#include "core/errors.h"
#include "core/fileops.h"
#include "core/iconlist.h"
#include "core/linkeddata.h"
#include "core/memfile.h"
#include "core/settings.h"
#include "display/icons.h"
#include "player/startup.h"
#include "vm/vm.h"
#include "vmnetfuzz.h"

namespace {

using vmnetfuzz::NoteBackfill;
using vmnetfuzz::NoteValues;

// Names of the files read hold the memory file's address or the temporary
// file's random name, which differ from run to run: both are written as
// fixed words.
struct Scrubber {
    std::string applet;
    std::string tempDir;

    std::string operator()(std::string s) const {
        for (size_t at; !applet.empty() && (at = s.find(applet)) != std::string::npos;)
            s.replace(at, applet.size(), "@applet");
        // A message that names the file part alone: the address and size.
        const std::string digits = applet.substr(applet.size() - std::min<size_t>(applet.size(), 32));
        for (size_t at; !digits.empty() && (at = s.find(digits)) != std::string::npos;)
            s.replace(at, digits.size(), "@digits");
        static constexpr char kTemp[] = "quenbrook.";
        for (size_t at = 0; (at = s.find(kTemp, at)) != std::string::npos;) {
            size_t start = at;
            if (const size_t dir = s.rfind(tempDir, at); !tempDir.empty() && dir != std::string::npos) start = dir;
            const size_t end = std::min(s.size(), at + sizeof kTemp - 1 + 6);
            s.replace(start, end - start, "@temp");
            at = start + 5;
        }
        return s;
    }
};

void NoteGradient(const qbGradientOptions& g) {
    NoteValues(g.style, g.startColor, g.endColor, g.angle, g.stops.size());
    for (const qbGradientStop& s : g.stops) {
        FuzzNoteValue(s.color);
        FuzzNoteNumber(s.position);
    }
    for (double v : {g.centerX, g.centerY, g.balance, g.border}) FuzzNoteNumber(v);
}

void NoteRegions(const std::vector<qbRegion>& list) {
    FuzzNoteValue(static_cast<int64_t>(list.size()));
    for (const qbRegion& r : list) NoteValues(r.type, r.x, r.y, r.width, r.height);
}

void NoteMenu(const std::vector<qbMenuItem>& items) {
    FuzzNoteValue(static_cast<int64_t>(items.size()));
    for (const qbMenuItem& m : items) {
        FuzzNoteText(m.name);
        FuzzNoteText(m.id);
        FuzzNoteText(m.hotkey);
        FuzzNoteValue(m.flags);
        NoteMenu(m.submenu);
    }
}

struct RecordNoter {
    void operator()(const std::monostate&) const {}
    void operator()(const qbBGPicRecord& r) const {
        NoteValues(r.fillStyle, r.fillColor);
        NoteGradient(r.gradient);
        NoteValues(r.textureBrush, r.textureX, r.textureY, r.scaleWidth, r.scaleHeight, r.smoothScale);
    }
    void operator()(const qbImageRecord& r) const {
        NoteValues(r.width, r.height, r.x, r.y, r.frames, r.framesPerRow, r.globalAlpha, r.cache, r.cacheAlpha,
                   r.cachedLoad, r.fromDisk, r.hardware, r.skipLoopFrames, r.deinterlace, r.scaleWidth, r.scaleHeight,
                   r.smoothScale, r.display);
    }
    void operator()(const qbButtonRecord& r) const { NoteValues(r.x1, r.y1, r.x2, r.y2); }
    void operator()(const qbDisplayDeclaration& d) const {
        FuzzNoteText(d.title);
        NoteValues(d.bgpic, d.x, d.y, d.width, d.height, d.color, d.flags, d.scaleWidth, d.scaleHeight);
        NoteRegions(d.dragRegions);
        NoteRegions(d.sizeRegions);
        FuzzNoteValue(d.fillStyle);
        NoteGradient(d.gradient);
        NoteValues(d.textureBrush, d.textureX, d.textureY, d.orientation, d.monitor, d.menu, d.mode, d.scrWidth,
                   d.scrHeight, d.scrDepth, d.desktop);
        NoteBackfill(d.backfill);
        FuzzNoteValue(d.hideTitleBar);
        for (const std::string& s : d.extraStrings) FuzzNoteText(s);
    }
    void operator()(const qbPluginTagList& tags) const { vmnetfuzz::NoteRequireTags(tags); }
    void operator()(const qbMenuTree& tree) const { NoteMenu(tree); }
};

// Everything the loader put into the applet record, the timer settings and
// the icon slots.
void NoteApplet(const qbApplet& a, const Scrubber& scrub) {
    FuzzNoteValue(a.scriptSize);
    FuzzNoteValue(static_cast<int64_t>(a.scriptBody.size()));
    FuzzNote(a.scriptBody.data(), a.scriptBody.size());
    for (const char* s : {a.title, a.version, a.copyright, a.author, a.description, a.identifier}) FuzzNoteText(s);
    NoteValues(a.versionMajor, a.versionMinor, a.appletFlag, a.preprocessorList.size());
    for (const qbPreprocessorEntry& e : a.preprocessorList) {
        NoteValues(e.type, e.id, e.flag, e.nameOffset, e.nameSize, e.linkedOffset, e.linkedSize, e.valueA, e.valueB,
                   e.sourceLine, e.quiet, e.record.index());
        FuzzNoteText(e.name);
        std::visit(RecordNoter{}, e.record);
        FuzzNoteText(scrub(e.appletPath));
        FuzzNoteText(e.loader);
        FuzzNoteText(e.adapter);
    }
    FuzzNoteValue(static_cast<int64_t>(a.includeTable.size()));
    for (const qbIncludeEntry& e : a.includeTable) {
        NoteValues(e.firstLine, e.lastLine, e.lineOffset);
        FuzzNoteText(e.fileName);
        FuzzNoteText(scrub(e.sourceChunkName));
    }
    FuzzNoteValue(static_cast<int64_t>(a.linkedFiles.size()));
    for (const qbLinkedFile& f : a.linkedFiles) {
        FuzzNoteText(f.name);
        FuzzNoteText(scrub(f.appletPath));
        NoteValues(f.offset, f.size);
    }
    const qbScreenModeOptions& o = a.screenModeOptions;
    NoteValues(o.mode, o.scrWidth, o.scrHeight, o.scrDepth, o.desktop, o.titleBar);
    NoteBackfill(o.backfill);
    NoteValues(TimerSettings.flags, TimerSettings.value1, TimerSettings.value2, TimerSettings.byte);
    for (const qbIconSlot& slot : GetIconSlots()) {
        FuzzNoteText(scrub(slot.source));
        FuzzNoteValue(slot.option);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // A copy of its own: the file layer only opens registered buffers.
    std::vector<uint8_t> bytes(data, data + size);
    if (RegisterMemoryBuffer(bytes.data(), bytes.size()) != 0) return 0;
    ScriptState* L = VmOpen();
    if (L) {
        SetRuntimeTag(kTagQuiet, 1);
        // The timer section changes only what it reads: each input starts
        // from the defaults.
        TimerSettings = qbTimerSettings{};
        qbApplet applet;
        qbCommandLine cl;
        cl.quiet = 1;
        std::snprintf(cl.scriptPath, sizeof cl.scriptPath, "%s", MakeMemoryName(bytes.data(), bytes.size()).c_str());
        const Scrubber scrub{cl.scriptPath, GetTempDir()};
        VmRegistrySetLightUserdata(L, "applet", &applet);
        VmRegistrySetLightUserdata(L, "clargs", &cl);
        SetErrorDetail("");
        const int err = LoadScriptOrApplet(L, &cl, &applet);
        FuzzNoteValue(err);
        if (err != 0) FuzzNoteText(scrub(GetErrorDetail()));
        FuzzNoteValue(cl.appletFlag);
        NoteApplet(applet, scrub);
        // The labels and constants the applet gave the script machine.
        vmnetfuzz::NoteRegistryField(L, "labels");
        vmnetfuzz::NoteRegistryField(L, "userconstants");
        VmClose(L);
        TimerSettings = qbTimerSettings{};
    }
    UnregisterMemoryBuffer(bytes.data());
    DeleteTemporaryFiles();
    FreeIconPaths();
    LinkedDataOffset = 0;
    return 0;
}
