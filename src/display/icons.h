// Loading the icon pictures of the applet's icon slots.
#pragma once

#include "core/iconlist.h"

// Loads the picture of every slot that has a source through the picture
// loaders, in slot order, into the process-wide icon list (which it
// replaces); pictures without alpha become opaque. Prints "Loading icon"
// lines when verbose. 0, ERR_ICONDIMS (a picture of another size than its
// slot, the slot's "WxH" as the error detail) or the loader's error; the
// list is empty after an error.
int LoadIconImages(int verbose);
