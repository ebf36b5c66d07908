// What the player says when the applet it is given is no applet: the
// system's own message, and below it what the file is and how to make an
// applet of it; and the help's word on the options that do nothing here.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "e2e/e2e_util.h"

namespace {

namespace fs = std::filesystem;
using e2e::RunResult;

class AppletAdviceTest : public e2e::E2eFixture {
protected:
    RunResult Play(const fs::path& applet) {
        return Run(std::string(QB_PLAYER_PATH) + " " + applet.string() + " -quiet");
    }
};

TEST_F(AppletAdviceTest, AFolderOrADeveloperFileNamedAsTheAppletIsExplained) {
    const fs::path folder = dir_ / "tmp";
    RunResult r = Play(folder);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, folder.string() + " is not a Quenbrook applet!\n" + folder.string() +
                         " is a folder: name the applet file (.qba) to run.\n");

    const std::string source = ".function main\n    RETURN 0 1\n.end\n";
    e2e::WriteFile(dir_ / "app.qbs", source);
    r = Play(dir_ / "app.qbs");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, (dir_ / "app.qbs").string() +
                         " is not a Quenbrook applet!\napp.qbs is the text form of a bytecode chunk: qbasm app.qbs "
                         "assembles it into app.qbb, and qbapplet -o app.qba --body app.qbb packs that into an "
                         "applet (both are built into build/tools/).\n");

    // A chunk is known by its signature, whatever its name.
    const fs::path chunk = Chunk(source, "app");
    fs::rename(chunk, dir_ / "body.bin");
    r = Play(dir_ / "body.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, (dir_ / "body.bin").string() +
                         " is not a Quenbrook applet!\nbody.bin is a compiled bytecode chunk: qbapplet -o body.qba "
                         "--body body.bin packs it into an applet (qbapplet is built into build/tools/).\n");

    // A FIFO and a device are no applets either, and neither is opened.
    const fs::path fifo = dir_ / "pipe.qba";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const fs::path& special : {fifo, fs::path("/dev/null")}) {
        r = Play(special);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, special.string() + " is not a Quenbrook applet!\n" + special.string() +
                             " is not a regular file: name the applet file (.qba) to run.\n");
    }

    // Any other file, and a missing one, keep the message alone.
    e2e::WriteFile(dir_ / "notes.txt", "notes\n");
    EXPECT_EQ(Play(dir_ / "notes.txt").err, (dir_ / "notes.txt").string() + " is not a Quenbrook applet!\n");
    EXPECT_EQ(Play(dir_ / "gone.qba").err, "File " + (dir_ / "gone.qba").string() + " does not exist!\n");
}

TEST_F(AppletAdviceTest, TheHelpSaysWhatTheMacOptionsDoHere) {
    const RunResult help = Run(std::string(QB_PLAYER_PATH) + " -help");
    EXPECT_EQ(help.status, 0);
    const size_t quartz = help.out.find("  -USEQUARTZ ");
    ASSERT_NE(quartz, std::string::npos) << help.out;
    // The system's text stays, the note follows on the next line.
    EXPECT_NE(help.out.find("use Quartz technology instead of QuickDraw\n", quartz), std::string::npos);
    EXPECT_NE(help.out.find("(macOS only: here it sets the displays' \"usequartz\" flag, which changes nothing)",
                            quartz),
              std::string::npos);
    EXPECT_NE(help.out.find("use low resolution software timer\n"), std::string::npos);
    EXPECT_NE(help.out.find("(changes nothing here: timers run on the system's monotonic clock)"), std::string::npos);
}

}  // namespace
