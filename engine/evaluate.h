// Text that is not a library, compiled into code that lives on the data stack
// and runs in a code frame of its own: command lines, eval, code fragments.
// EvaluateCommandLine and DiscardEvalFrame are public (engine/engine.h).
#pragma once

#include "engine/context.h"

// How CompileTextForEvaluation frames a text's code.
struct EvaluationOptions {
  int32_t outputs = 0;  // values the code leaves; 0 for statements
  SymbolId frameClass = 0;
  int32_t library = 0;
  // The frame gets variables of its own (with ans, "ans" is its variable 0);
  // otherwise the code works on the base frame's table, which grows, or,
  // below running code, on the names of the frame in scope.
  bool newFrame = false;
  bool returnVariables = false;  // the code leaves the frame's variables as a structure
  bool compilePending = false;   // the functions waiting for the pending pass are compiled before the code runs
  // Unknown names become functions compiled on demand; they do in any case
  // without compilePending or with a read-function hook.
  bool createFunctions = false;
  bool ans = false;              // unassigned results of statements go to "ans"
  bool skipDefinitions = false;  // function blocks and define statements are read over
  bool linkToCaller = false;     // the code returns to the program counter as it stands
  // The structure on top gives the new frame its first variables, one per field.
  bool structVariables = false;
};

// Compiles text into a new code frame. On success the program counter is at
// the code.
[[nodiscard]] StatusCode CompileTextForEvaluation(EngineContext* ctx, const char* text, int32_t length,
                                                  const EvaluationOptions& options);

// Runs count code words in a new frame over the top `inputs` values: outputs
// (negative: 1) values are kept, `extra` undefined variables are added.
[[nodiscard]] StatusCode EnterCodeFragment(EngineContext* ctx, const int16_t* words, int32_t count, int32_t inputs,
                                           int32_t outputs, int32_t extra, int32_t library, bool linkToCaller);

// The eval builtin (opcode 300 {nargout}).
[[nodiscard]] StatusCode OpEval(EngineContext* ctx, const int16_t* ins);
