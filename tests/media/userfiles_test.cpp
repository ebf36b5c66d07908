// Files the script names, across the libraries that read and write them: a
// FIFO or device is never opened to be probed, loaded or copied.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "animworld.h"
#include "core/errcodes.h"
#include "core/scratch.h"
#include "counted_fifo.h"
#include "libs/dos.h"
#include "libs/videolib.h"
#include "media/video.h"
#include "sound/musiclist.h"
#include "sound/samples.h"
#include "sound/soundlib.h"

namespace {

namespace fs = std::filesystem;

class UserFilesTest : public AnimWorld {
protected:
    void SetUp() override {
        AnimWorld::SetUp();
        for (int (*init)(ScriptState*) : {InitDosLibrary, InitSoundLibrary, InitVideoLibrary}) {
            VmPushValue(L_, kGlobalsIndex);
            ASSERT_EQ(init(L_), 0);
            VmSetTop(L_, 0);
        }
    }
    void TearDown() override {
        FreeAllVideos(L_);
        FreeAllMusic(L_);
        FreeAllSamples();
        FreeDosObjects(L_);
        AnimWorld::TearDown();
    }

    // Calls the command with the texts and numbers given (a number is a
    // text that starts with '#'); the error code, results on the stack.
    int Call(const char* command, const std::vector<std::string>& args) {
        VmSetTop(L_, 0);
        for (const std::string& a : args) {
            if (!a.empty() && a[0] == '#') VmPushNumber(L_, std::stod(a.substr(1)));
            else VmPushString(L_, a.c_str());
        }
        return Run(command, static_cast<int>(args.size()), kMultRet);
    }

    ScratchDir dir_;
};

// Every command that probes, loads or copies a file the script names passes
// a FIFO by (a reader's open would wait for a writer that may never come);
// the reading commands that stream, as cat does, still read it.
TEST_F(UserFilesTest, AFifoIsNeverOpenedToBeProbedLoadedOrCopied) {
    const std::string fifoPath = dir_ / "pipe";
    CountedFifo fifo(fifoPath);
    ASSERT_TRUE(fifo.made());
    for (const char* probe : {"IsPicture", "IsAnim", "IsMusic", "IsModule", "IsVideo", "IsSample"}) {
        EXPECT_EQ(Call(probe, {fifoPath}), 0) << probe;
        EXPECT_EQ(VmToNumber(L_, 1), 0) << probe;
    }
    for (const char* loader : {"LoadBrush", "LoadSample", "LoadAnim", "OpenMusic", "OpenVideo"})
        EXPECT_NE(Call(loader, {"#1", fifoPath}), 0) << loader;
    EXPECT_EQ(Call("CompressFile", {fifoPath, dir_ / "packed"}), ERR_READFILE);
    EXPECT_EQ(Call("DecompressFile", {fifoPath, dir_ / "unpacked"}), ERR_READFILE);
    EXPECT_FALSE(fs::exists(dir_ / "packed") || fs::exists(dir_ / "unpacked"));
    ASSERT_EQ(Call("GetFileAttributes", {fifoPath}), 0);
    EXPECT_EQ(VmType(L_, 1), kTypeTable);
    EXPECT_EQ(fifo.Readers(), 0) << "a FIFO was opened for reading";

    ASSERT_EQ(Call("CRC32", {fifoPath}), 0);
    EXPECT_EQ(VmToNumber(L_, 1), 0);
    EXPECT_GE(fifo.Readers(), 1) << "CRC32 reads a FIFO as cat does";
}

}  // namespace
