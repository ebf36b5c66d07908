// The layout of styled text. Words are pieces of one style each, placed
// one after another; a word that passes the wrap width moves whole to the
// next line. Afterwards each line's trailing spaces go (where they would
// show) and neighbouring pieces of one style join into one run, so that a
// plain line is measured and drawn in one piece, kerning and all.
#include "text/textlayout.h"

#include <algorithm>
#include <iterator>
#include <unordered_set>

#include "core/errcodes.h"
#include "text/font.h"
#include "text/textmarkup.h"

namespace {

bool SameStyle(const qbTextStyle& a, const qbTextStyle& b) {
    return a.flags == b.flags && a.colour == b.colour && a.shadowColour == b.shadowColour &&
           a.edgeColour == b.edgeColour && a.shadowSize == b.shadowSize && a.shadowDirection == b.shadowDirection &&
           a.edgeSize == b.edgeSize && a.font == b.font;
}

int Measure(qbTextSegment* run, int encoding) {
    return MeasureText(run->text.data(), run->text.size(), encoding, &run->extents, run->style);
}

int TrimLines(std::vector<qbTextSegment>* runs, int32_t align, int encoding);
int JoinRuns(std::vector<qbTextSegment>* runs, int encoding);

struct Builder {
    const qbTextLayout& layout;
    int32_t lineHeight;
    std::vector<qbTextSegment>* runs;
    std::unordered_set<int32_t> supplied;
    std::vector<int32_t> recorded;
    int32_t x = 0;
    int32_t y = 0;
    int32_t wordIndex = 0;
    size_t wordFirstRun = 0;
    int32_t wordStartX = 0;
    std::string piece;
    qbTextStyle pieceStyle;

    // Closes the piece being read as a run at the pen.
    int ClosePiece() {
        if (piece.empty()) return 0;
        qbTextSegment run;
        run.text = std::move(piece);
        piece.clear();
        run.style = pieceStyle;
        run.x = x;
        run.y = y;
        if (int err = Measure(&run, layout.encoding)) return err;
        x += run.extents.width;
        runs->push_back(std::move(run));
        return 0;
    }
    void NewLine() {
        x = 0;
        y += lineHeight;
    }
    // A Print tab: the first stop right of the pen, or a line break when
    // there is none inside the wrap width; the choice replays once recorded.
    void Tab(qbTextLayout* out) {
        int32_t choice = -1;
        if (layout.tabsRecorded) {
            if (tabIndex < layout.tabChoices.size()) choice = layout.tabChoices[tabIndex];
        } else {
            for (size_t i = 0; i < layout.tabStops.size(); ++i) {
                if (layout.tabStops[i] <= x) continue;
                if (layout.wrapWidth <= 0 || layout.tabStops[i] <= layout.wrapWidth) choice = static_cast<int32_t>(i);
                break;
            }
            out->tabChoices.push_back(choice);
        }
        ++tabIndex;
        if (choice >= 0 && static_cast<size_t>(choice) < layout.tabStops.size()) x = layout.tabStops[choice];
        else NewLine();
    }
    size_t tabIndex = 0;
    // The first run of the lines not finished yet.
    size_t openLines = 0;
    // Lines above the pen's are finished: no word moves into them any more,
    // so their trailing spaces go and their pieces join now, and a text of
    // many lines holds one run a line and the pieces of one line at a time.
    // Each line is trimmed and joined by itself, so the runs are those of
    // trimming and joining all lines at the end.
    int FinishLines(bool all) {
        size_t end = openLines;
        while (end < runs->size() && (all || (*runs)[end].y < y)) ++end;
        if (end == openLines) return 0;
        std::vector<qbTextSegment> done(std::make_move_iterator(runs->begin() + static_cast<ptrdiff_t>(openLines)),
                                        std::make_move_iterator(runs->begin() + static_cast<ptrdiff_t>(end)));
        if (int err = TrimLines(&done, layout.align, layout.encoding)) return err;
        if (int err = JoinRuns(&done, layout.encoding)) return err;
        const auto first = runs->begin() + static_cast<ptrdiff_t>(openLines);
        runs->erase(first + static_cast<ptrdiff_t>(done.size()), runs->begin() + static_cast<ptrdiff_t>(end));
        std::move(done.begin(), done.end(), runs->begin() + static_cast<ptrdiff_t>(openLines));
        openLines += done.size();
        return 0;
    }
    // Before a word's first character: a supplied break starts a new line.
    int StartWord() {
        if (layout.breaksSupplied && supplied.count(wordIndex)) NewLine();
        if (int err = FinishLines(false)) return err;
        wordFirstRun = runs->size();
        wordStartX = x;
        return 0;
    }
    // After the word's last character (spaces included).
    int EndWord() {
        if (int err = ClosePiece()) return err;
        const size_t count = runs->size() - wordFirstRun;
        if (count > 0 && !layout.breaksSupplied && layout.wrapWidth > 0 && wordStartX > 0) {
            // The word's right edge without its trailing spaces.
            qbTextSegment last = (*runs)[runs->size() - 1];
            const size_t keep = last.text.find_last_not_of(' ');
            int32_t right = last.x;
            if (keep != std::string::npos) {
                last.text.resize(keep + 1);
                if (int err = Measure(&last, layout.encoding)) return err;
                right += last.extents.width;
            }
            if (right > layout.wrapWidth) {
                NewLine();
                for (size_t i = wordFirstRun; i < runs->size(); ++i) {
                    (*runs)[i].x -= wordStartX;
                    (*runs)[i].y = y;
                    x = (*runs)[i].x + (*runs)[i].extents.width;
                }
                recorded.push_back(wordIndex);
            }
        }
        ++wordIndex;
        return 0;
    }
};

// Trailing spaces of each line, where they would be seen or centred.
int TrimLines(std::vector<qbTextSegment>* runs, int32_t align, int encoding) {
    std::vector<qbTextSegment> out;
    for (size_t i = 0; i < runs->size(); ++i) {
        out.push_back(std::move((*runs)[i]));
        const bool lineEnds = i + 1 == runs->size() || (*runs)[i + 1].y != out.back().y;
        if (!lineEnds) continue;
        const int32_t lineY = out.back().y;
        while (!out.empty() && out.back().y == lineY) {
            qbTextSegment& last = out.back();
            if (align == kTextAlignLeft && !(last.style.flags & kTextUnderlined)) break;
            const size_t keep = last.text.find_last_not_of(' ');
            if (keep == std::string::npos) {
                out.pop_back();
                continue;
            }
            if (keep + 1 < last.text.size()) {
                last.text.resize(keep + 1);
                if (int err = Measure(&last, encoding)) return err;
            }
            break;
        }
    }
    *runs = std::move(out);
    return 0;
}

// Neighbours of one style on one line become one run.
int JoinRuns(std::vector<qbTextSegment>* runs, int encoding) {
    std::vector<qbTextSegment> out;
    std::vector<bool> joined;
    for (qbTextSegment& run : *runs) {
        if (!out.empty() && out.back().y == run.y && SameStyle(out.back().style, run.style)) {
            out.back().text += run.text;
            joined.back() = true;
            continue;
        }
        out.push_back(std::move(run));
        joined.push_back(false);
    }
    // Each joined run is measured once, whole.
    for (size_t i = 0; i < out.size(); ++i)
        if (joined[i])
            if (int err = Measure(&out[i], encoding)) return err;
    *runs = std::move(out);
    return 0;
}

}  // namespace

int LayoutText(ScriptState* L, qbTextLayout* layout, bool raw, std::vector<qbTextSegment>* runs) {
    runs->clear();
    qbFont* font = CurrentFont(layout->style);
    if (!font) return ERR_OPENFONT;
    qbMarkedText marked;
    if (int err = ParseTextMarkup(L, layout->text.data(), layout->text.size(), raw, layout->style, &marked))
        return err;
    for (qbStyleChange& c : marked.changes) {
        // A tag's shadow direction above 7 measures and draws as 3.
        ClampTextStyle(&c.style);
        if ((c.style.flags & kTextAntialias) && !font->antialiasCapable) return ERR_ANTIALIAS;
    }

    Builder b{*layout, font->height, runs, {}, {}, 0, 0, 0, 0, 0, {}, layout->style};
    if (layout->print) b.x = layout->cursorX - layout->leftMargin;
    if (!layout->tabsRecorded) layout->tabChoices.clear();
    if (layout->breaksSupplied) b.supplied.insert(layout->wordBreaks.begin(), layout->wordBreaks.end());
    size_t change = 0;
    bool inWord = false;
    bool inSpaces = false;
    const std::string& text = marked.text;
    for (size_t i = 0; i < text.size(); ++i) {
        while (change + 1 < marked.changes.size() && marked.changes[change + 1].at <= i) ++change;
        const qbTextStyle& style = marked.changes[change].style;
        char c = text[i];
        if (c == '\r') continue;
        if (c == '\t' && layout->print) {
            if (inWord)
                if (int err = b.EndWord()) return err;
            inWord = inSpaces = false;
            b.Tab(layout);
            continue;
        }
        if (c == '\t') c = ' ';
        if (c == '\n') {
            if (inWord)
                if (int err = b.EndWord()) return err;
            inWord = inSpaces = false;
            b.NewLine();
            continue;
        }
        if (inWord && inSpaces && c != ' ') {
            if (int err = b.EndWord()) return err;
            inWord = inSpaces = false;
        }
        if (!inWord) {
            if (int err = b.StartWord()) return err;
            inWord = true;
        }
        if (!b.piece.empty() && !SameStyle(b.pieceStyle, style))
            if (int err = b.ClosePiece()) return err;
        if (b.piece.empty()) b.pieceStyle = style;
        b.piece += c;
        if (c == ' ') inSpaces = true;
    }
    if (inWord)
        if (int err = b.EndWord()) return err;
    if (!layout->breaksSupplied) layout->wordBreaks = std::move(b.recorded);
    layout->endX = b.x;
    layout->endY = b.y;
    return b.FinishLines(true);
}
