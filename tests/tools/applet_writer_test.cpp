// Applet writer and qbapplet's command line: the written container is parsed
// back section by section.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

#include "lib/applet_cli.h"
#include "lib/applet_writer.h"
#include "lib/assembler.h"

namespace {

// Walks a container the way a loader would, for the tags the writer produces.
struct Reader {
    const std::vector<uint8_t>& bytes;
    size_t pos = 0;

    bool AtEnd() const { return pos >= bytes.size(); }
    uint8_t U8() { return bytes.at(pos++); }
    uint32_t U32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | U8();
        return v;
    }
    std::string CString() {
        std::string s;
        while (uint8_t c = U8()) s += static_cast<char>(c);
        return s;
    }
    std::vector<uint8_t> Take(size_t n) {
        std::vector<uint8_t> out(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                                 bytes.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
        return out;
    }
};

AppletCommand Parse(const std::vector<std::string>& args) {
    AppletCommand command;
    std::string error;
    EXPECT_TRUE(ParseAppletCommand(args, command, error)) << error;
    return command;
}

std::string ParseError(const std::vector<std::string>& args) {
    AppletCommand command;
    std::string error;
    EXPECT_FALSE(ParseAppletCommand(args, command, error));
    return error;
}

TEST(AppletWriter, FullLayoutParsesBack) {
    AppletCommand command = Parse({"-o", "out.qba", "--body", "in.qbb", "--identifier", "id",
                                   "--title", "Hello", "--author", "Me", "--copyright", "(c)",
                                   "--description", "Demo", "--version-string", "$VER: 1",
                                   "--applet-version", "5.3", "--label", "START=12",
                                   "--label", "neg=-1", "--include", "hello.qbs:1:1000000:0",
                                   "--include", "inc.qbs:5:9:2:chunk:name",
                                   "--raw-section", "29:", "--raw-section", "0:00000001AB"});
    EXPECT_EQ(command.outPath, "out.qba");
    EXPECT_EQ(command.bodyPath, "in.qbb");
    command.desc.body = std::vector<uint8_t>{0x1B, 'Q', 'B', 'B'};
    std::vector<uint8_t> bytes = BuildApplet(command.desc);

    Reader r{bytes};
    EXPECT_EQ(r.Take(4), (std::vector<uint8_t>{'Q', 'B', 'A', 0}));
    EXPECT_EQ(r.U8(), kTagVersion);
    EXPECT_EQ(r.U8(), 5);
    EXPECT_EQ(r.U8(), 3);
    const std::pair<uint8_t, const char*> strings[] = {
        {kTagTitle, "Hello"}, {kTagVersionString, "$VER: 1"}, {kTagCopyright, "(c)"},
        {kTagAuthor, "Me"},   {kTagDescription, "Demo"},      {kTagIdentifier, "id"}};
    for (const auto& [tag, text] : strings) {
        EXPECT_EQ(r.U8(), tag);
        EXPECT_EQ(r.CString(), text);
    }
    EXPECT_EQ(r.U8(), kTagLabels);
    EXPECT_EQ(r.U32(), 2u);
    EXPECT_EQ(r.U32(), 12u);
    EXPECT_EQ(r.CString(), "START");
    EXPECT_EQ(r.U32(), 0xFFFFFFFFu);
    EXPECT_EQ(r.CString(), "neg");
    EXPECT_EQ(r.U8(), kTagIncludeNamed);
    EXPECT_EQ(r.U32(), 2u);
    EXPECT_EQ(r.U32(), 1u);
    EXPECT_EQ(r.U32(), 1000000u);
    EXPECT_EQ(r.U32(), 0u);
    EXPECT_EQ(r.CString(), "hello.qbs");
    EXPECT_EQ(r.CString(), "");
    EXPECT_EQ(r.U32(), 5u);
    EXPECT_EQ(r.U32(), 9u);
    EXPECT_EQ(r.U32(), 2u);
    EXPECT_EQ(r.CString(), "inc.qbs");
    EXPECT_EQ(r.CString(), "chunk:name");
    EXPECT_EQ(r.U8(), 29);
    EXPECT_EQ(r.U8(), 0);
    EXPECT_EQ(r.U32(), 1u);
    EXPECT_EQ(r.U8(), 0xAB);
    EXPECT_EQ(r.U8(), kTagBody);
    EXPECT_EQ(r.U32(), 4u);
    EXPECT_EQ(r.Take(4), (std::vector<uint8_t>{0x1B, 'Q', 'B', 'B'}));
    EXPECT_TRUE(r.AtEnd());
}

TEST(AppletWriter, MinimalAndBrokenApplets) {
    AppletCommand command = Parse({"--body", "b", "-o", "x"});
    command.desc.body = std::vector<uint8_t>{};
    EXPECT_EQ(BuildApplet(command.desc), (std::vector<uint8_t>{'Q', 'B', 'A', 0, 10, 6, 1, 1, 0, 0, 0, 0}));

    command = Parse({"-o", "x", "--no-body", "--magic", "QBX", "--no-version"});
    EXPECT_TRUE(command.bodyPath.empty());
    EXPECT_EQ(BuildApplet(command.desc), (std::vector<uint8_t>{'Q', 'B', 'X', 0}));

    command = Parse({"-o", "x", "--body", "b", "--body-size", "1000", "--magic", "QBAXY",
                     "--truncate", "9", "--raw-section", "35:FF"});
    command.desc.body = std::vector<uint8_t>{1, 2, 3};
    AppletDesc whole = command.desc;
    whole.truncateAt.reset();
    std::vector<uint8_t> full = BuildApplet(whole);
    EXPECT_EQ(full, (std::vector<uint8_t>{'Q', 'B', 'A', 'X', 10, 6, 1, 35, 0xFF, 1, 0, 0, 3,
                                          0xE8, 1, 2, 3}));
    EXPECT_EQ(BuildApplet(command.desc), std::vector<uint8_t>(full.begin(), full.begin() + 9));
}

TEST(AppletWriter, InlineOptionValuesAndHelp) {
    AppletCommand command = Parse({"-o", "x", "--body=b", "--title=a=b", "--applet-version=6.0"});
    EXPECT_EQ(command.bodyPath, "b");
    EXPECT_EQ(command.desc.headerStrings.at(kTagTitle), "a=b");
    EXPECT_EQ(command.desc.version, std::make_pair(uint8_t{6}, uint8_t{0}));
    EXPECT_TRUE(Parse({"--help"}).help);
}

TEST(AppletWriter, CommandLineErrors) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--body", "b"}, "no output file (-o)"},
        {{"-o", "x"}, "no script body (--body)"},
        {{"-o", "x", "--body", "b", "--no-body"}, "--no-body and --body exclude each other"},
        {{"-o", "x", "--frob", "1"}, "unknown option --frob"},
        {{"-o", "x", "--no-body=1"}, "--no-body takes no value"},
        {{"-o", "x", "--applet-version", "256.1"}, "bad value for --applet-version: 256.1"},
        {{"-o", "x", "--label", "a=b"},
         "bad value for --label: a=b: NAME=VALUE, VALUE a whole number (-2147483648 to 4294967295)"},
        {{"-o", "x", "--include", "f:1:x:0"}, "bad value for --include: f:1:x:0"},
        {{"-o", "x", "--include", "f:10:5:0"}, "bad value for --include: f:10:5:0: FIRST 10 is above LAST 5"},
        {{"-o", "x", "--include=f:-1:5:0"},
         "bad value for --include: f:-1:5:0: FIRST and LAST are lines of the chunk, 0 or more"},
        {{"-o", "x", "--include", "f:10:20:-6"},
         "bad value for --include: f:10:20:-6: line 10 would be reported as line -5 (a line L is reported as "
         "OFFSET + 1 + L - FIRST, so OFFSET must be 0 or more)"},
        {{"-o", "x", "--include", "f:1:4294967295:1"},
         "bad value for --include: f:1:4294967295:1: lines up to 2147483648 would be reported, and the player "
         "reads lines above 2147483647 as negative ones"},
        {{"-o", "x", "--raw-section", "3:ABC"}, "bad value for --raw-section: 3:ABC"},
        {{"-o"}, "-o needs a value"},
        {{"-o", "x", "--plugin-tag", "a=1"}, "bad value for --plugin-tag: a=1"},
        {{"-o", "x", "--menu", "1:A{B"}, "bad value for --menu: 1:A{B"},
        {{"-o", "x", "--declare", "256:1"}, "bad value for --declare: 256:1"},
        {{"-o", "x", "--display-flag", "17:1"}, "bad value for --display-flag: 17:1"},
        {{"-o", "x", "--timer", "1:2"}, "bad value for --timer: 1:2"},
    };
    for (const auto& [args, error] : cases) EXPECT_EQ(ParseError(args), error);
}

// Without --include, one entry maps every line to the file the chunk's source
// name names, or to the body file for a chunk without a usable one.
TEST(AppletWriter, DefaultIncludeEntryFollowsTheChunksSourceName) {
    auto chunk = [](const std::string& source) {
        std::vector<uint8_t> bytes;
        std::string error;
        EXPECT_TRUE(AssembleText(".function\n" + source + "\nRETURN 0 1\n.end", bytes, error)) << error;
        return bytes;
    };
    const struct {
        std::vector<std::string> extra;
        std::vector<uint8_t> body;
        std::string file, source;
    } cases[] = {
        {{}, chunk(".source \"dir/app.qbs\""), "dir/app.qbs", "dir/app.qbs"},
        {{}, chunk(""), "app.qbb", ""},
        {{}, chunk(".source \"=stdin\""), "app.qbb", ""},
        {{}, {'j', 'u', 'n', 'k'}, "app.qbb", ""},
        {{"--include", "x.qbs:1:2:0"}, chunk(""), "x.qbs", ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"-o", "x", "--body", "out/app.qbb"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        AppletCommand command = Parse(args);
        command.desc.body = c.body;
        AddDefaultInclude(command);
        ASSERT_EQ(command.desc.includes.size(), 1u) << c.file;
        const AppletInclude& entry = command.desc.includes[0];
        EXPECT_EQ(entry.file, c.file);
        EXPECT_EQ(entry.source, c.source);
        if (c.extra.empty()) {
            EXPECT_EQ(entry.first, 1u);
            EXPECT_EQ(entry.last, 2147483647u);
            EXPECT_EQ(entry.offset, 0u);
        }
    }
    AppletCommand noBody = Parse({"-o", "x", "--no-body"});
    AddDefaultInclude(noBody);
    EXPECT_TRUE(noBody.desc.includes.empty());
}

// The declaration and data options fill the description the writer reads.
TEST(AppletWriter, DeclarationAndDataOptions) {
    AppletCommand command =
        Parse({"-o", "x", "--body", "b", "--declare", "1:2:7:b.png", "--plugin", "gadget:1:2", "--plugin-tag",
               "n=1.5", "--plugin-tag", "s=fast", "--display-decl", "2:320:200:Two: the title", "--menu",
               "3:File{Open#open,Quit#quit},Help", "--icon", "32:32:3:icon.png", "--link", "a.bin=data/a",
               "--link-far", "::font:Sans=sans.font", "--link-dropped", "gone", "--string-constant", "HI=a=b",
               "--timer", "1:2:3:4", "--include-form", "complemented", "--compress", "--scale", "0:1:2:1"});
    const AppletDesc& desc = command.desc;
    const auto& d = desc.declarations;
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[0].sourceLine, 7u);
    EXPECT_EQ(d[1].valueB, 2u);
    ASSERT_EQ(d[1].pluginTags.size(), 2u);
    EXPECT_TRUE(d[1].pluginTags[1].isText);
    EXPECT_EQ(d[2].display.title, "Two: the title");
    ASSERT_EQ(d[3].menu.size(), 2u);
    ASSERT_EQ(d[3].menu[0].submenu.size(), 2u);
    EXPECT_EQ(d[3].menu[0].submenu[1].id, "quit");
    EXPECT_EQ(command.iconPaths, (std::vector<std::string>{"icon.png"}));
    ASSERT_EQ(desc.linkedFiles.size(), 3u);
    EXPECT_EQ(desc.linkedFiles[1].placement, LinkPlacement::Elsewhere);
    EXPECT_EQ(command.linkedPaths, (std::vector<std::string>{"data/a", "sans.font", ""}));
    EXPECT_EQ(desc.constants.at(0).text, "a=b");
    ASSERT_TRUE(desc.timer);
    EXPECT_EQ(desc.timer->byte, 4);
    EXPECT_EQ(desc.includeForm, IncludeForm::Complemented);
    EXPECT_TRUE(desc.compress);
    ASSERT_EQ(desc.rawSections.size(), 1u);
    EXPECT_EQ(desc.rawSections[0].payload.size(), 10u);
}

TEST(AppletWriter, NamesLandWhereTheirOffsetsPoint) {
    AppletDesc desc;
    desc.headerStrings[kTagTitle] = "T";
    DeclarationDesc decl;
    decl.type = 1;
    decl.name = "brush.png";
    decl.linkedData = std::vector<uint8_t>{7, 8, 9};
    desc.declarations = {decl};
    desc.body = std::vector<uint8_t>{};
    std::vector<uint8_t> bytes = BuildApplet(desc);
    std::vector<AppletSection> sections = BuildAppletSections(desc);
    ASSERT_EQ(sections[2].tag, kTagSkip);
    ASSERT_EQ(sections[3].tag, kTagDeclarations);
    Reader r{sections[3].payload};
    EXPECT_EQ(r.U32(), 1u);
    EXPECT_EQ(r.U8(), 1);
    EXPECT_EQ(r.U32(), 1u);
    uint32_t nameOffset = r.U32(), nameSize = r.U32(), linkedOffset = r.U32(), linkedSize = r.U32();
    EXPECT_EQ(std::string(bytes.begin() + nameOffset, bytes.begin() + nameOffset + nameSize),
              std::string("brush.png\0", 10));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + linkedOffset, bytes.begin() + linkedOffset + linkedSize),
              (std::vector<uint8_t>{7, 8, 9}));
}

TEST(AppletWriter, CompressedAppletHoldsThePlainOneAndIconsFollow) {
    AppletDesc desc;
    desc.body = std::vector<uint8_t>(1000, 'z');
    std::vector<uint8_t> plain = BuildApplet(desc);
    desc.compress = true;
    desc.icons = {{16, 16, 2, {1, 2}, {}}};
    std::vector<uint8_t> packed = BuildApplet(desc);
    std::vector<uint8_t> icons = BuildIconBlock(desc.icons);
    EXPECT_EQ(icons, (std::vector<uint8_t>{'I', 0, 0, 0, 16, 0, 16, 2, 0, 0, 0, 2, 1, 2, 0, 0}));
    ASSERT_GT(packed.size(), 8 + icons.size());
    EXPECT_EQ(std::vector<uint8_t>(packed.begin(), packed.begin() + 4), (std::vector<uint8_t>{'Q', 'B', 'Z', 0}));
    EXPECT_TRUE(std::equal(icons.rbegin(), icons.rend(), packed.rbegin()));
    std::vector<uint8_t> inflated(plain.size());
    uLongf size = static_cast<uLongf>(inflated.size());
    ASSERT_EQ(uncompress(inflated.data(), &size, packed.data() + 8,
                         static_cast<uLong>(packed.size() - 8 - icons.size())),
              Z_OK);
    EXPECT_EQ(inflated, plain);
}

}  // namespace
