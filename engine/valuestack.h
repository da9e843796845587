// Internal helpers over the two stacks of values: locating a value by
// position, making room, and reading the header of a boxed array.
#pragma once

#include "engine/context.h"

inline ValueDescriptor* DescriptorAt(EngineContext* ctx, int position) {
  return reinterpret_cast<ValueDescriptor*>(ctx->descBase + ctx->descLength - 3 * (position + 1));
}

// First data cell of the value at a position: the data top less the cells of
// every value from the top down to it.
inline Cell* DataAt(EngineContext* ctx, int position) {
  int64_t top = ctx->dataTop;
  const int32_t* words = ctx->descBase + ctx->descLength;
  for (int p = 0; p <= position; ++p) top -= words[-3 * (p + 1) + 1];
  return ctx->dataBase + top;
}

inline Cell* TopData(EngineContext* ctx) { return ctx->dataBase + ctx->dataTop - DescriptorAt(ctx, 0)->cells; }

inline int64_t FreeDataCells(const EngineContext* ctx) { return int64_t{ctx->dataCapacity} - ctx->dataTop; }

// Room rules: a value needs three descriptor words with one word to spare.
// Most pushes also keep one data cell free (strict); a plain matrix may use
// the last cell.
enum class Room { kStrict, kAll };

inline StatusCode CheckRoom(const EngineContext* ctx, int64_t cells, Room room) {
  if (ctx->descLength + 3 >= ctx->descCapacity) return kDescStackFull;
  const int64_t free = FreeDataCells(ctx);
  if (room == Room::kStrict ? cells >= free : cells > free) return kDataStackFull;
  return kOk;
}

// Pushes a descriptor and reserves the cells; the data is left to the caller.
StatusCode PushValue(EngineContext* ctx, uint32_t kind, int64_t cells, int32_t extra, Room room, Cell** data);

// Removes the top value.
inline void PopValue(EngineContext* ctx) {
  ctx->dataTop -= DescriptorAt(ctx, 0)->cells;
  ctx->descLength -= 3;
}

inline bool IsPlainMatrix(const ValueDescriptor& d) { return (d.kind & ~uint32_t{kComplex}) == 0; }
inline bool IsBoxedArray(const ValueDescriptor& d) {
  return d.kind == kBoxed && d.extra >= kNumericArray && d.extra <= kLogicalArray;
}
inline bool IsComposite(const ValueDescriptor& d) { return d.kind == kComposite; }

// The header of a boxed array and where its elements are.
struct ArrayView {
  uint32_t cls;
  int ndims;
  const uint32_t* dims;
  int64_t count;
  Cell* data;
};

inline ArrayView ReadArray(Cell* payload) {
  const auto* words = reinterpret_cast<const uint32_t*>(payload);
  ArrayView v{words[0], static_cast<int>(words[1]), words + 2, 1, payload + ArrayDataCell(static_cast<int>(words[1]))};
  for (int k = 0; k < v.ndims; ++k) v.count *= v.dims[k];
  return v;
}

inline bool IsIntegerClass(uint32_t cls) {
  return cls == kInt8 || cls == kInt16 || cls == kInt32 || cls == kInt64 || cls == kUint8 || cls == kUint16 ||
         cls == kUint32 || cls == kUint64;
}

// Pushes a boxed array (subtype 3 to 5) of already normalised dimensions; the
// elements are left to the caller, the padding after them is zero.
StatusCode PushArray(EngineContext* ctx, int32_t subtype, uint32_t cls, const uint32_t* dims, int ndims,
                     Cell** elements);

// Normalises caller dimensions (negative ones taken as 0) into dims; answers
// the new count of dimensions and the element count, or -1 for too many.
int NormalizeCallerDims(int ndims, const int32_t* in, uint32_t* dims, int64_t* count);
