// The core function library's public face. For now: the in-place Shell-sort
// kernels that sort, unique, orderfields, the numerical library, the contour
// body and the engine's indexing routines share.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------
// Shell-sort kernels. All use the gaps 1, 4, 13, 40, ... (h = 3h + 1), starting
// below the first gap that reaches the count; each pass is an insertion sort
// over elements h apart. They take plain arrays, allocate nothing, never fail
// and do nothing for fewer than two elements.
//
// Where a kernel takes a stride s (in elements, possibly negative), element i
// lives at base[i * s], so a negative stride walks backwards from base. The
// move tests decide where NaNs end up; they are part of each kernel's contract
// because callers rely on them.

// Ascending: NaN stops every insertion that reaches it and is never passed.
// Descending: NaNs are passed by and pass everything.
void ShellSortDoubles(double* data, int count, int stride, bool descending);

// Ascending, signed.
void ShellSortInts(int32_t* values, int count);

// Keys ascending; each companion moves with its key.
void ShellSortIntPairs(int32_t* keys, int32_t* companions, int count);

// By real part, ties (and, ascending, unordered real parts) by ascending
// imaginary part in both directions. Both arrays use the stride.
void ShellSortComplex(double* re, double* im, int count, int stride, bool descending);

// By re^2 + im^2, then |im|, then im; descending reverses all three.
void ShellSortComplexByMagnitude(double* re, double* im, int count, int stride, bool descending);

// Answers < 0, 0 or > 0 as item a orders before, with or after item b.
using ItemComparison = int (*)(int a, int b, void* userData);

// Fills index with 0 .. count - 1 and orders it by compare (negated when
// descending). Ties keep their input order, so the sort is stable both ways.
void ShellSortIndicesByComparison(int count, ItemComparison compare, int32_t* index, void* userData, bool descending);

// Ascending by value, the int companion at the same strided position moving
// with it. Either side being NaN counts as out of order, so NaNs move freely.
void ShellSortDoublesWithIndex(double* data, int32_t* companions, int count, int stride);

// The keys lie contiguous; the companions use the stride. Ascending: NaN keys
// never move past anything. Descending: NaN keys pass and are passed. Equal
// keys (ascending: also unordered ones) are ordered by ascending third
// companion when it is given, else they stay. third may be null.
void ShellSortKeysWithCompanions(double* keys, double* first, double* second, int32_t* third, int count, int stride,
                                 bool descending);

// Older names of the same kernels.
inline void ShellSortPermutation(int count, ItemComparison compare, int32_t* permutation, void* record,
                                 bool descending) {
  ShellSortIndicesByComparison(count, compare, permutation, record, descending);
}

inline void ShellSortComplexByKey(double* keys, double* re, double* im, int32_t* index, int count, int stride,
                                  bool descending) {
  ShellSortKeysWithCompanions(keys, re, im, index, count, stride, descending);
}
