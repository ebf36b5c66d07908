// Icon slots and the icon pictures loaded from them.
#include "display/icons.h"

#include <cstdio>

#include "core/errcodes.h"
#include "core/errors.h"
#include "imaging/loaderchain.h"

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

int LoadSlot(const qbIconSlot& slot, bool secondKind, qbIconImage* out) {
    qbImageLoadParams params;
    params.fileName = slot.source.c_str();
    // No alpha plane is asked for: the icon reads alpha from the pixels'
    // top bytes, so a plane would be built only to be dropped.
    qbLoadedImage image;
    if (int err = LoadImageThroughLoaders(params, &image)) return err;
    if (image.width != slot.width || image.height != slot.height) {
        char size[32];
        std::snprintf(size, sizeof size, "%dx%d", slot.width, slot.height);
        SetErrorDetail(size);
        return ERR_ICONDIMS;
    }
    const uint32_t* pixels = GetImageHandlePixels(image.handle.get());
    if (!pixels) return ERR_MEM;
    out->width = image.width;
    out->height = image.height;
    out->flags = (slot.option ? kIconImageMarked : 0) | (secondKind ? kIconImageSecondKind : 0);
    out->pixels.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
    // The handle's pixels carry the picture's alpha in their top bytes; a
    // picture without alpha has nothing meaningful there.
    const uint32_t opaque = image.hasAlpha ? 0 : 0xFF000000u;
    for (int32_t y = 0; y < image.height; ++y) {
        const uint32_t* row = pixels + static_cast<size_t>(y) * static_cast<size_t>(image.rowLength);
        uint32_t* to = out->pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(image.width);
        for (int32_t x = 0; x < image.width; ++x) to[x] = row[x] | opaque;
    }
    return 0;
}

}  // namespace

std::array<qbIconSlot, kIconSlotCount>& GetIconSlots() {
    static std::array<qbIconSlot, kIconSlotCount> slots = MakeSlots();
    return slots;
}

int LoadIconImages(int verbose) {
    std::vector<qbIconImage>& list = IconList();
    list.clear();
    const auto& slots = GetIconSlots();
    for (int i = 0; i < kIconSlotCount; ++i) {
        const qbIconSlot& slot = slots[static_cast<size_t>(i)];
        if (slot.source.empty()) continue;
        if (verbose) PrintMessage(GetMessageText(MSG_LOADINGICON), slot.source.c_str(), 1);
        qbIconImage image;
        const int err = LoadSlot(slot, i >= kIconPlainSlots, &image);
        if (verbose) err ? PrintFailedMessage() : PrintDoneMessage();
        if (err) {
            list.clear();
            return err;
        }
        list.push_back(std::move(image));
    }
    return 0;
}

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
