// The string library against outside tools: FormatStr against coreutils'
// printf over generated directives, and the digests and Base64 against
// md5sum, crc32 and base64 over random binary strings.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/scratch.h"
#include "libs/libcall_fixture.h"

namespace {

class StringOracleTest : public libstest::LibCallFixture {
protected:
    static std::string Shell(const std::string& command) {
        std::string out;
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        if (!pipe) return out;
        char buf[65536];
        while (size_t n = std::fread(buf, 1, sizeof buf, pipe.get())) out.append(buf, n);
        return out;
    }
    static bool Have(const char* tool) { return access(tool, X_OK) == 0; }

    ScratchDir dir_;
};

struct FormatCase {
    std::string format;
    libstest::CallArg ours;  // what FormatStr takes
    std::string theirs;      // what printf takes
};

// One conversion with random flags, width and precision around fixed text.
// Floating values are multiples of 1/8 (or powers of two), which a double
// and printf's long double print alike at every precision.
FormatCase MakeCase(std::mt19937& rng) {
    static const std::string kLetters = "diouxXeEfgGcs";
    static const std::string kFlags = "-+ #0";
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    FormatCase c;
    const char letter = kLetters[pick(static_cast<int>(kLetters.size()))];
    std::string conversion = "%";
    for (int n = pick(4); n > 0; --n) conversion += kFlags[pick(5)];
    if (pick(3)) conversion += std::to_string(pick(100));
    if (pick(3)) {
        conversion += '.';
        conversion += std::to_string(pick(100));
    }
    conversion += letter;
    c.format = "<" + conversion + ">";
    char text[64];
    switch (letter) {
    case 'd':
    case 'i': {
        const double v = static_cast<double>(static_cast<int32_t>(rng()));
        c.ours = v;
        std::snprintf(text, sizeof text, "%.0f", v);
        c.theirs = text;
        break;
    }
    case 'o':
    case 'u':
    case 'x':
    case 'X': {
        const double v = static_cast<double>(rng() >> pick(32));
        c.ours = v;
        std::snprintf(text, sizeof text, "%.0f", v);
        c.theirs = text;
        break;
    }
    case 'c': {
        const char ch = static_cast<char>('A' + pick(26));
        c.ours = static_cast<double>(ch);
        c.theirs = std::string(1, ch);
        break;
    }
    case 's': {
        std::string s;
        for (int n = pick(120); n > 0; --n) s += static_cast<char>('a' + pick(26));
        c.ours = s;
        c.theirs = s.empty() ? "''" : s;
        break;
    }
    default: {
        double v = pick(2) ? (static_cast<int>(rng() % 2000001) - 1000000) / 8.0
                           : std::ldexp(1.0, pick(160) - 80) * (pick(2) ? -1 : 1);
        c.ours = v;
        std::snprintf(text, sizeof text, "%.30g", v);
        c.theirs = text;
        break;
    }
    }
    return c;
}

TEST_F(StringOracleTest, FormatStrMatchesPrintf) {
    if (!Have("/usr/bin/printf")) GTEST_SKIP() << "no /usr/bin/printf";
    std::mt19937 rng(20261207);
    std::vector<FormatCase> cases;
    std::string script;
    for (int i = 0; i < 2000; ++i) {
        cases.push_back(MakeCase(rng));
        // A case printf refuses (it knows which flags suit which letter)
        // ends with \2, and is left out.
        script += "/usr/bin/printf '" + cases.back().format + "' " + cases.back().theirs +
                  " 2>/dev/null || printf '\\002'; printf '\\001'\n";
    }
    const std::string path = dir_.Write("cases.sh", script);
    const std::string out = Shell("sh " + path);
    size_t at = 0;
    int compared = 0;
    for (const FormatCase& c : cases) {
        const size_t end = out.find('\1', at);
        ASSERT_NE(end, std::string::npos);
        const std::string expected = out.substr(at, end - at);
        at = end + 1;
        if (!expected.empty() && expected.back() == '\2') continue;
        ++compared;
        ASSERT_EQ(Run("FormatStr", {c.format, c.ours}), expected) << c.format << " " << c.theirs;
    }
    RecordProperty("compared", compared);
    // printf refuses some flag and letter pairs; most cases still count.
    EXPECT_GT(compared, 1200);
}

TEST_F(StringOracleTest, DigestsAndBase64MatchTheTools) {
    if (!Have("/usr/bin/md5sum") || !Have("/usr/bin/crc32") || !Have("/usr/bin/base64"))
        GTEST_SKIP() << "md5sum, crc32 or base64 missing";
    std::mt19937 rng(7);
    for (int i = 0; i < 40; ++i) {
        std::string data(1 + rng() % (i < 20 ? 64 : 5000), '\0');
        for (char& ch : data) ch = static_cast<char>(rng());
        const std::string path = dir_.Write("data.bin", data);
        EXPECT_EQ(Run("MD5Str", {data}), Shell("md5sum < " + path).substr(0, 32));
        EXPECT_EQ(Run("CRC32Str", {data}), std::to_string(std::stoul(Shell("crc32 " + path), nullptr, 16)));
        // A string gets no line feeds, whatever the wrap flag says.
        const std::string encoded = Run("Base64Str", {data, 0.0});
        const std::string flat = Shell("base64 -w 0 " + path);
        ASSERT_EQ(encoded, flat);
        EXPECT_EQ(Run("Base64Str", {flat, 1.0}), data);
        const std::string text = dir_.Write("text.b64", encoded);
        EXPECT_EQ(Shell("base64 -d " + text), data);
    }
}

// Padding only ends a text: base64 -d refuses a pad in a quartet's first
// two places, a pad followed by data inside its quartet, and a short
// quartet, and so does the decoder.
TEST_F(StringOracleTest, MisplacedPaddingIsRefusedAsBase64DoesIt) {
    if (!Have("/usr/bin/base64")) GTEST_SKIP() << "base64 missing";
    for (const std::string text : {"====", "A===", "A=AA", "=AAA", "QUJD====", "AA=A", "AA===", "AAA=A", "AA", "AAA",
                                   "AA==", "AAA=", "QUJD", "AA==\n", "QUJD\nRA==\n", "QU\nJD"}) {
        const std::string path = dir_.Write("pad.b64", text);
        const std::string out = Shell("base64 -d " + path + " 2>/dev/null; printf '|%d' $?");
        const size_t bar = out.rfind('|');
        const bool refused = out.substr(bar + 1) != "0";
        EXPECT_EQ(Run("Base64Str", {text, 1.0}), refused ? "E1323" : out.substr(0, bar)) << text;
    }
    // base64 -d reads on past a padded quartet as a second text; a string
    // is one text, so data after its pad is refused.
    EXPECT_EQ(Run("Base64Str", {std::string("AA==AAAA"), 1.0}), "E1323");
}

}  // namespace
