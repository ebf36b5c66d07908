// Objects that an applet declares for creation at start-up (preprocessor
// objects), and the display settings that reach display 1's declaration.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ScriptState;
struct qbApplet;
struct qbCommandLine;

// Backfill decoration of a display (defaults of InitBackfillOptions).
struct qbBackfillOptions {
    int type = 0;
    int32_t startColor = -1;
    int32_t endColor = -1;
    int32_t brush = 0;
    int x = -100000;
    int y = -100000;
    int32_t transparentColor = -1;
    int scalePicture = 0;
    int smoothScale = 0;
    int hideTitleBar = 0;
    std::string fileName;
};

// Screen settings of older applets; a field left at its default changes nothing.
struct qbScreenModeOptions {
    int mode = 0;
    int scrWidth = -1;
    int scrHeight = -1;
    int scrDepth = -1;
    int desktop = -1;
    int titleBar = 0;
    qbBackfillOptions backfill = [] {
        qbBackfillOptions b;
        b.type = -1;
        return b;
    }();
};

enum PreprocessorType : int {
    kDeclBGPic = 0,
    kDeclBrush = 1,
    kDeclAnim = 2,
    kDeclMusic = 3,
    kDeclSample = 4,
    kDeclButton = 5,
    kDeclKeyDown = 6,
    kDeclSprite = 7,
    kDeclFile = 8,
    kDeclFont = 9,
    kDeclDisplay = 10,
    kDeclVideo = 11,
    kDeclPlugin = 12,
    kDeclMenu = 13,
};

struct qbPreprocessorEntry {
    int type = 0;
    int32_t id = 0;
    std::string name;
    uint32_t linkedOffset = 0;
    uint32_t linkedSize = 0;
    int32_t valueA = -1;
    int32_t valueB = 0;
    int32_t sourceLine = 0;
    std::string loader;
    std::string adapter;
};

int AddDefaultDisplayEntry(qbApplet* applet, const char* title);
void FreePreprocessorList(std::vector<qbPreprocessorEntry>& list);
const qbPreprocessorEntry* FindPreprocessorEntry(const qbApplet* applet, int type, int32_t id);

// The start-up steps that work on the declarations.
int ApplyScreenModeOptions(qbApplet* applet);
int ApplyDisplayOverrides(qbApplet* applet, const qbCommandLine* cl);
int ShareDeclaredImages(qbApplet* applet);
// hideDisplays: a required plugin asked for the displays to start hidden.
int CreateDeclaredObjects(ScriptState* L, qbCommandLine* cl, qbApplet* applet, int hideDisplays);
