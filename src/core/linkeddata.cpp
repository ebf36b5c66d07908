// Linked data in executables: the link marker, and the plugins that a linked
// copy of the player carries in front of its applet.
#include "core/linkeddata.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/filenames.h"
#include "core/fileops.h"
#include "core/packfile.h"
#include "core/signalcleanup.h"

uint32_t LinkedDataOffset = 0;
int DataIsLinked = 0;

namespace {

// The marker lives in the executable as one object the linker keeps whole,
// so that the tool that links an applet into a copy of the player finds it
// by its bytes and patches the offset word. It is read through volatile
// accesses: a compiler that saw a constant would fold the word into the code
// and never look at the patched bytes.
[[gnu::used]] const volatile unsigned char kLinkMarkerData[kLinkMarkerSize] = {
    'M', 'o', 'r', 'v', 'a', 'l', 'e', ' ', 'L', 'u', 'm', 'e', 'g', 'r', 'i', 'd',
    ' ', 'E', 'n', 't', 'e', 'r', 't', 'a', 'i', 'n', 'm', 'e', 'n', 't', 0, 0,
    0xDE, 0xAD, 0xC0, 0xDE,
    0xC0, 0xDE, 0xCA, 0xFE, 0xC0, 0xCA, 0xC0, 0x1A,
    0,
};

std::string& ExtractionFolder() {
    static std::string folder;
    return folder;
}

uint32_t BigEndianWord(const unsigned char* b) {
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

int ReadWord(qbFile* f, uint32_t& value) {
    unsigned char b[4];
    if (FileRead(f, b, sizeof b) != sizeof b) return ERR_READ;
    value = BigEndianWord(b);
    return 0;
}

// A name cut off by the end of the file is a block cut short.
int ReadPluginName(qbFile* f, std::string& name) {
    name.clear();
    for (;;) {
        int c = FileGetC(f);
        if (c < 0) return ERR_READ;
        if (c == 0) return 0;
        if (name.size() > kLinkedPluginNameMax) {
            SetErrorDetail(name.c_str());
            return ERR_LINKPLUGIN;
        }
        name.push_back(static_cast<char>(c));
    }
}

// mkdtemp: a folder nobody else can have made or may enter, so the plugin
// files in it cannot be swapped between writing and loading.
int MakeExtractionFolder() {
    std::string& folder = ExtractionFolder();
    if (!folder.empty()) return 0;
    const std::string temp = GetTempDir();
    std::string pattern = NativePathOf(temp.c_str());
    if (pattern.empty() || pattern.back() != '/') pattern += '/';
    pattern += "quenbrook.XXXXXX";
    if (!mkdtemp(pattern.data())) {
        SetErrorDetail(temp.c_str());
        return ERR_CREATEDIR;
    }
    folder = FromSystemPath(pattern.c_str());
    AddSignalCleanupPath(pattern.c_str(), true);
    return 0;
}

int CopyPlainPlugin(qbFile* in, const std::string& target, uint32_t size, std::vector<unsigned char>& buffer) {
    qbFilePtr out(FileOpen(target.c_str(), kFileModeWrite, nullptr));
    if (!out) {
        SetErrorDetail(target.c_str());
        return ERR_WRITEFILE;
    }
    while (size > 0) {
        const size_t piece = size < buffer.size() ? size : buffer.size();
        if (FileRead(in, buffer.data(), piece) != piece) return ERR_READ;
        if (FileWrite(out.get(), buffer.data(), piece) != piece) return ERR_WRITE;
        size -= static_cast<uint32_t>(piece);
    }
    return FileClose(out.release()) ? 0 : ERR_WRITE;
}

bool Exists(const std::string& name) {
    std::error_code ec;
    return std::filesystem::exists(NativePathOf(name.c_str()), ec);
}

int ExtractPlugin(qbFile* f, const std::string& name, bool packed, std::vector<unsigned char>& buffer) {
    if (!IsLinkedPluginNameSafe(name.c_str())) {
        SetErrorDetail(name.c_str());
        return ERR_LINKPLUGIN;
    }
    uint32_t size = 0;
    if (int err = ReadWord(f, size)) return err;
    if (int err = MakeExtractionFolder()) return err;
    const std::string target = ExtractionFolder() + "/" + name + kLinkedPluginExtension;
    const int64_t start = FileSeek(f, 0, kSeekCurrent);
    if (start < 0) return ERR_READ;
    const int64_t end = start + size;

    if (packed) {
        if (int err = InflatePackFile(kPluginPackMagic, nullptr, target.c_str(), f, start, nullptr, nullptr,
                                      nullptr, 0))
            return err;
    } else if (!Exists(target)) {
        if (int err = CopyPlainPlugin(f, target, size, buffer)) return err;
    }
    // A seek past the end only shows when the next name is read.
    if (FileSeek(f, end, kSeekBeginning) < 0) return ERR_READ;
    SetFileProtection(target.c_str(), kLinkedPluginProtection);
    return 0;
}

}  // namespace

void BuildLinkMarker(qbLinkMarker* marker) {
    for (size_t i = 0; i < kLinkMarkerSize; ++i) marker->bytes[i] = kLinkMarkerData[i];
}

uint32_t GetLinkMarkerOffset(const qbLinkMarker* marker) { return BigEndianWord(marker->bytes + kLinkMarkerOffsetAt); }

bool IsLinkedPluginNameSafe(const char* name) {
    if (!name || !*name) return false;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    if (std::strlen(name) > kLinkedPluginNameMax) return false;
    return std::strpbrk(name, "/\\") == nullptr;
}

int ExtractLinkedPlugins(const char* path, uint32_t offset) {
    qbFilePtr f(FileOpen(path, kFileModeRead, nullptr));
    if (!f) {
        SetErrorDetail(path ? path : "");
        return ERR_READFILE;
    }
    char magic[4];
    if (FileSeek(f.get(), offset, kSeekBeginning) < 0 || FileRead(f.get(), magic, sizeof magic) != sizeof magic ||
        std::memcmp(magic, kLinkedPluginMagic, sizeof magic) != 0)
        return 0;

    std::vector<unsigned char> buffer;
    try {
        buffer.resize(kLinkedPluginCopyPiece);
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    uint32_t flags = 0;
    if (int err = ReadWord(f.get(), flags)) return err;
    const bool packed = (flags & kLinkedPluginsPacked) != 0;
    std::string name;
    for (;;) {
        if (int err = ReadPluginName(f.get(), name)) return err;
        if (name.empty()) break;
        if (int err = ExtractPlugin(f.get(), name, packed, buffer)) return err;
    }
    if (offset != 0) {
        const int64_t behind = FileSeek(f.get(), 0, kSeekCurrent);
        if (behind < 0) return ERR_READ;
        LinkedDataOffset = static_cast<uint32_t>(behind);
    }
    return 0;
}

const std::string& GetLinkedPluginFolder() { return ExtractionFolder(); }

void RemoveExtractedPlugins() {
    std::string& folder = ExtractionFolder();
    if (folder.empty()) return;
    const std::filesystem::path system = NativePathOf(folder.c_str());
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(system, ec), end; !ec && it != end; it.increment(ec))
        files.push_back(it->path());
    for (const auto& file : files) std::filesystem::remove(file, ec);
    std::filesystem::remove(system, ec);
    ForgetSignalCleanupPath(system.c_str());
    folder.clear();
}
