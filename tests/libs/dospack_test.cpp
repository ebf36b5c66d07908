// Pack files, checksums, Base64 and patches, with the system's own tools as
// oracles where they exist.
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <vector>

#include "core/errcodes.h"
#include "core/file.h"
#include "core/packfile.h"
#include "core/settings.h"
#include "dos_fixture.h"
#include "libs/base64.h"

namespace {

using dostest::Bytes;

std::string RandomBytes(size_t n, unsigned seed) {
    std::string s(n, '\0');
    std::mt19937 random(seed);
    for (char& c : s) c = static_cast<char>(random());
    return s;
}

class DosPackTest : public dostest::DosFixture {};

TEST_F(DosPackTest, EmptyFilesPackToAnEmptyStream) {
    const std::string empty = dir_.Write("empty", "");
    const std::string packed = dir_ / "empty.qbpk";
    ASSERT_EQ(Call("CompressFile", {empty, packed}), 0);
    const std::string expected = std::string("QBPK") + Bytes({0, 0, 0, 0, 0x78, 0x9C, 3, 0, 0, 0, 0, 1});
    EXPECT_EQ(ScratchDir::Read(packed), expected);
    EXPECT_EQ(Num(1), expected.size());
    const std::string out = dir_ / "out";
    ASSERT_EQ(Call("DecompressFile", {packed, out}), 0);
    EXPECT_EQ(Num(1), 0);
    EXPECT_TRUE(std::filesystem::exists(out));
    EXPECT_EQ(ScratchDir::Read(out), "");
}

TEST_F(DosPackTest, PackFilesAgreeWithPythonsZlib) {
    std::string data = RandomBytes(100000, 1);
    for (int i = 0; i < 20000; ++i) data += "line " + std::to_string(i % 97) + "\n";
    const std::string source = dir_.Write("src.bin", data);
    const std::string packed = dir_ / "src.qbpk";
    ASSERT_EQ(Call("CompressFile", {source, packed}), 0);
    EXPECT_EQ(Num(1), std::filesystem::file_size(packed));
    const std::string script = "import sys,zlib; d=open(sys.argv[1],'rb').read(); "
                               "sys.stdout.write(zlib.decompress(d[8:]).hex() if d[:4]==b'QBPK' else 'magic')";
    const std::string hex = Shell("python3 -c \"" + script + "\" " + packed);
    std::string unhex;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) unhex.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    EXPECT_EQ(unhex, data);

    // And Python's packing unpacks here.
    const std::string theirs = dir_ / "theirs.qbpk";
    Shell("python3 -c \"import sys,zlib; open(sys.argv[2],'wb').write(b'QBPK\\0\\0\\0\\0'+"
          "zlib.compress(open(sys.argv[1],'rb').read(), 9))\" " + source + " " + theirs);
    const std::string out = dir_ / "out.bin";
    ASSERT_EQ(Call("DecompressFile", {theirs, out}), 0);
    EXPECT_EQ(Num(1), data.size());
    EXPECT_EQ(ScratchDir::Read(out), data);
}

TEST_F(DosPackTest, BrokenPackFiles) {
    const std::string source = dir_.Write("src.bin", RandomBytes(50000, 2));
    const std::string packed = dir_ / "p.qbpk";
    ASSERT_EQ(Call("CompressFile", {source, packed}), 0);
    std::string bytes = ScratchDir::Read(packed);
    const std::string out = dir_ / "out.bin";
    std::string other = bytes;
    other[3] = 'X';
    EXPECT_EQ(Call("DecompressFile", {dir_.Write("x.qbpk", other), out}), ERR_PAKFORMAT);
    EXPECT_EQ(Call("DecompressFile", {dir_.Write("cut.qbpk", bytes.substr(0, bytes.size() / 2)), out}),
              ERR_ZLIBDATA);
    EXPECT_EQ(Call("DecompressFile", {dir_ / "missing", out}), ERR_READFILE);
    EXPECT_EQ(Call("CompressFile", {dir_ / "missing", out}), ERR_READFILE);
    EXPECT_EQ(Call("CompressFile", {source, dir_ / "no/dir/x"}), ERR_WRITEFILE);
}

TEST_F(DosPackTest, PackingNeverCostsTheFileItReplaces) {
    const std::string data = RandomBytes(100000, 5);
    const std::string source = dir_.Write("src.bin", data);
    EXPECT_EQ(Call("CompressFile", {source, source}), ERR_WRONGUSAGE);
    std::filesystem::create_hard_link(source, dir_ / "alias.bin");
    EXPECT_EQ(Call("CompressFile", {source, dir_ / "alias.bin"}), ERR_WRONGUSAGE);
    EXPECT_EQ(ScratchDir::Read(source), data);

    const std::string packed = dir_ / "p.qbpk";
    ASSERT_EQ(Call("CompressFile", {source, packed}), 0);
    const std::string pack = ScratchDir::Read(packed);
    EXPECT_EQ(Call("DecompressFile", {packed, packed}), ERR_WRONGUSAGE);
    EXPECT_EQ(ScratchDir::Read(packed), pack);

    // A pack cut short leaves the file it would have replaced alone; a whole
    // one replaces it and keeps its permissions.
    const std::string kept = dir_.Write("kept.bin", "precious");
    chmod(kept.c_str(), 0640);
    const std::string cut = dir_.Write("cut.qbpk", pack.substr(0, pack.size() / 2));
    EXPECT_EQ(Call("DecompressFile", {cut, kept}), ERR_ZLIBDATA);
    EXPECT_EQ(ScratchDir::Read(kept), "precious");
    ASSERT_EQ(Call("DecompressFile", {packed, kept}), 0);
    EXPECT_EQ(ScratchDir::Read(kept), data);
    EXPECT_EQ(std::filesystem::status(kept).permissions() & std::filesystem::perms::all,
              std::filesystem::perms(0640));
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_.str())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"alias.bin", "cut.qbpk", "kept.bin", "p.qbpk", "src.bin"}))
        << "no new file is left behind";
}

TEST_F(DosPackTest, InflatingIntoMemory) {
    const std::string data = RandomBytes(40000, 4);
    const std::string source = dir_.Write("src.bin", data);
    const std::string packed = dir_ / "p.qbpk";
    ASSERT_EQ(Call("CompressFile", {source, packed}), 0);
    const uint64_t packedSize = std::filesystem::file_size(packed);
    std::string block(1000, '\0');
    uint64_t size = 0;
    // The block fills before the stream ends: success.
    ASSERT_EQ(InflatePackFile("QBPK", packed.c_str(), nullptr, nullptr, 0, &size, nullptr, block.data(), block.size()),
              0);
    EXPECT_EQ(size, block.size());
    EXPECT_EQ(block, data.substr(0, 1000));
    block.assign(50000, '\0');
    uint64_t consumed = 0;
    ASSERT_EQ(InflatePackFile("QBPK", packed.c_str(), nullptr, nullptr, 0, &size, &consumed, block.data(),
                              block.size()),
              0);
    EXPECT_EQ(size, data.size());
    EXPECT_EQ(consumed, packedSize);
}

TEST_F(DosPackTest, ChecksumsAgreeWithTheSystemTools) {
    ASSERT_EQ(Call("CRC32", {dir_.Write("check", "123456789")}), 0);
    EXPECT_EQ(Num(1), 3421780262.0);
    ASSERT_EQ(Call("MD5", {dir_.Write("empty", "")}), 0);
    EXPECT_EQ(Str(1), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Call("MD5", {std::string()}), ERR_WRONGUSAGE);
    EXPECT_EQ(Call("CRC32", {dir_ / "missing"}), ERR_READFILE);
    const bool haveCrc32 = !Shell("command -v crc32").empty();
    unsigned seed = 10;
    for (size_t size : {size_t{0}, size_t{1}, size_t{55}, size_t{64}, size_t{65535}, size_t{65537},
                        size_t{10} << 20}) {
        const std::string path = dir_.Write("r" + std::to_string(size), RandomBytes(size, seed++));
        ASSERT_EQ(Call("MD5", {path}), 0);
        EXPECT_EQ(Str(1), Shell("md5sum " + path).substr(0, 32)) << size;
        if (!haveCrc32) continue;
        ASSERT_EQ(Call("CRC32", {path}), 0);
        EXPECT_EQ(Num(1), std::stoul(Shell("crc32 " + path), nullptr, 16)) << size;
    }
}

std::string Encode(const std::string& in) {
    std::string out(Base64EncodedSize(in.size()), '\0');
    size_t count = 0;
    EXPECT_EQ(EncodeBase64(nullptr, nullptr, reinterpret_cast<uint8_t*>(out.data()),
                           reinterpret_cast<const uint8_t*>(in.data()), in.size(), &count, 0),
              0);
    out.resize(count);
    return out;
}

int Decode(const std::string& in, std::string* out) {
    out->assign(Base64DecodedBound(in.size()), '\0');
    size_t count = 0;
    const int err = DecodeBase64(reinterpret_cast<const uint8_t*>(in.data()), in.size(),
                                 reinterpret_cast<uint8_t*>(out->data()), nullptr, &count);
    out->resize(count);
    return err;
}

TEST_F(DosPackTest, Base64) {
    const char* vectors[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
                                {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (auto& v : vectors) {
        EXPECT_EQ(Encode(v[0]), v[1]);
        std::string back;
        ASSERT_EQ(Decode(v[1], &back), 0);
        EXPECT_EQ(back, v[0]);
    }
    std::string back;
    ASSERT_EQ(Decode(" Zm9v\r\nYm\tFy ", &back), 0);
    EXPECT_EQ(back, "foobar");
    EXPECT_EQ(Decode("Zm9vY", &back), ERR_BADBASE64);
    EXPECT_EQ(Decode("Zm9v!mFy", &back), ERR_BADBASE64);

    // Into a VM string.
    VmSetTop(L, 0);
    ScriptBuffer b;
    VmBufferInit(L, &b);
    ASSERT_EQ(EncodeBase64(nullptr, &b, nullptr, reinterpret_cast<const uint8_t*>("foobar"), 6, nullptr, 0), 0);
    VmBufferPushResult(&b);
    EXPECT_EQ(Str(-1), "Zm9vYmFy");

    // Into a file: lines of 72 like coreutils, without its final line feed.
    const std::string data = RandomBytes(1000, 9);
    const std::string source = dir_.Write("data.bin", data);
    const std::string encoded = dir_ / "data.b64";
    qbFile* file = FileOpen(encoded.c_str(), kFileModeWrite, nullptr);
    ASSERT_NE(file, nullptr);
    size_t count = 0;
    ASSERT_EQ(EncodeBase64(file, nullptr, nullptr, reinterpret_cast<const uint8_t*>(data.data()), data.size(), &count,
                           0),
              0);
    FileClose(file);
    const std::string mine = ScratchDir::Read(encoded);
    EXPECT_EQ(count, mine.size());
    std::string theirs = Shell("base64 -w 72 " + source);
    ASSERT_FALSE(theirs.empty());
    theirs.pop_back();
    EXPECT_EQ(mine, theirs);
    EXPECT_EQ(Shell("base64 -d " + encoded), data);
    ASSERT_EQ(Decode(theirs, &back), 0);
    EXPECT_EQ(back, data);
}

TEST_F(DosPackTest, PatchesXorTheSource) {
    auto patch = [&](const std::string& p, const std::string& s) {
        const std::string out = dir_ / "out.bin";
        EXPECT_EQ(Call("OpenFile", {1.0, dir_.Write("patch.bin", p)}), 0);
        EXPECT_EQ(Call("OpenFile", {2.0, dir_.Write("source.bin", s)}), 0);
        EXPECT_EQ(Call("OpenFile", {3.0, out, 1006.0}), 0);
        EXPECT_EQ(Call("ApplyPatch", {1.0, 2.0, 3.0}), 0);
        EXPECT_EQ(Call("CloseFile", {3.0}), 0);
        return ScratchDir::Read(out);
    };
    EXPECT_EQ(patch(Bytes({0x00, 0xFF}), Bytes({0x0F, 0x0F})), Bytes({0x0F, 0xF0}));
    EXPECT_EQ(patch(Bytes({0x00, 0xFF, 0x12, 0x80}), Bytes({0x0F})), Bytes({0x0F, 0x00, 0xED, 0x7F}));
    EXPECT_EQ(patch("", "abc"), "");
    EXPECT_EQ(Call("ApplyPatch", {1.0, 2.0, 9.0}), ERR_FINDFILE);
}

std::vector<int>& Progress() {
    static std::vector<int> seen;
    return seen;
}

int RecordProgress(ScriptState* L) {
    VmPushString(L, "progress");
    VmGetTableAt(L, 1);
    Progress().push_back(static_cast<int>(VmToNumber(L, -1)));
    EXPECT_EQ(GetRuntimeTag(kTagCallbackNesting), 1);
    return Progress().size() == 50 && VmToNumber(L, VmUpvalueIndex(1)) ? ERR_WRONGUSAGE : 0;
}

TEST_F(DosPackTest, PatchProgressAndCallbackErrors) {
    const std::string source = dir_.Write("source.bin", RandomBytes(300, 5));
    const std::string patchFile = dir_.Write("patch.bin", RandomBytes(700, 6));
    for (double failAt50 : {0.0, 1.0}) {
        Progress().clear();
        ASSERT_EQ(Call("OpenFile", {1.0, patchFile}), 0);
        ASSERT_EQ(Call("OpenFile", {2.0, source}), 0);
        ASSERT_EQ(Call("OpenFile", {3.0, dir_ / "out.bin", 1006.0}), 0);
        VmSetTop(L, 0);
        for (double id : {1.0, 2.0, 3.0}) VmPushNumber(L, id);
        VmPushNumber(L, failAt50);
        VmPushCClosure(L, RecordProgress, 1);
        const int err = CallCommand(L, "ApplyPatch", 4, 0);
        EXPECT_EQ(GetRuntimeTag(kTagCallbackNesting), 0);
        if (failAt50) {
            EXPECT_EQ(err, ERR_WRONGUSAGE);
            EXPECT_EQ(Progress().size(), 50u);
        } else {
            EXPECT_EQ(err, 0);
            ASSERT_EQ(Progress().size(), 100u);
            for (size_t i = 0; i < 100; ++i) EXPECT_EQ(Progress()[i], static_cast<int>(i) + 1);
        }
    }
}

}  // namespace
