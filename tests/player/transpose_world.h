// A player world for the transpose walk: display 1 open at a size (37 x 23
// or its transpose), a few source brushes made from pictures the test
// computes (each transposed in the transposed world), and script snippets
// written as text, each value of which knows what it becomes under
// transposition.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "command_call.h"
#include "core/eventqueue.h"
#include "display/displays.h"
#include "display/events.h"
#include "display/refresh.h"
#include "platform/null/null_backend.h"
#include "vm/vm.h"
#include "walk_args.h"
#include "walk_player.h"
#include "walk_push.h"

namespace transpose {

using walkworld::Arg;

// A value as written and as the transposed world gets it.
struct Twin {
    Arg as;
    Arg tr;
};

struct Step {
    std::string command;
    std::vector<Twin> args;
};

// Keys and constants that name one axis, and their counterparts.
inline const std::map<std::string, std::string>& Exchanged() {
    static const std::map<std::string, std::string> pairs = [] {
        std::map<std::string, std::string> m;
        const std::pair<const char*, const char*> both[] = {
            {"x", "y"},           {"width", "height"},   {"w", "h"},           {"dx", "dy"},
            {"scalex", "scaley"}, {"anchorx", "anchory"}, {"texturex", "texturey"},
            {"sizex", "sizey"},   {"offsetx", "offsety"}, {"LEFT", "TOP"},      {"RIGHT", "BOTTOM"},
            {"srcx", "srcy"},     {"xradius", "yradius"}, {"shadowx", "shadowy"}, {"cornerb", "cornerd"},
            {"centerx", "centery"},
            {"scalewidth", "scaleheight"}, {"ATTRWIDTH", "ATTRHEIGHT"}, {"ATTRXPOS", "ATTRYPOS"},
            {"ATTRRAWWIDTH", "ATTRRAWHEIGHT"}, {"ATTRRAWXPOS", "ATTRRAWYPOS"},
        };
        for (const auto& [a, b] : both) {
            m[a] = b;
            m[b] = a;
        }
        return m;
    }();
    return pairs;
}

inline std::string ExchangeName(const std::string& name) {
    const auto it = Exchanged().find(name);
    return it == Exchanged().end() ? name : it->second;
}

// Reads a snippet: calls separated by ';', each Name(value, ...). A value
// is a number (decimal or $hex), #CONSTANT ("#LEFT" becomes "#TOP" ...),
// "text" ("a"/"b" as for numbers), @n the first result of the snippet's
// n-th call (from 1), a table {key = value, item ...} ({0: ...} lists from index 0;
// keys exchange as the constants do), or a group <a, b ...> of values that
// run backwards when transposed (<x, y>; a matrix <sx, rx, ry, sy>). A
// number after ~ is negated (a turn), after ^ becomes 90 minus it (an angle
// from the x axis), after % is a shadow direction (0 up, clockwise to 7)
// mirrored on the diagonal; a/b is a as written and b transposed (#a/#b
// for constants).
class Parser {
public:
    explicit Parser(std::string text) : s_(std::move(text)) {}

    std::vector<Step> Steps() {
        std::vector<Step> steps;
        for (Skip(); i_ < s_.size(); Skip()) {
            Step st;
            st.command = Word();
            Expect('(');
            st.args = Items(')');
            Skip();
            if (i_ < s_.size()) Expect(';');
            steps.push_back(std::move(st));
        }
        return steps;
    }
    bool Failed() const { return failed_; }

private:
    void Skip() {
        while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
    }
    void Expect(char c) {
        Skip();
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return;
        }
        if (!failed_) ADD_FAILURE() << "snippet: '" << c << "' expected at " << i_ << " of " << s_;
        failed_ = true;
        i_ = s_.size();
    }
    std::vector<Twin> Items(char close) {
        std::vector<Twin> out;
        Skip();
        if (i_ < s_.size() && s_[i_] == close) {
            ++i_;
            return out;
        }
        for (;;) {
            Value(out);
            Skip();
            if (i_ < s_.size() && s_[i_] == ',') {
                ++i_;
                continue;
            }
            Expect(close);
            return out;
        }
    }
    void Value(std::vector<Twin>& out) {
        Skip();
        if (i_ >= s_.size()) return Expect('?');
        const char c = s_[i_];
        if (c == '<') {
            ++i_;
            const std::vector<Twin> group = Items('>');
            for (size_t k = 0; k < group.size(); ++k) out.push_back({group[k].as, group[group.size() - 1 - k].tr});
            return;
        }
        if (c == '#') {
            ++i_;
            const std::string name = Word();
            std::string other = ExchangeName(name);
            if (i_ < s_.size() && s_[i_] == '/') {
                i_ += 2;
                other = Word();
            }
            out.push_back({walkworld::C(name), walkworld::C(other)});
            return;
        }
        if (c == '"') {
            const std::string text = Quoted();
            std::string other = text;
            if (i_ < s_.size() && s_[i_] == '/') {
                ++i_;
                other = Quoted();
            }
            out.push_back({walkworld::T(text), walkworld::T(other)});
            return;
        }
        if (c == '@') {
            std::string step;
            for (++i_; i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]));) step += s_[i_++];
            out.push_back({walkworld::Made(step), walkworld::Made(step)});
            return;
        }
        if (c == '{') return Table(out);
        out.push_back(Number());
    }
    std::string Word() {
        std::string word;
        while (i_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[i_])) || s_[i_] == '_')) word += s_[i_++];
        return word;
    }
    std::string Quoted() {
        const size_t end = s_.find('"', i_ + 1);
        if (end == std::string::npos) {
            Expect('"');
            return {};
        }
        std::string text = s_.substr(i_ + 1, end - i_ - 1);
        i_ = end + 1;
        return text;
    }
    Twin Number() {
        char mark = 0;
        if (s_[i_] == '~' || s_[i_] == '^' || s_[i_] == '%') mark = s_[i_++];
        double v = 0;
        char* end = nullptr;
        if (s_[i_] == '$') {
            v = static_cast<double>(std::strtoull(s_.c_str() + i_ + 1, &end, 16));
        } else {
            v = std::strtod(s_.c_str() + i_, &end);
        }
        if (end == s_.c_str() + i_) {
            Expect('0');
            return {};
        }
        i_ = static_cast<size_t>(end - s_.c_str());
        double t = mark == '~' ? -v : mark == '^' ? 90 - v : mark == '%' ? double((14 - int(v)) % 8) : v;
        if (i_ < s_.size() && s_[i_] == '/') {
            t = std::strtod(s_.c_str() + i_ + 1, &end);
            i_ = static_cast<size_t>(end - s_.c_str());
        }
        return {walkworld::N(v), walkworld::N(t)};
    }
    void Table(std::vector<Twin>& out) {
        ++i_;
        Arg as = walkworld::Of(Arg::kTable), tr = as;
        Skip();
        if (s_.compare(i_, 2, "0:") == 0) {
            as.first = tr.first = 0;
            i_ += 2;
        }
        for (;;) {
            Skip();
            if (i_ < s_.size() && s_[i_] == '}') {
                ++i_;
                break;
            }
            // key = value, or an item
            size_t k = i_;
            std::string key;
            while (k < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[k])) || s_[k] == '_')) key += s_[k++];
            while (k < s_.size() && s_[k] == ' ') ++k;
            if (!key.empty() && !std::isdigit(static_cast<unsigned char>(key[0])) && k < s_.size() && s_[k] == '=') {
                i_ = k + 1;
                std::vector<Twin> v;
                Value(v);
                if (v.size() != 1) return Expect('=');
                as.Set(key, v[0].as);
                tr.Set(ExchangeName(key), v[0].tr);
            } else {
                std::vector<Twin> v;
                Value(v);
                for (Twin& t : v) {
                    as.items.push_back(t.as);
                    tr.items.push_back(t.tr);
                }
            }
            Skip();
            if (i_ < s_.size() && s_[i_] == ',') ++i_;
            if (failed_) return;
        }
        out.push_back({as, tr});
    }

    std::string s_;
    size_t i_ = 0;
    bool failed_ = false;
};

// A picture the test makes into a brush: its pixel at x, y as
// alpha * $1000000 + $RRGGBB, and the brush type (0, #MASK or #ALPHACHANNEL).
struct Source {
    int id;
    int width, height;
    std::string type;
    std::function<uint32_t(int, int)> pixel;
};

// The display's size in the world as written; the transposed world's is
// its transpose.
constexpr int kWidth = 37, kHeight = 23;

// The player with display 1 open (kWidth x kHeight, or transposed) and
// current, the sources made as brushes and brush 10 shown over the whole
// display, for a background no transposition keeps.
class World {
public:
    World(bool transposed, const std::vector<Source>& sources) : tr_(transposed) {
        walkworld::ResetWalkProcess(&player_, uint64_t{1} << 20);
        L = VmOpen();
        if (!L || !walkworld::StartWalkPlayer(L, &player_, "qbtransposewalk")) {
            errors_.push_back("start");
            return;
        }
        const int w = tr_ ? kHeight : kWidth, h = tr_ ? kWidth : kHeight;
        const Arg size = walkworld::Table({{"width", walkworld::N(w)}, {"height", walkworld::N(h)}});
        Run({"CreateDisplay", {walkworld::N(1), size}});
        if (!errors_.empty() || StartDisplays(L)) {
            errors_.push_back("StartDisplays");
            return;
        }
        GetDisplayRecord(ObjectID{1, nullptr}, &display_);
        Run({"SelectDisplay", {walkworld::N(1)}});
        for (const Source& s : sources) Make(s);
        Run({"DisplayBrush", {walkworld::N(10), walkworld::N(0), walkworld::N(0)}});
    }
    ~World() { walkworld::EndWalkPlayer(L, &player_); }
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    const std::vector<std::string>& Errors() const { return errors_; }

    void Run(const std::vector<Step>& steps) {
        for (size_t i = 0; i < steps.size(); ++i) {
            walkworld::Call c{steps[i].command, {}};
            for (const Twin& t : steps[i].args) c.args.push_back(tr_ ? t.tr : t.as);
            Run(c, std::to_string(i + 1));
        }
    }

    // The window's pixels, row by row, alpha byte dropped.
    std::vector<uint32_t> Pixels(int* w, int* h) {
        RefreshDisplay(L, display_);
        const null_backend::Surface* s = display_ ? null_backend::GetSurface(display_) : nullptr;
        if (!s) return {};
        *w = s->width;
        *h = s->height;
        std::vector<uint32_t> out(s->pixels);
        for (uint32_t& p : out) p &= 0xFFFFFFu;
        return out;
    }

    ScriptState* L = nullptr;

private:
    // The call; its first result is kept under the name keep.
    void Run(const walkworld::Call& c, const std::string& keep = "") {
        VmSetTop(L, 0);
        walkworld::AnswerAsTheUser(c.command, 1000, display_);
        const auto nil = [this] { VmPushNil(L); };
        const walkworld::PushPlace place{L, "", 0, made_, nil, [nil](const Arg&) { nil(); }, {}};
        for (const Arg& a : c.args) walkworld::PushWalkArg(place, a);
        if (int err = CallCommand(L, c.command.c_str(), static_cast<int>(c.args.size()), 1))
            errors_.push_back((tr_ ? "transposed " : "") + c.Describe() + " -> " + std::to_string(err));
        else if (!keep.empty())
            made_[keep] = VmMakeRef(L, kRegistryIndex);
        null_backend::SetPumpObserver({});
        VmSetTop(L, 0);
    }

    void Make(const Source& s) {
        const int w = tr_ ? s.height : s.width, h = tr_ ? s.width : s.height;
        Arg table = walkworld::Of(Arg::kTable);
        table.first = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) table.items.push_back(walkworld::N(tr_ ? s.pixel(y, x) : s.pixel(x, y)));
        std::vector<Arg> args{walkworld::N(s.id), table, walkworld::N(w), walkworld::N(h)};
        if (!s.type.empty()) args.push_back(walkworld::C(s.type));
        Run({"RGBArrayToBrush", args});
    }

    bool tr_;
    walkworld::WalkPlayer player_;
    qbDisplay* display_ = nullptr;
    std::vector<std::string> errors_;
    std::map<std::string, int> made_;  // registry references
};

}  // namespace transpose
