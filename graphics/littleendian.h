// Byte-wise little-endian accessors for the stored formats: saved records are
// read and written through these, never through casts of misaligned memory.
#pragma once

#include <bit>
#include <cstdint>

// Doubles of a saved store are kept in the host's order, which the saved
// formats fix as little-endian.
static_assert(std::endian::native == std::endian::little);

inline uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline void StoreLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
