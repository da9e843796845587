// The program counter: a code space and a byte offset from that space's base,
// so that a position survives every move of the block.
#pragma once

#include <cstdint>

#include "engine/context.h"

// Base of a code space in the block; null for space 0.
inline const uint8_t* CodeSpaceBase(const EngineContext* ctx, uint32_t space) {
  switch (space) {
    case kCodeArea:
      return reinterpret_cast<const uint8_t*>(ctx->codeBase);
    case kDataStackCode:
      return reinterpret_cast<const uint8_t*>(ctx->dataBase);
    case kHeapCode:
      return reinterpret_cast<const uint8_t*>(ctx->heapBase);
    default:
      return nullptr;
  }
}

// Address of the next code word, or null.
inline const int16_t* GetProgramCounter(const EngineContext* ctx) {
  const uint8_t* base = CodeSpaceBase(ctx, ctx->pc.space);
  if (base == nullptr) return nullptr;
  return reinterpret_cast<const int16_t*>(base + ctx->pc.offset);
}

// Stores address minus the base of the current space; the space is not changed.
inline void SetProgramCounter(EngineContext* ctx, const int16_t* address) {
  const uint8_t* base = CodeSpaceBase(ctx, ctx->pc.space);
  if (base == nullptr) return;
  ctx->pc.offset = static_cast<int32_t>(reinterpret_cast<const uint8_t*>(address) - base);
}

// Moves the position by a number of words from where it stands now.
inline void AdvanceProgramCounter(EngineContext* ctx, int32_t words) { ctx->pc.offset += 2 * words; }
