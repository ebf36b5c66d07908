// Fuzz target of FormatStr's formatter: a format and the values its
// conversions take, both from the input. Every answer is a text or one of
// the formatter's errors; a conversion never writes past what it measured.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/errcodes.h"
#include "libs/strformat.h"
#include "fuzznote.h"

namespace {

struct Input {
    const uint8_t* p;
    size_t left;
};

// Numbers are the next eight bytes as a double (NaN and the infinities
// among them); strings a length byte and that many bytes.
int Next(void* context, bool wantString, qbFormatValue* out) {
    auto* in = static_cast<Input*>(context);
    if (wantString) {
        if (in->left < 1) return ERR_STREXPECTED;
        const size_t n = in->p[0] < in->left - 1 ? in->p[0] : in->left - 1;
        out->text = reinterpret_cast<const char*>(in->p + 1);
        out->length = n;
        in->p += n + 1;
        in->left -= n + 1;
        return 0;
    }
    if (in->left < 8) return ERR_NUMEXPECTED;
    std::memcpy(&out->number, in->p, 8);
    in->p += 8;
    in->left -= 8;
    return 0;
}

}  // namespace

// Input: a byte with the format's length, the format, then the values.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t formatLength = data[0] < size - 1 ? data[0] : size - 1;
    const std::string format(reinterpret_cast<const char*>(data + 1), formatLength);
    Input in{data + 1 + formatLength, size - 1 - formatLength};
    std::string out;
    const int err = FormatText(format.data(), format.size(), Next, &in, out);
    if (err != 0 && err != ERR_WRONGUSAGE && err != ERR_NUMEXPECTED && err != ERR_STREXPECTED && err != ERR_MEM)
        __builtin_trap();
    FuzzNoteValue(err);
    FuzzNoteText(out);
    FuzzNoteValue(static_cast<int64_t>(in.left));
    return 0;
}
