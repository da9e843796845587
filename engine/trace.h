// The error ending of the interpreter loop: the failure made the last error,
// a catch looked for in the frames outward, and the report with the call
// trace when nothing catches.
#pragma once

#include "engine/context.h"

// Once no object overload took the failure over: true when an armed catch
// was found and the program counter now points at its code; false when the
// run ends, after the error and the calls that led to it were printed. An
// interpreter thread that fails is removed, unless the run is nested inside
// one of its instructions.
bool CatchOrReport(EngineContext* ctx, StatusCode code, bool nested);

// The error's text, then one "-> " line per calling frame, innermost first,
// on descriptor 2.
void PrintErrorTrace(EngineContext* ctx, StatusCode code);
