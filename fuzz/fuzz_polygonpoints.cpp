// Fuzz target of the polygon point table reader: the input picks the
// count (0, which reads pairs until a nil, or 2..999) and fills a table
// with numbers (NaN, infinities and huge values among them), strings,
// booleans and holes; the reader must return 0 with a closed list inside
// its box, or one of its errors.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "core/errcodes.h"
#include "core/errors.h"
#include "draw/shape.h"
#include "vm/vm.h"
#include "fuzznote.h"

namespace {

const double kNumbers[] = {0,
                           1,
                           -1,
                           0.5,
                           -0.5,
                           2.5,
                           1000,
                           -1000,
                           1e9,
                           -1e9,
                           1e300,
                           -1e300,
                           std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity(),
                           2147483647.0,
                           -2147483648.0};
constexpr size_t kNumberCount = sizeof kNumbers / sizeof kNumbers[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    ScriptState* L = VmOpen();
    if (!L) return 0;
    const int32_t count = data[0] & 1 ? 0 : 2 + ((data[0] >> 1) | (data[1] << 7)) % 998;
    VmPushNewTable(L);
    int index = 0;
    for (size_t i = 2; i < size && index < 2 * kMaxPolygonPoints + 4; ++i, ++index) {
        const uint8_t b = data[i];
        switch (b >> 6) {
        case 0: VmPushNumber(L, static_cast<double>(static_cast<int8_t>(b << 2) >> 2)); break;
        case 1: VmPushNumber(L, kNumbers[b % kNumberCount]); break;
        case 2:
            if (b & 1)
                VmPushString(L, "12");
            else
                VmPushBoolean(L, 1);
            break;
        default: continue;  // a hole
        }
        VmRawSetIndex(L, 1, index);
    }
    qbPolygonPoints out;
    SetErrorDetail("");
    const int err = ParsePolygonPoints(L, 1, count, &out);
    FuzzNoteValue(err);
    const char* detail = GetErrorDetail();
    FuzzNoteText(detail ? detail : "");
    if (err == 0) {
        FuzzNoteValue(out.left);
        FuzzNoteValue(out.top);
        FuzzNoteValue(out.width);
        FuzzNoteValue(out.height);
        FuzzNoteValue(static_cast<int64_t>(out.points.size()));
        for (const qbPointD& p : out.points) {
            FuzzNoteNumber(p.x);
            FuzzNoteNumber(p.y);
        }
    }
    if (err == 0) {
        if (!out.points.empty()) {
            const qbPointD& first = out.points.front();
            const qbPointD& last = out.points.back();
            const bool closed = first.x == last.x && first.y == last.y;
            if (!closed || out.points.size() > static_cast<size_t>(kMaxPolygonPoints) + 1) __builtin_trap();
        }
    } else if (err != ERR_NUMTABLEARG && err != ERR_WRONGUSAGE && err != ERR_INTERNAL && err != ERR_BITMAP) {
        __builtin_trap();
    }
    if (VmGetTop(L) != 1) __builtin_trap();
    VmClose(L);
    return 0;
}
