// Run-time name resolution, internal face: which user function, native or
// builtin a name means from a calling library, and the lookups by interned
// name that the virtual machine's call instructions use on their hot path.
#pragma once

#include "engine/bytecode.h"
#include "engine/context.h"

// Names of functions are at most this long; a longer one names nothing.
constexpr int kMaxFunctionName = 32;

// The entry of the user function `name` (with `qualifier`, length 0 for none,
// negative for any) seen from `library`: its own functions (private ones
// too), then with useList the public functions of the libraries it uses, the
// most recently used first, and last those of the base library. -1 when
// there is none. *qualifierOut (may be null) gets the entry's qualifier.
int32_t FindUserFunction(EngineContext* ctx, const char* name, int nameLength, const char* qualifier,
                         int qualifierLength, int32_t library, bool useList, SymbolId* qualifierOut);

// The same with interned names; anyQualifier ignores `qualifier`.
int32_t FindUserFunctionBySymbol(EngineContext* ctx, SymbolId name, SymbolId qualifier, bool anyQualifier,
                                 int32_t library, bool useList, SymbolId* qualifierOut);

// "name" or "qualifier::name" (up to length bytes or a NUL) with the use
// list: the entry, -1, or 107 when a ':' is not followed by a second ':'.
int32_t FindUserFunctionByName(EngineContext* ctx, const char* text, int length, int32_t library);

// The run-time resolution of a call with the top nargin values as arguments:
// methods of the first object argument's class and of its parents, user
// functions, natives (methods of the first native-object argument, else plain
// ones), builtins. A null out pointer for the entry, the native or the
// builtin skips that kind. 0, or 121, 186, 187 raised with the name; a
// builtin whose counts do not fit answers 186 or 187 without a message; 3
// when the walk through parent parts finds no scratch room.
[[nodiscard]] StatusCode ResolveFunctionWithOverloading(EngineContext* ctx, const char* name, int length,
                                                        int32_t library, int32_t nargin, int32_t nargout,
                                                        int32_t* entry, SymbolId* cls,
                                                        const NativeFunctionRecord** native, int32_t* opcode,
                                                        const BuiltinRecord** builtin);

// Pushes user function `entry`'s frame (compiling it first when it has no
// code) and points the program counter at its first instruction; link ties
// the frame to the running code's position.
[[nodiscard]] StatusCode EnterUserFunction(EngineContext* ctx, int32_t entry, SymbolId cls, int32_t nargin,
                                           int32_t nargout, bool link, bool reentry);

// CallFunctionByName with a re-entry mark for the new frame: when it
// returns, the native that asked for the call runs again.
[[nodiscard]] StatusCode CallFunctionByNameForNative(EngineContext* ctx, const char* name, int32_t length,
                                                     int32_t library, int32_t nargin, int32_t nargout, bool userOnly,
                                                     bool skipUser, bool linkToCaller, bool reentry);

// CallFunctionByName for an interned name: the call instructions hold the
// name as a function-store entry's SymbolId and need no text lookup.
[[nodiscard]] StatusCode CallFunctionBySymbol(EngineContext* ctx, SymbolId name, int32_t library, int32_t nargin,
                                              int32_t nargout, bool userOnly, bool skipUser, bool linkToCaller);

// Builtin exist(name [, kind]): the inputs are replaced by a logical scalar.
[[nodiscard]] StatusCode ExistBuiltin(EngineContext* ctx, int nargin);
// Its instruction {278; nargin} in the virtual machine's handler form.
[[nodiscard]] StatusCode OpExist(EngineContext* ctx, const int16_t* ins);

// The name after the '@' or '!' of the header that precedes the record in
// its library, or null.
const char* GetNativeLibraryName(EngineContext* ctx, const NativeFunctionRecord* record);

// Input and output counts of the function named or held by the value at
// `position` (qualifier: a class SymbolId or 0).
[[nodiscard]] StatusCode ResolveFunctionArgument(EngineContext* ctx, int position, SymbolId qualifier, int32_t library,
                                                 int32_t* inputs, int32_t* outputs);
// Function references: a boxed value of subtype 2 holding {i16 length; i16
// library; name; NUL}; the name resolves as seen from that library.
[[nodiscard]] StatusCode PushFunctionReference(EngineContext* ctx, const char* name, int length, int32_t library);
void GetFunctionReferenceName(EngineContext* ctx, const void* payload, const char** name, int* length);
