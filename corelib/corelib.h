// The core function library's public face. For now: the in-place Shell-sort
// kernels that sort, unique, orderfields, the numerical library, the contour
// body and the engine's indexing routines share.
#pragma once

#include <cstdint>

#include "engine/engine.h"

// The table the host installs with InstallCoreLibrary after InitEngineContext.
const CoreLibraryTable* GetCoreLibraryTable();

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

// ---------------------------------------------------------------------------
// Value display. Every display formats into the free data space above the
// stack top and writes it out in pieces, polling for a break after each (501).

struct EngineContext;
using StatusCode = int32_t;

// Shows the value on top on the descriptor; with drop it is popped after a
// successful display. 44 for a value that has no display of its own.
[[nodiscard]] StatusCode DisplayTopValue(EngineContext* ctx, int32_t descriptor, bool drop);
// The automatic display of an unterminated statement: "name =" and the value.
// Without allowObjects a class instance answers 44 after the name line.
[[nodiscard]] StatusCode DisplayStatementResult(EngineContext* ctx, int32_t variable, bool allowObjects, bool drop);
// A summary such as "2x3 int8 array" appended at *position; class code 0
// double, -1 single, -2 cell, -3 struct array, 1/2/4/8 integer bytes.
void AppendArraySummary(char* buffer, int size, int* position, int classCode, bool isUnsigned, bool isLogical,
                        bool isChar, int ndims, const int32_t* dims, int32_t fieldCount);
// The builtin opcodes disp (one input) and format (ins[1]: 0 to 2 inputs).
[[nodiscard]] StatusCode DispBuiltin(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode FormatBuiltin(EngineContext* ctx, const int16_t* ins);

// ---------------------------------------------------------------------------
// Elementwise arithmetic. The operands are the top two values (the second on
// top); one result takes their place. Selectors: '+' '-' '*' '/' '\' '%'
// (rem) 'o' (mod) '^' (power) 'r' (realpow). 44 for an operand that is not
// numeric, character or logical; 20 for unequal non-scalar sizes; 43 for rem
// and mod on complex values; 107 for powers of integer classes.

struct EngineContext;
using StatusCode = int32_t;

[[nodiscard]] StatusCode ApplyElementwiseArithmetic(EngineContext* ctx, char selector);
// In place on the top value; character and logical arrays become number arrays
// of their class under uminus and uplus. 44 for any other kind of value.
[[nodiscard]] StatusCode Uminus(EngineContext* ctx);
[[nodiscard]] StatusCode Uplus(EngineContext* ctx);
[[nodiscard]] StatusCode Conj(EngineContext* ctx);
// (ar + i ai) ^ (br + i bi); any power of 0 + 0i with a negative real part is
// Inf, with no real part NaN.
void ComputeComplexPower(double ar, double ai, double br, double bi, double* re, double* im);
// Builtin opcodes: plus minus times rdivide ldivide rem mod power realpow, and
// the unary ones.
[[nodiscard]] StatusCode ElementwiseArithmeticOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode UminusOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode UplusOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode ConjOpcode(EngineContext* ctx, const int16_t* ins);

// ---------------------------------------------------------------------------
// Concatenation and reshaping. The operands are the top values (the last on
// top); the result takes their place.

struct EngineContext;
using StatusCode = int32_t;
using SymbolId = int32_t;

// Joins n values along dimension 1 (vertcat), 2 (horzcat) or, with -1, the
// dimension given by the deepest operand (cat). The first operand decides
// the class; cells and structures join through their element offset tables.
[[nodiscard]] StatusCode ConcatenateValues(EngineContext* ctx, int n, int dimension);
// The builtin opcodes horzcat (free lists among the operands spread first),
// vertcat and cat {n}.
[[nodiscard]] StatusCode ConcatenateOpcode(EngineContext* ctx, const int16_t* ins);
// Makes the structure or structure array on top a structure array carrying
// exactly these fields in this order; a missing field holds [].
[[nodiscard]] StatusCode ConformStructFields(EngineContext* ctx, const SymbolId* names, int count);
// reshape with n operands, or squeeze with n = -1.
[[nodiscard]] StatusCode ReshapeValue(EngineContext* ctx, int n);
// permute (inverse 0) or ipermute (1) of the value below the order vector.
[[nodiscard]] StatusCode PermuteDimensions(EngineContext* ctx, int inverse);
// Operands (size vector, subscripts...) and (size vector, indices); ind2sub
// pushes one array per output, the first output on top.
[[nodiscard]] StatusCode sub2ind(EngineContext* ctx, int n);
[[nodiscard]] StatusCode ind2sub(EngineContext* ctx, int outputs);
[[nodiscard]] StatusCode ReshapeOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode SqueezeOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode PermuteOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode IpermuteOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode Sub2indOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode Ind2subOpcode(EngineContext* ctx, const int16_t* ins);

// ---------------------------------------------------------------------------
// Comparisons and logical operations on the top two values (one for the
// classification and not); one logical result takes their place.

// Selectors '=' '~' '<' '>' 'L' (<=) 'G' (>=). Operands of mixed classes are
// compared in their common class; NaN compares unequal to everything.
[[nodiscard]] StatusCode CompareElementwise(EngineContext* ctx, char operation);
// '&', '|' or '^' (xor) of both operands taken as logical; 44 for single.
[[nodiscard]] StatusCode CombineLogicalElementwise(EngineContext* ctx, char operation);
// 'f' isfinite, 'i' isinf, 'n' isnan of a double array; 44 for other classes.
[[nodiscard]] StatusCode ClassifyFloatElements(EngineContext* ctx, char kind);
// same (negate 0) and unsame (1): identical descriptors and data cells.
[[nodiscard]] StatusCode CompareValuesIdentical(EngineContext* ctx, int negate);
[[nodiscard]] StatusCode CompareOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode LogicalCombineOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode ClassifyOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode SameOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode NotOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode LogicalOpcode(EngineContext* ctx, const int16_t* ins);

// ---------------------------------------------------------------------------
// Type tests and conversions. An array here is a numeric, char or logical
// array; conversions to an integer class keep the low bytes of the value
// truncated toward zero (TruncateToInt64) and never fail on range.

// The class tests take any value and answer a logical scalar in its place.
// isinteger counts char and logical arrays as integers.
[[nodiscard]] StatusCode ischar(EngineContext* ctx);
[[nodiscard]] StatusCode islogical(EngineContext* ctx);
[[nodiscard]] StatusCode isnumeric(EngineContext* ctx);
[[nodiscard]] StatusCode isfloat(EngineContext* ctx);
[[nodiscard]] StatusCode isinteger(EngineContext* ctx);
// One element; two dimensions with at most one row or column ([] counts).
// 44 for a value that is not an array.
[[nodiscard]] StatusCode isscalar(EngineContext* ctx);
[[nodiscard]] StatusCode isvector(EngineContext* ctx);
// In place on the top value. 44 for a value that is not an array.
[[nodiscard]] StatusCode ConvertTopToFloatClass(EngineContext* ctx, bool toSingle);
// char of the top n values (setstr: n = 1): one keeps its shape; several
// two-dimensional ones (21 otherwise) stack their rows, padded with blanks.
[[nodiscard]] StatusCode ConvertToChar(EngineContext* ctx, int n);
// Operands (value, class name); typecast 1 reads the bytes as the named class
// (21 when they do not divide). 108 for a name it does not know.
[[nodiscard]] StatusCode CastValue(EngineContext* ctx, int typecast);
// Reverses each element's bytes in place; complex values lose their imaginary part.
[[nodiscard]] StatusCode swapbytes(EngineContext* ctx);
// The builtin opcodes: the seven tests, double and single, char and setstr,
// cast and typecast, swapbytes.
[[nodiscard]] StatusCode TypeTestOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode FloatClassOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode CharOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode CastOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode SwapbytesOpcode(EngineContext* ctx, const int16_t* ins);

// ---------------------------------------------------------------------------
// Arrays from sizes and constants, and size queries. Inputs are the top
// nargin values (the last on top); one result takes their place. Sizes: no
// argument is 1 x 1; one scalar n is n x n (109 above 16383); one vector
// lists the dimensions (109 for more than 16); several real scalars are one
// dimension each (104 otherwise). A size not above 0 (NaN included) makes the
// builder's empty value; more than 2^31 - 1 elements is 109.

struct RandomGeneratorState;

// Selectors 'c' cell, 'z' zeros, 'o' ones, 'e' eye, 'r' rand, 'n' randn.
// zeros, ones and eye take a class name last (108 for an unknown one).
[[nodiscard]] StatusCode BuildFilledArray(EngineContext* ctx, char selector, int nargin);
// 't' true, 'f' false.
[[nodiscard]] StatusCode BuildLogicalArray(EngineContext* ctx, char selector, int nargin);
// 'i' inf, 'n' nan, 'm' realmin, 'M' realmax; a last "double" or "single"
// chooses the class. Size arguments of another kind answer 43.
[[nodiscard]] StatusCode BuildSpecialValueArray(EngineContext* ctx, char selector, int nargin);
// The spacing of doubles (singles) at each element, with the element's sign;
// or eps('double'), eps('single'). 43 for other values.
[[nodiscard]] StatusCode eps(EngineContext* ctx, int nargin);
// a + i b of two double arrays, scalars expanded; complex even when b is 0.
[[nodiscard]] StatusCode complex(EngineContext* ctx);
[[nodiscard]] StatusCode imag(EngineContext* ctx);
[[nodiscard]] StatusCode ndims(EngineContext* ctx);
// size(x), [d1, d2, ...] = size(x) and size(x, dim).
[[nodiscard]] StatusCode size(EngineContext* ctx, int nargin, int nargout);
[[nodiscard]] StatusCode ComputeLengthOrNumel(EngineContext* ctx, bool length);
// One list of the elements of n lists and cell arrays, in order.
[[nodiscard]] StatusCode join(EngineContext* ctx, int n);
[[nodiscard]] StatusCode ArrayBuilderOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode SizeQueryOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode ComplexOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode ImagOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode JoinOpcode(EngineContext* ctx, const int16_t* ins);

// ---------------------------------------------------------------------------
// Random numbers from the running thread's two generators, {0, 1} in a fresh
// engine and in every new thread.

// One step: the next uniform number in [0, 1), a whole multiple of 2^-32.
double StepRandomGenerator(RandomGeneratorState* state);
// 'n': a normally distributed number from the normal state (two steps, more
// only when the first is 0); any other kind a uniform one.
double DrawRandomNumber(EngineContext* ctx, char kind);
// rand('s') / randn('s'): the state as a column [lcg; xorshift];
// rand('s', v): v's one or two elements set it (21 for another count, 43
// for a value that is not a double matrix, 124 for a third input).
[[nodiscard]] StatusCode AccessRandomState(EngineContext* ctx, char kind, int nargin);

// ---------------------------------------------------------------------------
// Matrix operators on the top two values (inv and det: the top value); one
// result takes their place. Non-square divisions call the native "pinv"
// (26 without one); a singular matrix gives Inf or NaN, never an error.

// C = A B, row by row, each C(i, j) summed over increasing k; C (m x p) need
// not be cleared. Complex operands are a real block followed by an imaginary one.
void MultiplyRealMatrices(int m, int n, int p, const double* a, const double* b, double* c);
void MultiplyComplexMatrices(int m, int n, int p, const double* a, const double* b, double* c);
[[nodiscard]] StatusCode mtimes(EngineContext* ctx);
[[nodiscard]] StatusCode mrdivide(EngineContext* ctx);
[[nodiscard]] StatusCode mldivide(EngineContext* ctx);
[[nodiscard]] StatusCode mpower(EngineContext* ctx);
[[nodiscard]] StatusCode inv(EngineContext* ctx);
[[nodiscard]] StatusCode det(EngineContext* ctx);
// The builtin opcodes mtimes, mrdivide, mldivide, mpower, inv and det.
[[nodiscard]] StatusCode MatrixOperatorOpcode(EngineContext* ctx, const int16_t* ins);

// ---------------------------------------------------------------------------
// Polynomials and filters over double vectors and matrices; the inputs are
// the top nargin values, the first output ends on top.

// conv(u, v [, dim]): 34 for a dim other than 1 or 2, 20 for operands that
// do not match across the dimension.
[[nodiscard]] StatusCode conv(EngineContext* ctx, int nargin);
// conv2(A, B [, shape]): "full", "same", "valid" or 'f', 's', 'v' (108 else);
// polls for a break after each result row (501).
[[nodiscard]] StatusCode conv2(EngineContext* ctx, int nargin);
// [q, r] = deconv(y, a) by long division in y's storage.
[[nodiscard]] StatusCode deconv(EngineContext* ctx, int nargout);
// [y, zf] = filter(b, a, x [, zi [, dim]]), transposed direct form II.
[[nodiscard]] StatusCode filter(EngineContext* ctx, int nargin, int nargout);
// Sum of two polynomials aligned on their last row and column.
[[nodiscard]] StatusCode addpol(EngineContext* ctx);
// The builtin opcodes conv, conv2, deconv, filter and addpol.
[[nodiscard]] StatusCode PolynomialOpcode(EngineContext* ctx, const int16_t* ins);

// Reductions along a dimension. Inputs are the top nargin values (x deepest);
// one result takes their place. A dimension argument is 1-based (34 below 1);
// without one the first dimension longer than 1 is reduced, else the rows.
// Everything but double arrays is refused with 44 (any and all also take the
// integer classes, char and logical).

// Selectors 's' sum, 'p' prod, 'm' mean, 'v' var, 't' std, 'M' moment,
// 'e' skewness, 'k' kurtosis. var and std take (x, normalise, dim), moment
// (x, order, dim).
[[nodiscard]] StatusCode ReduceAlongDimension(EngineContext* ctx, char selector, int nargin);
// cumsum (product 0) and cumprod (1), in place on x.
[[nodiscard]] StatusCode AccumulateAlongDimension(EngineContext* ctx, int product, int nargin);
// A logical result; an x without elements gives a scalar whatever its dims.
[[nodiscard]] StatusCode ReduceAnyAll(EngineContext* ctx, bool all, int nargin);
[[nodiscard]] StatusCode cov(EngineContext* ctx, int nargin);
[[nodiscard]] StatusCode trace(EngineContext* ctx);
[[nodiscard]] StatusCode ReductionOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode TraceOpcode(EngineContext* ctx, const int16_t* ins);

// ---------------------------------------------------------------------------
// min and max (max 0 or 1) of one array along a dimension, (x, [], dim), or of
// two arrays elementwise; find (x [, n [, 'first'|'last']]) and nnz. Several
// outputs are pushed last first, so the first ends on top.

[[nodiscard]] StatusCode FindMinOrMax(EngineContext* ctx, int max, int nargin, int nargout);
[[nodiscard]] StatusCode find(EngineContext* ctx, int nargin, int nargout);
[[nodiscard]] StatusCode nnz(EngineContext* ctx);
[[nodiscard]] StatusCode MinMaxOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode FindOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode NnzOpcode(EngineContext* ctx, const int16_t* ins);

// ---------------------------------------------------------------------------
// colon over every numeric class (integer ranges counted in 128 bits, 104 for
// non-scalar integer or single bounds, 43 for other non-scalar ones), the
// transposes (N-D values, cells and structure arrays through permute),
// isempty, magic, cross and dot (real double arrays only).

[[nodiscard]] StatusCode colon(EngineContext* ctx, int nargin);
[[nodiscard]] StatusCode transpose(EngineContext* ctx);
[[nodiscard]] StatusCode ctranspose(EngineContext* ctx);
[[nodiscard]] StatusCode isempty(EngineContext* ctx);
[[nodiscard]] StatusCode magic(EngineContext* ctx);
[[nodiscard]] StatusCode cross(EngineContext* ctx, int nargin);
[[nodiscard]] StatusCode dot(EngineContext* ctx, int nargin);
[[nodiscard]] StatusCode ColonOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode TransposeOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode IsemptyOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode MagicOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode VectorProductOpcode(EngineContext* ctx, const int16_t* ins);

// ---------------------------------------------------------------------------
// Lists, cell arrays and structures. Inputs are the top nargin values (the
// last on top); the result takes their place. Field names are interned
// (204 empty, 205 beyond 32 bytes); a name given twice is 107.

// An r x c structure array of f fields has the element order of a c x f x r
// cell array (rows stored first): flag 0 relabels the cell array on top as
// that structure array, flag 1 back, without moving an element; N-d: cell
// [e1 e2 e3 e4 ...] is structure [e3 e1 e4 ...] of e2 fields. 43 for a value
// of another kind.
[[nodiscard]] StatusCode RelabelCellAsStructArray(EngineContext* ctx, int flag);
// Elements (or the pieces spanning the dims listed) of an array as a cell
// array of its shape; num2list: a list, or the slabs along dim.
[[nodiscard]] StatusCode num2cell(EngineContext* ctx, int nargin);
[[nodiscard]] StatusCode num2list(EngineContext* ctx, int nargin);
[[nodiscard]] StatusCode list2num(EngineContext* ctx);
// islist (flag 0): a list; iscell (1): a list or a cell array.
[[nodiscard]] StatusCode TestListOrCell(EngineContext* ctx, int flag);
[[nodiscard]] StatusCode replist(EngineContext* ctx);
// struct(), struct(s) and struct(name, value, ...); structarray(name, values, ...).
[[nodiscard]] StatusCode struct_(EngineContext* ctx, int nargin);
[[nodiscard]] StatusCode structarray(EngineContext* ctx, int nargin);
// A structure's f fields as an f x 1 cell; a d1 x d2 x ... structure array's
// as an f x d1 x d2 x ... cell array.
[[nodiscard]] StatusCode struct2cell(EngineContext* ctx);
[[nodiscard]] StatusCode cell2struct(EngineContext* ctx, int nargin);
[[nodiscard]] StatusCode isstruct(EngineContext* ctx);
[[nodiscard]] StatusCode isfield(EngineContext* ctx);
[[nodiscard]] StatusCode getfield(EngineContext* ctx);
[[nodiscard]] StatusCode setfield(EngineContext* ctx);
[[nodiscard]] StatusCode rmfield(EngineContext* ctx);
[[nodiscard]] StatusCode fieldnames(EngineContext* ctx);
// Two outputs: the structure on top, the f x 1 permutation below it.
[[nodiscard]] StatusCode orderfields(EngineContext* ctx, int nargin, int nargout);
[[nodiscard]] StatusCode StructOpcode(EngineContext* ctx, const int16_t* ins);

// ---------------------------------------------------------------------------
// Sorting and set operations. NaN sorts after every number ascending and
// before every number descending; it equals nothing, so unique keeps each
// NaN and no set operation finds one common. Positions are 1-based doubles;
// several outputs end with the first on top.

// sort(x [, dim] [, mode]): mode 'a...' or 'd...' (108 for another letter or
// for a third input that is not text), dim from 1 (34 below). A list or cell
// array of strings sorts into a list (43 for an element that is not text,
// 124 with a dimension).
[[nodiscard]] StatusCode sort(EngineContext* ctx, int nargin, int nargout);
// [values, i, j] = unique(x).
[[nodiscard]] StatusCode unique(EngineContext* ctx, int nargout);
// 'u' union, 'i' intersect, 'd' setdiff (126 for three outputs), 'x' setxor,
// 'm' ismember, of the top two values.
[[nodiscard]] StatusCode CombineSets(EngineContext* ctx, char selector, int nargout);
[[nodiscard]] StatusCode SortingOpcode(EngineContext* ctx, const int16_t* ins);

// ---------------------------------------------------------------------------
// Array rearrangement. Lists, cells and structures are flipped, rotated and
// tiled through their element position tables. Result sizes are counted in
// 64 bits: beyond 2^31 - 1 elements is 109, before anything is pushed.

// diff(x [, n [, dim]]): n passes of first differences of a double array;
// n from its length on gives [].
[[nodiscard]] StatusCode diff(EngineContext* ctx, int nargin);
[[nodiscard]] StatusCode kron(EngineContext* ctx);
// Flag 0 flipdim (the dimension on top), 1 flipud, 2 fliplr.
[[nodiscard]] StatusCode FlipAlongDimension(EngineContext* ctx, int flag);
[[nodiscard]] StatusCode rot90(EngineContext* ctx, int nargin);
[[nodiscard]] StatusCode diag(EngineContext* ctx, int nargin);
// tril (upper false) and triu, in place.
[[nodiscard]] StatusCode TriangularPart(EngineContext* ctx, bool upper, int nargin);
// repmat(A, m, n) or (A, counts): a count below 1 (NaN too) gives an empty value.
[[nodiscard]] StatusCode repmat(EngineContext* ctx, int nargin);
// ndgrid (mesh false) and meshgrid; the first output ends on top.
[[nodiscard]] StatusCode BuildGridArrays(EngineContext* ctx, bool mesh, int nargin, int nargout);
[[nodiscard]] StatusCode RearrangeOpcode(EngineContext* ctx, const int16_t* ins);

// Elementary functions of double arrays, real or complex, in place on the top
// value (44 for any other value; 1000 for a selector the handler does not
// know). A real array turns complex where an element leaves the real domain
// (log, log10, log2 and sqrt below 0, asin and acos outside -1 to 1, acosh
// below 1, atanh outside -1 to 1; NaN too). For the circular and hyperbolic
// families a lower-case selector is the function itself and the reciprocal
// flag inverts its result (sec, csc, cot ...); an upper-case selector is the
// inverse function and the flag inverts its argument (asec, acsc, acot ...).

[[nodiscard]] StatusCode abs(EngineContext* ctx);
[[nodiscard]] StatusCode angle(EngineContext* ctx);
[[nodiscard]] StatusCode sign(EngineContext* ctx);
// 't' fix, 'f' floor, 'c' ceil, 'r' round (halves up); both parts of a complex value.
[[nodiscard]] StatusCode RoundElements(EngineContext* ctx, char selector);
// 'e' exp, 'E' expm1, 'l' log, '1' log10, 'L' log1p, '2' log2, 's' sqrt.
[[nodiscard]] StatusCode ApplyExpLogFunction(EngineContext* ctx, char selector);
// 'l' reallog, 's' realsqrt of the real parts; NaN below 0.
[[nodiscard]] StatusCode ApplyRealLogOrSqrt(EngineContext* ctx, char selector);
// 's' sin, 'c' cos, 't' tan, 'n' sinc (no reciprocal), 'S' asin, 'C' acos, 'T' atan.
[[nodiscard]] StatusCode ApplyTrigFunction(EngineContext* ctx, char selector, int reciprocal);
// 's' sinh, 'c' cosh, 't' tanh, 'S' asinh, 'C' acosh, 'T' atanh.
[[nodiscard]] StatusCode ApplyHyperbolicFunction(EngineContext* ctx, char selector, int reciprocal);
// atan2(y, x) of the real parts of two double arrays, a scalar expanded (20
// for other unequal sizes); a real result replaces both.
[[nodiscard]] StatusCode atan2(EngineContext* ctx);
// The builtin opcodes abs ... realsqrt and atan2.
[[nodiscard]] StatusCode ElementaryOpcode(EngineContext* ctx, const int16_t* ins);

// ---------------------------------------------------------------------------
// Character and string functions over char arrays (44 for other operands,
// 1000 for a selector the handler does not know). Letter case is ASCII only.

// The index of the first code that is (stopAtMember) or is not in the set;
// count when there is none.
int64_t FindCharInSet(const uint16_t* codes, int64_t count, const uint16_t* set, int64_t setCount, bool stopAtMember);
// 'l' isletter, 'd' isdigit, 's' isspace (space, tab, LF, CR): a logical array of the same size.
[[nodiscard]] StatusCode ClassifyCharacters(EngineContext* ctx, char kind);
// 'u' upper, 'l' lower, in place.
[[nodiscard]] StatusCode ChangeLetterCase(EngineContext* ctx, char direction);
// strcmp and strcmpi (ignoreCase 1) of n = 2 or 3 operands; the third is a
// prefix length (107 for NaN). Shapes are ignored.
[[nodiscard]] StatusCode CompareStrings(EngineContext* ctx, int ignoreCase, int n);
// The 1-based positions of the pattern in the text, overlaps included; [] for none.
[[nodiscard]] StatusCode findstr(EngineContext* ctx);
// The index of the first candidate (row of a char matrix or list element)
// that begins with the text; a mode starting with 'e' asks for equal length
// (108 for another mode, 43 for a list element that is not text).
[[nodiscard]] StatusCode strmatch(EngineContext* ctx, int n);
// [token, remainder] = strtok(text [, delimiters]); the token ends on top.
[[nodiscard]] StatusCode strtok(EngineContext* ctx, int inputs, int outputs);
// deblank (bothEnds 0) and strtrim (1): NUL, tab, LF, CR and space removed;
// the result is one row.
[[nodiscard]] StatusCode TrimBlanks(EngineContext* ctx, int bothEnds);
// The builtin opcodes isletter ... strtok.
[[nodiscard]] StatusCode StringOpcode(EngineContext* ctx, const int16_t* ins);

// Formatted text in and out. The scans take their format from the top value
// (a char array, else 107) and push their results above it, the first output
// on top: the values (a char row when only c and s conversions stored any,
// else a column of doubles), the count of conversions, the text position
// reached. 3 when the values do not fit; the stacks are then as they were.

[[nodiscard]] StatusCode ScanFormattedText(EngineContext* ctx, const uint16_t* text, int64_t length, int nargout);
[[nodiscard]] StatusCode ScanFormattedBytes(EngineContext* ctx, const char* text, int64_t length, int nargout);
// Reads the rest of a line in line mode after the `already` bytes of earlier
// attempts, up to maximum bytes in all; end of input is success with what
// was read; strip drops a final line feed. 502 when no byte is there yet.
[[nodiscard]] StatusCode ReadLineIntoBuffer(EngineContext* ctx, int32_t descriptor, bool strip, char* buffer,
                                            int32_t already, int32_t maximum, int32_t* count);
// A suspended fgetl, fgets or fscanf keeps what it read on the data stack
// under a tagged integer (the bytes read so far) and is called again.
[[nodiscard]] StatusCode ReadTextLine(EngineContext* ctx, int nargin, bool strip);
// The builtin opcodes sprintf, fprintf, sscanf, fscanf, and fgetl and fgets.
[[nodiscard]] StatusCode SprintfOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode FprintfOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode SscanfOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode FscanfOpcode(EngineContext* ctx, const int16_t* ins);
[[nodiscard]] StatusCode FgetlOpcode(EngineContext* ctx, const int16_t* ins);

// Natives of the engine's own library. md5 and sha1 hash a text's low
// bytes, every byte of an integer or logical array, or all a descriptor
// holds, giving lower-case hexadecimal; a descriptor read that must wait
// (502) keeps its state on the stack and the repeated call goes on from it.
// utf8encode and utf8decode convert between texts and uint8 rows; malformed
// UTF-8 is dropped byte by byte.
[[nodiscard]] StatusCode Md5Native(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode Sha1Native(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode Utf8EncodeNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode Utf8DecodeNative(EngineContext* ctx, int nargin, int nargout, void* userData);

// ---------------------------------------------------------------------------
// Raw bytes and descriptors. A precision names the element format of the
// bytes: "int8" ... "uint64", "char", "uchar", "single", "double", each also
// with ";l" (little-endian, as the plain names) and ";b" (big-endian).

struct PrecisionRecord {
  char name[12];  // NUL-terminated
  uint32_t size;  // bytes per element: 1, 2, 4 or 8
  uint8_t isUnsigned;
  uint8_t bigEndian;  // only ever set for sizes above 1
  uint8_t isChar;
  uint8_t isFloat;
};

// The 36 records in order, then an all-zero one.
const PrecisionRecord* GetPrecisionRecords();
// Reads the top value as a precision name (109 beyond 11 characters, 44 for a
// value that is not text, 108 for an unknown name). With keepClass asked, a
// leading "*" sets it. isChar and keepClass may be null.
[[nodiscard]] StatusCode ParsePrecisionName(EngineContext* ctx, uint32_t* size, bool* isUnsigned, bool* bigEndian,
                                            bool* isChar, bool* isFloat, bool* keepClass);
// fread, whose reads past the free data space answer 3 with the descriptor
// put back where it was, and sread.
[[nodiscard]] StatusCode FreadOpcode(EngineContext* ctx, const int16_t* ins);
// fwrite, swrite and bwrite.
[[nodiscard]] StatusCode FwriteOpcode(EngineContext* ctx, const int16_t* ins);
// fclose, redirect, fflush, fseek, ftell, feof and clc.
[[nodiscard]] StatusCode DescriptorOpcode(EngineContext* ctx, const int16_t* ins);

// ---------------------------------------------------------------------------
// Natives of the static native table (handler(context, inputs, outputs,
// selector)); each leaves its results in place of its inputs.

// Generic calls. apply, map, cellfun and fevalx call their function value
// through the machine's re-entry and keep their state on the value stack;
// sandbox runs a text in a new sandboxed frame, sandboxtrust lets a user
// function run with full rights from there, and str2obj runs a safe data
// expression nested.
[[nodiscard]] StatusCode ApplyNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode MapNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode CellfunNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode FevalxNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode SandboxNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode SandboxTrustNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode Str2objNative(EngineContext* ctx, int nargin, int nargout, void* selector);

// Bit functions. Doubles are seen as the low 32 bits of TruncateToInt64(x)
// (64 bits for the Gray code); integer, char (16-bit) and logical (8-bit)
// arrays bit for bit. bitand, bitor, bitxor ('&' '|' '^'), bitall, bitany
// ('&' '|') and graycode, igraycode ('g' 'i') tell their operation by selector.
[[nodiscard]] StatusCode BitGetNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode BitSetNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode BitwiseNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode BitCmpNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode BitShiftNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode BitReduceNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode GrayCodeNative(EngineContext* ctx, int nargin, int nargout, void* selector);

// Base64 with the standard alphabet and '=' padding. Encoding writes lines of
// 60 characters joined by line feeds; decoding skips every character outside
// the alphabet. Both answer 3 when the buffer is too small.
[[nodiscard]] StatusCode EncodeBase64(const uint8_t* data, int64_t length, char* buffer, int64_t size,
                                      int64_t* written);
[[nodiscard]] StatusCode DecodeBase64(const char* text, int64_t length, uint8_t* buffer, int64_t size,
                                      int64_t* written);
// Decodes the next group of four alphabet characters from text[*position]
// (text[end] is past the data) into bytes[0..*count), 0 to 3 bytes, and leaves
// *position after the group. Fewer than three bytes end the data: a '=' in
// the third or fourth place, the end of the text, or a '=' in the first or
// second place, which ends it with none.
void DecodeBase64Quartet(const char* text, int64_t end, int64_t* position, uint8_t* bytes, int* count);
// base64encode ('e') and base64decode ('d').
[[nodiscard]] StatusCode Base64Native(EngineContext* ctx, int nargin, int nargout, void* selector);

// Integer classes: map2int, and intmax ('a') and intmin ('i').
[[nodiscard]] StatusCode Map2IntNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode IntLimitNative(EngineContext* ctx, int nargin, int nargout, void* selector);

// Dates: clock (the local time now, seconds with milliseconds), and Julian
// dates to and from calendar dates.
[[nodiscard]] StatusCode ClockNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode Cal2JulianNative(EngineContext* ctx, int nargin, int nargout, void* selector);
[[nodiscard]] StatusCode Julian2CalNative(EngineContext* ctx, int nargin, int nargout, void* selector);
// The local calendar fields of a time since 1970 (UTC): [year month day hour
// minute second], the seconds with the milliseconds as their fraction.
void LocalClockFields(int64_t unixSeconds, int milliseconds, double fields[6]);
