// Fields: reading field s of a structure, of every structure of a structure
// array, or of an object part a method may read; and the step of a
// reference into a field, which an assignment may append.
#include <cstring>

#include "engine/bytecode.h"
#include "engine/frames.h"
#include "engine/objects.h"
#include "engine/variableaccess.h"
#include "engine/vm.h"

namespace {

// Replaces a structure array on top by the free list of field s of each of
// its structures, in place.
[[nodiscard]] StatusCode CollectFieldOfStructArray(EngineContext* ctx, SymbolId s) {
  CompositeView c;
  if (!ReadComposite(*DescriptorAt(ctx, 0), TopData(ctx), &c)) return kWrongType;
  CompositeElementHeader* e = c.first;
  for (int64_t i = 0; i < c.count; ++i, e = ElementAfter(e, c.fields))
    if (FindField(e, c.fields, s) == nullptr) return RaiseError(ctx, kUndefField, -1, s, -1, nullptr);
  Cell* out = TopData(ctx);
  Cell* write = out;
  e = c.first;
  for (int64_t i = 0; i < c.count; ++i) {
    CompositeElementHeader* next = ElementAfter(e, c.fields);
    CompositeElementHeader* f = FindField(e, c.fields, s);
    const int64_t span = ElementSpan(f);
    std::memmove(write, f, span * sizeof(Cell));
    reinterpret_cast<CompositeElementHeader*>(write)->name = 0;
    write += span;
    e = next;
  }
  ValueDescriptor* d = DescriptorAt(ctx, 0);
  ctx->dataTop -= static_cast<int32_t>(d->cells - (write - out));
  *d = {kComposite, static_cast<int32_t>(write - out), kFreeList};
  return kOk;
}

[[nodiscard]] StatusCode FieldStep(EngineContext* ctx, SymbolId s) {
  if (IsReference(*DescriptorAt(ctx, 0))) return FieldAtReference(ctx, ReferenceAt(ctx, 0), s);
  return FieldOfValue(ctx, s);
}

constexpr int32_t kMaxChainDepth = 1 << 24;

// 1 plus the field steps that follow, when they run to the end of the
// assignment; else 1.
int32_t NewFieldChainDepth(const int16_t* following) {
  if (following == nullptr) return 1;
  int32_t depth = 1;
  const int16_t* q = following;
  for (; q[0] == static_cast<int16_t>(Op::GetField) && depth < kMaxChainDepth; q += 2) ++depth;
  return q[0] == static_cast<int16_t>(Op::EndRefAssign) ? depth : 1;
}

// Interns the field name on top, leaving it there.
[[nodiscard]] StatusCode ReadFieldName(EngineContext* ctx, SymbolId* s) {
  if (!IsCharArg(ctx, 0)) return kWrongType;
  const ArrayView a = ReadArray(DataAt(ctx, 0));
  if (a.count == 0) return RaiseError(ctx, kUndefField, -1, 0, -1, nullptr);
  // A name too long to be a field's shows in the message by its start.
  constexpr int kShown = 48;
  char name[kShown + 4];
  const int64_t length = std::min<int64_t>(a.count, kShown);
  const auto* codes = reinterpret_cast<const uint16_t*>(a.data);
  for (int64_t k = 0; k < length; ++k) name[k] = static_cast<char>(codes[k] & 0xFF);
  if (a.count > kVariableNameBytes) {
    if (a.count > kShown) std::memcpy(name + kShown, "...", 3);
    return RaiseError(ctx, kNameTooLong, -1, 0, a.count > kShown ? kShown + 3 : length, name);
  }
  return InternSymbol(ctx, name, static_cast<int>(length), kVariableNameBytes, s);
}

}  // namespace

StatusCode FieldOfValue(EngineContext* ctx, SymbolId s) {
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  if (d.kind != kComposite) return kWrongType;
  int64_t offset = 0, cells = d.cells;
  if (d.extra < 0) {
    // Only a method of a class that owns a part of the object reads its fields.
    const CallFrame* f = FindScopeFrame(ctx);
    if (f == nullptr || f->methodClass == 0) return kInvalidFieldAccess;
    const StatusCode st = FindObjectPartByClass(ctx, TopData(ctx), d.cells, d.extra, f->methodClass, &offset, &cells);
    if (st != kOk) return st == kDataStackFull ? st : kInvalidFieldAccess;
  } else if (d.extra == kStructArray) {
    return CollectFieldOfStructArray(ctx, s);
  } else if (d.extra != kStruct) {
    return kWrongType;
  }
  auto* part = reinterpret_cast<CompositeElementHeader*>(TopData(ctx) + offset);
  CompositeElementHeader* field = FindField(part, CountElementsIn(part, static_cast<int32_t>(cells)), s);
  if (field == nullptr) return RaiseError(ctx, kUndefField, -1, s, -1, nullptr);
  KeepElementOfTop(ctx, field);
  return kOk;
}

StatusCode FieldAtReference(EngineContext* ctx, Reference* r, SymbolId s, const int16_t* following) {
  CompositeElementHeader* e = Designated(ctx, r);
  const bool assign = r->mode == 1;
  if (assign && r->created && e->cells == 0) {
    e->kind = kComposite;
    e->extra = kStruct;
  }
  if (e->kind != kComposite || e->extra == kList || e->extra == kCellArray || e->extra == kFreeList)
    return Fail(ctx, r, RaiseError(ctx, kNonStructVar, r->variable, s, -1, nullptr));
  if (e->extra != kStruct) {
    // Structure arrays and objects are read from a copy; assigning a field
    // of every structure at once is no assignment.
    if (assign) return Fail(ctx, r, kWrongType);
    if (StatusCode st = DereferenceAt(ctx, 0); st != kOk) return st;
    return FieldOfValue(ctx, s);
  }
  if (CompositeElementHeader* f = FindField(Inside(e), CountElementsIn(Inside(e), e->cells), s)) {
    r->offset = static_cast<int32_t>(reinterpret_cast<Cell*>(f) - (ctx->heapBase + r->block));
    r->created = 0;
    return kOk;
  }
  if (!assign) return RaiseError(ctx, kUndefField, r->variable, s, -1, nullptr);
  // Fields made one level at a time would each add their size to every
  // enclosing element, quadratic in the depth of «s.a.b.c… = v»: a chain of
  // new fields running to the end of the assignment is made at once, and the
  // steps after this one find their fields.
  const int32_t depth = NewFieldChainDepth(following);
  const int64_t at = r->offset + kElementHeaderCells + int64_t{e->cells};
  Cell* gap = nullptr;
  if (StatusCode st = ChangeElement(ctx, r, r->offset, at, 0, int64_t{depth} * kElementHeaderCells, false, &gap);
      st != kOk)
    return Fail(ctx, r, st);
  auto* chain = reinterpret_cast<CompositeElementHeader*>(gap);
  for (int32_t k = 0; k < depth; ++k) {
    const bool innermost = k == depth - 1;
    const SymbolId name = k == 0 ? s : static_cast<SymbolId>(following[2 * k - 1]);
    // The innermost is the placeholder the value replaces.
    chain[k] = {kComposite, (depth - 1 - k) * kElementHeaderCells, innermost ? kList : kStruct, name};
  }
  r->offset = static_cast<int32_t>(at);
  r->created = 1;
  return kOk;
}

StatusCode PopFieldName(EngineContext* ctx, SymbolId* s) {
  if (StatusCode st = ReadFieldName(ctx, s); st != kOk) return st;
  PopValue(ctx);
  return kOk;
}

// ---------------------------------------------------------------------------
// Opcode handlers.

StatusCode OpGetField(EngineContext* ctx, const int16_t* ins) {
  if (IsReference(*DescriptorAt(ctx, 0))) return FieldAtReference(ctx, ReferenceAt(ctx, 0), ins[1], ins + 2);
  return FieldOfValue(ctx, ins[1]);
}

StatusCode OpGetDynamicField(EngineContext* ctx, const int16_t*) {
  if (ctx->descLength < 6) return kIllegal;
  SymbolId s = 0;
  if (StatusCode st = ReadFieldName(ctx, &s); st != kOk) {
    if (CountFrameValues(ctx) > 1 && IsReference(*DescriptorAt(ctx, 1))) return Fail(ctx, ReferenceAt(ctx, 1), st);
    return st;
  }
  // A refusal leaves [value][name] as they were (the value perhaps copied
  // out of its variable): the overload step hands the name to an object's
  // subsref or subsasgn, and a room failure can repeat the instruction.
  (void)RotateValues(ctx, 2, 1);
  if (StatusCode st = FieldStep(ctx, s); st != kOk) {
    (void)RotateValues(ctx, 2, 1);
    return st;
  }
  return DropArgsUnderResults(ctx, 1, 1);
}
