// Version-dependent records of the applet container. Counts are checked
// against the bytes left before anything is reserved for them.
#include "core/appletrecords.h"

#include <new>
#include <utility>

#include "core/applet.h"
#include "core/errcodes.h"

namespace {

constexpr double kMillionths = 1000000.0;
constexpr size_t kRegionBytes = 20;        // five u32 per region
constexpr size_t kGradientStopBytes = 8;   // colour and position
constexpr size_t kPluginTagMinBytes = 7;   // length, two NULs, kind
constexpr size_t kMenuItemMinBytes = 11;   // three lengths, flags, next kind
constexpr size_t kEntryMinBytes = 33;      // type and eight u32
constexpr size_t kMaxShortString = 32767;  // an i16 length holds no more
constexpr int kMenuNextEnd = 0;
constexpr int kMenuNextSubmenu = 2;

// Little readers into the int fields of the records.
int U8To(AppletReader& in, int& out) {
    uint8_t v;
    if (int err = in.U8(v)) return err;
    out = v;
    return 0;
}

int I16To(AppletReader& in, int& out) {
    int16_t v;
    if (int err = in.I16(v)) return err;
    out = v;
    return 0;
}

int I32To(AppletReader& in, int32_t& out) { return in.I32(out); }

int MillionthsTo(AppletReader& in, double& out) {
    uint32_t v;
    if (int err = in.U32(v)) return err;
    out = v / kMillionths;
    return 0;
}

int ReadBGPicRecord(AppletReader& in, AppletVersion version, qbBGPicRecord& r) {
    if (!version.AtLeast(4, 7)) return 0;
    if (int err = U8To(in, r.fillStyle)) return err;
    if (int err = I32To(in, r.fillColor)) return err;
    r.gradient.startColor = r.fillColor;
    if (int err = I32To(in, r.gradient.endColor)) return err;
    if (int err = I16To(in, r.gradient.angle)) return err;
    if (int err = I32To(in, r.textureBrush)) return err;
    if (int err = I32To(in, r.textureX)) return err;
    if (int err = I32To(in, r.textureY)) return err;
    if (version.AtLeast(5, 0)) {
        if (int err = ReadGradientRecord(in, r.gradient)) return err;
    }
    if (version.AtLeast(5, 3)) {
        if (int err = I32To(in, r.scaleWidth)) return err;
        if (int err = I32To(in, r.scaleHeight)) return err;
        if (int err = I32To(in, r.smoothScale)) return err;
    }
    return 0;
}

int ReadBrushRecord(AppletReader& in, AppletVersion version, qbImageRecord& r) {
    for (int* field : {&r.width, &r.height, &r.x, &r.y, &r.globalAlpha})
        if (int err = I16To(in, *field)) return err;
    if (version.AtLeast(5, 0)) {
        if (int err = U8To(in, r.hardware)) return err;
    }
    if (version.AtLeast(5, 3)) {
        if (int err = I32To(in, r.scaleWidth)) return err;
        if (int err = I32To(in, r.scaleHeight)) return err;
        if (int err = I32To(in, r.smoothScale)) return err;
    }
    if (version.AtLeast(6, 0)) return I32To(in, r.display);
    return 0;
}

int ReadFrames(AppletReader& in, qbImageRecord& r) {
    for (int* field : {&r.width, &r.height, &r.frames, &r.framesPerRow, &r.x, &r.y})
        if (int err = I16To(in, *field)) return err;
    return 0;
}

int ReadAnimRecord(AppletReader& in, AppletVersion version, qbImageRecord& r) {
    if (version.AtLeast(3, 0)) {
        if (int err = U8To(in, r.fromDisk)) return err;
    }
    // 4.0 applets were written before anims had frame settings.
    if (version.AtLeast(4, 1)) {
        if (int err = ReadFrames(in, r)) return err;
    }
    if (version.AtLeast(5, 3)) {
        if (int err = U8To(in, r.skipLoopFrames)) return err;
        if (int err = U8To(in, r.deinterlace)) return err;
    }
    return 0;
}

int ReadButtonRecord(AppletReader& in, qbButtonRecord& r) {
    for (int* field : {&r.x1, &r.y1, &r.x2, &r.y2})
        if (int err = I16To(in, *field)) return err;
    return 0;
}

int ReadTypeRecord(AppletReader& in, AppletVersion version, qbPreprocessorEntry& e) {
    e.record = DefaultTypeRecord(e.type);
    switch (e.type) {
    case kDeclBGPic: return ReadBGPicRecord(in, version, std::get<qbBGPicRecord>(e.record));
    case kDeclBrush: return ReadBrushRecord(in, version, std::get<qbImageRecord>(e.record));
    case kDeclAnim: return ReadAnimRecord(in, version, std::get<qbImageRecord>(e.record));
    case kDeclSprite: return ReadFrames(in, std::get<qbImageRecord>(e.record));
    case kDeclButton: return ReadButtonRecord(in, std::get<qbButtonRecord>(e.record));
    case kDeclDisplay: return ReadDisplayDeclaration(in, version, std::get<qbDisplayDeclaration>(e.record));
    case kDeclPlugin:
        if (!version.AtLeast(6, 0)) return 0;
        return ReadPluginTags(in, std::get<qbPluginTagList>(e.record));
    case kDeclMenu: return ReadMenuTree(in, std::get<qbMenuTree>(e.record));
    default: return 0;
    }
}

int ReadMenuLevel(AppletReader& in, qbMenuTree& level, int depth) {
    if (depth > kMaxMenuDepth) return ERR_MENUCOMPLEXITY;
    for (;;) {
        if (in.Remaining() < kMenuItemMinBytes) return ERR_READ;
        qbMenuItem item;
        if (int err = in.ShortString(item.name, kMaxShortString)) return err;
        if (int err = in.ShortString(item.id, kMaxShortString)) return err;
        if (int err = in.ShortString(item.hotkey, kMaxShortString)) return err;
        if (int err = in.U32(item.flags)) return err;
        uint8_t next;
        if (int err = in.U8(next)) return err;
        if (next == kMenuNextSubmenu) {
            if (int err = ReadMenuLevel(in, item.submenu, depth + 1)) return err;
            if (int err = in.U8(next)) return err;
        }
        level.push_back(std::move(item));
        if (next == kMenuNextEnd) return 0;
    }
}

int ReadEntry(AppletReader& in, AppletVersion version, qbPreprocessorEntry& e) {
    uint8_t type;
    if (int err = in.U8(type)) return err;
    e.type = type;
    e.flag = 1;
    if (int err = in.I32(e.id)) return err;
    if (int err = in.U32(e.nameOffset)) return err;
    if (int err = in.U32(e.nameSize)) return err;
    if (int err = in.U32(e.linkedOffset)) return err;
    if (int err = in.U32(e.linkedSize)) return err;
    if (int err = in.I32(e.valueA)) return err;
    if (int err = in.I32(e.valueB)) return err;
    if (int err = in.I32(e.sourceLine)) return err;
    if (int err = in.StringAt(e.nameOffset, e.nameSize, e.name)) return err;
    if (e.linkedSize != 0 && !in.FitsApplet(e.linkedOffset, e.linkedSize)) return ERR_READ;
    if (version.AtLeast(6, 0)) {
        if (int err = in.ShortString(e.loader, kDeclShortNameSize - 1)) return err;
        if (int err = in.ShortString(e.adapter, kDeclShortNameSize - 1)) return err;
    }
    return ReadTypeRecord(in, version, e);
}

}  // namespace

int ReadGradientRecord(AppletReader& in, qbGradientOptions& g) {
    if (int err = U8To(in, g.style)) return err;
    for (double* field : {&g.centerX, &g.centerY, &g.balance, &g.border})
        if (int err = MillionthsTo(in, *field)) return err;
    uint8_t count;
    if (int err = in.U8(count)) return err;
    if (count > in.Remaining() / kGradientStopBytes) return ERR_READ;
    g.stops.resize(count);
    for (qbGradientStop& stop : g.stops) {
        if (int err = in.I32(stop.color)) return err;
        if (int err = MillionthsTo(in, stop.position)) return err;
    }
    return 0;
}

int ReadBackfillRecord(AppletReader& in, AppletVersion version, qbBackfillOptions& b) {
    if (int err = U8To(in, b.type)) return err;
    switch (b.type) {
    case 1: return in.I32(b.startColor);
    case 2:
        if (int err = in.I32(b.startColor)) return err;
        return in.I32(b.endColor);
    case 3: return in.I32(b.brush);
    case 4: {
        int32_t x, y;
        if (int err = in.I32(b.brush)) return err;
        if (int err = in.I32(x)) return err;
        if (int err = in.I32(y)) return err;
        b.x = x;
        b.y = y;
        if (int err = in.I32(b.startColor)) return err;
        if (int err = in.I32(b.endColor)) return err;
        if (version.AtLeast(3, 2)) {
            if (int err = U8To(in, b.scalePicture)) return err;
        }
        if (version.AtLeast(6, 0)) {
            if (int err = U8To(in, b.smoothScale)) return err;
        }
        break;
    }
    default: break;
    }
    b.fileName.clear();
    return 0;
}

int ReadRectList(AppletReader& in, std::vector<qbRegion>& regions) {
    uint32_t count;
    if (int err = in.U32(count)) return err;
    if (count > in.Remaining() / kRegionBytes) return ERR_READ;
    regions.resize(count);
    for (qbRegion& r : regions)
        for (int32_t* field : {&r.type, &r.x, &r.y, &r.width, &r.height})
            if (int err = in.I32(*field)) return err;
    return 0;
}

int ReadMenuTree(AppletReader& in, qbMenuTree& tree) { return ReadMenuLevel(in, tree, 1); }

int ReadPluginTags(AppletReader& in, qbPluginTagList& tags) {
    uint32_t count;
    if (int err = in.U32(count)) return err;
    if (count > in.Remaining() / kPluginTagMinBytes) return ERR_READ;
    tags.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t length;
        if (int err = in.U32(length)) return err;
        qbRequireTag tag;
        // The length sizes the node: the key and a text value must fit in it.
        if (int err = in.CString(tag.key, length)) return err;
        uint8_t kind;
        if (int err = in.U8(kind)) return err;
        if (kind != 0) {
            tag.isText = true;
            if (int err = in.CString(tag.text, length - (tag.key.size() + 1))) return err;
        } else if (int err = in.Double(tag.number)) {
            return err;
        }
        tags.push_back(std::move(tag));
    }
    return 0;
}

int ReadDisplayDeclaration(AppletReader& in, AppletVersion version, qbDisplayDeclaration& d) {
    InitDisplayDeclaration(d);
    uint32_t flags, skipped;
    for (int32_t* field : {&d.bgpic, &d.x, &d.y, &d.width, &d.height, &d.color})
        if (int err = in.I32(*field)) return err;
    d.gradient.startColor = d.color;
    if (int err = in.U32(flags)) return err;
    d.flags = flags;
    if (int err = in.U32(skipped)) return err;
    if (int err = in.I32(d.scaleWidth)) return err;
    if (int err = in.I32(d.scaleHeight)) return err;
    if (int err = ReadRectList(in, d.dragRegions)) return err;
    if (int err = ReadRectList(in, d.sizeRegions)) return err;
    if (int err = in.ShortString(d.title, kDeclShortNameSize - 1)) return err;
    if (version.AtLeast(4, 7)) {
        if (int err = U8To(in, d.fillStyle)) return err;
        if (int err = in.I32(d.gradient.endColor)) return err;
        if (int err = I16To(in, d.gradient.angle)) return err;
        for (int32_t* field : {&d.textureBrush, &d.textureX, &d.textureY})
            if (int err = in.I32(*field)) return err;
    }
    if (version.AtLeast(5, 0)) {
        if (int err = ReadGradientRecord(in, d.gradient)) return err;
    }
    if (version.AtLeast(5, 2)) {
        if (int err = in.ShortString(d.extraStrings[0], kDeclShortNameSize - 1)) return err;
    }
    if (version.AtLeast(5, 3)) {
        if (int err = U8To(in, d.orientation)) return err;
    }
    if (!version.AtLeast(6, 0)) return 0;
    uint8_t menuGiven;
    int32_t menu;
    if (int err = U8To(in, d.monitor)) return err;
    if (int err = in.U8(menuGiven)) return err;
    if (int err = in.I32(menu)) return err;
    if (menuGiven) d.menu = menu;
    if (int err = U8To(in, d.mode)) return err;
    if (int err = U8To(in, d.desktop)) return err;
    if (int err = I16To(in, d.scrWidth)) return err;
    if (int err = I16To(in, d.scrHeight)) return err;
    if (int err = U8To(in, d.scrDepth)) return err;
    if (int err = U8To(in, d.hideTitleBar)) return err;
    if (int err = ReadBackfillRecord(in, version, d.backfill)) return err;
    for (size_t i = 1; i < d.extraStrings.size(); ++i)
        if (int err = in.ShortString(d.extraStrings[i], kDeclShortNameSize - 1)) return err;
    return 0;
}

int ReadPreprocessorEntries(AppletReader& in, AppletVersion version, const std::string& appletPath,
                            qbApplet* applet) {
    uint32_t count;
    if (int err = in.U32(count)) return err;
    if (count > in.Remaining() / kEntryMinBytes) return ERR_READ;
    for (uint32_t i = 0; i < count; ++i) {
        // An entry that fails to read is dropped here; those before it stay
        // in the list for Shutdown to free.
        qbPreprocessorEntry entry;
        try {
            if (int err = ReadEntry(in, version, entry)) return err;
            entry.appletPath = appletPath;
        } catch (const std::bad_alloc&) {
            return ERR_MEM;
        }
        if (int err = AddPreprocessorEntry(applet, std::move(entry))) return err;
    }
    return 0;
}
