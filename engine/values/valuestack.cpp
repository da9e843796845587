// Building values on the value stack, reading them by position, kind tests
// and the argument-list check. Getters hand out pointers into the value's own
// cells; nothing is copied.
#include "engine/values/valuestack.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr int64_t kCountCap = int64_t{1} << 62;  // saturates products of dimensions

[[nodiscard]] StatusCode PushIntegerTyped(EngineContext* ctx, int ndims, const int32_t* dims, int bytes,
                                          bool isUnsigned, int32_t subtype, void** data) {
  if (bytes != 1 && bytes != 2 && bytes != 4 && bytes != 8) return kWrongTypeInternal;
  uint32_t d[kMaxDims];
  int64_t count = 0;
  const int n = NormalizeCallerDims(ndims, dims, d, &count);
  if (n < 0) return kOutOfRangeArg;
  if (count > kMaxIntegerElements) return kObjTooLarge;
  Cell* elements = nullptr;
  const uint32_t cls = static_cast<uint32_t>(bytes) + (isUnsigned ? 128 : 0);
  if (StatusCode st = PushArray(ctx, subtype, cls, d, n, &elements); st != kOk) return st;
  if (data) *data = elements;
  return kOk;
}

// The shape of a boxed array for the getters' optional outputs.
void ReportShape(const ArrayView& a, int* ndims, int32_t* dims, int64_t* count) {
  if (ndims) *ndims = a.ndims;
  if (dims)
    for (int k = 0; k < a.ndims; ++k) dims[k] = static_cast<int32_t>(a.dims[k]);
  if (count) *count = a.count;
}

}  // namespace

bool ReadNumericValue(const ValueDescriptor& d, Cell* data, NumericView* v) {
  if (IsPlainMatrix(d)) {
    v->plain = true;
    v->cls = (d.kind & kComplex) ? kComplexDouble : kDouble;
    v->ndims = 2;
    v->dims[0] = static_cast<uint32_t>(PlainRows(d));
    v->dims[1] = static_cast<uint32_t>(d.extra);
    v->count = int64_t{v->dims[0]} * v->dims[1];
    v->data = reinterpret_cast<const uint8_t*>(data);
    return true;
  }
  if (!IsBoxedArray(d)) return false;
  const ArrayView a = ReadArray(data);
  v->plain = false;
  v->cls = a.cls;
  v->ndims = a.ndims;
  std::memcpy(v->dims, a.dims, a.ndims * sizeof(uint32_t));
  v->count = a.count;
  v->data = reinterpret_cast<const uint8_t*>(a.data);
  return true;
}

bool ReadNumeric(EngineContext* ctx, int position, NumericView* v) {
  return ReadNumericValue(*DescriptorAt(ctx, position), DataAt(ctx, position), v);
}

__int128 IntegerElement(const NumericView& v, int64_t k) {
  const uint8_t* p = v.data;
  switch (v.cls) {
    case kInt8:
      return reinterpret_cast<const int8_t*>(p)[k];
    case kUint8:
      return p[k];
    case kInt16:
      return reinterpret_cast<const int16_t*>(p)[k];
    case kUint16:
      return reinterpret_cast<const uint16_t*>(p)[k];
    case kInt32:
      return reinterpret_cast<const int32_t*>(p)[k];
    case kUint32:
      return reinterpret_cast<const uint32_t*>(p)[k];
    case kInt64:
      return reinterpret_cast<const int64_t*>(p)[k];
    case kUint64:
      return reinterpret_cast<const uint64_t*>(p)[k];
  }
  return 0;
}

double RealElement(const NumericView& v, int64_t k) {
  switch (v.cls) {
    case kDouble:
    case kComplexDouble:
      return reinterpret_cast<const double*>(v.data)[k];
    case kSingle:
    case kComplexSingle:
      return reinterpret_cast<const float*>(v.data)[k];
  }
  return static_cast<double>(IntegerElement(v, k));
}

double ImagElement(const NumericView& v, int64_t k) {
  if (v.cls == kComplexDouble) return reinterpret_cast<const double*>(v.data)[v.count + k];
  if (v.cls == kComplexSingle) return reinterpret_cast<const float*>(v.data)[v.count + k];
  return 0.0;
}

int NormalizeCallerDims(int ndims, const int32_t* in, uint32_t* dims, int64_t* count) {
  if (ndims > kMaxDims) return -1;
  if (ndims < 0) ndims = 0;
  for (int k = 0; k < ndims; ++k) dims[k] = in[k] < 0 ? 0u : static_cast<uint32_t>(in[k]);
  const int n = NormalizeDimensions(dims, ndims);
  int64_t c = 1;
  for (int k = 0; k < n; ++k) c = dims[k] != 0 && c > kCountCap / dims[k] ? kCountCap : c * dims[k];
  *count = c;
  return n;
}

StatusCode PushArray(EngineContext* ctx, int32_t subtype, uint32_t cls, const uint32_t* dims, int ndims,
                     Cell** elements) {
  int64_t count = 1;
  for (int k = 0; k < ndims; ++k) count *= dims[k];
  const int64_t cells = ArrayPayloadCells(cls, ndims, count);
  Cell* payload = nullptr;
  if (StatusCode st = PushValue(ctx, kBoxed, cells, subtype, Room::kStrict, &payload); st != kOk) return st;
  Cell* data = WriteArrayHeader(payload, cls, dims, ndims);
  if (data < payload + cells) payload[cells - 1].u = 0;  // the bytes after the elements stay zero
  *elements = data;
  return kOk;
}

void ResizeTopArray(EngineContext* ctx, int32_t subtype, uint32_t cls, const uint32_t* dims, int ndims,
                    int64_t keptBytes) {
  ValueDescriptor& d = *DescriptorAt(ctx, 0);
  Cell* payload = TopData(ctx);
  int64_t count = 1;
  for (int k = 0; k < ndims; ++k) count *= dims[k];
  Cell* data = WriteArrayHeader(payload, cls, dims, ndims);
  const int64_t cells = ArrayPayloadCells(cls, ndims, count);
  std::memset(reinterpret_cast<uint8_t*>(data) + keptBytes, 0, (payload + cells - data) * sizeof(Cell) - keptBytes);
  ctx->dataTop += static_cast<int32_t>(cells - d.cells);
  d = {kBoxed, static_cast<int32_t>(cells), subtype};
}

// ---------------------------------------------------------------------------
// Construction

StatusCode PushEmptyMatrix(EngineContext* ctx) { return PushValue(ctx, 0, 0, 0, Room::kStrict, nullptr); }

StatusCode PushVoidValue(EngineContext* ctx) { return PushValue(ctx, kVoid, 0, 0, Room::kStrict, nullptr); }

StatusCode PushTaggedInteger(EngineContext* ctx, int32_t v) {
  return PushValue(ctx, kTagged, 0, v, Room::kStrict, nullptr);
}

bool GetTaggedInteger(EngineContext* ctx, int position, int32_t* v) {
  const ValueDescriptor* d = DescriptorAt(ctx, position);
  if (d->kind != kTagged) return false;
  if (v) *v = d->extra;
  return true;
}

StatusCode PushRealScalar(EngineContext* ctx, double x) {
  Cell* c = nullptr;
  if (StatusCode st = PushValue(ctx, 0, 1, 1, Room::kStrict, &c); st != kOk) return st;
  c->f = x;
  return kOk;
}

StatusCode PushInf(EngineContext* ctx) { return PushRealScalar(ctx, std::numeric_limits<double>::infinity()); }

StatusCode PushNaN(EngineContext* ctx) { return PushRealScalar(ctx, std::numeric_limits<double>::quiet_NaN()); }

StatusCode PushLogicalScalar(EngineContext* ctx, uint8_t b) {
  uint8_t* data = nullptr;
  if (StatusCode st = PushLogicalArray(ctx, 0, nullptr, &data); st != kOk) return st;
  *data = b;
  return kOk;
}

StatusCode PushIntegerScalar(EngineContext* ctx, uint32_t cls, __int128 v) {
  void* data = nullptr;
  const int bytes = static_cast<int>(cls & 0x7F);
  if (StatusCode st = PushIntegerArray(ctx, 0, nullptr, bytes, (cls & 0x80) != 0, &data); st != kOk) return st;
  const auto low = static_cast<uint64_t>(v);
  std::memcpy(data, &low, bytes);
  return kOk;
}

StatusCode PushSingleScalar(EngineContext* ctx, double re, double im, bool complex) {
  float* r = nullptr;
  float* i = nullptr;
  if (StatusCode st = PushSingleArray(ctx, 0, nullptr, &r, complex ? &i : nullptr); st != kOk) return st;
  *r = static_cast<float>(re);
  if (complex) *i = static_cast<float>(im);
  return kOk;
}

StatusCode PushComplexScalar(EngineContext* ctx, double re, double im) {
  if (im == 0.0 || std::isnan(im)) return PushRealScalar(ctx, re);
  Cell* c = nullptr;
  if (StatusCode st = PushValue(ctx, kComplex, 2, 1, Room::kStrict, &c); st != kOk) return st;
  c[0].f = re;
  c[1].f = im;
  return kOk;
}

StatusCode PushZeroMatrix(EngineContext* ctx, int32_t m, int32_t n, bool complex) {
  if (m <= 0 || n <= 0) return PushEmptyMatrix(ctx);
  const int64_t cells = int64_t{m} * n * (complex ? 2 : 1);
  if (cells > kMaxPlainCells) return kObjTooLarge;
  Cell* c = nullptr;
  if (StatusCode st = PushValue(ctx, complex ? uint32_t{kComplex} : 0u, cells, n, Room::kStrict, &c); st != kOk)
    return st;
  std::memset(c, 0, cells * sizeof(Cell));
  return kOk;
}

StatusCode PushDoubleMatrix(EngineContext* ctx, int32_t m, int32_t n, double** re, double** im) {
  if (m < 1 || n < 1) m = n = 0;
  const int64_t count = int64_t{m} * n;
  const int64_t cells = count * (im ? 2 : 1);
  if (cells > kMaxPlainCells) return kObjTooLarge;
  const uint32_t kind = im && count > 0 ? uint32_t{kComplex} : 0u;
  Cell* c = nullptr;
  if (StatusCode st = PushValue(ctx, kind, cells, n, Room::kAll, &c); st != kOk) return st;
  if (re) *re = &c->f;
  if (im) *im = &c[count].f;
  return kOk;
}

StatusCode PushDoubleArray(EngineContext* ctx, int ndims, const int32_t* dims, double** re, double** im) {
  uint32_t d[kMaxDims];
  int64_t count = 0;
  const int n = NormalizeCallerDims(ndims, dims, d, &count);
  if (n < 0) return kOutOfRangeArg;
  if (count > kMaxFloatArrayElements) return kObjTooLarge;
  if (n == 2) return PushDoubleMatrix(ctx, static_cast<int32_t>(d[0]), static_cast<int32_t>(d[1]), re, im);
  Cell* data = nullptr;
  if (StatusCode st = PushArray(ctx, kNumericArray, im ? kComplexDouble : kDouble, d, n, &data); st != kOk) return st;
  if (re) *re = &data->f;
  if (im) *im = &data[count].f;
  return kOk;
}

StatusCode PushSingleArray(EngineContext* ctx, int ndims, const int32_t* dims, float** re, float** im) {
  uint32_t d[kMaxDims];
  int64_t count = 0;
  const int n = NormalizeCallerDims(ndims, dims, d, &count);
  if (n < 0) return kOutOfRangeArg;
  if (count > kMaxFloatArrayElements) return kObjTooLarge;
  const uint32_t cls = im && count > 0 ? kComplexSingle : kSingle;
  Cell* data = nullptr;
  if (StatusCode st = PushArray(ctx, kNumericArray, cls, d, n, &data); st != kOk) return st;
  float* f = reinterpret_cast<float*>(data);
  if (re) *re = f;
  if (im) *im = f + count;
  return kOk;
}

StatusCode PushIntegerArray(EngineContext* ctx, int ndims, const int32_t* dims, int elementBytes, bool isUnsigned,
                            void** data) {
  return PushIntegerTyped(ctx, ndims, dims, elementBytes, isUnsigned, kNumericArray, data);
}

StatusCode PushCharArray(EngineContext* ctx, int ndims, const int32_t* dims, uint16_t** data) {
  return PushIntegerTyped(ctx, ndims, dims, 2, true, kCharArray, reinterpret_cast<void**>(data));
}

StatusCode PushCharRow(EngineContext* ctx, int32_t n, uint16_t** data) {
  const int32_t dims[] = {1, n};
  return PushCharArray(ctx, 2, dims, data);
}

StatusCode PushLogicalArray(EngineContext* ctx, int ndims, const int32_t* dims, uint8_t** data) {
  return PushIntegerTyped(ctx, ndims, dims, 1, true, kLogicalArray, reinterpret_cast<void**>(data));
}

StatusCode PushBoxedValue(EngineContext* ctx, int32_t subtype, int64_t bytes, void** payload) {
  if (bytes < 0) bytes = 0;
  const int64_t cells = (bytes + 7) / 8;
  if (cells > kMaxPlainCells) return kObjTooLarge;
  Cell* c = nullptr;
  if (StatusCode st = PushValue(ctx, kBoxed, cells, subtype, Room::kStrict, &c); st != kOk) return st;
  if (bytes % 8 != 0) c[cells - 1].u = 0;
  if (payload) *payload = c;
  return kOk;
}

StatusCode PushNativeObject(EngineContext* ctx, int64_t bytes, void** payload) {
  return PushBoxedValue(ctx, ctx->runningNativeClass, bytes, payload);
}

// ---------------------------------------------------------------------------
// Popping and reading

StatusCode GetDoubleMatrixArg(EngineContext* ctx, int position, int32_t* m, int32_t* n, double** re, double** im) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  if (!IsPlainMatrix(d)) return kWrongTypeInternal;
  Cell* data = DataAt(ctx, position);
  const int32_t rows = PlainRows(d);
  if (m) *m = rows;
  if (n) *n = d.extra;
  if (re) *re = &data->f;
  if (im) *im = (d.kind & kComplex) ? &data[d.cells / 2].f : nullptr;
  return kOk;
}

StatusCode PopDoubleMatrix(EngineContext* ctx, int32_t* m, int32_t* n, double** re, double** im) {
  if (StatusCode st = GetDoubleMatrixArg(ctx, 0, m, n, re, im); st != kOk) return st;
  PopValue(ctx);
  return kOk;
}

StatusCode PopRealScalar(EngineContext* ctx, double* x) {
  const ValueDescriptor& d = *DescriptorAt(ctx, 0);
  if (!IsPlainMatrix(d)) return kWrongTypeInternal;
  if (d.cells != 1) return kNonScalarArg;
  if (x) *x = TopData(ctx)->f;
  PopValue(ctx);
  return kOk;
}

StatusCode PopComplexScalar(EngineContext* ctx, double* re, double* im) {
  const ValueDescriptor& d = *DescriptorAt(ctx, 0);
  if (!IsPlainMatrix(d)) return kWrongTypeInternal;
  if (d.cells != ((d.kind & kComplex) ? 2 : 1)) return kNonScalarArg;
  const Cell* c = TopData(ctx);
  if (re) *re = c[0].f;
  if (im) *im = (d.kind & kComplex) ? c[1].f : 0.0;
  PopValue(ctx);
  return kOk;
}

StatusCode GetRealScalarArg(EngineContext* ctx, int position, double* x) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  if (!IsPlainMatrix(d)) return kWrongTypeInternal;
  const bool complex = (d.kind & kComplex) != 0;
  if (d.cells != (complex ? 2 : 1)) return kNonScalarArg;
  const Cell* c = DataAt(ctx, position);
  if (complex && c[1].f != 0.0) return kWrongTypeInternal;
  if (x) *x = c[0].f;
  return kOk;
}

StatusCode GetIntegerScalarArg(EngineContext* ctx, int position, int32_t* i) {
  NumericView v;
  if (!ReadNumeric(ctx, position, &v)) return kWrongTypeInternal;
  if (v.count != 1) return kNonScalarArg;
  if (IsFloatClass(v.cls)) {
    const double re = RealElement(v, 0);
    if (ImagElement(v, 0) != 0.0) return kWrongTypeInternal;
    if (re != std::trunc(re)) return kNonIntArg;
    // An integer too large is out of range, as it is for the integer classes.
    if (re < INT32_MIN || re > INT32_MAX) return kOutOfRangeArg;
    if (i) *i = static_cast<int32_t>(re);
    return kOk;
  }
  // Wider classes do not wrap into a small number: they must fit.
  const __int128 n = IntegerElement(v, 0);
  if (n < INT32_MIN || n > INT32_MAX) return kOutOfRangeArg;
  if (i) *i = static_cast<int32_t>(n);
  return kOk;
}

StatusCode PopIntegerScalar(EngineContext* ctx, int32_t* i) {
  if (StatusCode st = GetIntegerScalarArg(ctx, 0, i); st != kOk) return st;
  PopValue(ctx);
  return kOk;
}

StatusCode GetBooleanArg(EngineContext* ctx, int position, uint8_t* b) {
  NumericView v;
  if (!ReadNumeric(ctx, position, &v)) return kWrongTypeInternal;
  if (v.count != 1 || v.cls == kComplexDouble) return kWrongTypeInternal;
  const double re = RealElement(v, 0), im = ImagElement(v, 0);
  // NaN counts as zero here: the comparisons with NaN are false.
  if (b) *b = (re < 0 || re > 0 || im < 0 || im > 0) ? 1 : 0;
  return kOk;
}

StatusCode PopBoolean(EngineContext* ctx, uint8_t* b) {
  if (StatusCode st = GetBooleanArg(ctx, 0, b); st != kOk) return st;
  PopValue(ctx);
  return kOk;
}

StatusCode TestArgAllNonzero(EngineContext* ctx, int position, uint8_t* b) {
  NumericView v;
  if (!ReadNumeric(ctx, position, &v)) return kWrongBoolType;
  bool all = v.count > 0;
  // NaN compares unequal to 0: it counts as non-zero.
  for (int64_t k = 0; k < v.count && all; ++k) all = RealElement(v, k) != 0.0 || ImagElement(v, k) != 0.0;
  if (b) *b = all ? 1 : 0;
  return kOk;
}

StatusCode PopConditionValue(EngineContext* ctx, uint8_t* b) {
  if (StatusCode st = TestArgAllNonzero(ctx, 0, b); st != kOk) return st;
  PopValue(ctx);
  return kOk;
}

StatusCode GetArgDims(EngineContext* ctx, int position, int* ndims, int32_t* dims, int64_t* count) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  Cell* data = DataAt(ctx, position);
  if (IsPlainMatrix(d)) {
    const int32_t rows = PlainRows(d);
    if (ndims) *ndims = 2;
    if (dims) dims[0] = rows, dims[1] = d.extra;
    if (count) *count = int64_t{rows} * d.extra;
    return kOk;
  }
  if (IsBoxedArray(d)) {
    const ArrayView a = ReadArray(data);
    ReportShape(a, ndims, dims, count);
    return kOk;
  }
  if (IsComposite(d)) {
    int n = 0;
    int64_t c = 0;
    if (StatusCode st = GetCompositeArgInfo(ctx, position, '?', &n, dims, &c, nullptr, nullptr); st != kOk) return st;
    if (ndims) *ndims = n;
    if (count) *count = c;
    return kOk;
  }
  return kWrongTypeInternal;
}

namespace {

[[nodiscard]] StatusCode GetArrayOf(EngineContext* ctx, int position, uint32_t realCls, uint32_t complexCls, int* ndims,
                                    int32_t* dims, int64_t* count, Cell** data, bool* complex) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  if (!IsBoxedArray(d) || d.extra != kNumericArray) return kWrongTypeInternal;
  const ArrayView a = ReadArray(DataAt(ctx, position));
  if (a.cls != realCls && a.cls != complexCls) return kWrongTypeInternal;
  ReportShape(a, ndims, dims, count);
  *data = a.data;
  *complex = a.cls == complexCls;
  return kOk;
}

}  // namespace

StatusCode GetDoubleArrayArg(EngineContext* ctx, int position, int* ndims, int32_t* dims, int64_t* count, double** re,
                             double** im) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  if (IsPlainMatrix(d)) {
    int32_t m = 0, n = 0;
    (void)GetDoubleMatrixArg(ctx, position, &m, &n, re, im);  // a plain matrix
    if (ndims) *ndims = 2;
    if (dims) dims[0] = m, dims[1] = n;
    if (count) *count = int64_t{m} * n;
    return kOk;
  }
  Cell* data = nullptr;
  bool complex = false;
  int64_t c = 0;
  if (StatusCode st = GetArrayOf(ctx, position, kDouble, kComplexDouble, ndims, dims, &c, &data, &complex); st != kOk)
    return st;
  if (count) *count = c;
  if (re) *re = &data->f;
  if (im) *im = complex ? &data[c].f : nullptr;
  return kOk;
}

StatusCode GetSingleArrayArg(EngineContext* ctx, int position, int* ndims, int32_t* dims, int64_t* count, float** re,
                             float** im) {
  Cell* data = nullptr;
  bool complex = false;
  int64_t c = 0;
  if (StatusCode st = GetArrayOf(ctx, position, kSingle, kComplexSingle, ndims, dims, &c, &data, &complex); st != kOk)
    return st;
  float* f = reinterpret_cast<float*>(data);
  if (count) *count = c;
  if (re) *re = f;
  if (im) *im = complex ? f + c : nullptr;
  return kOk;
}

StatusCode GetIntegerArrayArg(EngineContext* ctx, int position, int* ndims, int32_t* dims, int64_t* count,
                              int* elementBytes, bool* isUnsigned, void** data) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  if (!IsBoxedArray(d)) return kWrongTypeInternal;
  const ArrayView a = ReadArray(DataAt(ctx, position));
  if (!IsIntegerClass(a.cls)) return kWrongTypeInternal;
  ReportShape(a, ndims, dims, count);
  if (elementBytes) *elementBytes = static_cast<int>(a.cls & 0x7F);
  if (isUnsigned) *isUnsigned = (a.cls & 0x80) != 0;
  if (data) *data = a.data;
  return kOk;
}

StatusCode GetBoxedArg(EngineContext* ctx, int position, int32_t* subtype, int64_t* bytes, void** payload) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  if (d.kind != kBoxed) return kWrongTypeInternal;
  if (subtype) *subtype = d.extra;
  if (bytes) *bytes = int64_t{d.cells} * 8;
  if (payload) *payload = DataAt(ctx, position);
  return kOk;
}

StatusCode GetNativeObjectArg(EngineContext* ctx, int position, int64_t* bytes, void** payload) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  if (d.kind != kBoxed || d.extra < kFirstNativeClass || d.extra != ctx->runningNativeClass) return kWrongTypeInternal;
  return GetBoxedArg(ctx, position, nullptr, bytes, payload);
}

// ---------------------------------------------------------------------------
// Kind tests

bool IsCharArg(EngineContext* ctx, int position) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  return d.kind == kBoxed && d.extra == kCharArray;
}

bool IsLogicalArg(EngineContext* ctx, int position) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  return d.kind == kBoxed && d.extra == kLogicalArray;
}

bool IsListOrCellArg(EngineContext* ctx, int position) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  return d.kind == kComposite && (d.extra == kList || d.extra == kCellArray);
}

bool IsStructArg(EngineContext* ctx, int position) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  return d.kind == kComposite && d.extra == kStruct;
}

bool IsObjectArg(EngineContext* ctx, int position) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  return d.kind == kComposite && (d.extra < kList || d.extra > kFreeList);
}

// ---------------------------------------------------------------------------
// Argument-list check. One letter per argument, first argument first:
//   ?  anything                      A/a  double array / real one
//   B/b single array / real one      C/c  plain matrix / one element
//   R/r real plain matrix / scalar   I/i  real plain matrix of 32-bit integers / scalar
//   j  integer-class array (char and logical too)   L logical   S/s char / one char
//   E  list or cell   l list   e cell   T struct or struct array   t struct
//   f  inline function or function reference
//   [  the rest is optional   +  repeat the previous letter   *  accept the rest

namespace {

bool AllInt32(const ValueDescriptor& d, const Cell* data) {
  for (int32_t k = 0; k < d.cells; ++k) {
    const double x = data[k].f;
    if (std::isnan(x)) continue;
    if (!(x >= INT32_MIN && x <= INT32_MAX) || x != std::trunc(x)) return false;
  }
  return true;
}

// -1 for a letter that names no kind of argument.
int MatchesLetter(EngineContext* ctx, int position, char letter) {
  const ValueDescriptor& d = *DescriptorAt(ctx, position);
  const bool plain = IsPlainMatrix(d);
  const bool complex = (d.kind & kComplex) != 0;
  uint32_t cls = 0;
  if (IsBoxedArray(d)) cls = ReadArray(DataAt(ctx, position)).cls;
  switch (letter) {
    case '?':
      return true;
    case 'A':
      return plain || (d.kind == kBoxed && d.extra == kNumericArray && (cls == kDouble || cls == kComplexDouble));
    case 'a':
      return (plain && !complex) || (d.kind == kBoxed && d.extra == kNumericArray && cls == kDouble);
    case 'B':
      return d.kind == kBoxed && d.extra == kNumericArray && (cls == kSingle || cls == kComplexSingle);
    case 'b':
      return d.kind == kBoxed && d.extra == kNumericArray && cls == kSingle;
    case 'C':
      return plain;
    case 'c':
      return plain && d.cells == (complex ? 2 : 1);
    case 'R':
      return plain && !complex;
    case 'r':
      return plain && !complex && d.cells == 1;
    case 'I':
      return plain && !complex && AllInt32(d, DataAt(ctx, position));
    case 'i':
      return plain && !complex && d.cells == 1 && AllInt32(d, DataAt(ctx, position));
    case 'j':
      return IsBoxedArray(d) && IsIntegerClass(cls);
    case 'L':
      return d.kind == kBoxed && d.extra == kLogicalArray;
    case 'S':
      return d.kind == kBoxed && d.extra == kCharArray;
    case 's':
      return d.kind == kBoxed && d.extra == kCharArray && ReadArray(DataAt(ctx, position)).count == 1;
    case 'E':
      return d.kind == kComposite && (d.extra == kList || d.extra == kCellArray);
    case 'l':
      return d.kind == kComposite && d.extra == kList;
    case 'e':
      return d.kind == kComposite && d.extra == kCellArray;
    case 'T':
      return d.kind == kComposite && (d.extra == kStruct || d.extra == kStructArray);
    case 't':
      return d.kind == kComposite && d.extra == kStruct;
    case 'f':
      return d.kind == kBoxed && (d.extra == kInlineFunction || d.extra == kFunctionRef);
  }
  return -1;
}

}  // namespace

StatusCode CheckArgTypes(EngineContext* ctx, int nargin, const char* types) {
  if (types == nullptr) {
    for (int p = 0; p < nargin; ++p) {
      const ValueDescriptor& d = *DescriptorAt(ctx, p);
      if (d.kind == kComposite && (d.extra < kList || d.extra > kFreeList)) return kWrongType;
      if (d.kind == kBoxed && d.extra >= kFirstNativeClass) return kWrongType;
    }
    return kOk;
  }
  if (*types == 0) return kOk;
  const char* letter = types;
  bool optional = false;
  for (int arg = 0; arg < nargin; ++arg) {
    const int position = nargin - 1 - arg;
    if (*letter == '+') {
      if (letter == types) return kWrongType;  // nothing to repeat
      --letter;                                // the previous letter now covers every further argument
    }
    if (*letter == '*') return kOk;
    while (*letter == '[') {
      optional = true;
      ++letter;
    }
    if (*letter == 0) return kOk;
    if (*letter == '*') return kOk;
    if (MatchesLetter(ctx, position, *letter) != 1) return kWrongType;
    ++letter;
    if (*letter == 0) return kOk;
  }
  if (optional) return kOk;
  return (*letter == '[' || *letter == '*' || *letter == '+') ? kOk : kWrongType;
}
