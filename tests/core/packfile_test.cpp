// Pack files: inflating into a file or a buffer, the consumed length that
// finds what follows the stream, and every way a pack file can be broken.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/file.h"
#include "core/packfile.h"
#include "scratch.h"

namespace {

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> out(size);
    EXPECT_EQ(compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 6), Z_OK);
    out.resize(size);
    return out;
}

std::vector<uint8_t> Pack(const char* magic, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> z = Deflate(data);
    std::vector<uint8_t> out(magic, magic + kPackMagicSize);
    out.reserve(kPackMagicSize + 4 + z.size());
    out.insert(out.end(), {0xDE, 0xAD, 0xBE, 0xEF});  // skipped
    out.insert(out.end(), z.begin(), z.end());
    return out;
}

// Bytes that compress a little: text-like with noise.
std::vector<uint8_t> Content(size_t n) {
    std::vector<uint8_t> out(n);
    std::mt19937 random(7);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>((i % 64) < 48 ? 'a' + i % 26 : random());
    return out;
}

class PackFileTest : public ::testing::Test {
protected:
    std::string Write(const std::vector<uint8_t>& bytes, const std::string& name = "in.pak") {
        return dir_.Write(name, std::string(bytes.begin(), bytes.end()));
    }
    static std::vector<uint8_t> Read(const std::string& path) {
        const std::string text = ScratchDir::Read(path);
        return {text.begin(), text.end()};
    }

    ScratchDir dir_;
};

TEST_F(PackFileTest, InflatesIntoAFileAndTellsWhereTheStreamEnds) {
    // Several read pieces of input, and a tail that is not part of the stream.
    std::vector<uint8_t> content = Content(300000);
    std::vector<uint8_t> packed = Pack(kAppletPackMagic, content);
    std::vector<uint8_t> file = {'x', 'y', 'z'};
    file.insert(file.end(), packed.begin(), packed.end());
    file.insert(file.end(), {'I', 0, 0});
    std::string source = Write(file), target = dir_ / "out.bin";

    uint64_t inflated = 0, consumed = 0;
    ASSERT_EQ(InflatePackFile(kAppletPackMagic, source.c_str(), target.c_str(), nullptr, 3, &inflated, &consumed,
                              nullptr, 0),
              0);
    EXPECT_EQ(Read(target), content);
    EXPECT_EQ(inflated, content.size());
    EXPECT_EQ(consumed, packed.size());
}

TEST_F(PackFileTest, InflatesIntoABufferUntilItIsFull) {
    std::vector<uint8_t> content = Content(100000);
    std::string source = Write(Pack(kPluginPackMagic, content));
    std::vector<uint8_t> buffer(2048, 0xEE);
    uint64_t inflated = 0;
    ASSERT_EQ(InflatePackFile(kPluginPackMagic, source.c_str(), nullptr, nullptr, 0, &inflated, nullptr,
                              buffer.data(), buffer.size()),
              0);
    EXPECT_EQ(inflated, buffer.size());
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), content.begin()));

    // A buffer bigger than the content keeps its tail.
    std::vector<uint8_t> big(content.size() + 10, 0xEE);
    ASSERT_EQ(InflatePackFile(kPluginPackMagic, source.c_str(), nullptr, nullptr, 0, &inflated, nullptr, big.data(),
                              big.size()),
              0);
    EXPECT_EQ(inflated, content.size());
    EXPECT_EQ(big.back(), 0xEE);

    // From an open handle.
    qbFilePtr f(FileOpen(source.c_str(), kFileModeRead, nullptr));
    ASSERT_TRUE(f);
    ASSERT_EQ(InflatePackFile(kPluginPackMagic, nullptr, nullptr, f.get(), 0, nullptr, nullptr, buffer.data(),
                              buffer.size()),
              0);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), content.begin()));
}

TEST_F(PackFileTest, BrokenPackFiles) {
    std::vector<uint8_t> content = Content(50000);
    std::vector<uint8_t> packed = Pack(kAppletPackMagic, content);
    std::string target = dir_ / "out.bin";
    auto inflate = [&](const std::vector<uint8_t>& bytes) {
        std::string source = Write(bytes);
        return InflatePackFile(kAppletPackMagic, source.c_str(), target.c_str(), nullptr, 0, nullptr, nullptr,
                               nullptr, 0);
    };
    EXPECT_EQ(inflate(Pack(kPluginPackMagic, content)), ERR_PAKFORMAT);
    EXPECT_EQ(inflate({'Q', 'B', 'Z', 0, 1}), ERR_READ);
    EXPECT_EQ(inflate(std::vector<uint8_t>(packed.begin(), packed.end() - 20)), ERR_ZLIBDATA);
    std::vector<uint8_t> corrupt = packed;
    corrupt[8] ^= 0xFF;  // the zlib header
    EXPECT_EQ(inflate(corrupt), ERR_ZLIBDATA);
    std::vector<uint8_t> flipped = packed;
    for (size_t i = 20; i < 40; ++i) flipped[i] ^= 0x55;
    EXPECT_EQ(inflate(flipped), ERR_ZLIBDATA);

    std::string missing = dir_ / "missing.pak";
    EXPECT_EQ(InflatePackFile(kAppletPackMagic, missing.c_str(), target.c_str(), nullptr, 0, nullptr, nullptr,
                              nullptr, 0),
              ERR_READFILE);
    EXPECT_EQ(std::string(GetErrorDetail()), missing);
    std::string source = Write(packed);
    std::string unwritable = dir_ / "no/such/folder";
    EXPECT_EQ(InflatePackFile(kAppletPackMagic, source.c_str(), unwritable.c_str(), nullptr, 0, nullptr, nullptr,
                              nullptr, 0),
              ERR_WRITEFILE);
    EXPECT_EQ(std::string(GetErrorDetail()), unwritable);
    // A start offset past the end.
    EXPECT_EQ(InflatePackFile(kAppletPackMagic, source.c_str(), target.c_str(), nullptr, 1 << 20, nullptr, nullptr,
                              nullptr, 0),
              ERR_READ);
}

}  // namespace
