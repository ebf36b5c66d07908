// The ELF file checks made before dlopen; see elfcheck.h.
#include "plugins/elfcheck.h"

#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using Header = ElfW(Ehdr);
using ProgramHeader = ElfW(Phdr);

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned char kNativeData = ELFDATA2LSB;
#else
constexpr unsigned char kNativeData = ELFDATA2MSB;
#endif
constexpr unsigned char kNativeClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;

struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor() {
        if (fd >= 0) close(fd);
    }
};

bool Fail(std::string* reason, const char* path, const std::string& why) {
    if (reason) *reason = std::string(path) + ": " + why;
    return false;
}

// Reads exactly size bytes at offset; false on a short read.
bool ReadAt(int fd, void* to, size_t size, uint64_t offset) {
    auto* p = static_cast<char*>(to);
    while (size > 0) {
        const ssize_t n = pread(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

// offset + size <= fileSize, without overflow.
bool InsideFile(uint64_t offset, uint64_t size, uint64_t fileSize) {
    return offset <= fileSize && size <= fileSize - offset;
}

}  // namespace

bool CheckPluginElf(const char* path, std::string* reason) {
    // A FIFO or device is never opened: opening it would wake whoever waits
    // at its other end. O_NONBLOCK and the second look cover one put in its
    // place between the two.
    struct stat st{};
    if (stat(path, &st) != 0) return Fail(reason, path, std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return Fail(reason, path, "not a regular file");
    FileDescriptor file;
    file.fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file.fd < 0) return Fail(reason, path, std::strerror(errno));
    if (fstat(file.fd, &st) != 0) return Fail(reason, path, std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return Fail(reason, path, "not a regular file");
    const auto fileSize = static_cast<uint64_t>(st.st_size);

    Header header{};
    if (fileSize < sizeof header || !ReadAt(file.fd, &header, sizeof header, 0))
        return Fail(reason, path, "file too short for an ELF header");
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0) return Fail(reason, path, "not an ELF file");
    if (header.e_ident[EI_CLASS] != kNativeClass || header.e_ident[EI_DATA] != kNativeData)
        return Fail(reason, path, "ELF file of another class or byte order");
    if (header.e_phnum == 0 || header.e_phentsize != sizeof(ProgramHeader))
        return Fail(reason, path, "ELF file without usable program headers");
    const uint64_t tableSize = uint64_t(header.e_phnum) * sizeof(ProgramHeader);
    if (!InsideFile(header.e_phoff, tableSize, fileSize))
        return Fail(reason, path, "program headers lie past the end of the file (file cut short?)");

    std::vector<ProgramHeader> table(header.e_phnum);
    if (!ReadAt(file.fd, table.data(), tableSize, header.e_phoff))
        return Fail(reason, path, "program headers could not be read");
    // Every segment with bytes in the file, not only the loadable ones: the
    // loader reads notes and properties straight from the mapping too.
    for (const ProgramHeader& segment : table) {
        if (segment.p_type == PT_NULL || segment.p_filesz == 0) continue;
        if (!InsideFile(segment.p_offset, segment.p_filesz, fileSize))
            return Fail(reason, path,
                        "segment at offset " + std::to_string(segment.p_offset) + " of " +
                            std::to_string(segment.p_filesz) + " bytes ends past the end of the file (" +
                            std::to_string(fileSize) + " bytes; file cut short?)");
    }
    return true;
}
