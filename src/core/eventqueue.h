// The queue of input events between the platform and the event dispatcher.
#pragma once

// Frees the queue's mutex and the second runtime mutex at the very end.
void FreeEventQueueMutex();
