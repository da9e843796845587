// Text form of compiled code: one instruction per line with its opcode name
// and its operands decoded by kind, jump targets shown as absolute positions.
// Tests compare compiled code through it; diagnostics print it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct EngineContext;

struct DisassemblyOptions {
  bool positions = true;               // prefix each line with the word position and ": "
  const EngineContext* ctx = nullptr;  // when set, field symbols show their text
};

// One line per instruction, each ended by "\n". A native call reads
// "native N in out" with N its global native number. Operands: words as signed
// numbers, jump operands as "->T" (T the absolute target position), doubles in
// their shortest round-trip form, texts in single quotes. An instruction cut
// short by the end of the code shows as "<truncated ...>" and ends the listing.
std::string Disassemble(const int16_t* code, int length, const DisassemblyOptions& options = {});

// The same lines without their "\n", for comparing part of a listing.
std::vector<std::string> DisassembleLines(const int16_t* code, int length, const DisassemblyOptions& options = {});
