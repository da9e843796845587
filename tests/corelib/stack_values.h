// Pushing small values of every array class and reading the top one back, for
// the tests of the builtins that join, reshape and compare values.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "corelib/corelib.h"
#include "engine/values/valuestack.h"
#include "tests/engine/stack_fixture.h"

class StackValuesTest : public StackFixture {
 public:
  StackValuesTest() : StackFixture({.blockCells = 32 * 1024}) {}
  // Tables of cases reach the engine through a pointer to the fixture.
  using StackFixture::ctx;

  // A double array; the values in storage order (rows first within a page).
  void Doubles(std::vector<int32_t> dims, std::vector<double> values, std::vector<double> imag = {}) {
    double* re = nullptr;
    double* im = nullptr;
    ASSERT_EQ(PushDoubleArray(ctx, static_cast<int>(dims.size()), dims.data(), &re, imag.empty() ? nullptr : &im), kOk);
    if (!values.empty()) std::memcpy(re, values.data(), values.size() * sizeof(double));
    if (!imag.empty()) std::memcpy(im, imag.data(), imag.size() * sizeof(double));
  }
  void Row(std::vector<double> values) { Doubles({1, static_cast<int32_t>(values.size())}, values); }
  void Scalar(double x) { ASSERT_EQ(PushRealScalar(ctx, x), kOk); }
  void Empty() { ASSERT_EQ(PushEmptyMatrix(ctx), kOk); }
  // An array of one value in every element.
  void Filled(std::vector<int32_t> dims, double x) {
    int64_t n = 1;
    for (int32_t d : dims) n *= d;
    Doubles(dims, std::vector<double>(n, x));
  }

  void Singles(std::vector<double> values) {
    float* re = nullptr;
    const int32_t dims[2] = {1, static_cast<int32_t>(values.size())};
    ASSERT_EQ(PushSingleArray(ctx, 2, dims, &re, nullptr), kOk);
    for (size_t k = 0; k < values.size(); ++k) re[k] = static_cast<float>(values[k]);
  }
  // A row of an integer class; values wrap to the width.
  void Integers(uint32_t cls, std::vector<double> values) {
    void* data = nullptr;
    const int bytes = ElementBytes(cls);
    const int32_t dims[2] = {1, static_cast<int32_t>(values.size())};
    ASSERT_EQ(PushIntegerArray(ctx, 2, dims, bytes, (cls & 0x80) != 0, &data), kOk);
    for (size_t k = 0; k < values.size(); ++k) {
      const auto bits = static_cast<uint64_t>(static_cast<int64_t>(values[k]));
      std::memcpy(static_cast<uint8_t*>(data) + k * bytes, &bits, bytes);
    }
  }
  void Text(const char* s) { ASSERT_EQ(PushStringFromBytes(ctx, -1, s), kOk); }
  void Logicals(std::vector<int> values) {
    uint8_t* data = nullptr;
    const int32_t dims[2] = {1, static_cast<int32_t>(values.size())};
    ASSERT_EQ(PushLogicalArray(ctx, 2, dims, &data), kOk);
    for (size_t k = 0; k < values.size(); ++k) data[k] = static_cast<uint8_t>(values[k]);
  }
  // A list of scalars.
  void List(std::vector<double> values) {
    for (double x : values) Scalar(x);
    ASSERT_EQ(MakeListFromValues(ctx, static_cast<int>(values.size()), false, nullptr, 0), kOk);
  }
  // A structure with the named scalar fields.
  void Struct(std::vector<std::pair<const char*, double>> fields) {
    ASSERT_EQ(MakeListFromValues(ctx, 0, false, "", 0), kOk);
    for (auto& [name, x] : fields) {
      Scalar(x);
      ASSERT_EQ(MakeListFromValues(ctx, 1, true, name, static_cast<int>(std::strlen(name))), kOk);
    }
  }

  // The top value's class, dimensions and elements (real parts, then imaginary parts).
  struct Seen {
    uint32_t cls = 0;
    int32_t subtype = -1;  // 0 for a plain matrix
    std::vector<uint32_t> dims;
    std::vector<double> re;
    std::vector<double> im;
  };
  Seen TopArray() {
    Seen s;
    NumericView v;
    if (!ReadNumeric(ctx, 0, &v)) return s;
    s.cls = v.cls;
    s.subtype = v.plain ? 0 : DescriptorAt(ctx, 0)->extra;
    s.dims.assign(v.dims, v.dims + v.ndims);
    for (int64_t k = 0; k < v.count; ++k) s.re.push_back(RealElement(v, k));
    if (IsComplexClass(v.cls))
      for (int64_t k = 0; k < v.count; ++k) s.im.push_back(ImagElement(v, k));
    return s;
  }
  std::vector<uint32_t> TopDims() {
    int nd = 0;
    int32_t dims[kMaxDims];
    int64_t count = 0;
    EXPECT_EQ(GetArgDims(ctx, 0, &nd, dims, &count), kOk);
    return std::vector<uint32_t>(dims, dims + nd);
  }
  std::string Name(SymbolId id) { return std::string(SymbolText(ctx, id), SymbolLength(ctx, id)); }
  SymbolId Symbol(const char* name) {
    SymbolId id = 0;
    EXPECT_EQ(InternSymbol(ctx, name, static_cast<int>(std::strlen(name)), 63, &id), kOk);
    return id;
  }

  std::vector<uint64_t> DataCells() {
    std::vector<uint64_t> cells(ctx->dataTop);
    std::memcpy(cells.data(), ctx->dataBase, cells.size() * sizeof(Cell));
    return cells;
  }
};
