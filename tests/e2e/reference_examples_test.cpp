// The examples docs/commands.md prints under CreateMenu, FillMusicBuffer and
// UploadFile, taken from the reference as a reader copies them, assembled,
// packed and played: each must run and say what its entry says.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_util.h"
#include "libs/python_server.h"

namespace {

// The fenced block that follows the command's entry, without the two
// blanks that indent it under the entry; "" when there is none.
std::string ExampleOf(const std::string& command) {
    const std::string reference = e2e::ReadFile(std::string(QB_SOURCE_DIR) + "/docs/commands.md");
    const size_t entry = reference.find("\n- `" + command + "(");
    if (entry == std::string::npos) return "";
    const size_t next = reference.find("\n- `", entry + 1);
    const size_t open = reference.find("\n  ```\n", entry);
    if (open == std::string::npos || open > next) return "";
    const size_t close = reference.find("\n  ```\n", open + 1);
    std::string example;
    for (size_t at = open + 7; at < close + 1;) {
        const size_t end = reference.find('\n', at);
        const std::string line = reference.substr(at, end - at);
        example += (line.rfind("  ", 0) == 0 ? line.substr(2) : line) + "\n";
        at = end + 1;
    }
    return example;
}

class ReferenceExamplesTest : public e2e::E2eFixture {
protected:
    // The example as an applet, run with the player's messages off.
    e2e::RunResult Play(const std::string& example, const std::string& name) {
        EXPECT_FALSE(example.empty()) << name << " has no example in docs/commands.md";
        return PlayScript(example, "-quiet", "", name);
    }
};

TEST_F(ReferenceExamplesTest, CreateMenuShowsAMenuWhoseToggleTheScriptChecks) {
    const e2e::RunResult r = Play(ExampleOf("CreateMenu"), "menu");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "grid 1\n") << r.err;
}

// The dummy audio driver plays the tone; the music's end ends the applet.
TEST_F(ReferenceExamplesTest, FillMusicBufferFeedsAToneThatEnds) {
    const e2e::RunResult r = Play(ExampleOf("FillMusicBuffer"), "music");
    EXPECT_EQ(r.status, 0) << r.err;
    // Asked first for two seconds at 8000 Hz, with nothing queued.
    EXPECT_EQ(r.out.rfind("asked for 16000 0\n", 0), 0u) << r.out << r.err;
}

// The example's server stands at 127.0.0.1:8080; here a local one answers
// with what it was sent.
TEST_F(ReferenceExamplesTest, UploadFilePostsTheFormAndPrintsTheAnswer) {
    const char* script =
        "import http.server\n"
        "class H(http.server.BaseHTTPRequestHandler):\n"
        "    def do_POST(self):\n"
        "        body = self.rfile.read(int(self.headers['Content-Length']))\n"
        "        part = b'name=\"note\"\\r\\n\\r\\nhello\\r\\n' in body\n"
        "        answer = (self.path + (' note=hello' if part else ' no note')).encode()\n"
        "        self.send_response(200)\n"
        "        self.send_header('Content-Length', str(len(answer)))\n"
        "        self.end_headers()\n"
        "        self.wfile.write(answer)\n"
        "    def log_message(self, *args):\n"
        "        pass\n"
        "s = http.server.HTTPServer(('127.0.0.1', 0), H)\n"
        "print('port', s.server_address[1], flush=True)\n"
        "s.serve_forever()\n";
    nettest::PythonServer server({"-u", "-c", script});
    if (server.port() == 0) GTEST_SKIP() << "no /usr/bin/python3: " << server.firstLine();
    std::string example = ExampleOf("UploadFile");
    ASSERT_NE(example.find("127.0.0.1:8080"), std::string::npos) << example;
    e2e::ReplaceAll(&example, "127.0.0.1:8080", "127.0.0.1:" + std::to_string(server.port()));
    const e2e::RunResult r = Play(example, "upload");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "/upload note=hello\n") << r.err;
}

}  // namespace
