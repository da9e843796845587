// Values written as source text that recreates them: the writer behind
// `dumpvar`, the variable listing and `variables`. The text is built in 16-bit
// characters and either kept in a caller's buffer or flushed, through the
// charset encoder, to a descriptor whenever the buffer runs full.
#include <charconv>
#include <cmath>
#include <cstring>

#include "engine/bytecode.h"
#include "engine/dispatch.h"
#include "engine/frames.h"
#include "engine/functionstore.h"
#include "engine/heap.h"
#include "engine/objects.h"
#include "engine/registry.h"
#include "engine/values/valuestack.h"
#include "engine/variableaccess.h"
#include "engine/vm.h"

namespace {

// Composites nest at most this deep; deeper content is refused, not cut.
constexpr int kMaxSourceDepth = 30;
// A row goes on over "..." once its line has grown past this many characters.
constexpr int64_t kLineLimit = 59;
// A caller's buffer must leave this much room for the text.
constexpr int64_t kMinBufferRoom = 50;

struct SourceText {
  EngineContext* ctx;
  uint16_t* buffer;
  int64_t size;
  int32_t descriptor;  // -1: the buffer is the destination
  int64_t n = 0;
  int64_t column = 0;  // characters since the last line break, flushed ones included
  StatusCode st = kOk;

  // Sends what the buffer holds to the descriptor; a break asked for after a
  // line break ends the writing.
  StatusCode Flush() {
    char chunk[256];
    int used = 0;
    auto send = [&]() -> StatusCode {
      if (used == 0) return kOk;
      const StatusCode w = WriteToDescriptor(ctx, descriptor, chunk, used);
      used = 0;
      return w;
    };
    for (int64_t k = 0; k < n; ++k) {
      const uint16_t ch = buffer[k];
      if (ch == '\n') {
        if (StatusCode s = send(); s != kOk) return s;
        if (StatusCode s = WriteNewlineToDescriptor(ctx, descriptor); s != kOk) return s;
        if (PollBreak(ctx)) return kHalted;
        continue;
      }
      if (used + 4 > static_cast<int>(sizeof chunk))
        if (StatusCode s = send(); s != kOk) return s;
      if (!EncodeCharWithCharset(ctx, ch, chunk, &used, sizeof chunk)) chunk[used++] = static_cast<char>(ch & 0xFF);
    }
    n = 0;
    return send();
  }

  void Put(uint16_t ch) {
    if (st != kOk) return;
    if (n >= size) {
      if (descriptor < 0) {
        st = kDataStackFull;
        return;
      }
      if ((st = Flush()) != kOk) return;
    }
    buffer[n++] = ch;
    column = ch == '\n' ? 0 : column + 1;
  }
  void Put(const char* text, int64_t length = -1) {
    if (length < 0) length = static_cast<int64_t>(std::strlen(text));
    for (int64_t k = 0; k < length; ++k) Put(static_cast<uint8_t>(text[k]));
  }
  void PutInteger(int64_t v) {
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof digits, v);
    Put(digits, r.ptr - digits);
  }
  void PutUnsigned(uint64_t v) {
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof digits, v);
    Put(digits, r.ptr - digits);
  }
  void PutDims(const uint32_t* dims, int ndims) {
    Put("[");
    for (int k = 0; k < ndims; ++k) {
      if (k > 0) Put(",");
      PutUnsigned(dims[k]);
    }
    Put("]");
  }
};

// The fewest digits that read back to the same double.
void PutDouble(SourceText& w, double x) {
  if (std::isnan(x)) return w.Put("nan");
  if (std::isinf(x)) return w.Put(x < 0 ? "-inf" : "inf");
  char digits[32];
  const auto r = std::to_chars(digits, digits + sizeof digits, x);
  w.Put(digits, r.ptr - digits);
}

// A single is read back as a double literal rounded to single; its own
// shortest digits can round twice, and the double's digits never do.
void PutSingle(SourceText& w, float x) {
  if (std::isnan(x) || std::isinf(x)) return PutDouble(w, x);
  char digits[32];
  auto r = std::to_chars(digits, digits + sizeof digits, x);
  double back = 0;
  std::from_chars(digits, r.ptr, back);
  if (static_cast<float>(back) != x) r = std::to_chars(digits, digits + sizeof digits, static_cast<double>(x));
  w.Put(digits, r.ptr - digits);
}

void PutReal(SourceText& w, double x, bool single) {
  if (single)
    PutSingle(w, static_cast<float>(x));
  else
    PutDouble(w, x);
}

bool IsNegativeZero(double x) { return x == 0 && std::signbit(x); }
bool IsPositiveZero(double x) { return x == 0 && !std::signbit(x); }

// re + im*j keeps neither a non-finite imaginary part nor the sign of a zero
// (-0 + 0 is +0), so such an element is written complex(re,im).
bool NeedsComplexCall(double re, double im) {
  return !std::isfinite(im) || IsNegativeZero(im) || IsNegativeZero(re);
}

void PutComplex(SourceText& w, double re, double im, bool single) {
  if (NeedsComplexCall(re, im)) {
    w.Put("complex(");
    PutReal(w, re, single);
    w.Put(",");
    PutReal(w, im, single);
    return w.Put(")");
  }
  PutReal(w, re, single);
  w.Put(std::signbit(im) ? "-" : "+");
  PutReal(w, std::fabs(im), single);
  w.Put("j");
}

void PutInteger(SourceText& w, __int128 v, uint32_t cls) {
  if (cls == kUint64)
    w.PutUnsigned(static_cast<uint64_t>(v));
  else
    w.PutInteger(static_cast<int64_t>(v));
}

void PutCharElement(SourceText& w, uint16_t ch) {
  static const char kEscapes[] = "\aa\bb\tt\nn\vv\ff\rr''\\\\";
  for (int k = 0; kEscapes[k] != 0; k += 2)
    if (ch == static_cast<uint8_t>(kEscapes[k])) {
      w.Put('\\');
      return w.Put(static_cast<uint8_t>(kEscapes[k + 1]));
    }
  if (ch < 32 || ch == 127) {
    static const char kHex[] = "0123456789abcdef";
    w.Put("\\x");
    w.Put(static_cast<uint8_t>(kHex[ch >> 4]));
    return w.Put(static_cast<uint8_t>(kHex[ch & 15]));
  }
  w.Put(ch);
}

// What kind of array a view holds, beyond its element class.
struct ArrayFacts {
  bool isChar, isLogical, isInteger, isSingle, isComplex;
};

ArrayFacts FactsOf(const NumericView& v, int32_t subtype) {
  ArrayFacts f{};
  f.isChar = !v.plain && subtype == kCharArray;
  f.isLogical = !v.plain && subtype == kLogicalArray;
  f.isInteger = !f.isChar && !f.isLogical && IsIntegerClass(v.cls);
  f.isSingle = v.cls == kSingle || v.cls == kComplexSingle;
  f.isComplex = IsComplexClass(v.cls);
  return f;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// One row of a non-char array, compressed into runs where a run reads back
// the same: zeros(1,n), ones(1,n), v*ones(1,n), v:w, true(1,n).
void PutRow(SourceText& w, const NumericView& v, const ArrayFacts& f, int64_t base, int64_t cols) {
  const bool wide = f.isInteger && (v.cls == kInt64 || v.cls == kUint64);
  auto re = [&](int64_t c) { return RealElement(v, base + c); };
  auto im = [&](int64_t c) { return ImagElement(v, base + c); };
  auto isZero = [&](int64_t c) { return IsPositiveZero(re(c)) && (!f.isComplex || IsPositiveZero(im(c))); };
  int64_t c = 0;
  while (c < cols && w.st == kOk) {
    if (c > 0) {
      w.Put(",");
      if (w.column > kLineLimit) {
        w.Put("...");
        w.Put('\n');
      }
    }
    const int64_t left = cols - c;
    if (f.isLogical) {
      int64_t n = 1;
      while (c + n < cols && (re(c + n) != 0) == (re(c) != 0)) ++n;
      w.Put(re(c) != 0 ? "true" : "false");
      if (n > 1) {
        w.Put("(1,");
        w.PutInteger(n);
        w.Put(")");
      }
      c += n;
      continue;
    }
    // 64-bit integers keep a suffix on every element: a run of them would
    // read back as doubles.
    if (!wide) {
      int64_t zeros = 0;
      while (c + zeros < cols && isZero(c + zeros)) ++zeros;
      if (zeros >= 5) {
        w.Put("zeros(1,");
        w.PutInteger(zeros);
        w.Put(")");
        c += zeros;
        continue;
      }
    }
    if (!f.isComplex && !wide && (f.isInteger || left >= 4)) {
      int64_t n = 1;
      while (c + n < cols && SameBits(re(c + n), re(c))) ++n;
      const double x = re(c);
      if (n >= 5 || (!f.isInteger && n >= 3 && x != 1)) {
        if (IsPositiveZero(x)) {
          w.Put("zeros(1,");
        } else if (x == 1) {
          w.Put("ones(1,");
        } else {
          if (f.isInteger)
            PutInteger(w, IntegerElement(v, base + c), v.cls);
          else
            PutReal(w, x, f.isSingle);
          w.Put("*ones(1,");
        }
        w.PutInteger(n);
        w.Put(")");
        c += n;
        continue;
      }
    }
    if (!f.isComplex && !f.isInteger && left >= 3 && std::fabs(re(c)) * 0x1p-52 < 0.1) {
      int64_t n = 1;
      while (c + n < cols && re(c + n) == re(c + n - 1) + 1) ++n;
      if (n >= 3) {
        PutReal(w, re(c), f.isSingle);
        w.Put(":");
        PutReal(w, re(c + n - 1), f.isSingle);
        c += n;
        continue;
      }
    }
    if (f.isComplex)
      PutComplex(w, re(c), im(c), f.isSingle);
    else if (f.isInteger)
      PutInteger(w, IntegerElement(v, base + c), v.cls);
    else
      PutReal(w, re(c), f.isSingle);
    if (wide) w.Put(ElementClassName(v.cls));
    ++c;
  }
}

void PutCharRow(SourceText& w, const NumericView& v, int64_t base, int64_t cols) {
  const auto* codes = reinterpret_cast<const uint16_t*>(v.data);
  w.Put("'");
  for (int64_t c = 0; c < cols; ++c) PutCharElement(w, codes[base + c]);
  w.Put("'");
}

// The elements [base, base + rows * cols) as a rows x cols array, with its
// class wrapper or suffix.
void PutArrayPart(SourceText& w, const NumericView& v, const ArrayFacts& f, int64_t base, int64_t rows, int64_t cols) {
  const bool scalar = rows == 1 && cols == 1;
  const bool wide = f.isInteger && (v.cls == kInt64 || v.cls == kUint64);
  // A complex value whose imaginary parts are all 0 would be written real.
  bool allRealImag = f.isComplex;
  for (int64_t k = 0; k < rows * cols && allRealImag; ++k) allRealImag = ImagElement(v, base + k) == 0;
  const char* wrapper = nullptr;
  // A word such as inf takes no suffix: "infsingle" would be a name.
  const bool word = scalar && f.isSingle && !std::isfinite(RealElement(v, base));
  if (f.isSingle && (!scalar || f.isComplex || word)) wrapper = "single(";
  if (f.isInteger && !scalar && !wide) wrapper = ElementClassName(v.cls);
  if (wrapper) {
    w.Put(wrapper);
    if (f.isInteger) w.Put("(");
  }
  if (scalar && f.isChar) {
    PutCharRow(w, v, base, 1);
  } else if (scalar) {
    if (f.isLogical)
      w.Put(RealElement(v, base) != 0 ? "true" : "false");
    else if (f.isComplex && !allRealImag)
      PutComplex(w, RealElement(v, base), ImagElement(v, base), f.isSingle);
    else if (f.isInteger)
      PutInteger(w, IntegerElement(v, base), v.cls), w.Put(ElementClassName(v.cls));
    else
      PutReal(w, RealElement(v, base), f.isSingle);
    if (f.isSingle && !f.isComplex && !word) w.Put("single");
  } else if (f.isChar && rows == 1) {
    PutCharRow(w, v, base, cols);
  } else {
    w.Put("[");
    for (int64_t r = 0; r < rows && w.st == kOk; ++r) {
      if (r > 0) w.Put('\n');
      if (f.isChar)
        PutCharRow(w, v, base + r * cols, cols);
      else if (allRealImag)
        PutRow(w, NumericView{f.isSingle ? kSingle : kDouble, v.ndims, {}, v.count, v.data, v.plain}, ArrayFacts{},
               base + r * cols, cols);
      else
        PutRow(w, v, f, base + r * cols, cols);
    }
    w.Put("]");
  }
  if (allRealImag) w.Put("+0*1j");
  if (wrapper) w.Put(")");
}

void PutEmptyArray(SourceText& w, const NumericView& v, const ArrayFacts& f) {
  const bool plainShape = v.ndims == 2 && v.dims[0] == 0 && v.dims[1] == 0;
  const char* wrapper = f.isLogical ? "logical(" : f.isSingle ? "single(" : nullptr;
  if (f.isInteger) wrapper = ElementClassName(v.cls);
  if (wrapper) {
    w.Put(wrapper);
    if (f.isInteger) w.Put("(");
  }
  if (!plainShape) w.Put("reshape(");
  w.Put(f.isChar ? "''" : "[]");
  if (!plainShape) {
    w.Put(",");
    w.PutDims(v.dims, v.ndims);
    w.Put(")");
  }
  if (f.isComplex) w.Put("+0*1j");
  if (wrapper) w.Put(")");
}

void PutArray(SourceText& w, const NumericView& v, int32_t subtype) {
  const ArrayFacts f = FactsOf(v, subtype);
  if (v.count == 0) return PutEmptyArray(w, v, f);
  if (v.ndims <= 2) return PutArrayPart(w, v, f, 0, v.dims[0], v.dims[1]);
  w.Put("reshape(");
  PutArrayPart(w, v, f, 0, 1, v.count);
  w.Put(",");
  w.PutDims(v.dims, v.ndims);
  w.Put(")");
}

StatusCode PutValue(SourceText& w, const ValueDescriptor& d, Cell* data, int depth);

// A copy of a value pushed on top, for the core builtins and the hooks that
// take their value there.
StatusCode PushCopyOf(EngineContext* ctx, const ValueDescriptor& d, const Cell* data) {
  Cell* to = nullptr;
  if (StatusCode st = PushValue(ctx, d.kind, d.cells, d.extra, Room::kStrict, &to); st != kOk) return st;
  std::memmove(to, data, int64_t{d.cells} * sizeof(Cell));
  return kOk;
}

StatusCode RunBuiltinOnTop(EngineContext* ctx, Op op) {
  const int16_t ins[2] = {static_cast<int16_t>(op), 1};
  return RunCoreBuiltin(ctx, ins);
}

void PutSeparator(SourceText& w) {
  w.Put(", ...");
  w.Put('\n');
}

StatusCode PutElements(SourceText& w, CompositeElementHeader* e, int64_t n, int depth, bool named) {
  for (int64_t k = 0; k < n && w.st == kOk; ++k, e = NextElement(e)) {
    if (k > 0) PutSeparator(w);
    if (named) {
      w.Put("'");
      w.Put(SymbolText(w.ctx, e->name), SymbolLength(w.ctx, e->name));
      w.Put("',");
    }
    if (StatusCode st = PutValue(w, DescriptorOf(e), ElementData(e), depth); st != kOk) return st;
  }
  return w.st;
}

StatusCode PutStructArray(SourceText& w, const ValueDescriptor& d, Cell* data, int depth) {
  EngineContext* ctx = w.ctx;
  const int32_t mark = ctx->descLength;
  auto done = [&](StatusCode st) {
    while (ctx->descLength > mark) PopValue(ctx);
    return st;
  };
  if (StatusCode st = PushCopyOf(ctx, d, data); st != kOk) return st;
  if (StatusCode st = RunBuiltinOnTop(ctx, Op::Struct2cell); st != kOk) return done(st);
  if (StatusCode st = PushCopyOf(ctx, d, data); st != kOk) return done(st);
  if (StatusCode st = RunBuiltinOnTop(ctx, Op::Fieldnames); st != kOk) return done(st);
  CompositeView cells{}, names{};
  if (!ReadComposite(*DescriptorAt(ctx, 1), DataAt(ctx, 1), &cells) ||
      !ReadComposite(*DescriptorAt(ctx, 0), DataAt(ctx, 0), &names))
    return done(kWrongType);
  w.Put("cell2struct(reshape({");
  if (StatusCode st = PutElements(w, cells.first, cells.count, depth, false); st != kOk) return done(st);
  w.Put("},");
  uint32_t dims[kMaxDims + 1];
  for (int k = 0; k < cells.ndims; ++k) dims[k] = static_cast<uint32_t>(cells.dims[k]);
  w.PutDims(dims, cells.ndims);
  w.Put("),{");
  if (StatusCode st = PutElements(w, names.first, names.count, depth, false); st != kOk) return done(st);
  w.Put("})");
  return done(w.st);
}

// A native object's text comes from its class's "+wdump" hook (16-bit), else
// its "+dump" hook (8-bit); each takes the object on top and removes it, and
// answers 43 for an object it does not know.
using WideDumpHook = StatusCode (*)(EngineContext* ctx, uint16_t* buffer, int32_t room, int32_t* length,
                                    void* userData);
using DumpHook = StatusCode (*)(EngineContext* ctx, char* buffer, int32_t room, int32_t* length, void* userData);

StatusCode PutNativeObject(SourceText& w, const ValueDescriptor& d, Cell* data) {
  EngineContext* ctx = w.ctx;
  if (w.descriptor >= 0 && w.n > 0)
    if ((w.st = w.Flush()) != kOk) return w.st;
  for (int wide = 1; wide >= 0; --wide) {
    int cursor = -1;
    NativeRef ref{};
    while (const NativeFunctionRecord* r = FindNextNamedRecord(ctx, wide ? "+wdump" : "+dump", &cursor, &ref)) {
      if (r->handler == nullptr || (r->kind != 0 && NativeClassIdOf(ref.library, r->kind) != d.extra)) continue;
      const int32_t mark = ctx->descLength;
      if (StatusCode st = PushCopyOf(ctx, d, data); st != kOk) return st;
      void* userData = r->userData != nullptr ? r->userData : ctx->nativeUserData;
      const int64_t room64 = w.size - w.n;
      const int32_t room = static_cast<int32_t>(std::min<int64_t>(room64, INT32_MAX));
      int32_t length = 0;
      StatusCode st = kOk;
      if (wide) {
        st = HandlerAs<WideDumpHook>(r->handler)(ctx, w.buffer + w.n, room, &length, userData);
      } else {
        // The 8-bit text goes to the buffer's start of the free part and is
        // widened from its last byte to its first.
        auto* bytes = reinterpret_cast<char*>(w.buffer + w.n);
        st = HandlerAs<DumpHook>(r->handler)(ctx, bytes, room, &length, userData);
        if (st == kOk && length >= 0 && length <= room)
          for (int32_t k = length - 1; k >= 0; --k) w.buffer[w.n + k] = static_cast<uint8_t>(bytes[k]);
      }
      while (ctx->descLength > mark) PopValue(ctx);
      if (st == kWrongTypeInternal) continue;
      if (st != kOk) return st;
      if (length < 0 || length > room) return kDataStackFull;
      for (int32_t k = 0; k < length; ++k) w.column = w.buffer[w.n + k] == '\n' ? 0 : w.column + 1;
      w.n += length;
      return kOk;
    }
  }
  return kWrongType;
}

StatusCode PutValue(SourceText& w, const ValueDescriptor& d, Cell* data, int depth) {
  if (w.st != kOk) return w.st;
  NumericView v{};
  if (ReadNumericValue(d, data, &v)) {
    PutArray(w, v, d.extra);
    return w.st;
  }
  if (d.kind == kBoxed && d.extra == kFunctionRef) {
    const auto* words = reinterpret_cast<const int16_t*>(data);
    w.Put("@");
    w.Put(reinterpret_cast<const char*>(words + 2), words[0]);
    return w.st;
  }
  if (d.kind == kBoxed && d.extra == kInlineFunction) {
    const auto* words = reinterpret_cast<const int16_t*>(data);
    const int k = words[0];
    const int length = words[1 + k];
    const auto* text = reinterpret_cast<const char*>(words + 2 + k);
    const int64_t capturedCell = (2 * (2 + int64_t{k}) + length + 7) / 8;
    w.Put("inline('");
    for (int c = 0; c < length; ++c) PutCharElement(w, static_cast<uint8_t>(text[c]));
    w.Put("'");
    if (capturedCell < d.cells) {
      // The bound value is kept as a copy: three doubles of descriptor, then its cells.
      const Cell* copy = data + capturedCell;
      const ValueDescriptor bound{static_cast<uint32_t>(copy[0].f), static_cast<int32_t>(copy[1].f),
                                  static_cast<int32_t>(copy[2].f)};
      w.Put(",");
      if (StatusCode st = PutValue(w, bound, const_cast<Cell*>(copy + 3), depth); st != kOk) return st;
    }
    w.Put(")");
    return w.st;
  }
  if (d.kind == kBoxed && d.extra >= kFirstNativeClass) return PutNativeObject(w, d, data);
  if (d.kind != kComposite || d.extra == kFreeList) return kWrongType;
  if (depth >= kMaxSourceDepth) return kObjTooLarge;
  if (d.extra < 0) {
    // A class instance: its fields as a structure, then its class.
    w.Put("class(");
    if (StatusCode st = PutValue(w, {kComposite, d.cells, kStruct}, data, depth + 1); st != kOk) return st;
    w.Put(", '");
    w.Put(SymbolText(w.ctx, d.extra), SymbolLength(w.ctx, d.extra));
    w.Put("')");
    return w.st;
  }
  if (d.extra == kStructArray) return PutStructArray(w, d, data, depth + 1);
  CompositeView c{};
  if (!ReadComposite(d, data, &c)) return kWrongType;
  switch (d.extra) {
    case kList:
      w.Put("{");
      if (StatusCode st = PutElements(w, c.first, c.count, depth + 1, false); st != kOk) return st;
      w.Put("}");
      break;
    case kCellArray: {
      w.Put("reshape({");
      if (StatusCode st = PutElements(w, c.first, c.count, depth + 1, false); st != kOk) return st;
      w.Put("},");
      uint32_t dims[kMaxDims + 1];
      for (int k = 0; k < c.ndims; ++k) dims[k] = static_cast<uint32_t>(c.dims[k]);
      w.PutDims(dims, c.ndims);
      w.Put(")");
      break;
    }
    default:
      w.Put("struct(");
      if (StatusCode st = PutElements(w, c.first, c.fields, depth + 1, true); st != kOk) return st;
      w.Put(")");
      break;
  }
  return w.st;
}

// The writer's text of the value d under an optional name, into the writer.
StatusCode WriteAssignment(SourceText& w, const ValueDescriptor& d, Cell* data, const char* name, int nameLength) {
  if (name != nullptr) {
    if (nameLength < 0) nameLength = static_cast<int>(std::strlen(name));
    w.Put(name, nameLength);
    w.Put(" = ");
  }
  if (StatusCode st = PutValue(w, d, data, 0); st != kOk) return st;
  if (name != nullptr) {
    w.Put(";");
    w.Put('\n');
  }
  if (w.st == kOk && w.descriptor >= 0) w.st = w.Flush();
  return w.st;
}

}  // namespace

namespace {

// The writer over the top value. Without a buffer the free data space is the
// buffer; with pushString the value is then replaced by the text as a char row.
StatusCode WriteTopValue(EngineContext* ctx, uint16_t* buffer, int64_t size, int64_t* length, int32_t descriptor,
                         const char* name, int nameLength, bool pushString) {
  if (ctx->descLength < 3) return kBadArg;
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  Cell* data = DataAt(ctx, 0);
  const int32_t end = ctx->dataCapacity;
  if (buffer == nullptr) {
    // The upper half of the free space, above what the hooks and builtins
    // may push meanwhile; the stack's end is lowered past it.
    const int64_t cells = FreeDataCells(ctx) / 2;
    if (cells * 4 < kMinBufferRoom + 8) return kDataStackFull;
    ctx->dataCapacity -= static_cast<int32_t>(cells);
    buffer = reinterpret_cast<uint16_t*>(ctx->dataBase + ctx->dataCapacity);
    size = cells * 4;
  } else if (size < (descriptor < 0 ? kMinBufferRoom : 3)) {
    return kDataStackFull;
  }
  SourceText w{ctx, buffer, size, descriptor};
  const StatusCode st = WriteAssignment(w, d, data, name, nameLength);
  ctx->dataCapacity = end;
  if (length) *length = st == kOk ? w.n : 0;
  if (st != kOk) return st;
  PopValue(ctx);
  if (!pushString) return kOk;
  // The row's elements start above its header, below the text: moving down
  // overwrites nothing unread.
  uint16_t* row = nullptr;
  if (StatusCode pushed = PushCharRow(ctx, static_cast<int32_t>(w.n), &row); pushed != kOk) {
    (void)PushCopyOf(ctx, d, data);  // the value's cells are still where they were
    return pushed;
  }
  std::memmove(row, buffer, w.n * sizeof(uint16_t));
  return kOk;
}

// The value of frame slot i of the scope, following a global's or
// persistent's link; 0 when it has none. *entry gets the link's store entry.
int32_t SlotValue(EngineContext* ctx, CallFrame* f, int32_t i, int32_t* entry) {
  *entry = 0;
  const int32_t b = FrameSlots(f)[i];
  if (b <= 0 || b >= ctx->heapSize) return 0;
  if ((ctx->heapBase[b].w[0] & kLink) == 0) return b;
  const int32_t e = ctx->heapBase[b + kVariableHeaderCells + 1].iw[0];
  if (e <= 0 || e >= ctx->entriesInUse || StoreEntry(ctx, e)->kind != kEntryVariable) return 0;
  *entry = e;
  const int32_t position = StoreEntry(ctx, e)->position;
  return position > 0 ? position : 0;
}

StatusCode PushVariableCopy(EngineContext* ctx, int32_t block) {
  const ValueDescriptor d = VariableDescriptor(ctx, block);
  return PushCopyOf(ctx, d, ctx->heapBase + block + kVariableHeaderCells);
}

}  // namespace

StatusCode WriteValueAsSource(EngineContext* ctx, uint16_t* buffer, int64_t size, int64_t* length, int32_t descriptor,
                              const char* name, int nameLength) {
  return WriteTopValue(ctx, buffer, size, length, descriptor, name, nameLength, false);
}

StatusCode ListVariables(EngineContext* ctx, int32_t descriptor, bool declarations) {
  CallFrame* f = FindScopeFrame(ctx);
  if (f == nullptr) return kOk;
  // Buffering is a help, not a need: a descriptor no hook buffers is written as it is.
  if (StatusCode on = SetDescriptorBuffering(ctx, descriptor, 1); on != kOk && on != kBadFileId) return on;
  StatusCode st = kOk;
  for (int32_t i = 0; i < FrameSlotCount(f) && st == kOk; ++i) {
    const char* name = GetVariableName(ctx, i);
    if (name == nullptr || name[0] == 0) continue;
    const int length = VariableNameLength(name);
    int32_t entry = 0;
    const int32_t block = SlotValue(ctx, f, i, &entry);
    if (declarations && entry > 0) {
      st = WriteToDescriptor(ctx, descriptor, StoreEntry(ctx, entry)->qualifier >= 0 ? "persistent " : "global ", -1);
      if (st == kOk) st = WriteToDescriptor(ctx, descriptor, name, length);
      if (st == kOk) st = WriteNewlineToDescriptor(ctx, descriptor);
    }
    if (st != kOk || block <= 0) continue;
    if ((st = PushVariableCopy(ctx, block)) != kOk) break;
    if ((st = WriteTopValue(ctx, nullptr, 0, nullptr, descriptor, name, length, false)) != kOk) PopValue(ctx);
  }
  const StatusCode off = SetDescriptorBuffering(ctx, descriptor, 0);
  return st != kOk ? st : off == kBadFileId ? kOk : off;
}

StatusCode OpVariables(EngineContext* ctx, const int16_t*) {
  CallFrame* f = FindScopeFrame(ctx);
  const int32_t mark = ctx->descLength;
  // A failure for room leaves the stack as it was, so the instruction repeats.
  auto fail = [&](StatusCode st) {
    while (ctx->descLength > mark) PopValue(ctx);
    return st;
  };
  if (StatusCode st = PushValue(ctx, kComposite, 0, kStruct, Room::kStrict, nullptr); st != kOk) return st;
  for (int32_t i = 0; f != nullptr && i < FrameSlotCount(f); ++i) {
    const char* name = GetVariableName(ctx, i);
    if (name == nullptr || name[0] == 0) continue;
    int32_t entry = 0;
    const int32_t block = SlotValue(ctx, f, i, &entry);
    if (block <= 0) continue;
    if (StatusCode st = PushVariableCopy(ctx, block); st != kOk) return fail(st);
    if (StatusCode st = MakeListFromValues(ctx, 1, true, name, VariableNameLength(name)); st != kOk) return fail(st);
  }
  return kOk;
}

StatusCode DumpvarNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin == 3 && nargout > 0) return kTooManyArgout;
  int32_t descriptor = kStdoutDescriptor;
  if (nargin == 3) {
    const ValueDescriptor d = *DescriptorAt(ctx, 2);
    const bool numeric = IsPlainMatrix(d) || (d.kind == kBoxed && d.extra == kNumericArray);
    if (!numeric) return kWrongType;
    if (StatusCode st = GetIntegerScalarArg(ctx, 2, &descriptor); st != kOk) return ReportedStatus(st);
    if (descriptor < 0) return kBadFileId;
  }
  char name[kVariableNameBytes + 1];
  int64_t nameLength = -1;
  if (nargin >= 2) {
    if (!IsCharArg(ctx, 1)) return kWrongType;
    if (CopyStringArgToBuffer(ctx, 1, name, sizeof name, &nameLength) != kOk || nameLength > kVariableNameBytes)
      return kNameTooLong;
  }
  const char* named = nameLength >= 0 ? name : nullptr;
  const int length = static_cast<int>(nameLength);
  if (nargout > 0) {
    if (StatusCode st = WriteTopValue(ctx, nullptr, 0, nullptr, -1, named, length, true); st != kOk) return st;
    return DropArgsUnderResults(ctx, 1, nargin - 1);
  }
  if (StatusCode st = WriteTopValue(ctx, nullptr, 0, nullptr, descriptor, named, length, false); st != kOk) return st;
  // A statement call takes an optional output: it gets no value to show.
  const int results = nargout < 0 ? 1 : 0;
  if (results > 0) (void)PushVoidValue(ctx);  // the value just written left its room
  return DropArgsUnderResults(ctx, results, nargin - 1);
}
