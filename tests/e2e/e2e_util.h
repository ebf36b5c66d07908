// Helpers of the end-to-end tests: whole-file reads and writes, running a
// command with its standard output and error captured in files, and playing
// an applet with the window's frames saved.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

#include "core/errors.h"
#include "e2e/frames.h"

namespace e2e {

namespace fs = std::filesystem;

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void WriteFile(const fs::path& p, const std::string& data) { std::ofstream(p, std::ios::binary) << data; }

// Every `from` in *text becomes `to` (a script's placeholders become ports).
inline void ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
    for (size_t at; (at = text->find(from)) != std::string::npos;) text->replace(at, from.size(), to);
}

// The assembly of a call of the command name on constants (each written as
// the assembler takes it: #1, "text"), its result dropped.
inline std::string Call(const std::string& name, std::initializer_list<std::string> args) {
    std::string s = "    GETGLOBAL 0 \"" + name + "\"\n";
    int r = 1;
    for (const std::string& a : args) s += "    LOADK " + std::to_string(r++) + " " + a + "\n";
    s += "    CALL 0 " + std::to_string(r) + " 1\n";
    return s;
}

inline int ExitStatus(int rc) { return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1; }

// Runs cmd through the shell with no input; its output lands in files of dir.
inline RunResult RunCaptured(const fs::path& dir, const std::string& cmd) {
    fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    std::string full = cmd + " >" + out.string() + " 2>" + err.string() + " </dev/null";
    RunResult r;
    r.status = ExitStatus(std::system(full.c_str()));
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    return r;
}

// A scratch folder per test (with a "tmp" folder inside for TEMPDIR), the
// developer tools and the built player.
class E2eFixture : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("qb_e2e_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "tmp");
        cwd_ = fs::current_path();
    }
    // A player run in this process changes into its applet's folder, which
    // goes with the test.
    void TearDown() override {
        std::error_code ec;
        fs::current_path(cwd_, ec);
        fs::remove_all(dir_);
    }

    RunResult Run(const std::string& cmd) { return RunCaptured(dir_, cmd); }

    // Assembles source (written as NAME.qbs) into NAME.qbb; returns its path.
    fs::path Chunk(const std::string& source, const std::string& name) {
        fs::path qbs = dir_ / (name + ".qbs"), qbb = dir_ / (name + ".qbb");
        WriteFile(qbs, source);
        RunResult a = Run(std::string(QB_TOOLS_DIR) + "/qbasm " + qbs.string() + " -o " + qbb.string());
        EXPECT_EQ(a.status, 0) << a.err;
        return qbb;
    }

    // Packs a chunk into an applet with the given qbapplet options.
    fs::path Pack(const fs::path& qbb, const fs::path& qba, const std::string& options) {
        RunResult b = Run(std::string(QB_TOOLS_DIR) + "/qbapplet -o " + qba.string() + " --body " + qbb.string() +
                          " " + options);
        EXPECT_EQ(b.status, 0) << b.err;
        return qba;
    }

    // Assembles source as NAME.qbs, packs it with the packOptions (and, when
    // they map no lines, its lines mapped to that file) and runs the player
    // on it with options.
    RunResult PlayScript(const std::string& source, const std::string& options = "-quiet",
                         const std::string& packOptions = "", const std::string& name = "hello") {
        const bool mapped = packOptions.find("--include") != std::string::npos;
        fs::path qba = Pack(Chunk(source, name), dir_ / (name + ".qba"),
                            (mapped ? "" : "--include " + name + ".qbs:1:1000:0 ") + packOptions);
        return Run(std::string(QB_PLAYER_PATH) + " " + qba.string() + " " + options);
    }

    // Plays the applet qba in folder (the test's by default) with the dummy
    // video driver saving every update of the window there as a BMP file.
    // env: more variables for the player; player: another copy of it.
    RunResult PlaySavingFrames(const fs::path& qba, const std::string& env = "", const fs::path& folder = {},
                               const fs::path& player = QB_PLAYER_PATH) {
        return Run("cd " + (folder.empty() ? dir_ : folder).string() + " && SDL_VIDEO_DUMMY_SAVE_FRAMES=1 " + env +
                   (env.empty() ? "" : " ") + player.string() + " " + qba.string() + " -quiet");
    }

    // Assembles source as NAME.qbs, packs it with its lines mapped (and
    // packOptions), plays it saving its frames, and reads every frame the
    // window showed back in order. The run's outcome is left in played_.
    std::vector<Frame> PlayFrames(const std::string& source, const std::string& name = "app",
                                  const std::string& packOptions = "", const std::string& env = "") {
        const fs::path qba =
            Pack(Chunk(source, name), dir_ / (name + ".qba"),
                 "--include " + name + ".qbs:1:1000:0" + (packOptions.empty() ? "" : " ") + packOptions);
        played_ = PlaySavingFrames(qba, env);
        return ReadSavedFrames(dir_);
    }

    // The fixed part of a code's text: what stands before its placeholder.
    static std::string Text(int code) {
        char buf[kErrorTextSize];
        SetErrorDetail("\x01");
        SetErrorArgIndex(0);
        GetErrorText(code, buf);
        std::string s = buf;
        return s.substr(0, s.find('\x01'));
    }

    fs::path dir_;
    fs::path cwd_;
    RunResult played_;
};

}  // namespace e2e
