// Icon slots and the process-wide list of the pictures loaded from them.
#include "core/iconlist.h"

#include <utility>

namespace {

constexpr int kFirstPlainNumber = 52;

std::array<qbIconSlot, kIconSlotCount> MakeSlots() {
    static constexpr int kSizes[kIconPlainSlots] = {16, 24, 32, 48, 64, 96, 128, 256, 512};
    static constexpr const char* kKeys[kIconSlotCount] = {
        "ic16x16",  "ic24x24",  "ic32x32",  "ic48x48",  "ic64x64",  "ic96x96",  "ic128x128",  "ic256x256",  "ic512x512",
        "ic16x16s", "ic24x24s", "ic32x32s", "ic48x48s", "ic64x64s", "ic96x96s", "ic128x128s", "ic256x256s", "ic512x512s",
    };
    std::array<qbIconSlot, kIconSlotCount> slots;
    for (int i = 0; i < kIconSlotCount; ++i) {
        int size = kSizes[i % kIconPlainSlots];
        slots[i] = {{}, kKeys[i], size, size, i < kIconPlainSlots ? kFirstPlainNumber + i : -1, 0};
    }
    return slots;
}

std::vector<qbIconImage>& IconList() {
    static std::vector<qbIconImage> list;
    return list;
}

}  // namespace

std::array<qbIconSlot, kIconSlotCount>& GetIconSlots() {
    static std::array<qbIconSlot, kIconSlotCount> slots = MakeSlots();
    return slots;
}

void SetIconImageList(std::vector<qbIconImage> list) { IconList() = std::move(list); }

void GetIconImageList(std::vector<qbIconImage>* out) { *out = IconList(); }

void FreeIconImageList(std::vector<qbIconImage>* list) {
    list->clear();
    list->shrink_to_fit();
}

void FreeIconPaths() {
    for (qbIconSlot& slot : GetIconSlots()) {
        slot.source.clear();
        slot.source.shrink_to_fit();
        slot.option = 0;
    }
    FreeIconImageList(&IconList());
}
