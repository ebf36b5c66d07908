// The gradient and texture creators that BGPics and brushes share: one core
// each, which builds the picture and then makes a BGPic or a brush of it.
#pragma once

#include <cstdint>

struct ScriptState;

// Where the gradient's numbers are among the command's arguments; the
// gradient table follows the angle.
struct qbGradientArgIndexes {
    int type, start, end, width, height, angle;
};

// The command's result count or an error; a numbered id is taken over only
// once the new object exists. Width and height default to the current
// BGPic's base size; below 1 they fail with ERR_BADDIMENSIONS.
int CreateGradientObject(ScriptState* L, bool makeBrush, const qbGradientArgIndexes& args);
// (id, brush[, width, height, x, y]): the brush's bitmap tiled from x, y.
// The brush flavour refuses a new id equal to the texture brush's
// (ERR_WRONGUSAGE).
int CreateTexturedObject(ScriptState* L, bool makeBrush);
