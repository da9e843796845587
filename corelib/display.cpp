// Value display: disp, the "name =" display of unterminated statements, the
// row printers of each class, the summaries of arrays and composites, and the
// format builtin that sets how numbers are shown.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "corelib/corelib.h"
#include "engine/engine.h"
#include "engine/heap.h"
#include "engine/resolution.h"
#include "engine/values/textformat.h"
#include "engine/values/valuestack.h"

namespace {

// A line under construction in the scratch space. Writing it out and ending a
// row both poll for a break, so a huge value can be interrupted mid-display.
struct Line {
  EngineContext* ctx;
  int32_t fd;
  char* buf;
  int size;
  int pos = 0;

  [[nodiscard]] StatusCode Flush() {
    if (pos > 0)
      if (StatusCode st = WriteToDescriptor(ctx, fd, buf, pos); st != kOk) return st;
    pos = 0;
    return PollBreak(ctx) ? kHalted : kOk;
  }
  // Writes out once the line is within 30 bytes of the end.
  [[nodiscard]] StatusCode Spill() { return pos >= size - 30 ? Flush() : kOk; }
  [[nodiscard]] StatusCode EndRow() {
    if (StatusCode st = Flush(); st != kOk) return st;
    if (StatusCode st = WriteNewlineToDescriptor(ctx, fd); st != kOk) return st;
    return kOk;
  }
  void Text(const char* t) { AppendText(buf, &pos, t, size); }
};

// The numbers shown for one array: its parts and how each element is read.
struct Numbers {
  const double* re = nullptr;
  const double* im = nullptr;
  const float* sre = nullptr;
  const float* sim = nullptr;
  double Re(int64_t k) const { return re ? re[k] : static_cast<double>(sre[k]); }
  double Im(int64_t k) const { return re ? (im ? im[k] : 0.0) : (sim ? static_cast<double>(sim[k]) : 0.0); }
  bool Complex() const { return re ? im != nullptr : sim != nullptr; }
};

struct DisplaySettings {
  char format;
  int32_t digits;
  char imagUnit;
  bool loose;
  int32_t hostWord;
  bool hostFlag;
};

DisplaySettings Settings(EngineContext* ctx) {
  DisplaySettings s{};
  GetEngineDisplayFormat(ctx, &s.format, &s.digits, &s.imagUnit, &s.loose, &s.hostWord, &s.hostFlag);
  return s;
}

void StoreSettings(EngineContext* ctx, const DisplaySettings& s) {
  SetEngineDisplayFormat(ctx, s.format, s.digits, s.imagUnit, s.loose, s.hostWord, s.hostFlag);
}

// True when every part is integer-valued (NaN counts) and below the bound.
bool AllSmallIntegers(const Numbers& n, int64_t count, double bound) {
  for (int pass = 0; pass < (n.Complex() ? 2 : 1); ++pass)
    for (int64_t k = 0; k < count; ++k) {
      const double x = pass == 0 ? n.Re(k) : n.Im(k);
      if (std::isnan(x)) continue;
      if (std::floor(x + 0.5) != x || std::fabs(x) >= bound) return false;
    }
  return true;
}

// A double to a 64-bit integer by truncation, saturating so that NaN and
// values out of range never reach an undefined conversion.
int64_t SaturateToInt64(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 9223372036854775807.0) return INT64_MAX;
  if (x <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(x);
}

void AppendPlusSign(Line& l, double re, double im) {
  char c = ' ';
  if (re > 0)
    c = '+';
  else if (re < 0 || std::isnan(re))
    c = '-';
  else if (im != 0)
    c = 'I';
  AppendChars(l.buf, &l.pos, &c, 1, l.size);
}

// One element of a double or single page: a blank, then the field.
void AppendElement(Line& l, const Numbers& n, int64_t k, int precision, char letter, bool integerLetters) {
  const DisplaySettings s = Settings(l.ctx);
  const int width = precision + 5;
  AppendChars(l.buf, &l.pos, " ", 1, l.size);
  if (integerLetters) {
    const int64_t v = SaturateToInt64(n.Re(k));
    switch (letter) {
      case 'd':
      case 'u':
        FormatDecimal64(l.buf, &l.pos, v, l.size, {.width = width, .blank = true, .isUnsigned = letter == 'u'});
        return;
      case 'x':
        FormatHex64(l.buf, &l.pos, static_cast<uint64_t>(v), l.size, {.width = width, .alternate = true});
        return;
      case 'o':
        FormatOctal64(l.buf, &l.pos, static_cast<uint64_t>(v), l.size, {.width = width, .alternate = true});
        return;
      default:
        FormatBinary64(l.buf, &l.pos, static_cast<uint64_t>(v), l.size, {.width = width, .alternate = true});
        return;
    }
  }
  if (n.Complex())
    FormatComplex(l.buf, &l.pos, n.Re(k), n.Im(k), precision, letter, l.size,
                  {.width = 2 * precision + 8, .unitLetter = static_cast<char>(s.imagUnit)});
  else
    FormatDouble(l.buf, &l.pos, n.Re(k), precision, letter, l.size, {.width = width});
}

bool IsIntegerLetter(char c) { return c == 'd' || c == 'u' || c == 'o' || c == 'x' || c == 'b'; }

// The precision and letter of a double (or single) page.
void ChoosePrecision(EngineContext* ctx, const Numbers& n, int64_t count, bool single, int* precision, char* letter) {
  const DisplaySettings s = Settings(ctx);
  *letter = static_cast<char>(s.format);
  *precision = s.digits;
  if (*letter == 'F') {
    *letter = 'f';
  } else if (single) {
    if (AllSmallIntegers(n, count, 1e5)) *precision = 0;
  } else if (*letter == 'f') {
    if (AllSmallIntegers(n, count, 1e7)) *precision = 0;
  }
  if (single) *precision = std::min(*precision, 7);
  *precision = std::max(*precision, 0);
}

// Rows of a double or single page, stored row after row.
[[nodiscard]] StatusCode DisplayFloatRows(Line& l, int32_t rows, int32_t cols, const Numbers& n, bool single,
                                          bool suffix, bool rowMode) {
  if (rows == 0 || cols == 0) {
    l.Text(rowMode ? " []" : "[]");
    return rowMode ? l.EndRow() : kOk;
  }
  const int64_t count = int64_t{rows} * cols;
  const char format = static_cast<char>(Settings(l.ctx).format);
  if (format == '+') {
    for (int32_t r = 0; r < rows; ++r) {
      for (int32_t c = 0; c < cols; ++c) {
        const int64_t k = int64_t{r} * cols + c;
        AppendPlusSign(l, n.Re(k), n.Im(k));
        if (StatusCode st = l.Spill(); st != kOk) return st;
      }
      if (StatusCode st = rowMode ? l.EndRow() : kOk; st != kOk) return st;
    }
    return kOk;
  }
  int precision = 0;
  char letter = 'g';
  ChoosePrecision(l.ctx, n, count, single, &precision, &letter);
  const bool integerLetters = !single && IsIntegerLetter(letter);
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < cols; ++c) {
      const int64_t k = int64_t{r} * cols + c;
      if (rowMode) {
        AppendElement(l, n, k, precision, letter, integerLetters);
      } else if (n.Complex()) {
        FormatComplex(l.buf, &l.pos, n.Re(k), n.Im(k), precision, letter, l.size,
                      {.unitLetter = static_cast<char>(Settings(l.ctx).imagUnit)});
      } else {
        FormatDouble(l.buf, &l.pos, n.Re(k), precision, letter, l.size);
      }
      if (suffix) l.Text(n.Complex() ? " (single)" : "single");
      if (StatusCode st = l.Spill(); st != kOk) return st;
    }
    if (rowMode)
      if (StatusCode st = l.EndRow(); st != kOk) return st;
  }
  return kOk;
}

void AppendIntegerClassName(Line& l, int bytes, bool isUnsigned) {
  l.Text(isUnsigned ? "uint" : "int");
  FormatDecimal32(l.buf, &l.pos, bytes * 8, l.size);
}

int64_t IntegerElement(const void* data, int bytes, bool isUnsigned, int64_t k) {
  switch (bytes) {
    case 1:
      return isUnsigned ? int64_t{static_cast<const uint8_t*>(data)[k]} : static_cast<const int8_t*>(data)[k];
    case 2:
      return isUnsigned ? int64_t{static_cast<const uint16_t*>(data)[k]} : static_cast<const int16_t*>(data)[k];
    case 4:
      return isUnsigned ? int64_t{static_cast<const uint32_t*>(data)[k]} : static_cast<const int32_t*>(data)[k];
    default:
      return static_cast<const int64_t*>(data)[k];
  }
}

[[nodiscard]] StatusCode DisplayIntegerRows(Line& l, int bytes, bool isUnsigned, int32_t rows, int32_t cols,
                                            const void* data, bool suffix, bool rowMode, bool plusMode) {
  if (rows == 0 || cols == 0) {
    l.Text(rowMode ? " []" : "[]");
    return rowMode ? l.EndRow() : kOk;
  }
  int width = 0;
  if (rowMode) width = (bytes == 1 ? 4 : bytes == 2 ? 6 : bytes == 4 ? 11 : 21) + (isUnsigned ? 0 : 1);
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < cols; ++c) {
      const int64_t v = IntegerElement(data, bytes, isUnsigned, int64_t{r} * cols + c);
      if (plusMode) {
        // Unsigned 64-bit values above the signed range are positive too.
        const char sign = v == 0 ? ' ' : (!isUnsigned && v < 0) ? '-' : '+';
        AppendChars(l.buf, &l.pos, &sign, 1, l.size);
      } else {
        FormatDecimal64(l.buf, &l.pos, v, l.size, {.width = width, .isUnsigned = isUnsigned});
        if (suffix) AppendIntegerClassName(l, bytes, isUnsigned);
      }
      if (StatusCode st = l.Spill(); st != kOk) return st;
    }
    if (rowMode)
      if (StatusCode st = l.EndRow(); st != kOk) return st;
  }
  return kOk;
}

// One character: through the charset encoder from 128 up when there is one,
// else its low byte.
void AppendCharacter(Line& l, uint16_t ch) {
  if (ch >= 128 && EncodeCharWithCharset(l.ctx, ch, l.buf, &l.pos, l.size)) return;
  const char b = static_cast<char>(ch & 0xFF);
  AppendChars(l.buf, &l.pos, &b, 1, l.size);
}

[[nodiscard]] StatusCode DisplayCharRows(Line& l, int32_t rows, int32_t cols, const uint16_t* data) {
  if (rows == 0 || cols == 0) {
    l.Text(" ''");
    return l.EndRow();
  }
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < cols; ++c) {
      const uint16_t ch = data[int64_t{r} * cols + c];
      if (ch == 10) {
        if (StatusCode st = l.EndRow(); st != kOk) return st;
        continue;
      }
      AppendCharacter(l, ch);
      if (StatusCode st = l.Spill(); st != kOk) return st;
    }
    if (StatusCode st = l.EndRow(); st != kOk) return st;
  }
  return kOk;
}

[[nodiscard]] StatusCode DisplayLogicalRows(Line& l, bool plusMode, int32_t rows, int32_t cols, const uint8_t* data) {
  if (rows == 0 || cols == 0) {
    l.Text(" []");
    return l.EndRow();
  }
  if (rows == 1 && cols == 1) {
    l.Text(data[0] ? "true" : "false");
    return l.EndRow();
  }
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < cols; ++c) {
      const bool b = data[int64_t{r} * cols + c] != 0;
      l.Text(plusMode ? (b ? "+" : " ") : (b ? " T" : " F"));
      if (StatusCode st = l.Spill(); st != kOk) return st;
    }
    if (StatusCode st = l.EndRow(); st != kOk) return st;
  }
  return kOk;
}

// ---------------------------------------------------------------------------
// Boxed and plain arrays.

enum class ArrayClass { kDouble, kSingle, kInteger, kChar, kLogical };

struct ArrayView {
  ArrayClass cls = ArrayClass::kDouble;
  int ndims = 0;
  int32_t dims[kMaxDims] = {};
  int64_t count = 0;
  Numbers numbers;
  const void* ints = nullptr;
  int bytes = 0;
  bool isUnsigned = false;
};

// Fetches the top value's data by the accessors, in the order double,
// integer (char and logical too), single; false when none applies.
bool FetchArray(EngineContext* ctx, ArrayView* a) {
  double* re = nullptr;
  double* im = nullptr;
  if (GetDoubleArrayArg(ctx, 0, &a->ndims, a->dims, &a->count, &re, &im) == kOk) {
    a->cls = ArrayClass::kDouble;
    a->numbers.re = re;
    a->numbers.im = im;
    return true;
  }
  void* ints = nullptr;
  if (GetIntegerArrayArg(ctx, 0, &a->ndims, a->dims, &a->count, &a->bytes, &a->isUnsigned, &ints) == kOk) {
    a->ints = ints;
    a->cls = IsCharArg(ctx, 0) ? ArrayClass::kChar : IsLogicalArg(ctx, 0) ? ArrayClass::kLogical : ArrayClass::kInteger;
    return true;
  }
  float* sre = nullptr;
  float* sim = nullptr;
  if (GetSingleArrayArg(ctx, 0, &a->ndims, a->dims, &a->count, &sre, &sim) == kOk) {
    a->cls = ArrayClass::kSingle;
    a->numbers.sre = sre;
    a->numbers.sim = sim;
    return true;
  }
  return false;
}

int ClassCode(const ArrayView& a) {
  switch (a.cls) {
    case ArrayClass::kDouble:
      return 0;
    case ArrayClass::kSingle:
      return -1;
    default:
      return a.bytes;
  }
}

// One page of rows x columns starting at element offset.
[[nodiscard]] StatusCode DisplayPage(Line& l, const ArrayView& a, int64_t offset, bool scalar2d) {
  const int32_t rows = a.dims[0];
  const int32_t cols = a.ndims > 1 ? a.dims[1] : 1;
  const bool plus = Settings(l.ctx).format == '+';
  switch (a.cls) {
    case ArrayClass::kDouble:
    case ArrayClass::kSingle: {
      Numbers n = a.numbers;
      if (n.re) n.re += offset;
      if (n.im) n.im += offset;
      if (n.sre) n.sre += offset;
      if (n.sim) n.sim += offset;
      const bool single = a.cls == ArrayClass::kSingle;
      return DisplayFloatRows(l, rows, cols, n, single, single && scalar2d, true);
    }
    case ArrayClass::kChar:
      return DisplayCharRows(l, rows, cols, static_cast<const uint16_t*>(a.ints) + offset);
    case ArrayClass::kLogical:
      return DisplayLogicalRows(l, plus, rows, cols, static_cast<const uint8_t*>(a.ints) + offset);
    case ArrayClass::kInteger:
      return DisplayIntegerRows(l, a.bytes, a.isUnsigned, rows, cols,
                                static_cast<const char*>(a.ints) + offset * a.bytes, scalar2d, true,
                                plus && int64_t{rows} * cols >= 2);
  }
  return kOk;
}

[[nodiscard]] StatusCode DisplayArray(Line& l, const ArrayView& a) {
  const bool twoD = a.ndims <= 2;
  const bool scalar2d = twoD && a.count == 1 && a.dims[0] == 1;
  const bool numeric = a.cls == ArrayClass::kDouble || a.cls == ArrayClass::kSingle || a.cls == ArrayClass::kInteger;
  if (!twoD || (numeric && !scalar2d) || (a.cls == ArrayClass::kLogical && a.count == 0)) {
    AppendArraySummary(l.buf, l.size, &l.pos, ClassCode(a), a.isUnsigned, a.cls == ArrayClass::kLogical,
                       a.cls == ArrayClass::kChar, a.ndims, a.dims, -1);
    if (StatusCode st = l.EndRow(); st != kOk) return st;
  }
  if (a.ndims > 3) return kOk;
  if (twoD) return DisplayPage(l, a, 0, scalar2d);
  const bool loose = Settings(l.ctx).loose != 0;
  const int64_t page = int64_t{a.dims[0]} * a.dims[1];
  for (int32_t k = 0; k < a.dims[2]; ++k) {
    if (k > 0 && loose)
      if (StatusCode st = WriteNewlineToDescriptor(l.ctx, l.fd); st != kOk) return st;
    if (StatusCode st = WriteToDescriptor(l.ctx, l.fd, "(:,:,", -1); st != kOk) return st;
    if (StatusCode st = WriteNumberToDescriptor(l.ctx, l.fd, k + 1); st != kOk) return st;
    if (StatusCode st = WriteToDescriptor(l.ctx, l.fd, ") =", -1); st != kOk) return st;
    if (StatusCode st = WriteNewlineToDescriptor(l.ctx, l.fd); st != kOk) return st;
    if (StatusCode st = DisplayPage(l, a, k * page, false); st != kOk) return st;
  }
  return kOk;
}

// ---------------------------------------------------------------------------
// Composites: lists, structures, cells, structure arrays, free lists, objects.

bool IsObjectSubtype(int32_t subtype) { return subtype < 0 || subtype > kFreeList; }

void AppendSymbol(Line& l, SymbolId id) {
  AppendChars(l.buf, &l.pos, SymbolText(l.ctx, id), SymbolLength(l.ctx, id), l.size);
}

SymbolId ClassSymbol(int32_t subtype) { return subtype; }

// The short form of one element of a composite (kept on one line).
[[nodiscard]] StatusCode AppendShortForm(Line& l, CompositeElementHeader* e) {
  const ValueDescriptor d{e->kind, e->cells, e->extra};
  Cell* data = ElementData(e);
  const DisplaySettings s = Settings(l.ctx);
  if (d.kind & kComposite) {
    if (IsObjectSubtype(d.extra)) {
      AppendSymbol(l, ClassSymbol(d.extra));
      l.Text(" object");
      return kOk;
    }
    switch (d.extra) {
      case kList:
        l.Text(d.cells == 0 ? "{}" : "list");
        return kOk;
      case kStruct:
        l.Text("struct");
        return kOk;
      case kCellArray:
        l.Text("cell");
        return kOk;
      case kStructArray:
        l.Text("struct array");
        return kOk;
      default:
        l.Text("free list");
        return kOk;
    }
  }
  if (!(d.kind & kBoxed)) {
    const int32_t cols = d.extra;
    const int32_t rows = PlainRows(d);
    const bool complex = (d.kind & kComplex) != 0;
    const int64_t count = int64_t{rows} * cols;
    if (count == 0) {
      l.Text("[]");
    } else if (count > 1) {
      l.Text(complex ? "complex " : "real ");
      FormatDecimal32(l.buf, &l.pos, rows, l.size);
      l.Text("x");
      FormatDecimal32(l.buf, &l.pos, cols, l.size);
    } else {
      const double re = data[0].f;
      const double im = complex ? data[1].f : 0;
      if (s.format == '+')
        l.Text(re != 0 || im != 0 ? "+" : " ");
      else if (complex)
        FormatComplex(l.buf, &l.pos, re, im, s.digits, static_cast<char>(s.format), l.size,
                      {.unitLetter = static_cast<char>(s.imagUnit)});
      else
        FormatDouble(l.buf, &l.pos, re, s.digits, static_cast<char>(s.format), l.size);
    }
    return kOk;
  }
  switch (d.extra) {
    case kInlineFunction:
      l.Text("inline");
      return kOk;
    case kFunctionRef: {
      const char* name = nullptr;
      int length = 0;
      GetFunctionReferenceName(l.ctx, data, &name, &length);
      l.Text("@");
      AppendChars(l.buf, &l.pos, name, length, l.size);
      return kOk;
    }
    case kNumericArray:
    case kCharArray:
    case kLogicalArray:
      break;
    default: {
      const char* name = GetNativeClassName(l.ctx, d.extra);
      l.Text(name ? name : "bin");
      return kOk;
    }
  }
  // A boxed array: {class, ndims, dims...} then the elements.
  const auto* words = reinterpret_cast<const uint32_t*>(data);
  const uint32_t cls = words[0];
  const int ndims = static_cast<int>(std::min<uint32_t>(words[1], kMaxDims));
  int32_t dims[kMaxDims] = {};
  int64_t count = 1;
  for (int k = 0; k < ndims; ++k) count *= dims[k] = static_cast<int32_t>(words[2 + k]);
  const void* elements = data + ArrayDataCell(ndims);
  const bool scalar2d = ndims <= 2 && count == 1;
  if (d.extra == kCharArray && ndims <= 2 && dims[0] <= 1 && (ndims < 2 || dims[1] <= 20)) {
    l.Text("'");
    const auto* chars = static_cast<const uint16_t*>(elements);
    for (int64_t k = 0; k < count && l.pos < l.size - 10; ++k) {
      if (chars[k] <= 31)
        l.Text("?");
      else
        AppendCharacter(l, chars[k]);
    }
    l.Text("'");
    return kOk;
  }
  if (d.extra == kLogicalArray && scalar2d) {
    l.Text(*static_cast<const uint8_t*>(elements) ? "true" : "false");
    return kOk;
  }
  if (d.extra == kNumericArray && scalar2d) {
    if (IsIntegerClass(cls))
      return DisplayIntegerRows(l, ElementBytes(cls), (cls & 0x80) != 0, 1, 1, elements, true, false, false);
    if (cls == kSingle || cls == kComplexSingle) {
      Numbers n;
      n.sre = static_cast<const float*>(elements);
      if (cls == kComplexSingle) n.sim = n.sre + 1;
      return DisplayFloatRows(l, 1, 1, n, true, true, false);
    }
    l.Text("scalar number");
    return kOk;
  }
  const bool isInteger = IsIntegerClass(cls) && d.extra == kNumericArray;
  AppendArraySummary(l.buf, l.size, &l.pos, isInteger ? ElementBytes(cls) : 0, isInteger && (cls & 0x80) != 0,
                     d.extra == kLogicalArray, d.extra == kCharArray, ndims, dims, -1);
  return kOk;
}

[[nodiscard]] StatusCode DisplayComposite(Line& l, const ValueDescriptor& d, CompositeElementHeader* first) {
  const int32_t subtype = d.extra;
  if (IsObjectSubtype(subtype)) {
    l.Text(" ");
    AppendSymbol(l, ClassSymbol(subtype));
    l.Text(" object");
    if (StatusCode st = l.EndRow(); st != kOk) return st;
  }
  if (d.cells == 0) {
    if (subtype == kFreeList) return kOk;
    l.Text(subtype == kStruct ? " (empty struct)" : " {}");
    return l.EndRow();
  }
  if (l.size < 100) {
    static constexpr const char* kWords[] = {" list", " struct", " cell", " struct array", " free list"};
    if (!IsObjectSubtype(subtype)) l.Text(kWords[subtype]);
    return l.EndRow();
  }
  if (subtype == kCellArray || subtype == kStructArray) {
    int ndims = 0;
    int32_t dims[kMaxDims];
    int32_t fields = -1;
    if (StatusCode st = GetCompositeInfo(&d, first, 0, &ndims, dims, nullptr, &fields, nullptr); st != kOk)
      return kWrongType;
    AppendArraySummary(l.buf, l.size, &l.pos, subtype == kCellArray ? -2 : -3, false, false, false, ndims, dims,
                       subtype == kStructArray ? fields : -1);
    return l.EndRow();
  }
  const bool listLike = subtype == kList || subtype == kFreeList;
  if (subtype == kList) l.Text(" {");
  int64_t used = 0;
  for (CompositeElementHeader* e = first; used < d.cells; e = NextElement(e)) {
    used += kElementHeaderCells + e->cells;
    if (e->name != 0) {
      AppendSymbol(l, e->name);
      l.Text(": ");
    }
    if (StatusCode st = AppendShortForm(l, e); st != kOk) return st;
    if (listLike) {
      if (used < d.cells) l.Text(",");
      if (l.pos >= l.size - 30)
        if (StatusCode st = l.Flush(); st != kOk) return st;
    } else if (StatusCode st = l.EndRow(); st != kOk) {
      return st;
    }
  }
  if (subtype == kList) l.Text("}");
  return listLike ? l.EndRow() : kOk;
}

// Shows the top value by its kind; the caller owns buffering and popping.
[[nodiscard]] StatusCode ShowTop(Line& l) {
  EngineContext* ctx = l.ctx;
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  if (d.kind & kComposite) return DisplayComposite(l, d, reinterpret_cast<CompositeElementHeader*>(TopData(ctx)));
  if (d.kind & kBoxed) {
    if (d.extra == kInlineFunction) {
      l.Text("<inline function>");
      return l.EndRow();
    }
    if (d.extra == kFunctionRef) {
      const char* name = nullptr;
      int length = 0;
      GetFunctionReferenceName(ctx, TopData(ctx), &name, &length);
      l.Text("@");
      AppendChars(l.buf, &l.pos, name, length, l.size);
      return l.EndRow();
    }
    if (d.extra >= kFirstNativeClass) return kWrongType;
  } else if (d.kind & (kLink | kTagged)) {
    return kWrongType;
  }
  if (!(d.kind & kBoxed)) {
    // A plain matrix: its rows alone, never a summary.
    Numbers n;
    int32_t rows = 0, cols = 0;
    double* re = nullptr;
    double* im = nullptr;
    if (GetDoubleMatrixArg(ctx, 0, &rows, &cols, &re, &im) != kOk) return kWrongType;
    n.re = re;
    n.im = im;
    return DisplayFloatRows(l, rows, cols, n, false, false, true);
  }
  ArrayView a;
  if (!FetchArray(ctx, &a)) return kWrongType;
  return DisplayArray(l, a);
}

// Takes the free data space as the line buffer.
[[nodiscard]] StatusCode TakeScratch(EngineContext* ctx, int32_t fd, Line* l) {
  int64_t bytes = 0;
  Cell* space = nullptr;
  if (StatusCode st = GetFreeDataSpace(ctx, &bytes, &space); st != kOk) return st;
  // Room for the widest field (a 64-bit integer or a complex number) and the
  // 30-byte margin at which the line is written out.
  if (bytes < 80) return kDataStackFull;
  *l = Line{ctx, fd, reinterpret_cast<char*>(space), static_cast<int>(std::min<int64_t>(bytes, 1 << 20))};
  return kOk;
}

}  // namespace

void AppendArraySummary(char* buffer, int size, int* position, int classCode, bool isUnsigned, bool isLogical,
                        bool isChar, int ndims, const int32_t* dims, int32_t fieldCount) {
  if (size - *position < 20) return;
  const bool array = classCode == -2 || classCode == -3 || ndims > 2 || ndims < 2 || dims[0] != 1 || dims[1] != 1;
  if (array) {
    for (int k = 0; k < ndims; ++k) {
      if (size - *position < 10) {
        AppendText(buffer, position, "x...", size);
        break;
      }
      if (k > 0) AppendText(buffer, position, "x", size);
      FormatDecimal32(buffer, position, dims[k], size);
    }
    AppendText(buffer, position, " ", size);
  }
  if (isChar) {
    AppendText(buffer, position, "char ", size);
  } else if (isLogical) {
    AppendText(buffer, position, "logical ", size);
  } else {
    switch (classCode) {
      case 0:
        break;
      case -1:
        AppendText(buffer, position, "single ", size);
        break;
      case -2:
        AppendText(buffer, position, "cell ", size);
        break;
      case -3:
        AppendText(buffer, position, "struct ", size);
        break;
      default:
        if (isUnsigned) AppendText(buffer, position, "u", size);
        AppendText(buffer, position,
                   classCode == 1   ? "int8 "
                   : classCode == 2 ? "int16 "
                   : classCode == 4 ? "int32 "
                   : classCode == 8 ? "int64 "
                                    : "??? ",
                   size);
        break;
    }
  }
  AppendText(buffer, position, array ? "array" : isLogical ? "value" : "number", size);
  if (fieldCount >= 0) {
    AppendText(buffer, position, " (", size);
    FormatDecimal32(buffer, position, fieldCount, size);
    AppendText(buffer, position, fieldCount > 1 ? " fields)" : " field)", size);
  }
}

StatusCode DisplayTopValue(EngineContext* ctx, int32_t descriptor, bool drop) {
  if (DescriptorAt(ctx, 0)->kind == kVoid) {
    if (drop) PopValue(ctx);
    return kOk;
  }
  const bool loose = Settings(ctx).loose != 0;
  // Buffering is a hint to the writer; the writes report their own failures.
  (void)SetDescriptorBuffering(ctx, descriptor, 1);
  StatusCode st = loose ? WriteNewlineToDescriptor(ctx, descriptor) : kOk;
  Line l{ctx, descriptor, nullptr, 0};
  if (st == kOk) st = TakeScratch(ctx, descriptor, &l);
  if (st == kOk) st = ShowTop(l);
  if (st == kOk && drop) PopValue(ctx);
  if (st == kOk && loose) st = WriteNewlineToDescriptor(ctx, descriptor);
  (void)SetDescriptorBuffering(ctx, descriptor, 0);
  return st;
}

StatusCode DisplayStatementResult(EngineContext* ctx, int32_t variable, bool allowObjects, bool drop) {
  // Without room for the value's lines nothing is written, not even the name,
  // so the caller can grow the block and repeat the display.
  Line probe{ctx, kStdoutDescriptor, nullptr, 0};
  if (StatusCode st = TakeScratch(ctx, kStdoutDescriptor, &probe); st != kOk) return st;
  // Buffering is a hint to the writer; the writes report their own failures.
  (void)SetDescriptorBuffering(ctx, kStdoutDescriptor, 1);
  char line[36];
  int pos = 0;
  const char* name = variable >= 0 ? GetVariableName(ctx, variable) : nullptr;
  if (name != nullptr && VariableNameLength(name) > 0) {
    AppendChars(line, &pos, name, VariableNameLength(name), sizeof line);
    AppendText(line, &pos, " =", sizeof line);
  } else {
    AppendText(line, &pos, "??? =", sizeof line);
  }
  StatusCode st = Settings(ctx).loose ? WriteNewlineToDescriptor(ctx, kStdoutDescriptor) : kOk;
  if (st == kOk) st = WriteToDescriptor(ctx, kStdoutDescriptor, line, pos);
  if (st == kOk) st = WriteNewlineToDescriptor(ctx, kStdoutDescriptor);
  if (st == kOk && !allowObjects) {
    const ValueDescriptor& d = *DescriptorAt(ctx, 0);
    if ((d.kind & kComposite) && IsObjectSubtype(d.extra)) st = kWrongType;
  }
  if (st == kOk) st = DisplayTopValue(ctx, kStdoutDescriptor, drop);
  (void)SetDescriptorBuffering(ctx, kStdoutDescriptor, 0);
  return st;
}

StatusCode DispBuiltin(EngineContext* ctx, const int16_t*) { return DisplayTopValue(ctx, kStdoutDescriptor, true); }

StatusCode FormatBuiltin(EngineContext* ctx, const int16_t* ins) {
  const int nargin = ins[1];
  if (nargin < 0 || nargin > 2) return kUnknownOpt;
  DisplaySettings s = Settings(ctx);
  if (nargin == 0) {
    s.format = 'f';
    s.digits = 4;
    StoreSettings(ctx, s);
    return kOk;
  }
  // Both texts are copied out first: reading one narrows it in place.
  char words[2][16] = {};
  int lengths[2] = {0, 0};
  for (int k = 0; k < nargin; ++k) {
    const char* text = nullptr;
    int64_t length = 0;
    if (StatusCode st = GetStringArg(ctx, nargin - 1 - k, &text, &length); st != kOk) return ReportedStatus(st);
    if (length >= static_cast<int64_t>(sizeof words[k])) return kUnknownOpt;
    std::memcpy(words[k], text, static_cast<size_t>(length));
    lengths[k] = static_cast<int>(length);
  }
  auto is = [&](int k, const char* w) { return TextEquals(words[k], lengths[k], w, -1, false); };
  const bool second = nargin == 2;
  // The style word of short, long and bank: "e", "g" or "eng".
  const bool style = second && (is(1, "e") || is(1, "g") || is(1, "eng"));
  if (is(0, "compact") || is(0, "loose")) {
    if (second) return kUnknownOpt;
    s.loose = is(0, "loose");
  } else if (is(0, "i") || is(0, "j")) {
    if (second) return kUnknownOpt;
    s.imagUnit = static_cast<char>(words[0][0]);
  } else if (is(0, "short") || is(0, "long")) {
    if (second && !style) return kUnknownOpt;
    s.digits = is(0, "short") ? 4 : 15;
    s.format = !second ? 'f' : is(1, "eng") ? 'n' : static_cast<char>(words[1][0]);
  } else if (is(0, "bank")) {
    if (second && !style) return kUnknownOpt;
    s.digits = 2;
    s.format = second ? static_cast<char>(words[1][0]) : 'F';
  } else if (is(0, "int")) {
    if (second && !(lengths[1] == 1 && std::strchr("duoxb", words[1][0]) != nullptr)) return kUnknownOpt;
    s.digits = 0;
    s.format = second ? static_cast<char>(words[1][0]) : 'd';
  } else if (is(0, "+")) {
    if (second) return kUnknownOpt;
    s.format = '+';
    s.digits = 4;
  } else {
    return kUnknownOpt;
  }
  StoreSettings(ctx, s);
  return DropArgsUnderResults(ctx, nargin, 0);
}
