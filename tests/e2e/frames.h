// The window's frames as SDL's dummy driver saves them (SDL_VIDEO_DUMMY_SAVE_FRAMES),
// read back as 0xRRGGBB pixels, and the small pieces of assembly that the
// frame tests write their applets from.
#pragma once

#include <SDL2/SDL.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace e2e {

struct Frame {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// The saved frames of a folder in the order they were saved.
inline std::vector<std::filesystem::path> SavedFrameFiles(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() == ".bmp") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

inline bool ReadFrame(const std::filesystem::path& file, Frame* out) {
    SDL_Surface* loaded = SDL_LoadBMP(file.c_str());
    if (!loaded) return false;
    SDL_Surface* s = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(loaded);
    if (!s) return false;
    out->width = s->w;
    out->height = s->h;
    out->pixels.assign(static_cast<size_t>(s->w) * s->h, 0);
    for (int y = 0; y < s->h; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(s->pixels) + y * s->pitch);
        for (int x = 0; x < s->w; ++x) out->pixels[static_cast<size_t>(y) * s->w + x] = row[x] & 0xFFFFFF;
    }
    SDL_FreeSurface(s);
    return true;
}

inline std::vector<Frame> ReadSavedFrames(const std::filesystem::path& dir) {
    std::vector<Frame> frames;
    for (const auto& file : SavedFrameFiles(dir)) {
        Frame f;
        if (ReadFrame(file, &f)) frames.push_back(std::move(f));
    }
    return frames;
}

// The window as the dummy driver saved it last; empty when none was saved.
inline Frame LastSavedFrame(const std::filesystem::path& dir) {
    Frame f;
    const auto files = SavedFrameFiles(dir);
    if (!files.empty()) ReadFrame(files.back(), &f);
    return f;
}

// The same, as rows of pixels and their size.
inline std::vector<uint32_t> LastSavedFrame(const std::filesystem::path& dir, int* width, int* height) {
    Frame f = LastSavedFrame(dir);
    *width = f.width;
    *height = f.height;
    return std::move(f.pixels);
}

// A command call: GETGLOBAL (names are global in lower case), the number
// arguments, CALL without results.
inline std::string CallCommand(std::string name, std::initializer_list<double> args) {
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    std::string s = "    GETGLOBAL 0 \"" + name + "\"\n";
    int reg = 1;
    for (double a : args) s += "    LOADK " + std::to_string(reg++) + " #" + std::to_string(static_cast<long long>(a)) + "\n";
    return s + "    CALL 0 " + std::to_string(reg) + " 1\n";
}

// Lines of main that make the applet's function onend its OnVideoEnd
// handler (registers 0 to 2).
inline constexpr const char* kInstallVideoEndHandler = R"(    CLOSURE 0 onend
    SETGLOBAL 0 "onend"
    GETGLOBAL 0 "installeventhandler"
    NEWTABLE 1 0 1
    GETGLOBAL 2 "onend"
    SETTABLE 1 "onvideoend" 2
    CALL 0 2 1
)";

// A video applet: main installs an OnVideoEnd handler, runs `body` and waits
// for events; the handler prints "videoend" with the video's id, runs
// `handlerExtra` and ends the applet.
inline std::string VideoEndApplet(const std::string& body, const std::string& handlerExtra = "") {
    return std::string(R"(
.function main maxstack=12
.line 1
)") + kInstallVideoEndHandler + body + R"(.line 19
loop:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP loop
    RETURN 0 1 0
.function onend params=1 maxstack=6
.line 20
    GETGLOBAL 1 "debugprint"
    LOADK 2 "videoend"
    GETTABLE 3 0 "id"
    CALL 1 3 1
)" + handlerExtra + R"(    GETGLOBAL 1 "end"
    CALL 1 1 1
    RETURN 0 1 0
.end
.end
)";
}

inline std::string MainFunction(const std::string& body, int maxstack) {
    return ".function main maxstack=" + std::to_string(maxstack) + "\n.line 1\n" + body + "    RETURN 0 1 0\n.end\n";
}

}  // namespace e2e
