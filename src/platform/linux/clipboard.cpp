// The desktop's clipboard on SDL: text written as UTF-8 and read back as
// ISO 8859-1 with the player's line ends, and the notices that tell the
// displays with a clipboard-change handler that it changed.
#include <SDL.h>

#include <memory>
#include <string>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/eventqueue.h"
#include "platform/cliptext.h"
#include "platform/linux/sdl_backend.h"

namespace sdl_backend {

namespace {

struct SdlText {
    void operator()(char* text) const { SDL_free(text); }
};

struct Contents {
    int type = kClipboardEmpty;
    std::string text;
};

// SDL keeps its clipboard with the video subsystem: nothing is there to
// read or write before the UI starts.
int ReadContents(Contents* out) {
    if (!S().video) return ERR_CLIPOPEN;
    out->text.clear();
    if (!SDL_HasClipboardText()) {
        out->type = kClipboardEmpty;
        return 0;
    }
    const std::unique_ptr<char, SdlText> utf8(SDL_GetClipboardText());
    if (!utf8) {
        SetErrorDetail(SDL_GetError());
        return ERR_CLIPREAD;
    }
    out->type = kClipboardText;
    out->text = ClipboardTextFromUTF8(utf8.get());
    return 0;
}

bool AnyoneListens() {
    for (const auto& w : S().windows)
        if (w->window && w->view->hasClipboardHandler) return true;
    return false;
}

int PostToListeners() {
    int error = 0;
    for (const auto& w : S().windows)
        if (w->window && w->view->hasClipboardHandler)
            if (PostEvent(w->display, kEventClipboardChanged, 0, 0, 0, nullptr) < 0) error = ERR_MEM;
    return error;
}

// Remembers what the clipboard holds now; true when that differs from what
// was seen before. False as well when it cannot be read: the next look
// compares with the last contents that could.
bool NoteContents(bool* wasSeen = nullptr) {
    Contents now;
    if (ReadContents(&now)) return false;
    const uint64_t hash = ClipboardHash(now.type, now.text);
    if (wasSeen) *wasSeen = S().clipboardSeen;
    const bool changed = !S().clipboardSeen || hash != S().clipboardHash;
    S().clipboardSeen = true;
    S().clipboardHash = hash;
    return changed;
}

// The player's own change: always reported, and remembered so that the
// desktop's echo of it is not reported again.
int OwnChange() {
    NoteContents();
    S().clipboardOwnWrite = true;
    return PostToListeners();
}

}  // namespace

int EmptyClipboard() {
    if (!S().video) return ERR_CLIPOPEN;
    if (SDL_SetClipboardText("") < 0) {
        SetErrorDetail(SDL_GetError());
        return ERR_CLIPWRITE;
    }
    return OwnChange();
}

int GetClipboardType(int* outType) {
    Contents now;
    if (const int err = ReadContents(&now)) return err;
    if (outType) *outType = now.type;
    return 0;
}

int ReadClipboardContents(qbClipboardData* data, int* outType) {
    Contents now;
    if (const int err = ReadContents(&now)) return err;
    if (outType) *outType = now.type;
    if (data) data->text = std::move(now.text);
    return 0;
}

// Images need a clipboard that carries other targets than text, which SDL's
// does not.
int WriteClipboard(int type, const qbClipboardData* data) {
    if (!data) return ERR_CLIPWRITE;
    if (type != kClipboardText) return type == kClipboardImage ? ERR_CLIPWRITE : ERR_CLIPFORMAT;
    if (!S().video) return ERR_CLIPOPEN;
    if (SDL_SetClipboardText(ClipboardTextToUTF8(data->text).c_str()) < 0) {
        SetErrorDetail(SDL_GetError());
        return ERR_CLIPWRITE;
    }
    return OwnChange();
}

// Asking the desktop costs a round trip, so only while someone listens.
int ClipboardUpdated() {
    if (!AnyoneListens()) return 0;
    const bool echo = S().clipboardOwnWrite;
    S().clipboardOwnWrite = false;
    return NoteContents() || !echo ? PostToListeners() : 0;
}

// Without a baseline there is nothing to compare with: the first look only
// takes one.
int ClipboardCheckOnActivation() {
    if (!AnyoneListens()) return 0;
    bool wasSeen = false;
    if (!NoteContents(&wasSeen) || !wasSeen) return 0;
    S().clipboardOwnWrite = false;
    return PostToListeners();
}

// The first listener sets the baseline, so that the next activation does not
// report a clipboard that was filled before the player looked.
int WatchClipboardChanges(qbDisplay*) {
    if (!S().clipboardSeen) NoteContents();
    return 0;
}

}  // namespace sdl_backend
