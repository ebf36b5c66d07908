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
// is read to its end (its blank line, or the body its head announces) or
// until the client stops sending.
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

    // Every connection at once: a world's own connection, which sends
    // nothing, must not hold up a transfer's.
    void Serve() {
        struct Client {
            int fd;
            std::string request;
            int idle = 0;
        };
        std::vector<Client> clients;
        while (!stop_) {
            std::vector<pollfd> polled{{fd_, POLLIN, 0}};
            for (const Client& c : clients) polled.push_back({c.fd, POLLIN, 0});
            const int ready = ::poll(polled.data(), polled.size(), 10);
            if (ready > 0 && (polled[0].revents & POLLIN)) {
                const int c = ::accept(fd_, nullptr, nullptr);
                if (c >= 0) clients.push_back({c, {}});
            }
            for (size_t i = 1; i < polled.size(); ++i) {
                Client& c = clients[i - 1];
                bool answer = false;
                if (polled[i].revents) {
                    char buffer[4096];
                    const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
                    if (n > 0) c.request.append(buffer, static_cast<size_t>(n));
                    answer = n <= 0 || Complete(c.request);
                } else {
                    // The client has stopped sending: it gets the page as is.
                    answer = ++c.idle >= 20;
                }
                if (!answer) continue;
                static const char kPage[] =
                    "HTTP/1.1 200 OK\r\nContent-Length: 12\r\nConnection: close\r\n\r\nwalk answer\n";
                ::send(c.fd, kPage, sizeof kPage - 1, MSG_NOSIGNAL);
                ::close(c.fd);
                c.fd = -1;
            }
            std::erase_if(clients, [](const Client& c) { return c.fd < 0; });
        }
        for (const Client& c : clients) ::close(c.fd);
    }

    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace walkworld
