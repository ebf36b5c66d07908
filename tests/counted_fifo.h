// A FIFO whose writer counts the readers that open it, for tests that a
// command never opens a FIFO for reading (which would wait for a writer).
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>

// A FIFO with a writer that counts every reader that opens it (each open
// for reading waits for the writer, then reads an end of file at once).
class CountedFifo {
public:
    explicit CountedFifo(std::string path) : path_(std::move(path)) {
        made_ = mkfifo(path_.c_str(), 0644) == 0;
        writer_ = std::thread([this] {
            while (!stop_) {
                const int fd = open(path_.c_str(), O_WRONLY | O_CLOEXEC);
                if (fd < 0) return;
                if (!stop_) ++readers_;
                close(fd);
            }
        });
    }
    bool made() const { return made_; }
    // The readers so far; every reader counted has been let go.
    int Readers() const { return readers_; }
    ~CountedFifo() {
        stop_ = true;
        // A reader of our own lets the waiting writer's open return.
        const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        writer_.join();
        if (fd >= 0) close(fd);
    }

private:
    std::string path_;
    bool made_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<int> readers_{0};
    std::thread writer_;
};
