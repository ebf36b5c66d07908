// UTF-8 text to code points for the font engines; a text that is not
// well-formed is refused whole, and the engines then read it byte by byte.
#include <new>

#include "text/font.h"

namespace {

// Leading one bits of a lead byte give the sequence length; lengths of 2 to
// 5 keep these low bits as the code point's top bits.
int SequenceLength(uint8_t lead) {
    if (lead < 0x80) return 1;
    if (lead < 0xC0 || lead >= 0xFC) return 0;  // a lone continuation, or 6 and more
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    if (lead < 0xF8) return 4;
    return 5;
}

constexpr uint8_t kLeadMask[6] = {0, 0x7F, 31, 15, 7, 3};

}  // namespace

int DecodeUtf8Text(const char* text, size_t length, int isUtf8, std::vector<uint32_t>* out) {
    out->clear();
    if (!isUtf8 || (!text && length)) return 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    try {
        out->reserve(length);
        for (size_t i = 0; i < length;) {
            const int n = SequenceLength(bytes[i]);
            if (n == 0 || static_cast<size_t>(n) > length - i) {
                out->clear();
                return 0;
            }
            uint32_t code = bytes[i] & kLeadMask[n];
            for (int k = 1; k < n; ++k) {
                const uint8_t b = bytes[i + static_cast<size_t>(k)];
                if ((b & 0xC0) != 0x80) {
                    out->clear();
                    return 0;
                }
                code = code << 6 | (b & 0x3F);
            }
            out->push_back(code);
            i += static_cast<size_t>(n);
        }
    } catch (const std::bad_alloc&) {
        out->clear();
        return 0;
    }
    return 1;
}
