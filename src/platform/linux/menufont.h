// The menus' text: the desktop's sans-serif font, found through fontconfig
// and drawn with FreeType into window surfaces. Without a usable font the
// text is measured at a fixed width and not drawn, so menus still work.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <string>

namespace sdl_backend {

// Pixels the ISO 8859-1 text advances.
int MenuTextWidth(const std::string& text);
// Draws the text with its baseline at y, clipped to the rectangle.
void DrawMenuText(SDL_Surface* surface, int x, int baseline, const std::string& text, uint32_t rgb,
                  const SDL_Rect& clip);
// Drops the font; the next use loads it again.
void ReleaseMenuFont();

}  // namespace sdl_backend
