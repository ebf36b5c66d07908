// The string and list requesters as GTK dialogs: the body text above an
// entry or a list, Cancel left of OK, OK the default.
#include <cstring>
#include <vector>

#include "core/errcodes.h"
#include "core/errors.h"
#include "platform/linux/gtk_dialog.h"
#include "platform/linux/requesters_linux.h"
#include "platform/requesterrules.h"

namespace linux_requesters {

namespace {

constexpr int kMargin = 20;
constexpr int kGap = 10;
constexpr int kBodyMinWidth = 320;
constexpr int kListHeight = 200;

struct FieldRules {
    int type = 0;
    int maxLength = 0;
};

// Every typed or pasted change passes here before it reaches the text.
void RefuseInsert(GtkEditable* editable, const gchar* text, gint length, gint* position, gpointer data) {
    const auto* rules = static_cast<const FieldRules*>(data);
    const std::string_view inserted(text, length < 0 ? std::strlen(text) : static_cast<size_t>(length));
    if (!StringFieldTakesInsert(gtk_entry_get_text(GTK_ENTRY(editable)), *position, inserted, rules->type,
                                rules->maxLength))
        g_signal_stop_emission_by_name(editable, "insert-text");
}

// A dialog with Cancel and OK and the body text; its content box, laid out
// top to bottom with the margins, comes back in *box.
GtkWidget* NewTextDialog(const char* title, const char* body, GtkWidget** box) {
    const std::string utf8Title = GtkUtf8(title);
    const std::string cancel = GtkButtonLabel(MSG_CANCEL, "Cancel"), ok = GtkButtonLabel(MSG_OK, "OK");
    GtkWidget* dialog = gtk_dialog_new_with_buttons(utf8Title.c_str(), nullptr, GTK_DIALOG_MODAL, cancel.c_str(),
                                                    GTK_RESPONSE_CANCEL, ok.c_str(), GTK_RESPONSE_OK, nullptr);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_window_set_deletable(GTK_WINDOW(dialog), FALSE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, kGap);
    gtk_container_set_border_width(GTK_CONTAINER(*box), kMargin);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), *box, TRUE, TRUE, 0);
    const std::string utf8Body = GtkUtf8(body);
    GtkWidget* label = gtk_label_new(utf8Body.c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_widget_set_size_request(label, kBodyMinWidth, -1);
    gtk_box_pack_start(GTK_BOX(*box), label, FALSE, FALSE, 0);
    return dialog;
}

}  // namespace

int GtkStringRequester(const char* title, const char* body, const char* defaultText, int type, int maxLength,
                       int password, char* outText) {
    CopyStringResult("", outText);
    if (!StartGtk()) return kGtkUnavailable;
    GtkWidget* box = nullptr;
    GtkDialogOwner dialog(NewTextDialog(title, body, &box));
    GtkWidget* entry = gtk_entry_new();
    const std::string start = GtkUtf8(StringFieldDefault(defaultText, type, maxLength).c_str());
    gtk_entry_set_text(GTK_ENTRY(entry), start.c_str());
    gtk_entry_set_visibility(GTK_ENTRY(entry), password ? FALSE : TRUE);
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    FieldRules rules{type, maxLength};
    g_signal_connect(entry, "insert-text", G_CALLBACK(RefuseInsert), &rules);
    gtk_box_pack_start(GTK_BOX(box), entry, FALSE, FALSE, 0);
    gtk_widget_show_all(box);
    gtk_widget_grab_focus(entry);
    if (RunGtkDialog(dialog.get()) != GTK_RESPONSE_OK) return ERR_USERABORT;
    std::string text;
    if (!GtkLatin1(gtk_entry_get_text(GTK_ENTRY(entry)), &text)) return ERR_WINDOW;
    CopyStringResult(text, outText);
    return 0;
}

int GtkListRequester(const char* title, const char* body, const char* items, int selected, int* outIndex) {
    *outIndex = -1;
    if (!StartGtk()) return kGtkUnavailable;
    GtkWidget* box = nullptr;
    GtkDialogOwner dialog(NewTextDialog(title, body, &box));
    GtkListStore* store = gtk_list_store_new(1, G_TYPE_STRING);
    int count = 0;
    for (const char* p = items; p && *p; p += std::strlen(p) + 1, ++count)
        gtk_list_store_insert_with_values(store, nullptr, -1, 0, GtkUtf8(p).c_str(), -1);
    GtkWidget* list = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
    g_object_unref(store);
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(list), FALSE);
    gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(list), -1, "", gtk_cell_renderer_text_new(), "text", 0,
                                                nullptr);
    GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(list));
    gtk_tree_selection_set_mode(selection, GTK_SELECTION_SINGLE);
    if (selected >= 0 && selected < count) {
        GtkTreePath* path = gtk_tree_path_new_from_indices(selected, -1);
        gtk_tree_selection_select_path(selection, path);
        gtk_tree_view_set_cursor(GTK_TREE_VIEW(list), path, nullptr, FALSE);
        gtk_tree_path_free(path);
    } else {
        gtk_tree_selection_unselect_all(selection);
    }
    // A double click or Return on a row chooses it.
    g_signal_connect_swapped(list, "row-activated", G_CALLBACK(+[](GtkDialog* d) {
                                 gtk_dialog_response(d, GTK_RESPONSE_OK);
                             }),
                             dialog.get());
    GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
    gtk_widget_set_size_request(scroller, -1, kListHeight);
    gtk_container_add(GTK_CONTAINER(scroller), list);
    gtk_box_pack_start(GTK_BOX(box), scroller, TRUE, TRUE, 0);
    gtk_widget_show_all(box);
    gtk_widget_grab_focus(list);
    if (RunGtkDialog(dialog.get()) != GTK_RESPONSE_OK) return 0;
    GtkTreeIter iter;
    GtkTreeModel* model = nullptr;
    if (!gtk_tree_selection_get_selected(selection, &model, &iter)) return 0;
    GtkTreePath* path = gtk_tree_model_get_path(model, &iter);
    *outIndex = gtk_tree_path_get_indices(path)[0];
    gtk_tree_path_free(path);
    return 0;
}

}  // namespace linux_requesters
