// Fixed layouts of compiled code and of the function store: the header that
// starts every compiled function and the entries of the store's table. Both
// live in the code area and are saved with the engine state.
#pragma once

#include <cstdint>

#include "engine/engine.h"

// Flags of a CompiledFunctionHeader.
enum FunctionHeaderFlag : int16_t {
  kHeaderVarargin = 0x01,       // the last input is varargin
  kHeaderVarargout = 0x02,      // the last output is varargout
  kHeaderDefine = 0x04,         // a definition block: no variables, one value
  kHeaderNamesStripped = 0x08,  // the variable-name block was removed
  kHeaderTrusted = 0x10,        // runs unsandboxed
  kHeaderSandboxed = 0x20,      // runs sandboxed
};

// Signed 16-bit words: the flags and three counts, then one word per input
// (its variable number), then unless stripped the variable names (32 bytes
// each, NUL-padded; a 32-character name has no terminator), then the code.
struct CompiledFunctionHeader {
  int16_t flags;
  int16_t variables;
  int16_t inputs;
  int16_t outputs;
};
static_assert(sizeof(CompiledFunctionHeader) == 8);
static_assert(alignof(CompiledFunctionHeader) == 2);

constexpr int kVariableNameBytes = 32;
// Instructions name a variable by a 16-bit word, and headers count them in one.
constexpr int32_t kMaxVariableSlots = 32767;

inline const int16_t* InputVariables(const CompiledFunctionHeader* h) {
  return reinterpret_cast<const int16_t*>(h + 1);
}

// The name block, or null when it was stripped.
inline const char* HeaderNameTable(const CompiledFunctionHeader* h) {
  if (h->flags & kHeaderNamesStripped) return nullptr;
  return reinterpret_cast<const char*>(InputVariables(h) + h->inputs);
}

// Words of header, input numbers and names; the code starts after them.
inline int32_t HeaderWords(const CompiledFunctionHeader* h) {
  const int32_t names = (h->flags & kHeaderNamesStripped) ? 0 : h->variables * (kVariableNameBytes / 2);
  return 4 + h->inputs + names;
}

inline const int16_t* FunctionCode(const CompiledFunctionHeader* h) {
  return reinterpret_cast<const int16_t*>(h) + HeaderWords(h);
}

// One entry of the function store: four 32-bit words whose first tells the
// kind. A function's first word is its name's (negative) SymbolId.
struct FunctionStoreEntry {
  int32_t kind;       // name of a function, kEntryLibrary or kEntryVariable
  int32_t name;       // a function's library word; a library's or variable's name
  int32_t position;   // code position, use-list position, or a variable's heap index
  int32_t qualifier;  // a function's qualifier; 0 for a library; a variable's owner
};
static_assert(sizeof(FunctionStoreEntry) == 16);

constexpr int32_t kEntryLibrary = 0;
constexpr int32_t kEntryVariable = 1;

// Bits of a function's library word.
constexpr uint32_t kLibraryIndexMask = 0x3FFFFFFF;
constexpr uint32_t kLibrarySandboxed = 0x40000000;
constexpr uint32_t kLibraryPrivate = 0x80000000;
