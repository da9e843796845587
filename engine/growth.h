// Growth of the block under a running command (the host's side is
// SetBlockGrowthCallback in engine.h).
#pragma once

#include <cstdint>

#include "engine/engine.h"

// The failures a larger block can mend: the regions, the compiler's room and
// the function table.
bool IsGrowableRoomCode(StatusCode st);

// Offers a failure for room to the host. kGrown only when the regions did
// grow: the caller then repeats the operation from where it began.
BlockGrowth OfferBlockGrowth(EngineContext* ctx, StatusCode st);

// After kOutOfMemory: status 8 raised with the bytes asked for; st itself
// when the size is not known (a stack too deep tells more as it is).
[[nodiscard]] StatusCode RaiseOutOfMemory(EngineContext* ctx, StatusCode st);
