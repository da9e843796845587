// Extension libraries: loading shared objects of either interface, the
// wrapper records of older-interface functions, and the callbacks through
// which those functions read their inputs and build their outputs.
#include <algorithm>
#include <cstring>

#include "engine/registry.h"
#include "engine/values/valuestack.h"
#include "platform/sharedlibrary.h"

namespace {

constexpr int kMaxExtensionLibraries = 64;
constexpr int kWrapperRecords = 256;  // the last one is the end record
constexpr int kPathBytes = 512;
constexpr int kNameBytes = 251;  // a folder's file names, as the walk takes them

struct CurrentLibrary {
  const NativeFunctionRecord* records;
  ShutdownRVOExtensionsFn shutdown;
};
struct OlderLibrary {
  int header;  // position of its '@' record in the wrapper table
  ShutdownFnFn shutdown;
};

// The system never unloads extensions, so these live as long as the process.
CurrentLibrary gCurrent[kMaxExtensionLibraries];
int gCurrentCount = 0;
OlderLibrary gOlder[kMaxExtensionLibraries];
int gOlderCount = 0;
NativeFunctionRecord gWrappers[kWrapperRecords];
int gWrappersUsed = 0;

// ---------------------------------------------------------------------------
// Callback helpers

int Fail(ExtensionCallbackBlock* b, StatusCode st) {
  b->error = st;
  return 0;
}

// The stack position of input i (1 = first), or -1 outside 1..nargin.
int InputPosition(const ExtensionCallbackBlock* b, int i) {
  if (i < 1 || i > b->nargin) return -1;
  return b->results + b->nargin - i;
}

uint8_t* DataEnd(EngineContext* ctx) { return reinterpret_cast<uint8_t*>(ctx->dataBase + ctx->dataTop); }

// After a push: an output reaching past the free part of the scratch area
// would overwrite what ExtAllocScratch handed out, so it is taken back (3);
// one reaching into the free part shrinks it to what stays free.
int Pushed(ExtensionCallbackBlock* b, StatusCode st) {
  if (st != kOk) return Fail(b, st);
  EngineContext* ctx = b->ctx;
  uint8_t* top = DataEnd(ctx);
  uint8_t* limit = b->scratch + b->scratchBytes;
  if (top > limit) {
    PopValue(ctx);
    return Fail(b, kDataStackFull);
  }
  if (top > b->scratch) {
    b->scratchBytes = static_cast<int32_t>(limit - top);
    b->scratch = top;
  }
  ++b->results;
  return 1;
}

// Rearranging the top values may take a few more cells; they are checked
// against the scratch area the same way, but nothing can be taken back.
int Rearranged(ExtensionCallbackBlock* b, StatusCode st, int resultsDelta) {
  if (st != kOk) return Fail(b, st);
  b->results += resultsDelta;
  uint8_t* top = DataEnd(b->ctx);
  uint8_t* limit = b->scratch + b->scratchBytes;
  if (top > limit) return Fail(b, kDataStackFull);
  if (top > b->scratch) {
    b->scratchBytes = static_cast<int32_t>(limit - top);
    b->scratch = top;
  }
  return 1;
}

bool StringOpen(const ExtensionCallbackBlock* b) { return b->stringLength >= 0; }

// Free bytes from the data top to the part ExtAllocScratch handed out.
int64_t FreeBytesBelowScratchEnd(const ExtensionCallbackBlock* b) {
  return b->scratch + b->scratchBytes - DataEnd(b->ctx);
}

// What kind of ref a value is; character and logical arrays count as other.
int32_t RefKind(const ValueDescriptor& d) {
  if (IsPlainMatrix(d) || (d.kind == kBoxed && d.extra == kNumericArray)) return kExtRefArray;
  if (d.kind != kComposite) return kExtRefOther;
  switch (d.extra) {
    case kList:
      return kExtRefList;
    case kStruct:
      return kExtRefStruct;
    case kStructArray:
      return kExtRefStructArray;
    default:
      return kExtRefOther;
  }
}

void MakeRef(void* descriptor, Cell* data, ExtensionValueRef* ref) {
  ref->kind = RefKind(*static_cast<ValueDescriptor*>(descriptor));
  ref->descriptor = descriptor;
  ref->data = data;
}

// Dimensions, element size, kind and data of a numeric, character or
// logical value (a ref's descriptor words and cells); false for any other.
bool ArrayInfo(const ValueDescriptor& d, Cell* data, int32_t* ndims, int32_t* dims, int32_t* elementSize, int32_t* kind,
               void** out) {
  if (IsPlainMatrix(d)) {
    const bool complex = (d.kind & kComplex) != 0;
    const int32_t n = d.extra;
    const int32_t m = n == 0 ? 0 : d.cells / (complex ? 2 * n : n);
    if (ndims) *ndims = 2;
    if (dims) dims[0] = m, dims[1] = n;
    if (elementSize) *elementSize = 8;
    if (kind) *kind = complex ? kExtComplex : kExtReal;
    if (out) *out = data;
    return true;
  }
  if (!IsBoxedArray(d)) return false;
  const ArrayView a = ReadArray(data);
  if (ndims) *ndims = a.ndims;
  if (dims)
    for (int k = 0; k < a.ndims; ++k) dims[k] = static_cast<int32_t>(a.dims[k]);
  int32_t size = ElementBytes(a.cls);
  int32_t k = kExtSigned;
  if (d.extra == kCharArray) {
    k = kExtChar;
  } else if (d.extra == kLogicalArray) {
    k = kExtLogical;
  } else if (a.cls == kDouble || a.cls == kSingle) {
    k = kExtReal;
  } else if (a.cls == kComplexDouble || a.cls == kComplexSingle) {
    k = kExtComplex;
    size /= 2;
  } else if ((a.cls & 0x80) != 0) {
    k = kExtUnsigned;
  }
  if (elementSize) *elementSize = size;
  if (kind) *kind = k;
  if (out) *out = a.data;
  return true;
}

// The composite behind a ref: its elements' count and the first item.
bool CompositeOf(const ExtensionValueRef* ref, int32_t want, int64_t* count, int32_t* fields,
                 CompositeElementHeader** first) {
  if (ref == nullptr || ref->kind != want) return false;
  const auto* d = static_cast<const ValueDescriptor*>(ref->descriptor);
  auto* elements = static_cast<CompositeElementHeader*>(ref->data);
  return GetCompositeInfo(d, elements, 0, nullptr, nullptr, count, fields, first) == kOk;
}

CompositeElementHeader* NthElement(CompositeElementHeader* e, int64_t k) {
  for (; k > 0; --k) e = NextElement(e);
  return e;
}

// The element named `name` among the n elements from e on.
CompositeElementHeader* NamedElement(EngineContext* ctx, CompositeElementHeader* e, int64_t n, const char* name) {
  const int length = static_cast<int>(std::strlen(name));
  for (int64_t k = 0; k < n; ++k, e = NextElement(e)) {
    if (e->name == 0 || SymbolLength(ctx, e->name) != length) continue;
    if (std::memcmp(SymbolText(ctx, e->name), name, length) == 0) return e;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// The callbacks, in slot order

int ExtGetMatrixArg(ExtensionCallbackBlock* b, int i, int32_t* m, int32_t* n, double** re, double** im) {
  const int p = InputPosition(b, i);
  if (p < 0) return Fail(b, kTooFewArgin);
  if (StatusCode st = GetDoubleMatrixArg(b->ctx, p, m, n, re, im); st != kOk) return Fail(b, st);
  return 1;
}

int ExtGetStringArg(ExtensionCallbackBlock* b, int i, char** text, int32_t* length) {
  const int p = InputPosition(b, i);
  if (p < 0) return Fail(b, kTooFewArgin);
  const char* t = nullptr;
  int64_t n = 0;
  if (StatusCode st = GetStringArg(b->ctx, p, &t, &n); st != kOk) return Fail(b, st);
  if (text) *text = const_cast<char*>(t);
  if (length) *length = static_cast<int32_t>(n);
  return 1;
}

int ExtPushMatrix(ExtensionCallbackBlock* b, int32_t m, int32_t n, double** re, double** im) {
  if (StringOpen(b)) return Fail(b, kIllegal);
  return Pushed(b, PushDoubleMatrix(b->ctx, m, n, re, im));
}

int ExtBeginString(ExtensionCallbackBlock* b, int32_t* length, char** buffer) {
  if (StringOpen(b)) return Fail(b, kIllegal);
  int64_t n = *length < 0 ? -1 : *length;
  if (n < 0) {
    // All free space means all of it below what ExtAllocScratch handed out:
    // two bytes a character, less the row's header.
    const int64_t bytes = FreeBytesBelowScratchEnd(b) - 8 * ArrayDataCell(2) - 8;
    n = bytes < 2 ? 0 : bytes / 2;
  }
  char* text = nullptr;
  if (int ok = Pushed(b, ReserveStringBuffer(b->ctx, &n, &text)); ok == 0) return 0;
  *length = static_cast<int32_t>(n);
  if (buffer) *buffer = text;
  b->stringLength = *length;
  return 1;
}

int ExtEndString(ExtensionCallbackBlock* b) {
  if (!StringOpen(b)) return Fail(b, kIllegal);
  const int32_t n = b->stringLength;
  b->stringLength = -1;
  if (StatusCode st = FinishStringBuffer(b->ctx, n); st != kOk) return Fail(b, st);
  return 1;
}

void* ExtAllocScratch(ExtensionCallbackBlock* b, int32_t bytes) {
  if (bytes < 0 || bytes > b->scratchBytes) {
    Fail(b, kDataStackFull);
    return nullptr;
  }
  b->scratchBytes -= bytes;
  return b->scratch + b->scratchBytes;
}

int ExtPrint(ExtensionCallbackBlock* b, const char* text) {
  const auto n = static_cast<int32_t>(std::strlen(text));
  if (StatusCode st = WriteToDescriptor(b->ctx, 1, text, n); st != kOk) return Fail(b, st);
  if (StatusCode st = WriteNewlineToDescriptor(b->ctx, 1); st != kOk) return Fail(b, st);
  return 1;
}

int ExtGetArrayArg(ExtensionCallbackBlock* b, int i, int32_t* ndims, int32_t* dims, int32_t* elementSize, int32_t* kind,
                   void** data) {
  const int p = InputPosition(b, i);
  if (p < 0) return Fail(b, kTooFewArgin);
  if (!ArrayInfo(*DescriptorAt(b->ctx, p), DataAt(b->ctx, p), ndims, dims, elementSize, kind, data))
    return Fail(b, kWrongTypeInternal);
  return 1;
}

int ExtPushArray(ExtensionCallbackBlock* b, int32_t ndims, int32_t* dims, int32_t elementSize, int32_t kind,
                 void** data) {
  if (StringOpen(b)) return Fail(b, kIllegal);
  if (ndims < 0 || ndims > kMaxDims) return Fail(b, kBadSize);
  bool fits = false;
  switch (kind) {
    case kExtSigned:
    case kExtUnsigned:
      fits = elementSize == 1 || elementSize == 2 || elementSize == 4;
      break;
    case kExtReal:
    case kExtComplex:
      fits = elementSize == 8 || elementSize == 4;
      break;
    case kExtChar:
      fits = elementSize == 2;
      break;
    case kExtLogical:
      fits = elementSize == 1;
      break;
  }
  if (!fits) return Fail(b, kIllegal);
  int open = -1;
  int64_t others = 1;
  for (int k = 0; k < ndims; ++k) {
    if (dims[k] != -1) {
      others *= dims[k] > 0 ? dims[k] : 0;
      continue;
    }
    if (open >= 0) return Fail(b, kBadSize);
    open = k;
  }
  if (open >= 0) {
    // How many along the open dimension fit below the scratch area's end. A
    // plain matrix may take the last free cell; other arrays keep one free
    // and add their header.
    const bool plain = elementSize == 8 && (kind == kExtReal || kind == kExtComplex) && ndims <= 2;
    int64_t cells = std::min(FreeDataCells(b->ctx) - (plain ? 0 : 1), FreeBytesBelowScratchEnd(b) / 8);
    if (!plain) cells -= ArrayDataCell(ndims);
    const int64_t unit = others * elementSize * (kind == kExtComplex ? 2 : 1);
    dims[open] = unit <= 0 || cells <= 0 ? 0 : static_cast<int32_t>(std::min<int64_t>(cells * 8 / unit, INT32_MAX));
    return 1;
  }
  EngineContext* ctx = b->ctx;
  StatusCode st = kOk;
  void* out = nullptr;
  switch (kind) {
    case kExtSigned:
    case kExtUnsigned:
      st = PushIntegerArray(ctx, ndims, dims, elementSize, kind == kExtUnsigned, &out);
      break;
    case kExtReal:
    case kExtComplex: {
      const bool complex = kind == kExtComplex;
      if (elementSize == 8) {
        double* im = nullptr;
        st = PushDoubleArray(ctx, ndims, dims, reinterpret_cast<double**>(&out), complex ? &im : nullptr);
      } else {
        float* im = nullptr;
        st = PushSingleArray(ctx, ndims, dims, reinterpret_cast<float**>(&out), complex ? &im : nullptr);
      }
      break;
    }
    case kExtChar:
      st = PushCharArray(ctx, ndims, dims, reinterpret_cast<uint16_t**>(&out));
      break;
    default:
      st = PushLogicalArray(ctx, ndims, dims, reinterpret_cast<uint8_t**>(&out));
      break;
  }
  if (Pushed(b, st) == 0) return 0;
  if (data) *data = out;
  return 1;
}

int ExtGetArgRef(ExtensionCallbackBlock* b, int i, ExtensionValueRef* ref) {
  const int p = InputPosition(b, i);
  if (p < 0) return Fail(b, kTooFewArgin);
  MakeRef(DescriptorAt(b->ctx, p), DataAt(b->ctx, p), ref);
  return 1;
}

int ExtGetArrayRefInfo(ExtensionCallbackBlock* b, const ExtensionValueRef* ref, int32_t* ndims, int32_t* dims,
                       int32_t* elementSize, int32_t* kind, void** data) {
  if (ref == nullptr || ref->kind != kExtRefArray) return Fail(b, kWrongTypeInternal);
  const auto* d = static_cast<const ValueDescriptor*>(ref->descriptor);
  if (!ArrayInfo(*d, static_cast<Cell*>(ref->data), ndims, dims, elementSize, kind, data))
    return Fail(b, kWrongTypeInternal);
  return 1;
}

int ExtGetRefCount(ExtensionCallbackBlock* b, const ExtensionValueRef* ref, int32_t* count) {
  int64_t n = 0;
  int32_t fields = 0;
  if (ref == nullptr || !CompositeOf(ref, ref->kind, &n, &fields, nullptr)) return Fail(b, kWrongTypeInternal);
  *count = static_cast<int32_t>(ref->kind == kExtRefStruct ? fields : n);
  return 1;
}

int ExtGetListElement(ExtensionCallbackBlock* b, const ExtensionValueRef* ref, int32_t index,
                      ExtensionValueRef* element) {
  int64_t n = 0;
  CompositeElementHeader* first = nullptr;
  if (!CompositeOf(ref, kExtRefList, &n, nullptr, &first)) return Fail(b, kWrongTypeInternal);
  if (index < 1 || index > n) return Fail(b, kIndexOutOfRange);
  CompositeElementHeader* e = NthElement(first, index - 1);
  MakeRef(e, ElementData(e), element);
  return 1;
}

int ExtGetFieldName(ExtensionCallbackBlock* b, const ExtensionValueRef* ref, int32_t index, char* name) {
  int64_t n = 0;
  int32_t fields = 0;
  CompositeElementHeader* first = nullptr;
  if (!CompositeOf(ref, kExtRefStruct, &n, &fields, &first)) return Fail(b, kWrongTypeInternal);
  if (index < 1 || index > fields) return Fail(b, kIndexOutOfRange);
  const CompositeElementHeader* e = NthElement(first, index - 1);
  const int length = e->name != 0 ? std::min(SymbolLength(b->ctx, e->name), 31) : 0;
  if (length > 0) std::memcpy(name, SymbolText(b->ctx, e->name), length);
  name[length] = 0;
  return 1;
}

int ExtGetField(ExtensionCallbackBlock* b, const ExtensionValueRef* ref, const char* name, ExtensionValueRef* field) {
  int64_t n = 0;
  int32_t fields = 0;
  CompositeElementHeader* first = nullptr;
  if (!CompositeOf(ref, kExtRefStruct, &n, &fields, &first)) return Fail(b, kWrongTypeInternal);
  CompositeElementHeader* e = NamedElement(b->ctx, first, fields, name);
  if (e == nullptr) return Fail(b, kUndefField);
  MakeRef(e, ElementData(e), field);
  return 1;
}

int ExtGetStructArrayField(ExtensionCallbackBlock* b, const ExtensionValueRef* ref, int32_t element, const char* name,
                           ExtensionValueRef* field) {
  int64_t n = 0;
  int32_t fields = 0;
  CompositeElementHeader* first = nullptr;
  if (!CompositeOf(ref, kExtRefStructArray, &n, &fields, &first)) return Fail(b, kWrongTypeInternal);
  if (element < 1 || element > n) return Fail(b, kIndexOutOfRange);
  // The elements' fields lie one structure after the other.
  CompositeElementHeader* own = NthElement(first, int64_t{element - 1} * fields);
  CompositeElementHeader* e = NamedElement(b->ctx, own, fields, name);
  if (e == nullptr) return Fail(b, kUndefField);
  MakeRef(e, ElementData(e), field);
  return 1;
}

int ExtNewList(ExtensionCallbackBlock* b) {
  if (StringOpen(b)) return Fail(b, kIllegal);
  return Pushed(b, MakeListFromValues(b->ctx, 0, false, nullptr, 0));
}

int ExtAppendToList(ExtensionCallbackBlock* b) {
  if (StringOpen(b) || b->results < 2 || !IsListOrCellArg(b->ctx, 1)) return Fail(b, kIllegal);
  return Rearranged(b, MakeListFromValues(b->ctx, 1, true, nullptr, 0), -1);
}

int ExtNewStruct(ExtensionCallbackBlock* b) {
  if (StringOpen(b)) return Fail(b, kIllegal);
  return Pushed(b, MakeListFromValues(b->ctx, 0, false, "", 0));
}

int ExtAddField(ExtensionCallbackBlock* b, const char* name) {
  if (StringOpen(b) || b->results < 2 || !IsStructArg(b->ctx, 1) || name == nullptr || name[0] == 0)
    return Fail(b, kIllegal);
  const int length = static_cast<int>(std::strlen(name));
  return Rearranged(b, MakeListFromValues(b->ctx, 1, true, name, length), -1);
}

int ExtMakeStructArray(ExtensionCallbackBlock* b, int32_t ndims, const int32_t* dims) {
  if (StringOpen(b) || b->results < 1) return Fail(b, kIllegal);
  if (int ok = Rearranged(b, ConvertTopToStructArray(b->ctx), 0); ok == 0) return 0;
  if (dims == nullptr) return 1;
  return Rearranged(b, ReshapeTopValue(b->ctx, ndims, dims), 0);
}

int ExtWrite(ExtensionCallbackBlock* b, int32_t descriptor, const char* text, int32_t length, int32_t lineFlag) {
  const int32_t n = length < 0 ? static_cast<int32_t>(std::strlen(text)) : length;
  if (lineFlag == 0) {
    if (StatusCode st = WriteToDescriptor(b->ctx, descriptor, text, n); st != kOk) return Fail(b, st);
    return 1;
  }
  int32_t from = 0;
  for (int32_t k = 0; k <= n; ++k) {
    if (k < n && text[k] != '\n') continue;
    if (StatusCode st = WriteToDescriptor(b->ctx, descriptor, text + from, k - from); st != kOk) return Fail(b, st);
    if (k < n)
      if (StatusCode st = WriteNewlineToDescriptor(b->ctx, descriptor); st != kOk) return Fail(b, st);
    from = k + 1;
  }
  return 1;
}

int ExtError(ExtensionCallbackBlock* b, const char* identifier, const char* message) {
  const int idLength = identifier ? static_cast<int>(std::strlen(identifier)) : 0;
  const int64_t length = message ? static_cast<int64_t>(std::strlen(message)) : 0;
  return Fail(b, RaiseErrorWithIdentifier(b->ctx, identifier, idLength, message, length));
}

int ExtGetScalarArg(ExtensionCallbackBlock* b, int i, double* re, double* im) {
  const int p = InputPosition(b, i);
  if (p < 0) return Fail(b, kTooFewArgin);
  NumericView v;
  if (!ReadNumeric(b->ctx, p, &v)) return Fail(b, kWrongType);
  if (v.count != 1) return Fail(b, kNonScalarArg);
  // RealElement goes through the integer exactly, then rounds once.
  if (re) *re = RealElement(v, 0);
  if (im) *im = ImagElement(v, 0);
  return 1;
}

int ExtNewObject(ExtensionCallbackBlock* b, int32_t bytes, void** payload) {
  if (StringOpen(b)) return Fail(b, kIllegal);
  if (bytes < 0) return Fail(b, kBadArg);
  return Pushed(b, PushNativeObject(b->ctx, bytes, payload));
}

int ExtGetObjectArg(ExtensionCallbackBlock* b, int i, int32_t* bytes, void** payload) {
  const int p = InputPosition(b, i);
  if (p < 0) return Fail(b, kTooFewArgin);
  int64_t n = 0;
  if (StatusCode st = GetNativeObjectArg(b->ctx, p, &n, payload); st != kOk) return Fail(b, st);
  if (bytes) *bytes = static_cast<int32_t>(n);
  return 1;
}

// Offset in cells, from the start of the top structure's data, of its
// element named `name`; -1 when there is none.
int64_t FieldOffset(EngineContext* ctx, const char* name) {
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  auto* first = reinterpret_cast<CompositeElementHeader*>(TopData(ctx));
  int64_t count = 0;
  int32_t fields = 0;
  if (GetCompositeInfo(&d, first, 's', nullptr, nullptr, &count, &fields, nullptr) != kOk) return -1;
  const CompositeElementHeader* e = NamedElement(ctx, first, fields, name);
  return e == nullptr ? -1 : reinterpret_cast<const Cell*>(e) - reinterpret_cast<const Cell*>(first);
}

// Sets field `name` of the top structure to the value at position p: in
// its place when it has that field, else as a new last field.
StatusCode SetTopField(EngineContext* ctx, const char* name, int p) {
  const int64_t at = FieldOffset(ctx, name);
  if (at >= 0) {
    // The old element goes; the new one, appended, is rotated into its place.
    Cell* data = TopData(ctx);
    auto* old = reinterpret_cast<CompositeElementHeader*>(data + at);
    const int64_t span = ElementSpan(old);
    const int64_t after = DescriptorAt(ctx, 0)->cells - at - span;
    std::memmove(data + at, data + at + span, after * sizeof(Cell));
    DescriptorAt(ctx, 0)->cells -= static_cast<int32_t>(span);
    ctx->dataTop -= static_cast<int32_t>(span);
  }
  if (StatusCode st = DuplicateValues(ctx, p, 1); st != kOk) return st;
  if (StatusCode st = MakeListFromValues(ctx, 1, true, name, static_cast<int>(std::strlen(name))); st != kOk) {
    PopValue(ctx);
    return st;
  }
  if (at >= 0) {
    Cell* data = TopData(ctx);
    const int64_t cells = DescriptorAt(ctx, 0)->cells;
    int64_t last = 0;
    for (auto* e = reinterpret_cast<CompositeElementHeader*>(data);; e = NextElement(e)) {
      const int64_t offset = reinterpret_cast<Cell*>(e) - data;
      if (offset + ElementSpan(e) >= cells) {
        last = offset;
        break;
      }
    }
    std::rotate(data + at, data + last, data + cells);
  }
  return kOk;
}

// Option-style update. From the deepest: with odd n the structure R to
// update, then name/value pairs, then on top the structure S of defaults,
// all pushed by the function. R (or a copy of S) updated by the pairs takes
// the place of them all. Names are checked against S before anything moves.
int ExtSetFields(ExtensionCallbackBlock* b, int32_t n) {
  EngineContext* ctx = b->ctx;
  if (StringOpen(b) || n < 0 || b->results < n + 1) return Fail(b, kIllegal);
  if (!IsStructArg(ctx, 0) || DescriptorAt(ctx, 0)->extra != kStruct) return Fail(b, kWrongTypeInternal);
  const int pairs = n / 2;
  char names[kMaxDims][33];
  if (pairs > kMaxDims) return Fail(b, kTooManyArgin);
  for (int k = 0; k < pairs; ++k) {
    const int namePos = 2 * (pairs - k);
    int64_t length = 0;
    if (StatusCode st = CopyStringArgToBuffer(ctx, namePos, names[k], sizeof names[k], &length); st != kOk)
      return Fail(b, st);
    names[k][std::min<int64_t>(length, 32)] = 0;
    if (FieldOffset(ctx, names[k]) < 0) return Fail(b, kUnknownOpt);
  }
  if (n % 2 == 1 && (!IsStructArg(ctx, n) || DescriptorAt(ctx, n)->extra != kStruct))
    return Fail(b, kWrongTypeInternal);
  if (StatusCode st = DuplicateValues(ctx, n % 2 == 1 ? n : 0, 1); st != kOk) return Fail(b, st);
  for (int k = 0; k < pairs; ++k) {
    // The copy on top shifts every position by one.
    if (StatusCode st = SetTopField(ctx, names[k], 2 * (pairs - k)); st != kOk) {
      PopValue(ctx);
      return Fail(b, st);
    }
  }
  (void)DropArgsUnderResults(ctx, 1, n + 1);
  return Rearranged(b, kOk, -n);
}

int ExtPushComplex(ExtensionCallbackBlock* b, double re, double im) {
  if (StringOpen(b)) return Fail(b, kIllegal);
  return Pushed(b, im == 0 ? PushRealScalar(b->ctx, re) : PushComplexScalar(b->ctx, re, im));
}

int ExtPushBool(ExtensionCallbackBlock* b, int32_t value) {
  if (StringOpen(b)) return Fail(b, kIllegal);
  return Pushed(b, PushLogicalScalar(b->ctx, value != 0));
}

int ExtPollBreak(ExtensionCallbackBlock* b) { return PollBreak(b->ctx) ? Fail(b, kHalted) : 1; }

// Input i, then inputs after+1 to nargin; their positions in copying order.
int CopiedPositions(const ExtensionCallbackBlock* b, int i, int after, int* positions) {
  int n = 0;
  positions[n++] = InputPosition(b, i);
  for (int k = after + 1; k <= b->nargin; ++k) positions[n++] = InputPosition(b, k);
  return n;
}

int ExtSizeOfArgs(ExtensionCallbackBlock* b, int i, int after, int32_t* bytes) {
  if (InputPosition(b, i) < 0 || after < 1) return Fail(b, kTooFewArgin);
  int positions[kMaxDims * 8];
  if (b->nargin - after + 1 > static_cast<int>(sizeof positions / sizeof *positions)) return Fail(b, kTooManyArgin);
  const int n = CopiedPositions(b, i, after, positions);
  int64_t cells = 1;  // the count before the copies
  for (int k = 0; k < n; ++k) {
    int64_t size = 0;
    (void)GetValueSize(b->ctx, positions[k], &size);
    cells += size;
  }
  *bytes = static_cast<int32_t>(sizeof(PendingCallAccess) + cells * 8);
  return 1;
}

int ExtCopyArgsOut(ExtensionCallbackBlock* b, int i, int after, void* buffer) {
  if (InputPosition(b, i) < 0 || after < 1) return Fail(b, kTooFewArgin);
  int positions[kMaxDims * 8];
  if (b->nargin - after + 1 > static_cast<int>(sizeof positions / sizeof *positions)) return Fail(b, kTooManyArgin);
  const int n = CopiedPositions(b, i, after, positions);
  auto* access = static_cast<PendingCallAccess*>(buffer);
  GetPendingCallAccess(b->ctx, access);
  auto* block = reinterpret_cast<double*>(access + 1);
  block[0] = n - 1;
  double* out = block + 1;
  for (int k = 0; k < n; ++k) {
    int64_t size = 0;
    (void)CopyValueOut(b->ctx, positions[k], out);
    (void)GetValueSize(b->ctx, positions[k], &size);
    out += size;
  }
  return 1;
}

constexpr ExtensionCallbacks kCallbacks = {
    ExtGetMatrixArg,        ExtGetStringArg, ExtPushMatrix,     ExtBeginString,  ExtEndString,
    ExtAllocScratch,        ExtPrint,        ExtGetArrayArg,    ExtPushArray,    ExtGetArgRef,
    ExtGetArrayRefInfo,     ExtGetRefCount,  ExtGetListElement, ExtGetFieldName, ExtGetField,
    ExtGetStructArrayField, ExtNewList,      ExtAppendToList,   ExtNewStruct,    ExtAddField,
    ExtMakeStructArray,     ExtWrite,        ExtError,          ExtGetScalarArg, ExtNewObject,
    ExtGetObjectArg,        ExtSetFields,    ExtPushComplex,    ExtPushBool,     ExtPollBreak,
    ExtSizeOfArgs,          ExtCopyArgsOut,
};

// ---------------------------------------------------------------------------
// Loading

void CopyName(char* to, const char* from, int max) {
  int k = 0;
  for (; k < max && from[k] != 0; ++k) to[k] = from[k];
  to[k] = 0;
}

const char* FileNameOf(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

// The file name begins with the filter (ASCII case ignored) and continues
// with '.' or ends.
bool MatchesFilter(const char* name, const char* filter, int length) {
  for (int k = 0; k < length; ++k) {
    char a = name[k], c = filter[k];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (a == 0 || a != c) return false;
  }
  return name[length] == 0 || name[length] == '.';
}

template <class F>
F Symbol(void* library, const char* name) {
  return reinterpret_cast<F>(FindSharedLibrarySymbol(library, name));
}

StatusCode LoadCurrent(EngineContext* ctx, void* library, void* installArgument) {
  if (gCurrentCount == kMaxExtensionLibraries) return kInitError;
  const NativeFunctionRecord* records = nullptr;
  Symbol<InstallRVOExtensionsFn>(library, "InstallRVOExtensions")(ctx, installArgument, &records);
  if (StatusCode st = InstallNativeLibrary(ctx, records, true); st != kOk) return kInitError;
  gCurrent[gCurrentCount++] = {records, Symbol<ShutdownRVOExtensionsFn>(library, "ShutdownRVOExtensions")};
  return kOk;
}

StatusCode LoadOlder(EngineContext* ctx, void* library, const char* path) {
  auto install = Symbol<InstallFnFn>(library, "InstallFn");
  if (install == nullptr || gOlderCount == kMaxExtensionLibraries) return kInitError;
  ExtensionCallbackBlock block;
  FillExtensionCallbackBlock(ctx, &block);
  const ExtensionFunctionDescriptor* descriptors = nullptr;
  const int n = install(&block, &descriptors);
  // The header, the records and an end record after them must all fit.
  if (n > 0 && (descriptors == nullptr || gWrappersUsed + 1 + n + 1 > kWrapperRecords)) return kInitError;
  const int header = gWrappersUsed;
  if (n > 0) {
    NativeFunctionRecord& h = gWrappers[gWrappersUsed++];
    h = {};
    h.name[0] = '@';
    const char* name = FileNameOf(path);
    int k = 0;
    for (; k < 30 && name[k] != 0 && name[k] != '.'; ++k) h.name[k + 1] = name[k];
    for (int d = 0; d < n; ++d) {
      const ExtensionFunctionDescriptor& e = descriptors[d];
      NativeFunctionRecord& r = gWrappers[gWrappersUsed++];
      r = {};
      r.handler = CallOlderExtensionFunction;
      r.userData = reinterpret_cast<void*>(e.fn);
      const bool method = e.name[0] == '<';
      r.kind = method ? 1 : -1;
      CopyName(r.name, e.name + (method ? 1 : 0), 31);
      r.minInputs = static_cast<uint8_t>(e.minInputs);
      r.maxInputs = static_cast<uint8_t>(e.maxInputs);
      r.minOutputs = static_cast<uint8_t>(e.minOutputs);
      r.maxOutputs = static_cast<uint8_t>(e.maxOutputs);
    }
  }
  gOlder[gOlderCount++] = {header, Symbol<ShutdownFnFn>(library, "ShutdownFn")};
  return kOk;
}

struct FolderWalk {
  EngineContext* ctx;
  void* installArgument;
  const char* folder;
  const char* filter;
  int filterLength;
  ExtensionReportFn report;
  void* reportData;
};

bool VisitExtension(const char* name, void* data) {
  auto* w = static_cast<FolderWalk*>(data);
  // A name too long for the buffer is skipped, never cut to another file's.
  char path[kPathBytes];
  const size_t folderLength = std::strlen(w->folder), nameLength = std::strlen(name);
  if (nameLength < kNameBytes && folderLength + 1 + nameLength < sizeof path) {
    std::memcpy(path, w->folder, folderLength);
    path[folderLength] = '/';
    std::memcpy(path + folderLength + 1, name, nameLength + 1);
    (void)LoadExtensionLibrary(w->ctx, w->installArgument, path, w->filter, w->filterLength, w->report, w->reportData);
  }
  return gCurrentCount < kMaxExtensionLibraries;
}

// A relative path is taken from the executable's folder.
bool ResolvePath(const char* path, char* out, int size) {
  if (path[0] == '/') {
    if (std::strlen(path) >= static_cast<size_t>(size)) return false;
    std::strcpy(out, path);
    return true;
  }
  if (!GetExecutableFolder(out, size)) return false;
  const size_t used = std::strlen(out), length = std::strlen(path);
  if (used + 1 + length >= static_cast<size_t>(size)) return false;
  out[used] = '/';
  std::memcpy(out + used + 1, path, length + 1);
  return true;
}

}  // namespace

void FillExtensionCallbackBlock(EngineContext* ctx, ExtensionCallbackBlock* block) {
  *block = {};
  block->version = kCallbackBlockVersion;
  block->version2 = kCallbackBlockVersion;
  block->callbacks = kCallbacks;
  block->ctx = ctx;
  block->stringLength = -1;
  int64_t bytes = 0;
  Cell* free = nullptr;
  (void)GetFreeDataSpace(ctx, &bytes, &free);
  block->scratch = reinterpret_cast<uint8_t*>(free);
  block->scratchBytes = static_cast<int32_t>(std::min<int64_t>(bytes, INT32_MAX));
}

StatusCode CallExtensionFunction(EngineContext* ctx, ExtensionFunction fn, int nargin, int nargout) {
  ExtensionCallbackBlock block;
  FillExtensionCallbackBlock(ctx, &block);
  block.nargin = nargin;
  block.nargout = nargout;
  const int ok = fn(&block, nargin, nargout);
  // A string left open is closed at its reserved length, so no value holds raw bytes.
  if (block.stringLength >= 0) (void)FinishStringBuffer(ctx, block.stringLength);
  const int results = block.results;
  StatusCode st = kOk;
  if (ok == 0) {
    st = block.error != 0 ? block.error : kUnknownError;
  } else if (results < nargout) {
    st = kTooManyArgout;
  }
  if (st != kOk) {
    // The inputs stay as they came, so an overload or a retry as double may follow.
    for (int k = 0; k < results; ++k) PopValue(ctx);
    return ReportedStatus(st);
  }
  // The function pushed its outputs first to last; the first ends on top.
  const int keep = std::min(results, std::max(nargout, 1));
  for (int k = keep; k < results; ++k) PopValue(ctx);
  (void)ReverseValues(ctx, keep);
  return DropArgsUnderResults(ctx, keep, nargin);
}

StatusCode CallOlderExtensionFunction(EngineContext* ctx, int nargin, int nargout, void* userData) {
  return CallExtensionFunction(ctx, reinterpret_cast<ExtensionFunction>(userData), nargin, nargout);
}

StatusCode LoadExtensionLibrary(EngineContext* ctx, void* installArgument, const char* path, const char* filter,
                                int filterLength, ExtensionReportFn report, void* reportData) {
  if (filter != nullptr && filterLength > 0 && !MatchesFilter(FileNameOf(path), filter, filterLength)) return kOk;
  if (path[0] == 0) return kInitError;
  void* library = OpenSharedLibrary(path);
  if (library == nullptr) return kInitError;
  auto version = Symbol<GetRVOExtensionsVersionFn>(library, "GetRVOExtensionsVersion");
  const bool current = version != nullptr && version() == kExtensionInterfaceVersion &&
                       FindSharedLibrarySymbol(library, "InstallRVOExtensions") != nullptr;
  const StatusCode st = current ? LoadCurrent(ctx, library, installArgument) : LoadOlder(ctx, library, path);
  if (st != kOk) {
    CloseSharedLibrary(library);
    return st;
  }
  if (report != nullptr) report(path, reportData);
  return kOk;
}

StatusCode LoadExtensionLibraries(EngineContext* ctx, void* installArgument, const char* path, bool singleFile,
                                  const char* filter, int filterLength, ExtensionReportFn report, void* reportData) {
  // Natives are numbered by registration; code compiled before would call the wrong ones.
  if (!CanInstallLibraries(ctx)) return kInitError;
  const int start = gWrappersUsed;
  char resolved[kPathBytes];
  StatusCode result = kOk;
  if (singleFile) {
    result = path != nullptr && ResolvePath(path, resolved, sizeof resolved)
                 ? LoadExtensionLibrary(ctx, installArgument, resolved, filter, filterLength, report, reportData)
                 : kInitError;
  } else if (ResolvePath(path != nullptr ? path : "RVOExt", resolved, sizeof resolved)) {
    FolderWalk walk{ctx, installArgument, resolved, filter, filterLength, report, reportData};
    (void)VisitFolderFiles(resolved, ".so", VisitExtension, &walk);
  }
  if (gWrappersUsed > start) {
    gWrappers[gWrappersUsed++] = {};  // the run's end record
    if (StatusCode st = InstallNativeLibrary(ctx, gWrappers + start, true); st != kOk) return st;
  }
  return result;
}
