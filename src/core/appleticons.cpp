// The icon block behind an applet's script body: pictures of the application
// icon, each matched to the icon slot of its size and left in the file, where
// a chunk name reaches it.
#include <cstdio>

#include "core/appletsections.h"
#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/iconlist.h"

namespace {

constexpr uint64_t kIconBlockSkip = 2;  // the bytes after the mark
constexpr uint8_t kIconFlagSecondKind = 0x1;  // start at the "s" slots
constexpr uint8_t kIconFlagMarked = 0x2;

void FillSlot(int width, int height, uint8_t flags, uint64_t position, uint64_t size, const std::string& container) {
    auto& slots = GetIconSlots();
    for (int i = (flags & kIconFlagSecondKind) ? kIconPlainSlots : 0; i < kIconSlotCount; ++i) {
        qbIconSlot& slot = slots[static_cast<size_t>(i)];
        if (slot.width != width || slot.height != height) continue;
        char name[32];
        std::snprintf(name, sizeof name, "%dx%d", width, height);
        slot.source = MakeChunkName(name, position, size, 0, container.c_str());
        slot.option = (flags & kIconFlagMarked) ? 1 : 0;
        return;
    }
}

}  // namespace

int ReadIconBlock(AppletReader& in, const std::string& containerPath) {
    if (int err = in.Skip(kIconBlockSkip)) return err;
    for (;;) {
        int16_t width, height;
        uint8_t flags;
        uint32_t size;
        if (int err = in.I16(width)) return err;
        if (width == 0) return 0;
        if (int err = in.I16(height)) return err;
        if (int err = in.U8(flags)) return err;
        if (int err = in.U32(size)) return err;
        const auto position = static_cast<uint64_t>(in.Position());
        if (int err = in.Skip(size)) return err;
        FillSlot(width, height, flags, position, size, containerPath);
    }
}

int ReadTrailingIcons(AppletReader& in, const std::string& containerPath) {
    uint8_t c = 0;
    while (!in.AtEnd()) {
        if (int err = in.U8(c)) return err;
        if (c != 0) break;
    }
    if (c != kIconBlockMark) return 0;
    return ReadIconBlock(in, containerPath);
}
