// The display options that every command showing an image object accepts as
// its trailing table: the geometry record (matrix, scale, size, rotation,
// anchor) and the appearance record (name, hidden, insert position,
// transparency, shadow, border, filters), their process-wide defaults, and
// the parser that fills both from a script table.
#pragma once

#include <cstdint>

#include "objects/layerfilters.h"

struct ScriptState;

struct qbTransformOptions {
    double matrix[4] = {1, 0, 0, 1};  // row-major {m00, m01, m10, m11}
    double scalex = 1.0;
    double scaley = 1.0;
    int32_t width = 0;   // 0: none
    int32_t height = 0;
    double rotate = 0.0;
    double transform[4] = {0, 0, 0, 0};  // as the script gave it
    int32_t matrixset = 0;
    int32_t smoothscale = 0;
    double anchorx = 0.0;
    double anchory = 0.0;
    // Set by DecomposeTransformMatrix: the matrix turns and scales unevenly,
    // and the two factors it splits into.
    int32_t rotated = 0;
    double decompx = 0.0;
    double decompy = 0.0;
};

struct qbShadowStyle {
    int32_t shadow = 0;
    uint32_t colour = 0x80000000u;  // $AARRGGBB; opacity is 255 minus the alpha byte
    int32_t size = 4;
    int32_t dir = 3;
    double radius = 5.0;
    double sigma = 5.0 / 3.0;
};

struct qbBorderStyle {
    int32_t border = 0;
    uint32_t colour = 0;
    int32_t size = 2;
};

constexpr int kLayerNameSize = 256;

struct qbLayerOptions {
    char name[kLayerNameSize] = {};
    int32_t hidden = 0;
    int32_t insertpos = 0;  // 1-based, 0 = on top
    int32_t transparency = 0;
    qbShadowStyle shadow;
    qbBorderStyle border;
    qbFilterSet filters;
    // Set when a plain copy of the pixels on top of the output cannot show it.
    int32_t needseffects = 0;
};

// ParseDisplayObjectOptions flags.
enum : uint32_t {
    kOptReset = 1,
    kOptTableRequired = 2,
    kOptNoSize = 4,
    kOptNoRotate = 8,
    kOptSmoothOnRotate = 16,
};

// The defaults are set when the graphics library opens; SetDrawTagsDefault
// replaces them.
void InitDisplayObjectDefaults();
const qbTransformOptions& DefaultTransformOptions();
const qbLayerOptions& DefaultLayerOptions();

void ResetTransformOptions(qbTransformOptions* t);
void ResetLayerOptions(qbLayerOptions* l);
void ResetDisplayObjectOptions(qbTransformOptions* t, qbLayerOptions* l, int32_t width, int32_t height,
                               int32_t smoothscale, uint32_t flags);

// The shadow and border keys of the option table at arg; *found (when
// given) is set when a key was present. 0 or ERR_WRONGUSAGE. With aliasMode
// the border also takes "edgecolor", "edgesize" and "outlinethickness".
int ParseShadowOptions(ScriptState* L, int arg, qbShadowStyle* shadow, int* found);
int ParseBorderOptions(ScriptState* L, int arg, int aliasMode, qbBorderStyle* border, int* found);
// A border size that can be drawn around a width x height picture: 1 or
// more, and the border's own picture (the one widened by the size on every
// side) within what a bitmap holds; a larger one would never show, so it is
// refused rather than taken. 0 or ERR_WRONGUSAGE.
int CheckBorderSize(int32_t size, int32_t width = 1, int32_t height = 1);

// Reads the option table when arg is the last argument; l may be null. On
// an error the records hold what was parsed so far.
int ParseDisplayObjectOptions(ScriptState* L, int arg, int32_t objWidth, int32_t objHeight, int32_t reqWidth,
                              int32_t reqHeight, int32_t smoothDefault, qbTransformOptions* t, qbLayerOptions* l,
                              uint32_t flags);

// diag(target / object size) when a target size differs from the object's
// (0 keeps that side), else diag(scalex, scaley); then the rotation, applied
// as a rotation by 360 minus the angle.
void BuildScaleRotateMatrix(double matrix[4], int32_t targetWidth, int32_t targetHeight, int32_t objWidth,
                            int32_t objHeight, double scalex, double scaley, double angle);
bool IsIdentityMatrix(const double matrix[4]);

// The script command of the graphics library: one option table becomes the
// new defaults (without size keys; the name never carries over).
int cmdSetDrawTagsDefault(ScriptState* L);
