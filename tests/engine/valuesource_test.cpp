// Values written as source text: each generated value read back through a
// command line must be the same value, bit for bit; the listing of a scope's
// variables, chunked writes to a descriptor and breaks between lines.
#include <random>
#include <string>
#include <vector>

#include "engine/context.h"
#include "engine/frames.h"
#include "engine/registry.h"
#include "stack_fixture.h"

namespace {

// A test class of native objects holding one double: "+dump" writes them as
// a call of their constructor; the second class answers through "+wdump".
StatusCode MakeObject(EngineContext* ctx, int nargin, int, void*) {
  double x = 0;
  if (StatusCode st = GetRealScalarArg(ctx, 0, &x); st != kOk) return ReportedStatus(st);
  void* payload = nullptr;
  if (StatusCode st = PushNativeObject(ctx, sizeof x, &payload); st != kOk) return st;
  std::memcpy(payload, &x, sizeof x);
  return DropArgsUnderResults(ctx, 1, nargin);
}

double TopObjectValue(EngineContext* ctx) {
  double x = 0;
  std::memcpy(&x, DataAt(ctx, 0), sizeof x);
  return x;
}

std::string ObjectText(const char* maker, double x) {
  char digits[40];
  std::snprintf(digits, sizeof digits, "%.17g", x);
  return std::string(maker) + "(" + digits + ")";
}

StatusCode DumpNarrow(EngineContext* ctx, char* buffer, int32_t room, int32_t* length, void*) {
  const std::string text = ObjectText("narrowobj", TopObjectValue(ctx));
  if (static_cast<int32_t>(text.size()) > room) return kDataStackFull;
  std::memcpy(buffer, text.data(), text.size());
  *length = static_cast<int32_t>(text.size());
  PopValue(ctx);
  return kOk;
}

StatusCode DumpWide(EngineContext* ctx, uint16_t* buffer, int32_t room, int32_t* length, void*) {
  const std::string text = ObjectText("wideobj", TopObjectValue(ctx));
  if (static_cast<int32_t>(text.size()) > room) return kDataStackFull;
  for (size_t k = 0; k < text.size(); ++k) buffer[k] = static_cast<uint8_t>(text[k]);
  *length = static_cast<int32_t>(text.size());
  PopValue(ctx);
  return kOk;
}

StatusCode ListNative(EngineContext* ctx, int, int, void*) { return ListVariables(ctx, 1, true); }

NativeFunctionRecord Rec(NativeHandler h, const char* name, int32_t kind, uint8_t minIn, uint8_t maxIn, uint8_t maxOut) {
  NativeFunctionRecord r{};
  r.handler = h;
  r.kind = kind;
  std::strncpy(r.name, name, sizeof r.name - 1);
  r.minInputs = minIn;
  r.maxInputs = maxIn;
  r.maxOutputs = maxOut;
  return r;
}

const NativeFunctionRecord kTestNatives[] = {
    Rec(nullptr, "!test", 0, 0, 0, 0),
    Rec(&DumpvarNative, "dumpvar", 0, 1, 3, 1),
    Rec(&MakeObject, "narrowobj", -1, 1, 1, 1),
    Rec(AsNativeHandler(&DumpNarrow), "+dump", 1, 0, 0, 0),
    Rec(&MakeObject, "wideobj", -2, 1, 1, 1),
    Rec(AsNativeHandler(&DumpWide), "+wdump", 2, 0, 0, 0),
    Rec(&MakeObject, "plainobj", -3, 1, 1, 1),
    Rec(&ListNative, "listvars", 0, 0, 0, 0),
    NativeFunctionRecord{},
};

// 16-bit text as UTF-8, the charset the test engine reads its commands in.
std::string ToUtf8(const std::u16string& text) {
  std::string s;
  for (char16_t ch : text) {
    if (ch < 0x80) {
      s += static_cast<char>(ch);
    } else if (ch < 0x800) {
      s += static_cast<char>(0xC0 | (ch >> 6));
      s += static_cast<char>(0x80 | (ch & 0x3F));
    } else {
      s += static_cast<char>(0xE0 | (ch >> 12));
      s += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
      s += static_cast<char>(0x80 | (ch & 0x3F));
    }
  }
  return s;
}

class ValueSourceTest : public StackFixture {
 protected:
  ValueSourceTest() : StackFixture(EngineSetup{.blockCells = 256 * 1024, .messages = true}) {}

  void SetUp() override {
    StackFixture::SetUp();
    ASSERT_EQ(InstallNativeLibrary(ctx, kTestNatives, false), kOk);
    SetTextCharset(ctx, 'u');
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  }

  // The top value's text (the value stays), or the writer's failure.
  StatusCode TextOfTop(std::u16string* text) {
    if (StatusCode st = DuplicateValues(ctx, 0, 1); st != kOk) return st;
    std::vector<uint16_t> buffer(1 << 20);
    int64_t length = 0;
    const StatusCode st = WriteValueAsSource(ctx, buffer.data(), static_cast<int64_t>(buffer.size()), &length, -1,
                                             nullptr, -1);
    if (st != kOk) {
      PopValue(ctx);
      return st;
    }
    text->assign(buffer.begin(), buffer.begin() + length);
    return kOk;
  }

  // The value of a base-frame variable pushed on top.
  void PushVariable(const std::string& name) {
    const int32_t value = BaseVariableValue(name);
    ASSERT_GT(value, 0) << name;
    const ValueDescriptor d = VariableDescriptor(ctx, value);
    Cell* data = nullptr;
    ASSERT_EQ(::PushValue(ctx, d.kind, d.cells, d.extra, Room::kStrict, &data), kOk);
    if (d.cells > 0) std::memcpy(data, ctx->heapBase + value + kVariableHeaderCells, int64_t{d.cells} * sizeof(Cell));
  }

  // Writes the top value, evaluates the text into a variable and compares
  // the two; the value is popped.
  void ExpectRoundTrip(const std::string& what) {
    std::u16string text;
    ASSERT_EQ(TextOfTop(&text), kOk) << what;
    const std::string source = ToUtf8(text);
    const ValueDescriptor want = Top();
    std::vector<Cell> cells(TopData(ctx), TopData(ctx) + want.cells);
    PopValue(ctx);
    ASSERT_EQ(Command("back__ = " + source + ";"), kOk) << what << "\n" << source;
    PushVariable("back__");
    const ValueDescriptor got = Top();
    EXPECT_TRUE(got.kind == want.kind && got.cells == want.cells && got.extra == want.extra)
        << what << "\n" << source << "\nkind " << got.kind << " cells " << got.cells << " extra " << got.extra;
    if (got.cells == want.cells && want.cells > 0) {
      EXPECT_EQ(std::memcmp(TopData(ctx), cells.data(), cells.size() * sizeof(Cell)), 0) << what << "\n" << source;
    }
    PopValue(ctx);
  }

  std::mt19937_64 rng{20261211};
  int Pick(int n) { return static_cast<int>(rng() % static_cast<uint64_t>(n)); }

  double PickDouble() {
    static const double kPool[] = {0.0, 1.0, -1.0, 2.0, 0.1, 1.0 / 3, 1.0000001, 1e20, -2.5e-300, 5e-324,
                                   std::numeric_limits<double>::max(), std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity(), std::nan(""), 123456.0, -0.0};
    if (Pick(4) == 0) {
      double x = 0;
      do {
        const uint64_t bits = rng();
        std::memcpy(&x, &bits, sizeof x);
      } while (!std::isfinite(x));
      return x;
    }
    if (Pick(3) == 0) return Pick(7) + 1.0;
    return kPool[Pick(sizeof kPool / sizeof kPool[0])];
  }

  // Dimensions of a small array: empty, scalar, row, matrix or N-d.
  int PickDims(int32_t* dims) {
    switch (Pick(6)) {
      case 0:
        dims[0] = dims[1] = 0;
        return 2;
      case 1:
        dims[0] = dims[1] = 1;
        return 2;
      case 2:
        dims[0] = 1, dims[1] = 1 + Pick(14);
        return 2;
      case 3:
        dims[0] = 2 + Pick(2), dims[1] = 1 + Pick(5);
        return 2;
      default:
        dims[0] = 1 + Pick(2), dims[1] = 2, dims[2] = 2 + Pick(2);
        return 3;
    }
  }

  static int64_t Count(const int32_t* dims, int nd) {
    int64_t n = 1;
    for (int k = 0; k < nd; ++k) n *= dims[k];
    return n;
  }

  // Fills a row with runs now and then, so that the compressed forms occur.
  template <class T, class Gen>
  void Fill(T* out, int64_t n, Gen gen) {
    for (int64_t k = 0; k < n;) {
      const T v = gen();
      const int64_t run = Pick(3) == 0 ? 1 + Pick(7) : 1;
      const bool counting = Pick(4) == 0;
      for (int64_t j = 0; j < run && k < n; ++j, ++k)
        out[k] = counting && std::is_floating_point_v<T> ? static_cast<T>(v + static_cast<T>(j)) : v;
    }
  }

  void PushArrayOfKind(int kind) {
    int32_t dims[3];
    const int nd = PickDims(dims);
    const int64_t n = Count(dims, nd);
    switch (kind) {
      case 0: {  // double, real or complex
        double *re = nullptr, *im = nullptr;
        const bool complex = Pick(3) == 0;
        ASSERT_EQ(PushDoubleArray(ctx, nd, dims, &re, complex ? &im : nullptr), kOk);
        Fill(re, n, [&] { return PickDouble(); });
        if (complex) {
          const int mode = Pick(4);  // all zero, tiny, non-finite, any
          Fill(im, n, [&] {
            if (mode == 0) return 0.0;
            if (mode == 1) return 1e-300;
            if (mode == 2) return Pick(2) ? std::nan("") : -std::numeric_limits<double>::infinity();
            return PickDouble();
          });
        }
        break;
      }
      case 1: {  // single
        float *re = nullptr, *im = nullptr;
        const bool complex = Pick(4) == 0;
        ASSERT_EQ(PushSingleArray(ctx, nd, dims, &re, complex ? &im : nullptr), kOk);
        Fill(re, n, [&] { return static_cast<float>(PickDouble()); });
        if (complex) Fill(im, n, [&] { return static_cast<float>(Pick(3) - 1) * 0.75f; });
        break;
      }
      case 2: {  // integers at their extremes
        static const int kBytes[] = {1, 2, 4, 8};
        const int bytes = kBytes[Pick(4)];
        const bool isUnsigned = Pick(2) == 0;
        void* data = nullptr;
        ASSERT_EQ(PushIntegerArray(ctx, nd, dims, bytes, isUnsigned, &data), kOk);
        auto* raw = static_cast<uint8_t*>(data);
        for (int64_t k = 0; k < n; ++k) {
          uint64_t v = 0;
          switch (Pick(5)) {
            case 0:
              v = 0;
              break;
            case 1:
              v = 1;
              break;
            case 2:  // the largest
              v = isUnsigned ? ~uint64_t{0} : (~uint64_t{0} >> (65 - 8 * bytes));
              break;
            case 3:  // the smallest signed
              v = isUnsigned ? 0 : uint64_t{1} << (8 * bytes - 1);
              break;
            default:
              v = rng();
          }
          std::memcpy(raw + k * bytes, &v, bytes);
        }
        break;
      }
      case 3: {  // logical
        uint8_t* data = nullptr;
        ASSERT_EQ(PushLogicalArray(ctx, nd, dims, &data), kOk);
        Fill(data, n, [&] { return static_cast<uint8_t>(Pick(2)); });
        break;
      }
      default: {  // char: escapes, controls, codes above 127
        uint16_t* data = nullptr;
        ASSERT_EQ(PushCharArray(ctx, nd, dims, &data), kOk);
        static const uint16_t kCodes[] = {'a', 'Z', ' ', '\'', '\\', 7, 8, 9, 10, 11, 12, 13, 1, 31, 127, 128, 233, 0x263A};
        Fill(data, n, [&] { return kCodes[Pick(sizeof kCodes / sizeof kCodes[0])]; });
      }
    }
  }

  // The function values and objects, made by commands and kept in variables.
  void MakeSpecials() {
    ASSERT_EQ(Command("k__ = [1,2]; f1__ = inline('x^2+1'); f2__ = @(x) x + k__; f3__ = @sin;"
                      "c1__ = class(struct('a',1,'b','t'),'point'); o1__ = narrowobj(2.5); o2__ = wideobj(-1e-300);"
                      "sa1__ = structarray('p', {1, 'x', {2}}, 'q', {[], int8(3), @cos});"
                      "sa2__ = structarray('u', reshape({1, 'a', {}, 2.5}, [2, 2]));"),
              kOk);
  }

  void PushRandomValue(int depth) {
    const int kind = Pick(depth < 3 ? 12 : 6);
    if (kind < 5) return PushArrayOfKind(kind);
    if (kind == 5) {
      static const char* kSpecials[] = {"f1__", "f2__", "f3__", "c1__", "o1__", "o2__"};
      return PushVariable(kSpecials[Pick(6)]);
    }
    const int n = Pick(4);
    for (int k = 0; k < n; ++k) ASSERT_NO_FATAL_FAILURE(PushRandomValue(depth + 1));
    switch (kind) {
      case 6:
      case 7:
        ASSERT_EQ(MakeListFromValues(ctx, n, false, nullptr, 0), kOk);
        break;
      case 8: {  // cell array
        ASSERT_EQ(MakeListFromValues(ctx, n, false, nullptr, 0), kOk);
        const int32_t shape[] = {n == 0 ? 0 : 1, n};
        if (n > 0) {
          ASSERT_EQ(ReshapeTopCellArray(ctx, 2, shape), kOk);
        }
        break;
      }
      case 9: {  // structure: its fields appended one by one
        for (int k = 0; k < n; ++k) PopValue(ctx);
        ASSERT_EQ(MakeListFromValues(ctx, 0, false, "s", 1), kOk);
        for (int k = 0; k < n; ++k) {
          ASSERT_NO_FATAL_FAILURE(PushRandomValue(depth + 1));
          const std::string name = "f" + std::to_string(k);
          ASSERT_EQ(MakeListFromValues(ctx, 1, true, name.c_str(), static_cast<int>(name.size())), kOk);
        }
        break;
      }
      default:  // structure arrays, made by a command
        for (int k = 0; k < n; ++k) PopValue(ctx);
        PushVariable(Pick(2) ? "sa1__" : "sa2__");
    }
  }
};

TEST_F(ValueSourceTest, GeneratedValuesReadBackAsTheSameValue) {
  ASSERT_NO_FATAL_FAILURE(MakeSpecials());
  for (int i = 0; i < 400; ++i) {
    const int32_t mark = ctx->descLength;
    ASSERT_NO_FATAL_FAILURE(PushRandomValue(0));
    ASSERT_EQ(ctx->descLength, mark + 3);
    ASSERT_NO_FATAL_FAILURE(ExpectRoundTrip("value " + std::to_string(i)));
  }
}

TEST_F(ValueSourceTest, NestingReadsBackToThirtyLevelsAndFailsBeyond) {
  ASSERT_EQ(Command("s__ = 1; for k = 1:30, s__ = struct('a', s__); end"), kOk);
  PushVariable("s__");
  ExpectRoundTrip("30 levels");
  ASSERT_EQ(Command("s__ = struct('a', s__);"), kOk);
  PushVariable("s__");
  const Snapshot before = Take();
  std::u16string text;
  EXPECT_EQ(TextOfTop(&text), kObjTooLarge);
  EXPECT_TRUE(Take() == before);
}

TEST_F(ValueSourceTest, ObjectWithoutDumpHookIsRefused) {
  std::string out;
  CaptureDescriptor(1, &out);
  ASSERT_EQ(Command("p__ = plainobj(1);"), kOk);
  PushVariable("p__");
  std::u16string text;
  EXPECT_EQ(TextOfTop(&text), kWrongType);
  EXPECT_EQ(Command("t__ = dumpvar({1, p__});"), kWrongType);
  EXPECT_EQ(BaseVariableValue("t__"), 0);
}

// A text longer than the buffer reaches the descriptor in several flushes,
// the same text as the string form.
TEST_F(ValueSourceTest, ChunkedDescriptorWritesGiveTheStringText) {
  std::string out;
  CaptureDescriptor(1, &out);
  ASSERT_EQ(Command("v__ = {(1:40)/7, 'text', struct('a', {{1, 2}})};"), kOk);
  PushVariable("v__");
  std::u16string text;
  ASSERT_EQ(TextOfTop(&text), kOk);
  uint16_t buffer[64];
  ASSERT_EQ(WriteValueAsSource(ctx, buffer, 64, nullptr, 1, "v", 1), kOk);
  EXPECT_EQ(out, "v = " + ToUtf8(text) + ";\n");
  EXPECT_GT(out.size(), 3 * sizeof buffer / sizeof buffer[0]);
}

TEST_F(ValueSourceTest, SmallBufferDestinationFailsWithRoom) {
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  uint16_t buffer[60];
  EXPECT_EQ(WriteValueAsSource(ctx, buffer, 40, nullptr, -1, nullptr, -1), kDataStackFull);
  ASSERT_EQ(Command("v__ = (1:30)/7;"), kOk);
  PushVariable("v__");
  EXPECT_EQ(WriteValueAsSource(ctx, buffer, 60, nullptr, -1, nullptr, -1), kDataStackFull);
}

TEST_F(ValueSourceTest, BreakBetweenLinesEndsTheWriting) {
  std::string out;
  CaptureDescriptor(1, &out);
  int polls = 0;
  SetBreakPollCallback(
      ctx, [](void* data) { return ++*static_cast<int*>(data) >= 2; }, &polls);
  ASSERT_EQ(Command("v__ = {1, 2, 3, 4};"), kOk);
  PushVariable("v__");
  EXPECT_EQ(WriteValueAsSource(ctx, nullptr, 0, nullptr, 1, nullptr, -1), kHalted);
  EXPECT_EQ(out, "{1, ...\n2, ...\n");
}

TEST_F(ValueSourceTest, ListingDeclaresGlobals) {
  std::string out;
  CaptureDescriptor(1, &out);
  ASSERT_EQ(Command("function counted(x)\n global g\n g = 'shared';\n y = {x};\n listvars();"), kOk);
  ASSERT_EQ(Command("global g\na = 1;\nb = [];\nclear b\ncounted(2);"), kOk);
  EXPECT_EQ(out, "x = 2;\nglobal g\ng = 'shared';\ny = {2};\n");
  out.clear();
  ASSERT_EQ(ListVariables(ctx, 1, false), kOk);
  EXPECT_EQ(out, "g = 'shared';\na = 1;\n");
}

TEST_F(ValueSourceTest, ListingDeclaresPersistents) {
  std::string out;
  CaptureDescriptor(1, &out);
  SetLineInfoFlag(ctx, 1);  // a persistent's owner is found through the line markers
  ASSERT_EQ(Command("function kept()\n persistent n\n if isempty(n), n = 0; end\n n = n + 1;\n listvars();"), kOk);
  ASSERT_EQ(Command("kept();\nkept();"), kOk);
  EXPECT_EQ(out, "persistent n\nn = 1;\npersistent n\nn = 2;\n");
}

}  // namespace
