// Fuzz target of ByteRun1: the input packed and unpacked must come back
// unchanged within the worst-case size; the input unpacked as a run stream
// into a row of a length it picks must stay inside the row.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzznote.h"
#include "imaging/ilbm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::vector<uint8_t> packed(ByteRun1WorstCase(size));
    const size_t n = PackByteRun1Row(data, size, packed.data());
    if (n > packed.size()) std::abort();
    FuzzNoteValue(static_cast<int64_t>(n));
    FuzzNote(packed.data(), n);
    std::vector<uint8_t> back(size);
    if (UnpackByteRun1(packed.data(), n, back.data(), back.size()) != n) std::abort();
    if (!std::equal(back.begin(), back.end(), data)) std::abort();

    std::vector<uint8_t> row(1 + data[0] % 200u);
    FuzzNoteValue(static_cast<int64_t>(UnpackByteRun1(data + 1, size - 1, row.data(), row.size())));
    FuzzNote(row.data(), row.size());
    return 0;
}
