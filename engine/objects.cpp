// Objects and classes: the class name of every kind of value and the builtins
// class, isobject, isa and methods. A user object is a composite whose subtype
// is the negative SymbolId of its class; its parents are parts inside it.
#include "engine/objects.h"

#include <algorithm>
#include <cstring>

#include "engine/bytecode.h"
#include "engine/dispatch.h"
#include "engine/functionstore.h"
#include "engine/values/valuestack.h"

namespace {

constexpr int kMaxClassName = 32;

bool IsUserObject(const ValueDescriptor& d) { return d.kind == kComposite && (d.extra < 0 || d.extra > kFreeList); }

bool Answer(const char* text, const char** name, int* length) {
  *name = text;
  *length = static_cast<int>(std::strlen(text));
  return true;
}

// Reads the char array at a position into text (at most size - 1 bytes);
// false for anything else or a longer text.
bool ReadName(EngineContext* ctx, int position, char* text, int size, int* length) {
  if (!IsCharArg(ctx, position)) return false;
  int64_t n = 0;
  if (CopyStringArgToBuffer(ctx, position, text, size, &n) != kOk || n >= size) return false;
  *length = static_cast<int>(n);
  return true;
}

}  // namespace

const char* ElementClassName(uint32_t cls) {
  switch (cls) {
    case kInt8:
      return "int8";
    case kInt16:
      return "int16";
    case kInt32:
      return "int32";
    case kInt64:
      return "int64";
    case kUint8:
      return "uint8";
    case kUint16:
      return "uint16";
    case kUint32:
      return "uint32";
    case kUint64:
      return "uint64";
    case kSingle:
    case kComplexSingle:
      return "single";
    case kDouble:
    case kComplexDouble:
      return "double";
    default:
      return "binary";
  }
}

bool GetValueClassName(EngineContext* ctx, const char** name, int* length) {
  if (ctx->descLength < 3) return false;
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  if (IsPlainMatrix(d)) return Answer("double", name, length);
  if (d.kind == kBoxed) {
    switch (d.extra) {
      case kLogicalArray:
        return Answer("logical", name, length);
      case kCharArray:
        return Answer("char", name, length);
      case kNumericArray:
        return Answer(ElementClassName(ReadArray(TopData(ctx)).cls), name, length);
      case kInlineFunction:
        return Answer("inline", name, length);
      case kFunctionRef:
        return Answer("funref", name, length);
      default:
        break;
    }
    if (d.extra >= kFirstNativeClass) {
      const char* text = GetNativeClassName(ctx, d.extra);
      if (text == nullptr) return false;
      *name = text;
      *length = static_cast<int>(strnlen(text, kMaxClassName));
      return true;
    }
    return Answer("binary", name, length);
  }
  if (d.kind == kComposite) {
    switch (d.extra) {
      case kList:
        return Answer("list", name, length);
      case kStruct:
        return Answer("struct", name, length);
      case kCellArray:
        return Answer("cell", name, length);
      case kStructArray:
        return Answer("structarray", name, length);
      case kFreeList:
        return Answer("binary", name, length);
      default:
        *name = SymbolText(ctx, d.extra);
        *length = SymbolLength(ctx, d.extra);
        return *length > 0;
    }
  }
  return Answer("binary", name, length);
}

// class(s, name, parents...): parents go in from the last, each as the new
// first element, so the first parent given ends up first.
namespace {

[[nodiscard]] StatusCode MakeObject(EngineContext* ctx, int nargin) {
  const ValueDescriptor s = *DescriptorAt(ctx, nargin - 1);
  if (s.kind != kComposite) return kWrongType;
  char text[kMaxClassName + 1];
  int length = 0;
  if (!ReadName(ctx, nargin - 2, text, sizeof text, &length)) {
    if (!IsCharArg(ctx, nargin - 2)) return kWrongType;
    return kNameTooLong;
  }
  SymbolId cls = 0;
  if (length > 0)
    if (StatusCode st = InternSymbol(ctx, text, length, kMaxClassName, &cls); st != kOk) return st;

  // Every check comes first, so a refused call changes nothing.
  const int parents = nargin - 2;
  for (int p = 0; p < parents; ++p) {
    const ValueDescriptor& d = *DescriptorAt(ctx, p);
    if (d.kind != kComposite || !(d.extra < 0)) return kNonObjectArg;
  }
  for (int p = 0; p < parents; ++p) {
    const SymbolId name = DescriptorAt(ctx, p)->extra;
    for (int q = p + 1; q < parents; ++q)
      if (DescriptorAt(ctx, q)->extra == name) return kUndefField;
    const Cell* data = DataAt(ctx, nargin - 1);
    for (int64_t at = 0; at + kElementHeaderCells <= s.cells;) {
      const auto* e = reinterpret_cast<const CompositeElementHeader*>(data + at);
      if (e->name == name) return kUndefField;
      at += kElementHeaderCells + e->cells;
    }
  }
  if (int64_t{kElementHeaderCells} * parents >= FreeDataCells(ctx)) return kDataStackFull;

  // [s][name][p1..pk]: the name goes; each parent, from the top, becomes an
  // element in front of s's cells. The parents lie above s, so their cells
  // move down while s's cells move up by the headers.
  (void)RotateValues(ctx, parents + 1, 1);  // [s][p1..pk][name]
  PopValue(ctx);
  for (int k = 0; k < parents; ++k) {
    // The top parent (the last not yet inserted) goes in front of s.
    const ValueDescriptor p = *DescriptorAt(ctx, 0);
    const int below = parents - k - 1;      // parents still between s and the top one
    (void)RotateValues(ctx, below + 2, 1);  // s to the top: [p1..p(below)][p][s]
    Cell* pd = DataAt(ctx, 1);
    const ValueDescriptor sd = *DescriptorAt(ctx, 0);
    // p's cells then s's cells are contiguous: put the header in front of p.
    std::memmove(pd + kElementHeaderCells, pd, (int64_t{p.cells} + sd.cells) * sizeof(Cell));
    *reinterpret_cast<CompositeElementHeader*>(pd) = {p.kind, p.cells, p.extra, p.extra};
    ctx->dataTop += kElementHeaderCells;
    ctx->descLength -= 3;  // s's descriptor; its cells now follow the element
    ValueDescriptor* pdesc = DescriptorAt(ctx, 0);
    *pdesc = {kComposite, static_cast<int32_t>(kElementHeaderCells + p.cells + sd.cells), sd.extra};
    // The merged value goes back under the parents still to insert.
    (void)RotateValues(ctx, below + 1, below);
  }
  if (cls != 0) DescriptorAt(ctx, 0)->extra = cls;
  return kOk;
}

}  // namespace

StatusCode OpClass(EngineContext* ctx, const int16_t* ins) {
  const int nargin = ins[1];
  if (nargin < 1) return kTooFewArgin;
  if (nargin >= 2) return MakeObject(ctx, nargin);
  const char* name = nullptr;
  int length = 0;
  char copy[kMaxClassName + 1] = "???";
  if (GetValueClassName(ctx, &name, &length)) {
    length = length > kMaxClassName ? kMaxClassName : length;
    std::memcpy(copy, name, length);
  } else {
    length = 3;
  }
  // The answer takes the input's place; short of room the input stays.
  const int32_t descLength = ctx->descLength, dataTop = ctx->dataTop;
  PopValue(ctx);
  if (StatusCode st = PushStringFromBytes(ctx, length, copy); st != kOk) {
    ctx->descLength = descLength, ctx->dataTop = dataTop;
    return st;
  }
  return kOk;
}

StatusCode OpIsobject(EngineContext* ctx, const int16_t*) {
  const bool is = IsUserObject(*DescriptorAt(ctx, 0));
  const int32_t descLength = ctx->descLength, dataTop = ctx->dataTop;
  PopValue(ctx);
  if (StatusCode st = PushLogicalScalar(ctx, is ? 1 : 0); st != kOk) {
    ctx->descLength = descLength, ctx->dataTop = dataTop;
    return st;
  }
  return kOk;
}

StatusCode OpIsa(EngineContext* ctx, const int16_t*) {
  char text[kMaxClassName + 2];
  int length = 0;
  if (!IsCharArg(ctx, 0)) return kWrongType;
  // A name too long for any class names none.
  const bool fits = ReadName(ctx, 0, text, sizeof text, &length) && length <= kMaxClassName;
  bool is = false;
  const ValueDescriptor d = *DescriptorAt(ctx, 1);
  const int32_t descLength = ctx->descLength, dataTop = ctx->dataTop;
  if (!fits || length == 0) {
    is = false;
  } else if (!IsUserObject(d)) {
    PopValue(ctx);
    const char* name = nullptr;
    int n = 0;
    is = GetValueClassName(ctx, &name, &n) && n == length && std::memcmp(name, text, n) == 0;
    ctx->descLength = descLength, ctx->dataTop = dataTop;
  } else if (const SymbolId wanted = FindSymbol(ctx, text, length); wanted != 0) {
    // The search's scratch lies above the name, so a search short of room
    // leaves both inputs in place.
    int64_t offset = 0, cells = 0;
    const StatusCode st = FindObjectPartByClass(ctx, DataAt(ctx, 1), d.cells, d.extra, wanted, &offset, &cells);
    if (st == kDataStackFull) return st;
    is = st == kOk;
  }
  // The answer takes the inputs' place; short of room they stay.
  PopValue(ctx);
  PopValue(ctx);
  if (StatusCode st = PushLogicalScalar(ctx, is ? 1 : 0); st != kOk) {
    ctx->descLength = descLength, ctx->dataTop = dataTop;
    return st;
  }
  return kOk;
}

StatusCode OpMethods(EngineContext* ctx, const int16_t* ins) {
  const int nargout = ins[1];
  char text[kMaxClassName + 2];
  int length = 0;
  if (!IsCharArg(ctx, 0)) return kWrongType;
  const bool fits = ReadName(ctx, 0, text, sizeof text, &length) && length <= kMaxClassName;
  const SymbolId cls = fits && length > 0 ? FindSymbol(ctx, text, length) : 0;
  if (cls == 0) {
    if (nargout == 1) {
      PopValue(ctx);
      return MakeListFromValues(ctx, 0, false, nullptr, 0);
    }
    // The name is still on the stack: write it from the copy.
    char line[64] = "No method for class ";
    int n = static_cast<int>(std::strlen(line));
    const int shown = std::min(length, static_cast<int>(sizeof line) - n);
    std::memcpy(line + n, text, shown);
    n += shown;
    if (StatusCode st = WriteToDescriptor(ctx, 1, line, n); st != kOk) return st;
    if (StatusCode st = WriteNewlineToDescriptor(ctx, 1); st != kOk) return st;
    PopValue(ctx);
    return nargout < 0 ? PushVoidValue(ctx) : kOk;
  }
  // The list is built above the name, which stays until the list is whole.
  if (nargout != 1) PopValue(ctx);
  int count = 0;
  for (int32_t i = 1; i < ctx->entriesInUse; ++i) {
    const FunctionStoreEntry* e = StoreEntry(ctx, i);
    if (e->kind >= 0 || e->qualifier != cls) continue;
    if ((static_cast<uint32_t>(e->name) & kLibraryPrivate) != 0 && !ctx->ignorePrivate) continue;
    const char* name = SymbolText(ctx, e->kind);
    const int n = SymbolLength(ctx, e->kind);
    if (nargout == 1) {
      if (StatusCode st = PushStringFromBytes(ctx, n, name); st != kOk) {
        (void)DropArgsUnderResults(ctx, 0, count);
        return st;
      }
      ++count;
      continue;
    }
    if (StatusCode st = WriteToDescriptor(ctx, 1, name, n); st != kOk) return st;
    if (StatusCode st = WriteNewlineToDescriptor(ctx, 1); st != kOk) return st;
  }
  if (nargout == 1) {
    if (StatusCode st = MakeListFromValues(ctx, count, false, nullptr, 0); st != kOk) {
      (void)DropArgsUnderResults(ctx, 0, count);
      return st;
    }
    return DropArgsUnderResults(ctx, 1, 1);
  }
  return nargout < 0 ? PushVoidValue(ctx) : kOk;
}

StatusCode OpDispOrOverload(EngineContext* ctx, const int16_t*) {
  // An object is left to its class's disp; the overload step falls back to
  // this display when the class has none.
  if (IsUserObject(*DescriptorAt(ctx, 0))) return kWrongType;
  return CoreDisplayTopValue(ctx, kStdoutDescriptor, true);
}
