// Applet record encoders: numbers, strings, and the version-dependent records
// of declarations, displays, gradients, backfills, menus and plugin tags.
#include <cstring>

#include "lib/applet_writer.h"

namespace {

constexpr uint8_t kMenuNextEnd = 0;
constexpr uint8_t kMenuNextSibling = 1;
constexpr uint8_t kMenuNextSubmenu = 2;

enum : uint8_t { kBGPic = 0, kBrush = 1, kAnim = 2, kButton = 5, kSprite = 7, kDisplay = 10, kPlugin = 12, kMenu = 13 };

void PutRegions(std::vector<uint8_t>& out, const std::vector<RegionDesc>& regions) {
    PutU32BE(out, static_cast<uint32_t>(regions.size()));
    for (const RegionDesc& r : regions)
        for (uint32_t v : {r.type, r.x, r.y, r.width, r.height}) PutU32BE(out, v);
}

void PutFrames(std::vector<uint8_t>& out, const ImageDesc& i) {
    for (int16_t v : {i.width, i.height, i.frames, i.framesPerRow, i.x, i.y}) PutI16BE(out, v);
}

void PutBGPic(std::vector<uint8_t>& out, const BGPicDesc& b, AppletVersionPair v) {
    if (!VersionAtLeast(v, 4, 7)) return;
    PutU8(out, b.fillStyle);
    PutU32BE(out, b.fillColor);
    PutU32BE(out, b.endColor);
    PutI16BE(out, b.angle);
    for (uint32_t x : {b.textureBrush, b.textureX, b.textureY}) PutU32BE(out, x);
    if (VersionAtLeast(v, 5, 0)) PutGradient(out, b.gradient);
    if (VersionAtLeast(v, 5, 3))
        for (uint32_t x : {b.scaleWidth, b.scaleHeight, b.smoothScale}) PutU32BE(out, x);
}

void PutBrush(std::vector<uint8_t>& out, const ImageDesc& i, AppletVersionPair v) {
    for (int16_t x : {i.width, i.height, i.x, i.y, i.globalAlpha}) PutI16BE(out, x);
    if (VersionAtLeast(v, 5, 0)) PutU8(out, i.hardware);
    if (VersionAtLeast(v, 5, 3))
        for (uint32_t x : {i.scaleWidth, i.scaleHeight, i.smoothScale}) PutU32BE(out, x);
    if (VersionAtLeast(v, 6, 0)) PutU32BE(out, i.display);
}

void PutAnim(std::vector<uint8_t>& out, const ImageDesc& i, AppletVersionPair v) {
    if (VersionAtLeast(v, 3, 0)) PutU8(out, i.fromDisk);
    if (VersionAtLeast(v, 4, 1)) PutFrames(out, i);
    if (VersionAtLeast(v, 5, 3)) {
        PutU8(out, i.skipLoopFrames);
        PutU8(out, i.deinterlace);
    }
}

}  // namespace

bool VersionAtLeast(AppletVersionPair version, int major, int minor) {
    return version.first > major || (version.first == major && version.second >= minor);
}

void PutU8(std::vector<uint8_t>& out, uint8_t value) { out.push_back(value); }

void PutI16BE(std::vector<uint8_t>& out, int16_t value) {
    auto u = static_cast<uint16_t>(value);
    out.push_back(static_cast<uint8_t>(u >> 8));
    out.push_back(static_cast<uint8_t>(u));
}

void PutU32BE(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutDoubleBE(std::vector<uint8_t>& out, double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(bits >> shift));
}

void PutCString(std::vector<uint8_t>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

void PutShortString(std::vector<uint8_t>& out, const std::string& text) {
    PutI16BE(out, static_cast<int16_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

void PutGradient(std::vector<uint8_t>& out, const GradientDesc& g) {
    PutU8(out, g.style);
    for (uint32_t v : {g.centerX, g.centerY, g.balance, g.border}) PutU32BE(out, v);
    PutU8(out, static_cast<uint8_t>(g.stops.size()));
    for (const auto& [color, position] : g.stops) {
        PutU32BE(out, color);
        PutU32BE(out, position);
    }
}

void PutBackfill(std::vector<uint8_t>& out, const BackfillDesc& b, AppletVersionPair v) {
    PutU8(out, b.type);
    switch (b.type) {
    case 1: PutU32BE(out, b.color); break;
    case 2:
        PutU32BE(out, b.color);
        PutU32BE(out, b.endColor);
        break;
    case 3: PutU32BE(out, b.brush); break;
    case 4:
        for (uint32_t x : {b.brush, b.x, b.y, b.color, b.endColor}) PutU32BE(out, x);
        if (VersionAtLeast(v, 3, 2)) PutU8(out, b.scalePicture);
        if (VersionAtLeast(v, 6, 0)) PutU8(out, b.smoothScale);
        break;
    default: break;
    }
}

void PutDisplay(std::vector<uint8_t>& out, const DisplayDesc& d, AppletVersionPair v) {
    for (uint32_t x : {d.bgpic, d.x, d.y, d.width, d.height, d.color, d.flags, d.skipped, d.scaleWidth,
                       d.scaleHeight})
        PutU32BE(out, x);
    PutRegions(out, d.dragRegions);
    PutRegions(out, d.sizeRegions);
    PutShortString(out, d.title);
    if (VersionAtLeast(v, 4, 7)) {
        PutU8(out, d.fillStyle);
        PutU32BE(out, d.endColor);
        PutI16BE(out, d.angle);
        for (uint32_t x : {d.textureBrush, d.textureX, d.textureY}) PutU32BE(out, x);
    }
    if (VersionAtLeast(v, 5, 0)) PutGradient(out, d.gradient);
    if (VersionAtLeast(v, 5, 2)) PutShortString(out, d.strings[0]);
    if (VersionAtLeast(v, 5, 3)) PutU8(out, d.orientation);
    if (!VersionAtLeast(v, 6, 0)) return;
    PutU8(out, d.monitor);
    PutU8(out, d.menuGiven);
    PutU32BE(out, d.menu);
    PutU8(out, d.mode);
    PutU8(out, d.desktop);
    PutI16BE(out, d.scrWidth);
    PutI16BE(out, d.scrHeight);
    PutU8(out, d.scrDepth);
    PutU8(out, d.hideTitleBar);
    PutBackfill(out, d.backfill, v);
    for (int i = 1; i < 4; ++i) PutShortString(out, d.strings[i]);
}

void PutMenu(std::vector<uint8_t>& out, const std::vector<MenuItemDesc>& items) {
    for (size_t i = 0; i < items.size(); ++i) {
        const MenuItemDesc& item = items[i];
        PutShortString(out, item.name);
        PutShortString(out, item.id);
        PutShortString(out, item.hotkey);
        PutU32BE(out, item.flags);
        const uint8_t next = i + 1 < items.size() ? kMenuNextSibling : kMenuNextEnd;
        if (!item.submenu.empty()) {
            PutU8(out, kMenuNextSubmenu);
            PutMenu(out, item.submenu);
        }
        PutU8(out, next);
    }
}

void PutPluginTags(std::vector<uint8_t>& out, const std::vector<PluginTagDesc>& tags) {
    PutU32BE(out, static_cast<uint32_t>(tags.size()));
    for (const PluginTagDesc& t : tags) {
        const size_t room = t.key.size() + 1 + (t.isText ? t.text.size() + 1 : 0);
        PutU32BE(out, t.length.value_or(static_cast<uint32_t>(room)));
        PutCString(out, t.key);
        PutU8(out, t.isText ? 1 : 0);
        if (t.isText) PutCString(out, t.text);
        else PutDoubleBE(out, t.number);
    }
}

void PutTypeRecord(std::vector<uint8_t>& out, const DeclarationDesc& d, AppletVersionPair v) {
    if (d.rawRecord) {
        out.insert(out.end(), d.rawRecord->begin(), d.rawRecord->end());
        return;
    }
    switch (d.type) {
    case kBGPic: PutBGPic(out, d.bgpic, v); break;
    case kBrush: PutBrush(out, d.image, v); break;
    case kAnim: PutAnim(out, d.image, v); break;
    case kSprite: PutFrames(out, d.image); break;
    case kButton:
        for (int16_t x : {d.button.x1, d.button.y1, d.button.x2, d.button.y2}) PutI16BE(out, x);
        break;
    case kDisplay: PutDisplay(out, d.display, v); break;
    case kPlugin:
        if (VersionAtLeast(v, 6, 0)) PutPluginTags(out, d.pluginTags);
        break;
    case kMenu: PutMenu(out, d.menu); break;
    default: break;
    }
}

AppletSection DisplaySizeSection(int16_t width, int16_t height) {
    AppletSection s{kTagDisplaySize, {}};
    PutI16BE(s.payload, width);
    PutI16BE(s.payload, height);
    return s;
}

AppletSection DisplayTitleSection(const std::string& title) {
    AppletSection s{kTagDisplayTitle, {}};
    PutShortString(s.payload, title);
    return s;
}

AppletSection DisplayColorSection(uint32_t color) {
    AppletSection s{kTagDisplayColor, {}};
    PutU32BE(s.payload, color);
    return s;
}

AppletSection DisplayPositionSection(uint32_t x, uint32_t y) {
    AppletSection s{kTagDisplayPosition, {}};
    PutU32BE(s.payload, x);
    PutU32BE(s.payload, y);
    return s;
}

AppletSection DesktopSection() { return {kTagDesktop, {}}; }

AppletSection ByteSection(uint8_t tag, uint8_t value) { return {tag, {value}}; }

AppletSection BackfillSection(const BackfillDesc& b, AppletVersionPair version) {
    AppletSection s{kTagBackfill, {}};
    PutBackfill(s.payload, b, version);
    return s;
}

AppletSection ScreenSizeSection(int16_t width, int16_t height) {
    AppletSection s{kTagScreenSize, {}};
    PutI16BE(s.payload, width);
    PutI16BE(s.payload, height);
    return s;
}

AppletSection ScaleSection(uint8_t kind, uint32_t width, uint32_t height, uint8_t smooth) {
    AppletSection s{kTagScale, {kind}};
    PutU32BE(s.payload, width);
    PutU32BE(s.payload, height);
    PutU8(s.payload, smooth);
    return s;
}

AppletSection OverrideLockSection() { return {kTagOverrideLock, {}}; }

AppletSection SkipSection(const std::vector<uint8_t>& bytes) {
    AppletSection s{kTagSkip, {}};
    s.payload.reserve(4 + bytes.size());
    PutU32BE(s.payload, static_cast<uint32_t>(bytes.size()));
    s.payload.insert(s.payload.end(), bytes.begin(), bytes.end());
    return s;
}
