// Files the script names, across the libraries that read and write them: a
// FIFO or device is never opened to be probed, loaded or copied, and a save
// never cuts the file a command or a live object reads from.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fcntl.h>
#include <poll.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "animworld.h"
#include "cdxlbuilder.h"
#include "core/errcodes.h"
#include "core/file.h"
#include "core/scratch.h"
#include "bounded_child.h"
#include "counted_fifo.h"
#include "imaging/giffixtures.h"
#include "sound/soundfile_builders.h"
#include "wait_for.h"
#include "libs/dos.h"
#include "libs/videolib.h"
#include "media/video.h"
#include "sound/musiclist.h"
#include "sound/samples.h"
#include "sound/soundlib.h"

namespace {

namespace fs = std::filesystem;
using test_wait::WaitFor;

// A FIFO whose reader keeps every byte any writer sends through it. The
// read end is open from the start, so a writer that will not wait for a
// reader finds one.
class DrainedFifo {
public:
    explicit DrainedFifo(std::string path) : path_(std::move(path)) {
        made_ = mkfifo(path_.c_str(), 0644) == 0;
        fd_ = made_ ? open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
        reader_ = std::thread([this] {
            char block[4096];
            while (!stop_ && fd_ >= 0) {
                const ssize_t n = read(fd_, block, sizeof block);
                if (n > 0) {
                    std::lock_guard lock(mutex_);
                    got_.append(block, static_cast<size_t>(n));
                } else if (n < 0 && errno == EAGAIN) {
                    pollfd p{fd_, POLLIN, 0};
                    poll(&p, 1, 10);
                } else {
                    // No writer just now: the next one's bytes wait in the pipe.
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
        });
    }
    bool made() const { return made_ && fd_ >= 0; }
    std::string Got() {
        std::lock_guard lock(mutex_);
        return got_;
    }
    ~DrainedFifo() {
        stop_ = true;
        reader_.join();
        if (fd_ >= 0) close(fd_);
    }

private:
    std::string path_;
    bool made_ = false;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::string got_;
    std::thread reader_;
};

std::vector<uint8_t> GifAnim() {
    giffixtures::GifFile gif(8, 6);
    for (uint8_t f = 0; f < 3; ++f) gif.Image(0, 0, 8, 6, std::vector<uint8_t>(48, f), 2);
    return gif.Bytes();
}

std::vector<uint8_t> Wave() {
    std::vector<uint8_t> pcm;
    for (int i = 0; i < 8000; ++i) pcm.push_back(static_cast<uint8_t>(i % 40 < 20 ? 0x40 : 0xC0));
    return soundfiles::MakeWave(soundfiles::Wave{}, pcm);
}

std::vector<uint8_t> Clip() {
    cdxlbuilder::Layout layout;
    layout.palette = cdxlbuilder::Palette(16, 7);
    return cdxlbuilder::Build(layout);
}

bool IsFifo(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

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

    std::string Lay(const std::string& name, const std::vector<uint8_t>& bytes) {
        imagefixtures::WriteBytes(dir_ / name, bytes);
        return dir_ / name;
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

// No save goes over a file that a from-disk anim, a music stream or a video
// goes on reading, in whatever format, nor does any write in place: the
// file stays byte for byte. Once
// the reader is gone the same save replaces it.
TEST_F(UserFilesTest, ASaveNeverCutsTheFileALiveObjectReads) {
    const std::string anim = Lay("a.gif", GifAnim()), wave = Lay("a.wav", Wave()), clip = Lay("a.cdxl", Clip());
    const std::string animBytes = ScratchDir::Read(anim), waveBytes = ScratchDir::Read(wave),
                      clipBytes = ScratchDir::Read(clip);
    VmSetTop(L_, 0);
    VmPushNumber(L_, 2);
    VmPushString(L_, anim.c_str());
    VmPushNewTable(L_);
    SetTableFieldInt(L_, "fromdisk", 1);
    ASSERT_EQ(Run("LoadAnim", 3), 0);
    ASSERT_EQ(Call("LoadSample", {"#1", wave}), 0);
    ASSERT_EQ(Call("OpenMusic", {"#1", wave}), 0);
    ASSERT_EQ(Call("OpenVideo", {"#1", clip}), 0);
    MakeBrush(1, 8, 6, 0xFF0000);

    for (const std::string& busy : {anim, wave, clip}) {
        for (const char* format : {"#0", "#1"}) EXPECT_EQ(Call("SaveAnim", {"#2", busy, format}), ERR_WRONGUSAGE);
        EXPECT_EQ(Call("SaveBrush", {"#1", busy}), ERR_WRONGUSAGE);
        EXPECT_EQ(Call("SaveSample", {"#1", busy}), ERR_WRONGUSAGE);
        EXPECT_EQ(Call("StringToFile", {"x", busy}), ERR_WRONGUSAGE);
        EXPECT_EQ(Call("CompressFile", {dir_ / "a.gif", busy}), ERR_WRONGUSAGE);
        // In place as well: OpenFile to write or to read and write.
        for (const char* mode : {"#1006", "#1004"}) EXPECT_EQ(Call("OpenFile", {"#9", busy, mode}), ERR_WRONGUSAGE);
        EXPECT_EQ(FileOpen(busy.c_str(), kFileModeWrite, nullptr), nullptr);
    }
    EXPECT_EQ(ScratchDir::Read(anim), animBytes);
    EXPECT_EQ(ScratchDir::Read(wave), waveBytes);
    EXPECT_EQ(ScratchDir::Read(clip), clipBytes);

    ASSERT_EQ(Call("FreeAnim", {"#2"}), 0);
    ASSERT_EQ(Call("LoadAnim", {"#2", anim}), 0);
    EXPECT_EQ(Call("SaveAnim", {"#2", anim, "#1"}), 0);
    EXPECT_NE(ScratchDir::Read(anim), animBytes);
}

// Writers of whole files never wait for a FIFO's reader: with none there
// they answer ERR_WRITEFILE at once.
TEST_F(UserFilesTest, WholeFileWritersRefuseAFifoWithoutAReader) {
    const std::string pipe = dir_ / "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const std::string text = dir_.Write("text.txt", "t");
    MakeBrush(1, 8, 6, 0xFF0000);
    const std::vector<std::pair<const char*, std::vector<std::string>>> calls = {
        {"StringToFile", {"x", pipe}}, {"CopyFile", {text, dir_.str(), "pipe"}}, {"SaveBrush", {"#1", pipe}}};
    for (const auto& call : calls)
        EXPECT_EQ(test_child::InChild([&] { return Call(call.first, call.second) == ERR_WRITEFILE ? 0 : 1; }), 0)
            << call.first;
    EXPECT_TRUE(IsFifo(pipe));
}

// A FIFO or a device as the destination is written in place and stays what
// it was; a regular file's place is taken by a whole new file.
TEST_F(UserFilesTest, AFifoOrDeviceDestinationIsWrittenInPlaceNeverReplaced) {
    const std::string text = dir_.Write("text.txt", std::string(5000, 't'));
    ASSERT_EQ(Call("CompressFile", {text, dir_ / "text.pak"}), 0);
    const std::string packed = ScratchDir::Read(dir_ / "text.pak");
    {
        const std::string pipe = dir_ / "pipe";
        DrainedFifo fifo(pipe);
        ASSERT_TRUE(fifo.made());
        ASSERT_EQ(Call("CompressFile", {text, pipe}), 0);
        EXPECT_TRUE(WaitFor([&] { return fifo.Got().size() >= packed.size(); }));
        ASSERT_EQ(Call("DecompressFile", {dir_ / "text.pak", pipe}), 0);
        EXPECT_TRUE(WaitFor([&] { return fifo.Got().size() >= packed.size() + 5000; }));
        ASSERT_EQ(Call("CopyFile", {text, dir_.str(), "pipe"}), 0);
        EXPECT_TRUE(WaitFor([&] { return fifo.Got().size() >= packed.size() + 10000; }));
        EXPECT_EQ(fifo.Got(), packed + std::string(10000, 't'));
        EXPECT_TRUE(IsFifo(pipe));
    }
    // Our own twin of /dev/null where we may make devices.
    const std::string device = dir_ / "null";
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        ASSERT_EQ(Call("DecompressFile", {dir_ / "text.pak", device}), 0);
        ASSERT_EQ(Call("StringToFile", {"x", device}), 0);
        struct stat st {};
        ASSERT_EQ(lstat(device.c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
        EXPECT_EQ(st.st_rdev, makedev(1, 3));
    }
}

// As root, in a sticky folder its group may write (1770), or write and
// only enter (1730): a file a group member planted there, and a link of
// theirs, are refused by every writer as in a folder everybody may write;
// nothing is written, nothing changes hands.
TEST_F(UserFilesTest, AGroupMembersFileOrLinkInAGroupStickyFolderIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: the planted file and link belong to another user";
    constexpr uid_t kMember = 65534;  // nobody, in the folder's group nogroup
    const std::string secret = dir_.Write("private/secret", "root's");
    ASSERT_EQ(chmod((dir_ / "private").c_str(), 0700), 0);
    const std::string text = dir_.Write("text.txt", "t"), packed = dir_ / "text.pak";
    ASSERT_EQ(Call("CompressFile", {text, packed}), 0);
    MakeBrush(1, 8, 6, 0xFF0000);
    ASSERT_EQ(Call("LoadSample", {"#1", Lay("a.wav", Wave())}), 0);
    ASSERT_EQ(Call("LoadAnim", {"#2", Lay("a.gif", GifAnim())}), 0);
    for (const mode_t mode : {01770, 01730}) {
        const std::string shared = dir_ / ("shared" + std::to_string(mode));
        ASSERT_TRUE(fs::create_directory(shared));
        ASSERT_EQ(chown(shared.c_str(), 0, kMember), 0);
        ASSERT_EQ(chmod(shared.c_str(), mode), 0);
        const std::string planted = shared + "/planted", link = shared + "/link";
        ASSERT_EQ(ScratchDir::Read(dir_.Write(planted.substr(dir_.str().size() + 1), "the member's")), "the member's");
        ASSERT_EQ(chown(planted.c_str(), kMember, kMember), 0);
        ASSERT_EQ(chmod(planted.c_str(), 0666), 0);
        ASSERT_EQ(symlink(secret.c_str(), link.c_str()), 0);
        ASSERT_EQ(lchown(link.c_str(), kMember, kMember), 0);
        for (const std::string& name : {planted, link}) {
            const std::vector<std::pair<const char*, std::vector<std::string>>> writers = {
                {"StringToFile", {"root's text", name}},
                {"CopyFile", {text, shared, fs::path(name).filename()}},
                {"SaveBrush", {"#1", name}},
                {"SaveSample", {"#1", name}},
                {"SaveAnim", {"#2", name, "#1"}},
                {"CompressFile", {text, name}},
                {"DecompressFile", {packed, name}},
            };
            for (const auto& [command, args] : writers)
                EXPECT_EQ(Call(command, args), ERR_WRITEFILE) << command << " " << name;
        }
        struct stat st {};
        ASSERT_EQ(stat(planted.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, kMember);
        EXPECT_EQ(ScratchDir::Read(planted), "the member's");
        EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
        EXPECT_EQ(std::distance(fs::directory_iterator(shared), fs::directory_iterator{}), 2) << mode;
    }
    EXPECT_EQ(ScratchDir::Read(secret), "root's");
}
