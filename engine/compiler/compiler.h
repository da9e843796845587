// The expression compiler's face inside the code generator: turning the
// normalised text of one expression into postfix code, the operator stack it
// works on, and the helpers the statement compiler shares with it.
#pragma once

#include <cstdint>

#include "engine/context.h"

// One entry of the operator stack: seven signed 32-bit words in the scratch
// area above the open control structures.
struct OperatorStackEntry {
  int32_t precedence;  // entries are reduced while this is at least the threshold
  int32_t kind;
  int32_t reserved;  // always -1
  int32_t operand;   // by kind: operator record, opcode, builtin, native, entry, variable, symbol, position
  int32_t mask;      // colon mask of an index, or where an anonymous function's body starts
  int32_t count;     // arguments or elements completed so far
  int32_t total;     // number of indices of an index entry
};
static_assert(sizeof(OperatorStackEntry) == 28);

enum OperatorEntryKind : int32_t {
  kEntryInfix = 0,  // also the ";" between rows of a literal
  kEntryPrefix = 1,
  kEntryRange = 4,
  kEntrySpecial = 5,  // "?", "||", "&&"
  kEntryGroup = 6,
  kEntryCellLiteral = 7,
  kEntryMatrix = 8,
  kEntryCellRow = 9,
  kEntryMatrixRow = 10,
  kEntryBuiltinCall = 11,
  kEntryNativeCall = 12,
  kEntryUserCall = 13,
  kEntryAnonymous = 14,
  kEntryVariableAccess = 15,
  kEntryVariableAssign = 16,
  kEntryParenIndex = 17,
  kEntryBraceIndex = 18,
  kEntryDynamicField = 19,
  kEntryIndexDynamicField = 20,
  kEntryNamedCall = 21,
};

// What the statement around an expression asks of its code.
struct ExpressionOptions {
  int32_t outputsWanted = 0;     // values the caller needs, 0 for a bare expression statement
  bool displayContext = false;   // the statement shows its result
  bool createFunctions = false;  // unknown names become new function-store entries compiled on demand
  bool assignmentMode = false;   // the text is an assignment's target
};

// Compiles the expression text[*position, end) at code[*codePosition] (room
// in words), using stack (room entries) for the operators; *position ends
// where the compilation stopped (at end, or at the character that gave 202
// when a ")" "," ";" or "]" closes nothing). names: the 32-byte variable
// name slots. *valuesProduced: values the code leaves. lastInstruction (may
// be null): in assignment mode the instruction that opened the target,
// otherwise the LoadVar of a lone top-level variable, else null.
[[nodiscard]] StatusCode CompileExpression(EngineContext* ctx, int32_t library, const char* text, int32_t* position,
                                           int32_t end, OperatorStackEntry* stack, int32_t stackRoom, int16_t* code,
                                           int32_t codeRoom, int32_t* codePosition, const char* names,
                                           int32_t nameCount, int32_t* valuesProduced, int16_t** lastInstruction,
                                           const ExpressionOptions& options);

// Emits and pops entries of precedence >= threshold from stack[0, *top),
// stopping at a bracket, call or index entry, which the caller closes.
// textPosition is where the compilation stands (an anonymous function's body
// ends there).
[[nodiscard]] StatusCode ReduceOperators(EngineContext* ctx, int32_t library, int16_t* code, int32_t codeRoom,
                                         const char* text, int32_t textPosition, const char* names, int32_t nameCount,
                                         int32_t* codePosition, OperatorStackEntry* stack, int32_t* top,
                                         int32_t threshold);

// A char row of text[0, length) as PushString8 with the bytes packed two per
// word, low byte first. 6 when it does not fit.
[[nodiscard]] StatusCode EmitStringLiteral(const char* text, int32_t length, int16_t* code, int32_t codeRoom,
                                           int32_t* codePosition);

// Index of the name in a table of 32-byte slots, or -1. Large tables are
// hashed; a compile may only append to a table between lookups, and starts by
// forgetting what was hashed before.
int32_t FindVariableName(const char* names, int32_t count, const char* name, int32_t length);
void ForgetVariableNameIndex();

// Position (0-based) of the name among the parameters of the open anonymous
// functions of stack[0, top), innermost first, or -1.
int32_t FindAnonymousParameter(const char* text, const OperatorStackEntry* stack, int32_t top, const char* name,
                               int32_t length);

// 1 plus the commas at depth 0 from the position (just after an opening
// bracket) to its closing bracket; strings are skipped.
int32_t CountCallArguments(const char* text, int32_t end, int32_t position);

// Turns the call entry on top of the stack into a call by name (kind 21),
// interning the function's name.
[[nodiscard]] StatusCode ConvertCallToNamedCall(EngineContext* ctx, OperatorStackEntry* entry);

// The function-store entry of the user function of that name visible from
// the library: the library's own, then its use list from the last slot to
// the first, then the base library 0. -1 when there is none.
int32_t FindVisibleUserFunction(EngineContext* ctx, int32_t library, const char* name, int32_t length);
