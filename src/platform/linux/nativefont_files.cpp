// The font files of the native engine: the installed fonts by full name
// (fontconfig lists them; its best match, which answers every request with
// some font, is never asked), and each file, installed or held in the
// applet, opened once as a FreeType face that all its sizes share.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SFNT_NAMES_H
#include FT_TRUETYPE_IDS_H

#include <malloc.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/chars.h"
#include "core/chunkname.h"
#include "core/file.h"
#include "core/readholds.h"
#include "platform/linux/nativefont.h"

namespace linux_text {

namespace {

// A font file larger than this is not read into memory.
constexpr int64_t kMaxMemoryFontBytes = int64_t{256} << 20;

// Blocks up to this size come from the heap, and the heap gives back what
// lies free at its top past the second (see KeepLargeBlocksOnTheHeap).
constexpr int kHeapBlockBytes = 32 << 20;
constexpr int kHeapFreeTopBytes = 16 << 20;

struct LibraryState {
    FT_Library library = nullptr;
    int users = 0;
};

LibraryState& Lib() {
    static LibraryState state;
    return state;
}

struct InstalledFont {
    std::string file;
    int index = 0;
    std::string fullName;
};

struct ConfigCloser {
    void operator()(FcConfig* c) const { FcConfigDestroy(c); }
};
struct PatternCloser {
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
struct ObjectSetCloser {
    void operator()(FcObjectSet* o) const { FcObjectSetDestroy(o); }
};
struct FontSetCloser {
    void operator()(FcFontSet* s) const { FcFontSetDestroy(s); }
};

struct FcCharsFree {
    void operator()(FcChar8* s) const { FcStrFree(s); }
};

// The installed fonts by full name in fontconfig's letter case folding,
// the first font of the list for each, as read under one configuration. It
// is read again once the configuration's files or font folders change, or
// the environment names another configuration, so that each look-up sees
// the fonts as they are now without listing them all each time.
struct InstalledList {
    std::unique_ptr<FcConfig, ConfigCloser> config;
    std::string configFile;
    std::string configPath;
    std::unordered_map<std::string, InstalledFont> byName;
};

InstalledList& Installed() {
    static InstalledList list;
    return list;
}

std::string EnvOf(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string Folded(const FcChar8* s) {
    std::unique_ptr<FcChar8, FcCharsFree> down(FcStrDowncase(s));
    return down ? reinterpret_cast<const char*>(down.get()) : "";
}

bool ReadInstalledList(InstalledList* list) {
    list->byName.clear();
    list->configFile = EnvOf("FONTCONFIG_FILE");
    list->configPath = EnvOf("FONTCONFIG_PATH");
    list->config.reset(FcInitLoadConfigAndFonts());
    if (!list->config) return false;
    std::unique_ptr<FcPattern, PatternCloser> pattern(FcPatternCreate());
    std::unique_ptr<FcObjectSet, ObjectSetCloser> objects(FcObjectSetBuild(FC_FULLNAME, FC_FILE, FC_INDEX, nullptr));
    if (!pattern || !objects) return false;
    std::unique_ptr<FcFontSet, FontSetCloser> fonts(FcFontList(list->config.get(), pattern.get(), objects.get()));
    if (!fonts) return false;
    for (int i = 0; i < fonts->nfont; ++i) {
        FcPattern* font = fonts->fonts[i];
        FcChar8* file = nullptr;
        if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch || !file) continue;
        int index = 0;
        if (FcPatternGetInteger(font, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
        FcChar8* fullName = nullptr;
        for (int n = 0; FcPatternGetString(font, FC_FULLNAME, n, &fullName) == FcResultMatch; ++n) {
            if (!fullName) continue;
            list->byName.try_emplace(Folded(fullName), InstalledFont{reinterpret_cast<const char*>(file), index,
                                                                     reinterpret_cast<const char*>(fullName)});
        }
    }
    return true;
}

bool IsUtf8(const std::string& s) {
    int len = 0;
    int chars = 0;
    return FcUtf8Len(reinterpret_cast<const FcChar8*>(s.c_str()), static_cast<int>(s.size()), &chars, &len) != 0;
}

// Only a font one of whose full names equals the name, letter case aside,
// is the font asked for. The list is taken as it is for a name it holds
// unless asked to be current, as for a file not open yet; a name it lacks
// always has it made current first.
bool FindInstalledFont(const char* name, bool current, InstalledFont* out) {
    std::string wanted = name;
    if (!IsUtf8(wanted)) wanted = Latin1ToUTF8(name);
    InstalledList& list = Installed();
    try {
        const std::string key = Folded(reinterpret_cast<const FcChar8*>(wanted.c_str()));
        bool valid = list.config && list.configFile == EnvOf("FONTCONFIG_FILE") &&
                     list.configPath == EnvOf("FONTCONFIG_PATH");
        auto it = list.byName.find(key);
        if (valid && (current || it == list.byName.end())) valid = FcConfigUptoDate(list.config.get());
        if (!valid) {
            if (!ReadInstalledList(&list)) {
                list.config.reset();
                return false;
            }
            it = list.byName.find(key);
        }
        if (it == list.byName.end()) return false;
        *out = it->second;
    } catch (const std::bad_alloc&) {
        list.config.reset();
        return false;
    }
    return true;
}

bool ReadWholeFile(qbFile* file, std::vector<uint8_t>* out) {
    const int64_t size = GetFileSize(file);
    if (size <= 0 || size > kMaxMemoryFontBytes) return false;
    try {
        out->resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return FileRead(file, out->data(), out->size()) == out->size();
}

// count bytes at position, or fewer where the file now ends sooner, which
// FreeType reports as a failed load; a count of 0 asks whether the position
// is within the file.
unsigned long ReadFontFileAt(FT_Stream stream, unsigned long position, unsigned char* buffer, unsigned long count) {
    if (count == 0) return position > stream->size ? 1 : 0;
    return ReadDescriptorAt(static_cast<int>(stream->descriptor.value), static_cast<int64_t>(position), buffer, count);
}

void AppendUtf8(uint32_t c, std::string* out) {
    if (c < 0x80) {
        *out += static_cast<char>(c);
    } else if (c < 0x800) {
        *out += static_cast<char>(0xC0 | c >> 6);
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out += static_cast<char>(0xE0 | c >> 12);
        *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The full name of the "name" table (id 4), preferably the Windows English
// one; the family and style names when the table has none.
std::string FullNameOf(FT_Face face) {
    std::string best;
    int bestRank = 0;
    const FT_UInt count = FT_Get_Sfnt_Name_Count(face);
    for (FT_UInt i = 0; i < count; ++i) {
        FT_SfntName entry;
        if (FT_Get_Sfnt_Name(face, i, &entry) != 0 || entry.name_id != TT_NAME_ID_FULL_NAME) continue;
        const bool windows = entry.platform_id == TT_PLATFORM_MICROSOFT;
        const bool unicode = entry.platform_id == TT_PLATFORM_APPLE_UNICODE;
        const bool mac = entry.platform_id == TT_PLATFORM_MACINTOSH && entry.encoding_id == TT_MAC_ID_ROMAN;
        if (!windows && !unicode && !mac) continue;
        const int rank = windows && entry.language_id == TT_MS_LANGID_ENGLISH_UNITED_STATES ? 3 : windows ? 2 : 1;
        if (rank <= bestRank) continue;
        std::string name;
        if (mac) {
            for (FT_UInt k = 0; k < entry.string_len; ++k) AppendUtf8(entry.string[k] < 0x80 ? entry.string[k] : '?', &name);
        } else {
            // UTF-16BE; a surrogate pair stands for one character outside the BMP, kept as '?'.
            for (FT_UInt k = 0; k + 1 < entry.string_len; k += 2) {
                const uint32_t unit = uint32_t{entry.string[k]} << 8 | entry.string[k + 1];
                if (unit >= 0xDC00 && unit < 0xE000) continue;
                AppendUtf8(unit >= 0xD800 && unit < 0xDC00 ? '?' : unit, &name);
            }
        }
        if (name.empty()) continue;
        best = name;
        bestRank = rank;
    }
    if (best.empty() && face->family_name) {
        best = face->family_name;
        if (face->style_name && std::string(face->style_name) != "Regular") best += std::string(" ") + face->style_name;
    }
    return best;
}

struct OpenFiles {
    std::vector<std::unique_ptr<qbNativeFontFile>> files;
};

OpenFiles& Files() {
    static OpenFiles open;
    return open;
}

// The "A" in font units, unhinted, for the size search.
void MeasureA(qbNativeFontFile* file) {
    file->indexOfA = FT_Get_Char_Index(file->face, 'A');
    if (file->indexOfA == 0 || FT_Load_Glyph(file->face, file->indexOfA, FT_LOAD_NO_SCALE) != 0) return;
    const FT_Glyph_Metrics& m = file->face->glyph->metrics;
    file->aTop = m.horiBearingY;
    file->aBottom = int64_t{m.horiBearingY} - m.height;
}

// Opens the face of a file not open yet: the one place the native engine
// opens a font's file; ReleaseFontFile is the one place it lets it go.
std::unique_ptr<qbNativeFontFile> OpenFile(std::string key, const std::string& path, int index, bool inMemory) {
    auto file = std::make_unique<qbNativeFontFile>();
    file->key = std::move(key);
    FT_Library library = AcquireLibrary();
    if (!library) return nullptr;
    bool opened = false;
    if (inMemory) {
        qbFilePtr source(FileOpen(path.c_str(), kFileModeRead, nullptr));
        if (source && ReadWholeFile(source.get(), &file->memory)) {
            file->stamp = StampOfOpenFile(source.get());
            opened = FT_New_Memory_Face(library, file->memory.data(), static_cast<FT_Long>(file->memory.size()), 0,
                                        &file->face) == 0;
        }
    } else {
        opened = OpenStreamFace(library, path.c_str(), index, file.get());
    }
    if (!opened || !file->face) {
        ReleaseLibrary();
        return nullptr;
    }
    if (!FT_IS_SCALABLE(file->face)) {
        FT_Done_Face(file->face);
        ReleaseLibrary();
        return nullptr;
    }
    if (inMemory) file->fullName = FullNameOf(file->face);
    MeasureA(file.get());
    if (!inMemory) HoldReadFile(file.get(), SystemFileIdOf(path.c_str()));
    return file;
}

}  // namespace

bool OpenStreamFace(FT_Library library, const char* path, int index, qbNativeFontFile* file) {
    qbFilePtr source(FileOpen(path, kFileModeRead, nullptr));
    const int fd = DescriptorOfOpenFile(source.get());
    const int64_t size = GetFileSize(source.get());
    if (fd < 0 || size <= 0) return false;
    file->stamp = StampOfDescriptor(fd);
    file->stream = FT_StreamRec{};
    file->stream.size = static_cast<unsigned long>(size);
    file->stream.descriptor.value = fd;
    file->stream.read = ReadFontFileAt;
    FT_Open_Args args{};
    args.flags = FT_OPEN_STREAM;
    args.stream = &file->stream;
    file->face = nullptr;
    if (FT_Open_Face(library, &args, index, &file->face) != 0) {
        file->face = nullptr;
        return false;
    }
    file->file = std::move(source);
    return true;
}

void KeepLargeBlocksOnTheHeap() {
    static bool set = false;
    if (set) return;
    set = true;
    mallopt(M_MMAP_THRESHOLD, kHeapBlockBytes);
    mallopt(M_TRIM_THRESHOLD, kHeapFreeTopBytes);
}

FT_Library AcquireLibrary() {
    LibraryState& s = Lib();
    KeepLargeBlocksOnTheHeap();
    if (!s.library && FT_Init_FreeType(&s.library) != 0) {
        s.library = nullptr;
        return nullptr;
    }
    ++s.users;
    return s.library;
}

void ReleaseLibrary() {
    LibraryState& s = Lib();
    if (s.users > 0 && --s.users == 0) {
        FT_Done_FreeType(s.library);
        s.library = nullptr;
    }
}

qbNativeFontFile* AcquireFontFile(const char* name, std::string* fullName) {
    std::string key;
    std::string path;
    int index = 0;
    const bool inMemory = IsChunkName(name);
    try {
        if (inMemory) key = path = name;
        OpenFiles& open = Files();
        // A name listed before whose file is open takes that file; any
        // other is looked up in the list as it is now.
        for (bool current : {false, true}) {
            if (!inMemory) {
                InstalledFont found;
                if (!FindInstalledFont(name, current, &found)) return nullptr;
                path = found.file;
                index = found.index;
                *fullName = found.fullName;
                key = found.file + '\n' + std::to_string(found.index);
            }
            for (const std::unique_ptr<qbNativeFontFile>& f : open.files) {
                if (f->key != key) continue;
                ++f->users;
                if (inMemory) *fullName = f->fullName;
                return f.get();
            }
            if (inMemory) break;
        }
        open.files.reserve(open.files.size() + 1);
        std::unique_ptr<qbNativeFontFile> file = OpenFile(std::move(key), path, index, inMemory);
        if (!file) return nullptr;
        if (inMemory) *fullName = file->fullName;
        file->users = 1;
        open.files.push_back(std::move(file));
        return open.files.back().get();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool SetFaceSize(qbNativeFontFile* file, int32_t pointSize) {
    if (file->pointSize == pointSize) return true;
    file->pointSize = 0;
    if (FT_Set_Char_Size(file->face, 0, FT_F26Dot6{pointSize} * 64, 72, 72) != 0) return false;
    file->pointSize = pointSize;
    return true;
}

void ReleaseFontFile(qbNativeFontFile* file) {
    if (!file || --file->users > 0) return;
    std::vector<std::unique_ptr<qbNativeFontFile>>& files = Files().files;
    for (auto it = files.begin(); it != files.end(); ++it) {
        if (it->get() != file) continue;
        FT_Done_Face(file->face);
        ReleaseReadFile(file);
        ReleaseLibrary();
        files.erase(it);
        return;
    }
}

}  // namespace linux_text
