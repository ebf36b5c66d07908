// The application icon pictures an applet names: 18 slots of fixed sizes,
// filled by the applet loader and loaded at start-up.
#pragma once

#include <array>
#include <string>

struct ScriptState;

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

// Loads the icon slots that have a source; 0 or an error code.
int LoadIconImages(int verbose);
// Clears every slot's source and option.
void FreeIconPaths();
