// The two process-wide start-up records: the command-line record ("clargs")
// and the applet record ("applet") with its include table and linked files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/preproc.h"
#include "core/readholds.h"

constexpr size_t kHeaderStringSize = 256;
constexpr size_t kPathSize = 1024;

// One include file's share of the compiled chunk's lines.
struct qbIncludeEntry {
    uint32_t firstLine = 0;
    uint32_t lastLine = 0;
    uint32_t lineOffset = 0;
    std::string fileName;
    std::string sourceChunkName;  // the chunk source the lines belong to
};

// A data file that the compiler put into the applet.
struct qbLinkedFile {
    std::string name;        // "::font:" prefix for linked fonts
    std::string appletPath;  // the container file that holds the data
    uint64_t offset = 0;     // from the applet base
    uint64_t size = 0;
};

// Display settings given on the command line or in the options file; start-up
// writes them over the display declarations.
struct qbDisplayOverrides {
    int mode = 0;  // 0 = none
    int scrWidth = -1;
    int scrHeight = -1;
    int scrDepth = -1;
    int scaleWidth = 0;  // negative: percent
    int scaleHeight = 0;
    int monitor = 0;
    uint32_t flags = 0;  // ORed into the declaration's flag word
    qbBackfillOptions backfill;
};

struct qbApplet {
    std::vector<uint8_t> scriptBody;  // the main chunk
    uint32_t scriptSize = 0;
    char title[kHeaderStringSize] = {};
    char version[kHeaderStringSize] = {};
    char copyright[kHeaderStringSize] = {};
    char author[kHeaderStringSize] = {};
    char description[kHeaderStringSize] = {};
    char identifier[kHeaderStringSize] = {};
    std::vector<qbPreprocessorEntry> preprocessorList;
    std::vector<qbIncludeEntry> includeTable;
    std::vector<qbLinkedFile> linkedFiles;
    int versionMajor = 0;  // main presets 6.1 before anything else
    int versionMinor = 0;
    qbDisplayOverrides overrides;
    qbScreenModeOptions screenModeOptions;  // written by the older display sections
    int appletFlag = 0;                     // 1 once an applet is being loaded
    // The file whose parts the applet's linked files are read from while it
    // runs (the applet, the program it is appended to, or its inflated copy).
    qbReadHold container;
};

// The timer settings of the applet (tag 32) and of SOFTTIMER; their users
// are the timer services.
struct qbTimerSettings {
    uint32_t flags = 0;  // bit 0: low-resolution software timer
    int32_t value1 = -1;
    int32_t value2 = -1;
    uint8_t byte = 0;
};
constexpr uint32_t kTimerSoftTimer = 0x1;
extern qbTimerSettings TimerSettings;

// An option the option table does not know, kept for plugins and scripts.
struct qbUnknownOption {
    std::string name;
    std::string value;
};

struct qbCommandLine {
    int appletFlag = 0;  // the loaded file begins with "QBA" and a NUL
    char scriptPath[kPathSize] = {};
    char scriptPathAsTyped[kPathSize] = {};
    char executablePath[kPathSize] = {};
    int quiet = 0;
    int nosound = 0;
    int displayOverrideLock = 0;
    int allDisplays = 0;
    int channelCount = 0;
    std::vector<qbUnknownOption> unknownOptions;
    std::vector<std::string> requirePlugins;
    std::vector<std::string> skipPlugins;
    std::string requireTags;
    int debugDevice = 0;
    char errorText[1024] = {};
    // Every option of the command line in its order, known or not, with its
    // value ("" for a flag): what scripts read back with GetCommandLine.
    std::vector<qbUnknownOption> arguments;
    // 1 when the desktop started the player without a command line of its
    // own; a Linux launcher always passes one, so this stays 0 here.
    int startFlags = 0;
    int scriptNamed = 0;       // the applet was named on the command line
    std::string fileArgument;  // the file named to an executable with a linked applet
};
