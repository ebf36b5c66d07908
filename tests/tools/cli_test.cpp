// The three command-line tools, run as the build runs them, and the argument
// handling of ./run.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "lib/applet_writer.h"
#include "lib/assembler.h"
#include "lib/file_util.h"

namespace {

#ifdef QB_TOOLS_DIR
namespace fs = std::filesystem;

int Shell(const std::string& command) {
    return std::system((command + " 2>/dev/null >/dev/null").c_str());
}

std::string Tool(const char* name) { return std::string(QB_TOOLS_DIR) + "/" + name; }

struct Captured {
    int status = -1;
    std::string out, err;
};

Captured Capture(const fs::path& dir, const std::string& command) {
    Captured c;
    const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    const int rc = std::system((command + " >" + out.string() + " 2>" + err.string()).c_str());
    c.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    std::string error;
    ReadTextFile(out.string(), c.out, error);
    ReadTextFile(err.string(), c.err, error);
    return c;
}

TEST(Tools, AssembleDisassemblePack) {
    fs::path dir = fs::path(::testing::TempDir()) / "qb_cli_test";
    fs::create_directories(dir);
    const std::string source = ".function\n  GETGLOBAL 0 \"debugprint\"\n  RETURN 0 1\n.end\n";
    std::string error;
    ASSERT_TRUE(WriteTextFile((dir / "a.qbs").string(), source, error)) << error;

    // The default output name replaces the extension.
    ASSERT_EQ(Shell(Tool("qbasm") + " " + (dir / "a.qbs").string()), 0);
    std::vector<uint8_t> chunk, expected;
    ASSERT_TRUE(ReadFileBytes((dir / "a.qbb").string(), chunk, error)) << error;
    ASSERT_TRUE(AssembleText(source, expected, error));
    EXPECT_EQ(chunk, expected);

    ASSERT_EQ(Shell(Tool("qbdis") + " " + (dir / "a.qbb").string() + " -o " + (dir / "b.qbs").string()), 0);
    ASSERT_EQ(Shell(Tool("qbasm") + " " + (dir / "b.qbs").string() + " -o " + (dir / "b.qbb").string()), 0);
    std::vector<uint8_t> again;
    ASSERT_TRUE(ReadFileBytes((dir / "b.qbb").string(), again, error));
    EXPECT_EQ(again, chunk);

    ASSERT_EQ(Shell(Tool("qbapplet") + " -o " + (dir / "a.qba").string() + " --body " +
                  (dir / "a.qbb").string() + " --title T"),
              0);
    std::vector<uint8_t> applet;
    ASSERT_TRUE(ReadFileBytes((dir / "a.qba").string(), applet, error));
    // Without --include, every line of the chunk, which has no source name,
    // is mapped to the text it was assembled from, a.qbs beside a.qbb.
    AppletDesc desc;
    desc.headerStrings[kTagTitle] = "T";
    desc.includes = {{"a.qbs", "", 1, 2147483647, 0}};
    desc.body = chunk;
    EXPECT_EQ(applet, BuildApplet(desc));

    EXPECT_EQ(Capture(dir, Tool("qbasm") + " --help").out, AssemblerHelp());
}

// qbdis names the kind of file it was given, and reads the body of plain and
// compressed applets with --applet.
TEST(Tools, DisassemblerTellsTheKindOfFileAndReadsApplets) {
    fs::path dir = fs::path(::testing::TempDir()) / "qb_cli_kinds";
    fs::create_directories(dir);
    std::string error;
    ASSERT_TRUE(WriteTextFile((dir / "a.qbs").string(), ".function\n.line 3\n  LOADK 0 \"x\"\n  RETURN 0 1\n.end\n", error));
    const std::string chunk = (dir / "a.qbb").string(), plain = (dir / "a.qba").string(),
                      packed = (dir / "z.qba").string();
    ASSERT_EQ(Shell(Tool("qbasm") + " " + (dir / "a.qbs").string() + " -o " + chunk), 0);
    const std::string options = " --body " + chunk + " --title T --label L=1 --declare 1:1:2:b.png";
    ASSERT_EQ(Shell(Tool("qbapplet") + " -o " + plain + options), 0);
    ASSERT_EQ(Shell(Tool("qbapplet") + " -o " + packed + options + " --compress --icon 16:16:0:" + chunk), 0);
    const Captured expected = Capture(dir, Tool("qbdis") + " " + chunk);
    ASSERT_EQ(expected.status, 0) << expected.err;
    for (const std::string& applet : {plain, packed}) {
        const Captured body = Capture(dir, Tool("qbdis") + " --applet " + applet);
        EXPECT_EQ(body.status, 0) << body.err;
        EXPECT_EQ(body.out, expected.out);
    }
    const std::pair<std::string, std::string> wrong[] = {
        {plain, "not a compiled chunk: this is an applet; use --applet"},
        {packed, "not a compiled chunk: this is a compressed applet; use --applet"},
        {(dir / "a.qbs").string(), "not a compiled chunk: this is a text file"},
        {"--applet " + chunk, "not an applet: this is a compiled chunk; leave out --applet"},
    };
    for (const auto& [args, message] : wrong) {
        const Captured c = Capture(dir, Tool("qbdis") + " " + args);
        EXPECT_EQ(c.status, 1) << args;
        EXPECT_NE(c.err.find(message), std::string::npos) << c.err;
    }
    // A damaged applet fails with the offset where reading stopped.
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadFileBytes(plain, bytes, error));
    bytes.resize(12);
    ASSERT_TRUE(WriteFileBytes((dir / "cut.qba").string(), bytes, error));
    const Captured cut = Capture(dir, Tool("qbdis") + " --applet " + (dir / "cut.qba").string());
    EXPECT_EQ(cut.status, 1);
    EXPECT_NE(cut.err.find("offset "), std::string::npos) << cut.err;
}

TEST(Tools, FailuresGiveNonZeroStatus) {
    fs::path dir = fs::path(::testing::TempDir()) / "qb_cli_test";
    fs::create_directories(dir);
    std::string error;
    ASSERT_TRUE(WriteTextFile((dir / "bad.qbs").string(), ".function\nNOPE\n.end\n", error));
    fs::remove(dir / "bad.qbb");
    EXPECT_NE(Shell(Tool("qbasm") + " " + (dir / "bad.qbs").string()), 0);
    EXPECT_FALSE(fs::exists(dir / "bad.qbb"));
    EXPECT_NE(Shell(Tool("qbdis") + " " + (dir / "bad.qbs").string()), 0);
    EXPECT_NE(Shell(Tool("qbapplet") + " -o " + (dir / "x.qba").string()), 0);
    EXPECT_NE(Shell(Tool("qbapplet") + " -o " + (dir / "x.qba").string() + " --body " +
                  (dir / "missing.qbb").string()),
              0);
}

// The two chunks that used to pass qbasm and end in the player's "Bad
// bytecode!" with no place: qbasm now names the function and the line, and
// writes nothing.
TEST(Tools, QbasmRefusesWhatThePlayersCheckerRefuses) {
    const fs::path dir = fs::path(::testing::TempDir()) / ("qb_cli_check_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {".function main maxstack=2\n    LOADK 0 #1\n    MOVE 2 0\n    RETURN 0 1\n.end\n",
         "line 3: function 'main' (maxstack=2): the player refuses 'MOVE 2 0' with \"Bad bytecode!\": register A is "
         "outside the frame (maxstack)"},
        {".function main\n    LOADK 0 #1\n    EQ 1 0 #3\n    RETURN 0 1\n.end\n",
         "line 3: function 'main' (maxstack=2): the player refuses 'EQ 1 0 #3' with \"Bad bytecode!\": a test must "
         "be followed by a JMP"},
        // A function's .noreturn lifts the check of its own end, not main's faults.
        {".function main maxstack=2\n    CLOSURE 0 f\n    MOVE 2 0\n    RETURN 0 1\n    .function f\n"
         "        LOADK 0 #1\n        .noreturn\n    .end\n.end\n",
         "line 3: function 'main' (maxstack=2): the player refuses 'MOVE 2 0' with \"Bad bytecode!\": register A is "
         "outside the frame (maxstack)"},
    };
    for (const auto& c : cases) {
        std::string error;
        ASSERT_TRUE(WriteTextFile((dir / "app.qbs").string(), c.text, error));
        fs::remove(dir / "app.qbb");
        const Captured r = Capture(dir, Tool("qbasm") + " " + (dir / "app.qbs").string());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind("qbasm: " + (dir / "app.qbs").string() + ": " + c.error, 0), 0u) << r.err;
        EXPECT_FALSE(fs::exists(dir / "app.qbb"));
    }
    fs::remove_all(dir);
}

// A text without .source, assembled by qbasm and packed without --include:
// the player's error names the text file and its line, not the chunk file.
TEST(Tools, AnErrorInATextWithoutSourceNamesTheTextFile) {
    const fs::path dir = fs::path(::testing::TempDir()) / ("qb_cli_nosrc_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::string error;
    ASSERT_TRUE(WriteTextFile((dir / "nosrc.qbs").string(),
                              ".function main\n    LOADK 0 #1\n    LOADK 1 #2\n    GETGLOBAL 0 \"debugprint\"\n"
                              "    CALL 0 1 1\n    RETURN 0 1\n.end\n",
                              error));
    ASSERT_EQ(Shell(Tool("qbasm") + " " + (dir / "nosrc.qbs").string()), 0);
    ASSERT_EQ(Shell(Tool("qbapplet") + " -o " + (dir / "nosrc.qba").string() + " --body " +
                    (dir / "nosrc.qbb").string()),
              0);
    const Captured r = Capture(dir, std::string(QB_PLAYER_PATH) + " " + (dir / "nosrc.qba").string() + " -quiet");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("File: nosrc.qbs (current line: 5"), std::string::npos) << r.err;
    fs::remove_all(dir);
}
#endif

// ./run takes the applet and the path options relative to the caller's folder.
TEST(RunScript, MakesPathsAbsoluteAgainstTheCallersFolder) {
    const std::string script = std::string(QB_SOURCE_DIR) + "/scripts/run_args.sh";
    const std::string command = "cd /tmp && bash -c 'source " + script +
                                " && qb_resolve_run_args \"$@\" && printf \"%s|\" \"${QB_RUN_ARGS[@]}\"' run "
                                "app2.qba -quiet -TempDir t -brushfile=../b.png -scrwidth 640 -tempdir /abs \"a b\"";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buf[256];
    while (size_t n = fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(out, "/tmp/app2.qba|-quiet|-TempDir|/tmp/t|-brushfile=/tmp/../b.png|-scrwidth|640|-tempdir|/abs|a b|");
}

// ./run's build says nothing on an up-to-date tree, and all of a failed one.
// A stand-in ninja prints what the real one prints in each case.
TEST(RunScript, BuildIsQuietWhenNothingIsToBeBuilt) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("qb-run-build-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path ninja = dir / "ninja";
    std::ofstream(ninja) << "#!/bin/sh\n"
                            "echo \"ninja: Entering directory \\`$2'\"\n"
                            "echo '[0/2] Re-checking globbed directories...'\n"
                            "if [ -n \"$QB_FAKE_FAILURE\" ]; then echo 'FAILED: x.o'; echo 'x.cpp:1: error' >&2; exit 1; fi\n"
                            "echo 'ninja: no work to do.'\n";
    fs::permissions(ninja, fs::perms::owner_all);
    const std::string script = std::string(QB_SOURCE_DIR) + "/scripts/run_args.sh";
    const fs::path err = dir / "err.txt";
    const auto build = [&](const std::string& env, std::string* text) {
        const std::string command = env + " PATH=" + dir.string() + ":\"$PATH\" bash -c 'source " + script +
                                    " && qb_build_quietly build quenbrookplayer' >/dev/null 2>" + err.string();
        const int rc = std::system(command.c_str());
        std::ifstream in(err);
        text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    };
    std::string text;
    EXPECT_EQ(build("", &text), 0);
    EXPECT_EQ(text, "");
    EXPECT_EQ(build("QB_FAKE_FAILURE=1", &text), 1);
    EXPECT_EQ(text, "FAILED: x.o\nx.cpp:1: error\n");
    fs::remove_all(dir);
}

}  // namespace
