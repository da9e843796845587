// The virtual machine's internal interface: the convention by which the loop
// hands an instruction to its handler, and the handlers of the opcodes that
// live outside the loop file, grouped by file (engine/dispatch.h binds them).
#pragma once

#include <cstdint>

#include "engine/context.h"
#include "engine/programcounter.h"

// ---------------------------------------------------------------------------
// Handlers. Every opcode that is not a short inline case of the loop runs as
//
//     StatusCode Handler(EngineContext* ctx, const int16_t* ins);
//
// with ins at the opcode word (operands at ins[1], ins[2], ...). Before the
// call the loop has stored the program counter at the NEXT instruction, so a
// handler that neither jumps nor calls just returns 0. A handler that moves
// the position (a jump, a call, a return) changes ctx->pc (a relative jump o:
// AdvanceProgramCounter(ctx, o)); the loop reloads it after every handler.
// On a non-zero result the loop takes the error ending with the position of
// the failing instruction, whatever the handler did to ctx->pc.
using OpcodeHandler = BuiltinHandler;

// The handler the dispatch table holds for the instruction's opcode, as the
// loop would call it (for opcodes the loop runs inline: 1000).
[[nodiscard]] StatusCode RunOpcodeHandler(EngineContext* ctx, const int16_t* ins);

// ---------------------------------------------------------------------------
// The loop, calls and returns (engine/vm.cpp, engine/calls.cpp).

[[nodiscard]] StatusCode CallNativeByOpcode(EngineContext* ctx, int opcode, int nargin, int nargout);
// Free lists among the top n values are spread in place into their elements;
// *count receives the number of values they then make.
[[nodiscard]] StatusCode SpreadFreeLists(EngineContext* ctx, int n, int* count);
// The first of the n top values names the callee (feval form: a name, an
// inline function or a function reference; builtin form: a name of a native
// or builtin); the other n - 1 are its arguments. Prepares the call and
// returns; the caller has stored the position to return to.
[[nodiscard]] StatusCode CallFunctionFromArgument(EngineContext* ctx, bool builtin, int32_t library, int n,
                                                  int nargout);

[[nodiscard]] StatusCode OpCallFunction(EngineContext* ctx, const int16_t* ins);     // 318
[[nodiscard]] StatusCode OpCallByValue(EngineContext* ctx, const int16_t* ins);      // 320
[[nodiscard]] StatusCode OpFevalOrBuiltin(EngineContext* ctx, const int16_t* ins);   // 301, 302
[[nodiscard]] StatusCode OpInline(EngineContext* ctx, const int16_t* ins);           // 303 {n}
[[nodiscard]] StatusCode OpFun2str(EngineContext* ctx, const int16_t* ins);          // 306
[[nodiscard]] StatusCode OpDeal(EngineContext* ctx, const int16_t* ins);             // 116 {n; m}
[[nodiscard]] StatusCode OpReturn(EngineContext* ctx, const int16_t* ins);           // 321
[[nodiscard]] StatusCode OpEndOfCode(EngineContext* ctx, const int16_t* ins);        // 322
[[nodiscard]] StatusCode OpEndOfThreadCode(EngineContext* ctx, const int16_t* ins);  // 332

// ---------------------------------------------------------------------------
// Name resolution and calls by name (engine/resolution.cpp). The loop and
// calls.cpp call these; resolution.h repeats them with the same signatures.

// Resolves name (length bytes, at most 32) from the calling library and sets
// up the call: frame pushed, program counter at the callee or its trampoline.
[[nodiscard]] StatusCode CallFunctionByName(EngineContext* ctx, const char* name, int32_t length, int32_t library,
                                            int32_t nargin, int32_t nargout, bool userOnly, bool skipUser,
                                            bool linkToCaller);

// ---------------------------------------------------------------------------
// Variables, references, fields and indexing. Opcode numbers after each;
// 35, 37-40 and 44 are left for the object overloads.

// engine/variables.cpp
[[nodiscard]] StatusCode OpDeclareGlobal(EngineContext* ctx, const int16_t* ins);    // 86 {v; 0 global, 1 persistent}
[[nodiscard]] StatusCode OpClear(EngineContext* ctx, const int16_t* ins);            // 87 {nargin}
[[nodiscard]] StatusCode OpLoadVar(EngineContext* ctx, const int16_t* ins);          // 88 {v}
[[nodiscard]] StatusCode OpStoreVar(EngineContext* ctx, const int16_t* ins);         // 90 {v}
[[nodiscard]] StatusCode OpDisplayStored(EngineContext* ctx, const int16_t* ins);    // 92 {v}
[[nodiscard]] StatusCode OpStoreAnsDisplay(EngineContext* ctx, const int16_t* ins);  // 93 {v}
[[nodiscard]] StatusCode OpDisplayVar(EngineContext* ctx, const int16_t* ins);       // 94 {v}
[[nodiscard]] StatusCode OpIncrementVar(EngineContext* ctx, const int16_t* ins);     // 95, 96 {v}
[[nodiscard]] StatusCode OpClearVar(EngineContext* ctx, const int16_t* ins);         // 97 {v}

// engine/valuesource.cpp
[[nodiscard]] StatusCode OpVariables(EngineContext* ctx, const int16_t* ins);  // 117

// engine/references.cpp
[[nodiscard]] StatusCode OpRefVar(EngineContext* ctx, const int16_t* ins);        // 108, 109 {v}
[[nodiscard]] StatusCode OpEndRef(EngineContext* ctx, const int16_t* ins);        // 110
[[nodiscard]] StatusCode OpEndRefAssign(EngineContext* ctx, const int16_t* ins);  // 112
// An assignment that reshapes a variable works on a copy that only its final
// step installs. The error ending calls this before it unwinds, so that the
// copies of assignments cut short by an error are freed.
void ReleaseDetachedReferences(EngineContext* ctx);

// engine/fields.cpp
[[nodiscard]] StatusCode OpGetField(EngineContext* ctx, const int16_t* ins);         // 98 {s}
[[nodiscard]] StatusCode OpGetDynamicField(EngineContext* ctx, const int16_t* ins);  // 99

// engine/indexedread.cpp
[[nodiscard]] StatusCode OpSubsref(EngineContext* ctx, const int16_t* ins);               // 89
[[nodiscard]] StatusCode OpIndexValue(EngineContext* ctx, const int16_t* ins);            // 100 {n; m; nargout}
[[nodiscard]] StatusCode OpCellIndexValue(EngineContext* ctx, const int16_t* ins);        // 101 {n; m}
[[nodiscard]] StatusCode OpIndexGetField(EngineContext* ctx, const int16_t* ins);         // 102 {n; m; s}
[[nodiscard]] StatusCode OpIndexGetDynamicField(EngineContext* ctx, const int16_t* ins);  // 103 {n; m}
[[nodiscard]] StatusCode OpIndexEndOrBeginning(EngineContext* ctx, const int16_t* ins);   // 104-107 {d; k; n}
[[nodiscard]] StatusCode OpIndexVar(EngineContext* ctx, const int16_t* ins);              // 111 {n; m; nargout}

// engine/indexedassign.cpp
[[nodiscard]] StatusCode OpSubsasgn(EngineContext* ctx, const int16_t* ins);           // 91
[[nodiscard]] StatusCode OpIndexVarForAssign(EngineContext* ctx, const int16_t* ins);  // 113 {n; m}

// ---------------------------------------------------------------------------
// The rest of the machine's instruction set. The loop runs Nop, PushZero,
// PushOne, Drop, SkipOperand, the jumps and the short-circuit jumps inline
// only. PushSmallInt and PushDouble it runs inline whole; their handler serves
// RunOpcodeHandler alone. It takes fast paths, falling back to these handlers,
// of LineMarker (nothing watches the lines), ForNextRange (a double range),
// LoadVar and StoreVar (a real double scalar), +, -, .*, ./ and .\ of two real
// double scalars, and the relations of two that a conditional jump tests at
// once.

// engine/instructions.cpp
[[nodiscard]] StatusCode OpPushLiteral(EngineContext* ctx, const int16_t* ins);  // 3-5, 13-31, 34, 60, 330
[[nodiscard]] StatusCode OpSpecialValue(EngineContext* ctx,
                                        const int16_t* ins);  // 6-12 {nargin}: inf nan realmin realmax eps true false
[[nodiscard]] StatusCode OpPushString(EngineContext* ctx, const int16_t* ins);        // 32, 33
[[nodiscard]] StatusCode OpPrintText(EngineContext* ctx, const int16_t* ins);         // 35, 36
[[nodiscard]] StatusCode OpDup(EngineContext* ctx, const int16_t* ins);               // 38 {n; k}
[[nodiscard]] StatusCode OpRotate(EngineContext* ctx, const int16_t* ins);            // 39 {n; k}
[[nodiscard]] StatusCode OpMakeList(EngineContext* ctx, const int16_t* ins);          // 64 {n}
[[nodiscard]] StatusCode OpAppendToList(EngineContext* ctx, const int16_t* ins);      // 65
[[nodiscard]] StatusCode OpJoinValuesToList(EngineContext* ctx, const int16_t* ins);  // 66 {n}
[[nodiscard]] StatusCode OpErrorFamily(EngineContext* ctx, const int16_t* ins);       // 323-327
[[nodiscard]] StatusCode OpTryMark(EngineContext* ctx, const int16_t* ins);           // 328 {o; k}
[[nodiscard]] StatusCode OpAssert(EngineContext* ctx, const int16_t* ins);            // 331 {nargin}

// engine/controlflow.cpp
[[nodiscard]] StatusCode OpCaseTest(EngineContext* ctx, const int16_t* ins);  // 311 {o}
// The loop steps end the loop themselves: on 29 they jump by o and return 0.
[[nodiscard]] StatusCode OpForNext(EngineContext* ctx, const int16_t* ins);         // 312 {o}
[[nodiscard]] StatusCode OpForNextRange(EngineContext* ctx, const int16_t* ins);    // 313 {o}
[[nodiscard]] StatusCode OpRangeIterator(EngineContext* ctx, const int16_t* ins);   // 314 {n}
[[nodiscard]] StatusCode OpRangeLastValue(EngineContext* ctx, const int16_t* ins);  // 315

// engine/linemarkers.cpp
[[nodiscard]] StatusCode OpLineMarker(EngineContext* ctx, const int16_t* ins);  // 329 {f; line}

// engine/corebuiltins.cpp: builtins the engine itself holds.
[[nodiscard]] StatusCode OpArgumentCount(EngineContext* ctx, const int16_t* ins);      // nargin, nargout
[[nodiscard]] StatusCode OpRealPart(EngineContext* ctx, const int16_t* ins);           // real
[[nodiscard]] StatusCode OpToIntegerClass(EngineContext* ctx, const int16_t* ins);     // int8 ... uint64
[[nodiscard]] StatusCode OpFunctionReference(EngineContext* ctx, const int16_t* ins);  // str2fun, @name
