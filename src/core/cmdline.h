// The command line: one table of option names shared with the options file,
// and the parse that turns the process arguments into the start-up settings.
#pragma once

#include <cstddef>

#include "vm/vm.h"

struct qbApplet;
struct qbCommandLine;
struct qbLinkMarker;

struct qbOptionRow {
    const char* name;
    int id;  // index into the option-value array
    bool takesValue;
    int heading;  // message of the group heading on a group's first row, else 0
    int help;     // message of the help text
    const char* valueName;  // null for flags
    const char* valueHint;
};

constexpr int kOptionSlotCount = 95;
constexpr size_t kArgumentTextSize = 4096;

extern const qbOptionRow kOptionTable[];
extern const size_t kOptionCount;

// The row of an option name (compared without case), or null.
const qbOptionRow* FindOption(const char* name, size_t length);

// Options, applet choice, banner, catalog, the command libraries and the
// registry entries. 0 or an error code.
int ParseCommandLine(ScriptState* L, qbCommandLine* cl, qbApplet* applet, const qbLinkMarker* marker, int argc,
                     char** argv);
