// What the all-commands walk's world is made of beyond the player itself:
// the files its objects load, all made by the test, and a web server on
// 127.0.0.1 that answers every request with the same short page, for the
// URLs and connections of the network commands.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
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
// a module, a GIF anim, a CDXL clip for the video, a text file and a folder.
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
        giffixtures::GifFile gif(8, 6);
        for (uint8_t f = 0; f < 3; ++f) gif.Image(0, 0, 8, 6, std::vector<uint8_t>(48, f), 2);
        files_.emplace_back("walk.gif", gif.Bytes());
    }

    void Lay(const std::filesystem::path& folder) const {
        std::error_code ignored;
        for (const auto& [name, bytes] : files_) {
            std::filesystem::remove_all(folder / name, ignored);
            WriteBytes(folder / name, bytes);
        }
        std::filesystem::remove(folder / "walkdir", ignored);
        std::filesystem::create_directories(folder / "walkdir", ignored);
        WriteBytes(folder / "walkdir" / "inside.txt", {'i', '\n'});
    }

private:
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files_;
};

// Answers every connection with one small page and closes it; the request
// is read until its blank line or until the client stops sending.
class PageServer {
public:
    PageServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 64) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~PageServer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    PageServer(const PageServer&) = delete;
    PageServer& operator=(const PageServer&) = delete;

    int port() const { return port_; }

private:
    void Serve() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) continue;
            std::string request;
            char buffer[4096];
            for (int waits = 0; request.find("\r\n\r\n") == std::string::npos && waits < 20 && !stop_;) {
                pollfd q{c, POLLIN, 0};
                if (::poll(&q, 1, 10) <= 0) {
                    ++waits;
                    continue;
                }
                const ssize_t n = ::recv(c, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                request.append(buffer, static_cast<size_t>(n));
            }
            static const char kPage[] =
                "HTTP/1.1 200 OK\r\nContent-Length: 12\r\nConnection: close\r\n\r\nwalk answer\n";
            ::send(c, kPage, sizeof kPage - 1, MSG_NOSIGNAL);
            ::close(c);
        }
    }

    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace walkworld
