// Fonts of both engines opened from files the test owns: copies of
// fonts-dejavu-core faces in a folder of its own, which a private
// fontconfig configuration lists for the native engine, with the text
// library over the Linux backend's font engine.
#pragma once

#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "command_call.h"
#include "core/objects.h"
#include "core/settings.h"
#include "core/vmhost.h"
#include "imaging/bitmap.h"
#include "platform/platform.h"
#include "text/font.h"
#include "text/fontcache.h"
#include "text/text.h"
#include "text/textlib.h"
#include "text/textvm.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QB_FONTFILE_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QB_FONTFILE_ASAN 1
#endif
#ifdef QB_FONTFILE_ASAN
#include <sanitizer/allocator_interface.h>
#endif

namespace fontfiles {

namespace fs = std::filesystem;

inline const std::string kDejaVuDir = "/usr/share/fonts/truetype/dejavu/";

// What the program has allocated and not freed, in bytes.
inline int64_t AllocatedBytes() {
#ifdef QB_FONTFILE_ASAN
    return static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 m = mallinfo2();
    return static_cast<int64_t>(m.uordblks + m.hblkhd);
#endif
}

inline int OpenDescriptors() {
    int n = 0;
    std::error_code ec;
    for (auto it = fs::directory_iterator("/proc/self/fd", ec); !ec && it != fs::directory_iterator(); it.increment(ec))
        ++n;
    return n;
}

class FontFiles : public ::testing::Test {
protected:
    void SetUp() override {
        // A folder of its own each time: fontconfig tells a changed folder by
        // its time, to the second.
        static int serial = 0;
        dir_ = fs::temp_directory_path() /
               ("qb_fontfiles_" + std::to_string(::getpid()) + "_" + std::to_string(++serial));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "fonts");
        fs::create_directories(dir_ / "cache");
        std::ofstream(dir_ / "fonts.conf") << "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n"
                                           << "<fontconfig>\n  <dir>" << (dir_ / "fonts").string() << "</dir>\n"
                                           << "  <cachedir>" << (dir_ / "cache").string() << "</cachedir>\n"
                                           << "</fontconfig>\n";
        if (const char* old = std::getenv("FONTCONFIG_FILE")) oldConfig_ = old;
        setenv("FONTCONFIG_FILE", (dir_ / "fonts.conf").c_str(), 1);
        OpenTextVm(&L_);
        plane_.reset(AllocAlphaChannel(256, 64, true, nullptr, 0));
    }
    void TearDown() override {
        CloseTextVm(L_);
        if (oldConfig_.empty())
            unsetenv("FONTCONFIG_FILE");
        else
            setenv("FONTCONFIG_FILE", oldConfig_.c_str(), 1);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // A copy of a fonts-dejavu-core face in the test's font folder.
    fs::path Install(const char* face, const std::string& as) {
        const fs::path path = dir_ / "fonts" / as;
        fs::copy_file(kDejaVuDir + face, path, fs::copy_options::overwrite_existing);
        return path;
    }
    // Replaced as a saver replaces a file: a new file renamed over it.
    void Replace(const fs::path& path, const char* face) {
        const fs::path temp = path.string() + ".new";
        fs::copy_file(kDejaVuDir + face, temp, fs::copy_options::overwrite_existing);
        fs::rename(temp, path);
    }

    int SetFont(const std::string& name, double size, int engine = kFontEngineNative, int cache = 1) {
        VmSetTop(L_, 0);
        VmPushString(L_, name.c_str());
        VmPushNumber(L_, size);
        VmPushNewTable(L_);
        SetTableFieldInt(L_, "cache", cache);
        SetTableFieldInt(L_, "engine", engine);
        return CallCommand(L_, "SetFont", 3, 0);
    }
    int FreeGlyphCache() {
        VmSetTop(L_, 0);
        VmPushNumber(L_, 0);
        return CallCommand(L_, "FreeGlyphCache", 1, 0);
    }
    static qbFont* Current() { return CurrentFont(*GetTextStyle()); }
    // The text in the font, anti-aliased, into the test's plane.
    int Draw(qbFont* font, const std::string& text) {
        return RenderFontText(font, plane_.get(), nullptr, 0, 0, text.data(), text.size(), kTextAntialias, 0,
                              {0, 0, 256, 64}, kFontPenMask);
    }
    static int Measure(qbFont* font, const std::string& text) {
        qbTextExtents e;
        return MeasureFontText(font, text.data(), text.size(), 0, 0, &e);
    }

    fs::path dir_;
    std::string oldConfig_;
    ScriptState* L_ = nullptr;
    BitmapPtr plane_;
};

}  // namespace fontfiles
