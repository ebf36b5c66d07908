// What every GTK requester shares: GTK started once in the player's process,
// texts between ISO 8859-1 and UTF-8, and the running of one modal dialog
// over the player's window while its windows stay presented.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

namespace linux_requesters {

// Frees what GLib allocated (names, texts, target lists) for unique_ptr.
struct GFree {
    void operator()(void* p) const { g_free(p); }
};

// Starts GTK on the first call, keeping the C locale that the VM reads and
// prints numbers in; false, then and ever after, when it cannot start.
bool StartGtk();

std::string GtkUtf8(const char* latin1);
// False when the text holds a character that ISO 8859-1 has not.
bool GtkLatin1(const char* utf8, std::string* out);
// A button label from the message table, in UTF-8.
std::string GtkButtonLabel(int message, const char* fallback);

// Owns a dialog from its creation: destroyed, and gone from the screen,
// when the requester returns.
class GtkDialogOwner {
public:
    explicit GtkDialogOwner(GtkWidget* dialog) : dialog_(dialog) {}
    ~GtkDialogOwner();
    GtkDialogOwner(const GtkDialogOwner&) = delete;
    GtkDialogOwner& operator=(const GtkDialogOwner&) = delete;
    GtkWidget* get() const { return dialog_; }

private:
    GtkWidget* dialog_;
};

// Shows the dialog modal, transient for and centred on the player's window
// that has the requester open, and waits for its response. Meanwhile the
// player's windows are presented again when exposed; their other events
// stay queued for the script.
int RunGtkDialog(GtkWidget* dialog);

// Tests answer the dialogs in the process: while a hook is set, it is called
// with each dialog every few milliseconds until it returns true, having
// emitted the dialog's response itself.
using GtkDialogHook = std::function<bool(GtkWidget* dialog)>;
void SetGtkDialogHook(GtkDialogHook hook);

// The filter of a file pattern (a new reference), or null for a pattern that
// shows every file.
GtkFileFilter* NewPatternFilter(const char* pattern);

}  // namespace linux_requesters
