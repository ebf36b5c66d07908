// The GTK requesters on a real X server, in the test's own process: a
// virtual screen started once for the process, and a dialog hook that acts
// on each dialog's widgets and gives its response, so that no outside
// tool's timing decides anything. Skipped where Xvfb is missing.
#if QB_TEST_HAVE_GTK
// Before the X headers, whose macros (None) it would trip over.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <SDL_syswm.h>
#include <X11/Xutil.h>
#include <fontconfig/fontconfig.h>
#include <gdk/gdkx.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/errcodes.h"
#include "core/eventqueue.h"
#include "platform/linux/gtk_dialog.h"
#include "platform/linux/requesters_linux.h"
#include "platform/linux/sdl_backend.h"
#include "platform/platform.h"
#include "platform/requesterrules.h"
#include "xvfb/virtual_screen.h"

extern char** environ;

namespace fs = std::filesystem;
namespace lr = linux_requesters;

namespace {

GtkWidget* FindWidget(GtkWidget* root, GType type) {
    if (G_TYPE_CHECK_INSTANCE_TYPE(root, type)) return root;
    if (!GTK_IS_CONTAINER(root)) return nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(root));
    GtkWidget* found = nullptr;
    for (GList* c = children; c && !found; c = c->next) found = FindWidget(GTK_WIDGET(c->data), type);
    g_list_free(children);
    return found;
}

std::string EntryText(GtkWidget* entry) { return gtk_entry_get_text(GTK_ENTRY(entry)); }

void Type(GtkWidget* entry, const char* text) {
    gint at = gtk_entry_get_text_length(GTK_ENTRY(entry));
    gtk_editable_insert_text(GTK_EDITABLE(entry), text, -1, &at);
}

class GtkDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!VirtualScreen::Get().Ready()) GTEST_SKIP() << "Xvfb is not installed or did not start";
    }
    void TearDown() override { lr::SetGtkDialogHook(nullptr); }

    // The hook answers the next dialogs; one that never answers is
    // cancelled after some seconds and fails the test.
    static void Answer(std::function<bool(GtkWidget*)> act) {
        lr::SetGtkDialogHook([act = std::move(act), calls = 0](GtkWidget* dialog) mutable {
            if (++calls > 1000) {
                ADD_FAILURE() << "the dialog hook never answered";
                gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
                return true;
            }
            return act(dialog);
        });
    }
    static bool Respond(GtkWidget* dialog, int response) {
        gtk_dialog_response(GTK_DIALOG(dialog), response);
        return true;
    }
    // A player's window of the size on the real backend, as a display opens
    // one; null when it could not be made.
    static qbNativeWindow* OpenPlayerWindow(qbDisplay* display, qbWindowView& view, int width, int height) {
        SetPlatformBackend(&LinuxPlatformOps());
        if (InitEventQueue() != 0 || StartNativeUI() != 0) return nullptr;
        view.width = width;
        view.height = height;
        if (AllocNativeWindowRec(&view, display) != 0 || CreateNativeWindow(display, 1, nullptr, nullptr) != 0)
            return nullptr;
        return sdl_backend::FindWindow(display);
    }
    static void ClosePlayerWindows() {
        ShutdownPlatform();
        ClearEventQueue(nullptr);
        SetPlatformBackend(nullptr);
    }
};

TEST_F(GtkDialogTest, StringFieldRefusesAsTypedAndTitlesArriveAsUtf8) {
    Answer([](GtkWidget* dialog) {
        EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(dialog)), "Gr\xC3\xBC\xC3\x9F" "e");
        GtkWidget* entry = FindWidget(dialog, GTK_TYPE_ENTRY);
        EXPECT_TRUE(gtk_entry_get_visibility(GTK_ENTRY(entry)));
        EXPECT_EQ(EntryText(entry), "0");  // "12a" is no number
        gtk_editable_delete_text(GTK_EDITABLE(entry), 0, -1);
        Type(entry, "12");
        Type(entry, "a");
        EXPECT_EQ(EntryText(entry), "12");
        gtk_editable_delete_text(GTK_EDITABLE(entry), 0, -1);
        Type(entry, "1.2");
        Type(entry, ".3");
        EXPECT_EQ(EntryText(entry), "1.2");
        Type(entry, "x5");
        EXPECT_EQ(EntryText(entry), "1.2");
        return Respond(dialog, GTK_RESPONSE_OK);
    });
    char text[kStringResultSize];
    ASSERT_EQ(lr::StringRequesterNative("Gr\xFC\xDF" "e", "How many?", "12a", kStringNumerical, 0, 0, text), 0);
    EXPECT_STREQ(text, "1.2");
}

TEST_F(GtkDialogTest, StringFieldKeepsItsMaximumHidesAPasswordAndCancels) {
    Answer([](GtkWidget* dialog) {
        GtkWidget* entry = FindWidget(dialog, GTK_TYPE_ENTRY);
        EXPECT_FALSE(gtk_entry_get_visibility(GTK_ENTRY(entry)));
        EXPECT_EQ(EntryText(entry), "abc");
        Type(entry, "d");
        Type(entry, "e");
        EXPECT_EQ(EntryText(entry), "abcd");
        return Respond(dialog, GTK_RESPONSE_CANCEL);
    });
    char text[kStringResultSize] = "left over";
    EXPECT_EQ(lr::StringRequesterNative("Secret", "", "abc", 0, 4, 1, text), ERR_USERABORT);
    EXPECT_STREQ(text, "");
}

TEST_F(GtkDialogTest, ListGivesThePreselectedIndexAndMinusOneWithoutASelection) {
    const char items[] = "zero\0one\0two\0three\0";
    Answer([](GtkWidget* dialog) {
        GtkWidget* list = FindWidget(dialog, GTK_TYPE_TREE_VIEW);
        EXPECT_TRUE(gtk_widget_has_focus(list) || gtk_widget_is_focus(list));
        return Respond(dialog, GTK_RESPONSE_OK);
    });
    int index = -5;
    ASSERT_EQ(lr::ListRequesterNative("Pick", "One of them", items, 2, &index), 0);
    EXPECT_EQ(index, 2);
    Answer([](GtkWidget* dialog) {
        gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(GTK_TREE_VIEW(FindWidget(dialog, GTK_TYPE_TREE_VIEW))));
        return Respond(dialog, GTK_RESPONSE_OK);
    });
    ASSERT_EQ(lr::ListRequesterNative("Pick", "", items, 1, &index), 0);
    EXPECT_EQ(index, -1);
}

TEST_F(GtkDialogTest, FileChooserGivesTwoChosenFilesAndProposesTheSaveName) {
    const fs::path dir = fs::temp_directory_path() / ("qb_gtkfiles_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const char* name : {"a.PNG", "b.jpg", "c.gif", ".hidden.png"}) std::ofstream(dir / name) << "x";
    Answer([&dir, step = 0](GtkWidget* dialog) mutable {
        auto* chooser = GTK_FILE_CHOOSER(dialog);
        if (step++ == 0) {
            EXPECT_TRUE(gtk_file_chooser_get_select_multiple(chooser));
            EXPECT_TRUE(gtk_file_chooser_get_show_hidden(chooser));
        }
        // Once the folder has loaded (the chooser then has its first row
        // selected), every file the filter shows is chosen but the hidden one.
        GSList* chosen = gtk_file_chooser_get_filenames(chooser);
        const guint n = g_slist_length(chosen);
        g_slist_free_full(chosen, g_free);
        if (n == 0) return false;
        gtk_file_chooser_select_all(chooser);
        gtk_file_chooser_unselect_filename(chooser, (dir / ".hidden.png").c_str());
        return Respond(dialog, GTK_RESPONSE_ACCEPT);
    });
    qbFileRequestResult result;
    ASSERT_EQ(lr::FileRequesterNative("Files", "png|.jpg", kReqMultiSelect, dir.c_str(), "", &result), 0);
    EXPECT_EQ(result.folder, dir.string() + "/");
    EXPECT_EQ(result.files, std::string("a.PNG\0b.jpg\0", 12));
    EXPECT_EQ(result.count, 2);
    EXPECT_EQ(result.chosen, 1);

    Answer([](GtkWidget* dialog) {
        auto* chooser = GTK_FILE_CHOOSER(dialog);
        EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SAVE);
        EXPECT_FALSE(gtk_file_chooser_get_select_multiple(chooser));
        gchar* name = gtk_file_chooser_get_current_name(chooser);
        EXPECT_STREQ(name, "out.png");
        g_free(name);
        return Respond(dialog, GTK_RESPONSE_ACCEPT);
    });
    ASSERT_EQ(lr::FileRequesterNative("Save", "png", kReqSaveMode, dir.c_str(), "out.png", &result), 0);
    EXPECT_EQ(result.folder, dir.string() + "/");
    EXPECT_EQ(result.files, std::string("out.png\0", 8));
    EXPECT_EQ(result.count, 1);

    Answer([](GtkWidget* dialog) { return Respond(dialog, GTK_RESPONSE_CANCEL); });
    ASSERT_EQ(lr::FileRequesterNative("Files", "", kReqNormal, dir.c_str(), "a.PNG", &result), 0);
    EXPECT_EQ(result.chosen, 0);
    std::optional<std::string> path = "unchanged";
    ASSERT_EQ(lr::PathRequesterNative("Folder", dir.c_str(), &path), 0);
    EXPECT_FALSE(path.has_value());
    Answer([](GtkWidget* dialog) {
        auto* chooser = GTK_FILE_CHOOSER(dialog);
        EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER);
        gchar* folder = gtk_file_chooser_get_filename(chooser);
        const bool loaded = folder != nullptr;
        g_free(folder);
        return loaded && Respond(dialog, GTK_RESPONSE_ACCEPT);
    });
    ASSERT_EQ(lr::PathRequesterNative("Folder", dir.c_str(), &path), 0);
    EXPECT_EQ(path, dir.string());
    fs::remove_all(dir);
}

TEST_F(GtkDialogTest, ColourComesBackUnchangedOrMinusOneWhenCancelled) {
    Answer([](GtkWidget* dialog) { return Respond(dialog, GTK_RESPONSE_OK); });
    int32_t colour = 0;
    ASSERT_EQ(lr::ColorRequesterNative(0x336699, &colour), 0);
    EXPECT_EQ(colour, 0x336699);
    Answer([](GtkWidget* dialog) { return Respond(dialog, GTK_RESPONSE_CANCEL); });
    ASSERT_EQ(lr::ColorRequesterNative(0x336699, &colour), 0);
    EXPECT_EQ(colour, -1);
}

// The family fontconfig's best match for the name has.
std::string FontconfigFamily(const char* name) {
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(name));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcChar8* family = nullptr;
    std::string text;
    if (match && FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch) text = reinterpret_cast<char*>(family);
    if (match) FcPatternDestroy(match);
    FcPatternDestroy(pattern);
    return text;
}

TEST_F(GtkDialogTest, FontStartsAtHelvetica12AndABoldItalicFaceFillsTheRecord) {
    Answer([](GtkWidget* dialog) {
        PangoFontDescription* start = gtk_font_chooser_get_font_desc(GTK_FONT_CHOOSER(dialog));
        EXPECT_NE(start, nullptr);
        if (start) {
            EXPECT_EQ(pango_font_description_get_family(start), FontconfigFamily("Helvetica"));
            EXPECT_EQ(pango_font_description_get_size(start), 12 * PANGO_SCALE);
            pango_font_description_free(start);
        }
        return Respond(dialog, GTK_RESPONSE_CANCEL);
    });
    qbFontRequest font;
    std::snprintf(font.name, sizeof font.name, "kept");
    ASSERT_EQ(lr::FontRequesterNative(nullptr, "", 0, &font), 0);
    EXPECT_STREQ(font.name, "kept");
    Answer([](GtkWidget* dialog) {
        gtk_font_chooser_set_font(GTK_FONT_CHOOSER(dialog), "DejaVu Sans Bold Oblique 14");
        return Respond(dialog, GTK_RESPONSE_OK);
    });
    ASSERT_EQ(lr::FontRequesterNative(nullptr, "Helvetica", 12, &font), 0);
    EXPECT_STREQ(font.name, "DejaVu Sans Bold Oblique");
    EXPECT_EQ(font.size, 14);
    EXPECT_EQ(font.weight, 200);
    EXPECT_EQ(font.slant, 100);
    EXPECT_EQ(font.bold, 1);
    EXPECT_EQ(font.italic, 1);
    EXPECT_EQ(font.underline, 0);
}

// GTK would take the locale from the environment when it starts; a German
// one prints 1.5 as "1,5". (The first requester of the process starts GTK,
// as it does when CTest runs this test alone.)
TEST_F(GtkDialogTest, AGermanLocaleAroundTheFirstRequesterLeavesNumbersPrintedWithAPoint) {
    if (!HaveTool("localedef") || !fs::exists("/usr/share/i18n/locales/de_DE"))
        GTEST_SKIP() << "localedef or the de_DE locale source is missing";
    const fs::path locales = fs::temp_directory_path() / ("qb_locales_" + std::to_string(::getpid()));
    fs::create_directories(locales);
    ASSERT_EQ(std::system(("localedef -i de_DE -f UTF-8 " + (locales / "de_DE.UTF-8").string() + " 2>/dev/null").c_str()),
              0);
    setenv("LOCPATH", locales.c_str(), 1);
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    char printed[32];
    ASSERT_NE(std::setlocale(LC_ALL, ""), nullptr);
    std::snprintf(printed, sizeof printed, "%.14g", 1.5);
    EXPECT_STREQ(printed, "1,5") << "the test's locale has no decimal comma";
    std::setlocale(LC_ALL, "C");

    Answer([](GtkWidget* dialog) { return Respond(dialog, GTK_RESPONSE_CANCEL); });
    int32_t colour = 0;
    ASSERT_EQ(lr::ColorRequesterNative(0, &colour), 0);
    std::snprintf(printed, sizeof printed, "%.14g", 1.5);
    EXPECT_STREQ(printed, "1.5");
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    unsetenv("LC_ALL");
    unsetenv("LOCPATH");
    fs::remove_all(locales);
}

// A player's window, exposed while a dialog is open over it, is presented
// again; the dialog is transient for it.
TEST_F(GtkDialogTest, ThePlayersWindowIsPresentedOnExposeAndTheDialogIsTransientForIt) {
    int displayTag = 0;
    qbWindowView view;
    qbNativeWindow* w = OpenPlayerWindow(reinterpret_cast<qbDisplay*>(&displayTag), view, 320, 200);
    ASSERT_NE(w, nullptr);
    view.requesterOpen = 1;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    ASSERT_TRUE(SDL_GetWindowWMInfo(w->window, &info));
    const Window playerWindow = info.info.x11.window;
    // Whatever opening queued is pumped first.
    int error = 0;
    while (SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT)) PumpNativeEvents(nullptr, &error);
    SDL_Event expose{};
    expose.type = SDL_WINDOWEVENT;
    expose.window.windowID = w->windowId;
    expose.window.event = SDL_WINDOWEVENT_EXPOSED;
    SDL_Event key{};
    key.type = SDL_KEYDOWN;
    key.key.windowID = w->windowId;
    key.key.keysym.sym = SDLK_a;
    ASSERT_EQ(SDL_PushEvent(&expose), 1);
    ASSERT_EQ(SDL_PushEvent(&key), 1);
    const int before = w->presents;
    Window transientFor = 0;
    Answer([&](GtkWidget* dialog) {
        if (w->presents == before) return false;
        XGetTransientForHint(GDK_DISPLAY_XDISPLAY(gtk_widget_get_display(dialog)),
                             GDK_WINDOW_XID(gtk_widget_get_window(dialog)), &transientFor);
        return Respond(dialog, GTK_RESPONSE_CANCEL);
    });
    int32_t colour = 0;
    ASSERT_EQ(lr::ColorRequesterNative(0, &colour), 0);
    EXPECT_GT(w->presents, before);
    EXPECT_EQ(transientFor, playerWindow);
    // The key stays queued for the script.
    EXPECT_EQ(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_KEYDOWN, SDL_KEYDOWN), 1);
    ClosePlayerWindows();
}

// A requester stands centred over the player's window on both axes, never
// past the screen's top left corner, and centred on the screen without a
// window. The dialog is wider than high, so that an axis taken for the
// other shows.
TEST_F(GtkDialogTest, ARequesterIsCentredOverThePlayersWindowOnEachAxis) {
    struct Placed {
        int x = -1, y = -1, width = 0, height = 0;
    };
    // Where the next dialog stands once shown and settled (the same place
    // at three turns running: GTK may place a mapped window a turn later),
    // and its size as it asks.
    auto placed = [&](auto ask) {
        Placed p;
        int same = 0;
        Answer([&p, &same](GtkWidget* dialog) {
            if (!gtk_widget_get_mapped(dialog)) return false;
            int x = -1, y = -1;
            gtk_window_get_position(GTK_WINDOW(dialog), &x, &y);
            same = x == p.x && y == p.y ? same + 1 : 0;
            p.x = x;
            p.y = y;
            if (same < 3) return false;
            GtkRequisition size{};
            gtk_widget_get_preferred_size(dialog, nullptr, &size);
            p.width = size.width;
            p.height = size.height;
            return Respond(dialog, GTK_RESPONSE_CANCEL);
        });
        ask();
        return p;
    };
    auto colour = [] {
        int32_t c = 0;
        EXPECT_EQ(lr::ColorRequesterNative(0, &c), 0);
    };
    const Placed alone = placed(colour);
    ASSERT_NE(alone.width, alone.height);
    EXPECT_NEAR(alone.x, (1024 - alone.width) / 2, 1);
    EXPECT_NEAR(alone.y, (768 - alone.height) / 2, 1);

    int displayTag = 0;
    qbWindowView view;
    qbNativeWindow* w = OpenPlayerWindow(reinterpret_cast<qbDisplay*>(&displayTag), view, 900, 700);
    ASSERT_NE(w, nullptr);
    int error = 0;
    struct Parent {
        int x, y, width, height;
    };
    for (const Parent& parent : {Parent{70, 30, 900, 700}, Parent{5, 9, 120, 80}}) {
        SCOPED_TRACE(parent.width);
        SDL_SetWindowSize(w->window, parent.width, parent.height);
        SDL_SetWindowPosition(w->window, parent.x, parent.y);
        while (SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT)) PumpNativeEvents(nullptr, &error);
        // The place and size the player's window has as SDL tells them.
        Parent now{};
        SDL_GetWindowPosition(w->window, &now.x, &now.y);
        SDL_GetWindowSize(w->window, &now.width, &now.height);
        const Placed p = placed(colour);
        EXPECT_EQ(p.x, std::max(0, now.x + (now.width - p.width) / 2));
        EXPECT_EQ(p.y, std::max(0, now.y + (now.height - p.height) / 2));
    }
    ClosePlayerWindows();
}

}  // namespace
#endif
