// Values that grow where they lie: a growth that fails leaves the variable as
// it was, growth goes on after the block moves or the state is saved and
// loaded, interleaved growths keep the heap tiled, and a value grown one
// element at a time moves only a logarithmic number of times.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/heap.h"
#include "engine/relocate.h"
#include "engine/variableaccess.h"
#include "tests/engine/stack_fixture.h"
#include "tools/imagewriter.h"

namespace {

// A command with every "#" replaced by the number.
std::string Step(const std::string& text, int64_t k) {
  std::string out;
  for (char ch : text) out += ch == '#' ? std::to_string(k) : std::string(1, ch);
  return out;
}

// A value made by setup, the command that grows or assigns into it, and the
// variable to watch.
struct GrowthCase {
  const char* setup;
  const char* text;
  const char* name;
};

// The elements of a numeric, char or logical array as doubles, in storage
// order (row by row), and its dims.
struct Elements {
  std::vector<int32_t> dims;
  std::vector<double> re, im;
};

double ElementValue(const uint8_t* p, int kind, bool isUnsigned) {
  switch (kind) {
    case -8: {
      double v;
      std::memcpy(&v, p, 8);
      return v;
    }
    case -4: {
      float v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case 1:
      return isUnsigned ? double(*p) : double(static_cast<int8_t>(*p));
    case 2: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return isUnsigned ? double(v) : double(static_cast<int16_t>(v));
    }
    case 4: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return isUnsigned ? double(v) : double(static_cast<int32_t>(v));
    }
    default: {
      uint64_t v;
      std::memcpy(&v, p, 8);
      return isUnsigned ? double(v) : double(static_cast<int64_t>(v));
    }
  }
}

class GrowthTest : public StackFixture {
 protected:
  GrowthTest() : GrowthTest(16 * 1024) {}
  explicit GrowthTest(size_t cells) : StackFixture({.blockCells = cells, .messages = true}) {}

  void SetUp() override { StartFixtureEngine(); }

  // The fixture's engine anew in whatever block it holds, its messages to
  // descriptor 2 captured; every engine installs the same libraries.
  void StartFixtureEngine() {
    Reset();
    ASSERT_FALSE(HasFatalFailure());
    CaptureDescriptor(2, &errors);
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  }

  StatusCode Run(const std::string& text) {
    errors.clear();
    return Command(text);
  }

  // A variable's heap block as it lies: its header word and every cell.
  struct BlockImage {
    int32_t index = 0;
    uint32_t header = 0;
    std::vector<uint64_t> cells;
    bool operator==(const BlockImage&) const = default;
  };
  BlockImage Image(const std::string& name) {
    BlockImage b;
    b.index = BaseVariableValue(name);
    if (b.index <= 0) return b;
    b.header = ctx->heapBase[b.index - 1].w[0];
    b.cells.resize(HeapBlockCells(ctx, b.index));
    std::memcpy(b.cells.data(), ctx->heapBase + b.index, b.cells.size() * sizeof(Cell));
    return b;
  }

  // The blocks must tile the heap, and each named variable's value must be
  // a block in use among them.
  void ExpectTiled(std::initializer_list<const char*> names) {
    std::vector<int32_t> inUse;
    int64_t at = 0;
    while (at < ctx->heapSize) {
      const uint32_t header = ctx->heapBase[at].w[0];
      if (header & kHeapInUse) inUse.push_back(static_cast<int32_t>(at + 1));
      at += 1 + (header & kHeapCountMask);
    }
    EXPECT_EQ(at, ctx->heapSize) << "the blocks overrun the heap";
    for (const char* name : names) {
      const int32_t b = BaseVariableValue(name);
      EXPECT_NE(std::find(inUse.begin(), inUse.end(), b), inUse.end()) << name << " at " << b;
    }
  }

  // The array a variable holds, or that field number of the structure it
  // holds.
  Elements Read(const std::string& name, int field = -1) {
    Elements out;
    const int32_t b = BaseVariableValue(name);
    if (b <= 0) {
      ADD_FAILURE() << name << " has no value";
      return out;
    }
    ValueDescriptor d = VariableDescriptor(ctx, b);
    Cell* data = ctx->heapBase + b + kVariableHeaderCells;
    if (field >= 0) {
      CompositeView c;
      if (!ReadComposite(d, data, &c) || c.fields <= field) {
        ADD_FAILURE() << name << " has no field " << field;
        return out;
      }
      CompositeElementHeader* e = ElementAfter(c.first, field);
      d = DescriptorOf(e);
      data = ElementData(e);
    }
    ArrayInfo a;
    if (!ReadArrayInfo(d, data, &a)) {
      ADD_FAILURE() << name << " is no array";
      return out;
    }
    out.dims.assign(a.dims, a.dims + a.ndims);
    const int size = a.elementKind < 0 ? -a.elementKind : a.elementKind;
    for (int64_t k = 0; k < a.count; ++k) {
      out.re.push_back(ElementValue(static_cast<const uint8_t*>(a.re) + k * size, a.elementKind, a.isUnsigned));
      if (a.im) out.im.push_back(ElementValue(static_cast<const uint8_t*>(a.im) + k * size, a.elementKind, false));
    }
    return out;
  }

  void MoveBlock(size_t cells) { MoveEngineBlock(block, ctx, cells, kHeapFull); }

  // Saves the state and loads it into a fresh engine in a new block of `cells`.
  void SaveAndLoad(size_t cells) {
    std::vector<uint8_t> image;
    SaveEngineState(ctx, &image);
    block.assign(cells, 0);
    StartFixtureEngine();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(LoadImageFromMemory(ctx, image), kOk);
  }

  std::string errors;
};

// ---------------------------------------------------------------------------
// Failures.

// The heap is filled by one of the growth forms, one command at a time,
// until a growth is refused: the refused command leaves the value's block
// exactly as it was, and the value can still be written in place.
TEST_F(GrowthTest, ARefusedGrowthLeavesTheValueAsItWas) {
  struct Case {
    const char* setup;
    const char* grow;   // with # the step's number
    const char* after;  // runs on the full heap, writing in place
    const char* name;
    int field;  // of the structure, -1 for the variable itself
    int rows;   // of the grown value
    int first;  // step; the setup holds the columns before it
  };
  const Case kCases[] = {
      {"x = [];", "x(end+1) = #;", "x(end) = -x(end);", "x", -1, 1, 1},
      {"x = [];", "x(#) = #;", "x(end) = -x(end);", "x", -1, 1, 1},
      // A column added to a matrix stored row by row moves the elements.
      {"x = [1; 1];", "x(:, end+1) = [#; #];", "x(end, end) = -x(end, end);", "x", -1, 2, 2},
      {"s.a = []; s.b = 'tail';", "s.a(end+1) = #;", "s.a(end) = -s.a(end);", "s", 0, 1, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.grow);
    StartFixtureEngine();
    ASSERT_EQ(Run(c.setup), kOk) << errors;
    StatusCode st = kOk;
    BlockImage before;
    int64_t k = c.first;
    for (; k < 100000; ++k) {
      before = Image(c.name);
      if ((st = Run(Step(c.grow, k))) != kOk) break;
    }
    ASSERT_EQ(st, kHeapFull) << "after " << k << " steps: " << errors;
    EXPECT_NE(errors, "") << "the refusal is reported";
    EXPECT_EQ(Image(c.name), before);
    ExpectTiled({c.name});

    // The last step that worked is the value's end; it is written in place.
    const int64_t grown = k - 1;
    ASSERT_GT(grown, 100);
    ASSERT_EQ(Run(c.after), kOk) << errors;
    const Elements e = Read(c.name, c.field);
    ASSERT_EQ(static_cast<int64_t>(e.re.size()), grown * c.rows);
    for (int64_t q = 0; q + 1 < grown * c.rows; ++q) ASSERT_EQ(e.re[q], double(q % grown + 1)) << "element " << q;
    EXPECT_EQ(e.re.back(), -double(grown));
    ExpectTiled({c.name});
  }
}

// The same for lists, cell arrays and structure arrays, whose appends store
// the new item in the growth's own step: the refused append leaves the block
// as it was, and every item before it reads back in order.
TEST_F(GrowthTest, ARefusedAppendOfAnItemLeavesTheValueAsItWas) {
  struct Case {
    GrowthCase growth;
    const char* item;  // item q, which holds q
  };
  const Case kCases[] = {
      {{"c = {1};", "c{end+1} = #;", "c"}, "c{q}"}, {{"c = {1};", "c(#) = {#};", "c"}, "c{q}"},
      {{"c{1} = 1;", "c{#} = #;", "c"}, "c{q}"},    {{"s.a = {1}; s.b = 'tail';", "s.a{end+1} = #;", "s"}, "s.a{q}"},
      {{"s.f = 1;", "s(#).f = #;", "s"}, "s(q).f"},
  };
  for (const Case& t : kCases) {
    const GrowthCase& c = t.growth;
    SCOPED_TRACE(c.text);
    StartFixtureEngine();
    // The check at the end finds its variables made while there was room.
    ASSERT_EQ(Run(std::string("bad = 0; last = 0; q = 0; ") + c.setup), kOk) << errors;
    StatusCode st = kOk;
    BlockImage before;
    int64_t k = 2;
    for (; k < 100000; ++k) {
      before = Image(c.name);
      if ((st = Run(Step(c.text, k))) != kOk) break;
    }
    ASSERT_EQ(st, kHeapFull) << "after " << k << " steps: " << errors;
    EXPECT_NE(errors, "");
    EXPECT_EQ(Image(c.name), before);
    ExpectTiled({c.name});
    ASSERT_GT(k, 100);
    std::string last = t.item;
    last.replace(last.find('q'), 1, "end");
    const std::string check = std::string("bad = 0; for q = 1:") + std::to_string(k - 1) + ", if " + t.item +
                              " ~= q, bad = q; end, end, last = " + last + ";";
    ASSERT_EQ(Run(check), kOk) << errors;
    EXPECT_EQ(BaseScalar("bad"), 0);
    EXPECT_EQ(BaseScalar("last"), k - 1);
  }
}

// Assignments refused for their index, class or size change nothing of the
// value, whichever growth they would have made.
TEST_F(GrowthTest, ARefusedAssignmentLeavesTheValueByteForByte) {
  const GrowthCase kCases[] = {
      {"x = [1 2 3];", "x(0) = 1;", "x"},
      {"x = [1 2 3];", "x(1.5) = 1;", "x"},
      {"x = [1 2 3];", "x(end+1) = {1};", "x"},
      {"x = [1 2 3];", "x(end+1:end+3) = [1 2];", "x"},
      {"x = [1 2 3];", "x(end+1) = [1 2];", "x"},
      {"x = [1 2 3];", "x(5, 2, 3) = [1 2];", "x"},
      {"x = [1 2; 3 4];", "x(:, end+1) = [1; 2; 3];", "x"},
      {"x = [1 2; 3 4];", "x(end+1, :) = [1 2 3];", "x"},
      {"x = [1 2; 3 4];", "x(0, 3) = 1;", "x"},
      {"x = [1+2i 3];", "x(end+2) = {1};", "x"},
      {"x = int16([1 2 3]);", "x(end+1:end+2) = int16([1 2 3]);", "x"},
      {"x = 'abc';", "x(end+1) = {1};", "x"},
      {"s.a = [1 2]; s.b = 'b';", "s.a(0) = 9;", "s"},
      {"s.a = [1 2]; s.b = 'b';", "s.a(end+1:end+2) = [1 2 3];", "s"},
      {"s.a = [1 2]; s.b = 'b';", "s.a(end+1) = {1};", "s"},
      {"c = {1, 'a'};", "c(end+1:end+2) = {1, 2, 3};", "c"},
      {"c = {1, 'a'};", "c{0} = 2;", "c"},
      {"c = {1, 'a'}; l = {1, 2};", "c{end+1} = l{:};", "c"},
      {"c = {1, 'a'};", "c(end+1) = {1, 2};", "c"},
      {"c = {1, 'a'};", "c(end+1) = 5;", "c"},
      {"c{1} = 1; c{2} = 2; l = {1, 2};", "c{3} = l{:};", "c"},
      {"s.f = 1; s(2).f = 2; l = {1, 2};", "s(3).f = l{:};", "s"},
  };
  for (const GrowthCase& c : kCases) {
    SCOPED_TRACE(std::string(c.setup) + " " + c.text);
    StartFixtureEngine();
    ASSERT_EQ(Run(c.setup), kOk) << errors;
    const BlockImage before = Image(c.name);
    EXPECT_NE(Run(c.text), kOk);
    EXPECT_NE(errors, "");
    EXPECT_EQ(Image(c.name), before);
    ExpectTiled({c.name});
  }
}

// ---------------------------------------------------------------------------
// Growth across a move of the block and a saved state.

TEST_F(GrowthTest, GrowthGoesOnAfterTheBlockMovesOrTheStateIsLoaded) {
  struct Case {
    const char* what;
    bool save;  // else the block moves
    size_t scale;
  };
  const Case kCases[] = {
      {"moved, same size", false, 1},
      {"moved and grown", false, 2},
      {"saved and loaded", true, 1},
      {"loaded into a larger block", true, 2},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    block.assign(16 * 1024, 0);
    StartFixtureEngine();
    // y lies after x and t.a before t.b, so both must move or spread to grow.
    // The list's count is known from its last append when the block moves.
    ASSERT_EQ(Run("x = []; t.a = []; t.b = 'end'; c = {}; for k = 1:300, x(end+1) = k; t.a(k) = k; end; "
                  "for k = 1:300, c{end+1} = k; end; y = 7;"),
              kOk)
        << errors;
    if (c.save)
      SaveAndLoad(block.size() * c.scale);
    else
      MoveBlock(block.size() * c.scale);
    ASSERT_FALSE(HasFatalFailure());
    ExpectTiled({"x", "t", "y", "c"});
    ASSERT_EQ(Run("for k = 301:600, x(end+1) = k; t.a(end+1) = k; c{end+1} = k; end"), kOk) << errors;
    for (int k = 601; k <= 700; ++k) ASSERT_EQ(Run(Step("x(#) = #; t.a(end+1) = #; c(#) = {#};", k)), kOk) << errors;
    ASSERT_EQ(Run("bad = 0; for q = 1:700, if c{q} ~= q, bad = q; end, end, last = c{end};"), kOk) << errors;
    EXPECT_EQ(BaseScalar("bad"), 0);
    EXPECT_EQ(BaseScalar("last"), 700);
    for (int field : {-1, 0}) {
      const Elements e = Read(field < 0 ? "x" : "t", field);
      ASSERT_EQ(e.dims, (std::vector<int32_t>{1, 700}));
      for (int k = 1; k <= 700; ++k) ASSERT_EQ(e.re[k - 1], k) << k;
    }
    EXPECT_EQ(BaseScalar("y"), 7);
    ExpectTiled({"x", "t", "y", "c"});
  }
}

// ---------------------------------------------------------------------------
// Interleaved growth.

// Two values grown in turn take each other's spare room; each ends exact.
TEST_F(GrowthTest, InterleavedGrowthsKeepBothValuesExact) {
  struct Case {
    const char* text;  // x and y, or fields a and b of s, to k = 1..n
    int rows;          // of each grown value
    bool complex;
  };
  const Case kCases[] = {
      {"x = []; y = []; for k = 1:n, x(end+1) = k; y(end+1) = -k; end", 1, false},
      {"x = []; y = []; for k = 1:n, x(k) = k; y(1, k) = -k; end", 1, false},
      {"x = [1; 1]; y = [-1; -1]; for k = 2:n, x(:, end+1) = [k; k]; y(:, k) = -k; end", 2, false},
      {"x = []; y = []; for k = 1:n, x(end+1) = k + k .* 1i; y(end+1) = -k - k .* 1i; end", 1, true},
      {"x = int32([]); y = int32([]); for k = 1:n, x(end+1) = k; y(end+1) = -k; end", 1, false},
      {"x = int16([1; 1]); y = int16([-1; -1]); for k = 2:n, x(:, k) = k; y(:, end+1) = [-k; -k]; end", 2, false},
      {"s.a = []; s.b = []; s.c = 'end'; for k = 1:n, s.a(end+1) = k; s.b(end+1) = -k; end", 1, false},
  };
  const int n = 400;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    StartFixtureEngine();
    ASSERT_EQ(Run("n = " + std::to_string(n) + "; " + c.text), kOk) << errors;
    const bool fields = std::string(c.text).starts_with("s.");
    for (int which = 0; which < 2; ++which) {
      const Elements e = fields ? Read("s", which) : Read(which == 0 ? "x" : "y");
      const double sign = which == 0 ? 1 : -1;
      ASSERT_EQ(e.dims, (std::vector<int32_t>{c.rows, n}));
      ASSERT_EQ(e.im.size(), c.complex ? e.re.size() : 0u);
      for (int q = 0; q < c.rows * n; ++q) {
        ASSERT_EQ(e.re[q], sign * (q % n + 1)) << which << " element " << q;
        if (c.complex) {
          ASSERT_EQ(e.im[q], sign * (q % n + 1)) << which << " element " << q;
        }
      }
    }
    if (fields) {
      ASSERT_EQ(Run("z = s.c;"), kOk) << errors;
      EXPECT_EQ(Read("z").re, (std::vector<double>{'e', 'n', 'd'}));
    }
    ExpectTiled(fields ? std::initializer_list<const char*>{"s"} : std::initializer_list<const char*>{"x", "y"});
  }
}

// ---------------------------------------------------------------------------
// Amortised growth.

class AmortisedGrowthTest : public GrowthTest {
 protected:
  AmortisedGrowthTest() : GrowthTest(256 * 1024) {}
};

// Grown by one element per command, a value's block moves about log(n)
// times, not once per step: its slot names another block only on a move.
// Alone at the heap's end a value would only ever extend; y, grown in the
// same command, comes to lie after it, so it must really move. A y built
// anew at each step by concatenation takes the first free block that fits,
// which must not be the room kept for x.
TEST_F(AmortisedGrowthTest, AValueGrownOneElementAtATimeMovesRarely) {
  const GrowthCase kCases[] = {
      {"x = [];", "x(end+1) = #;", "x"},
      {"x = [];", "x(#) = #;", "x"},
      {"x = [];", "x(1, end+1) = #;", "x"},
      {"x = [1 1];", "x(end+1, :) = [# #];", "x"},
      {"x = [1; 1];", "x(:, end+1) = [#; #];", "x"},
      {"x = [];", "x(end+1) = #i;", "x"},
      {"x = int32([]);", "x(end+1) = #;", "x"},
      {"x = '';", "x(end+1) = 'a';", "x"},
      {"s.a = []; s.b = 'tail';", "s.a(end+1) = #;", "s"},
      {"c = {};", "c{end+1} = #;", "c"},
      {"c = {};", "c(#) = {#};", "c"},
      {"c{1} = 0;", "c{# + 1} = #;", "c"},
      {"s.a = {}; s.b = 'tail';", "s.a{end+1} = #;", "s"},
      {"s.f = 0;", "s(# + 1).f = #;", "s"},
  };
  const int n = 2000;
  for (const char* companion : {" y(end+1) = -#;", " y = [y #];"})
    for (const GrowthCase& c : kCases) {
      SCOPED_TRACE(std::string(c.text) + companion);
      StartFixtureEngine();
      ASSERT_EQ(Run(std::string(c.setup) + " y = [];"), kOk) << errors;
      int moves = 0;
      int32_t at = BaseVariableValue(c.name);
      for (int k = 1; k <= n; ++k) {
        ASSERT_EQ(Run(Step(std::string(c.text) + companion, k)), kOk) << k << ": " << errors;
        const int32_t now = BaseVariableValue(c.name);
        moves += now != at;
        at = now;
      }
      EXPECT_LT(moves, 40);
      ExpectTiled({c.name});
    }
}

}  // namespace
