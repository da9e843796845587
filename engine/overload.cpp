// Overloading on objects: after an operator, builtin, indexing or display
// instruction refuses an object, the method of the object's class runs in
// its place; integer, char and logical inputs a builtin refuses are retried
// once as double. Also the search of the parts an object holds of its parents.
#include <algorithm>
#include <cstring>

#include "engine/bytecode.h"
#include "engine/dispatch.h"
#include "engine/evaluate.h"
#include "engine/function.h"
#include "engine/heap.h"
#include "engine/objects.h"
#include "engine/registry.h"
#include "engine/resolution.h"
#include "engine/values/textformat.h"
#include "engine/values/valuestack.h"
#include "engine/variableaccess.h"
#include "engine/vm.h"

namespace {

bool IsClassId(int32_t subtype) { return subtype < 0 || subtype > kFreeList; }

const CompositeElementHeader* DesignatedAt(EngineContext* ctx, int depth) {
  if (!IsReference(*DescriptorAt(ctx, depth))) return nullptr;
  const Reference* r = ReferenceAt(ctx, depth);
  if (r->block <= 0 || r->block >= ctx->heapSize) return nullptr;
  return Designated(ctx, r);
}

bool IsReferenceAt(EngineContext* ctx, int depth) { return IsReference(*DescriptorAt(ctx, depth)); }

// Replaces a reference at a depth by a copy of what it designates.
[[nodiscard]] StatusCode DereferenceAtDepth(EngineContext* ctx, int depth) {
  if (!IsReferenceAt(ctx, depth)) return kOk;
  (void)RotateValues(ctx, depth + 1, 1);
  const StatusCode st = OpEndRef(ctx, nullptr);
  (void)RotateValues(ctx, depth + 1, depth);
  return st;
}

// Pushes a copy of the object at a depth, dereferenced.
[[nodiscard]] StatusCode PushObjectCopy(EngineContext* ctx, int depth) {
  if (StatusCode st = DuplicateValues(ctx, depth, 1); st != kOk) return st;
  if (StatusCode st = OpEndRef(ctx, nullptr); st != kOk) {
    PopValue(ctx);
    return st;
  }
  return kOk;
}

bool IsColon(uint32_t mask, int j) { return ((mask >> j) & 1) != 0; }

int CountIndexValues(int n, uint32_t mask) {
  int k = 0;
  for (int j = 0; j < n; ++j) k += IsColon(mask, j) ? 0 : 1;
  return k;
}

// {subs; type} from the k index values on top (the colons of the mask put
// back in their places as ':'), in their place.
[[nodiscard]] StatusCode MakeIndexStructure(EngineContext* ctx, int n, uint32_t mask, const char* type) {
  int remaining = CountIndexValues(n, mask);
  for (int j = 0; j < n; ++j) {
    if (IsColon(mask, j)) {
      if (StatusCode st = PushStringFromBytes(ctx, 1, ":"); st != kOk) return st;
    } else {
      (void)RotateValues(ctx, remaining + j, 1);
      --remaining;
    }
  }
  if (StatusCode st = MakeListFromValues(ctx, n, false, nullptr, 0); st != kOk) return st;
  if (StatusCode st = MakeListFromValues(ctx, 1, false, "subs", 4); st != kOk) return st;
  if (StatusCode st = PushStringFromBytes(ctx, 2, type); st != kOk) return st;
  return MakeListFromValues(ctx, 1, true, "type", 4);
}

// {type: "."; subs: name} for field s.
[[nodiscard]] StatusCode MakeFieldStructure(EngineContext* ctx, SymbolId s) {
  if (StatusCode st = PushStringFromBytes(ctx, 1, "."); st != kOk) return st;
  if (StatusCode st = MakeListFromValues(ctx, 1, false, "type", 4); st != kOk) return st;
  if (StatusCode st = PushStringFromBytes(ctx, SymbolLength(ctx, s), SymbolText(ctx, s)); st != kOk) return st;
  return MakeListFromValues(ctx, 1, true, "subs", 4);
}

// {type: "."; subs: name} for the field name on top, in its place.
[[nodiscard]] StatusCode MakeDynamicFieldStructure(EngineContext* ctx) {
  if (StatusCode st = PushStringFromBytes(ctx, 1, "."); st != kOk) return st;
  if (StatusCode st = MakeListFromValues(ctx, 1, false, "type", 4); st != kOk) return st;
  (void)RotateValues(ctx, 2, 1);
  return MakeListFromValues(ctx, 1, true, "subs", 4);
}

// A char row of 1 to 32 characters on top, as a dynamic field's name must be.
bool IsFieldNameOnTop(EngineContext* ctx) {
  if (ctx->descLength < 3) return false;
  char name[kVariableNameBytes + 1];
  int64_t length = 0;
  return CopyStringArgToBuffer(ctx, 0, name, sizeof name, &length) == kOk && length > 0 && length <= kVariableNameBytes;
}

Op OpOf(const int16_t* ins) { return static_cast<Op>(static_cast<uint16_t>(ins[0])); }

bool NextIsEndRefAssign(const int16_t* ins) { return OpOf(ins + GetInstructionLength(ins)) == Op::EndRefAssign; }

// The failure becomes another one: the message raised for the first goes.
[[nodiscard]] StatusCode Replace(EngineContext* ctx, StatusCode code) {
  if (ctx->currentErrorRecord > 0) FreeHeapBlock(ctx, ctx->currentErrorRecord);
  ctx->currentErrorRecord = -1;
  return code;
}

// What the failing instruction asks of a method.
struct Plan {
  char method[33];
  int inputs;
  int outputs;
  int depth;  // of the object, for indexing and display; -1: search the inputs
  bool indexing;
  bool assigns;
  bool display;
};

void Name(Plan* p, const char* text) {
  std::memset(p->method, 0, sizeof p->method);
  std::strncpy(p->method, text, sizeof p->method - 1);
}

// False when no method applies; *st may then become 12 for the indexing
// forms that take no method.
bool MakePlan(EngineContext* ctx, const int16_t* ins, Plan* p, StatusCode* st) {
  *p = Plan{};
  p->depth = -1;
  const Op op = OpOf(ins);
  switch (op) {
    case Op::DisplayStored:
    case Op::StoreAnsDisplay:
    case Op::DisplayVar:
      Name(p, "disp");
      p->inputs = 1, p->outputs = 0, p->depth = 0, p->display = true;
      return true;
    case Op::GetField:
    case Op::CellIndexValue: {
      p->assigns = NextIsEndRefAssign(ins);
      Name(p, p->assigns ? "subsasgn" : "subsref");
      p->inputs = p->assigns ? 3 : 2, p->outputs = 1, p->indexing = true;
      p->depth = op == Op::GetField ? 0 : CountIndexValues(ins[1], static_cast<uint16_t>(ins[2]));
      return true;
    }
    case Op::IndexValue:
    case Op::IndexVar:
      Name(p, "subsref");
      p->inputs = 2, p->outputs = ins[3], p->indexing = true;
      p->depth = CountIndexValues(ins[1], static_cast<uint16_t>(ins[2]));
      return true;
    case Op::IndexVarForAssign: {
      Name(p, "subsasgn");
      p->inputs = 3, p->outputs = 1, p->indexing = true, p->assigns = true;
      const int k = CountIndexValues(ins[1], static_cast<uint16_t>(ins[2]));
      if (3 * (k + 2) > ctx->descLength) return false;
      // The reference lies under the indices, or under the new value once
      // the assignment has put it in its kernels' order.
      p->depth = IsReferenceAt(ctx, k) ? k : k + 1;
      return true;
    }
    case Op::IndexBeginning:
    case Op::IndexEnd:
    case Op::IndexMatrixRow:
    case Op::IndexMatrixCol: {
      static constexpr const char* kNames[] = {"beginning", "end", "matrixrow", "matrixcol"};
      Name(p, kNames[static_cast<int>(op) - static_cast<int>(Op::IndexBeginning)]);
      p->inputs = 3, p->outputs = 1, p->indexing = true, p->depth = ins[1];
      return true;
    }
    case Op::GetDynamicField: {
      // A name that names no field is refused before any object sees it.
      if (!IsFieldNameOnTop(ctx)) return false;
      p->assigns = NextIsEndRefAssign(ins);
      Name(p, p->assigns ? "subsasgn" : "subsref");
      p->inputs = p->assigns ? 3 : 2, p->outputs = 1, p->indexing = true, p->depth = 1;
      return true;
    }
    case Op::IndexGetField:
    case Op::IndexGetDynamicField:
    case Op::EndRef:
    case Op::EndRefAssign: {
      // No method takes these forms: an object among their operands makes
      // the instruction illegal.
      int depth = 0;
      if (op == Op::IndexGetField || op == Op::IndexGetDynamicField)
        depth = CountIndexValues(ins[1], static_cast<uint16_t>(ins[2]));
      for (int d = depth; d <= depth + 1 && 3 * (d + 1) <= ctx->descLength; ++d)
        if (GetClassIdAtDepth(ctx, d) != 0) *st = Replace(ctx, kIllegal);
      return false;
    }
    case Op::RefVar:
    case Op::RefVarForAssign:
      if (GetVariableClassId(ctx, ins[1]) != 0) *st = Replace(ctx, kIllegal);
      return false;
    default:
      break;
  }
  int in = 0, out = 0;
  if (GetInstructionStackEffect(ins, &in, &out) != kOk || in < 1) return false;
  char name[32];
  GetOpcodeName(ctx, static_cast<uint16_t>(ins[0]), false, name);
  if (name[0] == 0) return false;
  std::memset(p->method, 0, sizeof p->method);
  std::memcpy(p->method, name, sizeof name);
  p->inputs = in, p->outputs = out;
  p->display = op == Op::Disp;
  return true;
}

// "class::method" as the failing operation's name.
void NoteMethodName(EngineContext* ctx, SymbolId cls, const char* method) {
  char text[sizeof ctx->failingName] = {};
  const int limit = static_cast<int>(sizeof text) - 1;
  int n = std::min(SymbolLength(ctx, cls), limit);
  std::memcpy(text, SymbolText(ctx, cls), n);
  for (const char* s = "::"; *s && n < limit; ++s) text[n++] = *s;
  for (const char* s = method; *s && n < limit; ++s) text[n++] = *s;
  std::memcpy(ctx->failingName, text, sizeof text);
}

// Runs the method's call and the store of its result back through the
// reference, in a fragment: [ref][object][S][new] on the stack.
[[nodiscard]] StatusCode EnterAssignFragment(EngineContext* ctx, int16_t call, const int16_t* operand,
                                             bool storesItself) {
  int16_t words[8];
  int count = 0;
  words[count++] = call;
  if (operand != nullptr) words[count++] = *operand;
  words[count++] = 3;
  words[count++] = 1;
  words[count++] = static_cast<int16_t>(Op::Rotate);
  words[count++] = 2;
  words[count++] = 1;
  if (storesItself) words[count++] = static_cast<int16_t>(Op::EndRefAssign);
  return EnterCodeFragment(ctx, words, count, 4, storesItself ? 0 : 2, 0, GetCurrentLibraryIndex(ctx), true);
}

// A language class's method for the plan.
[[nodiscard]] StatusCode CallClassMethod(EngineContext* ctx, const int16_t* ins, const Plan& p, SymbolId cls) {
  const int32_t library = GetCurrentLibraryIndex(ctx);
  const int length = static_cast<int>(std::strlen(p.method));
  StatusCode st = kOk;
  if (p.assigns) {
    if ((st = PushSubsasgnArguments(ctx, ins)) != kOk) return st;
    int32_t entry = -1;
    st = ResolveFunctionWithOverloading(ctx, p.method, length, library, 3, 1, &entry, nullptr, nullptr, nullptr,
                                        nullptr);
    if (st == kOk && entry > UINT16_MAX) {
      st = kNotSupported;
    } else if (st == kOk && entry >= 0) {
      // The operand word holds the entry as an unsigned 16-bit number.
      const auto operand = static_cast<int16_t>(static_cast<uint16_t>(entry));
      st = EnterAssignFragment(ctx, static_cast<int16_t>(Op::CallFunction), &operand,
                               OpOf(ins) == Op::IndexVarForAssign);
    } else if (st == kOk) {
      st = kUndefFun;
    }
  } else {
    if (p.indexing) {
      const Op op = OpOf(ins);
      const bool end = op >= Op::IndexBeginning && op <= Op::IndexMatrixCol;
      if ((st = end ? PushEndArguments(ctx, ins) : PushSubsrefArguments(ctx, ins)) != kOk) return st;
    }
    st = CallFunctionByName(ctx, p.method, length, library, p.inputs, p.outputs, true, false, true);
  }
  if (st == kUndefFunOrVar && p.display) {
    // Without a disp method the object shows the standard way.
    return CoreDisplayTopValue(ctx, kStdoutDescriptor, true);
  }
  if (st == kUndefFunOrVar) {
    // The resolution's message names the method alone; the failure is the
    // instruction's, named by class and method.
    st = Replace(ctx, kUndefFun);
  }
  if (st != kOk) NoteMethodName(ctx, cls, p.method);
  return st;
}

bool CountFits(int n, uint8_t min, uint8_t max) { return n >= min && ((max & kAnyCount) != 0 || n <= max); }

// A native class's method for the plan; false when the class has none.
bool CallNativeMethod(EngineContext* ctx, const int16_t* ins, const Plan& p, int32_t classId, StatusCode* st) {
  int cursor = -1;
  NativeRef n;
  while (FindNextNamedRecord(ctx, p.method, &cursor, &n) != nullptr) {
    const NativeFunctionRecord& r = *n.record;
    if (r.kind == 0 || NativeClassIdOf(n.library, r.kind) != classId) continue;
    if (!CountFits(p.inputs, r.minInputs, r.maxInputs)) continue;
    if (p.outputs < 0 ? r.minOutputs > 1 : !CountFits(p.outputs, r.minOutputs, r.maxOutputs)) continue;
    if (p.assigns) {
      if ((*st = PushSubsasgnArguments(ctx, ins)) != kOk) return true;
      const int opcode = static_cast<int>(Op::kFirstNativeOpcode) + cursor;
      if (opcode > UINT16_MAX) {
        *st = kNotSupported;
        return true;
      }
      ctx->runningNativeClass = classId;
      *st = EnterAssignFragment(ctx, static_cast<int16_t>(static_cast<uint16_t>(opcode)), nullptr,
                                OpOf(ins) == Op::IndexVarForAssign);
      return true;
    }
    if (p.indexing) {
      const Op op = OpOf(ins);
      const bool end = op >= Op::IndexBeginning && op <= Op::IndexMatrixCol;
      if ((*st = end ? PushEndArguments(ctx, ins) : PushSubsrefArguments(ctx, ins)) != kOk) return true;
    }
    *st = InvokeNative(ctx, n, p.inputs, p.outputs);
    return true;
  }
  return false;
}

}  // namespace

StatusCode FindObjectPartByClass(EngineContext* ctx, const Cell* data, int64_t cells, int32_t objectClass,
                                 SymbolId wanted, int64_t* offset, int64_t* partCells) {
  if (objectClass == wanted && IsClassId(objectClass)) {
    *offset = 0, *partCells = cells;
    return kOk;
  }
  if (!IsClassId(objectClass)) return kWrongTypeInternal;
  // Levels {next element, end of level} wait in the free space above the data stack.
  Cell* levels = ctx->dataBase + ctx->dataTop;
  const int64_t room = FreeDataCells(ctx);
  int64_t depth = 0;
  auto push = [&](int64_t from, int64_t to) {
    if (depth >= room) return false;
    levels[depth].i = 0;
    levels[depth].iw[0] = static_cast<int32_t>(from);
    levels[depth].iw[1] = static_cast<int32_t>(to);
    ++depth;
    return true;
  };
  if (!push(0, cells)) return kDataStackFull;
  while (depth > 0) {
    Cell& level = levels[depth - 1];
    const int64_t at = level.iw[0], end = level.iw[1];
    if (at + kElementHeaderCells > end) {
      --depth;
      continue;
    }
    const auto* e = reinterpret_cast<const CompositeElementHeader*>(data + at);
    level.iw[0] = static_cast<int32_t>(at + kElementHeaderCells + e->cells);
    if (e->kind != kComposite || e->name == 0 || e->extra != e->name) continue;
    if (e->extra == wanted) {
      *offset = at + kElementHeaderCells, *partCells = e->cells;
      return kOk;
    }
    if (!push(at + kElementHeaderCells, at + kElementHeaderCells + e->cells)) return kDataStackFull;
  }
  return kUndefField;
}

int32_t GetClassIdAtDepth(EngineContext* ctx, int depth) {
  const ValueDescriptor& d = *DescriptorAt(ctx, depth);
  if (d.kind == kComposite) return IsClassId(d.extra) ? d.extra : 0;
  const CompositeElementHeader* e = DesignatedAt(ctx, depth);
  return e != nullptr && e->kind == kComposite && IsClassId(e->extra) ? e->extra : 0;
}

namespace {

// Only integer, character and logical arrays are retried as double: a
// builtin that refuses single refuses it on purpose.
bool HasIntegerLikeInput(EngineContext* ctx, int inputs) {
  for (int d = 0; d < inputs; ++d) {
    const ValueDescriptor& v = *DescriptorAt(ctx, d);
    if (!IsBoxedArray(v)) continue;
    if (v.extra != kNumericArray) return true;
    const uint32_t cls = ReadArray(DataAt(ctx, d)).cls;
    if (cls != kSingle && cls != kComplexSingle && cls != kDouble && cls != kComplexDouble) return true;
  }
  return false;
}

}  // namespace

int32_t GetBoxedSubtypeAtDepth(EngineContext* ctx, int depth) {
  const ValueDescriptor& d = *DescriptorAt(ctx, depth);
  if (d.kind == kBoxed) return d.extra;
  const CompositeElementHeader* e = DesignatedAt(ctx, depth);
  return e != nullptr && e->kind == kBoxed ? e->extra : 0;
}

int32_t GetVariableClassId(EngineContext* ctx, int variable) {
  CallFrame* f = FindScopeFrame(ctx);
  if (f == nullptr || variable < 0 || variable >= FrameSlotCount(f)) return 0;
  const int32_t block = VariableValueBlock(ctx, FrameSlots(f)[variable]);
  if (block <= 0) return 0;
  const ValueDescriptor d = VariableDescriptor(ctx, block);
  return d.kind == kComposite ? d.extra : 0;
}

// GetField: [object] -> [object][S]; GetDynamicField: [object][name] ->
// [object][S]; IndexValue, IndexVar, CellIndexValue:
// [object][k indices] -> [object][S]. A reference becomes a copy of the object.
StatusCode PushSubsrefArguments(EngineContext* ctx, const int16_t* ins) {
  const Op op = OpOf(ins);
  if (op == Op::GetField) {
    if (StatusCode st = DereferenceAtDepth(ctx, 0); st != kOk) return st;
    return MakeFieldStructure(ctx, ins[1]);
  }
  if (op == Op::GetDynamicField) {
    if (StatusCode st = DereferenceAtDepth(ctx, 1); st != kOk) return st;
    return MakeDynamicFieldStructure(ctx);
  }
  if (op != Op::IndexValue && op != Op::IndexVar && op != Op::CellIndexValue) return kIllegal;
  const int n = ins[1];
  const auto mask = static_cast<uint32_t>(static_cast<uint16_t>(ins[2]));
  if (StatusCode st = DereferenceAtDepth(ctx, CountIndexValues(n, mask)); st != kOk) return st;
  return MakeIndexStructure(ctx, n, mask, op == Op::CellIndexValue ? "{}" : "()");
}

// GetField before EndRefAssign: [new][ref]; GetDynamicField before it:
// [new][ref][name]; CellIndexValue before
// EndRefAssign: [new][ref][k indices]; IndexVarForAssign: [new][ref][k
// indices] or [ref][new][k indices]. Each becomes [ref][object][S][new].
StatusCode PushSubsasgnArguments(EngineContext* ctx, const int16_t* ins) {
  const Op op = OpOf(ins);
  if (op == Op::GetField) {
    if (!IsReferenceAt(ctx, 0)) return kIllegal;
    if (StatusCode st = PushObjectCopy(ctx, 0); st != kOk) return st;
    if (StatusCode st = MakeFieldStructure(ctx, ins[1]); st != kOk) return st;
    return RotateValues(ctx, 4, 1);
  }
  if (op == Op::GetDynamicField) {
    // [new][ref][name] -> [new][ref][object][name]
    if (!IsReferenceAt(ctx, 1)) return kIllegal;
    if (StatusCode st = PushObjectCopy(ctx, 1); st != kOk) return st;
    (void)RotateValues(ctx, 2, 1);
    if (StatusCode st = MakeDynamicFieldStructure(ctx); st != kOk) return st;
    return RotateValues(ctx, 4, 1);
  }
  if (op != Op::CellIndexValue && op != Op::IndexVarForAssign) return kIllegal;
  const int n = ins[1];
  const auto mask = static_cast<uint32_t>(static_cast<uint16_t>(ins[2]));
  const int k = CountIndexValues(n, mask);
  if (IsReferenceAt(ctx, k)) {
    // [new][ref][indices] -> [ref][new][indices]
    (void)RotateValues(ctx, k + 2, 1);
    (void)RotateValues(ctx, k + 1, k);
  }
  if (!IsReferenceAt(ctx, k + 1)) return kIllegal;
  if (StatusCode st = PushObjectCopy(ctx, k + 1); st != kOk) return st;
  (void)RotateValues(ctx, k + 1, k);  // [ref][new][object][indices]
  if (StatusCode st = MakeIndexStructure(ctx, n, mask, op == Op::CellIndexValue ? "{}" : "()"); st != kOk) return st;
  return RotateValues(ctx, 3, 1);
}

// The end family {d; k; n}: a copy of the object at depth d, then k and n.
StatusCode PushEndArguments(EngineContext* ctx, const int16_t* ins) {
  if (StatusCode st = PushObjectCopy(ctx, ins[1]); st != kOk) return st;
  if (StatusCode st = PushRealScalar(ctx, ins[2]); st != kOk) return st;
  return PushRealScalar(ctx, ins[3]);
}

StatusCode OverloadFailingInstruction(EngineContext* ctx, const int16_t* ins, StatusCode st) {
  switch (st) {
    case kWrongVarType:
    case kNonStructVar:
    case kNonListVar:
    case kUndefField:
    case kInvalidFieldAccess:
    case kWrongType:
    case kWrongTypeInternal:  // some handlers pass their accessors' answer up as it is
      break;
    default:
      return st;
  }
  // class itself reports on objects; its refusals are its own.
  if (ins == nullptr || OpOf(ins) == Op::Class) return st;
  Plan p;
  if (!MakePlan(ctx, ins, &p, &st)) return st;
  if (p.depth >= 0 && 3 * (p.depth + 1) > ctx->descLength) return st;
  if (p.depth < 0 && 3 * p.inputs > ctx->descLength) return st;

  // The object: the indexed or displayed value, else the first input that is one.
  int32_t cls = 0;
  if (p.depth >= 0) {
    cls = GetClassIdAtDepth(ctx, p.depth);
  } else {
    for (int d = p.inputs - 1; d >= 0 && cls == 0; --d) cls = GetClassIdAtDepth(ctx, d);
  }
  const int16_t* after = ins + GetInstructionLength(ins);
  if (cls != 0) {
    // The method returns to the instruction after the failing one.
    SetProgramCounter(ctx, after);
    const StatusCode called = CallClassMethod(ctx, ins, p, cls);
    return called;
  }

  int32_t boxed = 0;
  if (p.depth >= 0) {
    boxed = GetBoxedSubtypeAtDepth(ctx, p.depth);
  } else {
    for (int d = p.inputs - 1; d >= 0 && boxed == 0; --d) boxed = GetBoxedSubtypeAtDepth(ctx, d);
  }
  if (boxed >= kNumericArray && boxed <= kLogicalArray && !p.indexing && !p.display &&
      HasIntegerLikeInput(ctx, p.inputs)) {
    bool converted = false;
    const StatusCode c = ConvertArgsToFloat(ctx, -p.inputs, false, &converted);
    if (c == kWrongTypeInternal || (c == kOk && !converted)) return st;
    if (c != kOk) return c;
    SetProgramCounter(ctx, ins);  // once more, on doubles
    return kOk;
  }
  if (boxed >= kFirstNativeClass) {
    SetProgramCounter(ctx, after);
    StatusCode called = kOk;
    if (CallNativeMethod(ctx, ins, p, boxed, &called)) return called;
  }
  return st;
}
