// The section loop of the applet loader and the icon block that follows the
// script body.
#pragma once

#include <string>

#include "core/appletreader.h"
#include "core/appletrecords.h"
#include "vm/vm.h"

struct qbApplet;
struct qbCommandLine;

constexpr int kLastSectionTag = 34;
constexpr uint8_t kIconBlockMark = 'I';

struct AppletLoad {
    ScriptState* L;
    qbCommandLine* cl;
    qbApplet* applet;
    AppletReader& in;
    std::string containerPath;  // the file read: linked data and declarations live there
    AppletVersion version;
    std::string displayTitle;  // tag 4, for display 1 of the older sections
    bool haveDisplayTitle = false;
    int displayOne = -1;  // list index of display 1 once an older section made it
    bool bodyRead = false;
};

// Reads sections until the script body has been read. 0 or an error code.
int ReadAppletSections(AppletLoad& load);

// The icon block after the mark byte: fills the icon slots with chunk names of
// containerPath. 0 or ERR_READ.
int ReadIconBlock(AppletReader& in, const std::string& containerPath);
// After the body of a plain applet: zero bytes are padding; an icon block
// follows when the next byte is the mark.
int ReadTrailingIcons(AppletReader& in, const std::string& containerPath);
