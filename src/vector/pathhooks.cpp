// The path renderer's calls into the vector engine, the fill of its colour
// image, the turned boxes it places images by, and the deep copy of a
// request that a path layer keeps.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "core/errcodes.h"
#include "draw/texturefill.h"
#include "imaging/bitmap.h"
#include "imaging/blit.h"
#include "vector/engine.h"
#include "vector/ftengine.h"
#include "vector/pathrender.h"
#include "vector/vectorengines.h"

namespace {

const double kIdentity[4] = {1, 0, 0, 1};

qbVectorEngine* EngineOf(qbVectorEngine* engine) { return engine ? engine : InbuiltVectorEngine(); }

bool PureScale(const double* m) { return m && m[1] == 0 && m[2] == 0; }

// What every draw call hands the engine; the style must outlive the call.
qbDrawPathArgs DrawArgs(const qbPathRequest& request, const qbVectorLineStyle& style, int filled,
                        int32_t strokeWidth, const double* matrix, int32_t width, int32_t height) {
    qbDrawPathArgs a{};
    a.commands = request.commands;
    a.style = &style;
    a.filled = filled;
    a.strokeWidth = strokeWidth;
    a.width = width;
    a.height = height;
    a.matrix = matrix ? matrix : kIdentity;
    return a;
}

}  // namespace

int64_t FloorToPixel(double v) { return v == v ? static_cast<int64_t>(std::clamp(std::floor(v), -4.0e18, 4.0e18)) : 0; }
int64_t CeilToPixel(double v) { return v == v ? static_cast<int64_t>(std::clamp(std::ceil(v), -4.0e18, 4.0e18)) : 0; }

int ClonePathRequest(const qbPathRequest& source, std::shared_ptr<qbPathRequest>* out) {
    std::shared_ptr<qbPathRequest> copy(new (std::nothrow) qbPathRequest(source));
    if (!copy) return ERR_MEM;
    if (source.commands) {
        const size_t size = source.capacity > 0 ? static_cast<size_t>(source.capacity) : 0;
        const size_t length = PathStreamLength(source.commands) + QB_PATH_CODE_SIZE;
        const size_t bytes = std::max(size, length);
        std::shared_ptr<uint8_t[]> stream(new (std::nothrow) uint8_t[bytes]);
        if (!stream) return ERR_MEM;
        std::memcpy(stream.get(), source.commands, length);
        copy->ownedCommands = std::move(stream);
        copy->commands = copy->ownedCommands.get();
        copy->capacity = static_cast<int32_t>(std::min<size_t>(bytes, INT32_MAX));
    }
    copy->ownedDashes.reset();
    copy->style.dashes = nullptr;
    if (source.style.dashes && source.style.dashCount > 0) {
        std::shared_ptr<double[]> dashes(new (std::nothrow) double[static_cast<size_t>(source.style.dashCount)]);
        if (!dashes) return ERR_MEM;
        std::copy(source.style.dashes, source.style.dashes + source.style.dashCount, dashes.get());
        copy->ownedDashes = std::move(dashes);
        copy->style.dashes = copy->ownedDashes.get();
    } else {
        copy->style.dashCount = 0;
    }
    *out = std::move(copy);
    return 0;
}

int FillPathCoverage(ScriptState* L, const qbPathRequest& request, qbBitmap* bitmap, int32_t width, int32_t height,
                     uint32_t colour, const double* matrix) {
    const qbDrawState& st = request.style.draw;
    if (st.fillStyle == FILLGRADIENT) return DrawGradient(bitmap, 0, 0, width, height, &st.gradient);
    if (st.fillStyle == FILLTEXTURE)
        return FillTextureRect(L, bitmap, 0, 0, width, height, st, PureScale(matrix) ? matrix : nullptr, false);
    FillBitmapRect(bitmap, 0, 0, width, height, colour & 0xFFFFFF);
    return 0;
}

bool CallDrawPathHook(const qbPathRequest& request, int filled, int32_t strokeWidth, const double* matrix,
                      qbBitmap* alpha, int32_t width, int32_t height, double x0, double y0, double x1, double y1) {
    qbVectorEngine* engine = EngineOf(request.engine);
    if (!alpha || !alpha->plane || !engine->hooks.drawPath) return false;
    const qbVectorLineStyle style = VectorLineStyleOf(request.style);
    qbDrawPathArgs a = DrawArgs(request, style, filled, strokeWidth, matrix, width, height);
    a.coverage = alpha->plane->data;
    a.bytesPerRow = static_cast<int32_t>(alpha->plane->rowBytes);
    if (engine->vectorExtension) {
        a.x1 = x0;
        a.y1 = y0;
    } else {
        a.x0 = x0;
        a.y0 = y0;
        a.x1 = x1;
        a.y1 = y1;
    }
    return CallEngineDrawPath(engine, &a) != 0;
}

bool CallDrawPathRows(const qbPathRequest& request, int filled, int32_t strokeWidth, const double* matrix,
                      int32_t width, int32_t height, double x0, double y0, const qbCoverageRows& rows) {
    const qbVectorLineStyle style = VectorLineStyleOf(request.style);
    qbDrawPathArgs a = DrawArgs(request, style, filled, strokeWidth, matrix, width, height);
    a.x1 = x0;
    a.y1 = y0;
    return DrawPathRows(a, rows);
}

bool CallGetPathExtents(qbVectorEngine* engine, const uint8_t* commands, const qbPathStyle& pathStyle, int filled,
                        int32_t strokeWidth, const double* matrix, double* x1, double* y1, double* x2, double* y2,
                        double originX, double originY) {
    engine = EngineOf(engine);
    *x1 = *y1 = *x2 = *y2 = 0;
    if (!commands || !engine->hooks.getPathExtents) return false;
    const qbVectorLineStyle style = VectorLineStyleOf(pathStyle);
    qbPathExtentsArgs a{};
    a.commands = commands;
    a.style = &style;
    a.filled = filled;
    a.strokeWidth = strokeWidth;
    a.originX = originX;
    a.originY = originY;
    a.matrix = matrix ? matrix : kIdentity;
    if (!CallEngineGetPathExtents(engine, &a)) return false;
    const double v[4] = {a.x1, a.y1, a.x2, a.y2};
    for (double d : v)
        if (!std::isfinite(d)) return false;
    *x1 = a.x1;
    *y1 = a.y1;
    *x2 = a.x2;
    *y2 = a.y2;
    return true;
}

qbBoxExtents TransformedBoxExtents(const double m[4], double pivotX, double pivotY, double x, double y, double width,
                                   double height) {
    const double px = width * pivotX, py = height * pivotY;
    const double corners[4][2] = {{0, 0}, {width - 1, 0}, {width - 1, height - 1}, {0, height - 1}};
    // The running box starts at the first corner: a fixed start would cut
    // boxes that lie far from the origin.
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    for (int i = 0; i < 4; ++i) {
        const double dx = corners[i][0] - px, dy = corners[i][1] - py;
        const double tx = m[0] * dx + m[2] * dy + px, ty = m[1] * dx + m[3] * dy + py;
        if (i == 0) {
            minX = maxX = tx;
            minY = maxY = ty;
        }
        minX = std::min(minX, tx), maxX = std::max(maxX, tx);
        minY = std::min(minY, ty), maxY = std::max(maxY, ty);
    }
    qbBoxExtents e;
    e.x = FloorToPixel(x + minX);
    e.y = FloorToPixel(y + minY);
    e.width = FloorToPixel(maxX - minX) + 1;
    e.height = FloorToPixel(maxY - minY) + 1;
    return e;
}

qbBoxExtents TransformPointsExtents(const double m[4], double* points, int32_t count, bool moveToOrigin, double pivotX,
                                    double pivotY) {
    qbBoxExtents e;
    if (count <= 0) return e;
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    for (int32_t i = 0; i < count; ++i) {
        const double dx = points[2 * i] - pivotX, dy = points[2 * i + 1] - pivotY;
        const double tx = m[0] * dx + m[2] * dy + pivotX, ty = m[1] * dx + m[3] * dy + pivotY;
        points[2 * i] = tx;
        points[2 * i + 1] = ty;
        if (i == 0) {
            minX = maxX = tx;
            minY = maxY = ty;
        }
        minX = std::min(minX, tx), maxX = std::max(maxX, tx);
        minY = std::min(minY, ty), maxY = std::max(maxY, ty);
    }
    if (moveToOrigin)
        for (int32_t i = 0; i < count; ++i) {
            points[2 * i] -= minX;
            points[2 * i + 1] -= minY;
        }
    e.x = FloorToPixel(minX);
    e.y = FloorToPixel(minY);
    e.width = FloorToPixel(maxX - minX) + 1;
    e.height = FloorToPixel(maxY - minY) + 1;
    return e;
}
