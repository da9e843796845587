// What the variable-access files share (variables, references, fields,
// indexedread, indexedassign): the reference that walks into a variable's
// value, the views of arrays and composites they read, and the small steps
// they all take. Internal to those files; the handlers are in engine/vm.h.
#pragma once

#include <cmath>

#include "engine/functionstore.h"
#include "engine/values/valuestack.h"

// ---------------------------------------------------------------------------
// References. An assignment never changes the variable before its final step
// (EndRefAssign, IndexVarForAssign): a step that must reshape the value (a
// placeholder for an undefined variable, a new field, a grown cell array)
// works on a copy in a new block that the reference holds as detached; the
// final step installs it in the slot. A chain that fails on the way leaves
// the variable as it was.

constexpr int kReferenceCells = 4;

struct Reference {
  uint32_t mode;     // 0 read, 1 assignment
  uint32_t two;      // always 2
  int32_t slot;      // word of the slot on the descriptor stack; -entry: a global's or persistent's store entry
  int32_t block;     // heap block of the value the reference walks in
  int32_t offset;    // cells from the block to the designated element's header; 0 the whole value
  int32_t created;   // the designated element is a placeholder made for this assignment
  int32_t variable;  // for messages
  int32_t detached;  // block is a reshaped copy not yet in the slot
};
static_assert(sizeof(Reference) == kReferenceCells * sizeof(Cell));

inline bool IsReference(const ValueDescriptor& d) { return d.kind == kLink && d.cells == kReferenceCells; }

inline Reference* ReferenceAt(EngineContext* ctx, int position) {
  return reinterpret_cast<Reference*>(DataAt(ctx, position));
}

// A variable's block starts with a header laid out like an element header
// (kind, cells; extra, name 0), so the whole value is the element at offset 0.
inline CompositeElementHeader* HeapElement(EngineContext* ctx, int32_t block, int64_t offset) {
  return reinterpret_cast<CompositeElementHeader*>(ctx->heapBase + block + offset);
}

inline CompositeElementHeader* Designated(EngineContext* ctx, const Reference* r) {
  return HeapElement(ctx, r->block, r->offset);
}

inline ValueDescriptor DescriptorOf(const CompositeElementHeader* e) { return {e->kind, e->cells, e->extra}; }

// The first element inside a composite element.
inline CompositeElementHeader* Inside(CompositeElementHeader* e) {
  return reinterpret_cast<CompositeElementHeader*>(ElementData(e));
}

inline bool IsRoomCode(StatusCode st) { return st >= kDescStackFull && st <= kCodeOverflow; }

// The word that names a variable's value block: its frame slot, or the store
// entry's position for a global or persistent.
inline int32_t* TargetWord(EngineContext* ctx, int32_t slot) {
  return slot >= 0 ? ctx->descBase + slot : &StoreEntry(ctx, -slot)->position;
}

// A detached copy takes the variable's place; the block it replaces goes.
void Commit(EngineContext* ctx, Reference* r);
// Forgets a detached copy, leaving the variable as it was.
void Abandon(EngineContext* ctx, Reference* r);
// A failure of an access step. Room failures keep the copy, so that the
// instruction can be repeated once the block has grown.
[[nodiscard]] StatusCode Fail(EngineContext* ctx, Reference* r, StatusCode st);

// Replaces the cells [at, at + remove) of the reference's value by insert
// cells, left for the caller to fill at *gap; element x (whose data holds
// them) and every element enclosing it count the difference. The value
// changes in place when it is a detached copy or final is set (the last step
// of an assignment) and its block has the room or can extend into free
// blocks after it; otherwise the reference moves to a new detached block,
// and a detached block it leaves is freed. A value that grows takes room to
// spare in its block; one that shrinks below half its block gives the rest
// back.
[[nodiscard]] StatusCode ChangeElement(EngineContext* ctx, Reference* r, int64_t x, int64_t at, int64_t remove,
                                       int64_t insert, bool final, Cell** gap);
// Whether a final ChangeElement by delta cells would find its room, so that a
// step that cannot be undone is only taken when the store after it succeeds.
bool HasRoomToChange(EngineContext* ctx, const Reference* r, int64_t delta);
// The designated element takes the value d with its cells; it keeps its name.
[[nodiscard]] StatusCode ReplaceDesignated(EngineContext* ctx, Reference* r, const ValueDescriptor& d,
                                           const Cell* data);
// Replaces the reference at a position by a copy of what it designates,
// keeping the values above it in place.
[[nodiscard]] StatusCode DereferenceAt(EngineContext* ctx, int position);

// ---------------------------------------------------------------------------
// Variables.

struct Place {
  int32_t slot;   // as in a Reference
  int32_t block;  // the value's block, -1 when undefined
};

[[nodiscard]] StatusCode LocateVariable(EngineContext* ctx, int v, Place* p);
// Raises the error of reading variable v while it has no value.
[[nodiscard]] StatusCode UndefinedVariable(EngineContext* ctx, int v);

// ---------------------------------------------------------------------------
// Views of values: arrays of numbers, characters and logicals; composites.

struct ArrayInfo {
  int ndims;
  int32_t dims[kMaxDims];
  int64_t count;
  void* re;
  void* im;
  int elementKind;
  uint32_t cls;
  int32_t subtype;
  bool isUnsigned, isChar, isLogical;
};

bool ReadArrayInfo(const ValueDescriptor& d, Cell* data, ArrayInfo* a);

inline bool IsContainer(const ValueDescriptor& d) {
  return d.kind == kComposite && d.extra >= kList && d.extra <= kStructArray;
}

// Lists read as 1 x count (0 x 0 when empty), a structure as 1 x 1.
struct CompositeView {
  int ndims;
  int32_t dims[kMaxDims + 1];
  int64_t count;   // items: elements, or structures of a structure array
  int32_t fields;  // -1 for lists and cells
  CompositeElementHeader* first;
};

bool ReadComposite(const ValueDescriptor& d, Cell* data, CompositeView* c);
// The composite a reference designates; a variable's whole value is counted
// once while the heap's layouts stay as they are.
bool ReadDesignatedComposite(EngineContext* ctx, const Reference* r, CompositeView* c);

inline CompositeElementHeader* ElementAfter(CompositeElementHeader* e, int64_t n) {
  for (int64_t k = 0; k < n; ++k) e = NextElement(e);
  return e;
}

// Field s among the n elements from e, or null.
inline CompositeElementHeader* FindField(CompositeElementHeader* e, int64_t n, SymbolId s) {
  for (int64_t k = 0; k < n; ++k, e = NextElement(e))
    if (e->name == s) return e;
  return nullptr;
}

inline int64_t CountElementsIn(CompositeElementHeader* e, int64_t cells) {
  const Cell* end = reinterpret_cast<Cell*>(e) + cells;
  int64_t n = 0;
  for (; reinterpret_cast<Cell*>(e) < end; e = NextElement(e)) ++n;
  return n;
}

// Replaces the top value by its element e (which lies inside it) in place.
void KeepElementOfTop(EngineContext* ctx, CompositeElementHeader* e);
// A cell array or list on top becomes a free list (or a list) of its items.
void MakeTopListOf(EngineContext* ctx, int32_t subtype);

// Errors of the kernels name the variable.
[[nodiscard]] StatusCode RaiseIndexError(EngineContext* ctx, StatusCode st, int v);

// ---------------------------------------------------------------------------
// Scalar indices: the common case, taken without converting the indices.

// A 1 x 1 real double given as a plain matrix: the common index.
inline bool PlainScalar(EngineContext* ctx, int position, double* x) {
  if (!IsRealScalar(*DescriptorAt(ctx, position))) return false;
  *x = DataAt(ctx, position)->f;
  return true;
}

// The position of a 1-based index value x in a dimension of size n, or -1.
inline int64_t ScalarPosition(double x, int64_t n) {
  if (!(x >= 1) || x > static_cast<double>(n) || x != std::floor(x)) return -1;
  return static_cast<int64_t>(x) - 1;
}

// The element that one or two plain scalar indices select in a plain real
// matrix, or -1 when the general path must decide (and report).
inline int64_t ScalarElement(EngineContext* ctx, int n, const ValueDescriptor& d) {
  if (d.kind != 0) return -1;
  const int64_t rows = PlainRows(d), cols = d.extra;
  double i = 0, j = 0;
  if (n == 1) {
    if (!PlainScalar(ctx, 0, &i)) return -1;
    return ScalarPosition(i, rows * cols);
  }
  if (!PlainScalar(ctx, 1, &i) || !PlainScalar(ctx, 0, &j)) return -1;
  const int64_t r = ScalarPosition(i, rows), c = ScalarPosition(j, cols);
  return r < 0 || c < 0 ? -1 : r * cols + c;
}

// The value or the element a reference designates, at a stack position.
struct Target {
  Reference* ref;  // null for a plain value
  ValueDescriptor d;
  Cell* data;
  int variable;
};

inline Target TargetAt(EngineContext* ctx, int position) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  if (!IsReference(d)) return {nullptr, d, DataAt(ctx, position), -1};
  Reference* r = ReferenceAt(ctx, position);
  CompositeElementHeader* e = Designated(ctx, r);
  return {r, DescriptorOf(e), ElementData(e), r->variable};
}

// ---------------------------------------------------------------------------
// Fields.

[[nodiscard]] StatusCode FieldOfValue(EngineContext* ctx, SymbolId s);
// Moves a reference on top into field s of the structure it designates; in
// assignment mode a missing field is appended as a placeholder.
// With `following`, the instructions after this field step: when it creates
// the field and nothing but field steps follow to the end of the assignment,
// the whole chain of new fields is made at once.
[[nodiscard]] StatusCode FieldAtReference(EngineContext* ctx, Reference* r, SymbolId s,
                                          const int16_t* following = nullptr);
// Interns the field name on top and pops it.
[[nodiscard]] StatusCode PopFieldName(EngineContext* ctx, SymbolId* s);

// ---------------------------------------------------------------------------
// Composite rebuilding: new contents are composed in scratch space at the far
// end of the data stack, then copied over the designated element's data.

// Writes a CellDimsElement of a cell array's (or structure array's) entries.
inline Cell* WriteDims(Cell* at, const int32_t* entries, int k) {
  WriteDimsElement(at, entries, k);
  return at + DimsElementCells(k);
}

// Installs cells of new content as the designated element's data.
[[nodiscard]] StatusCode InstallContent(EngineContext* ctx, Reference* r, const Cell* content, int64_t cells,
                                        int32_t subtype, bool final);
// Grows the list or cell array the reference designates to new dims (a list
// stays one row); old items keep their subscripts, new places hold [].
[[nodiscard]] StatusCode GrowCellArrayAtReference(EngineContext* ctx, Reference* r, const CompositeView& c,
                                                  int32_t subtype, int nd, const int32_t* dims);
// An assignment whose store follows a growth at once: the new dims, the item
// (linear, among the new items) that receives the value, the field of it for a
// structure array (0 for lists and cells), and the value to store.
struct GrowthToStore {
  int ndims;
  const int32_t* dims;
  int64_t item;
  SymbolId field;
  ValueDescriptor value;
  const Cell* data;
};
// Grows the list, cell array or structure array the reference designates by
// items appended in storage order, storing the value into its item as the
// assignment's final step, so that nothing has to be undone and nothing is
// copied but the new items. *taken false (nothing done) when the growth does
// not append or the value cannot be stored; the general path then decides.
[[nodiscard]] StatusCode AppendItemsAtReference(EngineContext* ctx, Reference* r, const CompositeView& c,
                                                const GrowthToStore& g, bool* taken);
// c(k) = {v} past the end of the list or cell array that the reference at
// position k designates, with the new value under it: its one item is
// appended as for c{k} = v, and the stack is left as the assignment leaves it.
// *taken false (nothing done) for any other assignment.
[[nodiscard]] StatusCode AppendItemByParentheses(EngineContext* ctx, int n, uint32_t colonMask, int k, bool* taken);
// Rebuilds the structure or structure array the reference designates as a
// structure array of new dims (at least the old ones) and, with add, one more
// field of that name at the end of every structure. New structures take the
// first structure's field names; new places hold [].
[[nodiscard]] StatusCode ReshapeStructsAtReference(EngineContext* ctx, Reference* r, const CompositeView& c, int nd,
                                                   const int32_t* dims, SymbolId add);
