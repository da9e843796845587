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

[[nodiscard]] inline StatusCode CheckRoom(EngineContext* ctx, int64_t cells, Room room) {
  if (ctx->descLength + 3 >= ctx->descCapacity) return kDescStackFull;
  const int64_t free = FreeDataCells(ctx);
  if (room == Room::kStrict ? cells >= free : cells > free) {
    ctx->roomAsked = (cells + 1) * int64_t{sizeof(Cell)};
    return kDataStackFull;
  }
  return kOk;
}

// A 1 x 1 integer array of the class holding v, cut to the class's width.
[[nodiscard]] StatusCode PushIntegerScalar(EngineContext* ctx, uint32_t cls, __int128 v);
// A 1 x 1 single, complex with the flag.
[[nodiscard]] StatusCode PushSingleScalar(EngineContext* ctx, double re, double im, bool complex);

// Reshaping takes at most this many dimensions.
constexpr int kMaxReshapeDims = 16;

// Pushes a descriptor and reserves the cells; the data is left to the caller.
[[nodiscard]] inline StatusCode PushValue(EngineContext* ctx, uint32_t kind, int64_t cells, int32_t extra, Room room,
                                          Cell** data) {
  if (StatusCode st = CheckRoom(ctx, cells, room); st != kOk) return st;
  auto* d = reinterpret_cast<ValueDescriptor*>(ctx->descBase + ctx->descLength);
  *d = {kind, static_cast<int32_t>(cells), extra};
  ctx->descLength += 3;
  if (data) *data = ctx->dataBase + ctx->dataTop;
  ctx->dataTop += static_cast<int32_t>(cells);
  return kOk;
}

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
// A 1 x 1 real double held as a plain matrix: the value every fast path takes.
inline bool IsRealScalar(const ValueDescriptor& d) { return d.kind == 0 && d.cells == 1 && d.extra == 1; }

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

// The elements of a numeric, character or logical value, whatever its class;
// a plain matrix reads as class 64 or 65 with two dimensions.
struct NumericView {
  uint32_t cls;
  int ndims;
  uint32_t dims[kMaxDims];
  int64_t count;
  const uint8_t* data;
  bool plain;
};

// False for any other kind of value.
bool ReadNumeric(EngineContext* ctx, int position, NumericView* v);
bool ReadNumericValue(const ValueDescriptor& d, Cell* data, NumericView* v);

// Element k as a double: the real part, or an integer element's value.
double RealElement(const NumericView& v, int64_t k);
// The imaginary part; 0 for every class but the complex ones.
double ImagElement(const NumericView& v, int64_t k);
// An integer element exactly (integer classes only).
__int128 IntegerElement(const NumericView& v, int64_t k);

// Pushes a boxed array (subtype 3 to 5) of already normalised dimensions; the
// elements are left to the caller, the padding after them is zero.
[[nodiscard]] StatusCode PushArray(EngineContext* ctx, int32_t subtype, uint32_t cls, const uint32_t* dims, int ndims,
                                   Cell** elements);

// Gives the top boxed array a new subtype, class and shape of the same number
// of dimensions in place. The first keptBytes of its elements stay; the rest
// of the payload up to its new last cell is zeroed, and the value then takes
// exactly the cells it needs. Growing needs room the caller has checked.
void ResizeTopArray(EngineContext* ctx, int32_t subtype, uint32_t cls, const uint32_t* dims, int ndims,
                    int64_t keptBytes);

// A composite element's header takes two cells; the element's own cells
// follow it, and the next element follows those.
constexpr int kElementHeaderCells = sizeof(CompositeElementHeader) / sizeof(Cell);

inline Cell* ElementData(CompositeElementHeader* e) { return reinterpret_cast<Cell*>(e) + kElementHeaderCells; }
inline const Cell* ElementData(const CompositeElementHeader* e) {
  return reinterpret_cast<const Cell*>(e) + kElementHeaderCells;
}

inline CompositeElementHeader* NextElement(CompositeElementHeader* e) {
  return reinterpret_cast<CompositeElementHeader*>(ElementData(e) + e->cells);
}
inline const CompositeElementHeader* NextElement(const CompositeElementHeader* e) {
  return reinterpret_cast<const CompositeElementHeader*>(ElementData(e) + e->cells);
}

// Cells of an element, its header included.
inline int64_t ElementSpan(const CompositeElementHeader* e) { return kElementHeaderCells + int64_t{e->cells}; }

// Cells of the CellDimsElement of k entries that leads a cell or structure
// array, its header included, and writing one at `at`.
inline int64_t DimsElementCells(int k) { return kElementHeaderCells + ArrayPayloadCells(kInt32, 2, k); }
void WriteDimsElement(Cell* at, const int32_t* entries, int k);

// GetCompositeInfo for a composite whose n elements (the dims element
// included) are already counted.
[[nodiscard]] StatusCode GetCountedCompositeInfo(const ValueDescriptor* d, CompositeElementHeader* first, int64_t n,
                                                 char selector, int* ndims, int32_t* dims, int64_t* count,
                                                 int32_t* fieldCount, CompositeElementHeader** firstItem);

// Normalises caller dimensions (negative ones taken as 0) into dims; answers
// the new count of dimensions and the element count, or -1 for too many.
int NormalizeCallerDims(int ndims, const int32_t* in, uint32_t* dims, int64_t* count);

// The parts of the inline function at position: its code, its source text
// and the cells of its captured values.
[[nodiscard]] StatusCode GetInlineFunctionParts(EngineContext* ctx, int position, const int16_t** code,
                                                const char** source, int* sourceLength, Cell** captured);
