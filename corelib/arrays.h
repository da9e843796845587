// Internal helpers of the builtins that cut, tile and rearrange arrays: the
// class of an array on the stack, pushing a new array of that class, and
// walking subscripts in storage order.
#pragma once

#include <cstdint>

#include "engine/values/valuestack.h"

// Element class, subtype and size of an array value (plain matrix or boxed
// numeric, char or logical array).
struct ArrayKind {
  uint32_t cls;     // real class: complex classes give their parts' class
  bool complex;     // an imaginary block follows the real one
  int32_t subtype;  // 0 for a plain matrix, else kNumericArray, kCharArray or kLogicalArray
  int size;         // bytes of one part of one element
};

// False for a value that is no array.
bool ReadArrayKind(EngineContext* ctx, int position, ArrayKind* kind, NumericView* view);

// Pushes an array of that kind and shape (dims as the constructors take them;
// the imaginary block only when complex and elements exist).
[[nodiscard]] StatusCode PushArrayOfKind(EngineContext* ctx, const ArrayKind& kind, int nd, const int32_t* dims,
                                         uint8_t** re, uint8_t** im);

// Storage strides of each dimension: dimension 2 varies fastest, then 1, then 3 on.
void StorageStrides(int nd, const int32_t* dims, int64_t* stride);

// Steps subscripts at (of dims) to the next position in storage order and
// answers the change of the offset under the strides; false past the end.
bool NextInStorageOrder(int nd, const int32_t* dims, int32_t* at, const int64_t* stride, int64_t* offset);

// Stores the low `bytes` bytes of v (1, 2, 4 or 8) as element k of data.
inline void StoreLowBytes(void* data, int bytes, int64_t k, uint64_t v) {
  switch (bytes) {
    case 1:
      static_cast<uint8_t*>(data)[k] = static_cast<uint8_t>(v);
      break;
    case 2:
      static_cast<uint16_t*>(data)[k] = static_cast<uint16_t>(v);
      break;
    case 4:
      static_cast<uint32_t*>(data)[k] = static_cast<uint32_t>(v);
      break;
    default:
      static_cast<uint64_t*>(data)[k] = v;
      break;
  }
}
