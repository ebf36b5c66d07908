// Scratch buffers shared by the image operations.
#pragma once

struct ScriptState;

void FreeImageOpsBuffers();
