// Handler calls run for real: handlers compiled into library 0, an instance
// whose code words name them, and the special values, outputs, make handlers,
// busy and cancel paths, breaks and error texts seen from the host.
#include <cmath>
#include <map>

#include "tests/runtime/imagefixture.h"

namespace {

constexpr int32_t kA = 200, kB = 201, kC = 202, kD = 203, kE = 204;
constexpr int32_t kFirstFunction = 300;

// A test native that appends its argument's count of doubles to the open
// display list, as a plot body would, with 10001 when the list is full.
StatusCode AppendNative(EngineContext* ctx, int nargin, int, void* userData) {
  auto* call = static_cast<CallContextRecord*>(userData);
  RuntimeBlock* b = call->block;
  double n = 0;
  if (nargin != 1 || PopRealScalar(ctx, &n) != kOk) return kBadArg;
  if (b->currentList[0] < 0) return kBadContext;
  if (b->currentList[3] + n > b->currentList[2]) return 10001;
  double* at = RuntimeBlockStore(b) + b->currentList[1];
  for (int k = 0; k < static_cast<int>(n); ++k) at[b->currentList[3]++] = 1000.0 * (b->currentSubplot + 1) + k;
  return kOk;
}

StatusCode DebugStopNative(EngineContext*, int, int, void*) { return kDebugStop; }

// A clock the tests move by hand: each state keeps the time of its last reset.
double g_now = 0.0;
double FakeClock(void* state, int, int reset) {
  auto* start = static_cast<double*>(state);
  if (reset) *start = g_now;
  return g_now - *start;
}

struct Ticker {
  double step = 0.0;  // seconds the clock moves at every break test
  int calls = 0;
  int breakAfter = -1;
};
bool TickAndTest(void* data) {
  auto* t = static_cast<Ticker*>(data);
  g_now += t->step;
  ++t->calls;
  return t->breakAfter >= 0 && t->calls >= t->breakAfter;
}

class HandlerCallTest : public ::testing::Test {
 public:
  GrowingRuntime rt{int64_t{1} << 20};
  std::string errors;
  NativeFunctionRecord natives[6]{};
  CodeItemBuilder code;
  int32_t instance = 0;
  std::map<std::string, int32_t> functionIds;
  std::vector<std::pair<int32_t, double>> statusReports;

  int32_t baseStack = 0;

  void SetUp() override {
    natives[0].handler = AsNativeHandler(&Capture);
    natives[0].userData = this;
    std::strcpy(natives[0].name, "+write");
    natives[0].minInputs = 1;
    std::strcpy(natives[1].name, "!handlertest");
    natives[2] = {&AppendNative, nullptr, 0, "appendlist", 1, 1, 0, 0};
    natives[3] = {&DebugStopNative, nullptr, 0, "debugstop", 0, 0, 0, 0};
    natives[4] = {&ThreadNewNative, nullptr, 0, "threadnew", 1, kAnyCount, 0, 1};
    ASSERT_EQ(InstallRuntimeNativeLibrary(rt.block, natives), kOk);
    ASSERT_EQ(CreateInstance(rt.block, &instance), kOk);
    VariableStore* store = RuntimeVariableStore(rt.block);
    for (int32_t id : {kA, kB, kC, kD, kE}) ASSERT_EQ(AddVariableToSet(store, instance, id, 0), kOk);
    ASSERT_EQ(ResetVariableSetHistory(store, instance), kOk);
    NameTable* names = RuntimeNameTable(rt.block);
    const std::pair<int32_t, const char*> kNames[] = {{kA, "a"}, {kB, "b"}, {kC, "c"}, {kD, "d"}, {kE, "e"}};
    for (const auto& [id, name] : kNames) ASSERT_EQ(AddName(names, id, name, 0), kOk);
    code.Head(instance, 0, "app");
    baseStack = StackLength();
  }

  [[nodiscard]] static StatusCode Capture(EngineContext*, int32_t descriptor, const char* bytes, int32_t length,
                                          void* self) {
    if (descriptor != kStderrDescriptor) return kBadFileId;
    static_cast<HandlerCallTest*>(self)->errors.append(bytes, length);
    return kOk;
  }

  // Compiles the function into library 0 and names it; answers its id.
  int32_t Function(const std::string& name, const std::string& source) {
    const int32_t id = kFirstFunction + static_cast<int32_t>(functionIds.size());
    functionIds[name] = id;
    EXPECT_EQ(AddName(RuntimeNameTable(rt.block), id, name.c_str(), 0), kOk);
    EXPECT_EQ(DeclareAndCompileFunction(rt.ctx(), name.c_str(), nullptr, 0, source.data(),
                                        static_cast<int32_t>(source.size()), 1, false),
              kOk)
        << name;
    return id;
  }
  // A handler item; answers its payload's offset from the head.
  int32_t Handler(int32_t kind, const CodeItemBuilder::HandlerPayload& h) {
    return code.FromHead(code.Handler(kind, h)) + 2;
  }
  void Load() {
    const std::vector<int32_t>& w = code.Words();
    std::memcpy(RuntimeCodeWords(rt.block), w.data(), w.size() * 4);
    rt.block->codeWordsUsed = static_cast<int32_t>(w.size());
  }
  StatusCode Call(int32_t payload, bool eventData = false, int32_t subplot = -1, int32_t key = 0,
                  HandlerTexts* texts = nullptr, bool retry = true) {
    return CallApplicationHandler(&rt.block, instance, payload, false, retry, false, subplot, 19, eventData, key, 1,
                                  texts);
  }
  // The variable's value as a real matrix, empty when undefined or empty.
  std::vector<double> Value(int32_t id, int32_t back = 0) {
    int32_t cells = 0;
    const double* data = nullptr;
    EXPECT_EQ(ReadVariable(RuntimeVariableStore(rt.block), instance, back, id, &cells, &data), kOk);
    if (cells <= 0) return {};
    EXPECT_EQ(PushCopiedValue(rt.ctx(), data), kOk);
    return PopReal();
  }
  std::vector<double> PopReal() {
    int32_t m = 0, n = 0;
    double* re = nullptr;
    double* im = nullptr;
    std::vector<double> v;
    if (GetDoubleMatrixArg(rt.ctx(), 0, &m, &n, &re, &im) == kOk) {
      for (int64_t k = 0; k < int64_t{m} * n; ++k) v.push_back(re[k]);
      if (im != nullptr)
        for (int64_t k = 0; k < int64_t{m} * n; ++k) v.push_back(im[k]);
    }
    EXPECT_EQ(DropArgsUnderResults(rt.ctx(), 0, 1), kOk);
    return v;
  }
  std::string PopText() {
    uint8_t* bytes = nullptr;
    int64_t n = 0;
    std::string s;
    if (EncodeCharArg(rt.ctx(), 0, false, &bytes, &n) == kOk) s.assign(reinterpret_cast<char*>(bytes), n);
    EXPECT_EQ(DropArgsUnderResults(rt.ctx(), 0, 1), kOk);
    return s;
  }
  bool Defined(int32_t id) { return IsVariableDefined(RuntimeVariableStore(rt.block), instance, 0, id); }
  void SetVariable(int32_t id, double v) {
    ASSERT_EQ(PushRealScalar(rt.ctx(), v), kOk);
    ASSERT_EQ(StoreHandlerOutput(rt.block, instance, false, id), kOk);
    ASSERT_EQ(DropArgsUnderResults(rt.ctx(), 0, 1), kOk);
  }
  // Values left on the stack by the calls.
  int32_t StackValues() { return (StackLength() - baseStack) / 3; }
  int32_t StackLength() {
    int32_t length = 0;
    EXPECT_EQ(GetDescriptorStackLength(rt.ctx(), &length), kOk);
    return length;
  }
};

// ---------------------------------------------------------------------------
// Special values from the event record.

TEST_F(HandlerCallTest, SpecialValuesFollowTheEventsAvailability) {
  const double nan = std::nan("");
  const double inf = INFINITY;
  struct Case {
    const char* what;
    uint32_t flags;
    int32_t id;
    std::vector<double> want;  // real parts, then imaginary parts when complex
  };
  const Case kCases[] = {
      {"_x without x", 0x08, kSpecialX, {}},
      {"_x", 0x01, kSpecialX, {2}},
      {"_z real", 0x09, kSpecialZ, {2, 0.5}},
      {"_z without y", 0x01, kSpecialZ, {}},
      {"_p0 x0 only", 0x02, kSpecialP0, {4}},
      {"_p0 x0 y0", 0x12, kSpecialP0, {4, 5}},
      {"_p0 x0 y0 z0", 0x52, kSpecialP0, {4, 5, 6}},
      {"_p0 without x0", 0x50, kSpecialP0, {}},
      {"_p1 x1 y1 z1", 0xA4, kSpecialP1, {7, 8, 9}},
      {"_kx", 0x05, kSpecialKx, {3.5}},
      {"_dx from the points", 0x05, kSpecialDx, {5}},
      {"_dx given", 0x4005, kSpecialDx, {-1}},
      {"_dz given", 0x4000, kSpecialDz, {-1, -2}},
      {"_q one", 0x100, kSpecialQ, {0.25}},
      {"_q pair", 0x300, kSpecialQ, {0.25, 0.75}},
      {"_m", 0x400, kSpecialM, {1}},
      {"_id", 0x800, kSpecialId, {12}},
      {"_ix without its bit", 0x800, kSpecialIx, {}},
      {"_theta", 0x09, kSpecialTheta, {std::atan2(0.5, 2)}},
  };
  for (const Case& c : kCases) {
    EventRecord& e = rt.block->event;
    e = EventRecord{};
    e.x = 2, e.y = 0.5, e.x0 = 4, e.y0 = 5, e.z0 = 6, e.x1 = 7, e.y1 = 8, e.z1 = 9;
    e.dx = -1, e.dy = -2, e.q = 0.25, e.q2 = 0.75, e.element = 12, e.item = 3, e.index = 4;
    e.flags = c.flags;
    ASSERT_EQ(PushHandlerSpecialValue(rt.block, instance, c.id, false), kOk) << c.what;
    std::vector<double> got = PopReal();
    if (c.id == kSpecialM) got = {1};  // a logical: only that it pushed
    EXPECT_EQ(got, c.want) << c.what;
  }
  // _kz at the origin: x1 / 0 with no imaginary part, NaN when y1 is not 0.
  const struct {
    double x1, y1;
    std::vector<double> want;
  } kOrigin[] = {{3, 0, {inf}}, {-3, 0, {-inf}}, {0, 2, {nan, nan}}};
  for (const auto& c : kOrigin) {
    EventRecord& e = rt.block->event;
    e = EventRecord{};
    e.x1 = c.x1, e.y1 = c.y1;
    e.flags = 0x2D;
    ASSERT_EQ(PushHandlerSpecialValue(rt.block, instance, kSpecialKz, false), kOk);
    const std::vector<double> got = PopReal();
    ASSERT_EQ(got.size(), c.want.size()) << c.x1 << " " << c.y1;
    for (size_t k = 0; k < got.size(); ++k)
      EXPECT_TRUE(std::isnan(c.want[k]) ? std::isnan(got[k]) : got[k] == c.want[k]) << c.x1 << " " << c.y1;
  }
  // Smith's division, both branches: (1 + 2i) / (3 + 4i) and (1 + 2i) / (4 + 3i).
  for (const auto& [x, y] : {std::pair{3.0, 4.0}, std::pair{4.0, 3.0}}) {
    rt.block->event = EventRecord{};
    rt.block->event.x = x, rt.block->event.y = y, rt.block->event.x1 = 1, rt.block->event.y1 = 2;
    rt.block->event.flags = 0x2D;
    ASSERT_EQ(PushHandlerSpecialValue(rt.block, instance, kSpecialKz, false), kOk);
    const std::vector<double> got = PopReal();
    const double d = x * x + y * y;
    ASSERT_EQ(got.size(), 2u);
    EXPECT_NEAR(got[0], (x + 2 * y) / d, 1e-15);
    EXPECT_NEAR(got[1], (2 * x - y) / d, 1e-15);
  }
}

// The inputs a handler sees: specials from the call, constants and variables.
TEST_F(HandlerCallTest, InputsReachTheHandlerAsTheCallGivesThem) {
  // Each handler turns its one input into text, so one output shows it.
  const int32_t show = Function("show",
                                "function t = show(v)\nif ischar(v), t = ['s:' v]; "
                                "elseif isempty(v), t = sprintf('e:%dx%d', size(v, 1), size(v, 2)); "
                                "else t = sprintf('%g ', v); end\n");
  struct Case {
    const char* what;
    int32_t input;
    bool eventData;
    int32_t subplot;
    int32_t key;
    const char* want;
  };
  const Case kCases[] = {
      {"_x in a menu handler", kSpecialX, false, -1, 0, "e:0x0"},
      {"_param without a subplot", kSpecialParam, false, -1, 0, "e:0x0"},
      {"_x in a draw handler without x", kSpecialX, true, 0, 0, "e:0x0"},
      {"_key left", kSpecialKey, false, -1, 0xF702, "s:left"},
      {"_key up", kSpecialKey, false, -1, 0xF700, "s:up"},
      {"_key right", kSpecialKey, false, -1, 0xF703, "s:right"},
      {"_key a", kSpecialKey, false, -1, 'a', "s:a"},
      {"_key none", kSpecialKey, false, -1, 0, "s:"},
      {"_fd", kSpecialFd, false, -1, 0, "1 "},
      {"constant 2^30 - 1", CodeItemBuilder::Constant((1 << 30) - 1), false, -1, 0, "1073741823 "},
      {"constant -2^30", CodeItemBuilder::Constant(-(1 << 30)), false, -1, 0, "-1073741824 "},
      {"constant 0", CodeItemBuilder::Constant(0), false, -1, 0, "0 "},
      {"undefined variable", kD, false, -1, 0, "e:0x0"},
  };
  std::vector<int32_t> payloads;
  for (const Case& c : kCases) payloads.push_back(Handler(kItemMenuItem, {show, {c.input}, {kE}}));
  Load();
  for (size_t i = 0; i < std::size(kCases); ++i) {
    const Case& c = kCases[i];
    ASSERT_EQ(Call(payloads[i], c.eventData, c.subplot, c.key), kOk) << c.what << errors;
    int32_t cells = 0;
    const double* data = nullptr;
    ASSERT_EQ(ReadVariable(RuntimeVariableStore(rt.block), instance, 0, kE, &cells, &data), kOk);
    ASSERT_EQ(PushCopiedValue(rt.ctx(), data), kOk);
    EXPECT_EQ(PopText(), c.want) << c.what;
  }
  EXPECT_EQ(StackValues(), 0);
  EXPECT_EQ(rt.block->event.kind, 0);
  EXPECT_EQ(rt.block->currentSubplot, -1);
}

TEST_F(HandlerCallTest, WidthAndHeightCountDeviceUnits) {
  const int32_t pass = Function("pass", "function [a, b] = pass(w, h)\na = w; b = h;\n");
  const int32_t payload = Handler(kItemMenuItem, {pass, {kSpecialWidth, kSpecialHeight}, {kA, kB}});
  Load();
  InstanceRecord* r = FindInstanceRecord(rt.block, instance);
  r->box[0] = 10, r->box[1] = 110, r->box[2] = 80, r->box[3] = 20;
  DrawingDevice device{};
  device.d4 = 0.5;
  device.d5 = 2;
  SetDrawingDevice(rt.block, &device);
  ASSERT_EQ(Call(payload), kOk) << errors;
  EXPECT_EQ(Value(kA), std::vector<double>{50});
  EXPECT_EQ(Value(kB), std::vector<double>{120});
  SetDrawingDevice(rt.block, nullptr);
  ASSERT_EQ(Call(payload), kOk) << errors;
  EXPECT_EQ(Value(kA), std::vector<double>{100});
  EXPECT_EQ(Value(kB), std::vector<double>{60});
}

// A negative function calls nothing: outputs take the inputs, empty beyond them.
TEST_F(HandlerCallTest, ANegativeFunctionPassesInputsToOutputs) {
  const int32_t copy = Handler(kItemMenuItem, {-1, {CodeItemBuilder::Constant(7)}, {kA, kB}});
  const int32_t drop = Handler(kItemMenuItem, {-1, {CodeItemBuilder::Constant(8), CodeItemBuilder::Constant(9)}, {kC}});
  Load();
  SetVariable(kB, 5);
  ASSERT_EQ(Call(copy), kOk) << errors;
  EXPECT_EQ(Value(kA), std::vector<double>{7});
  EXPECT_TRUE(Defined(kB));
  EXPECT_EQ(Value(kB), std::vector<double>{});
  // Outputs are taken from the top: the last input.
  ASSERT_EQ(Call(drop), kOk) << errors;
  EXPECT_EQ(Value(kC), std::vector<double>{9});
  EXPECT_EQ(StackValues(), 0);
}

// ---------------------------------------------------------------------------
// Special outputs.

TEST_F(HandlerCallTest, MessageCursorAndIdleOutputs) {
  const int32_t say = Function("say", "function [m, c, r] = say(t)\nm = t; c = false; r = 0.25;\n");
  const int32_t amount = Function("amount", "function a = amount\na = 3;\n");
  const int32_t msg = Handler(kItemMenuItem, {say, {kA}, {kSpecialMsg, kSpecialCursor, kSpecialIdleRate}});
  const int32_t idle = Handler(kItemMenuItem, {amount, {}, {kSpecialIdleAmount}});
  Load();
  struct Case {
    const char* text;
    int32_t size;
    bool withLength;
    const char* want;
  };
  const Case kCases[] = {
      {"hello", 16, false, "hello"},    {"hello", 4, false, "hel"}, {"line\rnext", 16, false, "line"},
      {"line\nnext", 16, true, "line"}, {"hello", 4, true, "hell"},
  };
  for (const Case& c : kCases) {
    ASSERT_EQ(PushStringFromBytes(rt.ctx(), -1, c.text), kOk);
    ASSERT_EQ(StoreHandlerOutput(rt.block, instance, false, kA), kOk);
    ASSERT_EQ(DropArgsUnderResults(rt.ctx(), 0, 1), kOk);
    char buffer[32];
    std::memset(buffer, 'x', sizeof buffer);
    int32_t length = -1;
    HandlerTexts texts;
    texts.message = buffer;
    texts.messageSize = c.size;
    texts.messageLength = c.withLength ? &length : nullptr;
    rt.block->elementCursor = 1;
    ASSERT_EQ(Call(msg, false, -1, 0, &texts), kOk) << errors;
    if (c.withLength) {
      EXPECT_EQ(std::string(buffer, static_cast<size_t>(length)), c.want) << c.text;
      EXPECT_EQ(buffer[length], 'x') << "no NUL with a length";
    } else {
      EXPECT_STREQ(buffer, c.want) << c.text;
    }
    EXPECT_EQ(rt.block->elementCursor, 0);
  }
  InstanceRecord* r = FindInstanceRecord(rt.block, instance);
  EXPECT_EQ(r->idleMode, 1);
  EXPECT_EQ(r->nextIdleTime, 0.25);
  ASSERT_EQ(Call(idle), kOk) << errors;
  EXPECT_EQ(r->idleMode, 2);
  EXPECT_EQ(r->nextIdleTime, 3);
}

TEST_F(HandlerCallTest, CopyAsTextOutputs) {
  const int32_t data = Function("data",
                                "function [x, t] = data(k)\nif k == 1, x = 'abc'; elseif k == 2, "
                                "x = [1 2.5; 3 1e20]; else x = (1:20) / 3; end\nt = 'my \"type\"';\n");
  const auto handler = [&](int32_t k, bool typed) {
    return Handler(kItemMenuItem, {data,
                                   {CodeItemBuilder::Constant(k)},
                                   typed ? std::vector<int32_t>{kSpecialXdata, kSpecialXdatatype}
                                         : std::vector<int32_t>{kSpecialXdata}});
  };
  const int32_t text = handler(1, false), matrix = handler(2, false), row = handler(3, false);
  const int32_t typed = handler(1, true);
  Load();
  const auto run = [&](int32_t payload, int32_t link, int32_t size) {
    char buffer[256] = {};
    int32_t length = 0;
    HandlerTexts texts;
    texts.link = link;
    texts.text = buffer;
    texts.textSize = size;
    texts.textLength = &length;
    // Growing the block cannot widen the caller's buffer.
    const StatusCode st = Call(payload, false, -1, 0, &texts, false);
    return std::pair{st, std::string(buffer, static_cast<size_t>(length))};
  };
  EXPECT_EQ(run(text, -1, 200), std::pair(kOk, std::string("abc"))) << errors;
  EXPECT_EQ(run(matrix, -1, 200), std::pair(kOk, std::string("1\t2.5\n3\t1e+20\n"))) << errors;
  const auto [st, written] = run(typed, 7, 200);
  EXPECT_EQ(st, kOk) << errors;
  EXPECT_EQ(written.rfind("%KV xdata \"my 'type'\"\n%KV link 01 07\n", 0), 0u) << written;
  EXPECT_NE(written.find("abc"), std::string::npos) << written;
  EXPECT_EQ(run(row, -1, 60).first, 10000) << "fewer than 50 bytes before a number";
  EXPECT_EQ(StackValues(), 0);
}

// ---------------------------------------------------------------------------
// Make handlers.

TEST_F(HandlerCallTest, MakeHandlersRunInDependencyOrderAndDependentsAreUndefined) {
  const int32_t twice = Function("twice", "function y = twice(x)\ny = 2 * x;\nglobal order; order = [order 2];\n");
  const int32_t plus = Function("plusone", "function y = plusone(x)\ny = x + 1;\nglobal order; order = [order 1];\n");
  const int32_t pass = Function("pass", "function y = pass(x)\ny = x;\n");
  // c is made from b, b from a; the handler reads c into d.
  Handler(kEventMake, {plus, {kB}, {kC}});
  Handler(kEventMake, {twice, {kA}, {kB}});
  const int32_t read = Handler(kItemMenuItem, {pass, {kC}, {kD}});
  const int32_t setA = Handler(kItemMenuItem, {pass, {CodeItemBuilder::Constant(5)}, {kA}});
  const int32_t order =
      Handler(kItemMenuItem, {Function("getorder", "function o = getorder\nglobal order; o = order;\n"), {}, {kE}});
  Load();
  ASSERT_EQ(RunCommand(rt.ctx(), "global order; order = [];"), kOk);
  // Without a: nothing can be made, c reads as undefined.
  ASSERT_EQ(Call(read), kOk) << errors;
  EXPECT_EQ(Value(kD), std::vector<double>{});
  ASSERT_EQ(Call(setA), kOk) << errors;
  ASSERT_EQ(Call(read), kOk) << errors;
  EXPECT_EQ(Value(kB), std::vector<double>{10});
  EXPECT_EQ(Value(kD), std::vector<double>{11});
  ASSERT_EQ(Call(order), kOk) << errors;
  EXPECT_EQ(Value(kE), (std::vector<double>{2, 1}));
  // Writing a undefines what was made from it, directly or not.
  ASSERT_EQ(Call(setA), kOk) << errors;
  EXPECT_FALSE(Defined(kB));
  EXPECT_FALSE(Defined(kC));
  EXPECT_TRUE(Defined(kD));
}

// ---------------------------------------------------------------------------
// Busy, cancel, breaks and failures.

TEST_F(HandlerCallTest, BusyAndCancelledCalls) {
  const int32_t set = Function("setone", "function y = setone\ny = 1;\n");
  const int32_t stop = Function("stopnow", "function y = stopnow\ny = 2;\ncancel();\n");
  const int32_t keep = Function("stopkeep", "function y = stopkeep\ny = 3;\ncancel(false);\n");
  const int32_t plain = Handler(kItemMenuItem, {set, {}, {kA}});
  const int32_t cancelled = Handler(kItemMenuItem, {stop, {}, {kA}});
  const int32_t kept = Handler(kItemMenuItem, {keep, {}, {kA}});
  Handler(kEventMake, {set, {}, {kB}});
  const int32_t needsMake = Handler(kItemMenuItem, {set, {kB}, {kC}});
  Load();
  // A call while another runs, as from a modal dialog, runs no code at all:
  // not even the make handler its input would need.
  rt.block->busy = 1;
  EXPECT_EQ(Call(plain), kCancelled);
  EXPECT_EQ(Call(needsMake), kCancelled);
  EXPECT_FALSE(Defined(kA));
  EXPECT_FALSE(Defined(kB));
  EXPECT_EQ(rt.block->busy, 1);
  rt.block->busy = 0;

  EXPECT_EQ(Call(cancelled), kCancelled);
  EXPECT_FALSE(Defined(kA));
  EXPECT_EQ(Call(kept), kOk) << errors;
  EXPECT_FALSE(Defined(kA)) << "no outputs after cancel(false)";
  EXPECT_TRUE(rt.block->callContext.statusFlags & kCallCancelled);
  EXPECT_EQ(rt.block->callContext.instance, 0);
  EXPECT_EQ(errors, "") << "a cancel is no error";
  EXPECT_EQ(rt.block->busy, 0);
  EXPECT_FALSE(IsAnyFunctionActive(rt.ctx()));
}

TEST_F(HandlerCallTest, RunningStatusIsReportedOnlyForLongCalls) {
  const int32_t spin = Function("spin", "function spin(n)\nk = 0;\nwhile k < n\nk = k + 1;\nend\n");
  const int32_t shortRun = Handler(kItemMenuItem, {spin, {CodeItemBuilder::Constant(30)}, {}});
  const int32_t longRun = Handler(kItemMenuItem, {spin, {CodeItemBuilder::Constant(80)}, {}});
  Load();
  std::vector<double> states(6, 0.0);
  SetTimeSource(rt.block, &FakeClock, states.data(), sizeof(double));
  Ticker ticker{0.01};
  SetBreakCheckCallback(rt.block, &TickAndTest, &ticker);
  SetRunningStatusCallback(
      rt.block,
      [](int32_t state, double seconds, void* self) {
        static_cast<HandlerCallTest*>(self)->statusReports.emplace_back(state, seconds);
      },
      this);
  SetBreakPollCallback(rt.ctx(), nullptr, nullptr);  // the clock moves once per check
  ASSERT_EQ(Call(shortRun), kOk) << errors;
  EXPECT_TRUE(statusReports.empty());
  ASSERT_EQ(Call(longRun), kOk) << errors;
  ASSERT_GE(statusReports.size(), 2u);
  EXPECT_EQ(statusReports.front().first, 1);
  EXPECT_GE(statusReports.front().second, 0.5);
  EXPECT_EQ(statusReports.back(), std::pair(0, 0.0));
  for (size_t k = 0; k + 1 < statusReports.size(); ++k) EXPECT_EQ(statusReports[k].first, 1);
}

TEST_F(HandlerCallTest, ABreakStopsTheHandlerWithError500) {
  const int32_t loop = Function("forever", "function y = forever\ny = 0;\nwhile true\ny = y + 1;\nend\n");
  const int32_t payload = Handler(kItemMenuItem, {loop, {}, {kA}});
  Load();
  Ticker ticker{0.0, 0, 5};
  SetBreakCheckCallback(rt.block, &TickAndTest, &ticker);
  // Only the runtime's own test may find the break: the engine's poll would stop with 501.
  SetBreakPollCallback(rt.ctx(), nullptr, nullptr);
  EXPECT_EQ(Call(payload), kSuspended);
  EXPECT_FALSE(Defined(kA));
  EXPECT_FALSE(IsAnyFunctionActive(rt.ctx()));
  EXPECT_EQ(StackValues(), 0);
  EXPECT_NE(errors, "");
  EXPECT_EQ(rt.block->busy, 0);
}

TEST_F(HandlerCallTest, FailuresArePrintedOnceAndLeaveTheEngineUsable) {
  const int32_t fail = Function("failing", "function y = failing\ny = 1;\nerror('handler went wrong');\n");
  const int32_t stop = Function("stopped", "function y = stopped\nx = 4;\ndebugstop();\ny = x;\n");
  const int32_t ok = Function("fine", "function y = fine\ny = 6;\n");
  const int32_t failing = Handler(kItemMenuItem, {fail, {}, {kA}});
  const int32_t stopped = Handler(kItemMenuItem, {stop, {}, {kA}});
  const int32_t fine = Handler(kItemMenuItem, {ok, {}, {kA}});
  const int32_t missing = Handler(kItemMenuItem, {999, {}, {kA}});
  const int32_t badInput = Handler(kItemMenuItem, {ok, {CodeItemBuilder::Constant(1), 150}, {kA}});
  Load();
  for (bool withBreakTest : {false, true}) {
    Ticker ticker;
    SetBreakCheckCallback(rt.block, withBreakTest ? &TickAndTest : nullptr, &ticker);
    errors.clear();
    const std::vector<double> before = Value(kA);
    EXPECT_NE(Call(failing), kOk);
    size_t first = errors.find("handler went wrong");
    ASSERT_NE(first, std::string::npos) << errors;
    EXPECT_EQ(errors.find("handler went wrong", first + 1), std::string::npos) << errors;
    EXPECT_EQ(Value(kA), before);

    errors.clear();
    EXPECT_EQ(Call(stopped), kDebugStop);
    EXPECT_NE(errors.find("Cannot step in KV handlers.\nLocal variables:\n"), std::string::npos) << errors;
    EXPECT_EQ(Call(missing), kVarNotInSet);
    EXPECT_EQ(Call(badInput), kVarNotInSet);
    EXPECT_EQ(StackValues(), 0) << "the inputs pushed before the failing one go";
    EXPECT_FALSE(IsAnyFunctionActive(rt.ctx()));
    EXPECT_EQ(Call(fine), kOk) << errors;
    EXPECT_EQ(Value(kA), std::vector<double>{6});
    EXPECT_EQ(StackValues(), 0);
  }
}

TEST_F(HandlerCallTest, ASandboxedInstanceIsRefusedHostNatives) {
  const int32_t probe = Function("probe", "function y = probe\ny = which('sin');\n");
  const int32_t payload = Handler(kItemMenuItem, {probe, {}, {kA}});
  Load();
  for (bool withBreakTest : {false, true}) {
    Ticker ticker;
    SetBreakCheckCallback(rt.block, withBreakTest ? &TickAndTest : nullptr, &ticker);
    FindInstanceRecord(rt.block, instance)->sandbox = 1;
    EXPECT_EQ(Call(payload), kSecViolation) << errors;
    FindInstanceRecord(rt.block, instance)->sandbox = 0;
    EXPECT_EQ(Call(payload), kOk) << errors;
  }
}

// ---------------------------------------------------------------------------
// Pasted data.

TEST_F(HandlerCallTest, PastedDataIsRunOnlyAsAPlainDataExpression) {
  struct Case {
    const char* text;
    int32_t id;
    StatusCode want;
    const char* type;
  };
  const Case kCases[] = {
      {"%KV xdata \"matrix\"\r\n[1 2; 3 4]", kSpecialXdatatype, kOk, "matrix"},
      {"%KV xdata \"matrix\"\r\n[1 2; 3 4]", kSpecialXdata, kOk, nullptr},
      {"plain words", kSpecialXdatatype, kOk, "text"},
      {"%KV xdata \"m\"\nsin(1)", kSpecialXdata, kUserError, nullptr},
  };
  for (const Case& c : kCases) {
    const StatusCode st = PushXdataInput(rt.block, c.id, c.text, static_cast<int32_t>(std::strlen(c.text)));
    EXPECT_EQ(st, c.want) << c.text;
    if (st != kOk) {
      EXPECT_EQ(StackValues(), 0) << c.text;
      EXPECT_FALSE(IsAnyFunctionActive(rt.ctx())) << c.text;
      continue;
    }
    if (c.type != nullptr) {
      EXPECT_EQ(PopText(), c.type);
    } else {
      EXPECT_EQ(PopReal(), (std::vector<double>{1, 2, 3, 4}));
    }
  }
  ASSERT_EQ(PushXdataInput(rt.block, kSpecialXdata, "plain words", 11), kOk);
  EXPECT_EQ(PopText(), "plain words");
}

// ---------------------------------------------------------------------------
// Error texts.

TEST_F(HandlerCallTest, RuntimeErrorTexts) {
  struct Case {
    bool block;
    StatusCode status;
    const char* want;
  };
  const Case kCases[] = {
      {true, 600, "Initialization error"},   {false, 600, "Initialization error"}, {false, 121, "RVO error 121"},
      {true, 10001, "Plot memory overflow"}, {true, 10999, "Error 10999"},
  };
  for (const Case& c : kCases)
    EXPECT_STREQ(FormatRuntimeErrorText(c.block ? rt.block : nullptr, c.status), c.want) << c.status;
  // Below 10000 the engine's text of the last error.
  EXPECT_NE(RunCommand(rt.ctx(), "error('my own words')"), kOk);
  EXPECT_NE(std::string(FormatRuntimeErrorText(rt.block, kUserError)).find("my own words"), std::string::npos);
  // A runtime error with a location names its line.
  const int32_t fail = Function("failing", "function failing\nx = 1;\nerror('x');\n");
  const int32_t payload = Handler(kItemMenuItem, {fail, {}, {}});
  Load();
  EXPECT_NE(Call(payload), kOk);
  EXPECT_STREQ(FormatRuntimeErrorText(rt.block, 10001), "Plot memory overflow (line 3)");
}

// ---------------------------------------------------------------------------
// Threads started by a handler run on in later slices.

TEST_F(HandlerCallTest, ASliceResumesAThreadAHandlerStarted) {
  Function("worker", "function worker\nglobal done; done = 1;\n");
  const int32_t start = Function("starter", "function starter\nglobal done; done = 0;\nthreadnew(@worker);\n");
  const int32_t payload = Handler(kItemMenuItem, {start, {}, {}});
  const int32_t read =
      Handler(kItemMenuItem, {Function("isdone", "function d = isdone\nglobal done; d = done;\n"), {}, {kA}});
  Load();
  ASSERT_EQ(Call(payload), kOk) << errors;
  ASSERT_EQ(Call(read), kOk) << errors;
  EXPECT_EQ(Value(kA), std::vector<double>{0}) << "the thread has not run yet";
  for (int k = 0; k < 10 && HasInterpreterThreads(rt.ctx()); ++k)
    ASSERT_EQ(RunInterpreterSlice(rt.block), kOk) << errors;
  EXPECT_FALSE(HasInterpreterThreads(rt.ctx()));
  ASSERT_EQ(Call(read), kOk) << errors;
  EXPECT_EQ(Value(kA), std::vector<double>{1});
}

// ---------------------------------------------------------------------------
// Growth: a full display list grows the block and the draw handler runs again.

TEST_F(HandlerCallTest, AFullListGrowsTheBlockAndTheHandlerRunsAgain) {
  const int32_t draw = Function("fill", "function fill(n)\nappendlist(n);\n");
  const int32_t small = Handler(36, {draw, {CodeItemBuilder::Constant(5)}, {}});
  const int32_t big = Handler(36, {draw, {CodeItemBuilder::Constant(100000)}, {}});
  Load();
  // Another instance's list lies behind the open one.
  double* store = RuntimeBlockStore(rt.block);
  double* payload = nullptr;
  int32_t capacity = 0;
  FindLargestFreeBlock(store, &payload, &capacity, true, nullptr);
  ASSERT_GT(capacity, 400);
  ASSERT_TRUE(CommitBlockAt(store, 76, payload, capacity - 200));
  FindLargestFreeBlock(store, &payload, &capacity, false, nullptr);
  ASSERT_TRUE(CommitBlockAt(store, 77, payload, 10));
  FreeBlock(store, 76);
  OpenDisplayList(rt.block, instance, true);
  ASSERT_LT(rt.block->currentList[2], 100000);
  SetCurrentSubplot(rt.block, 0);
  ASSERT_EQ(CallApplicationHandler(&rt.block, instance, small, false, true, false, 0, 36, true, 0, 1, nullptr), kOk)
      << errors;
  SetCurrentSubplot(rt.block, 1);
  const int grows = rt.grows;
  ASSERT_EQ(CallApplicationHandler(&rt.block, instance, big, false, true, false, 1, 36, true, 0, 1, nullptr), kOk)
      << errors;
  EXPECT_GT(rt.grows, grows);
  EXPECT_EQ(rt.block->currentList[3], 100005);
  CloseDisplayList(rt.block);
  double* list = nullptr;
  int32_t length = 0;
  ASSERT_TRUE(FindBlock(RuntimeBlockStore(rt.block), instance, &list, &length));
  ASSERT_EQ(length, 100005);
  // The first section stays, the second is there once.
  for (int k = 0; k < 5; ++k) EXPECT_EQ(list[k], 1000 + k);
  for (int k = 0; k < 100000; k += 9999) EXPECT_EQ(list[5 + k], 2000 + k);
  double* other = nullptr;
  ASSERT_TRUE(FindBlock(RuntimeBlockStore(rt.block), 77, &other, &length));
  EXPECT_EQ(length, 10);
}

}  // namespace

namespace {

// ---------------------------------------------------------------------------
// Reset and deletion.

TEST_F(HandlerCallTest, ResetRunsInitHandlersAndEndsWithTerminateHandlers) {
  const int32_t init = Function("initone", "function y = initone\ny = 4;\n");
  const int32_t bye = Function("bye", "function bye\nglobal ended; ended = [ended 1];\n");
  const int32_t flaky =
      Function("flaky", "function y = flaky\nglobal failnow; if failnow, error('init failed'); end\ny = 5;\n");
  const int32_t ended = Function("getended", "function e = getended\nglobal ended; e = ended;\n");
  Handler(kItemInit, {init, {}, {kA}});
  Handler(kItemInit, {flaky, {}, {kB}});
  Handler(kItemTerminate, {bye, {}, {}});
  Handler(kItemIdle, {-1, {}, {}});
  const int32_t read = Handler(kItemMenuItem, {ended, {}, {kE}});
  Load();
  ASSERT_EQ(RunCommand(rt.ctx(), "global failnow ended; failnow = true; ended = [];"), kOk);
  InstanceRecord* r = FindInstanceRecord(rt.block, instance);
  EXPECT_NE(ResetInstance(&rt.block, instance), kOk);
  r = FindInstanceRecord(rt.block, instance);
  EXPECT_EQ(r->started, 0);
  EXPECT_EQ(r->idleState, 0);
  EXPECT_EQ(Value(kA), std::vector<double>{4}) << "the first init handler ran";
  EXPECT_FALSE(Defined(kB));

  ASSERT_EQ(RunCommand(rt.ctx(), "global failnow; failnow = false;"), kOk);
  ASSERT_EQ(ResetInstance(&rt.block, instance), kOk) << errors;
  r = FindInstanceRecord(rt.block, instance);
  EXPECT_EQ(r->started, 1);
  EXPECT_EQ(r->idleState, 2);
  EXPECT_EQ(r->idleMode, 0);
  EXPECT_EQ(Value(kB), std::vector<double>{5});
  ASSERT_EQ(Call(read), kOk) << errors;
  EXPECT_EQ(Value(kE), std::vector<double>{}) << "no terminate handler before a start";

  // A started instance ends before it starts again, and when it is deleted.
  ASSERT_EQ(ResetInstance(&rt.block, instance), kOk) << errors;
  ASSERT_EQ(Call(read), kOk) << errors;
  EXPECT_EQ(Value(kE), std::vector<double>{1});
  ASSERT_EQ(DeleteInstance(&rt.block, instance), kOk) << errors;
  EXPECT_EQ(FindInstanceRecord(rt.block, instance), nullptr);
  EXPECT_EQ(DeleteInstance(&rt.block, instance), kNonexistentInstance);
  ASSERT_EQ(RunCommand(rt.ctx(), "global ended; assert(numel(ended) == 2);"), kOk) << errors;
}

}  // namespace
