// The sink of native text coverage, installed by the text layer.
#include "platform/nativetext.h"

namespace {
NativeTextSink g_sink = nullptr;
}  // namespace

void SetNativeTextSink(NativeTextSink sink) { g_sink = sink; }
NativeTextSink GetNativeTextSink() { return g_sink; }
