// The tagged sections of an applet, each read into its record: header
// strings, declarations, the screen settings of older applets, include
// tables, linked files, labels, user constants and the timer settings.
#include "core/appletsections.h"

#include <cstdio>
#include <new>
#include <utility>

#include "core/applet.h"
#include "core/chars.h"
#include "core/errors.h"
#include "vm/vm.h"

namespace {

constexpr size_t kLabelNameSize = 1024;
constexpr size_t kConstantNameSize = 1024;
constexpr size_t kConstantValueSize = 65536;
constexpr uint32_t kLinkedElsewhere = 0xFFFFFFFF;
constexpr uint32_t kLinkedDropped = 0xFFFFFFFE;
constexpr uint8_t kLastAppletMajor = 6;
constexpr uint8_t kLastAppletMinor = 1;

// Smallest bytes per record, to refuse counts the file cannot hold.
constexpr size_t kLabelMinBytes = 5;
constexpr size_t kLinkedFileMinBytes = 5;
constexpr size_t kPlainIncludeMinBytes = 13;
constexpr size_t kNamedIncludeMinBytes = 14;

enum IncludeForm { kIncludePlain, kIncludeNamed, kIncludeComplemented };

int ReadVersion(AppletLoad& s) {
    uint8_t major, minor;
    if (int err = s.in.U8(major)) return err;
    if (int err = s.in.U8(minor)) return err;
    if (major > kLastAppletMajor || (major == kLastAppletMajor && minor > kLastAppletMinor)) {
        char detail[32];
        std::snprintf(detail, sizeof detail, "%d.%d", major, minor);
        SetErrorDetail(detail);
        return ERR_APPLETVERSION;
    }
    s.applet->versionMajor = major;
    s.applet->versionMinor = minor;
    s.version = {major, minor};
    return 0;
}

char* HeaderField(qbApplet* applet, int tag) {
    switch (tag) {
    case 11: return applet->title;
    case 12: return applet->version;
    case 13: return applet->copyright;
    case 14: return applet->author;
    case 15: return applet->description;
    case 34: return applet->identifier;
    default: return nullptr;
    }
}

int ReadHeaderString(AppletLoad& s, int tag) {
    char* field = HeaderField(s.applet, tag);
    if (int err = s.in.CString(field, kHeaderStringSize)) return err;
    // The compiler marks an unset version string with 0xFF.
    if (tag == 12 && static_cast<unsigned char>(field[0]) == 0xFF) field[0] = '$';
    return 0;
}

// Display 1 as the older sections declare it: made by the first of them.
int DisplayOne(AppletLoad& s, qbDisplayDeclaration*& decl) {
    auto& list = s.applet->preprocessorList;
    if (s.displayOne < 0) {
        if (int err = AddDefaultDisplayEntry(s.applet, s.haveDisplayTitle ? s.displayTitle.c_str() : nullptr))
            return err;
        s.displayOne = static_cast<int>(list.size()) - 1;
    }
    decl = GetDisplayDeclaration(list[static_cast<size_t>(s.displayOne)]);
    return decl ? 0 : ERR_MEM;
}

int ReadDisplayFlag(AppletLoad& s, uint32_t bit) {
    uint8_t on;
    if (int err = s.in.U8(on)) return err;
    qbDisplayDeclaration* decl;
    if (int err = DisplayOne(s, decl)) return err;
    if (on) decl->flags |= bit;
    return 0;
}

int ReadDisplaySection(AppletLoad& s, int tag) {
    AppletReader& in = s.in;
    qbDisplayDeclaration* decl;
    switch (tag) {
    case 3: {
        int16_t w, h;
        if (int err = in.I16(w)) return err;
        if (int err = in.I16(h)) return err;
        if (int err = DisplayOne(s, decl)) return err;
        decl->width = w;
        decl->height = h;
        return 0;
    }
    case 5: {
        int32_t color;
        if (int err = in.I32(color)) return err;
        if (int err = DisplayOne(s, decl)) return err;
        decl->color = color;
        decl->gradient.startColor = color;
        return 0;
    }
    case 6: {
        int32_t x, y;
        if (int err = in.I32(x)) return err;
        if (int err = in.I32(y)) return err;
        if (int err = DisplayOne(s, decl)) return err;
        decl->x = x;
        decl->y = y;
        return 0;
    }
    case 18: return ReadDisplayFlag(s, kDispBorderless);
    case 19: return ReadDisplayFlag(s, kDispFixed);
    case 20: return ReadDisplayFlag(s, kDispSizeable);
    case 24: return ReadDisplayFlag(s, kDispHidePointer);
    case 25: return ReadDisplayFlag(s, kDispNoModeSwitch);
    case 30: return ReadDisplayFlag(s, kDispNoHide);
    case 28: {
        uint8_t kind, smooth;
        int32_t width, height;
        if (int err = in.U8(kind)) return err;
        if (int err = in.I32(width)) return err;
        if (int err = in.I32(height)) return err;
        if (int err = in.U8(smooth)) return err;
        if (int err = DisplayOne(s, decl)) return err;
        decl->flags |= kind == 0 ? kDispAutoScale : kDispLayerScale;
        decl->scaleWidth = width;
        decl->scaleHeight = height;
        if (smooth) decl->flags |= kDispSmoothScale;
        return 0;
    }
    default: return ERR_UNKNOWNSEC;
    }
}

int ReadScreenSection(AppletLoad& s, int tag) {
    qbScreenModeOptions& o = s.applet->screenModeOptions;
    uint8_t byte;
    switch (tag) {
    case 7: o.desktop = 1; return 0;
    case 16:
    case 21:
    case 23: {
        if (int err = s.in.U8(byte)) return err;
        (tag == 16 ? o.mode : tag == 21 ? o.titleBar : o.scrDepth) = byte;
        return 0;
    }
    case 17: return ReadBackfillRecord(s.in, s.version, o.backfill);
    case 22: {
        int16_t w, h;
        if (int err = s.in.I16(w)) return err;
        if (int err = s.in.I16(h)) return err;
        o.scrWidth = w;
        o.scrHeight = h;
        return 0;
    }
    default: return ERR_UNKNOWNSEC;
    }
}

int ReadIncludeTable(AppletLoad& s, IncludeForm form) {
    uint32_t count;
    if (int err = s.in.U32(count)) return err;
    size_t minBytes = form == kIncludePlain ? kPlainIncludeMinBytes : kNamedIncludeMinBytes;
    if (count > s.in.Remaining() / minBytes) return ERR_READ;
    auto& table = s.applet->includeTable;
    for (uint32_t i = 0; i < count; ++i) {
        qbIncludeEntry e;
        if (int err = s.in.U32(e.firstLine)) return err;
        if (int err = s.in.U32(e.lastLine)) return err;
        if (int err = s.in.U32(e.lineOffset)) return err;
        int err = 0;
        switch (form) {
        case kIncludePlain:
            if (!(err = s.in.CString(e.fileName, kPathSize))) e.sourceChunkName = s.cl->scriptPath;
            break;
        case kIncludeNamed:
            if (!(err = s.in.CString(e.fileName, kPathSize))) err = s.in.CString(e.sourceChunkName, kPathSize);
            break;
        case kIncludeComplemented:
            if (!(err = s.in.ComplementedString(e.fileName, kPathSize)))
                err = s.in.ComplementedString(e.sourceChunkName, kPathSize);
            break;
        }
        if (err) return err;
        table.push_back(std::move(e));
    }
    return 0;
}

int ReadLinkedFiles(AppletLoad& s) {
    uint32_t count, unused;
    if (int err = s.in.U32(count)) return err;
    if (int err = s.in.U32(unused)) return err;
    if (count > s.in.Remaining() / kLinkedFileMinBytes) return ERR_READ;
    for (uint32_t i = 0; i < count; ++i) {
        qbLinkedFile file;
        uint32_t size;
        if (int err = s.in.CString(file.name, kPathSize)) return err;
        if (int err = s.in.U32(size)) return err;
        if (size == kLinkedDropped) continue;
        if (size == kLinkedElsewhere) {
            uint32_t realSize, offset;
            if (int err = s.in.U32(realSize)) return err;
            if (int err = s.in.U32(offset)) return err;
            if (!s.in.FitsApplet(offset, realSize)) return ERR_READ;
            file.size = realSize;
            file.offset = offset;
        } else {
            file.size = size;
            file.offset = static_cast<uint64_t>(s.in.Position() - s.in.Base());
            if (int err = s.in.Skip(size)) return err;
        }
        file.appletPath = s.containerPath;
        s.applet->linkedFiles.push_back(std::move(file));
    }
    return 0;
}

int ReadLabels(AppletLoad& s) {
    uint32_t count;
    if (int err = s.in.U32(count)) return err;
    if (count > s.in.Remaining() / kLabelMinBytes) return ERR_READ;
    ScriptState* L = s.L;
    VmPushString(L, "labels");
    VmPushNewTable(L);
    int err = 0;
    std::string name;
    for (uint32_t i = 0; i < count && !err; ++i) {
        uint32_t value;
        if ((err = s.in.U32(value)) != 0) break;
        if ((err = s.in.CString(name, kLabelNameSize)) != 0) break;
        StrToLower(name.data());
        VmPushLString(L, name.data(), name.size());
        VmPushNumber(L, static_cast<int32_t>(value));
        VmSetTableAt(L, -3);
    }
    if (err) {
        VmSetTop(L, -3);
        return err;
    }
    VmSetTableAt(L, kRegistryIndex);
    return 0;
}

int ReadUserConstants(AppletLoad& s) {
    std::string name, text;
    for (;;) {
        if (int err = s.in.CString(name, kConstantNameSize)) return err;
        if (name.empty()) return 0;
        uint8_t kind;
        if (int err = s.in.U8(kind)) return err;
        ScriptConstant c[2] = {{name.c_str(), nullptr, 0.0}, {nullptr, nullptr, 0.0}};
        if (kind != 0) {
            if (int err = s.in.CString(text, kConstantValueSize)) return err;
            c[0].str = text.c_str();
        } else if (int err = s.in.Double(c[0].num)) {
            return err;
        }
        VmRegisterConstants(s.L, c, 1);
    }
}

int ReadTimerSettings(AppletLoad& s) {
    qbTimerSettings t = TimerSettings;
    if (int err = s.in.U32(t.flags)) return err;
    if (s.version.AtLeast(6, 0)) {
        if (int err = s.in.I32(t.value1)) return err;
        if (int err = s.in.I32(t.value2)) return err;
        if (int err = s.in.U8(t.byte)) return err;
    }
    TimerSettings = t;
    return 0;
}

int ReadScriptBody(AppletLoad& s) {
    uint32_t size;
    if (int err = s.in.U32(size)) return err;
    if (size > s.in.Remaining()) return ERR_READ;
    std::vector<uint8_t> body;
    try {
        body.resize(size);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    if (int err = s.in.Bytes(body.data(), size)) return err;
    s.applet->scriptBody = std::move(body);
    s.applet->scriptSize = size;
    s.bodyRead = true;
    return 0;
}

int ReadSection(AppletLoad& s, int tag) {
    switch (tag) {
    case 0: {
        uint32_t length;
        if (int err = s.in.U32(length)) return err;
        return s.in.Skip(length);
    }
    case 1: return ReadScriptBody(s);
    case 2: return ReadPreprocessorEntries(s.in, s.version, s.containerPath, s.applet);
    case 4:
        if (int err = s.in.ShortString(s.displayTitle, kDeclShortNameSize - 1)) return err;
        s.haveDisplayTitle = true;
        return 0;
    case 8: return ReadIncludeTable(s, kIncludePlain);
    case 9: return ReadLabels(s);
    case 10: return ReadVersion(s);
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
    case 34: return ReadHeaderString(s, tag);
    case 7:
    case 16:
    case 17:
    case 21:
    case 22:
    case 23: return ReadScreenSection(s, tag);
    case 26: return ReadLinkedFiles(s);
    case 27: return ReadIncludeTable(s, kIncludeNamed);
    case 29: s.cl->displayOverrideLock = 1; return 0;
    case 31: return ReadUserConstants(s);
    case 32: return ReadTimerSettings(s);
    case 33: return ReadIncludeTable(s, kIncludeComplemented);
    default: return ReadDisplaySection(s, tag);
    }
}

}  // namespace

int ReadAppletSections(AppletLoad& s) {
    while (!s.bodyRead) {
        uint8_t tag;
        if (s.in.U8(tag) != 0) return ERR_UNEXPECTEDEOF;
        if (tag > kLastSectionTag) return ERR_UNKNOWNSEC;
        try {
            if (int err = ReadSection(s, tag)) return err;
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
    }
    return 0;
}
