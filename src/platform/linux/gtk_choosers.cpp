// The file, path, colour and font requesters on GTK's own choosers.
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "core/chars.h"
#include "core/errcodes.h"
#include "platform/linux/gtk_dialog.h"
#include "platform/linux/requesters_linux.h"
#include "platform/requesterrules.h"

namespace linux_requesters {

namespace {

constexpr int kWeightBold = 200;
constexpr int kWeightNormal = 80;
constexpr int kSlantItalic = 100;

using GText = std::unique_ptr<char, GFree>;

struct PatternFilter {
    std::vector<std::string> suffixes;
};

// Folders need no rule here: the chooser lists them whatever its filter.
gboolean PatternShows(const GtkFileFilterInfo* info, gpointer data) {
    if (!info->display_name) return FALSE;
    const auto* filter = static_cast<const PatternFilter*>(data);
    return FilePatternShows(filter->suffixes, UTF8ToLatin1(info->display_name), false) ? TRUE : FALSE;
}

// The folder of a Latin-1 path as the file system names it, "" for none.
std::string NativeFolder(const char* folder) {
    if (!folder || !*folder) return "";
    return MakeNativePath(GtkUtf8(folder).c_str());
}

GtkWidget* NewChooser(const char* title, GtkFileChooserAction action, const char* accept) {
    const std::string utf8Title = GtkUtf8(title);
    return gtk_file_chooser_dialog_new(utf8Title.c_str(), nullptr, action, "_Cancel", GTK_RESPONSE_CANCEL, accept,
                                       GTK_RESPONSE_ACCEPT, nullptr);
}

// The chosen names in ISO 8859-1; false when one has no such spelling.
bool ChosenPaths(GtkFileChooser* chooser, std::vector<std::string>* out) {
    GSList* names = gtk_file_chooser_get_filenames(chooser);
    bool ok = true;
    for (GSList* n = names; n; n = n->next) {
        std::string latin1;
        if (!GtkLatin1(static_cast<const char*>(n->data), &latin1)) ok = false;
        out->push_back(std::move(latin1));
    }
    g_slist_free_full(names, g_free);
    return ok;
}

// The family that fontconfig gives the description, so that an alias such
// as Helvetica starts the chooser at a family it lists; "" for none.
std::string MatchedFamily(GtkWidget* widget, const PangoFontDescription* desc) {
    PangoFont* font = pango_context_load_font(gtk_widget_get_pango_context(widget), desc);
    if (!font) return "";
    PangoFontDescription* matched = pango_font_describe(font);
    const char* family = pango_font_description_get_family(matched);
    std::string result = family ? family : "";
    pango_font_description_free(matched);
    g_object_unref(font);
    return result;
}

}  // namespace

GtkFileFilter* NewPatternFilter(const char* pattern) {
    std::vector<std::string> suffixes = FilePatternSuffixes(pattern);
    if (suffixes.empty()) return nullptr;
    GtkFileFilter* filter = gtk_file_filter_new();
    g_object_ref_sink(filter);
    std::string name;
    for (const std::string& s : suffixes) name += (name.empty() ? "*" : " *") + GtkUtf8(s.c_str());
    gtk_file_filter_set_name(filter, name.c_str());
    // The filter owns its suffixes from here on.
    auto data = std::make_unique<PatternFilter>(PatternFilter{std::move(suffixes)});
    gtk_file_filter_add_custom(
        filter, GTK_FILE_FILTER_DISPLAY_NAME, PatternShows, data.release(), [](gpointer p) { std::unique_ptr<PatternFilter>(static_cast<PatternFilter*>(p)); });
    return filter;
}

int GtkFileRequester(const char* title, const char* pattern, int mode, const char* initialFolder,
                     const char* initialFile, qbFileRequestResult* outResult) {
    *outResult = qbFileRequestResult{};
    if (!StartGtk()) return kGtkUnavailable;
    const bool save = mode == kReqSaveMode;
    GtkDialogOwner dialog(NewChooser(title, save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN,
                                     save ? "_Save" : "_Open"));
    auto* chooser = GTK_FILE_CHOOSER(dialog.get());
    gtk_file_chooser_set_show_hidden(chooser, TRUE);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_file_chooser_set_select_multiple(chooser, mode == kReqMultiSelect);
    if (save) gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    if (GtkFileFilter* filter = NewPatternFilter(pattern)) {
        gtk_file_chooser_add_filter(chooser, filter);
        g_object_unref(filter);
    }
    const std::string folder = NativeFolder(initialFolder);
    const std::string file = GtkUtf8(initialFile);
    if (!folder.empty()) gtk_file_chooser_set_current_folder(chooser, folder.c_str());
    if (!file.empty()) {
        if (save) {
            gtk_file_chooser_set_current_name(chooser, file.c_str());
        } else {
            GText cwd(g_get_current_dir());
            const std::string base = folder.empty() ? std::string(cwd.get()) : folder;
            GText path(g_build_filename(base.c_str(), file.c_str(), nullptr));
            gtk_file_chooser_select_filename(chooser, path.get());
        }
    }
    if (RunGtkDialog(dialog.get()) != GTK_RESPONSE_ACCEPT) return 0;
    std::vector<std::string> paths;
    if (!ChosenPaths(chooser, &paths)) return ERR_WINDOW;
    // A save names one path; an open in one file mode takes the first.
    if (mode != kReqMultiSelect && paths.size() > 1) paths.resize(1);
    FillFileResult(paths, outResult);
    return 0;
}

int GtkPathRequester(const char* title, const char* initialFolder, std::optional<std::string>* outPath) {
    outPath->reset();
    if (!StartGtk()) return kGtkUnavailable;
    GtkDialogOwner dialog(NewChooser(title, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Select"));
    auto* chooser = GTK_FILE_CHOOSER(dialog.get());
    gtk_file_chooser_set_show_hidden(chooser, TRUE);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    const std::string folder = NativeFolder(initialFolder);
    if (!folder.empty()) gtk_file_chooser_set_current_folder(chooser, folder.c_str());
    if (RunGtkDialog(dialog.get()) != GTK_RESPONSE_ACCEPT) return 0;
    GText chosen(gtk_file_chooser_get_filename(chooser));
    if (!chosen) return 0;
    std::string latin1;
    if (!GtkLatin1(chosen.get(), &latin1)) return ERR_WINDOW;
    *outPath = std::move(latin1);
    return 0;
}

int GtkColorRequester(int32_t initial, int32_t* outColour) {
    *outColour = -1;
    if (!StartGtk()) return kGtkUnavailable;
    GtkDialogOwner dialog(gtk_color_chooser_dialog_new(nullptr, nullptr));
    auto* chooser = GTK_COLOR_CHOOSER(dialog.get());
    gtk_color_chooser_set_use_alpha(chooser, FALSE);
    const int32_t start = initial < 0 ? 0 : initial & 0xFFFFFF;
    const GdkRGBA rgba{((start >> 16) & 0xFF) / 255.0, ((start >> 8) & 0xFF) / 255.0, (start & 0xFF) / 255.0, 1.0};
    gtk_color_chooser_set_rgba(chooser, &rgba);
    if (RunGtkDialog(dialog.get()) != GTK_RESPONSE_OK) return 0;
    GdkRGBA chosen{};
    gtk_color_chooser_get_rgba(chooser, &chosen);
    auto byte = [](double c) { return static_cast<int>(std::lround(c * 255.0)); };
    *outColour = ColourFromRGB(byte(chosen.red), byte(chosen.green), byte(chosen.blue));
    return 0;
}

int GtkFontRequester(const char* initialName, int initialSize, qbFontRequest* outFont) {
    if (!StartGtk()) return kGtkUnavailable;
    std::string name;
    int size = 0;
    FontRequestDefaults(initialName, initialSize, &name, &size);
    GtkDialogOwner dialog(gtk_font_chooser_dialog_new(nullptr, nullptr));
    auto* chooser = GTK_FONT_CHOOSER(dialog.get());
    PangoFontDescription* start = pango_font_description_new();
    pango_font_description_set_family(start, GtkUtf8(name.c_str()).c_str());
    if (size > 0) pango_font_description_set_size(start, size * PANGO_SCALE);
    const std::string family = MatchedFamily(dialog.get(), start);
    if (!family.empty()) pango_font_description_set_family(start, family.c_str());
    gtk_font_chooser_set_font_desc(chooser, start);
    pango_font_description_free(start);
    // A cancel leaves the caller's record as it was.
    if (RunGtkDialog(dialog.get()) != GTK_RESPONSE_OK) return 0;
    PangoFontDescription* chosen = gtk_font_chooser_get_font_desc(chooser);
    if (!chosen) return 0;
    const int points = (pango_font_description_get_size(chosen) + PANGO_SCALE / 2) / PANGO_SCALE;
    const bool bold = pango_font_description_get_weight(chosen) >= PANGO_WEIGHT_SEMIBOLD;
    const bool italic = pango_font_description_get_style(chosen) != PANGO_STYLE_NORMAL;
    // The full name: family and face, as the description spells them.
    pango_font_description_unset_fields(chosen, PANGO_FONT_MASK_SIZE);
    GText full(pango_font_description_to_string(chosen));
    pango_font_description_free(chosen);
    std::string latin1;
    if (!GtkLatin1(full.get(), &latin1)) return ERR_WINDOW;
    FillFontRecord(latin1, points, outFont);
    outFont->weight = bold ? kWeightBold : kWeightNormal;
    outFont->slant = italic ? kSlantItalic : 0;
    outFont->bold = bold ? 1 : 0;
    outFont->italic = italic ? 1 : 0;
    return 0;
}

}  // namespace linux_requesters
