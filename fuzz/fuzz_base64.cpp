// Fuzz target of Base64: any text decodes or is refused, what decodes encodes
// to text that decodes the same, and any bytes survive encoding.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/errcodes.h"
#include "libs/base64.h"
#include "fuzznote.h"

namespace {

std::vector<uint8_t> Encode(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out(Base64EncodedSize(size));
    size_t count = 0;
    if (EncodeBase64(nullptr, nullptr, out.data(), data, size, &count, 0) != 0 || count != out.size())
        __builtin_trap();
    FuzzNote(out.data(), out.size());
    return out;
}

int Decode(const std::vector<uint8_t>& text, std::vector<uint8_t>* out) {
    out->assign(Base64DecodedBound(text.size()), 0);
    size_t count = 0;
    const int err = DecodeBase64(text.data(), text.size(), out->data(), nullptr, &count);
    if (count > out->size()) __builtin_trap();
    out->resize(count);
    FuzzNoteValue(err);
    FuzzNoteValue(static_cast<int64_t>(count));
    FuzzNote(out->data(), out->size());
    return err;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> input(data, data + size);
    std::vector<uint8_t> decoded;
    const int err = Decode(input, &decoded);
    if (err != 0 && err != ERR_BADBASE64) __builtin_trap();
    if (err == 0) {
        std::vector<uint8_t> again;
        if (Decode(Encode(decoded.data(), decoded.size()), &again) != 0 || again != decoded) __builtin_trap();
    }
    std::vector<uint8_t> back;
    if (Decode(Encode(data, size), &back) != 0 || back != input) __builtin_trap();
    return 0;
}
