#include "core/recordread.h"

#include <algorithm>
#include <new>

namespace {

constexpr size_t kReadStep = size_t{1} << 20;

}  // namespace

bool ReadRecordPrefix(qbFile* file, int64_t position, uint64_t declared, size_t used, int64_t end,
                      std::vector<uint8_t>* out) {
    out->clear();
    if (position < 0 || position > end || declared > static_cast<uint64_t>(end - position)) return false;
    const auto wanted = static_cast<size_t>(std::min<uint64_t>(declared, used));
    if (wanted == 0) return true;
    if (FileSeek(file, position, kSeekBeginning) < 0) return false;
    // In steps all the same: a file adapter's size may promise more than it
    // hands out, and memory grows only with bytes really read.
    for (size_t done = 0; done < wanted;) {
        const size_t step = std::min(wanted - done, kReadStep);
        try {
            out->resize(done + step);
        } catch (const std::bad_alloc&) {
            return false;
        }
        if (FileRead(file, out->data() + done, step) != step) return false;
        done += step;
    }
    return true;
}

bool ReadWholeRecord(qbFile* file, int64_t position, uint64_t declared, uint64_t limit, int64_t end,
                     std::vector<uint8_t>* out) {
    out->clear();
    if (declared > limit || declared > SIZE_MAX) return false;
    return ReadRecordPrefix(file, position, declared, static_cast<size_t>(declared), end, out);
}
