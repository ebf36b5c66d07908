// A path's command stream turned into FreeType contours: each sub-path is
// collected whole so that its kind (open or closed) is known before the
// stroker sees it; the fill outline and the stroke are both made from it.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cstdint>
#include <vector>

struct qbSubPath {
    std::vector<FT_Vector> points;  // 26.6, y down
    std::vector<char> tags;         // FT_CURVE_TAG_ON, _CONIC or _CUBIC
    bool closed = false;
};

struct qbPathGeometry {
    std::vector<qbSubPath> subPaths;
    size_t pointCount = 0;
    double currentX = 0;
    double currentY = 0;
};

// FreeType counts outline points and contours in 16 bits.
constexpr size_t kMaxOutlinePoints = 32767;
// Coordinates beyond this many pixels are clamped before going to 26.6.
constexpr double kMaxCoordinate = 16777216.0;

// Collects the stream's sub-paths, absolute points moved by the offsets.
// False for a non-finite coordinate or more points than an outline holds.
// Without keepPoints only the current point is followed (no point limit).
bool BuildPathGeometry(const uint8_t* commands, double offsetX, double offsetY, qbPathGeometry* out,
                       bool keepPoints = true);
// Moves absolute points, arc centres and box corners by dx, dy in place.
void TranslatePathStream(uint8_t* commands, double dx, double dy);

// The builder the stream walker and the draw library's curved shapes share.
class qbPathBuilder {
public:
    explicit qbPathBuilder(qbPathGeometry* out, bool keepPoints = true) : out_(out), keep_(keepPoints) {}
    bool ok() const { return ok_; }
    bool open() const { return open_; }
    void MoveTo(double x, double y);  // begins a sub-path
    void LineTo(double x, double y);
    void CubicTo(double x1, double y1, double x2, double y2, double x3, double y3);
    void ConicTo(double x1, double y1, double x2, double y2);
    void EndSubPath(bool closed);
    // An elliptic arc about (xc, yc) from start to end (degrees), through
    // rising angles for a nonzero direction. Joins the open sub-path with a
    // line, else begins one at the arc's start. wedge: from the centre and
    // back to it, unless the sweep is full.
    void AddArc(double xc, double yc, double rx, double ry, double start, double end, int direction, bool wedge);
    // A closed box from (x1, y1) to (x2, y2) with corners a (top left), b
    // (bottom left), c (bottom right), d (top right) rounded 0..100 %.
    void AddRoundedBox(double x1, double y1, double x2, double y2, const int32_t corners[4]);
    // Cubic pieces added so far (for the tests).
    int cubicCount() const { return cubics_; }

private:
    void Add(double x, double y, char tag);
    qbPathGeometry* out_;
    bool keep_;
    bool ok_ = true;
    bool open_ = false;
    double startX_ = 0;
    double startY_ = 0;
    int cubics_ = 0;
};
