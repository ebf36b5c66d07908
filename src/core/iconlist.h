// The application icon pictures an applet names: 18 slots of fixed sizes,
// filled by the applet loader, and the process-wide list of the pictures
// loaded from them, which the window system shows.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

constexpr int kIconSlotCount = 18;
constexpr int kIconPlainSlots = 9;  // slots 9-17 are the "s" kind of slots 0-8

struct qbIconSlot {
    std::string source;  // a file or chunk name; empty when the slot has none
    const char* key;
    int width;
    int height;
    int number;  // 52-60 for the plain slots, -1 for the "s" slots
    int option;  // set from the applet's icon flags
};

// The process-wide slot table.
std::array<qbIconSlot, kIconSlotCount>& GetIconSlots();

// Icon image flags: the slot's option word was set; one of the "s" slots.
inline constexpr uint32_t kIconImageMarked = 1;
inline constexpr uint32_t kIconImageSecondKind = 2;

// One loaded icon picture: width x height opaque-or-alpha ARGB pixels.
struct qbIconImage {
    std::vector<uint32_t> pixels;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t flags = 0;
};

// Replaces the loaded icon list.
void SetIconImageList(std::vector<qbIconImage> list);
// The icons the window system is to show: the platform's own (this one has
// none) followed by the loaded ones of sizes and kinds it lacks; the caller
// gets a copy and gives it back to FreeIconImageList.
void GetIconImageList(std::vector<qbIconImage>* out);
void FreeIconImageList(std::vector<qbIconImage>* list);
// Clears every slot's source and option, and the loaded icon list.
void FreeIconPaths();
