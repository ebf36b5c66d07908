// The command line: one table of option names shared with the options file,
// and the parse that turns the process arguments into the start-up settings.
#pragma once

#include <cstddef>
#include <cstdio>

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

// Option ids: slots of the option-value array. Slot 0 holds the applet name.
enum OptionId : int {
    kOptApplet = 0,
    kOptWindow = 1,
    kOptBorderless = 2,
    kOptSizeable = 3,
    kOptBackfill = 4,
    kOptHideTitleBar = 5,
    kOptBrush = 6,
    kOptStartColor = 7,
    kOptEndColor = 8,
    kOptScrDepth = 9,
    kOptQuiet = 11,
    kOptBrushFile = 13,
    kOptFixed = 15,
    kOptNoSound = 16,
    kOptScalePicture = 18,
    kOptPicXPos = 19,
    kOptPicYPos = 20,
    kOptPicTrans = 21,
    kOptFullScreen = 22,
    kOptUseQuartz = 25,
    kOptNoHide = 26,
    kOptScrWidth = 27,
    kOptScrHeight = 28,
    kOptFakeFullScreen = 29,
    kOptHidePointer = 30,
    kOptNoModeSwitch = 31,
    kOptDebugDevice = 33,
    kOptAutoScale = 36,
    kOptScaleWidth = 37,
    kOptScaleHeight = 38,
    kOptSmoothScale = 39,
    kOptLayerScale = 40,
    kOptKeepProportions = 61,
    kOptFitScale = 62,
    kOptSkipPlugins = 67,
    kOptSoftTimer = 70,
    kOptRequirePlugins = 74,
    kOptDisableBlanker = 75,
    kOptTempDir = 78,
    kOptModeRequester = 79,
    kOptAskDisplayMode = 80,
    kOptMonitor = 81,
    kOptAllDisplays = 82,
    kOptRequireTags = 86,
    kOptDebugOutput = 87,
    kOptNumChannels = 88,
    kOptForceFlush = 89,
    kOptHelp = 90,
    kOptOverridePlacement = 91,
    kOptNoChdir = 92,
    kOptNoDebug = 94,
};

constexpr int kOptionSlotCount = 95;
constexpr size_t kArgumentTextSize = 4096;

extern const qbOptionRow kOptionTable[];
extern const size_t kOptionCount;

// The row of an option name (compared without case), or null.
const qbOptionRow* FindOption(const char* name, size_t length);

// The usage line and the option table's help texts under their headings.
void PrintOptionHelp(FILE* out);

// The command libraries in their fixed opening order, ended by a null name;
// a row without an open function is a library this player does not have.
const ScriptCommand* CommandLibraryList();
// Opens the libraries this player has, in that order, into the globals of L
// (after InitRuntimeCore, which empties the table registry).
int OpenLibraries(ScriptState* L);

// Options, applet choice, banner, catalog, the command libraries and the
// registry entries. 0 or an error code; HELP (also spelt --help or -h) prints
// the help and gives ERR_USERABORT, which ends the run quietly.
int ParseCommandLine(ScriptState* L, qbCommandLine* cl, qbApplet* applet, const qbLinkMarker* marker, int argc,
                     char** argv);
