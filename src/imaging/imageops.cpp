// Image operations: no scratch buffers exist yet.
#include "imaging/imageops.h"

void FreeImageOpsBuffers() {}
