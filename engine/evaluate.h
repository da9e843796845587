// Text that is not a library, compiled into code that lives on the data stack
// and runs in a code frame of its own: command lines, eval, code fragments.
// EvaluateCommandLine and DiscardEvalFrame are public (engine/engine.h).
#pragma once

#include "engine/context.h"

// Compiles text into a new code frame. newFrame: the frame gets variables of
// its own (with ans, "ans" is its variable 0); otherwise the code works on the
// base frame's table, which grows, or, below running code, on the names of
// the frame in scope. returnVariables: the code leaves the frame's variables
// as a structure. skipDefinitions: function blocks and define statements are
// read over. linkToCaller: the code returns to the program counter as it
// stands. On success the program counter is at the code.
StatusCode CompileTextForEvaluation(EngineContext* ctx, const char* text, int32_t length, int32_t outputs,
                                    SymbolId frameClass, bool returnVariables, int32_t library, bool newFrame,
                                    bool compilePending, bool compilerOption, bool ans, bool skipDefinitions,
                                    bool linkToCaller);

// Runs count code words in a new frame over the top `inputs` values: outputs
// (negative: 1) values are kept, `extra` undefined variables are added.
StatusCode EnterCodeFragment(EngineContext* ctx, const int16_t* words, int32_t count, int32_t inputs, int32_t outputs,
                             int32_t extra, int32_t library, bool linkToCaller);

// The eval builtin (opcode 300 {nargout}).
StatusCode OpEval(EngineContext* ctx, const int16_t* ins);
