// Menus drawn by the player: the strip of titles above the picture and the
// popups that open below them. SDL windows have no menu bar of their own, and
// drawn here they look alike on every video driver and can be read back.
// While a popup is open the window's input goes to the menus only.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <utility>

#include "core/errcodes.h"
#include "core/eventqueue.h"
#include "core/memory.h"
#include "core/preproc.h"
#include "platform/linux/menufont.h"
#include "platform/linux/sdl_backend.h"

namespace sdl_backend {

namespace {

constexpr int kStripHeight = 20;
constexpr int kItemHeight = 20;
constexpr int kSeparatorHeight = 7;
constexpr int kTitlePad = 8;
constexpr int kCheckColumn = 20;
constexpr int kPopupPad = 10;
constexpr int kHotkeyGap = 24;
constexpr int kArrowColumn = 14;
constexpr int kWheelStep = kItemHeight;
constexpr uint32_t kToggleFlag = 1;

constexpr uint32_t kStripColour = 0xECECEC;
constexpr uint32_t kStripLine = 0xB4B4B4;
constexpr uint32_t kPopupColour = 0xF8F8F8;
constexpr uint32_t kPopupBorder = 0x8C8C8C;
constexpr uint32_t kOpenColour = 0x3A6FC8;
constexpr uint32_t kTextColour = 0x000000;
constexpr uint32_t kOpenTextColour = 0xFFFFFF;
constexpr uint32_t kDisabledColour = 0x9A9A9A;
constexpr uint32_t kSeparatorColour = 0xC8C8C8;

const qbMenuTree* TreeOf(const qbNativeWindow& w) {
    const qbWindowView& v = *w.view;
    return v.menuTree ? v.menuTree(w.display) : nullptr;
}

bool Separator(const qbMenuItem& item) { return item.name.empty(); }

std::string HotkeyText(const qbMenuItem& item) {
    if (item.hotkey.empty()) return {};
    const char key = static_cast<char>(std::toupper(static_cast<unsigned char>(item.hotkey[0])));
    return std::string("Ctrl+") + key;
}

int RowHeight(const qbMenuItem& item) { return Separator(item) ? kSeparatorHeight : kItemHeight; }

SDL_Surface* Surface(const qbNativeWindow& w) { return w.window ? SDL_GetWindowSurface(w.window) : nullptr; }

void Fill(SDL_Surface* s, SDL_Rect r, uint32_t rgb) {
    SDL_FillRect(s, &r, SDL_MapRGB(s->format, static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8),
                                   static_cast<uint8_t>(rgb)));
}

// The strip's titles from the left: their x and width.
struct TitleBox {
    int x;
    int width;
};
std::vector<TitleBox> TitleBoxes(const qbMenuTree& tree) {
    std::vector<TitleBox> boxes;
    int x = 2;
    for (const qbMenuItem& title : tree) {
        const int width = MenuTextWidth(title.name) + 2 * kTitlePad;
        boxes.push_back({x, width});
        x += width;
    }
    return boxes;
}

int TextBaseline(int top, int height) { return top + (height + 9) / 2; }

void DrawStrip(qbNativeWindow& w, SDL_Surface* s) {
    const qbMenuTree* tree = TreeOf(w);
    if (!tree || w.strip <= 0) return;
    const SDL_Rect strip{0, 0, s->w, w.strip};
    Fill(s, strip, kStripColour);
    Fill(s, SDL_Rect{0, w.strip - 1, s->w, 1}, kStripLine);
    const std::vector<TitleBox> boxes = TitleBoxes(*tree);
    for (size_t i = 0; i < boxes.size(); ++i) {
        const bool open = static_cast<int>(i) == w.openTitle;
        const SDL_Rect box{boxes[i].x, 0, boxes[i].width, w.strip - 1};
        if (open) Fill(s, box, kOpenColour);
        SDL_Rect clip;
        if (!SDL_IntersectRect(&box, &strip, &clip)) continue;
        DrawMenuText(s, box.x + kTitlePad, TextBaseline(0, w.strip - 1), (*tree)[i].name,
                     open ? kOpenTextColour : kTextColour, clip);
    }
    MarkWindowDirty(w, strip);
}

void DrawCheck(SDL_Surface* s, int x, int y, uint32_t rgb, const SDL_Rect& clip) {
    // Two strokes, two pixels thick: down to the corner, then up to the right.
    static constexpr int kStroke[][2] = {{0, 4}, {1, 5}, {2, 6}, {3, 5}, {4, 4}, {5, 3}, {6, 2}, {7, 1}, {8, 0}};
    for (const auto& p : kStroke) {
        SDL_Rect dot{x + p[0], y + p[1], 1, 2}, cut;
        if (SDL_IntersectRect(&dot, &clip, &cut)) Fill(s, cut, rgb);
    }
}

void DrawArrow(SDL_Surface* s, int x, int y, uint32_t rgb, const SDL_Rect& clip) {
    for (int i = 0; i < 4; ++i) {
        SDL_Rect column{x + i, y + i, 1, 8 - 2 * i}, cut;
        if (SDL_IntersectRect(&column, &clip, &cut)) Fill(s, cut, rgb);
    }
}

void DrawPopup(const qbNativeWindow& w, SDL_Surface* s, const qbMenuPopup& p) {
    Fill(s, p.rect, kPopupBorder);
    const SDL_Rect inner{p.rect.x + 1, p.rect.y + 1, p.rect.w - 2, p.rect.h - 2};
    Fill(s, inner, kPopupColour);
    int y = p.rect.y + 1 - p.scroll;
    for (const qbMenuItem& item : *p.items) {
        const int h = RowHeight(item);
        const SDL_Rect row{inner.x, y, inner.w, h};
        SDL_Rect clip;
        if (SDL_IntersectRect(&row, &inner, &clip)) {
            if (Separator(item)) {
                SDL_Rect line{inner.x + 4, y + h / 2, inner.w - 8, 1}, cut;
                if (SDL_IntersectRect(&line, &inner, &cut)) Fill(s, cut, kSeparatorColour);
            } else {
                const uint32_t flags = MenuItemFlags(w, &item);
                const uint32_t colour = (flags & kMenuItemDisabled) ? kDisabledColour : kTextColour;
                const int baseline = TextBaseline(y, h);
                if (flags & kMenuItemChecked) DrawCheck(s, inner.x + 6, y + h / 2 - 4, colour, clip);
                DrawMenuText(s, inner.x + kCheckColumn, baseline, item.name, colour, clip);
                const std::string hotkey = HotkeyText(item);
                if (!hotkey.empty())
                    DrawMenuText(s, inner.x + inner.w - kPopupPad - MenuTextWidth(hotkey), baseline, hotkey, colour,
                                 clip);
                if (!item.submenu.empty()) DrawArrow(s, inner.x + inner.w - kPopupPad, y + h / 2 - 4, colour, clip);
            }
        }
        y += h;
    }
}

qbMenuPopup MakePopup(const qbMenuTree& items) {
    qbMenuPopup p;
    p.items = &items;
    int width = 0;
    for (const qbMenuItem& item : items) {
        const std::string hotkey = HotkeyText(item);
        int row = MenuTextWidth(item.name);
        if (!hotkey.empty()) row += kHotkeyGap + MenuTextWidth(hotkey);
        if (!item.submenu.empty()) row += kArrowColumn;
        width = std::max(width, row);
        p.contentHeight += RowHeight(item);
    }
    p.rect.w = kCheckColumn + width + kPopupPad + 2;
    p.rect.h = p.contentHeight + 2;
    return p;
}

// Puts the popup at (x, y), moved left and up to lie inside the surface; one
// taller than the surface fills its height and scrolls.
void Place(qbMenuPopup& p, const SDL_Surface* s, int x, int y) {
    p.rect.h = std::min(p.rect.h, s->h);
    p.rect.x = std::max(0, std::min(x, s->w - p.rect.w));
    p.rect.y = std::max(0, std::min(y, s->h - p.rect.h));
}

void SaveUnder(qbMenuPopup& p, SDL_Surface* s) {
    SDL_Rect r;
    const SDL_Rect whole{0, 0, s->w, s->h};
    if (!SDL_IntersectRect(&p.rect, &whole, &r)) return;
    p.rect = r;
    p.savedWidth = s->w;
    p.savedHeight = s->h;
    p.under.resize(static_cast<size_t>(r.w) * static_cast<size_t>(r.h));
    for (int y = 0; y < r.h; ++y)
        std::memcpy(&p.under[static_cast<size_t>(y) * r.w],
                    static_cast<const uint8_t*>(s->pixels) + (r.y + y) * s->pitch + r.x * 4, static_cast<size_t>(r.w) * 4);
}

// Puts the saved pixels back, clipped to the surface; a surface that changed
// size since (the window was resized under the open menu) holds a new
// picture, drawn whole, and gets none of them. The rectangle put back, empty
// when nothing went back.
SDL_Rect RestoreUnder(const qbMenuPopup& p, SDL_Surface* s) {
    SDL_Rect r{0, 0, 0, 0};
    if (p.under.empty() || s->w != p.savedWidth || s->h != p.savedHeight || s->format->BytesPerPixel != 4) return r;
    const SDL_Rect whole{0, 0, s->w, s->h};
    if (!SDL_IntersectRect(&p.rect, &whole, &r)) return SDL_Rect{0, 0, 0, 0};
    const int dx = r.x - p.rect.x, dy = r.y - p.rect.y;
    for (int y = 0; y < r.h; ++y)
        std::memcpy(static_cast<uint8_t*>(s->pixels) + (r.y + y) * s->pitch + r.x * 4,
                    &p.under[static_cast<size_t>(y + dy) * p.rect.w + dx], static_cast<size_t>(r.w) * 4);
    return r;
}

void ClosePopupsFrom(qbNativeWindow& w, size_t level) {
    SDL_Surface* s = Surface(w);
    while (w.popups.size() > level) {
        if (s) {
            const SDL_Rect back = RestoreUnder(w.popups.back(), s);
            if (back.w > 0 && back.h > 0) MarkWindowDirty(w, back);
        }
        w.popups.pop_back();
    }
}

void OpenPopup(qbNativeWindow& w, const qbMenuTree& items, int x, int y) {
    SDL_Surface* s = Surface(w);
    if (!s || s->format->BytesPerPixel != 4 || items.empty()) return;
    qbMenuPopup p = MakePopup(items);
    Place(p, s, x, y);
    SaveUnder(p, s);
    DrawPopup(w, s, p);
    MarkWindowDirty(w, p.rect);
    w.popups.push_back(std::move(p));
}

void OpenTitle(qbNativeWindow& w, int index) {
    const qbMenuTree* tree = TreeOf(w);
    CloseMenus(w);
    if (!tree || index < 0 || index >= static_cast<int>(tree->size())) return;
    w.openTitle = index;
    if (SDL_Surface* s = Surface(w)) DrawStrip(w, s);
    OpenPopup(w, (*tree)[static_cast<size_t>(index)].submenu, TitleBoxes(*tree)[static_cast<size_t>(index)].x,
              w.strip);
}

int TitleAt(const qbNativeWindow& w, int x) {
    const qbMenuTree* tree = TreeOf(w);
    if (!tree) return -1;
    const std::vector<TitleBox> boxes = TitleBoxes(*tree);
    for (size_t i = 0; i < boxes.size(); ++i)
        if (x >= boxes[i].x && x < boxes[i].x + boxes[i].width) return static_cast<int>(i);
    return -1;
}

// The popup level and item under the point; false over none.
bool ItemAt(const qbNativeWindow& w, int x, int y, size_t& level, const qbMenuItem*& item, int& rowTop) {
    for (size_t l = w.popups.size(); l-- > 0;) {
        const qbMenuPopup& p = w.popups[l];
        const SDL_Point point{x, y};
        if (!SDL_PointInRect(&point, &p.rect)) continue;
        level = l;
        item = nullptr;
        int top = p.rect.y + 1 - p.scroll;
        for (const qbMenuItem& candidate : *p.items) {
            const int h = RowHeight(candidate);
            if (y >= top && y < top + h) {
                item = &candidate;
                rowTop = top;
                break;
            }
            top += h;
        }
        return true;
    }
    return false;
}

// A toggle flips its check first; the event carries the item's id and the
// check it shows now.
int Choose(qbNativeWindow& w, const qbMenuItem& item) {
    uint32_t flags = MenuItemFlags(w, &item);
    if (item.flags & kToggleFlag) {
        flags ^= kMenuItemChecked;
        w.menuStates[&item] = flags;
    }
    auto* id = static_cast<char*>(AllocMemory(item.id.size() + 1, 1));
    if (!id) return ERR_MEM;
    std::memcpy(id, item.id.c_str(), item.id.size() + 1);
    const int posted = PostEvent(w.display, kEventMenuSelect, 0, 0, (flags & kMenuItemChecked) ? 1 : 0, id);
    if (posted <= 0) FreeMemory(id);
    return posted < 0 ? ERR_MEM : 0;
}

bool Choosable(const qbNativeWindow& w, const qbMenuItem& item) {
    return !Separator(item) && !(MenuItemFlags(w, &item) & kMenuItemDisabled);
}

int PressWhileOpen(qbNativeWindow& w, int x, int y) {
    size_t level = 0;
    const qbMenuItem* item = nullptr;
    int rowTop = 0;
    if (!ItemAt(w, x, y, level, item, rowTop)) {
        // Outside every popup: closes them, or opens another title.
        const int title = y < w.strip ? TitleAt(w, x) : -1;
        if (title >= 0 && title != w.openTitle) {
            OpenTitle(w, title);
        } else {
            CloseMenus(w);
        }
        return 0;
    }
    if (!item || !Choosable(w, *item)) return 0;
    if (!item->submenu.empty()) {
        ClosePopupsFrom(w, level + 1);
        const SDL_Rect parent = w.popups[level].rect;
        SDL_Surface* s = Surface(w);
        int x0 = parent.x + parent.w - 2;
        const qbMenuPopup probe = MakePopup(item->submenu);
        if (s && x0 + probe.rect.w > s->w) x0 = parent.x - probe.rect.w + 2;
        OpenPopup(w, item->submenu, x0, rowTop - 1);
        return 0;
    }
    CloseMenus(w);
    return Choose(w, *item);
}

void Scroll(qbNativeWindow& w, int delta) {
    if (w.popups.empty()) return;
    qbMenuPopup& p = w.popups.back();
    const int most = std::max(0, p.contentHeight + 2 - p.rect.h);
    const int scroll = std::clamp(p.scroll - delta * kWheelStep, 0, most);
    if (scroll == p.scroll) return;
    p.scroll = scroll;
    if (SDL_Surface* s = Surface(w)) {
        DrawPopup(w, s, p);
        MarkWindowDirty(w, p.rect);
    }
}

const qbMenuItem* FindHotkey(const qbMenuTree& tree, int key) {
    for (const qbMenuItem& item : tree) {
        if (!item.hotkey.empty() && std::tolower(static_cast<unsigned char>(item.hotkey[0])) == key) return &item;
        if (const qbMenuItem* found = FindHotkey(item.submenu, key)) return found;
    }
    return nullptr;
}

// Ctrl with an item's hotkey chooses it before the Control keys' own rule.
bool TakeHotkey(qbNativeWindow& w, const SDL_KeyboardEvent& key, int* error) {
    const qbMenuTree* tree = TreeOf(w);
    if (!tree || key.type != SDL_KEYDOWN || !(key.keysym.mod & KMOD_CTRL) || key.repeat) return false;
    const SDL_Keycode sym = key.keysym.sym;
    if (sym <= 0 || sym > 0x7F) return false;
    const qbMenuItem* item = nullptr;
    for (const qbMenuItem& title : *tree)
        if (!item) item = FindHotkey(title.submenu, std::tolower(sym));
    if (!item || !Choosable(w, *item) || !item->submenu.empty()) return false;
    w.pendingScancode = key.keysym.scancode;
    w.pendingSwallowsText = true;
    *error = Choose(w, *item);
    return true;
}

}  // namespace

int MenuStripHeight(const qbNativeWindow& w) {
    const qbMenuTree* tree = TreeOf(w);
    return !w.view->fullScreen && tree && !tree->empty() ? kStripHeight : 0;
}

uint32_t MenuItemFlags(const qbNativeWindow& w, const qbMenuItem* item) {
    if (!item) return 0;
    const auto it = w.menuStates.find(item);
    return it != w.menuStates.end() ? it->second : item->flags & (kMenuItemChecked | kMenuItemDisabled);
}

void DrawMenuStrip(qbNativeWindow& w) {
    SDL_Surface* s = Surface(w);
    if (!s || w.strip <= 0) return;
    DrawStrip(w, s);
    for (const qbMenuPopup& p : w.popups) {
        DrawPopup(w, s, p);
        MarkWindowDirty(w, p.rect);
    }
}

void CloseMenus(qbNativeWindow& w) {
    ClosePopupsFrom(w, 0);
    const bool wasOpen = w.openTitle >= 0;
    w.openTitle = -1;
    if (wasOpen)
        if (SDL_Surface* s = Surface(w)) DrawStrip(w, s);
}

bool MenuTakesEvent(qbNativeWindow& w, const SDL_Event& e, int* error) {
    *error = 0;
    if (w.strip <= 0) return false;
    const bool open = !w.popups.empty() || w.openTitle >= 0;
    switch (e.type) {
        case SDL_MOUSEBUTTONDOWN:
            if (open) {
                w.menuPress = true;
                *error = PressWhileOpen(w, e.button.x, e.button.y);
                return true;
            }
            if (e.button.y >= w.strip) return false;
            w.menuPress = true;
            if (e.button.button == SDL_BUTTON_LEFT) OpenTitle(w, TitleAt(w, e.button.x));
            return true;
        case SDL_MOUSEBUTTONUP:
            if (std::exchange(w.menuPress, false)) return true;
            return open || e.button.y < w.strip;
        case SDL_MOUSEMOTION: return open || e.motion.y < w.strip;
        case SDL_MOUSEWHEEL:
            if (!open) return false;
            Scroll(w, e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y);
            return true;
        case SDL_KEYDOWN:
            if (open) {
                if (e.key.keysym.sym == SDLK_ESCAPE) CloseMenus(w);
                return true;
            }
            return TakeHotkey(w, e.key, error);
        case SDL_KEYUP:
        case SDL_TEXTINPUT: return open;
        case SDL_WINDOWEVENT:
            if (open && e.window.event == SDL_WINDOWEVENT_FOCUS_LOST) CloseMenus(w);
            return false;
        default: return false;
    }
}

}  // namespace sdl_backend
