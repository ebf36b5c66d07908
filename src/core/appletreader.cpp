// Bounded reads of the applet container.
#include "core/appletreader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/errcodes.h"

namespace {

// Strings end with this byte in the complemented include-table form.
constexpr uint8_t kComplementedEnd = 0xFF;

}  // namespace

int AppletReader::Bytes(void* out, uint64_t n) {
    if (n > Remaining()) return ERR_READ;
    size_t got = FileRead(file_, out, static_cast<size_t>(n));
    pos_ += static_cast<int64_t>(got);
    return got == n ? 0 : ERR_READ;
}

int AppletReader::Skip(uint64_t n) {
    if (n > Remaining()) return ERR_READ;
    if (n == 0) return 0;
    if (FileSeek(file_, static_cast<int64_t>(n), kSeekCurrent) < 0) return ERR_READ;
    pos_ += static_cast<int64_t>(n);
    return 0;
}

int AppletReader::U8(uint8_t& v) {
    if (AtEnd()) return ERR_READ;
    int c = FileGetC(file_);
    if (c < 0) return ERR_READ;
    ++pos_;
    v = static_cast<uint8_t>(c);
    return 0;
}

int AppletReader::I16(int16_t& v) {
    unsigned char b[2];
    if (int err = Bytes(b, 2)) return err;
    v = static_cast<int16_t>((b[0] << 8) | b[1]);
    return 0;
}

int AppletReader::U32(uint32_t& v) {
    unsigned char b[4];
    if (int err = Bytes(b, 4)) return err;
    v = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    return 0;
}

int AppletReader::Double(double& v) {
    unsigned char b[8];
    if (int err = Bytes(b, 8)) return err;
    uint64_t bits = 0;
    for (unsigned char byte : b) bits = (bits << 8) | byte;
    std::memcpy(&v, &bits, sizeof v);
    return 0;
}

int AppletReader::CString(std::string& out, size_t fieldSize) {
    out.clear();
    if (fieldSize == 0) return ERR_READ;
    for (;;) {
        uint8_t c;
        if (int err = U8(c)) return err;
        if (c == 0) return 0;
        if (out.size() + 1 >= fieldSize) return ERR_READ;
        out += static_cast<char>(c);
    }
}

int AppletReader::CString(char* field, size_t fieldSize) {
    std::string s;
    if (int err = CString(s, fieldSize)) return err;
    std::memcpy(field, s.c_str(), s.size() + 1);
    return 0;
}

int AppletReader::ComplementedString(std::string& out, size_t fieldSize) {
    out.clear();
    if (fieldSize == 0) return ERR_READ;
    for (;;) {
        uint8_t c;
        if (int err = U8(c)) return err;
        if (c == kComplementedEnd) return 0;
        if (out.size() + 1 >= fieldSize) return ERR_READ;
        out += static_cast<char>(~c & 0xFF);
    }
}

int AppletReader::ShortString(std::string& out, size_t maxLength) {
    int16_t length;
    if (int err = I16(length)) return err;
    if (length < 0 || static_cast<size_t>(length) > maxLength) return ERR_READ;
    out.resize(static_cast<size_t>(length));
    return Bytes(out.data(), out.size());
}

int AppletReader::StringAt(uint32_t offset, uint32_t size, std::string& out) {
    out.clear();
    if (size == 0) return 0;
    if (!FitsApplet(offset, size)) return ERR_READ;
    // The text ends at its zero byte: a piece at a time, so that what the
    // size field claims past it is never read.
    if (FileSeek(file_, base_ + offset, kSeekBeginning) < 0) return ERR_READ;
    char piece[4096];
    bool ended = false;
    for (uint32_t done = 0; done < size && !ended;) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(size - done, sizeof piece));
        if (FileRead(file_, piece, n) != n) return ERR_READ;
        const void* nul = std::memchr(piece, 0, n);
        const size_t text = nul ? static_cast<size_t>(static_cast<const char*>(nul) - piece) : n;
        out.append(piece, text);
        ended = nul != nullptr;
        done += n;
    }
    if (FileSeek(file_, pos_, kSeekBeginning) < 0 || !ended) {
        out.clear();
        return ERR_READ;
    }
    return 0;
}
