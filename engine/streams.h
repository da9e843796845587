// Descriptors: every byte the language reads or writes goes through the hooks
// "+write", "+read", "+fclose", "+iocontrol" and "+iocbuffering", tried in
// registration order; the engine adds redirection of 1 and 2, the memory
// buffer behind 5, line-mode reading and each writer's own newline.
#pragma once

#include "engine/engine.h"

// Fixed descriptor numbers. Ranges from AllocateDescriptorRange start at 1024.
constexpr int32_t kStdinDescriptor = 0;
constexpr int32_t kStdoutDescriptor = 1;
constexpr int32_t kStderrDescriptor = 2;
constexpr int32_t kQuietDescriptor = 3;  // dropped silently when no writer is registered
constexpr int32_t kHelpDescriptor = 4;
constexpr int32_t kMemoryDescriptor = 5;  // never reaches the hooks
constexpr int32_t kAllDescriptors = -1;   // "+fclose": close every descriptor of the hook
constexpr int32_t kFirstRangeDescriptor = 1024;

// Hook handlers, stored in a record's handler field. Each answers 301 for a
// descriptor it does not own, so that the next hook of the name is asked.
// The style byte of a hook record (its minInputs) chooses the newline of a
// "+write" hook (1 LF, 2 CR LF, anything else CR); a "+read" hook with a style
// byte other than 0 delivers whole lines itself.
using WriteHook = StatusCode (*)(EngineContext* ctx, int32_t descriptor, const char* bytes, int32_t length,
                                 void* userData);
using ReadHook = StatusCode (*)(EngineContext* ctx, int32_t descriptor, char* buffer, int32_t capacity, int32_t* count,
                                void* userData);
using CloseHook = StatusCode (*)(EngineContext* ctx, int32_t descriptor, void* userData);
// *value holds the request's argument on entry and receives the answer.
using ControlHook = StatusCode (*)(EngineContext* ctx, int32_t descriptor, int32_t code, int32_t* value,
                                   void* userData);
using BufferingHook = StatusCode (*)(EngineContext* ctx, int32_t descriptor, int32_t on, void* userData);

// Codes of ControlDescriptor; other codes reach the hooks unchanged.
enum DescriptorControl : int32_t {
  kControlEof = 0,        // answer: non-zero at end of file
  kControlSeekStart = 1,  // argument: offset
  kControlSeekCurrent = 2,
  kControlSeekEnd = 3,
  kControlTell = 4,  // answer: the position
  kControlFlush = 5,
  kControlClear = 6,
  kControlBeforeRead = 7,  // sent before a raw read; the answer is ignored
};

// Writing. A length of -1 means a NUL-terminated text. Descriptors 1 and 2
// follow their redirection; with no "+write" hook registered at all, writes
// to 1, 2 and 3 succeed without effect. 301 when no hook claims the
// descriptor, 3 when the memory buffer of descriptor 5 is full.
StatusCode WriteToDescriptor(EngineContext* ctx, int32_t descriptor, const char* bytes, int32_t length);
// The double in the 'g' form with the display's digit count.
StatusCode WriteNumberToDescriptor(EngineContext* ctx, int32_t descriptor, double value);
// Each hook receives its own newline convention.
StatusCode WriteNewlineToDescriptor(EngineContext* ctx, int32_t descriptor);
StatusCode SetDescriptorBuffering(EngineContext* ctx, int32_t descriptor, int32_t on);

// Stores argument in a value word and asks the "+iocontrol" hooks. The answer
// of code 0 goes to *atEnd, that of code 4 to *position (either may be null);
// both are written only when a hook answered.
StatusCode ControlDescriptor(EngineContext* ctx, int32_t descriptor, int32_t code, int32_t argument, int32_t* position,
                             bool* atEnd);

// Reads up to capacity bytes. In line mode the read ends after a line end,
// stored as one LF whether it was LF, CR or CR LF; without a byte available yet
// the answer is 502 and the caller calls again later for the rest of the line.
// *count receives the bytes stored on every answer (502 and 305 included).
// 305 at end of input with nothing read; 301 when no hook claims the
// descriptor (305 for descriptor 0 when no "+read" hook answers).
StatusCode ReadFromDescriptor(EngineContext* ctx, int32_t descriptor, char* buffer, int32_t capacity, bool lineMode,
                              int32_t* count);

// The first number of n fresh descriptors; numbers are never given back.
// -1 for a negative n or when the numbers would run past the 32-bit range.
int32_t AllocateDescriptorRange(EngineContext* ctx, int32_t n);

// -1 asks every hook to close all of its descriptors.
StatusCode CloseDescriptor(EngineContext* ctx, int32_t descriptor);

// Sends descriptor 1 or 2 to target instead (copy clear) or as well (copy
// set); a target equal to the descriptor undoes it. 301 for other descriptors.
StatusCode SetStandardRedirection(EngineContext* ctx, int32_t descriptor, int32_t target, bool copy);
