// The road of an anim stream: an applet makes three brushes, writes them as
// the frames of a Motion-JPEG AVI and finishes the stream; ffprobe reads the
// file the player wrote.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "e2e/e2e_util.h"

namespace {

std::string Call(const std::string& name, std::initializer_list<long long> args) {
    std::string s = "    GETGLOBAL 0 \"" + name + "\"\n";
    int reg = 1;
    for (long long a : args) s += "    LOADK " + std::to_string(reg++) + " #" + std::to_string(a) + "\n";
    return s + "    CALL 0 " + std::to_string(reg) + " 1\n";
}

std::string Probe(const std::string& path) {
    std::string out;
    const std::string command =
        "ffprobe -v error -count_frames -show_entries stream=codec_name,nb_read_frames "
        "-of default=nw=1 '" +
        path + "' 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> p(popen(command.c_str(), "r"), &pclose);
    char buffer[1024];
    size_t n;
    while (p && (n = fread(buffer, 1, sizeof buffer, p.get())) > 0) out.append(buffer, n);
    return out;
}

class AnimStreamRoadTest : public e2e::E2eFixture {};

}  // namespace

TEST_F(AnimStreamRoadTest, AnAppletWritesBrushesAsAnAVIStream) {
    if (std::system("command -v ffprobe >/dev/null 2>&1")) GTEST_SKIP() << "no ffprobe";
    // BeginAnimStream(1, "out.avi", 64, 48, 1, {fps = 25})
    const std::string begin =
        "    GETGLOBAL 0 \"beginanimstream\"\n    LOADK 1 #1\n    LOADK 2 \"out.avi\"\n"
        "    LOADK 3 #64\n    LOADK 4 #48\n    LOADK 5 #1\n    NEWTABLE 6 0 1\n"
        "    LOADK 7 #25\n    SETTABLE 6 \"fps\" 7\n    CALL 0 7 1\n";
    const std::string body = Call("createbrush", {1, 64, 48, 0xFF0000}) + Call("createbrush", {2, 64, 48, 0x00FF00}) +
                             Call("createbrush", {3, 32, 24, 0x0000FF}) + begin + Call("writeanimframe", {1, 1}) +
                             Call("writeanimframe", {1, 2}) + Call("writeanimframe", {1, 3}) +
                             Call("finishanimstream", {1}) +
                             "    GETGLOBAL 0 \"debugprint\"\n    LOADK 1 \"done\"\n    CALL 0 2 1\n";
    const e2e::RunResult r = PlayScript(".function main maxstack=10\n.line 1\n" + body + "    RETURN 0 1 0\n.end\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "done\n");
    const std::string probe = Probe((dir_ / "out.avi").string());
    EXPECT_NE(probe.find("codec_name=mjpeg"), std::string::npos) << probe;
    EXPECT_NE(probe.find("codec_name=pcm_s16le"), std::string::npos) << probe;
    EXPECT_NE(probe.find("nb_read_frames=3"), std::string::npos) << probe;
}
