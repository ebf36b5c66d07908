// Display placements kept in the applet's preferences file, applied to a
// declared display before start-up creates it.
#pragma once

#include <cstdint>
#include <vector>

struct ScriptState;
struct qbDisplayDeclaration;

struct qbRestoredPlacement {
    // Both set when a placement gave the window's size.
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> data;
};

// For a declaration that remembers its position (unless the command line
// overrides placements): the saved entry of display id replaces the
// declaration's position and scale size when it was saved with the same
// scaling and sizeability. A position that no monitor shows any more is
// dropped, the size kept. An unreadable file restores nothing.
qbRestoredPlacement RestoreDisplayPlacement(ScriptState* L, int32_t id, qbDisplayDeclaration* decl);
