// Indexing kernels: subscripts and linear positions, the split of a size vector
// around one dimension, the analysis of index arguments on the value stack, the
// gather and scatter of array elements, deletion plans, and the selection of
// elements of lists, cells and structure arrays.
#pragma once

#include "engine/engine.h"

// Indexing takes at most this many indices; the analysis tables have as many entries.
constexpr int kMaxIndexDims = 16;

// Index values on the stack: those of the first n indices that are not colons
// (bit j of colonMask set marks index j a colon).
inline int CountIndexValues(int n, uint32_t colonMask) {
  int k = 0;
  for (int j = 0; j < n; ++j) k += j < 32 && ((colonMask >> j) & 1) != 0 ? 0 : 1;
  return k;
}

// An array viewed around dimension d: outer blocks, each holding length slices
// of inner consecutive elements (inner is the stride of d in elements).
struct DimensionSplit {
  int32_t outer;
  int32_t inner;
  int32_t length;
};

// What AnalyzeIndexArguments finds. Per index dimension: how many positions
// are selected and either a zero-based index list (into the index value on
// the stack) or a logical mask; both null for a colon.
struct IndexAnalysis {
  int ndims;
  int32_t count[kMaxIndexDims];
  int32_t* list[kMaxIndexDims];
  const uint8_t* mask[kMaxIndexDims];
  int64_t total;
};

// The size an assignment gives its target.
struct IndexGrowth {
  int ndims;
  int32_t dims[kMaxIndexDims];
  bool grow;  // more dimensions than the value, or a larger size along one
};

// A deletion keeps, in each of outer blocks, the slices of inner elements
// along a dimension of length positions whose position is not deleted; the
// deleted positions are the index list or the mask handed out with the plan,
// or, when both are null, all of them (deleted = length) or none (deleted = 0).
struct DeletionPlan {
  bool deletes;  // false: the new value has elements, this is no deletion
  int32_t outer;
  int32_t deleted;
  int32_t length;
  int32_t inner;
  int ndims;  // the value's dims after the deletion
  int32_t dims[kMaxDims];
};

// Positions: pages of rows x columns, each row by row, dimension 2 varying
// fastest among the pages. A subscript beyond the dims counts with size 1.
int64_t SubscriptsToLinearIndex(int ndims, const int32_t* dims, int n, const int32_t* subscripts);
void LinearIndexToSubscripts(int n, const int32_t* dims, int64_t position, int32_t* subscripts);
// *d = -1 picks the first dimension longer than 1 (0 without one) and reports it.
void SplitDimensions(int ndims, const int32_t* dims, int* d, DimensionSplit* split);

// The values of the indices that are not colons lie on top of the stack, the
// last on top, above the indexed value. Converts every one that is not a
// logical mask to int32 in place (27, 28, 29 for what cannot index). With the
// check flag an indexed value whose indexing is overloaded (an object, an
// inline function or a function reference, also behind a reference) is left
// alone with its indices.
[[nodiscard]] StatusCode ConvertIndexArguments(EngineContext* ctx, int n, uint32_t colonMask, int* count, bool check);

// dims null: a 0 x 0 value. fallbackSizes stand in for the sizes of an empty
// value under a colon when growth is asked for. The numeric index values
// become zero-based in place (sorted and made distinct with the sort flag).
[[nodiscard]] StatusCode AnalyzeIndexArguments(EngineContext* ctx, int ndims, const int32_t* dims, int fallbackCount,
                                               const int32_t* fallbackSizes, int n, uint32_t colonMask,
                                               IndexAnalysis* out, bool sort, IndexGrowth* growth);

// Element kinds of the gather and scatter: the byte size 1, 2, 4 or 8 of an
// integer, char or logical element, -8 for double, -4 for single.
constexpr int kDoubleElements = -8;
constexpr int kSingleElements = -4;

// v(i1, ..., in): the result replaces the index values. For integer kinds the
// result's subtype is resultKind (3 numeric, 4 char, 5 logical).
[[nodiscard]] StatusCode SelectArrayElements(EngineContext* ctx, const void* re, const void* im, int ndims,
                                             const int32_t* dims, int32_t resultKind, int elementKind,
                                             uint32_t elementClass, int n, uint32_t colonMask);

// Grows the target of an assignment where it lies, so that a value grown one
// element at a time is not copied at every step.
class ArrayGrower {
 public:
  // Gives the target the larger shape, every element keeping its subscripts
  // and the new ones zero; re and im then name its elements. *done false: it
  // cannot grow where it lies. A failure changes nothing.
  [[nodiscard]] virtual StatusCode Grow(int ndims, const int32_t* dims, uint8_t** re, uint8_t** im, bool* done) = 0;
  // Whether a new array of that many cells, pushed in the target's place,
  // will find room where the target is stored; asked before the assignment
  // spends its index values, so that a refusal leaves them as they were.
  virtual bool HasRoomFor(int64_t cells) = 0;

 protected:
  ~ArrayGrower() = default;
};

// v(i1, ..., in) = x with x below the index values. x is converted to the
// target's class; without a target (re null) the class is x's. A target that
// must grow is grown by the grower where it can; otherwise, and when it must
// change (no target, a real float target receiving complex values), the new
// array is pushed and *grew set. Else the target is written in place. The
// index values are dropped; x stays for the caller.
[[nodiscard]] StatusCode AssignArrayElements(EngineContext* ctx, void* re, void* im, int ndims, const int32_t* dims,
                                             int elementKind, bool isUnsigned, bool isChar, bool isLogical, int n,
                                             uint32_t colonMask, bool* grew, ArrayGrower* grower = nullptr);

// Moves the elements of one part (real or imaginary) of an array of shape
// dims, stored from part, to their subscripts in the larger shape grown, and
// zeroes the places between them: the part must hold the grown count.
void SpreadToLargerShape(uint8_t* part, int size, int ndims, const int32_t* dims, int grownNd, const int32_t* grown);

// v(i1, ..., in) = [] with the new value below the index values; nothing is
// dropped, the index list and mask point into the index values.
[[nodiscard]] StatusCode PlanElementDeletion(EngineContext* ctx, int ndims, const int32_t* dims, int n,
                                             uint32_t colonMask, DeletionPlan* plan, const int32_t** indexList,
                                             const uint8_t** mask);

// Pushes an int32 array shaped like the composite at the position holding the
// cell offset of each element (of each structure of a structure array), from
// the composite's first element or, absolute, from the data-stack base.
[[nodiscard]] StatusCode BuildElementOffsetTable(EngineContext* ctx, int position, bool absolute);

// Pushes, above the int32 table on top, a composite of copies of the elements
// the table locates: relative to the composite at the position (whose field
// count is then reported), or absolute with position -1 and the field count
// given: negative gives a cell array, else a structure or structure array.
[[nodiscard]] StatusCode GatherCompositeElements(EngineContext* ctx, int position, int32_t* fieldCount);

// Replaces the int32 index array on top (1-based) by a list of the chosen
// elements among count elements starting at first; with the all flag there is
// no index array and every element is taken.
[[nodiscard]] StatusCode PushSelectedListElements(EngineContext* ctx, const CompositeElementHeader* first,
                                                  int32_t count, bool all);

// subsref and subsasgn: pushes the "subs" of the {type, subs} structure at
// position and answers its type (1 "()", 2 "{}", 3 "."; 108 for another).
[[nodiscard]] StatusCode ReadSubscriptStruct(EngineContext* ctx, int position, int* type);
// Replaces the list or cell of subscripts on top by its values; a ":"
// becomes a bit of *colonMask instead (27 for another text); *n counts them.
[[nodiscard]] StatusCode ExpandSubscripts(EngineContext* ctx, int* n, uint32_t* colonMask);
