// The current output: where drawing goes (the current display, or the
// brush, BGPic, anim, mask or alpha channel selected on it), and the guards
// of the commands that may not run while the output is redirected.
#pragma once

#include <cstdint>

struct qbClipRegionObject;
struct qbDisplay;

// Output types besides the display's own (21).
enum : int32_t {
    kOutputBGPic = 1,
    kOutputBrush = 3,
    kOutputAnim = 4,
    kOutputMask = 28,
    kOutputAlphaChannel = 30,
};

struct qbOutputView {
    qbDisplay* display = nullptr;  // the display whose output it is; null without one
    int32_t width = 0;
    int32_t height = 0;
    int32_t type = 0;
    int32_t selectedType = 0;
    const uint32_t* pens = nullptr;  // 256 colours, or null
    qbClipRegionObject** clip = nullptr;   // the slot of the active clip region
};

// The current display's output; without a current display an empty view.
qbOutputView GetCurrentOutput();

enum class OutputGuard { Refresh, AsyncDraw };

// 0 when the command may run on the display's output, else the code that
// tells the script which selection to end first.
int CheckOutputGuard(const qbDisplay* display, OutputGuard guard);
