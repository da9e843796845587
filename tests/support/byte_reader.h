// Bytes in memory served through the loaders' read and position callbacks,
// as fuzz targets hand their input to a loader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

struct ByteReader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;

  // Fails a read that would pass the end (or a position set beyond it).
  static bool Read(void* buffer, int32_t bytes, void* user) {
    auto* in = static_cast<ByteReader*>(user);
    if (bytes < 0 || in->at > in->size || in->size - in->at < static_cast<size_t>(bytes)) return false;
    std::memcpy(buffer, in->data + in->at, static_cast<size_t>(bytes));
    in->at += static_cast<size_t>(bytes);
    return true;
  }

  // flag 0 asks for the position, any other sets it.
  static void Position(int32_t flag, int64_t* position, void* user) {
    auto* in = static_cast<ByteReader*>(user);
    if (flag == 0)
      *position = static_cast<int64_t>(in->at);
    else
      in->at = static_cast<size_t>(*position);
  }
};
