#include <SDL.h>
#include <gtk/gtk.h>

#include <cstring>
#include <memory>

#include "core/errcodes.h"
#include "platform/linux/clipboard_gtk.h"
#include "platform/linux/gtk_dialog.h"
#include "platform/linux/sdl_backend.h"

namespace gtk_clipboard {

namespace {

bool gWatching = false;
bool gOwnerChanged = false;
// GTK's work is short; a source that is ready at every turn must not keep
// the pump from returning.
constexpr int kMaxIterations = 64;

// GTK sits on the X server SDL uses; under any other driver the two would
// see different clipboards.
bool OnX11() {
    const char* driver = sdl_backend::S().video ? SDL_GetCurrentVideoDriver() : nullptr;
    return driver && std::strcmp(driver, "x11") == 0;
}

GtkClipboard* Board() { return gtk_clipboard_get(GDK_SELECTION_CLIPBOARD); }

void OnOwnerChange(GtkClipboard*, GdkEvent*, gpointer) { gOwnerChanged = true; }

using linux_requesters::GFree;

struct Unref {
    void operator()(void* p) const { g_object_unref(p); }
};

// The targets every owner answers about itself; a clipboard offering only
// these holds nothing.
bool IsMetaTarget(GdkAtom target) {
    const std::unique_ptr<gchar, GFree> name(gdk_atom_name(target));
    if (!name) return true;
    for (const char* meta : {"TARGETS", "TIMESTAMP", "MULTIPLE", "SAVE_TARGETS", "DELETE", "INSERT_PROPERTY",
                             "INSERT_SELECTION"})
        if (std::strcmp(name.get(), meta) == 0) return true;
    return false;
}

bool PixbufToPicture(GdkPixbuf* pixbuf, ClipboardPicture* out) {
    if (gdk_pixbuf_get_colorspace(pixbuf) != GDK_COLORSPACE_RGB || gdk_pixbuf_get_bits_per_sample(pixbuf) != 8)
        return false;
    const int width = gdk_pixbuf_get_width(pixbuf);
    const int height = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    if (width <= 0 || height <= 0 || channels < (alpha ? 4 : 3)) return false;
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf);
    out->width = width;
    out->height = height;
    out->hasAlpha = alpha;
    out->argb.resize(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y) {
        const guchar* p = pixels + size_t(y) * size_t(stride);
        for (int x = 0; x < width; ++x, p += channels) {
            const uint32_t a = alpha ? p[3] : 255;
            out->argb[size_t(y) * size_t(width) + size_t(x)] = (a << 24) | (uint32_t{p[0]} << 16) |
                                                                (uint32_t{p[1]} << 8) | p[2];
        }
    }
    return true;
}

// Nothing to hand out: the clipboard is taken with no targets at all.
void NoData(GtkClipboard*, GtkSelectionData*, guint, gpointer) {}

}  // namespace

bool Use() {
    if (!OnX11() || !linux_requesters::StartGtk()) return false;
    if (!gWatching) g_signal_connect(Board(), "owner-change", G_CALLBACK(OnOwnerChange), nullptr);
    gWatching = true;
    return true;
}

bool InUse() { return gWatching && OnX11(); }

int Read(int* outType, std::string* outUtf8, ClipboardPicture* outPicture) {
    *outType = kClipboardEmpty;
    outUtf8->clear();
    GdkAtom* raw = nullptr;
    gint count = 0;
    // No owner, or one that does not say what it has: nothing to read.
    if (!gtk_clipboard_wait_for_targets(Board(), &raw, &count)) return 0;
    const std::unique_ptr<GdkAtom, GFree> targets(raw);
    if (gtk_targets_include_text(targets.get(), count)) {
        const std::unique_ptr<gchar, GFree> text(gtk_clipboard_wait_for_text(Board()));
        if (text && *text) {
            *outType = kClipboardText;
            *outUtf8 = text.get();
            return 0;
        }
    }
    if (gtk_targets_include_image(targets.get(), count, FALSE)) {
        *outType = kClipboardImage;
        if (!outPicture) return 0;
        const std::unique_ptr<GdkPixbuf, Unref> pixbuf(gtk_clipboard_wait_for_image(Board()));
        return pixbuf && PixbufToPicture(pixbuf.get(), outPicture) ? 0 : ERR_CLIPREAD;
    }
    for (gint i = 0; i < count; ++i)
        if (!IsMetaTarget(targets.get()[i])) *outType = kClipboardUnknown;
    return 0;
}

int WriteText(const std::string& utf8) {
    gtk_clipboard_set_text(Board(), utf8.c_str(), static_cast<gint>(utf8.size()));
    return 0;
}

// GTK offers the picture as PNG (image/png) and in every other format its
// pixbuf savers know, encoding on request.
int WritePicture(const ClipboardPicture& picture) {
    const std::unique_ptr<GdkPixbuf, Unref> pixbuf(
        gdk_pixbuf_new(GDK_COLORSPACE_RGB, picture.hasAlpha, 8, picture.width, picture.height));
    if (!pixbuf) return ERR_MEM;
    const int channels = gdk_pixbuf_get_n_channels(pixbuf.get());
    const int stride = gdk_pixbuf_get_rowstride(pixbuf.get());
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf.get());
    for (int y = 0; y < picture.height; ++y) {
        guchar* p = pixels + size_t(y) * size_t(stride);
        for (int x = 0; x < picture.width; ++x, p += channels) {
            const uint32_t c = picture.argb[size_t(y) * size_t(picture.width) + size_t(x)];
            p[0] = static_cast<guchar>(c >> 16);
            p[1] = static_cast<guchar>(c >> 8);
            p[2] = static_cast<guchar>(c);
            if (picture.hasAlpha) p[3] = static_cast<guchar>(c >> 24);
        }
    }
    gtk_clipboard_set_image(Board(), pixbuf.get());
    return 0;
}

int Clear() {
    static const GtkTargetEntry kNone{};
    return gtk_clipboard_set_with_data(Board(), &kNone, 0, NoData, nullptr, nullptr) ? 0 : ERR_CLIPWRITE;
}

bool Pump() {
    if (!InUse()) return false;
    for (int i = 0; i < kMaxIterations && g_main_context_pending(nullptr); ++i) g_main_context_iteration(nullptr, FALSE);
    const bool changed = gOwnerChanged;
    gOwnerChanged = false;
    return changed;
}

}  // namespace gtk_clipboard
