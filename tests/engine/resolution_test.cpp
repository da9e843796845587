// Name resolution at run time: what a name means from a calling library,
// methods chosen by object arguments, natives and builtins with their counts,
// calls set up by name and by function value (frames, program counter and
// trampolines, and runs through the interpreter), function references and
// the builtin exist.
#include "engine/resolution.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/compiler/codegen.h"
#include "engine/compiler/compiler.h"
#include "engine/errors.h"
#include "engine/function.h"
#include "engine/functionstore.h"
#include "engine/heap.h"
#include "engine/libraries.h"
#include "engine/registry.h"
#include "engine/vm.h"
#include "tests/engine/stack_fixture.h"

namespace {

constexpr int16_t W(Op op) { return static_cast<int16_t>(op); }
constexpr int32_t kGadget = 3;  // class word of the test library's native class

// Pushes two results, the first (1) on top, for any number of inputs.
[[nodiscard]] StatusCode Pair(EngineContext* ctx, int nargin, int, void*) {
  if (StatusCode st = PushRealScalar(ctx, 2); st != kOk) return st;
  if (StatusCode st = PushRealScalar(ctx, 1); st != kOk) return st;
  return DropArgsUnderResults(ctx, 2, nargin < 0 ? 0 : nargin);
}
// Replaces its inputs by their count plus 100.
[[nodiscard]] StatusCode Count(EngineContext* ctx, int nargin, int, void*) {
  if (StatusCode st = PushRealScalar(ctx, 100 + nargin); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, nargin);
}
[[nodiscard]] StatusCode Unused(EngineContext*, int, int, void*) { return kIllegal; }
// apply(f, x): calls f(x) through the re-entry protocol and returns its
// result; *userData receives the result count of the re-entry.
[[nodiscard]] StatusCode Apply(EngineContext* ctx, int nargin, int, void* userData) {
  auto* seen = static_cast<int*>(userData);
  if (nargin >= 0) return CallFunctionValue(ctx, 1, 1, 1, true);
  *seen = ~nargin;
  return DropArgsUnderResults(ctx, ~nargin, 1);
}

class ResolutionTest : public StackFixture {
 protected:
  ResolutionTest() : StackFixture({.blockCells = 256 * 1024, .messages = true}) {}

  void SetUp() override {
    Reset();
    ASSERT_EQ(InstallNativeLibrary(ctx, natives, false), kOk);
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    SetFunctionStoreSeams({CompileFunctionSource, FetchSource, nullptr, nullptr});
    sources.clear();
  }
  void TearDown() override { SetFunctionStoreSeams({}); }

  // Sources the store fetches for functions compiled on first use.
  [[nodiscard]] static StatusCode FetchSource(EngineContext* ctx, int32_t entry, char* buffer, int32_t size,
                                              int32_t* length, int32_t* firstLine) {
    const char* name = nullptr;
    int n = 0;
    GetFunctionNameByIndex(ctx, entry, &name, &n);
    for (const auto& [key, text] : sources) {
      if (key != std::string(name, n)) continue;
      if (static_cast<int32_t>(text.size()) > size) return kDataStackFull;
      std::memcpy(buffer, text.data(), text.size());
      *length = static_cast<int32_t>(text.size());
      if (firstLine) *firstLine = 1;
      return kOk;
    }
    return kSrcNotFound;
  }

  int32_t Library(const char* name) {
    int32_t lib = -1;
    EXPECT_EQ(DeclareLibrary(ctx, name, -1, true, &lib), kOk);
    return lib;
  }
  int32_t Declare(const char* name, int32_t library, bool isPrivate = false, const char* qualifier = nullptr) {
    int32_t f = -1;
    EXPECT_EQ(
        DeclareFunction(ctx, name, static_cast<int>(std::strlen(name)), qualifier,
                        qualifier ? static_cast<int>(std::strlen(qualifier)) : 0, library, isPrivate, false, 0, &f),
        kOk);
    return f;
  }
  int32_t Compile(const char* name, const std::string& source, int32_t library = 0) {
    EXPECT_EQ(DeclareAndCompileFunction(ctx, name, nullptr, library, source.data(), static_cast<int32_t>(source.size()),
                                        1, false),
              kOk)
        << source;
    return FindUserFunction(ctx, name, static_cast<int>(std::strlen(name)), nullptr, 0, library, false, nullptr);
  }
  // Makes `used` the libraries of lib's use list, the last one the most recent.
  void Use(int32_t lib, std::vector<int32_t> used) {
    ASSERT_EQ(GrowUseList(ctx, lib, nullptr), kOk);
    int16_t* list = ctx->codeBase + StoreEntry(ctx, lib)->position;
    for (size_t k = 0; k < used.size(); ++k) list[list[0] + k] = static_cast<int16_t>(used[k]);
  }
  SymbolId Intern(const char* name) {
    SymbolId s = 0;
    EXPECT_EQ(InternSymbol(ctx, name, static_cast<int>(std::strlen(name)), 32, &s), kOk);
    return s;
  }

  // A composite element: its header and its cells.
  struct Element {
    uint32_t kind;
    int32_t extra;
    SymbolId name;
    std::vector<Cell> cells;
  };
  static Element Scalar(SymbolId name, double x) {
    Cell c{};
    c.f = x;
    return {0, 1, name, {c}};
  }
  static std::vector<Cell> Cells(const std::vector<Element>& elements) {
    std::vector<Cell> out;
    for (const Element& e : elements) {
      CompositeElementHeader h{e.kind, static_cast<int32_t>(e.cells.size()), e.extra, e.name};
      Cell pair[2];
      std::memcpy(pair, &h, sizeof h);
      out.insert(out.end(), pair, pair + 2);
      out.insert(out.end(), e.cells.begin(), e.cells.end());
    }
    return out;
  }
  // An object part of class cls stored under its class name.
  static Element Part(SymbolId cls, const std::vector<Element>& elements) {
    return {kComposite, cls, cls, Cells(elements)};
  }
  void PushObject(SymbolId cls, const std::vector<Element>& elements) {
    const std::vector<Cell> cells = Cells(elements);
    Cell* data = nullptr;
    ASSERT_EQ(PushValue(ctx, kComposite, static_cast<int64_t>(cells.size()), cls, Room::kStrict, &data), kOk);
    if (!cells.empty()) std::memcpy(data, cells.data(), cells.size() * sizeof(Cell));
  }
  void PushNativeObjectOf(int32_t classId) {
    void* payload = nullptr;
    ASSERT_EQ(PushBoxedValue(ctx, classId, 8, &payload), kOk);
  }
  int32_t LibraryIndexOf(const NativeFunctionRecord* records) {
    for (int i = 0; i < ctx->libraryCount; ++i)
      if (ctx->libraries[i].first == records) return i;
    return -1;
  }
  int32_t NativeOpcode(const char* name) {
    int32_t g = -1;
    EXPECT_NE(FindNativeFunction(ctx, name, nullptr, 0, &g), nullptr) << name;
    return static_cast<int32_t>(Op::kFirstNativeOpcode) + g;
  }

  // The code words of the trampoline the program counter points at.
  std::vector<int16_t> Trampoline(int words) {
    EXPECT_EQ(ctx->pc.space, kDataStackCode);
    const auto* w = reinterpret_cast<const int16_t*>(reinterpret_cast<const char*>(ctx->dataBase) + ctx->pc.offset);
    return std::vector<int16_t>(w, w + words);
  }

  // An inline function of one input x whose code is `code`.
  void PushInline(const std::vector<int16_t>& code, int16_t flags = 0) {
    std::vector<int16_t> words = {flags, 1, 1, 1, 0};
    words.resize(words.size() + kVariableNameBytes / 2, 0);
    std::memcpy(&words[5], "x", 1);
    words.insert(words.end(), code.begin(), code.end());
    const std::string source = "@(x) x";
    std::vector<int16_t> payload = {static_cast<int16_t>(words.size())};
    payload.insert(payload.end(), words.begin(), words.end());
    payload.push_back(static_cast<int16_t>(source.size()));
    const size_t bytes = payload.size() * 2 + source.size();
    void* p = nullptr;
    ASSERT_EQ(PushBoxedValue(ctx, kInlineFunction, static_cast<int64_t>(bytes), &p), kOk);
    std::memcpy(p, payload.data(), payload.size() * 2);
    std::memcpy(static_cast<char*>(p) + payload.size() * 2, source.data(), source.size());
  }

  static inline std::vector<std::pair<std::string, std::string>> sources;
  int results = -1;  // the result count the last re-entry of apply saw
  NativeFunctionRecord natives[11] = {
      {nullptr, nullptr, 0, "!restest", 0, 0, 0, 0},
      {Pair, nullptr, 0, "pair", 0, kAnyCount, 2, 2},
      {Count, nullptr, 0, "count", 1, 3, 0, 1},
      {Count, nullptr, 0, "count", 0, kAnyCount, 0, 1},
      {Count, nullptr, -kGadget, "gadget", 0, 1, 1, 1},
      {Count, nullptr, kGadget, "spin", 1, 1, 0, 1},
      {Unused, nullptr, 0, "+hook", 0, 0, 0, 1},
      {nullptr, nullptr, 0, "@restricted", 0, 0, 0, 0},
      {Count, nullptr, 0, "size", 0, kAnyCount, 0, 1},
      {Apply, &results, 0, "apply", 2, 2, 1, 1},
      {},
  };
};

// ---------------------------------------------------------------------------
// User functions from a calling library.

TEST_F(ResolutionTest, LibrariesAreSearchedInUseOrder) {
  const int32_t one = Library("one"), two = Library("two"), mine = Library("mine");
  const int32_t f1 = Declare("f", one), f2 = Declare("f", two), p1 = Declare("p", one, true);
  const int32_t own = Declare("p", mine, true), base = Declare("h", 0);
  Use(mine, {one, two});
  struct Case {
    const char* name;
    int32_t library;
    bool useList;
    int32_t want;
  };
  const Case cases[] = {
      {"f", mine, true, f2},    // "two" was named last
      {"f", mine, false, -1},   // the own library only
      {"p", mine, true, own},   // private functions of the own library count
      {"p", two, true, -1},     // "two" uses nothing; private p of "one" is not its own
      {"p", one, true, p1},     //
      {"h", mine, true, base},  // the base library comes last
      {"h", one, true, base},   //
      {"f", 0, true, -1},       //
      {"zz", mine, true, -1},   // a name never interned
  };
  for (const Case& c : cases)
    EXPECT_EQ(
        FindUserFunction(ctx, c.name, static_cast<int>(std::strlen(c.name)), nullptr, 0, c.library, c.useList, nullptr),
        c.want)
        << c.name << " from " << c.library;
  Use(mine, {two, one});
  EXPECT_EQ(FindUserFunction(ctx, "f", 1, nullptr, 0, mine, true, nullptr), f1);
  // A private function of a used library appears with the ignore-private setting.
  Use(two, {one});
  ctx->ignorePrivate = 1;
  EXPECT_EQ(FindUserFunction(ctx, "p", 1, nullptr, 0, two, true, nullptr), p1);
  // The compiler sees the same function.
  EXPECT_EQ(FindVisibleUserFunction(ctx, mine, "f", 1), f1);
}

TEST_F(ResolutionTest, QualifiersAndQualifiedNames) {
  const int32_t method = Declare("area", 0, false, "shape"), plain = Declare("area", 0);
  const int32_t ctor = Declare("shape", 0, false, "shape");
  SymbolId q = 0;
  EXPECT_EQ(FindUserFunction(ctx, "area", 4, "shape", 5, 0, true, &q), method);
  EXPECT_EQ(q, Intern("shape"));
  EXPECT_EQ(FindUserFunction(ctx, "area", 4, nullptr, 0, 0, true, nullptr), plain);
  EXPECT_EQ(FindUserFunction(ctx, "area", 4, nullptr, -1, 0, true, nullptr), method);  // any qualifier: the first
  EXPECT_EQ(FindUserFunction(ctx, "area", 4, "circle", 6, 0, true, nullptr), -1);
  // A constructor is found by the class name alone.
  EXPECT_EQ(FindUserFunction(ctx, "shape", 5, nullptr, 0, 0, true, nullptr), ctor);

  EXPECT_EQ(FindUserFunctionByName(ctx, "shape::area", -1, 0), method);
  EXPECT_EQ(FindUserFunctionByName(ctx, "area", -1, 0), plain);
  EXPECT_EQ(FindUserFunctionByName(ctx, "shape::areaXYZ", 11, 0), method);  // the length ends the text
  EXPECT_EQ(FindUserFunctionByName(ctx, "shape:area", -1, 0), kBadArg);
  EXPECT_EQ(FindUserFunctionByName(ctx, "shape:", -1, 0), kBadArg);
}

// A name of 33 characters is not found, even when its first 32 name a function.
TEST_F(ResolutionTest, NamesOverThirtyTwoCharactersNameNothing) {
  const std::string name32(32, 'a'), name33(33, 'a');
  const int32_t f = Compile(name32.c_str(), "function " + name32 + "\n");
  EXPECT_EQ(FindUserFunction(ctx, name32.data(), 32, nullptr, 0, 0, true, nullptr), f);
  EXPECT_EQ(FindUserFunction(ctx, name33.data(), 33, nullptr, 0, 0, true, nullptr), -1);
  EXPECT_EQ(CallFunctionByName(ctx, name33.data(), 33, 0, 0, 0, false, false, true), kUndefFun);
  EXPECT_EQ(CurrentErrorText().rfind("Undefined function", 0), 0u);
  EXPECT_EQ(CurrentErrorText().find("aaa"), std::string::npos);  // a cut name could be one that exists
  EXPECT_EQ(ctx->pc.space, kNoCode);

  ASSERT_EQ(PushStringFromBytes(ctx, 33, name33.data()), kOk);
  EXPECT_EQ(CallFunctionValue(ctx, 0, 0, 0, false), kFunNotFound);
  PopValue(ctx);
  ASSERT_EQ(PushStringFromBytes(ctx, 32, name32.data()), kOk);
  ASSERT_EQ(CallFunctionValue(ctx, 0, 0, 0, false), kOk);
  EXPECT_EQ(ctx->pc.space, kCodeArea);
  EXPECT_EQ(CurrentFrame(ctx)->requestedOutputs, 0);
}

// ---------------------------------------------------------------------------
// Overloading.

TEST_F(ResolutionTest, MethodsOfTheFirstObjectArgumentAndItsParents) {
  const SymbolId child = Intern("child"), mom = Intern("mom"), dad = Intern("dad"), gran = Intern("gran");
  const SymbolId a = Intern("a");
  const int32_t plain = Declare("size", 0), childSize = Declare("size", 0, false, "child");
  const int32_t granTalk = Declare("talk", 0, false, "gran"), dadTalk = Declare("talk", 0, false, "dad");
  const int32_t dadOnly = Declare("walk", 0, false, "dad");
  const int32_t show = Declare("show", 0);

  // 5, then an object of class child with parents mom (whose parent is gran)
  // and dad, then a field that is no parent part.
  ASSERT_EQ(PushRealScalar(ctx, 5), kOk);
  PushObject(child, {Part(mom, {Part(gran, {Scalar(a, 1)}), Scalar(a, 2)}), Part(dad, {}), Scalar(a, 3)});
  struct Case {
    const char* name;
    int32_t want;
    SymbolId cls;  // the frame's class: the method's own, none for a plain function
  };
  // The object comes second, after a plain number: it still chooses.
  const Case cases[] = {
      {"size", childSize, child}, {"talk", granTalk, gran}, {"walk", dadOnly, dad}, {"show", show, 0}};
  for (const Case& c : cases) {
    int32_t entry = -2;
    SymbolId cls = 0;
    ASSERT_EQ(ResolveFunctionWithOverloading(ctx, c.name, -1, 0, 2, 1, &entry, &cls, nullptr, nullptr, nullptr), kOk)
        << c.name;
    EXPECT_EQ(entry, c.want) << c.name;
    EXPECT_EQ(cls, c.cls) << c.name;
  }
  (void)dadTalk;

  // Without an object argument the plain function answers.
  ASSERT_EQ(PushRealScalar(ctx, 0), kOk);
  int32_t entry = -2;
  SymbolId cls = 1;
  ASSERT_EQ(ResolveFunctionWithOverloading(ctx, "size", -1, 0, 1, 1, &entry, &cls, nullptr, nullptr, nullptr), kOk);
  EXPECT_EQ(entry, plain);
  EXPECT_EQ(cls, 0);

  // The walk keeps its levels in the free data space.
  FillData(0);
  EXPECT_EQ(ResolveFunctionWithOverloading(ctx, "walk", -1, 0, 4, 1, &entry, &cls, nullptr, nullptr, nullptr),
            kDataStackFull);
}

TEST_F(ResolutionTest, NativesByClassAndCounts) {
  const int32_t lib = LibraryIndexOf(natives);
  const int32_t gadgetClass = NativeClassIdOf(lib, kGadget);
  const NativeFunctionRecord* native = nullptr;
  const BuiltinRecord* builtin = nullptr;
  int32_t opcode = 0, entry = -2;
  auto resolve = [&](const char* name, int nargin, int nargout) {
    native = nullptr;
    builtin = nullptr;
    return ResolveFunctionWithOverloading(ctx, name, -1, 0, nargin, nargout, &entry, nullptr, &native, &opcode,
                                          &builtin);
  };
  for (int k = 0; k < 4; ++k) ASSERT_EQ(PushRealScalar(ctx, k), kOk);

  // The first record whose counts fit; natives before builtins.
  ASSERT_EQ(resolve("count", 2, 1), kOk);
  EXPECT_EQ(native, &natives[2]);
  EXPECT_EQ(opcode, NativeOpcode("count"));
  ASSERT_EQ(resolve("count", 4, 1), kOk);
  EXPECT_EQ(native, &natives[3]);
  ASSERT_EQ(resolve("size", 1, 1), kOk);
  EXPECT_EQ(native, &natives[8]);
  EXPECT_EQ(builtin, nullptr);

  // A class method never answers plain arguments; hooks never answer at all.
  EXPECT_EQ(resolve("spin", 1, 1), kUndefFun);
  EXPECT_EQ(CurrentErrorText(), "Undefined function 'spin'");
  EXPECT_EQ(resolve("+hook", 0, 1), kUndefFun);

  // Counts that fit no record: the failing count in the message.
  EXPECT_EQ(resolve("pair", 0, 1), kIncorrectNargout);
  EXPECT_EQ(CurrentErrorText(), "Wrong number of output arguments (1) for function 'pair'");
  ASSERT_EQ(resolve("pair", 0, -1), kOk);  // a statement call is not counted
  EXPECT_EQ(resolve("gadget", 2, 1), kIncorrectNargin);
  EXPECT_EQ(CurrentErrorText(), "Wrong number of input arguments (2) for function 'gadget'");

  // A native object argument makes only its class's records candidates.
  PushNativeObjectOf(gadgetClass);
  ASSERT_EQ(resolve("spin", 1, 1), kOk);
  EXPECT_EQ(native, &natives[5]);
  EXPECT_EQ(resolve("count", 1, 1), kUndefFun);

  // A builtin whose counts do not fit answers without a message.
  const std::string before = CurrentErrorText();
  EXPECT_EQ(resolve("exist", 3, 1), kIncorrectNargin);
  EXPECT_EQ(resolve("exist", 1, 2), kIncorrectNargout);
  EXPECT_EQ(CurrentErrorText(), before);
  ASSERT_EQ(resolve("exist", 2, 1), kOk);
  EXPECT_EQ(builtin, FindBuiltin("exist", 5));
  EXPECT_EQ(opcode, static_cast<int32_t>(Op::Exist));

  // Skipped kinds are not looked at.
  EXPECT_EQ(ResolveFunctionWithOverloading(ctx, "exist", -1, 0, 1, 1, &entry, nullptr, nullptr, nullptr, nullptr),
            kUndefFun);
}

// ---------------------------------------------------------------------------
// Calls by name.

TEST_F(ResolutionTest, UserFunctionCallPushesItsFrame) {
  const int32_t lib = Library("tools");
  const int32_t f = Compile("twice", "function y = twice(x)\ny = x;\n", lib);
  const SymbolId shape = Intern("shape");
  const int32_t m = Declare("twice", lib, false, "shape");
  sources = {{"twice", "function y = twice(x)\ny = x;\n"}};
  Use(0, {lib});

  ctx->pc = {kCodeArea, 0, {}, 1234};
  ASSERT_EQ(PushRealScalar(ctx, 4), kOk);
  ASSERT_EQ(CallFunctionByName(ctx, "twice", 5, 0, 1, 1, true, false, true), kOk);
  const CallFrame* frame = CurrentFrame(ctx);
  EXPECT_EQ(frame->callerSpace, kCodeArea);
  EXPECT_EQ(frame->callerOffset, 1234);
  EXPECT_EQ(frame->library, lib);
  EXPECT_EQ(frame->methodClass, 0);
  EXPECT_EQ(frame->requestedOutputs, 1);
  const int32_t position = StoreEntry(ctx, f)->position;
  const auto* header = reinterpret_cast<const CompiledFunctionHeader*>(ctx->codeBase + position);
  EXPECT_EQ(ctx->pc.offset, 2 * (position + 4 + 1 + 16 * header->variables));
  EXPECT_EQ(UnwindFrames(ctx, 0), kOk);

  // An object argument picks the method, compiled on this first call, and
  // its class goes into the frame; without a link the return ends the run.
  PushObject(shape, {});
  EXPECT_EQ(StoreEntry(ctx, m)->position, -1);
  ASSERT_EQ(CallFunctionByName(ctx, "twice", 5, 0, 1, 1, false, false, false), kOk);
  EXPECT_GT(StoreEntry(ctx, m)->position, 0);
  EXPECT_EQ(CurrentFrame(ctx)->methodClass, shape);
  EXPECT_EQ(CurrentFrame(ctx)->callerSpace, kNoCode);
  EXPECT_EQ(UnwindFrames(ctx, 0), kOk);

  // Too many arguments for the function.
  for (int k = 0; k < 2; ++k) ASSERT_EQ(PushRealScalar(ctx, k), kOk);
  EXPECT_EQ(CallFunctionByName(ctx, "twice", 5, 0, 2, 1, false, false, true), kTooManyArgin);
}

TEST_F(ResolutionTest, SandboxFlagsOfTheCallee) {
  const int32_t trusted = Compile("trusted", "function trusted\n");
  const int32_t boxed = Compile("boxed", "function boxed\n");
  const int32_t plain = Compile("plain", "function plain\n");
  auto flags = [&](int32_t f) {
    return &reinterpret_cast<CompiledFunctionHeader*>(ctx->codeBase + StoreEntry(ctx, f)->position)->flags;
  };
  *flags(trusted) |= kHeaderTrusted;
  *flags(boxed) |= kHeaderSandboxed;
  struct Case {
    const char* name;
    int32_t callerSandboxed;
    int32_t want;
  };
  const Case cases[] = {{"trusted", 1, 0}, {"boxed", 0, 1}, {"plain", 1, 1}, {"plain", 0, 0}};
  for (const Case& c : cases) {
    CurrentFrame(ctx)->sandboxed = c.callerSandboxed;
    ctx->pc = {kCodeArea, 0, {}, 8};
    ASSERT_EQ(CallFunctionByName(ctx, c.name, -1, 0, 0, 0, false, false, true), kOk) << c.name;
    EXPECT_EQ(CurrentFrame(ctx)->sandboxed, c.want) << c.name;
    ASSERT_EQ(UnwindFrames(ctx, 0), kOk);
  }
  (void)plain;
}

// A native or builtin runs from a trampoline under its own frame: the
// instruction with its count words, the no-value marker for a statement call
// that yields nothing, and the end of code.
TEST_F(ResolutionTest, TrampolinesForNativesAndBuiltins) {
  const int16_t end = W(Op::EndOfCode), none = W(Op::PushVoid);
  struct Case {
    const char* name;
    int nargin;
    int nargout;
    std::vector<int16_t> want;
    int32_t kept;  // values the frame returns
  };
  const auto pair = static_cast<int16_t>(NativeOpcode("pair"));
  const auto count = static_cast<int16_t>(NativeOpcode("count"));
  const Case cases[] = {
      {"pair", 1, -1, {pair, 1, 2, end}, 1},                 // one result wanted, two given
      {"pair", 0, 2, {pair, 0, 2, end}, 2},                  //
      {"count", 2, 0, {count, 2, 0, end}, 0},                //
      {"count", 2, -1, {count, 2, 0, none, end}, 1},         // a statement: nothing but the marker
      {"exist", 1, -1, {W(Op::Exist), 1, end}, 1},           // fixed output count: no word
      {"disp", 1, -1, {W(Op::Disp), none, end}, 1},          // fixed counts: no words
      {"feval", 3, -1, {W(Op::Feval), 3, 0, none, end}, 1},  //
      {"size", 1, 2, {W(Op::Size), 1, 2, end}, 2},           // the native size takes one output only
  };
  for (const Case& c : cases) {
    for (int k = 0; k < c.nargin; ++k) ASSERT_EQ(PushRealScalar(ctx, k), kOk);
    ctx->pc = {kCodeArea, 0, {}, 100};
    const int32_t before = ctx->descLength;
    ASSERT_EQ(CallFunctionByName(ctx, c.name, -1, 0, c.nargin, c.nargout, false, false, true), kOk) << c.name;
    EXPECT_EQ(Trampoline(static_cast<int>(c.want.size())), c.want) << c.name;
    const CallFrame* frame = CurrentFrame(ctx);
    EXPECT_EQ(frame->requestedOutputs, c.kept) << c.name;
    EXPECT_EQ(frame->callerOffset, 100);
    // The trampoline lies under the arguments, which keep their order.
    EXPECT_EQ(ctx->pc.offset, (DataAt(ctx, c.nargin) - ctx->dataBase) * 8) << c.name;
    for (int k = 0; k < c.nargin; ++k) EXPECT_EQ(DataAt(ctx, c.nargin - 1 - k)->f, k);
    EXPECT_EQ(ctx->descLength, before + kFrameHeaderWords + 3);
    ASSERT_EQ(UnwindFrames(ctx, 0), kOk);
  }

  // Asking a builtin of one output for two; a name only natives answer,
  // called for user functions only.
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  EXPECT_EQ(CallFunctionByName(ctx, "exist", 5, 0, 1, 2, false, false, true), kIncorrectNargout);
  EXPECT_EQ(CallFunctionByName(ctx, "count", 5, 0, 1, 1, true, false, true), kUndefFunOrVar);
  EXPECT_EQ(CurrentErrorText(), "Undefined function or variable 'count'");
  // Without room for the trampoline nothing changes.
  FillData(0);
  const Snapshot before = Take();
  EXPECT_EQ(CallFunctionByName(ctx, "count", 5, 0, 1, 1, false, false, true), kDataStackFull);
  EXPECT_EQ(Take(), before);
}

// The trampoline runs in the interpreter: the frame keeps the first result
// (the one on top) and gives up the second.
TEST_F(ResolutionTest, TrampolineRunsAndKeepsTheFirstResult) {
  ASSERT_EQ(PushRealScalar(ctx, 9), kOk);
  ASSERT_EQ(CallFunctionByName(ctx, "pair", 4, 0, 1, -1, false, false, false), kOk);
  ASSERT_EQ(RunInterpreter(ctx, 0), kOk);
  EXPECT_EQ(CountFrameValues(ctx), 1);
  EXPECT_EQ(TopScalar(), 1);

  ASSERT_EQ(CallFunctionByName(ctx, "count", 5, 0, 0, -1, false, false, false), kOk);
  ASSERT_EQ(RunInterpreter(ctx, 0), kOk);
  EXPECT_EQ(CountFrameValues(ctx), 2);
  EXPECT_EQ(Top().kind, kVoid);
}

// A user function called by the host, and one called from a native that
// is called again with the complement of the result count.
TEST_F(ResolutionTest, UserFunctionsRunFromTheHostAndFromNatives) {
  Compile("twice", "function y = twice(x)\ny = x;\n");
  ASSERT_EQ(PushRealScalar(ctx, 4), kOk);
  ASSERT_EQ(CallFunctionByName(ctx, "twice", 5, 0, 1, 1, false, false, false), kOk);
  ASSERT_EQ(RunInterpreter(ctx, 0), kOk);
  EXPECT_EQ(CountFrameValues(ctx), 1);
  EXPECT_EQ(TopScalar(), 4);
  PopValue(ctx);

  ASSERT_EQ(PushStringFromBytes(ctx, 5, "twice"), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 6), kOk);
  ASSERT_EQ(CallFunctionByName(ctx, "apply", 5, 0, 2, 1, false, false, false), kOk);
  ASSERT_EQ(RunInterpreter(ctx, 0), kOk);
  EXPECT_EQ(results, 1);
  EXPECT_EQ(CountFrameValues(ctx), 1);
  EXPECT_EQ(TopScalar(), 6);
  EXPECT_EQ(ctx->frameIndex, 0);
}

TEST_F(ResolutionTest, CompiledCallsPassTheirCounts) {
  Compile("two", "function [a, b] = two(x, y)\na = nargin;\nb = nargout;\n");
  Compile("spread", "function varargout = spread(n)\nvarargout = {n, 7};\n");
  Compile("count", "function k = count(varargin)\nk = nargin;\n");
  Compile("caller",
          "function [p, q, r, u, v, c] = caller()\n"
          "[p, q] = two(1);\n"
          "r = nargout;\n"
          "[u, v] = spread(5);\n"
          "c = count(1, 2, 3);\n");
  ASSERT_EQ(CallFunctionByName(ctx, "caller", 6, 0, 0, 6, false, false, false), kOk);
  ASSERT_EQ(RunInterpreter(ctx, 0), kOk);
  ASSERT_EQ(CountFrameValues(ctx), 6);
  // The first output ends on top.
  const double want[] = {1, 2, 6, 5, 7, 3};
  for (double w : want) {
    double x = 0;
    ASSERT_EQ(PopRealScalar(ctx, &x), kOk);
    EXPECT_EQ(x, w);
  }

  // The host runs a class's function by its qualifier.
  const char* method = "function y = Cls::m\ny = 8;\n";
  ASSERT_EQ(DeclareAndCompileFunction(ctx, "m", "Cls", 0, method, static_cast<int32_t>(std::strlen(method)), 1, false),
            kOk);
  ASSERT_EQ(RunFunctionByName(ctx, "m", "Cls", 0, 1, false, 0), kOk);
  EXPECT_EQ(TopScalar(), 8);
  PopValue(ctx);
  EXPECT_EQ(RunFunctionByName(ctx, "m", nullptr, 0, 1, false, 0), kUndefFun) << "unqualified, there is no m";

  // Asking for more outputs than a function declares fails at the call.
  EXPECT_EQ(CallFunctionByName(ctx, "two", 3, 0, 0, 3, false, false, false), kTooManyArgout);
}

// ---------------------------------------------------------------------------
// Calls of function values.

TEST_F(ResolutionTest, FunctionValuesOfEveryKind) {
  const int32_t lib = Library("hidden");
  const int32_t f = Compile("secret", "function y = secret(x)\ny = x;\n", lib);
  reinterpret_cast<FunctionStoreEntry*>(StoreEntry(ctx, f))->name |= static_cast<int32_t>(kLibraryPrivate);

  // A reference made in the library resolves from there, and the frame is
  // marked for the native's re-entry.
  ASSERT_EQ(PushFunctionReference(ctx, "secret", 6, lib), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 3), kOk);
  ctx->pc = {kCodeArea, 0, {}, 40};
  ASSERT_EQ(CallFunctionValue(ctx, 1, 1, 1, true), kOk);
  EXPECT_EQ(ctx->pc.space, kCodeArea);
  EXPECT_EQ(CurrentFrame(ctx)->reentry, 1);
  EXPECT_EQ(CurrentFrame(ctx)->callerOffset, 40);
  ASSERT_EQ(UnwindFrames(ctx, 0), kOk);
  // From the base library the name is hidden.
  ASSERT_EQ(PushStringFromBytes(ctx, 6, "secret"), kOk);
  EXPECT_EQ(CallFunctionValue(ctx, 0, 0, 1, false), kUndefFun);
  PopValue(ctx);

  // An inline function: a copy goes under the arguments and its code runs
  // from the data stack; the original stays for further calls.
  PushInline({W(Op::Return)});
  ASSERT_EQ(PushRealScalar(ctx, 5), kOk);
  ctx->pc = {kCodeArea, 0, {}, 40};
  ASSERT_EQ(CallFunctionValue(ctx, 1, 1, 1, false), kOk);
  EXPECT_EQ(ctx->pc.space, kDataStackCode);
  const auto* word = reinterpret_cast<const int16_t*>(reinterpret_cast<const char*>(ctx->dataBase) + ctx->pc.offset);
  EXPECT_EQ(*word, W(Op::Return));
  EXPECT_EQ(CurrentFrame(ctx)->functionValue, 1);
  EXPECT_EQ(CurrentFrame(ctx)->reentry, 0);
  ASSERT_EQ(UnwindFrames(ctx, 0), kOk);
  EXPECT_EQ(Top().extra, kInlineFunction);
  PopValue(ctx);

  // Values that name nothing.
  struct Case {
    const char* text;  // null: a number
    StatusCode want;
  };
  const Case cases[] = {{"", kNullName}, {nullptr, kWrongTypeInternal}, {"nosuchfunction", kUndefFun}};
  for (const Case& c : cases) {
    if (c.text) {
      ASSERT_EQ(PushStringFromBytes(ctx, static_cast<int64_t>(std::strlen(c.text)), c.text), kOk);
    } else {
      ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
    }
    const Snapshot before = Take();
    EXPECT_EQ(CallFunctionValue(ctx, 0, 0, 1, false), c.want) << (c.text ? c.text : "number");
    EXPECT_EQ(Take(), before);
    PopValue(ctx);
  }

  // A pending break stops the call before anything happens.
  ctx->breakPending = 1;
  ASSERT_EQ(PushStringFromBytes(ctx, 5, "count"), kOk);
  EXPECT_EQ(CallFunctionValue(ctx, 0, 0, 1, false), kHalted);
}

TEST_F(ResolutionTest, FunctionReferencesAndArgumentCounts) {
  ASSERT_EQ(PushFunctionReference(ctx, "count", -1, 7), kOk);
  EXPECT_EQ(Top().kind, kBoxed);
  EXPECT_EQ(Top().extra, kFunctionRef);
  const char* name = nullptr;
  int length = 0;
  GetFunctionReferenceName(ctx, TopData(ctx), &name, &length);
  EXPECT_EQ(std::string(name, length), "count");
  EXPECT_EQ(name[length], 0);
  EXPECT_EQ(reinterpret_cast<const int16_t*>(TopData(ctx))[1], 7);

  Compile("va", "function varargout = va(a, b, varargin)\n");
  struct Case {
    const char* name;
    int32_t inputs, outputs;
    bool varargin, varargout;
  };
  const Case cases[] = {
      {"va", 3, 1, true, true},               // a user function's header
      {"count", 3, 1, false, false},          // the first native of the name
      {"pair", 0, 2, true, false},            // the any bit is the flag
      {"feval", 32767, 32767, false, false},  // unbounded builtin counts
      {"exist", 2, 1, false, false},
  };
  for (const Case& c : cases) {
    int32_t in = -1, out = -1;
    bool vin = !c.varargin, vout = !c.varargout;
    ASSERT_EQ(ResolveFunctionName(ctx, c.name, nullptr, 0, true, &in, &out, &vin, &vout), kOk) << c.name;
    EXPECT_EQ(in, c.inputs) << c.name;
    EXPECT_EQ(out, c.outputs) << c.name;
    EXPECT_EQ(vin, c.varargin) << c.name;
    EXPECT_EQ(vout, c.varargout) << c.name;
  }
  int32_t in = -1, out = -1;
  EXPECT_EQ(ResolveFunctionName(ctx, "nothing", nullptr, 0, true, &in, &out, nullptr, nullptr), kUndefFunOrVar);
  EXPECT_EQ(CurrentErrorText(), "Undefined function or variable 'nothing'");

  // The same through values: a name, a reference, an inline function.
  ASSERT_EQ(PushStringFromBytes(ctx, 2, "va"), kOk);
  ASSERT_EQ(ResolveFunctionArgument(ctx, 0, 0, 0, &in, &out), kOk);
  EXPECT_EQ(in, 3);
  ASSERT_EQ(ResolveFunctionArgument(ctx, 1, 0, 0, &in, &out), kOk);  // the reference to count
  EXPECT_EQ(in, 3);
  PushInline({W(Op::Return)});
  ASSERT_EQ(ResolveFunctionArgument(ctx, 0, 0, 0, &in, &out), kOk);
  EXPECT_EQ(in, 1);
  EXPECT_EQ(out, 1);
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  EXPECT_EQ(ResolveFunctionArgument(ctx, 0, 0, 0, &in, &out), kWrongTypeInternal);
}

// ---------------------------------------------------------------------------
// Natives by name, and the service table.

TEST_F(ResolutionTest, NativeRecordsByNameAndLibrary) {
  const auto find = GetServiceTable(ctx)->FindNativeFunction;
  int32_t g = -1;
  const NativeFunctionRecord* first = find(ctx, "count", nullptr, 0, &g);
  ASSERT_EQ(first, &natives[2]);
  int32_t g2 = -1;
  EXPECT_EQ(find(ctx, "count", first, 0, &g2), &natives[3]);
  EXPECT_EQ(g2, g + 1);
  EXPECT_EQ(find(ctx, "count", &natives[3], 0, nullptr), nullptr);
  const int32_t gadgetClass = NativeClassIdOf(LibraryIndexOf(natives), kGadget);
  EXPECT_EQ(find(ctx, "spin", nullptr, gadgetClass, nullptr), &natives[5]);
  EXPECT_EQ(find(ctx, "spin", nullptr, -gadgetClass, nullptr), &natives[5]);
  EXPECT_EQ(find(ctx, "spin", nullptr, gadgetClass + 1, nullptr), nullptr);

  EXPECT_STREQ(GetNativeLibraryName(ctx, &natives[5]), "restest");
  EXPECT_STREQ(GetNativeLibraryName(ctx, &natives[8]), "restricted");
  EXPECT_EQ(GetNativeLibraryName(ctx, &natives[0]), nullptr);

  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  ASSERT_EQ(GetServiceTable(ctx)->CallFunctionByName(ctx, "count", 5, 0, 1, 1, false, false, false), kOk);
  EXPECT_EQ(ctx->pc.space, kDataStackCode);
  ASSERT_EQ(RunInterpreter(ctx, 0), kOk);
  EXPECT_EQ(TopScalar(), 101);
}

// ---------------------------------------------------------------------------
// exist

TEST_F(ResolutionTest, ExistByKind) {
  // A variable x of the base frame holding a value, and y cleared.
  CallFrame* base = CurrentFrame(ctx);
  char* names = reinterpret_cast<char*>(FrameSlots(base) + base->nameCapacity);
  std::memcpy(names + kVariableNameBytes, "x", 1);
  std::memcpy(names + 2 * kVariableNameBytes, "y", 1);
  int32_t value = 0;
  ASSERT_EQ(AllocateHeapBlock(ctx, kVariableHeaderCells + 1, &value), kOk);
  WriteVariableDescriptor(ctx, value, {0, 1, 1});
  FrameSlots(base)[1] = value;

  Compile("made", "function made\n");
  Declare("later", 0);
  struct Case {
    const char* name;
    const char* kind;  // null: no kind
    bool want;
  };
  const Case cases[] = {
      {"x", nullptr, true},       {"x", "var", true},    {"x", "f", false},    {"y", nullptr, false},
      {"made", "function", true}, {"later", "f", false}, {"made", "v", false}, {"count", "builtin", true},
      {"exist", "b", true},       {"count", "f", false}, {"spin", "b", true},  {"nothing", nullptr, false},
      {"", nullptr, false},       {"x", "", true},       {"x", "zz", true},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(PushStringFromBytes(ctx, static_cast<int64_t>(std::strlen(c.name)), c.name), kOk);
    if (c.kind) {
      ASSERT_EQ(PushStringFromBytes(ctx, static_cast<int64_t>(std::strlen(c.kind)), c.kind), kOk);
    }
    const int32_t length = ctx->descLength;
    ASSERT_EQ(ExistBuiltin(ctx, c.kind ? 2 : 1), kOk) << c.name;
    EXPECT_EQ(ctx->descLength, length - (c.kind ? 3 : 0)) << c.name;
    uint8_t b = 2;
    ASSERT_EQ(PopBoolean(ctx, &b), kOk);
    EXPECT_EQ(b, c.want ? 1 : 0) << c.name << " " << (c.kind ? c.kind : "");
  }
  // The instruction form, and values that are no text.
  const int16_t ins[] = {W(Op::Exist), 1};
  ASSERT_EQ(PushStringFromBytes(ctx, 4, "made"), kOk);
  ASSERT_EQ(OpExist(ctx, ins), kOk);
  uint8_t b = 0;
  ASSERT_EQ(PopBoolean(ctx, &b), kOk);
  EXPECT_EQ(b, 1);
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  EXPECT_EQ(ExistBuiltin(ctx, 1), kWrongType);
  ASSERT_EQ(PushStringFromBytes(ctx, 1, "x"), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  EXPECT_EQ(ExistBuiltin(ctx, 2), kWrongType);
}

}  // namespace
