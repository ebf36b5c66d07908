// Every command that writes a file, on a full disk: the applet that saves
// succeeds when the disk has room, and with no room (the player's file size
// limit at zero, as a full file system refuses every byte) it stops with an
// error at the save, never reaching its next line, and a file the save
// would replace is left as it was, with nothing left beside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"

namespace fs = std::filesystem;

namespace {

using e2e::Call;

const std::string kBrush = Call("createbrush", {"#1", "#64", "#32", "#16744448"});
const std::string kAnim = kBrush + Call("createanim", {"#1", "#1", "#32", "#32", "#2", "#2"});

// A pcm sample of eight frames.
const std::string kSample = R"(    GETGLOBAL 0 "createsample"
    LOADK 1 #1
    NEWTABLE 2 0 0
    SETTABLE 2 "source" "pcm"
    SETTABLE 2 #0 #40
    SETTABLE 2 #1 #-40
    SETTABLE 2 #2 #40
    SETTABLE 2 #3 #-40
    SETTABLE 2 #4 #40
    SETTABLE 2 #5 #-40
    SETTABLE 2 #6 #40
    SETTABLE 2 #7 #-40
    LOADK 3 #8000
    CALL 0 4 1
)";

struct Saver {
    const char* name;
    // The lines that make and save; TARGET stands for the file's quoted path.
    std::string code;
    // Where the file lands, under the test's folder.
    const char* target;
    // Replaced whole once written: a former file is kept on failure.
    bool replaces = true;
};

std::string Target() { return "TARGET"; }

const std::vector<Saver>& Savers() {
    static const std::vector<Saver> savers = {
        {"BrushBMP", kBrush + Call("savebrush", {"#1", Target(), "#0", "#0"}), "out.bmp"},
        {"BrushPNG", kBrush + Call("savebrush", {"#1", Target(), "#0", "#1"}), "out.png"},
        {"BrushJPEG", kBrush + Call("savebrush", {"#1", Target(), "#0", "#2"}), "out.jpg"},
        {"BrushGIF", kBrush + Call("savebrush", {"#1", Target(), "#0", "#3"}), "out.gif"},
        {"BrushILBM", kBrush + Call("savebrush", {"#1", Target(), "#0", "#4"}), "out.iff"},
        {"AnimGIF", kAnim + Call("saveanim", {"#1", Target(), "#0"}), "out.gif"},
        {"AnimAVI", kAnim + Call("saveanim", {"#1", Target(), "#1"}), "out.avi"},
        {"AnimStreamGIF",
         kBrush + Call("beginanimstream", {"#1", Target(), "#64", "#32", "#0"}) +
             Call("writeanimframe", {"#1", "#1"}) + Call("finishanimstream", {"#1"}),
         "stream.gif"},
        {"AnimStreamAVI",
         kBrush + Call("beginanimstream", {"#1", Target(), "#64", "#32", "#1"}) +
             Call("writeanimframe", {"#1", "#1"}) + Call("finishanimstream", {"#1"}),
         "stream.avi"},
        {"Sample", kSample + Call("savesample", {"#1", Target()}), "out.wav"},
        {"SnapshotDisplay", kBrush + Call("displaybrush", {"#1", "#0", "#0"}) + Call("savesnapshot", {Target(), "#1"}),
         "shot.bmp"},
        {"Prefs", "    NEWTABLE 1 0 0\n    SETTABLE 1 \"key\" #7\n    GETGLOBAL 0 \"saveprefs\"\n    CALL 0 2 1\n",
         "config/MorvaleLumegrid/Quenbrook/Preferences/e2e.fulldisk"},
        // A file written in place: the bytes go as the script writes them.
        {"DosWrite",
         Call("openfile", {"#1", Target(), "#1006"}) + Call("writeline", {"#1", "\"a line of text\""}) +
             Call("closefile", {"#1"}),
         "out.txt", false},
    };
    return savers;
}

class FullDiskTest : public e2e::E2eFixture, public ::testing::WithParamInterface<Saver> {
protected:
    // The saver's applet run with the file size limit given (none: the
    // disk has room), its output and error together; the exit status in
    // status.
    std::string RunSaver(const Saver& s, bool full, int* status) {
        std::string code = s.code;
        e2e::ReplaceAll(&code, "TARGET", "\"" + (dir_ / s.target).string() + "\"");
        const std::string source = ".function main maxstack=12\n.line 1\n" + code + ".line 2\n" +
                                   Call("debugprint", {"\"after the save\""}) + "    RETURN 0 1 0\n.end\n";
        const fs::path qba = Pack(Chunk(source, "saver"), dir_ / "saver.qba", "--identifier e2e.fulldisk");
        // The limit holds for the player only: its output goes through a
        // pipe to the shell that writes it down. SIGXFSZ is ignored, so that
        // a write past the limit fails as on a full disk.
        const std::string run = "(HOME=" + dir_.string() + " XDG_CONFIG_HOME=" + (dir_ / "config").string() +
                                " sh -c 'trap \"\" XFSZ; " + (full ? "ulimit -f 0; " : "") + QB_PLAYER_PATH + " " +
                                qba.string() + " -quiet; echo \"exit $?\"' 2>&1 | cat)";
        const std::string out = Run(run).out;
        const size_t at = out.rfind("exit ");
        *status = at == std::string::npos ? -1 : std::stoi(out.substr(at + 5));
        return out;
    }

    std::set<fs::path> Files() {
        std::set<fs::path> files;
        for (const auto& e : fs::recursive_directory_iterator(dir_))
            if (e.is_regular_file()) files.insert(e.path());
        return files;
    }
};

TEST_P(FullDiskTest, TheScriptIsToldAndTheFormerFileStays) {
    const Saver& s = GetParam();
    const fs::path target = dir_ / s.target;
    fs::create_directories(target.parent_path());
    int status = 0;
    // With room the applet saves and goes on.
    std::string out = RunSaver(s, false, &status);
    ASSERT_EQ(status, 0) << out;
    ASSERT_NE(out.find("after the save"), std::string::npos) << out;
    ASSERT_GT(fs::file_size(target), 8u);

    e2e::WriteFile(target, "former");
    const std::set<fs::path> before = Files();
    out = RunSaver(s, true, &status);
    EXPECT_NE(status, 0) << out;
    EXPECT_EQ(out.find("after the save"), std::string::npos) << out;
    if (s.replaces) {
        EXPECT_EQ(e2e::ReadFile(target), "former");
    }
    std::set<fs::path> after = Files();
    for (const fs::path& f : before) after.erase(f);
    after.erase(dir_ / "stdout.txt");
    after.erase(dir_ / "stderr.txt");
    EXPECT_TRUE(after.empty()) << "left beside the target: " << after.begin()->string();
}

void PrintTo(const Saver& s, std::ostream* os) { *os << s.name; }

INSTANTIATE_TEST_SUITE_P(EverySaver, FullDiskTest, ::testing::ValuesIn(Savers()),
                         [](const ::testing::TestParamInfo<Saver>& info) { return std::string(info.param.name); });

}  // namespace
