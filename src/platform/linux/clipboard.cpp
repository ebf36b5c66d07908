// The desktop's clipboard: text written as UTF-8 and read back as ISO 8859-1
// with the player's line ends, pictures where GTK runs beside SDL, and the
// notices that tell the displays with a clipboard-change handler that it
// changed.
#include <SDL.h>

#include <algorithm>
#include <memory>
#include <string>

#include "core/errcodes.h"
#include "core/errors.h"
#include "core/eventqueue.h"
#include "platform/clipimage.h"
#include "platform/cliptext.h"
#include "platform/linux/clipboard_gtk.h"
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
// read or write before the UI starts. Only text has a place in it.
int ReadSdlContents(Contents* out) {
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

int ReadContents(Contents* out, ClipboardPicture* picture = nullptr) {
    if (!S().video) return ERR_CLIPOPEN;
    if (!gtk_clipboard::Use()) return ReadSdlContents(out);
    std::string utf8;
    if (const int err = gtk_clipboard::Read(&out->type, &utf8, picture)) return err;
    out->text = out->type == kClipboardText ? ClipboardTextFromUTF8(utf8.c_str()) : std::string();
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
    if (gtk_clipboard::Use()) {
        if (const int err = gtk_clipboard::Clear()) return err;
    } else if (SDL_SetClipboardText("") < 0) {
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

// The picture's bitmap is made only when the caller has a record for it.
int ReadClipboardContents(qbClipboardData* data, int* outType) {
    Contents now;
    ClipboardPicture picture;
    if (const int err = ReadContents(&now, data ? &picture : nullptr)) return err;
    if (outType) *outType = now.type;
    if (!data) return 0;
    if (now.type == kClipboardImage) return ClipboardPictureToRecord(picture, data);
    data->text = std::move(now.text);
    return 0;
}

// Pictures need a clipboard that carries other targets than text, which
// SDL's alone does not.
int WriteClipboard(int type, const qbClipboardData* data) {
    if (!data) return ERR_CLIPWRITE;
    if (type != kClipboardText && type != kClipboardImage) return ERR_CLIPFORMAT;
    if (!S().video) return ERR_CLIPOPEN;
    const bool gtk = gtk_clipboard::Use();
    if (type == kClipboardImage) {
        if (!gtk) return ERR_CLIPWRITE;
        ClipboardPicture picture;
        if (const int err = ClipboardPictureFromRecord(*data, &picture)) return err;
        if (const int err = gtk_clipboard::WritePicture(picture)) return err;
    } else if (gtk) {
        if (const int err = gtk_clipboard::WriteText(ClipboardTextToUTF8(data->text))) return err;
    } else if (SDL_SetClipboardText(ClipboardTextToUTF8(data->text).c_str()) < 0) {
        SetErrorDetail(SDL_GetError());
        return ERR_CLIPWRITE;
    }
    return OwnChange();
}

namespace {

// Asking the desktop costs a round trip, so only while someone listens.
int Updated() {
    if (!AnyoneListens()) return 0;
    const bool echo = S().clipboardOwnWrite;
    S().clipboardOwnWrite = false;
    return NoteContents() || !echo ? PostToListeners() : 0;
}

}  // namespace

// GTK's notice of a new owner covers every change, SDL's only the loss of
// its own ownership: with GTK there, SDL's would report the same change twice.
int ClipboardUpdated() { return gtk_clipboard::InUse() ? 0 : Updated(); }

int PumpClipboard() { return gtk_clipboard::Pump() ? Updated() : 0; }

// GTK hears of new owners on a connection of its own, which SDL's wait does
// not watch: a notice that arrived while the player slept would wait there
// until some other event woke it. So the wait looks at GTK between slices.
int WaitWatchingClipboard(int timeoutMs) {
    constexpr int kSliceMs = 20;
    const int64_t start = MonotonicNanos();
    for (;;) {
        if (gtk_clipboard::Pump()) return Updated();
        int slice = kSliceMs;
        if (timeoutMs >= 0) {
            const int64_t left = timeoutMs - (MonotonicNanos() - start) / 1'000'000;
            if (left <= 0) return 0;
            slice = static_cast<int>(std::min<int64_t>(slice, left));
        }
        if (SDL_WaitEventTimeout(nullptr, slice)) return 0;
    }
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
// report a clipboard that was filled before the player looked; on X11 it
// starts GTK, whose notices of new owners SDL has no match for.
int WatchClipboardChanges(qbDisplay*) {
    if (S().video) gtk_clipboard::Use();
    if (!S().clipboardSeen) NoteContents();
    return 0;
}

}  // namespace sdl_backend
