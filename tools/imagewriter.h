// Test support: saves a live engine context as an EngineStateImage, in
// exactly the form LoadEngineState reads, so tests and fuzz seeds can carry
// compiled code and running frames into another block.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/engine.h"

// Hands the image of ctx to sink in the reads LoadEngineState makes: the
// header, then each non-empty section whole.
using StateChunkSink = void (*)(const void* bytes, int64_t count, void* data);
void SaveEngineState(EngineContext* ctx, StateChunkSink sink, void* data);
// Appends the image of ctx to *image. The context itself is left as it was:
// the writer works on a copy (with the main thread's registers in place when
// another thread is running).
void SaveEngineState(EngineContext* ctx, std::vector<uint8_t>* image);
