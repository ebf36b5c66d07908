// The event queue: nothing posts events yet.
#include "core/eventqueue.h"

void FreeEventQueueMutex() {}
