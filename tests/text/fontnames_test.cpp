// Font names of every kind a script can give SetFont: files, parts of files
// and string files named as virtual files, names no file answers and
// files that hold no font, each opening or answering its own error; and the
// inbuilt engine's reads of a face through each kind of file, which start,
// seek and end where the face's bytes do.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/chunkname.h"
#include "core/errcodes.h"
#include "core/memfile.h"
#include "text/fontfile_fixture.h"
#include "text/inbuiltfont.h"

using namespace fontfiles;

namespace {

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class FontNames : public FontFiles {
protected:
    void SetUp() override {
        FontFiles::SetUp();
        ttf_ = Bytes(kDejaVuDir + "DejaVuSans.ttf");
        ASSERT_GT(ttf_.size(), 10000u);
    }
    void TearDown() override {
        FontFiles::TearDown();
        for (std::unique_ptr<MemoryFile>& m : strings_) RemoveVirtualFile(m.get());
    }
    // A file of the test's folder holding bytes.
    std::string File(const std::string& as, const std::string& bytes) {
        const fs::path path = dir_ / as;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }
    // The name of a part of a file: size bytes from offset on, as a
    // virtual file named as.
    static std::string Part(const std::string& container, uint64_t offset, uint64_t size, const char* as) {
        return MakeChunkName(as, offset, size, 0, container.c_str());
    }
    // The name of a string file named as holding bytes.
    std::string StringFile(const std::string& bytes, const char* as) {
        keep_.push_back(bytes);
        auto m = std::make_unique<MemoryFile>();
        m->data = reinterpret_cast<uint8_t*>(keep_.back().data());
        m->size = m->capacity = static_cast<int64_t>(bytes.size());
        m->registryRef = 70000 + static_cast<int32_t>(strings_.size());
        m->name = as;
        AddVirtualFile(m.get());
        strings_.push_back(std::move(m));
        return MakeChunkName(as, kStreamChunkOffset, 0, static_cast<uint64_t>(strings_.back()->registryRef), "unused");
    }
    // A linked font's flags word, big-endian, then what follows it.
    static std::string Linked(uint32_t flags, const std::string& rest) {
        std::string out;
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(flags >> shift & 0xFF));
        return out + rest;
    }

    std::string ttf_;
    std::list<std::string> keep_;
    std::vector<std::unique_ptr<MemoryFile>> strings_;
};

constexpr uint32_t kNative = 1u << 2;
constexpr uint32_t kSkipBlock = 1u << 4;

TEST_F(FontNames, EachKindOfNameOpensOrAnswersItsError) {
    const std::string pad(100, 'z');
    const std::string container = File("container.bin", pad + ttf_ + pad);
    const std::string plain = File("plain.ttf", ttf_);
    struct Case {
        std::string name;
        int engine;
        int code;
        const char* what;
    };
    const Case cases[] = {
        {plain, kFontEngineInbuilt, 0, "a font file"},
        {Part(container, pad.size(), ttf_.size(), "part.ttf"), kFontEngineInbuilt, 0, "a part of a file"},
        {StringFile(ttf_, "string.ttf"), kFontEngineInbuilt, 0, "a string file"},
        // A virtual file that is no outline file is taken for a font linked
        // into an applet, which a string file never is.
        {StringFile(ttf_, "string.bin"), kFontEngineNative, ERR_READFILE, "a string file of no outline"},
        {StringFile(ttf_, "string.bin"), kFontEngineInbuilt, ERR_READFILE, "a string file of no outline, inbuilt"},
        {StringFile(Linked(0, "x"), "string.font"), kFontEngineNative, ERR_READFILE, "a string .font"},
        {MakeChunkName("gone.ttf", kStreamChunkOffset, 0, 69999, "unused"), kFontEngineInbuilt, ERR_READFILE,
         "a string file undefined"},
        {MakeChunkName("gone.bin", kStreamChunkOffset, 0, 69999, "unused"), kFontEngineNative, ERR_READFILE,
         "a string file undefined, no outline"},
        {":::chunk12:x*a.bin?" + container, kFontEngineNative, ERR_READFILE, "a chunk name that does not parse"},
        // A linked font's flags word and the skipped block's length, at and
        // past the ends of the part.
        {Part(File("short.bin", "abc"), 0, 3, "short.bin"), kFontEngineNative, ERR_READ, "a part short of flags"},
        {Part(File("bitmap.bin", Linked(0, "")), 0, 4, "bitmap.bin"), kFontEngineNative, ERR_OPENFONT,
         "flags alone, for a bitmap font"},
        {Part(File("noblock.bin", Linked(kNative | kSkipBlock, "abc")), 0, 7, "noblock.bin"), kFontEngineNative,
         ERR_READ, "a skipped block short of its length"},
        {Part(File("block0.bin", Linked(kNative | kSkipBlock, Linked(0, ""))), 0, 8, "block0.bin"),
         kFontEngineNative, ERR_OPENFONT, "an empty skipped block and no font"},
        {Part(File("longblock.bin", Linked(kNative | kSkipBlock, Linked(5, "abcd"))), 0, 12, "longblock.bin"),
         kFontEngineNative, ERR_READ, "a skipped block past the part"},
        {Part(File("fullblock.bin", Linked(kNative | kSkipBlock, Linked(4, "abcd"))), 0, 12, "fullblock.bin"),
         kFontEngineNative, ERR_OPENFONT, "a skipped block up to the part's end"},
        {Part(File("native.bin", Linked(kNative, ttf_)), 0, ttf_.size() + 4, "native.bin"), kFontEngineNative, 0,
         "a linked native font"},
        {Part(File("skipped.bin", Linked(kNative | kSkipBlock, Linked(4, "abcd") + ttf_)), 0, ttf_.size() + 12,
              "skipped.bin"),
         kFontEngineNative, 0, "a linked native font after a skipped block"},
        {Part(File("nofont.bin", Linked(0, "not a font at all")), 0, 21, "nofont.bin"), kFontEngineNative,
         ERR_OPENFONT, "a linked bitmap font that is none"},
        {(dir_ / "missing.ttf").string(), kFontEngineInbuilt, ERR_OPENFONT, "a missing file"},
        {File("junk.ttf", std::string(5000, 'j')), kFontEngineInbuilt, ERR_OPENFONT, "a file of no font"},
        {Part(container, 0, ttf_.size(), "shifted.ttf"), kFontEngineInbuilt, ERR_OPENFONT, "a part of no font"},
        {StringFile(ttf_.substr(0, ttf_.size() / 8), "cut.ttf"), kFontEngineInbuilt, ERR_OPENFONT,
         "a string file cut short"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qbFont* before = Current();
        EXPECT_EQ(SetFont(c.name, 20, c.engine), c.code);
        if (c.code == 0) {
            ASSERT_NE(Current(), before);
            EXPECT_STREQ(Current()->name, "DejaVu Sans");
            EXPECT_EQ(Draw(Current(), "Ag"), 0);
        } else {
            EXPECT_EQ(Current(), before) << "a failed open keeps the font";
        }
    }
    // A name that is no text.
    VmSetTop(L_, 0);
    VmPushNewTable(L_);
    VmPushNumber(L_, 20);
    EXPECT_EQ(CallCommand(L_, "SetFont", 2, 0), ERR_STREXPECTED);
}

// A font linked into an applet is named from its name table: the American
// Windows full name before another Windows one, that before a Mac Roman or
// Unicode one; UTF-16 comes out as UTF-8 (a character beyond 16 bits as
// '?', as is Mac Roman's upper half); without a full name the family and
// style names stand in, a "Regular" style left out. A face of bitmaps
// alone is no native font.
TEST_F(FontNames, ALinkedFontIsNamedFromItsNameTable) {
    const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    const std::string make = python + " " + QB_SOURCE_DIR + "/tests/text/namefonts.py " + kDejaVuDir +
                             "DejaVuSans.ttf " + dir_.string() + " >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) GTEST_SKIP() << "fontTools is missing";
    const std::pair<const char*, const char*> cases[] = {
        {"MacOnly.ttf", "Caf? Mac"},
        {"MacAndGerman.ttf", "Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC?!"},
        {"GermanAndAmerican.ttf", "American Name"},
        {"NoFullBold.ttf", "QB Family Bold"},
        {"NoFullRegular.ttf", "QB Family"},
    };
    for (const auto& [file, name] : cases) {
        SCOPED_TRACE(file);
        const std::string linked = Linked(kNative, Bytes(dir_ / file));
        const std::string as = std::string(file) + ".bin";
        ASSERT_EQ(SetFont(Part(File(as, linked), 0, linked.size(), as.c_str()), 20), 0);
        EXPECT_STREQ(Current()->name, name);
        EXPECT_EQ(Draw(Current(), "Ag"), 0);
    }
    const std::string bdf =
        "STARTFONT 2.1\nFONT -qb-block-medium-r-normal--8-80-75-75-c-80-iso10646-1\nSIZE 8 75 75\n"
        "FONTBOUNDINGBOX 8 8 0 0\nSTARTPROPERTIES 2\nFONT_ASCENT 8\nFONT_DESCENT 0\nENDPROPERTIES\nCHARS 1\n"
        "STARTCHAR A\nENCODING 65\nSWIDTH 1000 0\nDWIDTH 8 0\nBBX 8 8 0 0\nBITMAP\n"
        "FF\nFF\nFF\nFF\nFF\nFF\nFF\nFF\nENDCHAR\nENDFONT\n";
    // Neither is a face FreeType cannot read.
    for (const std::string& face : {bdf, std::string(5000, 'j')}) {
        const std::string linked = Linked(kNative, face);
        const std::string as = "unusable" + std::to_string(face.size()) + ".bin";
        qbFont* before = Current();
        EXPECT_EQ(SetFont(Part(File(as, linked), 0, linked.size(), as.c_str()), 8), ERR_OPENFONT) << as;
        EXPECT_EQ(Current(), before);
    }
}

// FreeType reads a face through FontStreamRead: from its start, anywhere
// inside, up to exactly its end and not a byte past it, whatever follows
// the face in the file; a seek to its end holds, one past it fails.
TEST_F(FontNames, TheInbuiltReadsOfEachKindOfFileEndWithTheFace) {
    const std::string pad(100, 'z');
    const std::string container = File("container.bin", pad + ttf_ + pad);
    const std::string names[] = {File("plain.ttf", ttf_), Part(container, pad.size(), ttf_.size(), "part.ttf"),
                                 StringFile(ttf_, "string.ttf")};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        ASSERT_EQ(SetFont(name, 20, kFontEngineInbuilt), 0);
        qbFont* font = Current();
        ASSERT_EQ(font->engine, kFontKindInbuilt);
        auto* data = static_cast<qbInbuiltFontData*>(font->engineData);
        FT_Stream stream = &data->stream;
        const unsigned long size = stream->size;
        ASSERT_EQ(size, ttf_.size());
        const auto read = [&](unsigned long at, unsigned long count) {
            std::string out(count, '\0');
            out.resize(stream->read(stream, at, reinterpret_cast<unsigned char*>(out.data()), count));
            return out;
        };
        const auto seek = [&](unsigned long at) { return stream->read(stream, at, nullptr, 0); };
        EXPECT_EQ(read(0, 4), ttf_.substr(0, 4));
        EXPECT_EQ(read(1000, 16), ttf_.substr(1000, 16));
        EXPECT_EQ(read(size - 4, 4), ttf_.substr(size - 4));
        EXPECT_EQ(read(size - 2, 4), ttf_.substr(size - 2)) << "a read stops at the face's end";
        EXPECT_EQ(read(size, 4), "");
        EXPECT_EQ(read(size + 1, 4), "");
        EXPECT_EQ(read(size + 100, 4), "");
        EXPECT_EQ(seek(0), 0u);
        EXPECT_EQ(seek(size / 2), 0u);
        EXPECT_EQ(seek(size - 1), 0u);
        EXPECT_EQ(seek(size), 0u) << "a seek to the end holds";
        EXPECT_NE(seek(size + 1), 0u) << "a seek past it fails";
        EXPECT_NE(seek(size + 100), 0u);
        // And after a failed seek reads go on from where they are asked.
        EXPECT_EQ(read(8, 8), ttf_.substr(8, 8));
    }
}

}  // namespace
