// The stream walker, the arc and rounded-box builders, and translation.
#include "vector/geometry.h"

#include FT_SIZES_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "vector/path.h"

namespace {

constexpr double kPi = std::numbers::pi;
// Largest distance a cubic arc piece may stray from the true ellipse.
constexpr double kArcTolerance = 0.1;

FT_Pos To26Dot6(double v) {
    v = std::clamp(v, -kMaxCoordinate, kMaxCoordinate);
    return static_cast<FT_Pos>(std::lround(v * 64.0));
}

// Glyph outlines arrive y up around the pen; the path's y grows downwards.
struct GlyphSink {
    qbPathBuilder* builder;
    double penX;
    double penY;
    double X(const FT_Vector* v) const { return penX + v->x / 64.0; }
    double Y(const FT_Vector* v) const { return penY - v->y / 64.0; }
};

int GlyphMove(const FT_Vector* to, void* user) {
    auto* s = static_cast<GlyphSink*>(user);
    if (s->builder->open()) s->builder->EndSubPath(true);
    s->builder->MoveTo(s->X(to), s->Y(to));
    return 0;
}

int GlyphLine(const FT_Vector* to, void* user) {
    auto* s = static_cast<GlyphSink*>(user);
    s->builder->LineTo(s->X(to), s->Y(to));
    return 0;
}

int GlyphConic(const FT_Vector* c, const FT_Vector* to, void* user) {
    auto* s = static_cast<GlyphSink*>(user);
    s->builder->ConicTo(s->X(c), s->Y(c), s->X(to), s->Y(to));
    return 0;
}

int GlyphCubic(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
    auto* s = static_cast<GlyphSink*>(user);
    s->builder->CubicTo(s->X(c1), s->Y(c1), s->X(c2), s->Y(c2), s->X(to), s->Y(to));
    return 0;
}

// The next character of a text limited to Latin-1; a lead byte at the end
// of the text ends it rather than reaching past the terminator.
bool NextLatin1(const uint8_t*& p, uint32_t* code) {
    if (*p == 0) return false;
    const uint8_t lead = *p++;
    if (lead < 0x80) {
        *code = lead;
        return true;
    }
    if (*p == 0) return false;
    const uint8_t b = *p++;
    *code = lead < 0xC0 ? static_cast<uint32_t>(b - 0x80) & 0xFF : (b + 0x40u) & 0xFF;
    return true;
}

// Adds the glyph outlines of a text command at the current point, each
// contour a closed sub-path, and advances the pen.
void AddText(qbPathBuilder& builder, qbPathGeometry* geometry, FT_Face face, int32_t size, const uint8_t* text) {
    if (!face || size <= 0) return;
    // A size of our own, so that the font engine's glyph sizes stay as they are.
    FT_Size previous = face->size;
    FT_Size own = nullptr;
    if (FT_New_Size(face, &own) != 0) return;
    FT_Activate_Size(own);
    if (FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(std::min(size, 65535)) * 64, 72, 72) == 0) {
        const FT_Outline_Funcs funcs{GlyphMove, GlyphLine, GlyphConic, GlyphCubic, 0, 0};
        uint32_t code = 0;
        while (builder.ok() && NextLatin1(text, &code)) {
            const FT_UInt index = FT_Get_Char_Index(face, code);
            if (FT_Load_Glyph(face, index, FT_LOAD_NO_BITMAP) != 0) break;
            if (face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) break;
            GlyphSink sink{&builder, geometry->currentX, geometry->currentY};
            FT_Outline_Decompose(&face->glyph->outline, &funcs, &sink);
            if (builder.open()) builder.EndSubPath(true);
            geometry->currentX = sink.penX + face->glyph->advance.x / 64.0;
            geometry->currentY = sink.penY;
        }
    }
    FT_Activate_Size(previous);
    FT_Done_Size(own);
}

}  // namespace

void qbPathBuilder::Add(double x, double y, char tag) {
    if (!std::isfinite(x) || !std::isfinite(y) || (keep_ && out_->pointCount >= kMaxOutlinePoints)) {
        ok_ = false;
        return;
    }
    if (!keep_) return;
    qbSubPath& s = out_->subPaths.back();
    s.points.push_back(FT_Vector{To26Dot6(x), To26Dot6(y)});
    s.tags.push_back(tag);
    ++out_->pointCount;
}

void qbPathBuilder::MoveTo(double x, double y) {
    if (open_) EndSubPath(false);
    if (!ok_) return;
    out_->subPaths.emplace_back();
    open_ = true;
    Add(x, y, FT_CURVE_TAG_ON);
    startX_ = out_->currentX = x;
    startY_ = out_->currentY = y;
}

void qbPathBuilder::LineTo(double x, double y) {
    if (!open_) return MoveTo(x, y);
    Add(x, y, FT_CURVE_TAG_ON);
    out_->currentX = x;
    out_->currentY = y;
}

void qbPathBuilder::CubicTo(double x1, double y1, double x2, double y2, double x3, double y3) {
    if (!open_) MoveTo(x1, y1);
    Add(x1, y1, FT_CURVE_TAG_CUBIC);
    Add(x2, y2, FT_CURVE_TAG_CUBIC);
    Add(x3, y3, FT_CURVE_TAG_ON);
    out_->currentX = x3;
    out_->currentY = y3;
    ++cubics_;
}

void qbPathBuilder::ConicTo(double x1, double y1, double x2, double y2) {
    if (!open_) MoveTo(x1, y1);
    Add(x1, y1, FT_CURVE_TAG_CONIC);
    Add(x2, y2, FT_CURVE_TAG_ON);
    out_->currentX = x2;
    out_->currentY = y2;
}

void qbPathBuilder::EndSubPath(bool closed) {
    if (!open_) return;
    open_ = false;
    out_->subPaths.back().closed = closed;
    if (closed) {
        out_->currentX = startX_;
        out_->currentY = startY_;
    }
}

void qbPathBuilder::AddArc(double xc, double yc, double rx, double ry, double start, double end, int direction,
                           bool wedge) {
    double t0 = start * kPi / 180.0;
    double t1 = end * kPi / 180.0;
    if (!std::isfinite(t0) || !std::isfinite(t1) || !std::isfinite(rx) || !std::isfinite(ry)) {
        ok_ = false;
        return;
    }
    // Bring the end within one turn of the start, in the arc's direction.
    if (direction) {
        if (t1 < t0) t1 += std::ceil((t0 - t1) / (2 * kPi)) * 2 * kPi;
    } else if (t1 > t0) {
        t1 -= std::ceil((t1 - t0) / (2 * kPi)) * 2 * kPi;
    }
    double sweep = t1 - t0;
    if (std::fabs(sweep) > 4 * kPi) sweep = std::fmod(sweep, 2 * kPi);
    const bool full = std::fabs(sweep) >= 2 * kPi - 1e-12;
    const double sx = xc + rx * std::cos(t0);
    const double sy = yc + ry * std::sin(t0);
    if (wedge && !full) {
        if (open_) LineTo(xc, yc);
        else MoveTo(xc, yc);
        LineTo(sx, sy);
    } else if (open_) {
        LineTo(sx, sy);
    } else {
        MoveTo(sx, sy);
    }
    // Halves of at most pi, each cut further until a cubic strays no more
    // than the tolerance from the ellipse.
    int pieces = std::max(1, static_cast<int>(std::ceil(std::fabs(sweep) / kPi - 1e-12)));
    const double radius = std::max(std::fabs(rx), std::fabs(ry));
    while (pieces < 4096) {
        const double q = std::fabs(sweep) / pieces / 4;
        const double s6 = std::pow(std::sin(q), 6);
        if (radius * (2.0 / 27.0) * s6 / (std::cos(q) * std::cos(q)) <= kArcTolerance) break;
        pieces *= 2;
    }
    const double s = sweep / pieces;
    if (s != 0) {
        const double k = 4.0 / 3.0 * std::tan(s / 4);
        for (int i = 0; i < pieces && ok_; ++i) {
            const double a0 = t0 + s * i;
            const double a1 = (i + 1 == pieces) ? t0 + sweep : a0 + s;
            const double c0 = std::cos(a0), s0 = std::sin(a0), c1 = std::cos(a1), s1 = std::sin(a1);
            CubicTo(xc + rx * (c0 - k * s0), yc + ry * (s0 + k * c0), xc + rx * (c1 + k * s1), yc + ry * (s1 - k * c1),
                    xc + rx * c1, yc + ry * s1);
        }
    }
    if (wedge && !full) LineTo(xc, yc);
}

void qbPathBuilder::AddRoundedBox(double x1, double y1, double x2, double y2, const int32_t corners[4]) {
    if (open_) EndSubPath(false);
    const double w = std::trunc(x2 - x1);
    const double h = std::trunc(y2 - y1);
    const double half = std::min(w, h) / 2;
    double r[4];
    for (int i = 0; i < 4; ++i) r[i] = corners[i] < 1 ? 0 : std::min(corners[i], 100) / 100.0 * half;
    const auto corner = [&](double rr, double cx, double cy, double a0, double a1, double px, double py) {
        if (rr > 0) AddArc(cx, cy, rr, rr, a0, a1, 0, false);
        else LineTo(px, py);
    };
    MoveTo(x1 + r[0], y1);
    corner(r[0], x1 + r[0], y1 + r[0], 270, 180, x1, y1);
    LineTo(x1, y2 - r[1]);
    corner(r[1], x1 + r[1], y2 - r[1], 180, 90, x1, y2);
    LineTo(x2 - r[2], y2);
    corner(r[2], x2 - r[2], y2 - r[2], 90, 0, x2, y2);
    LineTo(x2, y1 + r[3]);
    corner(r[3], x2 - r[3], y1 + r[3], 360, 270, x2, y1);
    LineTo(x2 - r[3], y1);
    EndSubPath(true);
}

bool BuildPathGeometry(const uint8_t* commands, double ox, double oy, qbPathGeometry* out, bool keepPoints) {
    *out = qbPathGeometry{};
    // The pen starts at the origin too: text or a relative move before any
    // absolute point moves with the rest of the path.
    out->currentX = ox;
    out->currentY = oy;
    qbPathBuilder b(out, keepPoints);
    if (!commands) return true;
    for (const uint8_t* p = commands; b.ok();) {
        const size_t size = PathCommandSize(p);
        if (size == 0) break;
        const int32_t code = ReadPathInt(p);
        const uint8_t* a = p + 4;
        const auto D = [a](int i, int skip) { return ReadPathDouble(a + skip + 8 * i); };
        switch (code) {
        case QB_PATH_MOVE:
        case QB_PATH_LINE:
        case QB_PATH_CURVE: {
            const bool rel = ReadPathInt(a) != 0;
            const double bx = rel ? out->currentX : ox;
            const double by = rel ? out->currentY : oy;
            if (code == QB_PATH_CURVE) {
                b.CubicTo(bx + D(0, 4), by + D(1, 4), bx + D(2, 4), by + D(3, 4), bx + D(4, 4), by + D(5, 4));
            } else if (code == QB_PATH_LINE) {
                b.LineTo(bx + D(0, 4), by + D(1, 4));
            } else if (ReadPathInt(p + size) == QB_PATH_TEXT) {
                // Text places itself at the point and needs no sub-path.
                b.EndSubPath(false);
                out->currentX = bx + D(0, 4);
                out->currentY = by + D(1, 4);
                if (!std::isfinite(out->currentX) || !std::isfinite(out->currentY)) return false;
            } else {
                b.MoveTo(bx + D(0, 4), by + D(1, 4));
            }
            break;
        }
        case QB_PATH_CLOSE: b.EndSubPath(true); break;
        case QB_PATH_ARC:
            b.AddArc(ox + D(0, 0), oy + D(1, 0), D(2, 0), D(3, 0), D(4, 0), D(5, 0), ReadPathInt(a + 48), false);
            break;
        case QB_PATH_BOX: {
            int32_t corners[4];
            std::memcpy(corners, a + 32, sizeof corners);
            const double x = ox + D(0, 0), y = oy + D(1, 0);
            b.AddRoundedBox(x, y, x + D(2, 0), y + D(3, 0), corners);
            break;
        }
        case QB_PATH_TEXT:
            b.EndSubPath(false);
            AddText(b, out, static_cast<FT_Face>(ReadPathPointer(a)), ReadPathInt(a + 8), a + QB_PATH_TEXT_ARGS);
            break;
        default: break;
        }
        p += size;
    }
    b.EndSubPath(false);
    return b.ok() && std::isfinite(out->currentX) && std::isfinite(out->currentY);
}

void TranslatePathStream(uint8_t* commands, double dx, double dy) {
    if (!commands) return;
    for (uint8_t* p = commands;;) {
        const size_t size = PathCommandSize(p);
        if (size == 0) return;
        const int32_t code = ReadPathInt(p);
        uint8_t* a = p + 4;
        const auto Move = [&](uint8_t* at) {
            WritePathDouble(at, ReadPathDouble(at) + dx);
            WritePathDouble(at + 8, ReadPathDouble(at + 8) + dy);
        };
        if ((code == QB_PATH_MOVE || code == QB_PATH_LINE || code == QB_PATH_CURVE) && ReadPathInt(a) == 0) {
            const int points = code == QB_PATH_CURVE ? 3 : 1;
            for (int i = 0; i < points; ++i) Move(a + 4 + 16 * i);
        } else if (code == QB_PATH_ARC || code == QB_PATH_BOX) {
            Move(a);
        }
        p += size;
    }
}
