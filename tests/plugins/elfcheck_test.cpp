// The checks a plugin file passes before it is loaded: each broken header
// or table is refused with its own reason, never handed to the loader.
#include <gtest/gtest.h>

#include <link.h>
#include <sys/stat.h>

#include <cstring>
#include <functional>
#include <string>

#include "core/scratch.h"
#include "plugins/elfcheck.h"

namespace {

using Header = ElfW(Ehdr);
using ProgramHeader = ElfW(Phdr);

// A native ELF header, one program header after it and payload bytes that
// the segment covers.
struct Elf {
    Header header{};
    ProgramHeader segment{};
    std::string payload = std::string(32, 'p');

    Elf() {
        std::memcpy(header.e_ident, ELFMAG, SELFMAG);
        header.e_ident[EI_CLASS] = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
        header.e_ident[EI_DATA] =
            __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
        header.e_phoff = sizeof(Header);
        header.e_phnum = 1;
        header.e_phentsize = sizeof(ProgramHeader);
        segment.p_type = PT_LOAD;
        segment.p_offset = sizeof(Header) + sizeof(ProgramHeader);
        segment.p_filesz = payload.size();
    }
    std::string Bytes() const {
        return std::string(reinterpret_cast<const char*>(&header), sizeof header) +
               std::string(reinterpret_cast<const char*>(&segment), sizeof segment) + payload;
    }
};

// The reason for path, or "" when it passes.
std::string Reason(const std::string& path) {
    std::string reason;
    const bool ok = CheckPluginElf(path.c_str(), &reason);
    EXPECT_EQ(ok, reason.empty()) << reason;
    return ok ? "" : reason.substr(path.size() + 2);
}

}  // namespace

TEST(PluginElfCheck, EveryBrokenHeaderOrTableHasItsOwnReason) {
    ScratchDir dir;
    const std::string whole = Elf().Bytes();
    // Its segment reaches exactly to the end; one byte further fails below.
    EXPECT_EQ(Reason(dir.Write("good.so", whole)), "");

    const struct {
        const char* name;
        std::function<void(Elf&)> change;
        const char* reason;
    } cases[] = {
        {"magic", [](Elf& e) { e.header.e_ident[EI_MAG1] = 'e'; }, "not an ELF file"},
        {"class", [](Elf& e) { e.header.e_ident[EI_CLASS] ^= 3; }, "ELF file of another class or byte order"},
        {"order", [](Elf& e) { e.header.e_ident[EI_DATA] ^= 3; }, "ELF file of another class or byte order"},
        {"no headers", [](Elf& e) { e.header.e_phnum = 0; }, "ELF file without usable program headers"},
        {"entry size", [](Elf& e) { e.header.e_phentsize -= 1; }, "ELF file without usable program headers"},
        {"table past end",
         [](Elf& e) { e.header.e_phoff = sizeof(Header) + e.payload.size() + 1; },
         "program headers lie past the end of the file (file cut short?)"},
        {"segment past end", [](Elf& e) { e.segment.p_filesz += 1; },
         "segment at offset 120 of 33 bytes ends past the end of the file (152 bytes; file cut short?)"},
    };
    static_assert(sizeof(void*) != 8 || sizeof(Header) + sizeof(ProgramHeader) == 120);
    for (const auto& c : cases) {
        Elf e;
        c.change(e);
        if (sizeof(void*) != 8 && std::strcmp(c.name, "segment past end") == 0) continue;
        EXPECT_EQ(Reason(dir.Write(c.name, e.Bytes())), c.reason) << c.name;
    }
    // Segments without bytes in the file are not looked at.
    for (auto type : {PT_NULL, PT_LOAD}) {
        Elf e;
        e.segment.p_type = type;
        e.segment.p_offset = 1u << 30;
        e.segment.p_filesz = type == PT_NULL ? 64 : 0;
        EXPECT_EQ(Reason(dir.Write("empty" + std::to_string(type), e.Bytes())), "") << type;
    }
    EXPECT_EQ(Reason(dir.Write("short.so", whole.substr(0, sizeof(Header) - 1))), "file too short for an ELF header");
    EXPECT_EQ(Reason(dir / "missing.so"), std::strerror(ENOENT));
    EXPECT_EQ(Reason(dir.str()), "not a regular file");
}

// A regular file that says it is longer than what it gives (as the kernel's
// attribute files do) is as short as what can be read.
TEST(PluginElfCheck, AFileReadableForLessThanItsSizeIsTooShort) {
    const char* path = "/sys/kernel/mm/transparent_hugepage/enabled";
    struct stat st{};
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < static_cast<off_t>(sizeof(Header)))
        GTEST_SKIP() << "no kernel attribute file at " << path;
    EXPECT_EQ(Reason(path), "file too short for an ELF header");
}
