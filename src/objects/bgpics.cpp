// BGPics: none can be created yet.
#include "objects/bgpics.h"

void FreeAllBGPics(ScriptState*) {}

qbBGPic* GetCurrentBGPic() { return nullptr; }
