// Installed fonts the tests control: a fontconfig configuration of their own
// (FONTCONFIG_FILE) whose one font folder holds copies of DejaVu Sans, Sans
// Bold and Sans Mono from fonts-dejavu-core and the two faces cutfonts.py
// makes of DejaVu Sans with fontTools, with a temporary cache.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace hermeticfonts {

namespace fs = std::filesystem;

inline const std::string kDejaVuDir = "/usr/share/fonts/truetype/dejavu/";

struct Root {
    fs::path dir;
    bool cutFaces = false;  // "QB No A" and "QB Tall A"
    Root() {
        dir = fs::temp_directory_path() / ("qb_fonts_" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir / "fonts");
        fs::create_directories(dir / "cache");
        for (const char* name : {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSansMono.ttf"})
            fs::copy_file(kDejaVuDir + name, dir / "fonts" / name);
        std::ofstream(dir / "fonts.conf") << "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n"
                                          << "<fontconfig>\n  <dir>" << (dir / "fonts").string() << "</dir>\n"
                                          << "  <cachedir>" << (dir / "cache").string() << "</cachedir>\n"
                                          << "</fontconfig>\n";
        // Debian's fontTools belongs to the system's Python.
        const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
        const std::string cut = python + " " + QB_SOURCE_DIR + "/tests/text/cutfonts.py " + kDejaVuDir +
                                "DejaVuSans.ttf " + (dir / "fonts").string() + " >/dev/null 2>&1";
        cutFaces = std::system(cut.c_str()) == 0 && fs::exists(dir / "fonts" / "TallA.ttf");
        setenv("FONTCONFIG_FILE", (dir / "fonts.conf").c_str(), 1);
    }
    ~Root() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

// Made on first use, removed at exit.
inline const Root& Use() {
    static const Root root;
    return root;
}

}  // namespace hermeticfonts
