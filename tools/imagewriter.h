// Test support: saves a live engine context as an EngineStateImage, in
// exactly the form LoadEngineState reads, so tests and fuzz seeds can carry
// compiled code and running frames into another block.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/engine.h"

// Appends the image of ctx to *image. The context itself is left as it was:
// the writer works on a copy (with the main thread's registers in place when
// another thread is running).
void SaveEngineState(EngineContext* ctx, std::vector<uint8_t>* image);
