// The desktop's clipboard through GTK, where the player shows its windows on
// an X server and GTK can start there: text, pictures and any other target,
// and the notices of each new owner. Text and pictures in one place keep one
// owner in the process: SDL's X11 clipboard, asked for text while GTK in the
// same process holds the selection, waits for an answer that cannot come and
// then empties the clipboard.
#pragma once

#include <string>

#include "platform/clipimage.h"

namespace gtk_clipboard {

// Starts GTK for the clipboard on the first call that finds SDL on X11;
// false without GTK, on other drivers and when GTK cannot start.
bool Use();
// True once Use() has succeeded, without starting anything.
bool InUse();

// What the clipboard holds: EMPTY, TEXT (with its UTF-8 text), IMAGE or
// UNKNOWN. The picture is decoded only when one is asked for; 0 or
// ERR_CLIPREAD.
int Read(int* outType, std::string* outUtf8, ClipboardPicture* outPicture);
// 0 or ERR_CLIPWRITE.
int WriteText(const std::string& utf8);
int WritePicture(const ClipboardPicture& picture);
int Clear();

// Runs what GTK has waiting; true when the desktop reported a new owner of
// the clipboard since the last call.
bool Pump();

}  // namespace gtk_clipboard
