// Sequential reads of an applet container with the position and the file size
// known, so that no size or offset read from the file is trusted before it is
// checked. A short read, a string longer than its field or one that the end
// of the file cuts off gives ERR_READ; nothing is written past a field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/file.h"

class AppletReader {
public:
    // base: offset of the applet in the file; position: where reading starts.
    AppletReader(qbFile* file, int64_t base, int64_t position, int64_t fileSize)
        : file_(file), base_(base), pos_(position), size_(fileSize) {}

    qbFile* File() const { return file_; }
    int64_t Position() const { return pos_; }
    int64_t Base() const { return base_; }
    uint64_t Remaining() const { return pos_ < size_ ? static_cast<uint64_t>(size_ - pos_) : 0; }
    bool AtEnd() const { return pos_ >= size_; }
    // Whether [offset, offset + size) from the applet base lies inside the file.
    bool FitsApplet(uint64_t offset, uint64_t size) const {
        uint64_t appletSize = size_ > base_ ? static_cast<uint64_t>(size_ - base_) : 0;
        return offset <= appletSize && size <= appletSize - offset;
    }

    int Bytes(void* out, uint64_t n);
    int Skip(uint64_t n);
    int U8(uint8_t& v);
    int I16(int16_t& v);
    int U32(uint32_t& v);
    int I32(int32_t& v) {
        uint32_t u;
        if (int err = U32(u)) return err;
        v = static_cast<int32_t>(u);
        return 0;
    }
    int Double(double& v);

    // A NUL-ended string that fits a field of fieldSize bytes with its NUL.
    int CString(std::string& out, size_t fieldSize);
    int CString(char* field, size_t fieldSize);
    // A string stored with every byte complemented and ended by 0xFF.
    int ComplementedString(std::string& out, size_t fieldSize);
    // An i16 length, then that many bytes; refused above maxLength.
    int ShortString(std::string& out, size_t maxLength);
    // A NUL-ended string of size bytes at offset from the applet base; the
    // NUL must lie inside them. The reading position is kept.
    int StringAt(uint32_t offset, uint32_t size, std::string& out);

private:
    qbFile* file_;
    int64_t base_;
    int64_t pos_;
    int64_t size_;
};
