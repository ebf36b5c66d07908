// Fuzz target of the installed-font scan: the input is one file, scanned as
// a ".ttf", a ".ttc" and a ".dfont" and read with ReadSfntNames; every
// count, offset and length in it must be checked before use.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/file.h"
#include "text/installedfonts.h"
#include "fuzznote.h"

namespace {

const std::string& Folder() {
    static const std::string folder = [] {
        const auto dir = std::filesystem::temp_directory_path() / ("qb-fuzz-sfnt-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        return dir.string();
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const char* name : {"/face.ttf", "/faces.ttc", "/faces.dfont"}) {
        const std::string path = Folder() + name;
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        FreeInstalledFonts();
        ScanFontDirectory(Folder(), 0, false);
        FuzzNoteValue(static_cast<int64_t>(InstalledFonts().size()));
        for (const qbInstalledFont& f : InstalledFonts()) {
            // The folder holds the process id, so paths are noted by their file part.
            FuzzNoteText(f.fullName);
            FuzzNoteText(f.family);
            FuzzNoteText(std::filesystem::path(f.path).filename().string());
            for (int64_t v : {int64_t{f.weight}, int64_t{f.slant}, f.dataOffset, f.dataSize, f.directoryOffset}) FuzzNoteValue(v);
            FuzzNoteValue(f.packed);
            FuzzNoteValue(f.bitmapFont);
            FuzzNote(f.sizes.data(), f.sizes.size());
            qbFoundFont found;
            const int hit = f.directoryOffset ? FindInstalledFont(f.fullName, -1, 0, false, &found) : -1;
            FuzzNoteValue(hit);
            if (hit == 1) {
                FuzzNoteValue(found.dataOffset);
                FuzzNoteValue(found.dataSize);
                FuzzNoteValue(found.temporary);
            }
            if (hit == 1 && found.temporary)
                std::filesystem::remove(found.path);
        }
        std::filesystem::remove(path);
    }
    const std::string path = Folder() + "/names.ttf";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    qbFilePtr file(FileOpen(path.c_str(), kFileModeRead, nullptr));
    std::string family, style;
    FuzzNoteValue(ReadSfntNames(file.get(), &family, &style, 0));
    FuzzNoteText(family);
    FuzzNoteText(style);
    FreeInstalledFonts();
    return 0;
}
