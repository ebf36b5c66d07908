// GTK in the player's process: started once, on the first requester, beside
// SDL's own connection to the display; each dialog runs modal over the
// player's window while a timeout keeps that window presented.
#include <SDL_syswm.h>
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include <algorithm>
#include <cstring>

#include "core/chars.h"
#include "core/errors.h"
#include "platform/linux/gtk_dialog.h"
#include "platform/linux/sdl_backend.h"

namespace linux_requesters {

namespace {

using sdl_backend::S;

enum class GtkState { kUntried, kRunning, kFailed };
GtkState gState = GtkState::kUntried;

// How often the player's windows are seen to while a dialog is open.
constexpr guint kPumpMillis = 30;
constexpr guint kHookMillis = 10;

GtkDialogHook& Hook() {
    static GtkDialogHook hook;
    return hook;
}

// GTK on the display server SDL uses, so that the dialog can be made
// transient for the player's window (a Wayland desktop would otherwise give
// GTK Wayland and SDL XWayland).
void PreferSdlBackend() {
    const char* driver = S().video ? SDL_GetCurrentVideoDriver() : nullptr;
    if (!driver) return;
    if (std::strcmp(driver, "x11") == 0) gdk_set_allowed_backends("x11,*");
    if (std::strcmp(driver, "wayland") == 0) gdk_set_allowed_backends("wayland,*");
}

// An expose of a player's window is answered as the pump would; every other
// event stays in SDL's queue for the script.
int TakeExpose(void*, SDL_Event* e) {
    if (e->type != SDL_WINDOWEVENT || e->window.event != SDL_WINDOWEVENT_EXPOSED) return 1;
    if (qbNativeWindow* w = sdl_backend::FindWindowById(e->window.windowID)) {
        sdl_backend::DrawMenuStrip(*w);
        w->dirty.clear();
        w->dirtyAll = true;
    } else if (sdl_backend::Desktop* d = sdl_backend::FindDesktopById(e->window.windowID)) {
        d->dirtyAll = true;
    } else {
        return 1;
    }
    S().anyDirty = true;
    return 0;
}

gboolean PumpPlayerWindows(gpointer) {
    if (S().video) {
        SDL_PumpEvents();
        SDL_FilterEvents(TakeExpose, nullptr);
        sdl_backend::PresentAllPending();
    }
    return G_SOURCE_CONTINUE;
}

struct HookRun {
    GtkWidget* dialog = nullptr;
    guint source = 0;
};

gboolean CallHook(gpointer data) {
    auto* run = static_cast<HookRun*>(data);
    if (!Hook() || !Hook()(run->dialog)) return G_SOURCE_CONTINUE;
    run->source = 0;
    return G_SOURCE_REMOVE;
}

// The window of the display that has the requester open, else the first
// open one.
SDL_Window* ParentWindow() {
    SDL_Window* first = nullptr;
    for (const auto& w : S().windows) {
        if (!w->window) continue;
        if (w->view && w->view->requesterOpen) return w->window;
        if (!first) first = w->window;
    }
    return first;
}

// The parent's GDK window when both sit on the same X server, for the
// transient hint; a new reference, or null.
GdkWindow* ForeignParent(GtkWidget* dialog, SDL_Window* parent) {
#ifdef GDK_WINDOWING_X11
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    GdkDisplay* display = gtk_widget_get_display(dialog);
    if (SDL_GetWindowWMInfo(parent, &info) && info.subsystem == SDL_SYSWM_X11 && GDK_IS_X11_DISPLAY(display))
        return gdk_x11_window_foreign_new_for_display(display, info.info.x11.window);
#else
    (void)dialog;
    (void)parent;
#endif
    return nullptr;
}

}  // namespace

bool StartGtk() {
    if (gState == GtkState::kUntried) {
        PreferSdlBackend();
        // GTK would set the locale from the environment, and a decimal comma
        // in LC_NUMERIC would change how the VM prints and reads numbers.
        gtk_disable_setlocale();
        gState = gtk_init_check(nullptr, nullptr) ? GtkState::kRunning : GtkState::kFailed;
    }
    return gState == GtkState::kRunning;
}

std::string GtkUtf8(const char* latin1) { return Latin1ToUTF8(latin1 ? latin1 : ""); }

bool GtkLatin1(const char* utf8, std::string* out) { return TryUTF8ToLatin1(utf8 ? utf8 : "", *out); }

std::string GtkButtonLabel(int message, const char* fallback) {
    const char* text = GetMessageText(message);
    return GtkUtf8(text && *text ? text : fallback);
}

GtkDialogOwner::~GtkDialogOwner() {
    gtk_widget_destroy(dialog_);
    // The dialog leaves the screen now, not at GTK's next turn, which may
    // be the next requester.
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    gdk_display_flush(gdk_display_get_default());
}

int RunGtkDialog(GtkWidget* dialog) {
    GtkWindow* window = GTK_WINDOW(dialog);
    gtk_window_set_modal(window, TRUE);
    gtk_widget_realize(dialog);
    SDL_Window* parent = ParentWindow();
    GdkWindow* foreign = parent ? ForeignParent(dialog, parent) : nullptr;
    if (foreign) gdk_window_set_transient_for(gtk_widget_get_window(dialog), foreign);
    if (parent) {
        int x = 0, y = 0, width = 0, height = 0;
        SDL_GetWindowPosition(parent, &x, &y);
        SDL_GetWindowSize(parent, &width, &height);
        GtkRequisition size{};
        gtk_widget_get_preferred_size(dialog, nullptr, &size);
        gtk_window_move(window, std::max(0, x + (width - size.width) / 2), std::max(0, y + (height - size.height) / 2));
    } else {
        gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    }
    const guint pump = g_timeout_add(kPumpMillis, PumpPlayerWindows, nullptr);
    HookRun run{dialog, 0};
    if (Hook()) run.source = g_timeout_add(kHookMillis, CallHook, &run);
    const int response = gtk_dialog_run(GTK_DIALOG(dialog));
    g_source_remove(pump);
    if (run.source) g_source_remove(run.source);
    if (foreign) g_object_unref(foreign);
    return response;
}

void SetGtkDialogHook(GtkDialogHook hook) { Hook() = std::move(hook); }

}  // namespace linux_requesters
