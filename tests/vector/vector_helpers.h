// Paths built record by record and drawn through the inbuilt engine's hooks
// into coverage masks, for the engine's and the accuracy tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "vector/engine.h"
#include "vector/ftengine.h"
#include "vector/path.h"

namespace vectortest {

struct Path {
    qbPath path;
    void Move(double x, double y, int rel = 0) { Add(QB_PATH_MOVE, rel, x, y); }
    void Line(double x, double y, int rel = 0) { Add(QB_PATH_LINE, rel, x, y); }
    void Curve(double x1, double y1, double x2, double y2, double x3, double y3) {
        ASSERT_EQ(AppendPathCommand(&path, QB_PATH_CURVE,
                                    {qbPathArg::Int(0), qbPathArg::Double(x1), qbPathArg::Double(y1),
                                     qbPathArg::Double(x2), qbPathArg::Double(y2), qbPathArg::Double(x3),
                                     qbPathArg::Double(y3)}),
                  0);
    }
    void Close() { ASSERT_EQ(AppendPathCommand(&path, QB_PATH_CLOSE, {}), 0); }
    void Arc(double xc, double yc, double rx, double ry, double a0 = 0, double a1 = 360, int dir = 1) {
        ASSERT_EQ(AppendPathCommand(&path, QB_PATH_ARC,
                                    {qbPathArg::Double(xc), qbPathArg::Double(yc), qbPathArg::Double(rx),
                                     qbPathArg::Double(ry), qbPathArg::Double(a0), qbPathArg::Double(a1),
                                     qbPathArg::Int(dir)}),
                  0);
    }
    void Box(double x, double y, double w, double h, int corner) {
        ASSERT_EQ(AppendPathCommand(&path, QB_PATH_BOX,
                                    {qbPathArg::Double(x), qbPathArg::Double(y), qbPathArg::Double(w),
                                     qbPathArg::Double(h), qbPathArg::Int(corner), qbPathArg::Int(corner),
                                     qbPathArg::Int(corner), qbPathArg::Int(corner)}),
                  0);
    }
    void Text(void* face, int32_t size, const char* text) {
        ASSERT_EQ(AppendPathCommand(&path, QB_PATH_TEXT,
                                    {qbPathArg::Pointer(face), qbPathArg::Int(size),
                                     qbPathArg::String(text, std::strlen(text))}),
                  0);
    }
    const uint8_t* data() const { return path.commands.get(); }
    void Add(int32_t code, int rel, double x, double y) {
        ASSERT_EQ(AppendPathCommand(&path, code, {qbPathArg::Int(rel), qbPathArg::Double(x), qbPathArg::Double(y)}),
                  0);
    }
};

struct Extents {
    bool ok = false;
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

inline qbVectorLineStyle Style(int join = 0, int cap = 0, int rule = 0, int aa = 1) {
    qbVectorLineStyle s{};
    s.join = join;
    s.cap = cap;
    s.fillRule = rule;
    s.antialias = aa;
    return s;
}

inline Extents Measure(const Path& p, const qbVectorLineStyle& style, int filled, int width) {
    static const double kIdentity[4] = {1, 0, 0, 1};
    qbPathExtentsArgs a{};
    a.commands = p.data();
    a.style = &style;
    a.filled = filled;
    a.strokeWidth = width;
    a.matrix = kIdentity;
    Extents e;
    e.ok = InbuiltVectorHooks().getPathExtents(&a) != 0;
    e.x1 = a.x1, e.y1 = a.y1, e.x2 = a.x2, e.y2 = a.y2;
    return e;
}

// A mask of width x height with the path drawn at its place (offsets 0):
// the outline is moved so that its control box starts at the first pixel,
// so masks here are drawn from paths whose box starts at the origin, or
// through Draw's own extents.
struct Mask {
    int width = 0, height = 0;
    std::vector<uint8_t> bytes;
    uint8_t at(int x, int y) const { return bytes[static_cast<size_t>(y) * width + x]; }
    double Sum() const {
        double s = 0;
        for (uint8_t b : bytes) s += b / 255.0;
        return s;
    }
};

// Draws the path as the renderer does: measured, then drawn at its extents
// into a mask of the measured size; the extents' corner is reported.
inline Mask Draw(const Path& p, const qbVectorLineStyle& style, int filled, int width, Extents* at = nullptr) {
    Extents e = Measure(p, style, filled, width);
    Mask m;
    if (!e.ok) return m;
    m.width = static_cast<int>(std::ceil(e.x2) - std::floor(e.x1));
    m.height = static_cast<int>(std::ceil(e.y2) - std::floor(e.y1));
    m.bytes.assign(static_cast<size_t>(m.width) * m.height, 7);
    qbDrawPathArgs a{};
    static const double kIdentity[4] = {1, 0, 0, 1};
    a.commands = p.data();
    a.style = &style;
    a.filled = filled;
    a.strokeWidth = width;
    a.coverage = m.bytes.data();
    a.bytesPerRow = m.width;
    a.width = m.width;
    a.height = m.height;
    a.x1 = e.x1;
    a.y1 = e.y1;
    a.matrix = kIdentity;
    EXPECT_EQ(InbuiltVectorHooks().drawPath(&a), 1);
    if (at) *at = e;
    return m;
}

// The coverage-weighted centre of a mask.
inline void Centre(const Mask& m, double* cx, double* cy) {
    double s = 0, sx = 0, sy = 0;
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x) {
            const double v = m.at(x, y);
            s += v, sx += v * (x + 0.5), sy += v * (y + 0.5);
        }
    *cx = s ? sx / s : 0;
    *cy = s ? sy / s : 0;
}

}  // namespace vectortest
