// Opening a menu's popup in a 1920x1080 window under SDL's dummy driver:
// the press on the title that draws the popup (saving the pixels under it),
// and closing it again, which puts them back. The figure to hold is under
// 5 ms for the opening.

#include <SDL.h>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "core/preproc.h"
#include "platform/linux/sdl_backend.h"
#include "platform/platform.h"

namespace {

qbMenuTree MakeTree() {
    qbMenuTree tree(3);
    const char* titles[3] = {"File", "Edit", "View"};
    for (int t = 0; t < 3; ++t) {
        tree[t].name = titles[t];
        tree[t].submenu.resize(20);
        for (int i = 0; i < 20; ++i) {
            tree[t].submenu[i].name = "Item number " + std::to_string(i);
            tree[t].submenu[i].hotkey = i < 9 ? std::string(1, static_cast<char>('A' + i)) : "";
            tree[t].submenu[i].flags = i % 3 == 0 ? 1u : 0u;
        }
    }
    return tree;
}

const qbMenuTree kTree = MakeTree();

void BM_OpenMenuPopup1080(benchmark::State& state) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    SetPlatformBackend(&LinuxPlatformOps());
    if (StartNativeUI() != 0) {
        state.SkipWithError("no video");
        return;
    }
    int token = 0;
    qbDisplay* display = reinterpret_cast<qbDisplay*>(&token);
    qbWindowView view;
    view.x = 0;
    view.y = 0;
    view.width = 1920;
    view.height = 1080;
    view.flags = kWindowBorderless;
    view.menuTree = [](qbDisplay*) -> const std::vector<qbMenuItem>* { return &kTree; };
    if (AllocNativeWindowRec(&view, display) != 0 || CreateNativeWindow(display, 1, nullptr, nullptr) != 0) {
        state.SkipWithError("no window");
        return;
    }
    qbNativeWindow* w = sdl_backend::FindWindow(display);
    SDL_Event press{};
    press.type = SDL_MOUSEBUTTONDOWN;
    press.button.button = SDL_BUTTON_LEFT;
    press.button.x = 10;
    press.button.y = w->strip / 2;
    int error = 0;
    sdl_backend::MenuTakesEvent(*w, press, &error);
    if (w->popups.empty()) state.SkipWithError("the popup did not open");
    sdl_backend::CloseMenus(*w);
    for (auto _ : state) {
        sdl_backend::MenuTakesEvent(*w, press, &error);
        state.PauseTiming();
        sdl_backend::CloseMenus(*w);
        state.ResumeTiming();
    }
    FreeNativeWindowRec(display);
    ShutdownPlatform();
    SetPlatformBackend(nullptr);
}
BENCHMARK(BM_OpenMenuPopup1080)->Unit(benchmark::kMicrosecond);

}  // namespace
