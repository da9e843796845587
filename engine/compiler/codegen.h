// Pass 2 of the compiler and its single entry: statement records to code,
// control structures laid out with forward jump chains patched when they
// close, and CompileSource, which runs both passes over one source text.
#pragma once

#include <cstdint>

#include "engine/context.h"

// One open control structure: seven signed 32-bit words in the free
// descriptor-stack space; the expression compiler's operator stack lies
// above the open entries.
struct ControlStackEntry {
  int32_t marker;  // always kControlMarker
  int32_t kind;    // ControlKind
  int32_t line;    // of the opening statement
  // if, switch: the open conditional jump's operand; while, repeat: the loop
  // start; for: the loop instruction; try: head of the chain of TryMark
  // operands that must reach the handler, -1 once in the catch part.
  int32_t pending;
  int32_t exitChain;      // forward jumps to the end of the construct, -1 none
  int32_t continueChain;  // repeat only: continue jumps to the until test
  int32_t unused;
};
static_assert(sizeof(ControlStackEntry) == 28);

constexpr int32_t kControlMarker = 3;

enum ControlKind : int32_t {
  kControlIf = 22,
  kControlSwitch = 23,
  kControlWhile = 24,
  kControlFor = 25,
  kControlRepeat = 26,
  kControlTry = 27,
};

// True when a condition's code is exactly PushZero or {false; 0} (wanted
// false), or PushOne or {true; 0} (wanted true).
bool IsConstantCondition(const int16_t* code, int32_t length, bool wanted);

// Pass 2: code for the statement records (recordWords 32-bit words) at
// code[*codePosition] (room in words), with control (controlWords words) for
// the control stack and the operator stacks above it. function is the
// store index of the function being compiled, or -1 for code that is not a
// function; with -1 and expectedValues > 0 a definition block (valueCount
// given: one value per statement, their number stored there) or a single
// expression of exactly that many values. names: the variables' 32-byte
// slots. storeInAns: unassigned results go to variable 0 when it is "ans".
[[nodiscard]] StatusCode GenerateStatementCode(EngineContext* ctx, int32_t library, const int32_t* records,
                                               int32_t recordWords, int32_t* control, int32_t controlWords,
                                               int16_t* code, int32_t room, int32_t* codePosition, int32_t function,
                                               int32_t expectedValues, int32_t* valueCount, const char* names,
                                               int32_t nameCount, bool storeInAns, bool createFunctions);

// What CompileSource makes of a text. The defaults: code (not a function)
// on the names table given, statements only, from line 1.
struct CompileOptions {
  // The caller's names table of 32-byte slots, *nameCount in use of
  // nameCapacity; the count grows. A null count stands for 0.
  char* names = nullptr;
  int32_t* nameCount = nullptr;
  int32_t nameCapacity = 0;
  int32_t function = -1;          // store index of the function compiled, -1 for code
  int32_t firstLine = 1;          // the text's first line number
  int32_t expectedValues = 0;     // code only: a definition block or an expression of this many values
  int32_t* valueCount = nullptr;  // a definition block's values (may be null)
  bool stopAtNextUnit = false;    // a function header or define statement ends the text instead of failing
  bool storeInAns = false;        // unassigned results go to variable 0 when it is "ans"
  bool createFunctions = false;   // unknown names become function-store entries compiled on demand
  bool skipFunctions = false;     // function blocks and define statements are read over
  bool removeNames = false;       // function mode: the header keeps no variable names
};

// The compiler's entry: text (length bytes) as function options.function of
// the library, header and code into output (outputWords words, on an 8-byte
// boundary), *used the words written; or, with function -1, code that works
// on the caller's names table. Pass 1 uses the free data-stack space for its
// records, pass 2 the free descriptor-stack space for its control stack.
[[nodiscard]] StatusCode CompileSource(EngineContext* ctx, int32_t library, const char* text, int32_t length,
                                       int16_t* output, int32_t outputWords, int32_t* used,
                                       const CompileOptions& options);

// CompileSource in function mode with the function store's compiler seam's
// signature: the store's default compiler.
[[nodiscard]] StatusCode CompileFunctionSource(EngineContext* ctx, int32_t library, const char* text, int32_t length,
                                               bool stopAtNextUnit, int16_t* output, int32_t room, int32_t* used,
                                               int32_t entry, int32_t firstLine);
