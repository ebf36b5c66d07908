// The installed-font list: a scan of the font folders that reads family and
// style names out of TrueType and OpenType files, collections and data-fork
// suitcases, and lists bitmap ".font" fonts with their sizes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/file.h"
#include "core/filestamp.h"

struct qbInstalledFont {
    std::string fullName;  // family, a blank and the style; the family alone for an empty style
    std::string family;
    std::string path;
    int32_t weight = 80;
    int32_t slant = 0;
    int64_t dataOffset = 0;  // ".dfont" faces
    int64_t dataSize = 0;
    int64_t directoryOffset = 0;  // collection members
    bool packed = false;          // a ".dfont" face or a collection member
    bool bitmapFont = false;
    std::vector<uint8_t> sizes;  // bitmap fonts
};

struct qbWeightName {
    const char* name;
    bool isSlant;
    int32_t value;
};

// Scans when the list is empty; listing 0 also lists regular styles under
// their family alone.
void ScanFontDirectories(int listing);
void ScanFontDirectory(const std::string& folder, int listing, bool nested);
// Family and style names of the face at base. 1 or 0.
int ReadSfntNames(qbFile* file, std::string* family, std::string* style, int64_t base);
const std::vector<qbInstalledFont>& InstalledFonts();
void FreeInstalledFonts();
const qbWeightName* FindWeightName(const std::string& word);
bool IsRegularStyleName(const std::string& style);

struct qbFoundFont {
    std::string path;
    int64_t dataOffset = 0;
    int64_t dataSize = 0;  // 0: the whole file
    bool temporary = false;  // a collection member extracted into a temporary file
    qbFileStamp source;      // of the collection a temporary file was extracted from
};
// weight -1: by full name; else by family, weight and slant. 1 or 0.
int FindInstalledFont(const std::string& name, int32_t weight, int32_t slant, bool skipPacked, qbFoundFont* out);
