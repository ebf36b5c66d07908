// Running programs: the argument vector of an asynchronous run, what counts
// as a program, output redirection, and programs that can't be run.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "core/errcodes.h"
#include "core/filenames.h"
#include "core/programs.h"
#include "scratch.h"

namespace fs = std::filesystem;

namespace {

using Args = std::vector<std::string>;

class ProgramsTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir_ / name; }
    std::string Write(const std::string& name, const std::string& text, fs::perms perms) const {
        const std::string path = dir_.Write(name, text);
        fs::permissions(path, perms);
        return path;
    }
    static std::string Read(const std::string& path) { return ScratchDir::Read(path); }
    static int Wait(pid_t pid) {
        int status = -1;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        return status;
    }

    ScratchDir dir_;
};

int Split(const char* args, Args& argv, std::string& output) {
    return SplitProgramArguments("/bin/prog", args, argv, output);
}

}  // namespace

TEST(ProgramArguments, QuotedArgumentAndOutputFile) {
    Args argv;
    std::string output;
    ASSERT_EQ(Split("-a \"x y\" >log.txt", argv, output), 0);
    EXPECT_EQ(argv, (Args{"/bin/prog", "-a", "x y"}));
    EXPECT_EQ(output, "log.txt");

    ASSERT_EQ(Split("  > out.txt   a\t\"\"  b ", argv, output), 0);
    EXPECT_EQ(argv, (Args{"/bin/prog", "a", "", "b"}));
    EXPECT_EQ(output, "out.txt");

    // Only an unquoted '>' at the start of an argument redirects.
    ASSERT_EQ(Split("\">x\" a>b >\"my log\"", argv, output), 0);
    EXPECT_EQ(argv, (Args{"/bin/prog", ">x", "a>b"}));
    EXPECT_EQ(output, "my log");

    // The file is named as every other road of the file layer names it.
    ASSERT_EQ(Split(">PROGDIR:run.log", argv, output), 0);
    EXPECT_EQ(output, NativePathOf("PROGDIR:run.log"));
    EXPECT_EQ(output.find("PROGDIR:"), std::string::npos);

    ASSERT_EQ(SplitProgramArguments("/bin/prog", nullptr, argv, output), 0);
    EXPECT_EQ(argv, (Args{"/bin/prog"}));
    EXPECT_EQ(output, "");
}

TEST(ProgramArguments, MalformedTextAndTooManyArgumentsAreWrongUsage) {
    Args argv;
    std::string output;
    EXPECT_EQ(Split("-a \"x y", argv, output), ERR_WRONGUSAGE);
    EXPECT_EQ(Split("a \"", argv, output), ERR_WRONGUSAGE);
    EXPECT_EQ(Split("a >", argv, output), ERR_WRONGUSAGE);
    EXPECT_EQ(Split("a >  ", argv, output), ERR_WRONGUSAGE);
    EXPECT_EQ(Split((">" + std::string(257, 'f')).c_str(), argv, output), ERR_WRONGUSAGE);
    EXPECT_EQ(Split((">" + std::string(256, 'f')).c_str(), argv, output), 0);
    // At most 127 arguments.
    std::string text;
    for (int i = 0; i < 127; ++i) {
        text += 'a';
        text += std::to_string(i);
        text += ' ';
    }
    ASSERT_EQ(Split((text + ">f").c_str(), argv, output), 0);
    EXPECT_EQ(argv.size(), 128u);
    EXPECT_EQ(argv.back(), "a126");
    EXPECT_EQ(Split((text + "one-more").c_str(), argv, output), ERR_WRONGUSAGE);
}

TEST_F(ProgramsTest, ExecutableFilesAndSearchedNamesAreProgramsOtherFilesDocuments) {
    EXPECT_TRUE(IsProgramPath(Write("tool", "#!/bin/sh\n", fs::perms::owner_all).c_str()));
    EXPECT_FALSE(IsProgramPath(Write("notes.txt", "x", fs::perms::owner_read | fs::perms::owner_write).c_str()));
    // An executable with a document-like name is still a program.
    EXPECT_TRUE(IsProgramPath(Write("run.txt", "#!/bin/sh\n", fs::perms::owner_all).c_str()));
    EXPECT_FALSE(IsProgramPath(dir_.str().c_str()));
    EXPECT_TRUE(IsProgramPath("sh"));
    EXPECT_TRUE(IsProgramPath(Path("missing").c_str()));
}

TEST_F(ProgramsTest, AsyncRunSendsOutputAndErrorsToTheFile) {
    const std::string log = Path("out log.txt");
    const std::string args = "-c \"echo hi; echo oops 1>&2\" >\"" + log + "\"";
    pid_t pid = -1;
    ASSERT_EQ(RunProgram("/bin/sh", args.c_str(), 1, nullptr, &pid), 0);
    ASSERT_GT(pid, 0);
    const int status = Wait(pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(Read(log), "hi\noops\n");
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(static_cast<mode_t>(fs::status(log).permissions() & fs::perms::all), 0644 & ~mask);

    // The file is truncated by the next run.
    ASSERT_EQ(RunProgram("/bin/sh", ("-c \"echo x\" >\"" + log + "\"").c_str(), 1, nullptr, &pid), 0);
    Wait(pid);
    EXPECT_EQ(Read(log), "x\n");
}

TEST_F(ProgramsTest, AsyncArgumentsReachTheProgramWithoutAShell) {
    const std::string log = Path("args.txt");
    pid_t pid = -1;
    // printf is found on the search path; no shell sees the words.
    ASSERT_EQ(RunProgram("printf", ("[%s] \"a b\" ;x '$HOME' * >" + log).c_str(), 1, nullptr, &pid), 0);
    Wait(pid);
    EXPECT_EQ(Read(log), "[a b][;x]['$HOME'][*]");
}

TEST_F(ProgramsTest, ProgramsThatCannotRunAreReported) {
    pid_t pid = 123;
    EXPECT_EQ(RunProgram(Path("missing").c_str(), "a", 1, nullptr, &pid), ERR_EXECUTE);
    EXPECT_EQ(pid, -1);
    EXPECT_EQ(RunProgram("qb-no-such-program-anywhere", nullptr, 1, nullptr, &pid), ERR_EXECUTE);
    EXPECT_EQ(RunProgram(Path("missing").c_str(), nullptr, 0, nullptr, nullptr), ERR_EXECUTE);
    EXPECT_EQ(ExecuteProgram("qb-no-such-program-anywhere", "x", 0), ERR_EXECUTE);
    EXPECT_EQ(RunProgram(nullptr, nullptr, 1, nullptr, &pid), ERR_EXECUTE);
    EXPECT_EQ(RunProgram("", nullptr, 0, nullptr, nullptr), ERR_EXECUTE);
    // An output file that can't be created keeps the program from starting.
    EXPECT_EQ(RunProgram("/bin/sh", ("-c true >" + Path("no/such/dir/log")).c_str(), 1, nullptr, &pid), ERR_EXECUTE);
    EXPECT_EQ(RunProgram("/bin/sh", "-c \"true", 1, nullptr, &pid), ERR_WRONGUSAGE);
}

TEST_F(ProgramsTest, SyncRunWaitsQuotesItsPathAndAFailingProgramStillRan) {
    const std::string mark = Path("mark");
    EXPECT_EQ(RunProgram("/bin/sh", ("-c 'echo done > " + mark + "'").c_str(), 0, nullptr, nullptr), 0);
    EXPECT_EQ(Read(mark), "done\n");
    EXPECT_EQ(ExecuteProgram("/bin/sh", "-c 'exit 3'", 0), 0);
    // A path with a blank reaches the shell quoted.
    const std::string tool = Write("my tools/tool", "#!/bin/sh\necho \"$1\" > " + mark + "\n", fs::perms::owner_all);
    EXPECT_EQ(RunProgram(tool.c_str(), "arg", 0, nullptr, nullptr), 0);
    EXPECT_EQ(Read(mark), "arg\n");
}

TEST_F(ProgramsTest, DocumentsGoToTheOpenerAsOneArgument) {
    const std::string opened = Path("opened");
    Write("xdg-open", "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > '" + opened + "'\n", fs::perms::owner_all);
    const std::string doc = Write("my $(doc); x.txt", "text", fs::perms::owner_read | fs::perms::owner_write);

    const char* oldPath = std::getenv("PATH");
    const std::string savedPath = oldPath ? oldPath : "";
    setenv("PATH", (dir_.str() + ":" + savedPath).c_str(), 1);
    pid_t pid = -1;
    const int err = RunProgram(doc.c_str(), "ignored", 1, nullptr, &pid);
    setenv("PATH", savedPath.c_str(), 1);

    ASSERT_EQ(err, 0);
    ASSERT_GT(pid, 0);
    Wait(pid);
    EXPECT_EQ(Read(opened), "1|" + doc);
}

// The player ignores SIGPIPE for its sockets; the programs it starts, waited
// for or not, must find it at its default again.
TEST_F(ProgramsTest, ProgramsStartWithSigPipeAtItsDefault) {
    struct sigaction ignore{}, saved{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &saved);
    const std::string syncLog = Path("sync.txt");
    const std::string asyncLog = Path("async.txt");
    const std::string probe = "grep SigIgn /proc/self/status";
    const int syncErr = RunProgram("/bin/sh", ("-c '" + probe + " > " + syncLog + "'").c_str(), 0, nullptr, nullptr);
    pid_t pid = -1;
    const int asyncErr = RunProgram("/bin/sh", ("-c \"" + probe + "\" >" + asyncLog).c_str(), 1, nullptr, &pid);
    if (asyncErr == 0) Wait(pid);
    // The shell's own "not found" still means the program never ran.
    const int missingErr = RunProgram("/bin/sh", "-c 'exit 127'", 0, nullptr, nullptr);
    sigaction(SIGPIPE, &saved, nullptr);
    ASSERT_EQ(syncErr, 0);
    ASSERT_EQ(asyncErr, 0);
    EXPECT_EQ(missingErr, ERR_EXECUTE);
    for (const std::string& log : {syncLog, asyncLog}) {
        const std::string text = Read(log);
        ASSERT_EQ(text.rfind("SigIgn:", 0), 0u) << text;
        const unsigned long long mask = std::stoull(text.substr(7), nullptr, 16);
        EXPECT_EQ(mask & (1ull << (SIGPIPE - 1)), 0u) << log << ": " << text;
    }
}
