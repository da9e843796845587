// Option sets: building an option structure from a table's defaults and
// name/value pairs, and reading one option back with a default. Everything
// is built above the arguments, so a failure only has to reset the tops.

#include <cmath>
#include <cstring>

#include "engine/values/valuestack.h"

namespace {

constexpr int kOptionNameBytes = sizeof(OptionDefaultRecord::name);

int RecordNameLength(const OptionDefaultRecord& r) { return static_cast<int>(strnlen(r.name, kOptionNameBytes)); }

bool IsEmptyPlain(const ValueDescriptor& d) { return IsPlainMatrix(d) && d.cells == 0; }
bool IsStruct(const ValueDescriptor& d) { return d.kind == kComposite && d.extra == kStruct; }
bool IsChar(const ValueDescriptor& d) { return d.kind == kBoxed && d.extra == kCharArray; }

// A character code that a byte cannot hold matches no option name.
int FindOptionByCodes(const OptionDefaultRecord* table, const uint16_t* codes, int64_t length) {
  if (length > kOptionNameBytes) return -1;
  for (int i = 0; table[i].type != kOptionEnd; ++i) {
    if (RecordNameLength(table[i]) != length) continue;
    int64_t k = 0;
    while (k < length && codes[k] == static_cast<uint8_t>(table[i].name[k])) ++k;
    if (k == length) return i;
  }
  return -1;
}

// Integer part of a default value taken to a byte (wrapping like a cast of
// the integer); values beyond any integer give 0.
uint16_t ByteOfValue(double v) {
  if (!(std::fabs(v) < 9.0e18)) return 0;
  return static_cast<uint8_t>(static_cast<int64_t>(v));
}

[[nodiscard]] StatusCode PushDefault(EngineContext* ctx, const OptionDefaultRecord& r) {
  switch (r.type) {
    case kOptionReal:
      return PushRealScalar(ctx, r.values[0]);
    case kOptionRow2:
    case kOptionRow3:
    case kOptionRow4: {
      const int n = static_cast<int>(r.type) + 1;
      double* re = nullptr;
      if (StatusCode st = PushDoubleMatrix(ctx, 1, n, &re, nullptr); st != kOk) return st;
      std::memcpy(re, r.values, n * sizeof(double));
      return kOk;
    }
    case kOptionLogical:
      // NaN has no integer part of 0, so it counts as true.
      return PushLogicalScalar(ctx, std::trunc(r.values[0]) != 0.0 ? 1 : 0);
    case kOptionEmpty:
      return PushEmptyMatrix(ctx);
    case kOptionEmptyList:
      return PushValue(ctx, kComposite, 0, kList, Room::kStrict, nullptr);
    case kOptionEmptyString:
      return PushCharRow(ctx, 0, nullptr);
    case kOptionText:
      return PushStringFromBytes(ctx, -1, r.text != nullptr ? r.text : "");
    default:
      break;
  }
  if (r.type >= kOptionChars1 && r.type <= kOptionChars4) {
    const int n = static_cast<int>(r.type - kOptionChars1) + 1;
    uint16_t* codes = nullptr;
    if (StatusCode st = PushCharRow(ctx, n, &codes); st != kOk) return st;
    for (int k = 0; k < n; ++k) codes[k] = ByteOfValue(r.values[k]);
    return kOk;
  }
  return kBadArg;  // a table with a type this engine does not know
}

// The field of a structure's data named id, or null.
CompositeElementHeader* FindField(const ValueDescriptor& d, Cell* data, SymbolId id) {
  const Cell* end = data + d.cells;
  for (Cell* c = data; c < end;) {
    auto* e = reinterpret_cast<CompositeElementHeader*>(c);
    if (e->name == id) return e;
    c += kElementHeaderCells + e->cells;
  }
  return nullptr;
}

// Sets field `id` of the structure on top to a copy of the value at position
// (below the structure): in place when the field exists, moving the later
// fields, else appended at the end.
[[nodiscard]] StatusCode SetTopField(EngineContext* ctx, SymbolId id, const char* name, int length, int position) {
  const ValueDescriptor s = *DescriptorAt(ctx, 0);
  Cell* data = TopData(ctx);
  CompositeElementHeader* e = FindField(s, data, id);
  if (e == nullptr) {
    if (StatusCode st = DuplicateValues(ctx, position, 1); st != kOk) return st;
    return MakeListFromValues(ctx, 1, true, name, length);
  }
  const ValueDescriptor v = *DescriptorAt(ctx, position);
  const int64_t delta = int64_t{v.cells} - e->cells;
  if (delta > 0 && delta >= FreeDataCells(ctx)) return kDataStackFull;
  Cell* field = reinterpret_cast<Cell*>(e) + kElementHeaderCells;
  Cell* tail = field + e->cells;
  const int64_t tailCells = (data + s.cells) - tail;
  std::memmove(tail + delta, tail, tailCells * sizeof(Cell));
  std::memcpy(field, DataAt(ctx, position), int64_t{v.cells} * sizeof(Cell));
  e->kind = v.kind;
  e->cells = v.cells;
  e->extra = v.extra;
  DescriptorAt(ctx, 0)->cells += static_cast<int32_t>(delta);
  ctx->dataTop += static_cast<int32_t>(delta);
  return kOk;
}

// Builds the structure on top of the arguments; the caller resets the tops
// when it fails.
[[nodiscard]] StatusCode BuildOptionStruct(EngineContext* ctx, int nargin, const OptionDefaultRecord* table) {
  const int pairs = nargin / 2;
  if (nargin % 2 == 1) {
    // A copy rather than a rotation, so that the given structure is intact
    // should anything fail.
    if (StatusCode st = DuplicateValues(ctx, nargin - 1, 1); st != kOk) return st;
  } else {
    if (StatusCode st = PushValue(ctx, kComposite, 0, kStruct, Room::kStrict, nullptr); st != kOk) return st;
    for (int i = 0; table[i].type != kOptionEnd; ++i) {
      if (table[i].hidden != 0) continue;
      if (StatusCode st = PushDefault(ctx, table[i]); st != kOk) return st;
      if (StatusCode st = MakeListFromValues(ctx, 1, true, table[i].name, RecordNameLength(table[i])); st != kOk)
        return st;
    }
  }
  // With the structure on top, pair j's name is at position 2 * (pairs - j)
  // and its value just above it.
  for (int j = 0; j < pairs; ++j) {
    const int namePosition = 2 * (pairs - j);
    const ArrayView a = ReadArray(DataAt(ctx, namePosition));
    const int i = FindOptionByCodes(table, reinterpret_cast<const uint16_t*>(a.data), a.count);
    const int length = RecordNameLength(table[i]);
    SymbolId id = 0;
    if (StatusCode st = InternSymbol(ctx, table[i].name, length, 32, &id); st != kOk) return st;
    if (StatusCode st = SetTopField(ctx, id, table[i].name, length, namePosition - 1); st != kOk) return st;
  }
  return kOk;
}

}  // namespace

int FindOptionRecord(const OptionDefaultRecord* table, const char* name, int length) {
  if (table == nullptr || name == nullptr) return -1;
  if (length < 0) length = static_cast<int>(std::strlen(name));
  if (length > kOptionNameBytes) return -1;
  for (int i = 0; table[i].type != kOptionEnd; ++i)
    if (RecordNameLength(table[i]) == length && std::memcmp(table[i].name, name, length) == 0) return i;
  return -1;
}

StatusCode ApplyOptionSet(EngineContext* ctx, int nargin, const OptionDefaultRecord* table) {
  if (table == nullptr || nargin < 0 || 3 * nargin > ctx->descLength) return kBadArg;
  // Every argument is checked before anything is built.
  if (nargin % 2 == 1 && !IsStruct(*DescriptorAt(ctx, nargin - 1))) return kWrongTypeInternal;
  for (int position = 2 * (nargin / 2) - 1; position > 0; position -= 2) {
    if (!IsChar(*DescriptorAt(ctx, position))) return kWrongTypeInternal;
    const ArrayView a = ReadArray(DataAt(ctx, position));
    if (FindOptionByCodes(table, reinterpret_cast<const uint16_t*>(a.data), a.count) < 0) return kUnknownOpt;
  }
  const int32_t descLength = ctx->descLength;
  const int32_t dataTop = ctx->dataTop;
  if (StatusCode st = BuildOptionStruct(ctx, nargin, table); st != kOk) {
    ctx->descLength = descLength;
    ctx->dataTop = dataTop;
    return st;
  }
  return DropArgsUnderResults(ctx, 1, nargin);
}

StatusCode PushOptionValue(EngineContext* ctx, int position, const char* name, const OptionDefaultRecord* table) {
  if (name == nullptr || position < 0 || 3 * (position + 1) > ctx->descLength) return kBadArg;
  const ValueDescriptor d = *DescriptorAt(ctx, position);
  if (!IsEmptyPlain(d)) {
    if (!IsStruct(d)) return kWrongTypeInternal;
    // A name never interned cannot be a field of any structure.
    const SymbolId id = FindSymbol(ctx, name, static_cast<int>(std::strlen(name)));
    const CompositeElementHeader* e = id != 0 ? FindField(d, DataAt(ctx, position), id) : nullptr;
    if (e != nullptr && !IsEmptyPlain({e->kind, e->cells, e->extra})) {
      Cell* copy = nullptr;
      if (StatusCode st = PushValue(ctx, e->kind, e->cells, e->extra, Room::kStrict, &copy); st != kOk) return st;
      std::memcpy(copy, reinterpret_cast<const Cell*>(e) + kElementHeaderCells, int64_t{e->cells} * sizeof(Cell));
      return kOk;
    }
  }
  const int i = FindOptionRecord(table, name, -1);
  if (i < 0) return kUndefField;
  return PushDefault(ctx, table[i]);
}

StatusCode PopRealScalarOrDefault(EngineContext* ctx, double defaultValue, double* value) {
  if (ctx->descLength < 3) return kBadArg;
  // Reading the element as a double is the conversion to double, without
  // needing room for a converted copy.
  NumericView v;
  if (!ReadNumeric(ctx, 0, &v)) return kWrongTypeInternal;
  if (v.count > 1) return kBadSize;
  const double x = v.count == 0 ? defaultValue : RealElement(v, 0);
  PopValue(ctx);
  if (value) *value = x;
  return kOk;
}

StatusCode GetRealOption(EngineContext* ctx, int position, const char* name, const OptionDefaultRecord* table,
                         double defaultValue, double* value) {
  if (StatusCode st = PushOptionValue(ctx, position, name, table); st != kOk) return st;
  const int i = FindOptionRecord(table, name, -1);
  if (i >= 0 && table[i].type == kOptionReal) defaultValue = table[i].values[0];
  if (i >= 0 && table[i].type == kOptionLogical) defaultValue = std::trunc(table[i].values[0]) != 0.0 ? 1.0 : 0.0;
  if (StatusCode st = PopRealScalarOrDefault(ctx, defaultValue, value); st != kOk) {
    PopValue(ctx);
    return st;
  }
  return kOk;
}

StatusCode GetBooleanOption(EngineContext* ctx, int position, const char* name, const OptionDefaultRecord* table,
                            bool defaultFlag, bool* flag) {
  double x = 0;
  if (StatusCode st = GetRealOption(ctx, position, name, table, defaultFlag ? 1.0 : 0.0, &x); st != kOk) return st;
  if (flag) *flag = x < 0 || x > 0;
  return kOk;
}
