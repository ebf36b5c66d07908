// Case folding, charset conversion, path helpers, bit scan and CRC-32.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/chars.h"
#include "core/memory.h"

TEST(CaseFolding, AccentedCapitalsMatchButThornAndSignsDoNot) {
    EXPECT_EQ(StrCmpNoCase("\xC9t\xC9", "\xE9T\xE9"), 0);
    EXPECT_NE(StrCmpNoCase("\xFE", "\xDE"), 0);
    EXPECT_NE(StrCmpNoCase("\xD7", "\xF7"), 0);
    EXPECT_NE(StrCmpNoCase("\xFF", "\xDF"), 0);
    for (int c = 0; c < 256; ++c) {
        const bool capital = (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDD && c != 0xD7);
        const bool small = (c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFD && c != 0xF7);
        EXPECT_EQ(kLowerCaseTable[c], capital ? c + 32 : c) << c;
        EXPECT_EQ(kUpperCaseTable[c], small ? c - 32 : c) << c;
    }
}

TEST(CaseFolding, ResultIsTheDifferenceOfTheUpperCaseBytes) {
    EXPECT_EQ(StrCmpNoCase("a", "B"), 'A' - 'B');
    EXPECT_EQ(StrCmpNoCase("abc", "AB"), 'C');
    EXPECT_EQ(StrCmpNoCase("ab", "ABC"), -'C');
    // Bytes above 127 count as unsigned, so they sort after ASCII.
    EXPECT_GT(StrCmpNoCase("\xE9", "z"), 0);
    EXPECT_EQ(StrNCmpNoCase("HELLOx", "helloY", 5), 0);
    EXPECT_NE(StrNCmpNoCase("HELLOx", "helloY", 6), 0);
    EXPECT_EQ(StrNCmpNoCase("ab", "AB", 10), 0);

    char text[] = "\xC0" "BC\xD7Z";
    EXPECT_STREQ(StrToLower(text), "\xE0" "bc\xD7z");
}

TEST(Chars, VisibleCharactersPercentEscapesAndBitScan) {
    for (int c : {33, 126, 161, 255}) EXPECT_EQ(IsGraphChar(c), 1) << c;
    for (int c : {-1, 32, 127, 160, 256}) EXPECT_EQ(IsGraphChar(c), 0) << c;
    EXPECT_EQ(EscapePercent("100%"), "100%%");
    EXPECT_EQ(EscapePercent("plain"), "");
    EXPECT_EQ(EscapePercent(""), "");
    EXPECT_EQ(FindLowestSetBit(0), -1);
    EXPECT_EQ(FindLowestSetBit(0x80000000u), 31);
}

TEST(Charset, Utf8ToLatin1AndBack) {
    const std::pair<const char*, const char*> cases[] = {
        {"\xC3\xBC", "\xFC"}, {"\xC2\xA3" "5", "\xA3" "5"},
        // Characters that ISO 8859-1 lacks, and sequences that are no UTF-8.
        {"\xC4\x80", "?"}, {"1\xE2\x82\xAC", "1?"}, {"\xF0\x9F\x98\x80!", "?!"}, {"caf\xE9", "caf?"},
        {"\x80x", "?x"}, {"\xFFz", "?z"}, {"\xC0\xAF", "??"},  // an overlong form of ASCII is not ASCII
        {"\xC3(a", "?(a"}, {"\xE2\x82x", "?x"},  // cut short: one '?', and the next character survives
    };
    for (const auto& [utf8, latin1] : cases) EXPECT_EQ(UTF8ToLatin1(utf8), latin1) << utf8;
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    const std::string utf8 = Latin1ToUTF8(all.c_str());
    EXPECT_EQ(utf8.size(), 127u + 2u * 128u);
    EXPECT_EQ(UTF8ToLatin1(utf8.c_str()), all);
}

TEST(Charset, CutShortSequenceAtTheEndStopsAtTheTerminator) {
    // Exactly sized heap copies, so that the address sanitizer sees any read
    // past the terminator.
    for (const std::string text : {"\xC3", "\xE2\x82", "\xF0\x9F\x98", "ab\xDF"}) {
        auto copy = std::make_unique<char[]>(text.size() + 1);
        std::memcpy(copy.get(), text.c_str(), text.size() + 1);
        const std::string out = UTF8ToLatin1(copy.get());
        EXPECT_EQ(out.back(), '?') << text;
        EXPECT_LE(out.size(), text.size());
        std::string strict;
        EXPECT_FALSE(TryUTF8ToLatin1(copy.get(), strict));
    }
}

TEST(Charset, FileNamesKeepTheirRawBytesWhenTheyCantBeConverted) {
    EXPECT_EQ(FileNameToLatin1("gr\xC3\xBC\xC3\x9F.txt"), "gr\xFC\xDF.txt");
    EXPECT_EQ(FileNameToLatin1("caf\xE9.txt"), "caf\xE9.txt");
    EXPECT_EQ(FileNameToLatin1("1\xE2\x82\xAC.txt"), "1\xE2\x82\xAC.txt");
}

TEST(Charset, ConvertCharsetGivesAnAllocatedCopyForTheTwoPairs) {
    MemoryPtr<char> utf8(ConvertCharset("\xFC", kCharsetLatin1, kCharsetUTF8));
    ASSERT_TRUE(utf8);
    EXPECT_STREQ(utf8.get(), "\xC3\xBC");
    MemoryPtr<char> latin1(ConvertCharset(utf8.get(), kCharsetUTF8, kCharsetLatin1));
    ASSERT_TRUE(latin1);
    EXPECT_STREQ(latin1.get(), "\xFC");
    EXPECT_EQ(ConvertCharset("x", kCharsetLatin1, kCharsetLatin1), nullptr);
    EXPECT_EQ(ConvertCharset("x", 1, 2), nullptr);
    EXPECT_EQ(ConvertCharset(nullptr, kCharsetLatin1, kCharsetUTF8), nullptr);
}

TEST(Paths, FileParts) {
    const char* path = "/a/b/c.png";
    EXPECT_EQ(GetPathFilePart(path), path + 4);
    const char* mixed = "Work:dir\\sub/f";
    EXPECT_EQ(GetPathFilePart(mixed), mixed + 12);
    const std::pair<const char*, const char*> cases[] = {
        {"dir/sub/", ""}, {"Work:pics", "pics"}, {"a/b\\c", "c"}, {"a:b:c", "b:c"}, {"/", "/"},
        {":::chunk1000:20*gfx/pic.png?/apps/x.app", "gfx/pic.png"}, {":::chunkS3:10*tune.wav?extra", "tune.wav"},
        {":::chunk5:5", ""},
    };
    for (const auto& [in, part] : cases) EXPECT_STREQ(FilePartEx(in), part) << in;
    const std::string longName = ":::chunk1:1*" + std::string(3000, 'n') + "?c";
    EXPECT_EQ(std::strlen(FilePartEx(longName.c_str())), 1023u);
    EXPECT_EQ(MakeNativePath("a\\b\\c"), "a/b/c");
    EXPECT_EQ(MakeNativePath(":::chunk1:2*a\\b?c"), ":::chunk1:2*a\\b?c");
}

TEST(Paths, AddPartJoinsWithinTheBufferSize) {
    const std::pair<const char*, const char*> joins[] = {{"", "x"}, {"dir/", "dir/x"}, {"C:\\dir\\", "C:\\dir\\x"},
                                                         {"C:\\dir\\x", "C:\\dir\\x/x"}};
    for (const auto& [start, joined] : joins) {
        char path[64];
        std::strcpy(path, start);
        EXPECT_EQ(AddPart(path, "x", sizeof path), 1) << start;
        EXPECT_STREQ(path, joined);
    }
    char small[6] = "dir";
    EXPECT_EQ(AddPart(small, "abcdef", sizeof small), 0);
    EXPECT_STREQ(small, "dir/a");
    char full[4] = "abc";
    EXPECT_EQ(AddPart(full, "d", sizeof full), 0);
    EXPECT_STREQ(full, "abc");
    char exact[6] = "ab";
    EXPECT_EQ(AddPart(exact, "cd", sizeof exact), 1);
    EXPECT_STREQ(exact, "ab/cd");

    // Bytes behind the stated size stay untouched, even when the path in the
    // buffer has no terminator.
    char guarded[16];
    std::memset(guarded, '#', sizeof guarded);
    std::memcpy(guarded, "abcdefgh", 8);
    EXPECT_EQ(AddPart(guarded, "xyz", 8), 0);
    EXPECT_STREQ(guarded, "abcdefg");
    for (size_t i = 8; i < sizeof guarded; ++i) EXPECT_EQ(guarded[i], '#') << i;

    EXPECT_EQ(AddPart(guarded, "x", 0), 0);
    EXPECT_EQ(guarded[0], 'a');
}

TEST(Crc32, StandardCheckValues) {
    BuildCRC32Table();
    EXPECT_EQ(ComputeCRC32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(ComputeCRC32("a", 1), 0xE8B7BE43u);
    EXPECT_EQ(ComputeCRC32("abc", 0), 0u);
    EXPECT_EQ(ComputeCRC32("abc", -5), 0u);
    EXPECT_EQ(ComputeCRC32(nullptr, 5), 0u);
    const std::string zeros(4096, '\0');
    EXPECT_EQ(ComputeCRC32(zeros.data(), 32), 0x190A55ADu);
}

TEST(Crc32, FastAndPortableFormsAgreeWithTheBytewiseOneAndZlib) {
    std::mt19937 random(20240601);
    std::vector<unsigned char> buffer(1 << 16);
    for (auto& b : buffer) b = static_cast<unsigned char>(random());
    // Every length around the 16- and 64-byte blocks, at every alignment.
    for (long length = 0; length <= 300; ++length) {
        for (size_t offset = 0; offset < 16; ++offset) {
            const unsigned char* p = buffer.data() + offset;
            const uint32_t expected = ComputeCRC32Bytewise(p, length);
            ASSERT_EQ(ComputeCRC32(p, length), expected) << length << "+" << offset;
            ASSERT_EQ(ComputeCRC32Portable(p, length), expected) << length << "+" << offset;
        }
    }
    for (int trial = 0; trial < 50; ++trial) {
        const size_t offset = random() % 64;
        const long length = static_cast<long>(random() % (buffer.size() - offset));
        const unsigned char* p = buffer.data() + offset;
        ASSERT_EQ(ComputeCRC32(p, length), ComputeCRC32Bytewise(p, length)) << length;
        ASSERT_EQ(ComputeCRC32(p, length), static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(length))));
    }
}
