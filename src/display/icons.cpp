// Icons: applets carry no icon block that is read yet.
#include "display/icons.h"

int LoadIconImages(int) { return 0; }

void FreeIconPaths() {}
