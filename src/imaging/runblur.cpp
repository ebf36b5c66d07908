// Both passes walk the runs of each line (a column is gathered into a line
// first). Lines the same as the one before give the same output, so after
// the row pass a column changes value only where the source's rows change:
// the column pass's runs are counted from that before either pass runs.
#include "imaging/runblur.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "core/errcodes.h"
#include "imaging/channels.h"
#include "imaging/convolve.h"
#include "imaging/planeblur.h"

namespace {

// Runs are the cheaper road when they cost less than a quarter of the
// taps: the taps' loops are vectorised, the runs' are not.
constexpr uint64_t kTapsPerRunStep = 4;

struct Run {
    int64_t from, to;  // [from, to)
    double value;
};

// The runs of line[0, n) with a value other than 0, and the edge values
// that repeat beyond it (as runs reaching past the line, when not 0).
void ReadRuns(const uint8_t* line, int64_t n, int64_t half, std::vector<Run>& runs) {
    runs.clear();
    if (line[0]) runs.push_back({-half - 1, 0, static_cast<double>(line[0])});
    for (int64_t i = 0; i < n;) {
        int64_t j = i + 1;
        while (j < n && line[j] == line[i]) ++j;
        if (line[i]) runs.push_back({i, j, static_cast<double>(line[i])});
        i = j;
    }
    if (line[n - 1]) runs.push_back({n, n + half + 1, static_cast<double>(line[n - 1])});
}

// out[x] = sum over t of kernel[t] * line[x + t - half], the line's ends
// repeating, through the prefix sums of the kernel.
void BlurLine(const std::vector<Run>& runs, int64_t n, const std::vector<double>& prefix, int64_t half,
              uint8_t* out) {
    const auto k = static_cast<int64_t>(prefix.size()) - 1;
    std::memset(out, 0, static_cast<size_t>(n));
    if (runs.empty()) return;
    // Outputs further than half from every run are 0.
    const int64_t first = std::max<int64_t>(0, runs.front().from - half);
    const int64_t last = std::min<int64_t>(n, runs.back().to + half);
    for (int64_t x = first; x < last; ++x) {
        double sum = 0;
        for (const Run& r : runs) {
            const int64_t lo = std::clamp<int64_t>(r.from - x + half, 0, k);
            const int64_t hi = std::clamp<int64_t>(r.to - x + half, 0, k);
            if (hi > lo) sum += r.value * (prefix[static_cast<size_t>(hi)] - prefix[static_cast<size_t>(lo)]);
        }
        out[x] = ClampChannel(sum);
    }
}

size_t CountRuns(const uint8_t* line, int64_t n) {
    size_t runs = line[0] ? 2 : 0;
    for (int64_t i = 0; i < n; ++i)
        if (line[i] && (i == 0 || line[i] != line[i - 1])) ++runs;
    return runs + (line[n - 1] ? 1 : 0);
}

struct Plan {
    std::vector<double> kernel;
    uint64_t runWork = 0;
    uint64_t tapWork = 0;
};

// The kernel and what each road would cost on the plane.
Plan PlanBlur(const uint8_t* data, int32_t width, int32_t height, uint32_t rowBytes, double radius, double sigma) {
    Plan plan;
    plan.kernel = BlurKernelFor(radius, sigma);
    const auto w = static_cast<uint64_t>(width);
    const auto h = static_cast<uint64_t>(height);
    plan.tapWork = 2 * w * h * plan.kernel.size();
    // Rows: each output of a row adds that row's runs. Columns: a column
    // changes value at most where a row differs from the one before.
    uint64_t rowRuns = 0, rowChanges = 1;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = data + static_cast<size_t>(y) * rowBytes;
        rowRuns += CountRuns(row, width);
        if (y > 0 && std::memcmp(row, row - rowBytes, w) != 0) ++rowChanges;
    }
    plan.runWork = w * rowRuns + w * h * (rowChanges + 2) + w * h;
    return plan;
}

}  // namespace

uint64_t RunBlurWork(const uint8_t* data, int32_t width, int32_t height, uint32_t rowBytes, double radius,
                     double sigma) {
    if (width < 1 || height < 1) return 0;
    const Plan plan = PlanBlur(data, width, height, rowBytes, radius, sigma);
    return plan.runWork * kTapsPerRunStep < plan.tapWork ? plan.runWork : plan.tapWork;
}

int BlurRunPlane8(uint8_t* data, int32_t width, int32_t height, uint32_t rowBytes, double radius, double sigma) {
    if (width < 1 || height < 1) return 0;
    Plan plan;
    try {
        plan = PlanBlur(data, width, height, rowBytes, radius, sigma);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    if (plan.kernel.empty() || plan.runWork * kTapsPerRunStep >= plan.tapWork)
        return BlurPlane8(data, width, height, rowBytes, radius, sigma);
    const auto k = static_cast<int64_t>(plan.kernel.size());
    const int64_t half = k / 2;
    const auto w = static_cast<size_t>(width);
    const auto h = static_cast<size_t>(height);
    std::vector<double> prefix;
    std::vector<Run> runs;
    std::vector<uint8_t> line, out;
    try {
        prefix.assign(plan.kernel.size() + 1, 0.0);
        runs.reserve(std::max(w, h) + 2);
        line.resize(h);
        out.resize(std::max(w, h));
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    for (size_t i = 0; i < plan.kernel.size(); ++i) prefix[i + 1] = prefix[i] + plan.kernel[i];
    for (size_t y = 0; y < h; ++y) {
        uint8_t* row = data + y * rowBytes;
        ReadRuns(row, width, half, runs);
        BlurLine(runs, width, prefix, half, out.data());
        std::memcpy(row, out.data(), w);
    }
    for (size_t x = 0; x < w; ++x) {
        for (size_t y = 0; y < h; ++y) line[y] = data[y * rowBytes + x];
        ReadRuns(line.data(), height, half, runs);
        BlurLine(runs, height, prefix, half, out.data());
        for (size_t y = 0; y < h; ++y) data[y * rowBytes + x] = out[y];
    }
    return 0;
}
