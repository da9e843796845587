// The layout of a call frame on the descriptor stack and the functions that
// enter, read and leave frames (engine/frames.cpp).
#pragma once

#include <cstring>

#include "engine/engine.h"
#include "engine/function.h"

struct ProgramCounter;

// ---------------------------------------------------------------------------
// Call frames: 22 header words at a word position of the descriptor stack,
// then one slot per variable (a heap index, or -1 when undefined). A frame
// that keeps its names (nameCapacity > 0) has nameCapacity slots followed by
// nameCapacity names of 32 bytes.

struct CallFrame {
  int32_t callerSpace;   // 0 entered from the host, kBaseFrameMark in the base frame
  int32_t callerOffset;  // bytes
  int32_t link;          // words back to the previous frame; not positive: none
  int32_t catchSpace;    // 0: no try armed
  int32_t catchOffset;
  int32_t catchKeep;      // values kept under the protected code
  int32_t functionValue;  // 1: the inline function's value is the first value above the variables
  int32_t suspendSpace;   // 0: not stopped in the debugger
  int32_t suspendOffset;
  int32_t library;
  SymbolId methodClass;  // class of the object argument that chose a method, else 0
  int32_t variableCount;
  int32_t requestedOutputs;  // n >= 0; -1 optional; -2 optional and none declared
  int32_t nargin;            // after packing into varargin and adding a bound value
  int32_t outputs;           // to return: declared outputs less varargout, or the request
  int32_t nameCapacity;      // slots and names kept in the frame; 0 without
  int32_t reentry;           // 1: call the requesting native again on return
  int32_t sandboxed;
  int32_t line;        // -1 at entry
  int32_t function;    // -1 at entry, -2 an inline function
  int32_t debugState;  // 0 runs, 2 stops at the next line marker, 3 steps into calls
  int32_t nameTable;   // > 0 code-area word offset; < -1 negated data-stack byte offset; else none
};
static_assert(sizeof(CallFrame) == 22 * sizeof(int32_t));

constexpr int kFrameHeaderWords = 22;
constexpr int32_t kBaseFrameMark = 6;
constexpr int kBaseFrameNames = 16;
constexpr int kBaseFrameWords = kFrameHeaderWords + kBaseFrameNames * 9;
constexpr int kDebugStopAtNextLine = 2;
constexpr int kDebugStepInto = 3;

inline int32_t* FrameSlots(CallFrame* f) { return reinterpret_cast<int32_t*>(f + 1); }
inline int32_t FrameSlotCount(const CallFrame* f) { return f->nameCapacity > 0 ? f->nameCapacity : f->variableCount; }
inline int32_t FrameExtent(const CallFrame* f) {
  return kFrameHeaderWords + (f->nameCapacity > 0 ? 9 * f->nameCapacity : f->variableCount);
}
inline bool IsBaseFrame(const CallFrame* f) { return f->callerSpace == kBaseFrameMark; }
// The names of a frame that keeps them, after its slots.
inline char* FrameNames(CallFrame* f) { return reinterpret_cast<char*>(FrameSlots(f) + f->nameCapacity); }

CallFrame* FrameAt(EngineContext* ctx, int32_t position);
// Null without a frame.
CallFrame* CurrentFrame(EngineContext* ctx);
// The frame below, or null at the bottom.
CallFrame* PreviousFrame(EngineContext* ctx, CallFrame* f);
// The frame whose variables are in scope: the nearest with variables, else
// the bottom frame; null without a frame.
CallFrame* FindScopeFrame(EngineContext* ctx);
// The nearest frame with variables, names or a function of its own (the
// frames of eval and code fragments have none), else the bottom frame; null
// without a frame. Nested evals make this walk long, so its answer is kept.
CallFrame* SkipPlainFrames(EngineContext* ctx);
// Every pop of a frame sets the current frame through this, and every
// change of the whole stack calls ForgetScopeFrame.
void FrameIndexDropped(EngineContext* ctx, int32_t frameIndex);

// Length of a name of a 32-byte table: it stops at its NUL or at 32.
inline int VariableNameLength(const char* name) {
  const void* nul = std::memchr(name, 0, kVariableNameBytes);
  return nul ? static_cast<int>(static_cast<const char*>(nul) - name) : kVariableNameBytes;
}

[[nodiscard]] StatusCode EnterFunctionFrame(EngineContext* ctx, const ProgramCounter* caller,
                                            const CompiledFunctionHeader* header, int32_t library, SymbolId methodClass,
                                            int32_t nargout, int32_t nargin, bool functionValue, bool names,
                                            bool reentry);
[[nodiscard]] StatusCode ReturnFromFunction(EngineContext* ctx);
[[nodiscard]] StatusCode ReturnFromFrameKeepingValues(EngineContext* ctx);
// With a null position it only answers whether a try would catch.
bool UnwindToCatch(EngineContext* ctx, bool securityError, ProgramCounter* catchPosition);

int32_t CountFrameValues(EngineContext* ctx);
// The 32-byte name of variable i of the frame in scope (not terminated when
// 32 characters long: read it with VariableNameLength), or null.
const char* GetVariableName(EngineContext* ctx, int32_t i);
void MarkFrameSandboxed(EngineContext* ctx);
[[nodiscard]] StatusCode PushFrameArgCount(EngineContext* ctx, bool outputs);
[[nodiscard]] StatusCode PushFunctionArgCounts(EngineContext* ctx, int32_t library, bool outputs);
