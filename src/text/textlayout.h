// Laying out styled text: the layout record that callers fill and text
// layers keep, and the runs (one style on one line) that the layout makes
// from the tag-free text by lines, words and word wrap.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "text/textlib.h"

struct ScriptState;

enum : int32_t {
    kTextAlignCenter = -100000,
    kTextAlignLeft = -90000,
    kTextAlignRight = -80000,
};

struct qbTextLayout {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;  // of the last rendered image
    int32_t height = 0;
    qbTextStyle style;
    std::string text;
    int32_t align = kTextAlignLeft;
    int32_t wrapWidth = 0;  // 0: no wrapping
    // Word indexes before which a line was broken: supplied (then the wrap
    // width is not used) or recorded by the layout.
    std::vector<int32_t> wordBreaks;
    bool breaksSupplied = false;
    int encoding = kEncodingLatin1;
    // Print: the first line starts at the cursor, the others at the left
    // margin; layout x counts from the left margin, and so do the tab stops.
    // Per tab the stop taken (-1: a line break), replayed once recorded.
    bool print = false;
    int32_t cursorX = 0;
    int32_t cursorY = 0;
    int32_t leftMargin = 0;
    std::vector<int32_t> tabStops;
    std::vector<int32_t> tabChoices;
    bool tabsRecorded = false;
    // Where the pen stood after the last character (layout coordinates).
    int32_t endX = 0;
    int32_t endY = 0;
    // Tags were printed literally (an input echo): a re-render does the same.
    bool raw = false;
};

struct qbTextSegment {
    std::string text;
    int32_t x = 0;  // inside the block, before alignment
    int32_t y = 0;
    qbTextMetrics extents;
    qbTextStyle style;
};

// Parses the tags (none when raw), breaks the text into lines and words,
// wraps and trims. 0, a tag error, ERR_ANTIALIAS (anti-aliasing asked of a
// font that cannot) or a measuring error.
int LayoutText(ScriptState* L, qbTextLayout* layout, bool raw, std::vector<qbTextSegment>* runs);
