// File kinds by their magic bytes; text is what holds no control bytes.
#include "lib/file_kind.h"

#include <algorithm>
#include <cstring>

#include "vm/opcodes.h"

namespace {

constexpr size_t kTextProbeSize = 512;

bool StartsWith(const std::vector<uint8_t>& bytes, const void* magic, size_t size) {
    return bytes.size() >= size && std::memcmp(bytes.data(), magic, size) == 0;
}

bool LooksLikeText(const std::vector<uint8_t>& bytes) {
    const size_t n = std::min(bytes.size(), kTextProbeSize);
    return std::all_of(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n), [](uint8_t c) {
        return c >= 0x20 || c == '\t' || c == '\n' || c == '\r' || c == '\f';
    });
}

}  // namespace

FileKind DetectFileKind(const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return FileKind::Empty;
    if (StartsWith(bytes, kChunkSignature, sizeof kChunkSignature)) return FileKind::Chunk;
    // The container magics carry their NUL byte.
    if (StartsWith(bytes, "QBA", 4)) return FileKind::Applet;
    if (StartsWith(bytes, "QBZ", 4)) return FileKind::CompressedApplet;
    if (StartsWith(bytes, "\x7f" "ELF", 4)) return FileKind::Executable;
    return LooksLikeText(bytes) ? FileKind::Text : FileKind::Other;
}

const char* FileKindName(FileKind kind) {
    switch (kind) {
        case FileKind::Empty: return "an empty file";
        case FileKind::Chunk: return "a compiled chunk";
        case FileKind::Applet: return "an applet";
        case FileKind::CompressedApplet: return "a compressed applet";
        case FileKind::Executable: return "an executable";
        case FileKind::Text: return "a text file";
        case FileKind::Other: break;
    }
    return "a file of unknown kind";
}
