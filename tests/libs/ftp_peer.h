// A scripted FTP server on a thread of its own for the transfer tests: a
// control connection that plays replies and reads commands, and a data
// listener on 127.0.0.1 that serves or takes one data connection. Every
// wait is bounded, so a test that goes wrong fails instead of hanging.
#pragma once

#include <string>
#include <thread>
#include <vector>

#include "libs/net_peer.h"

namespace nettest {

struct FtpStep {
    enum Kind { kReply, kCommand, kServe, kTake } kind;
    std::string text;
    int stallMs = 0;  // kServe: pause after the text before closing
};

inline FtpStep Reply(std::string text) { return {FtpStep::kReply, std::move(text) + "\r\n"}; }
// Reads one command line.
inline FtpStep Command() { return {FtpStep::kCommand, {}}; }
// Accepts the data connection, sends text, pauses, closes.
inline FtpStep Serve(std::string text, int stallMs = 0) { return {FtpStep::kServe, std::move(text), stallMs}; }
// Accepts the data connection and keeps what arrives until the client closes.
inline FtpStep Take() { return {FtpStep::kTake, {}}; }

class FtpPeer {
public:
    FtpPeer() {
        control_ = BindLoopback(SOCK_STREAM, &port_);
        data_ = BindLoopback(SOCK_STREAM, &dataPort_);
        if (control_ >= 0) listen(control_, 4);
        if (data_ >= 0) listen(data_, 4);
    }
    ~FtpPeer() {
        Join();
        if (control_ >= 0) close(control_);
        if (data_ >= 0) close(data_);
    }
    FtpPeer(const FtpPeer&) = delete;
    FtpPeer& operator=(const FtpPeer&) = delete;

    void Start(std::vector<FtpStep> steps) {
        steps_ = std::move(steps);
        thread_ = std::thread([this] { Run(); });
    }
    std::string url(const std::string& path, const std::string& credentials = {}) const {
        return "ftp://" + credentials + "127.0.0.1:" + std::to_string(port_) + path;
    }
    // The PASV reply for the data listener, naming host as the address.
    std::string Pasv(const std::string& host = "127,0,0,1") const {
        return "227 Entering Passive Mode (" + host + "," + std::to_string(dataPort_ / 256) + "," +
               std::to_string(dataPort_ % 256) + ")";
    }
    // The login, PASV and TYPE exchange up to the RETR or STOR command.
    std::vector<FtpStep> Opening(const std::string& pasv = {}) const {
        return {Reply("220 ready"),
                Command(),
                Reply("331 password"),
                Command(),
                Reply("230 in"),
                Command(),
                Reply(pasv.empty() ? Pasv() : pasv),
                Command(),
                Reply("200 type"),
                Command()};
    }
    // Valid after Join.
    const std::vector<std::string>& commands() const { return commands_; }
    const std::string& taken() const { return taken_; }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }

private:
    void Run() {
        if (!WaitReadable(control_, kPeerWaitMs)) return;
        const int fd = accept(control_, nullptr, nullptr);
        if (fd < 0) return;
        for (const FtpStep& step : steps_) {
            if (step.kind == FtpStep::kReply) {
                send(fd, step.text.data(), step.text.size(), MSG_NOSIGNAL);
            } else if (step.kind == FtpStep::kCommand) {
                std::string line;
                char c;
                while (WaitReadable(fd, kPeerWaitMs) && recv(fd, &c, 1, 0) == 1 && c != '\n') line += c;
                if (!line.empty() && line.back() == '\r') line.pop_back();
                commands_.push_back(line);
            } else if (WaitReadable(data_, kPeerWaitMs)) {
                const int d = accept(data_, nullptr, nullptr);
                if (d < 0) break;
                if (step.kind == FtpStep::kServe) {
                    for (size_t done = 0; done < step.text.size();) {
                        const ssize_t n = send(d, step.text.data() + done, step.text.size() - done, MSG_NOSIGNAL);
                        if (n <= 0) break;
                        done += static_cast<size_t>(n);
                    }
                    if (step.stallMs) WaitReadable(d, step.stallMs);  // ends early once the client gives up
                } else {
                    char piece[4096];
                    ssize_t n;
                    while (WaitReadable(d, kPeerWaitMs) && (n = recv(d, piece, sizeof piece, 0)) > 0)
                        taken_.append(piece, static_cast<size_t>(n));
                }
                close(d);
            }
        }
        // Stays while the client still sends (its QUIT).
        char sink[256];
        while (WaitReadable(fd, kPeerIdleMs) && recv(fd, sink, sizeof sink, 0) > 0) {
        }
        close(fd);
    }

    std::vector<FtpStep> steps_;
    std::vector<std::string> commands_;
    std::string taken_;
    int control_ = -1;
    int data_ = -1;
    int port_ = 0;
    int dataPort_ = 0;
    std::thread thread_;
};

}  // namespace nettest
