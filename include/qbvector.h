/* The vector path command stream and the argument records of the eight
 * vector-engine hooks, as a plugin engine reads them. Arguments follow their
 * 32-bit code packed without gaps in native byte order (read them with
 * memcpy): integers 4 bytes, numbers 8-byte doubles, the text command's font
 * handle 8 bytes (a pointer on 64-bit systems, so it is never cut). */
#ifndef QB_VECTOR_H
#define QB_VECTOR_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    QB_PATH_END = 0,
    QB_PATH_MOVE = 1,     /* int relative, double x, y */
    QB_PATH_LINE = 2,     /* int relative, double x, y */
    QB_PATH_CURVE = 3,    /* int relative, double x1, y1, x2, y2, x3, y3 */
    QB_PATH_SUBPATH = 5,  /* nothing */
    QB_PATH_CLOSE = 6,    /* nothing */
    QB_PATH_ARC = 7,      /* double xc, yc, rx, ry, start, end (degrees), int direction */
    QB_PATH_BOX = 8,      /* double x, y, width, height, int corners a, b, c, d (0..100) */
    QB_PATH_TEXT = 9      /* 8-byte font handle, int size, NUL-ended UTF-8 text padded */
};

/* Bytes after the code of each command; a text adds its padded string. */
#define QB_PATH_CODE_SIZE 4
#define QB_PATH_POINT_ARGS 20
#define QB_PATH_CURVE_ARGS 52
#define QB_PATH_ARC_ARGS 52
#define QB_PATH_BOX_ARGS 48
#define QB_PATH_TEXT_ARGS 12
/* A string of LENGTH bytes with its NUL, rounded down to 4 and 4 added. */
#define QB_PATH_STRING_SIZE(length) ((((size_t)(length) + 1) & ~(size_t)3) + 4)

enum { QB_JOIN_MITER = 0, QB_JOIN_ROUND = 1, QB_JOIN_BEVEL = 2 };
enum { QB_CAP_BUTT = 0, QB_CAP_ROUND = 1, QB_CAP_SQUARE = 2 };
enum { QB_FILLRULE_WINDING = 0, QB_FILLRULE_EVENODD = 1 };

typedef struct qbVectorLineStyle {
    int32_t join;
    int32_t cap;
    int32_t fillRule;
    int32_t antialias;
    double dashOffset;
    const double* dashes; /* not owned */
    int32_t dashCount;
} qbVectorLineStyle;

/* Coordinates are doubles in pixels, y growing downwards. The matrix is
 * {a, b, c, d}: x' = a x + c y, y' = b x + d y. */
typedef struct qbPathExtentsArgs {
    const uint8_t* commands;
    const qbVectorLineStyle* style;
    int32_t filled;
    int32_t strokeWidth;
    double originX;
    double originY;
    double x1, y1, x2, y2; /* out */
    const double* matrix;
} qbPathExtentsArgs;

typedef struct qbDrawPathArgs {
    const uint8_t* commands;
    const qbVectorLineStyle* style;
    int32_t filled;
    int32_t strokeWidth;
    int32_t reserved;
    uint8_t* coverage;
    int32_t bytesPerRow;
    int32_t width;
    int32_t height;
    double x0, y0;
    double x1, y1;
    const double* matrix;
} qbDrawPathArgs;

typedef struct qbTranslatePathArgs {
    uint8_t* commands;
    double dx, dy;
} qbTranslatePathArgs;

/* Every hook but the font ones returns 1 for success and 0 for failure. */
typedef int (*qbGetPathExtentsHook)(qbPathExtentsArgs* args);
typedef int (*qbDrawPathHook)(qbDrawPathArgs* args);
typedef int (*qbTranslatePathHook)(qbTranslatePathArgs* args);
typedef int (*qbGetCurrentPointHook)(const uint8_t* commands, const qbVectorLineStyle* style, double* x, double* y);
typedef void* (*qbCreateVectorFontHook)(void* face);
typedef void (*qbFreeVectorFontHook)(void* handle);
typedef void* (*qbOpenFontHook)(const void* data, size_t size);
typedef void (*qbCloseFontHook)(void* face);

/* The eight hooks in their fixed order. */
typedef struct qbVectorHooks {
    qbGetPathExtentsHook getPathExtents;
    qbDrawPathHook drawPath;
    qbTranslatePathHook translatePath;
    qbGetCurrentPointHook getCurrentPoint;
    qbCreateVectorFontHook createVectorFont;
    qbFreeVectorFontHook freeVectorFont;
    qbOpenFontHook openFont;
    qbCloseFontHook closeFont;
} qbVectorHooks;

#ifdef __cplusplus
#define QB_VECTOR_ASSERT(c, m) static_assert(c, m)
#else
#define QB_VECTOR_ASSERT(c, m) _Static_assert(c, m)
#endif
QB_VECTOR_ASSERT(sizeof(double) == 8 && sizeof(int32_t) == 4, "stream argument sizes");
QB_VECTOR_ASSERT(sizeof(void*) <= 8, "a font handle fits its 8 bytes");
QB_VECTOR_ASSERT(QB_PATH_POINT_ARGS == 4 + 2 * 8, "move and line");
QB_VECTOR_ASSERT(QB_PATH_CURVE_ARGS == 4 + 6 * 8, "curve");
QB_VECTOR_ASSERT(QB_PATH_ARC_ARGS == 6 * 8 + 4, "arc");
QB_VECTOR_ASSERT(QB_PATH_BOX_ARGS == 4 * 8 + 4 * 4, "box");
QB_VECTOR_ASSERT(QB_PATH_TEXT_ARGS == 8 + 4, "text");
QB_VECTOR_ASSERT(QB_PATH_STRING_SIZE(3) == 8 && QB_PATH_STRING_SIZE(2) == 4, "string padding");
QB_VECTOR_ASSERT(sizeof(void*) != 8 || (offsetof(qbPathExtentsArgs, x1) == 40 &&
                                         offsetof(qbPathExtentsArgs, matrix) == 72),
                 "extents record");
QB_VECTOR_ASSERT(sizeof(void*) != 8 || (offsetof(qbDrawPathArgs, coverage) == 32 &&
                                         offsetof(qbDrawPathArgs, x0) == 56 && sizeof(qbDrawPathArgs) == 96),
                 "draw record");
QB_VECTOR_ASSERT(sizeof(qbVectorHooks) == 8 * sizeof(void (*)(void)), "eight hooks");
#undef QB_VECTOR_ASSERT

#ifdef __cplusplus
}
#endif

#endif
