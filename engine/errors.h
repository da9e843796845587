// The error state inside the engine: where an error happened, the records of
// the last error, the message tables' look-up, and the builtins of the error
// family. Natives raise and clear errors through engine.h.
#pragma once

#include "engine/engine.h"

void SetErrorLocation(EngineContext* ctx, StatusCode code, int32_t position);
int32_t GetErrorLocationText(EngineContext* ctx, char* buffer, int size, char* name, int nameSize);
const ErrorRecord* FindErrorRecord(EngineContext* ctx, StatusCode code, bool detail);

// Stores the current error's text (the code's plain message without text);
// *stored receives its length.
[[nodiscard]] StatusCode StoreLastErrorMessage(EngineContext* ctx, StatusCode code, const char* text, int64_t length,
                                               bool withLocation, int64_t* stored);
void MoveErrorToLastError(EngineContext* ctx);
// Holds any text GetLastErrorText composes, with its NUL: a table message,
// its location and the failing operation's name, none of them cut.
constexpr int kErrorTextBytes = 382;
void GetLastErrorText(EngineContext* ctx, StatusCode code, bool raise, char* buffer, int64_t size, int64_t* length);

[[nodiscard]] StatusCode PushErrorIdentifier(EngineContext* ctx, StatusCode code);

// Builtins: error and warning (opcodes 323, 324), rethrow (325), lasterr and
// lasterror (326, 327: the same handler with (1, true)).
[[nodiscard]] StatusCode ErrorBuiltin(EngineContext* ctx, int nargin, bool warning);
[[nodiscard]] StatusCode RethrowBuiltin(EngineContext* ctx);
[[nodiscard]] StatusCode LastErrorBuiltin(EngineContext* ctx, int nargout, bool asStruct);

// The name of a function-store entry: a function's or variable's name,
// "(base)" for a library entry's base, "(none)" for a negative entry.
void GetFunctionNameByIndex(EngineContext* ctx, int32_t entry, const char** text, int* length);
