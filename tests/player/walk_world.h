// What the all-commands walk's world is made of beyond the player itself:
// the files its objects load, all made by the test, and a web server on
// 127.0.0.1 that answers every request with the same short page, for the
// URLs and connections of the network commands.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>
#include <string>
#include <thread>
#include <vector>

#include "imaging/giffixtures.h"
#include "media/cdxlbuilder.h"
#include "sound/modbuilder.h"
#include "sound/soundfile_builders.h"

namespace walkworld {

inline void WriteBytes(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

// The files the world loads, laid anew in folder before every world (a
// command of the walk may have deleted, moved or overwritten them): a sound,
// a module, a GIF anim, a CDXL clip for the video, a text file, a vector
// picture of the test image loader and a folder.
class Media {
public:
    Media() {
        std::vector<uint8_t> pcm;
        for (int i = 0; i < 4000; ++i) {
            const auto s = static_cast<int16_t>((i % 40 < 20) ? 8000 : -8000);
            pcm.push_back(static_cast<uint8_t>(s));
            pcm.push_back(static_cast<uint8_t>(s >> 8));
        }
        files_.emplace_back("walk.wav", soundfiles::MakeWave(soundfiles::Wave{}, pcm));
        modbuild::Module m;
        m.instruments[0].data = modbuild::Square(512);
        m.At(0, 0, 0) = {428, 1, 0, 0};
        files_.emplace_back("walk.mod", modbuild::Build(m));
        cdxlbuilder::Layout layout;
        layout.palette = cdxlbuilder::Palette(16, 7);
        files_.emplace_back("walk.cdxl", cdxlbuilder::Build(layout));
        const std::string text = "first line\nsecond line\n";
        files_.emplace_back("walk.txt", std::vector<uint8_t>(text.begin(), text.end()));
        // A vector picture of the test image loader: 8 x 8, red, drawn anew
        // at each size.
        const std::string tst = "TST 8 8 0 0 1 8 ff0000 0\n";
        files_.emplace_back("walk.tst", std::vector<uint8_t>(tst.begin(), tst.end()));
        giffixtures::GifFile gif(8, 6);
        for (uint8_t f = 0; f < 3; ++f) gif.Image(0, 0, 8, 6, std::vector<uint8_t>(48, f), 2);
        files_.emplace_back("walk.gif", gif.Bytes());
    }

    // A file or the folder that is as it was laid (the same kind, bytes and
    // permissions) is kept: most worlds find them all so, and laying them
    // anew is a good part of a world's start.
    void Lay(const std::filesystem::path& folder) const {
        namespace fs = std::filesystem;
        std::error_code ignored;
        for (const auto& [name, bytes] : files_) {
            if (Holds(folder / name, bytes)) continue;
            fs::remove_all(folder / name, ignored);
            WriteBytes(folder / name, bytes);
        }
        const fs::path dir = folder / "walkdir";
        const std::vector<uint8_t> inside{'i', '\n'};
        const bool kept = fs::is_directory(fs::symlink_status(dir, ignored)) &&
                          fs::status(dir, ignored).permissions() == DefaultPermissions(true) &&
                          std::distance(fs::directory_iterator(dir, ignored), fs::directory_iterator()) == 1 &&
                          Holds(dir / "inside.txt", inside);
        if (kept) return;
        fs::remove_all(dir, ignored);
        fs::create_directories(dir, ignored);
        WriteBytes(dir / "inside.txt", inside);
    }

    // Whether Lay lays the file or folder of this name.
    bool Lays(const std::string& name) const {
        return name == "walkdir" ||
               std::any_of(files_.begin(), files_.end(), [&](const auto& f) { return f.first == name; });
    }

private:
    // What a file or folder made by this process gets: the umask's share of
    // the usual permissions (read where reading it changes nothing).
    static std::filesystem::perms DefaultPermissions(bool folder) {
        static const unsigned mask = [] {
            std::ifstream status("/proc/self/status");
            for (std::string line; std::getline(status, line);)
                if (line.rfind("Umask:", 0) == 0) return static_cast<unsigned>(std::strtoul(line.c_str() + 6, nullptr, 8));
            return 022u;
        }();
        return static_cast<std::filesystem::perms>((folder ? 0777 : 0666) & ~mask);
    }

    static bool Holds(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
        std::error_code ec;
        const auto st = std::filesystem::symlink_status(p, ec);
        if (ec || !std::filesystem::is_regular_file(st) || st.permissions() != DefaultPermissions(false) ||
            std::filesystem::file_size(p, ec) != bytes.size() || ec)
            return false;
        std::ifstream in(p, std::ios::binary);
        std::vector<char> got(bytes.size());
        return in.read(got.data(), static_cast<std::streamsize>(got.size())) &&
               std::equal(got.begin(), got.end(), bytes.begin(),
                          [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
    }

    std::vector<std::pair<std::string, std::vector<uint8_t>>> files_;
};

// Answers every connection with one small page and closes it; the request
// is read to its end (its blank line, or the body its head announces) or
// until the client stops sending. A complete request is answered as soon as
// the server's poll wakes for it: the server sleeps in poll, woken by a
// client's bytes, a new connection or its own stop.
class PageServer {
public:
    PageServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 64) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0 || ::pipe2(wake_, O_CLOEXEC) != 0)
            return;
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~PageServer() {
        stop_ = true;
        if (wake_[1] >= 0) (void)!::write(wake_[1], "x", 1);
        if (thread_.joinable()) thread_.join();
        for (int fd : {fd_, wake_[0], wake_[1]})
            if (fd >= 0) ::close(fd);
    }
    PageServer(const PageServer&) = delete;
    PageServer& operator=(const PageServer&) = delete;

    int port() const { return port_; }

private:
    using Clock = std::chrono::steady_clock;
    // A client that sent nothing for this long (since it connected, or
    // since its last bytes) has stopped sending: it gets the page as is.
    static constexpr auto kStoppedSending = std::chrono::milliseconds(200);

    // The request's head and as much body as its Content-Length gives (an
    // upload's form), so that the answer never cuts off a sender.
    static bool Complete(const std::string& request) {
        const size_t end = request.find("\r\n\r\n");
        if (end == std::string::npos) return false;
        std::string head = request.substr(0, end);
        for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const size_t field = head.find("\r\ncontent-length:");
        if (field == std::string::npos) return true;
        const unsigned long long length = std::strtoull(head.c_str() + field + 17, nullptr, 10);
        return request.size() - (end + 4) >= length;
    }

    struct Client {
        int fd;
        std::string request;
        Clock::time_point lastByte = Clock::now();
    };

    // Reads what the client has sent; true when it is to be answered now.
    static bool ReadFrom(Client& c) {
        for (;;) {
            char buffer[4096];
            const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                c.request.append(buffer, static_cast<size_t>(n));
                c.lastByte = Clock::now();
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Complete(c.request);
            if (n < 0 && errno == EINTR) continue;
            return true;  // the client closed its side, or failed
        }
    }

    static void Answer(Client& c) {
        static const char kPage[] = "HTTP/1.1 200 OK\r\nContent-Length: 12\r\nConnection: close\r\n\r\nwalk answer\n";
        ::send(c.fd, kPage, sizeof kPage - 1, MSG_NOSIGNAL);
        ::close(c.fd);
        c.fd = -1;
    }

    // Every connection at once: a world's own connection, which sends
    // nothing, must not hold up a transfer's.
    void Serve() {
        std::vector<Client> clients;
        while (!stop_) {
            std::vector<pollfd> polled{{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            for (const Client& c : clients) polled.push_back({c.fd, POLLIN, 0});
            // Asleep until something happens, or until the next client is
            // taken to have stopped sending.
            int timeout = -1;
            for (const Client& c : clients) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    c.lastByte + kStoppedSending - Clock::now());
                const int ms = static_cast<int>(std::max<int64_t>(left.count(), 0)) + 1;
                timeout = timeout < 0 ? ms : std::min(timeout, ms);
            }
            if (::poll(polled.data(), polled.size(), timeout) < 0 && errno != EINTR) break;
            for (size_t i = 2; i < polled.size(); ++i) {
                Client& c = clients[i - 2];
                const bool stopped = Clock::now() - c.lastByte >= kStoppedSending;
                if ((polled[i].revents && ReadFrom(c)) || stopped) Answer(c);
            }
            // Every waiting connection, each read at once: one that came
            // with its request is answered in this same wake.
            if (polled[0].revents & POLLIN) {
                for (int fd; (fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                    clients.push_back({fd, {}});
                    if (ReadFrom(clients.back())) Answer(clients.back());
                }
            }
            std::erase_if(clients, [](const Client& c) { return c.fd < 0; });
        }
        for (const Client& c : clients) ::close(c.fd);
    }

    int fd_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace walkworld
