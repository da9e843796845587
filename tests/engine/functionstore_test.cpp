// The function store through a stub code generator and stub source readers:
// declarations, compilation on demand and in the pending pass, text typed at
// the command line, and growing, compacting and resetting the code area with
// every code position held by frames and threads following the moved code.
#include "engine/functionstore.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/errors.h"
#include "engine/heap.h"
#include "engine/values/valuestack.h"
#include "tests/engine/stack_fixture.h"

namespace {

// What the stubs answer and what they saw.
struct Stubs {
  int32_t codeWords = 6;
  StatusCode answer = kOk;
  void (*afterWriting)(EngineContext*) = nullptr;
  int calls = 0;
  std::string text;
  bool stop = false;
  int32_t line = 0, entry = 0, library = 0;
  bool textReserved = false;
  const char* textAddress = nullptr;
  std::map<std::string, std::string> sources;
  int loads = 0;
  bool loadCommandLine = false, loadHeaderRequired = false;
  StatusCode loadAnswer = kOk;
};
Stubs stubs;

constexpr int16_t kVariables = 2;
int32_t GeneratedWords() { return 4 + kVariables * kVariableNameBytes / 2 + stubs.codeWords; }
int32_t TakenWords() { return (GeneratedWords() + 3) & ~3; }
int16_t Marker(int32_t entry, int k) { return static_cast<int16_t>(1000 * entry + k); }

bool InsideStack(const char* p, int64_t n, const void* base, int64_t bytes) {
  const char* b = static_cast<const char*>(base);
  return p >= b && p + n <= b + bytes;
}

// A header of two named variables and no inputs, then code words that carry
// the entry index, so that moved code can be recognised.
[[nodiscard]] StatusCode StubCompile(EngineContext* ctx, int32_t library, const char* text, int32_t length, bool stop,
                                     int16_t* output, int32_t room, int32_t* used, int32_t entry, int32_t firstLine) {
  ++stubs.calls;
  stubs.text.assign(text, length);
  stubs.textAddress = text;
  stubs.stop = stop;
  stubs.line = firstLine;
  stubs.entry = entry;
  stubs.library = library;
  // A fetched text must sit in reserved stack space, out of the compiler's scratch.
  stubs.textReserved = InsideStack(text, length, ctx->descBase, 4 * int64_t{ctx->descLength}) ||
                       InsideStack(text, length, ctx->dataBase, 8 * int64_t{ctx->dataTop});
  if (stubs.answer != kOk) return stubs.answer;
  if (GeneratedWords() > room) return kCodeOverflow;
  output[0] = 0;
  output[1] = kVariables;
  output[2] = 0;
  output[3] = 0;
  std::memset(output + 4, 'v', kVariables * kVariableNameBytes);
  for (int k = 0; k < stubs.codeWords; ++k) output[4 + kVariables * kVariableNameBytes / 2 + k] = Marker(entry, k);
  *used = GeneratedWords();
  if (stubs.afterWriting) stubs.afterWriting(ctx);
  return kOk;
}

[[nodiscard]] StatusCode StubFetch(EngineContext* ctx, int32_t entry, char* buffer, int32_t size, int32_t* length,
                                   int32_t* firstLine) {
  const char* name = nullptr;
  int n = 0;
  GetFunctionNameByIndex(ctx, entry, &name, &n);
  const auto it = stubs.sources.find(std::string(name, n));
  if (it == stubs.sources.end()) return kSrcNotFound;
  if (static_cast<int32_t>(it->second.size()) > size) return kDataStackFull;
  std::memcpy(buffer, it->second.data(), it->second.size());
  *length = static_cast<int32_t>(it->second.size());
  *firstLine = 7;
  return kOk;
}

// Blocks are lines "function NAME" or "function CLASS::NAME"; lines
// "private" and "public" set the private flag.
[[nodiscard]] StatusCode StubScan(EngineContext*, const char* text, int32_t length, int32_t* position, int32_t* line,
                                  const char** name, int32_t* nameLength, const char** qualifier,
                                  int32_t* qualifierLength, bool* isPrivate, bool, bool) {
  const std::string_view all(text, length);
  size_t at = 0;
  if (*position >= 0) {
    at = all.find('\n', *position);
    if (at == std::string_view::npos) return kEof;
    ++at;
    ++*line;
  }
  while (at < all.size()) {
    size_t eol = all.find('\n', at);
    if (eol == std::string_view::npos) eol = all.size();
    const std::string_view l = all.substr(at, eol - at);
    if (l == "private") *isPrivate = true;
    if (l == "public") *isPrivate = false;
    if (l.starts_with("function ")) {
      std::string_view n = l.substr(9);
      *qualifier = nullptr;
      *qualifierLength = 0;
      if (const size_t colons = n.find("::"); colons != std::string_view::npos) {
        *qualifier = n.data();
        *qualifierLength = static_cast<int32_t>(colons);
        n = n.substr(colons + 2);
      }
      *name = n.data();
      *nameLength = static_cast<int32_t>(n.size());
      *position = static_cast<int32_t>(at);
      return kOk;
    }
    at = eol + 1;
    ++*line;
  }
  return kEof;
}

[[nodiscard]] StatusCode StubLoad(EngineContext*, int32_t, const char*, int32_t, const char*, int32_t, bool commandLine,
                                  bool headerRequired) {
  ++stubs.loads;
  stubs.loadCommandLine = commandLine;
  stubs.loadHeaderRequired = headerRequired;
  return stubs.loadAnswer;
}

class FunctionStore : public StackFixture {
 protected:
  FunctionStore() : StackFixture({.messages = true}) {}

  void SetUp() override {
    Fresh();
    previous = SetFunctionStoreSeams({StubCompile, StubFetch, StubScan, StubLoad});
  }
  void Fresh() {
    Reset();
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    stubs = Stubs{};
  }
  void TearDown() override { SetFunctionStoreSeams(previous); }

  int32_t Declare(const char* name, int32_t library = 0, bool isPrivate = false, bool sandboxed = false) {
    int32_t entry = -1;
    EXPECT_EQ(DeclareFunction(ctx, name, static_cast<int>(std::strlen(name)), nullptr, 0, library, isPrivate, sandboxed,
                              0, &entry),
              kOk)
        << name;
    return entry;
  }

  int32_t Compiled(const char* name, int32_t library = 0) {
    const int32_t entry = Declare(name, library);
    const std::string source = std::string("function ") + name;
    EXPECT_EQ(CompileStoredFunction(ctx, entry, source.data(), static_cast<int32_t>(source.size()), false, 1), kOk)
        << name;
    return entry;
  }

  int32_t Position(int32_t entry) { return StoreEntry(ctx, entry)->position; }

  // The stub's header and the entry's own markers at the entry's position.
  bool HoldsItsCode(int32_t entry) {
    const int32_t at = Position(entry);
    if (at <= 0) return false;
    const int16_t* w = ctx->codeBase + at;
    if (w[1] != kVariables) return false;
    for (int k = 0; k < stubs.codeWords; ++k)
      if (w[4 + kVariables * kVariableNameBytes / 2 + k] != Marker(entry, k)) return false;
    return true;
  }

  std::string Name(int32_t entry) {
    const char* text = nullptr;
    int n = 0;
    GetFunctionNameByIndex(ctx, entry, &text, &n);
    return std::string(text, n);
  }

  std::string CurrentErrorText(StatusCode code) {
    char text[200];
    int64_t n = 0;
    GetLastErrorText(ctx, code, true, text, sizeof text, &n);
    return std::string(text, n);
  }

  // A frame without variables on top of the current one.
  CallFrame* PushFrame(int32_t library = 0) {
    const int32_t at = ctx->descLength;
    CallFrame* f = FrameAt(ctx, at);
    std::memset(f, 0, sizeof *f);
    f->link = at - ctx->frameIndex;
    f->library = library;
    f->line = -1;
    f->function = -1;
    ctx->frameIndex = at;
    ctx->descLength = at + kFrameHeaderWords;
    return f;
  }

  // A thread record in the heap with a descriptor stack holding one frame.
  ThreadRecord* AddThread(int32_t* index, ThreadRecord* into = nullptr) {
    constexpr int32_t kStackWords = 64;
    const int32_t cells = sizeof(ThreadRecord) / sizeof(Cell) + kStackWords / 2;
    int32_t h = 0;
    EXPECT_EQ(AllocateHeapBlock(ctx, cells, &h), kOk);
    ThreadRecord* r = into ? into : reinterpret_cast<ThreadRecord*>(ctx->heapBase + h);
    std::memset(r, 0, sizeof *r);
    int32_t* stack = reinterpret_cast<int32_t*>(ctx->heapBase + h + sizeof(ThreadRecord) / sizeof(Cell));
    std::memset(stack, 0, kStackWords * sizeof(int32_t));
    r->descBase = static_cast<int32_t>(reinterpret_cast<char*>(stack) - reinterpret_cast<char*>(ctx));
    r->descCapacity = kStackWords;
    r->descLength = kFrameHeaderWords;
    r->frameIndex = 0;
    if (!into) {
      r->next = ctx->threadListHead;
      ctx->threadListHead = h;
    }
    *index = h;
    return r;
  }
  static CallFrame* ThreadFrame(EngineContext* ctx, ThreadRecord* r) {
    return reinterpret_cast<CallFrame*>(reinterpret_cast<char*>(ctx) + r->descBase);
  }

  void FillTable() {
    for (int k = 0; ctx->entriesInUse < ctx->entryCapacity; ++k) Declare(("a" + std::to_string(k)).c_str());
  }

  // Makes exactly `words` code words free by raising the code end.
  void LeaveFreeCodeWords(int32_t words) {
    ctx->codeTop += FreeCodeWords(ctx) - words;
    ASSERT_EQ(FreeCodeWords(ctx), words);
  }

  FunctionStoreSeams previous{};
};

// ---------------------------------------------------------------------------
// Declarations

TEST_F(FunctionStore, SameNameInTwoLibrariesAndARepeatedDeclaration) {
  int32_t lib = -1;
  ASSERT_EQ(DeclareLibrary(ctx, "tools", -1, true, &lib), kOk);
  const int32_t base = Declare("f", 0, false, true);
  const int32_t other = Declare("f", lib);
  EXPECT_NE(base, other);
  EXPECT_EQ(StoreEntry(ctx, base)->position, -1);
  EXPECT_EQ(StoreEntry(ctx, other)->name, lib);

  // Again in the same library: only the private bit follows the flag; the sandbox bit stays.
  const int32_t count = ctx->entriesInUse;
  EXPECT_EQ(Declare("f", 0, true), base);
  EXPECT_EQ(static_cast<uint32_t>(StoreEntry(ctx, base)->name), kLibrarySandboxed | kLibraryPrivate);
  EXPECT_EQ(Declare("f", 0, false), base);
  EXPECT_EQ(static_cast<uint32_t>(StoreEntry(ctx, base)->name), kLibrarySandboxed);
  EXPECT_EQ(ctx->entriesInUse, count);
  EXPECT_EQ(Name(base), "f");
}

TEST_F(FunctionStore, QualifiedNamesAndMovesBetweenLibraries) {
  int32_t a = -1, b = -1, plain = -1, method = -1, moved = -1;
  ASSERT_EQ(DeclareLibrary(ctx, "a", -1, true, &a), kOk);
  ASSERT_EQ(DeclareLibrary(ctx, "b", -1, true, &b), kOk);
  ASSERT_EQ(DeclareFunction(ctx, "g", 1, nullptr, 0, a, false, false, 0, &plain), kOk);
  ASSERT_EQ(DeclareFunction(ctx, "g", 1, "C", 1, a, false, false, 0, &method), kOk);
  EXPECT_NE(plain, method);
  EXPECT_EQ(SymbolLength(ctx, StoreEntry(ctx, method)->qualifier), 1);
  EXPECT_EQ(StoreEntry(ctx, plain)->qualifier, 0);

  // A private declaration does not move; a public one moves with the new sandbox bit.
  int32_t separate = -1;
  ASSERT_EQ(DeclareFunction(ctx, "g", 1, nullptr, 0, b, true, false, a, &separate), kOk);
  EXPECT_NE(separate, plain);
  ASSERT_EQ(DeclareFunction(ctx, "g", 1, "C", 1, 0, false, true, a, &moved), kOk);
  EXPECT_EQ(moved, method);
  EXPECT_EQ(static_cast<uint32_t>(StoreEntry(ctx, method)->name), kLibrarySandboxed);
}

TEST_F(FunctionStore, DeclarationErrors) {
  const std::string long33(33, 'x');
  const std::string long32(32, 'y');
  struct Case {
    const char* name;
    int nameLength;
    const char* qualifier;
    int32_t library;
    StatusCode want;
  };
  const Case kCases[] = {
      {"", 0, nullptr, 0, kNullName},
      {long33.c_str(), 33, nullptr, 0, kNameTooLong},
      {"f", 1, long33.c_str(), 0, kNameTooLong},
      {"f", 1, nullptr, 99, kBadArg},
      {long32.c_str(), 32, nullptr, 0, kOk},
  };
  for (const Case& c : kCases) {
    int32_t entry = -1;
    const int ql = c.qualifier ? static_cast<int>(std::strlen(c.qualifier)) : 0;
    EXPECT_EQ(DeclareFunction(ctx, c.name, c.nameLength, c.qualifier, ql, c.library, false, false, 0, &entry), c.want)
        << c.nameLength << " " << ql;
  }
  // A function entry is no library to declare into.
  int32_t entry = -1;
  const int32_t f = Declare("f");
  EXPECT_EQ(DeclareFunction(ctx, "h", 1, nullptr, 0, f, false, false, 0, &entry), kBadArg);
}

TEST_F(FunctionStore, Libraries) {
  int32_t first = -1, again = -1, unread = -1;
  ASSERT_EQ(DeclareLibrary(ctx, "stats.rvl", -1, true, &first), kOk);
  EXPECT_EQ(Name(first), "stats");
  EXPECT_EQ(StoreEntry(ctx, first)->position, 0);
  ASSERT_EQ(DeclareLibrary(ctx, "statsXYZ", 5, false, &again), kOk);
  EXPECT_EQ(again, first);
  ASSERT_EQ(DeclareLibrary(ctx, "plot", -1, false, &unread), kOk);
  EXPECT_EQ(StoreEntry(ctx, unread)->position, -1);
  EXPECT_EQ(FindLibraryEntry(ctx, StoreEntry(ctx, unread)->name), unread);
  EXPECT_EQ(FindLibraryEntry(ctx, FindSymbol(ctx, "stats", 5)), first);
  EXPECT_EQ(FindLibraryEntry(ctx, -1000), -1);
  EXPECT_EQ(DeclareLibrary(ctx, "+x", -1, false, &unread), kNullName);

  // A full table gives 198 at once: libraries never grow it.
  FillTable();
  const int32_t capacity = ctx->entryCapacity;
  int32_t entry = -1;
  EXPECT_EQ(DeclareLibrary(ctx, "more", -1, false, &entry), kTooManyUserFun);
  EXPECT_EQ(ctx->entryCapacity, capacity);
}

TEST_F(FunctionStore, CurrentLibraryIsTheInnermostFrames) {
  EXPECT_EQ(GetCurrentLibraryIndex(ctx), 0);  // the base frame
  PushFrame(3);
  EXPECT_EQ(GetCurrentLibraryIndex(ctx), 3);
  ctx->frameIndex = -1;
  EXPECT_EQ(GetCurrentLibraryIndex(ctx), 0);
}

// ---------------------------------------------------------------------------
// Growth of the table

TEST_F(FunctionStore, GrowthMovesCodeAndEveryPosition) {
  const int32_t f = Compiled("f");
  const int32_t g = Compiled("g");
  int32_t lib = -1, variable = -1;
  ASSERT_EQ(DeclareLibrary(ctx, "lib", -1, true, &lib), kOk);
  StoreEntry(ctx, lib)->position = Position(g);    // stands for a use list in the code
  StoreEntry(ctx, 0)->position = Position(g) + 2;  // the base library's use list
  ASSERT_EQ(DeclareLibrary(ctx, "v", -1, true, &variable), kOk);
  *StoreEntry(ctx, variable) = FunctionStoreEntry{kEntryVariable, StoreEntry(ctx, variable)->name, 77, -1};

  // Positions held in g's code: a frame of the running thread, a thread that
  // waits, and the main thread while another thread runs.
  const int32_t gByte = 2 * Position(g);
  CallFrame* frame = PushFrame();
  frame->callerSpace = kCodeArea;
  frame->callerOffset = gByte + 40;
  frame->catchSpace = kCodeArea;
  frame->catchOffset = gByte + 42;
  frame->suspendSpace = kCodeArea;
  frame->suspendOffset = gByte + 44;
  frame->nameTable = Position(g) + 4;
  int32_t waiting = 0, running = 0, mainStack = 0;
  ThreadRecord* w = AddThread(&waiting);
  w->pcSpace = kCodeArea;
  w->pcOffset = gByte + 46;
  ThreadFrame(ctx, w)->callerSpace = kCodeArea;
  ThreadFrame(ctx, w)->callerOffset = gByte + 48;
  ThreadRecord* r = AddThread(&running);
  r->pcSpace = kCodeArea;
  r->pcOffset = gByte + 50;  // stale while it runs: the context holds its registers
  ctx->currentThread = running;
  AddThread(&mainStack, &ctx->mainThread);
  ctx->mainThread.pcSpace = kCodeArea;
  ctx->mainThread.pcOffset = gByte + 52;
  ThreadFrame(ctx, &ctx->mainThread)->nameTable = Position(g) + 6;

  FillTable();
  const int32_t free = FreeCodeWords(ctx), symbolWords = -ctx->symbolBytes / 2;
  const int32_t capacity = ctx->entryCapacity, codeTop = ctx->codeTop, fAt = Position(f), gAt = Position(g);
  const int32_t added = std::max((free - 1) / 256, 2), delta = 8 * added;

  const int32_t next = Declare("next");
  EXPECT_EQ(next, capacity);
  EXPECT_EQ(ctx->entryCapacity, capacity + added);
  EXPECT_EQ(ctx->codeTop, codeTop + delta);
  EXPECT_EQ(FreeCodeWords(ctx), free - delta - (-ctx->symbolBytes / 2 - symbolWords));
  EXPECT_EQ(Position(f), fAt + delta);
  EXPECT_EQ(Position(g), gAt + delta);
  EXPECT_TRUE(HoldsItsCode(f));
  EXPECT_TRUE(HoldsItsCode(g));
  EXPECT_EQ(StoreEntry(ctx, lib)->position, gAt + delta);
  EXPECT_EQ(StoreEntry(ctx, 0)->position, gAt + delta + 2);
  EXPECT_EQ(StoreEntry(ctx, variable)->position, 77);
  for (int32_t i = 1; i < ctx->entriesInUse; ++i) EXPECT_FALSE(Name(i).empty()) << i;
  EXPECT_EQ(Name(next), "next");
  EXPECT_EQ(Name(f), "f");

  const int32_t shifted = 2 * (gAt + delta);
  EXPECT_EQ(frame->callerOffset, shifted + 40);
  EXPECT_EQ(frame->catchOffset, shifted + 42);
  EXPECT_EQ(frame->suspendOffset, shifted + 44);
  EXPECT_EQ(frame->nameTable, gAt + delta + 4);
  EXPECT_EQ(w->pcOffset, shifted + 46);
  EXPECT_EQ(ThreadFrame(ctx, w)->callerOffset, shifted + 48);
  EXPECT_EQ(r->pcOffset, gByte + 50);
  EXPECT_EQ(ctx->mainThread.pcOffset, shifted + 52);
  EXPECT_EQ(ThreadFrame(ctx, &ctx->mainThread)->nameTable, gAt + delta + 6);
}

TEST_F(FunctionStore, NoGrowthWhileCodeRuns) {
  const int32_t f = Compiled("f");
  FillTable();
  ctx->pc.space = kCodeArea;
  ctx->pc.offset = 2 * Position(f) + 10;
  const int32_t capacity = ctx->entryCapacity, at = Position(f);
  int32_t entry = -1;
  EXPECT_EQ(DeclareFunction(ctx, "late", 4, nullptr, 0, 0, false, false, 0, &entry), kTooManyUserFun);
  EXPECT_EQ(ctx->entryCapacity, capacity);
  EXPECT_EQ(Position(f), at);
  EXPECT_TRUE(HoldsItsCode(f));
}

TEST_F(FunctionStore, GrowthNeedsMoreThanSeventeenFreeWords) {
  FillTable();
  SymbolId id = 0;
  ASSERT_EQ(InternSymbol(ctx, "zz", 2, 32, &id), kOk);
  struct Case {
    int32_t free;
    StatusCode want;
    int32_t added;
  };
  for (const Case& c : {Case{17, kTooManyUserFun, 0}, Case{18, kOk, 2}}) {
    const int32_t capacity = ctx->entryCapacity, count = ctx->entriesInUse;
    LeaveFreeCodeWords(c.free);
    int32_t entry = -1;
    EXPECT_EQ(DeclareFunction(ctx, "zz", 2, nullptr, 0, 0, false, false, 0, &entry), c.want) << c.free;
    EXPECT_EQ(ctx->entryCapacity, capacity + c.added) << c.free;
    EXPECT_EQ(ctx->entriesInUse, count + (c.want == kOk ? 1 : 0)) << c.free;
  }
}

// ---------------------------------------------------------------------------
// Compilation

TEST_F(FunctionStore, CompilesOnDemandFromTheFetchedSource) {
  int32_t lib = -1;
  ASSERT_EQ(DeclareLibrary(ctx, "lib", -1, true, &lib), kOk);
  const int32_t f = Declare("f", lib, true);
  stubs.sources["f"] = "function f\nend\nfunction g\n";
  ctx->codeTop += 1;  // a use list left the code end off the 4-word grid
  const int32_t codeTop = ctx->codeTop, descLength = ctx->descLength;

  ASSERT_EQ(CompileStoredFunction(ctx, f, nullptr, 0, false, 1), kOk);
  EXPECT_EQ(stubs.text, stubs.sources["f"]);
  EXPECT_TRUE(stubs.stop);  // the library text goes on after f
  EXPECT_TRUE(stubs.textReserved);
  EXPECT_EQ(stubs.line, 7);
  EXPECT_EQ(stubs.library, lib);
  EXPECT_EQ(stubs.entry, f);
  EXPECT_EQ(ctx->descLength, descLength);
  EXPECT_EQ(Position(f), (codeTop + 3) & ~3);
  EXPECT_EQ(ctx->codeTop, Position(f) + TakenWords());
  EXPECT_TRUE(HoldsItsCode(f));
  EXPECT_EQ(ctx->errorFunction, -1);
}

TEST_F(FunctionStore, RedefinitionGives199AndKeepsTheCode) {
  const int32_t f = Compiled("f");
  const int32_t at = Position(f), codeTop = ctx->codeTop;
  ctx->errorPosition = 12;
  ctx->errorFunction = 3;
  EXPECT_EQ(CompileStoredFunction(ctx, f, "function f", 10, false, 1), kFunAlreadyDefined);
  EXPECT_EQ(ctx->errorPosition, 0);
  EXPECT_EQ(ctx->errorFunction, -1);
  EXPECT_EQ(CurrentErrorText(kFunAlreadyDefined), "Attempt to redefine function 'f'");
  EXPECT_EQ(Position(f), at);
  EXPECT_EQ(ctx->codeTop, codeTop);
  EXPECT_TRUE(HoldsItsCode(f));
}

TEST_F(FunctionStore, MissingSourceGives122) {
  const int32_t f = Declare("nowhere");
  EXPECT_EQ(CompileStoredFunction(ctx, f, nullptr, 0, false, 1), kUndefFunOrVar);
  EXPECT_EQ(CurrentErrorText(kUndefFunOrVar), "Undefined function or variable 'nowhere'");
  EXPECT_EQ(Position(f), 0);
  EXPECT_EQ(stubs.calls, 0);
}

TEST_F(FunctionStore, FailedCompilationLeavesTheEntryDeclared) {
  const int32_t f = Declare("f");
  const int32_t codeTop = ctx->codeTop;
  stubs.answer = 150;
  EXPECT_EQ(CompileStoredFunction(ctx, f, "function f", 10, false, 1), 150);
  EXPECT_EQ(Position(f), 0);
  EXPECT_EQ(ctx->codeTop, codeTop);
  EXPECT_EQ(ctx->errorFunction, f);  // errors of the compilation are reported in f
  stubs.answer = kOk;
  EXPECT_EQ(CompileStoredFunction(ctx, f, "function f", 10, false, 1), kOk);
  EXPECT_TRUE(HoldsItsCode(f));
}

TEST_F(FunctionStore, SandboxedEntryMarksItsHeader) {
  const int32_t f = Declare("f", 0, false, true);
  ASSERT_EQ(CompileStoredFunction(ctx, f, "function f", 10, false, 1), kOk);
  EXPECT_EQ(ctx->codeBase[Position(f)] & kHeaderSandboxed, kHeaderSandboxed);
  const int32_t g = Compiled("g");
  EXPECT_EQ(ctx->codeBase[Position(g)], 0);
}

TEST_F(FunctionStore, NamesInternedWhileCompilingNeverOverlapTheCode) {
  const int32_t f = Declare("f");
  LeaveFreeCodeWords(TakenWords() + 4);
  const int32_t codeTop = ctx->codeTop;
  // The compiler names a field after writing; the name lands on its output.
  stubs.afterWriting = [](EngineContext* c) {
    SymbolId id = 0;
    ASSERT_EQ(InternSymbol(c, "a_long_field_name_here", 22, 32, &id), kOk);
  };
  EXPECT_EQ(CompileStoredFunction(ctx, f, "function f", 10, false, 1), kCodeOverflow);
  EXPECT_EQ(Position(f), 0);
  EXPECT_EQ(ctx->codeTop, codeTop);
  EXPECT_EQ(std::string(SymbolText(ctx, FindSymbol(ctx, "a_long_field_name_here", 22)), 22), "a_long_field_name_here");
}

TEST_F(FunctionStore, NoRoomForCodeGivesTheCompilersOverflow) {
  const int32_t f = Declare("f");
  LeaveFreeCodeWords(TakenWords() - 1);
  EXPECT_EQ(CompileStoredFunction(ctx, f, "function f", 10, false, 1), kCodeOverflow);
  EXPECT_EQ(Position(f), 0);
}

TEST_F(FunctionStore, DeclareAndCompileForTheHost) {
  int32_t lib = -1;
  ASSERT_EQ(DeclareLibrary(ctx, "host", -1, true, &lib), kOk);
  ASSERT_EQ(DeclareAndCompileFunction(ctx, "_d_", "K", lib, "function _d_", 12, 3, false), kOk);
  const int32_t entry = ctx->entriesInUse - 1;
  EXPECT_EQ(Name(entry), "_d_");
  EXPECT_EQ(StoreEntry(ctx, entry)->name, lib);
  EXPECT_FALSE(stubs.stop);
  EXPECT_EQ(stubs.line, 3);
  EXPECT_TRUE(HoldsItsCode(entry));
  EXPECT_EQ(DeclareAndCompileFunction(ctx, "_d_", "K", lib, "function _d_", 12, 3, false), kFunAlreadyDefined);
  EXPECT_EQ(DeclareAndCompileFunction(ctx, std::string(40, 'n').c_str(), nullptr, lib, "x", 1, 1, false), kNameTooLong);
}

// ---------------------------------------------------------------------------
// The pending pass

TEST_F(FunctionStore, PendingPassCompilesWaitingFunctionsAndReportsMissingOnes) {
  const int32_t a = Declare("a");
  const int32_t b = Declare("b");
  const int32_t c = Declare("c");
  StoreEntry(ctx, c)->position = 0;  // compiled on first use only
  stubs.sources = {{"a", "function a"}, {"c", "function c"}};

  EXPECT_EQ(CompilePendingFunctions(ctx, false), kFunNotFound);
  EXPECT_TRUE(HoldsItsCode(a));
  EXPECT_EQ(Position(b), 0);
  EXPECT_EQ(Position(c), 0);
  EXPECT_EQ(CurrentErrorText(kFunNotFound), "Can't find function definition 'b'");

  EXPECT_EQ(CompilePendingFunctions(ctx, true), kFunNotFound);
  EXPECT_TRUE(HoldsItsCode(c));
  stubs.sources["b"] = "function b";
  EXPECT_EQ(CompilePendingFunctions(ctx, true), kOk);
  EXPECT_TRUE(HoldsItsCode(b));
}

TEST_F(FunctionStore, PendingPassTakesFunctionsDeclaredWhileCompiling) {
  Declare("a");
  stubs.sources = {{"a", "function a"}, {"helper", "function helper"}};
  stubs.afterWriting = [](EngineContext* c) {
    int32_t entry = -1;
    if (FindSymbol(c, "helper", 6) == 0) {
      ASSERT_EQ(DeclareFunction(c, "helper", 6, nullptr, 0, 0, false, false, 0, &entry), kOk);
    }
  };
  EXPECT_EQ(CompilePendingFunctions(ctx, false), kOk);
  EXPECT_TRUE(HoldsItsCode(ctx->entriesInUse - 1));
  EXPECT_EQ(Name(ctx->entriesInUse - 1), "helper");
}

TEST_F(FunctionStore, LargeSourcesAreReadIntoTheDataStack) {
  const int32_t a = Declare("a");
  const int32_t b = Declare("b");
  const int32_t huge = Declare("huge");
  StoreEntry(ctx, a)->position = 0;
  stubs.sources["a"] = "function a\n" + std::string(900, '%');
  stubs.sources["b"] = "function b\n" + std::string(900, '%');
  stubs.sources["huge"] = std::string(8 * ctx->dataCapacity + 1, '%');
  while (4 * (ctx->descCapacity - ctx->descLength) >= 900) ASSERT_EQ(PushEmptyMatrix(ctx), kOk);
  const int32_t descLength = ctx->descLength, dataTop = ctx->dataTop;

  // On demand, and in the pending pass.
  ASSERT_EQ(CompileStoredFunction(ctx, a, nullptr, 0, false, 1), kOk);
  EXPECT_TRUE(stubs.textReserved);
  EXPECT_TRUE(InsideStack(stubs.textAddress, 1, ctx->dataBase, 8 * int64_t{ctx->dataCapacity}));
  stubs.textReserved = false;
  EXPECT_EQ(CompilePendingFunctions(ctx, false), kFunNotFound);  // huge fits nowhere
  EXPECT_TRUE(stubs.textReserved);
  EXPECT_EQ(CompileStoredFunction(ctx, huge, nullptr, 0, false, 1), kDataStackFull);
  EXPECT_TRUE(HoldsItsCode(a));
  EXPECT_TRUE(HoldsItsCode(b));
  EXPECT_EQ(Position(huge), 0);
  EXPECT_EQ(ctx->descLength, descLength);
  EXPECT_EQ(ctx->dataTop, dataTop);
}

TEST_F(FunctionStore, PendingPassStopsAtAHardError) {
  const int32_t a = Declare("a");
  const int32_t b = Declare("b");
  stubs.sources = {{"a", "function a"}, {"b", "function b"}};
  stubs.answer = 150;
  EXPECT_EQ(CompilePendingFunctions(ctx, false), 150);
  EXPECT_EQ(stubs.calls, 1);
  EXPECT_EQ(Position(a), 0);
  EXPECT_EQ(Position(b), -1);
}

// ---------------------------------------------------------------------------
// Discarding, dropping and resetting

TEST_F(FunctionStore, DiscardMovesLaterCodeDownAndItsPositions) {
  const int32_t f = Compiled("f");
  const int32_t g = Compiled("g");
  const int32_t h = Compiled("h");
  int32_t lib = -1;
  ASSERT_EQ(DeclareLibrary(ctx, "lib", -1, true, &lib), kOk);
  StoreEntry(ctx, lib)->position = ctx->codeTop;  // a use list of 5 words after h
  ctx->codeTop += 5;
  const int32_t fAt = Position(f), gAt = Position(g), hAt = Position(h), codeTop = ctx->codeTop;
  const int32_t length = hAt - gAt;

  CallFrame* inF = PushFrame();
  inF->callerSpace = kCodeArea;
  inF->callerOffset = 2 * fAt + 20;
  CallFrame* inH = PushFrame();
  inH->callerSpace = kCodeArea;
  inH->callerOffset = 2 * hAt + 20;
  inH->nameTable = hAt + 4;
  ctx->pc.space = kCodeArea;
  ctx->pc.offset = 2 * fAt + 30;  // running below the discarded code is fine

  ASSERT_EQ(DiscardFunctionCode(ctx, g), kOk);
  EXPECT_EQ(Position(g), 0);
  EXPECT_EQ(Position(f), fAt);
  EXPECT_EQ(Position(h), gAt);
  EXPECT_TRUE(HoldsItsCode(f));
  EXPECT_TRUE(HoldsItsCode(h));
  EXPECT_EQ(StoreEntry(ctx, lib)->position, codeTop - 5 - length);
  EXPECT_EQ(ctx->codeTop, codeTop - length);
  EXPECT_EQ(inF->callerOffset, 2 * fAt + 20);
  EXPECT_EQ(inH->callerOffset, 2 * gAt + 20);
  EXPECT_EQ(inH->nameTable, gAt + 4);
  EXPECT_EQ(ctx->pc.offset, 2 * fAt + 30);

  // Compiled again on its next call, at the code end.
  ctx->pc.space = kNoCode;
  ASSERT_EQ(CompileStoredFunction(ctx, g, "function g", 10, false, 1), kOk);
  EXPECT_EQ(Position(g) % 4, 0);
  EXPECT_TRUE(HoldsItsCode(g));
  EXPECT_EQ(DiscardFunctionCode(ctx, lib), kBadArg);
}

TEST_F(FunctionStore, DiscardIsRefusedWhileItsCodeIsHeld) {
  struct Case {
    const char* what;
    void (*hold)(EngineContext* ctx, CallFrame* frame, ThreadRecord* thread, int32_t gByte, int32_t hByte);
  };
  const Case kCases[] = {
      {"caller",
       [](EngineContext*, CallFrame* f, ThreadRecord*, int32_t g, int32_t) {
         f->callerSpace = kCodeArea;
         f->callerOffset = g + 8;
       }},
      {"catch",
       [](EngineContext*, CallFrame* f, ThreadRecord*, int32_t g, int32_t) {
         f->catchSpace = kCodeArea;
         f->catchOffset = g;
       }},
      {"suspension",
       [](EngineContext*, CallFrame* f, ThreadRecord*, int32_t g, int32_t) {
         f->suspendSpace = kCodeArea;
         f->suspendOffset = g + 2;
       }},
      {"name table", [](EngineContext*, CallFrame* f, ThreadRecord*, int32_t g, int32_t) { f->nameTable = g / 2 + 4; }},
      {"waiting thread",
       [](EngineContext*, CallFrame*, ThreadRecord* t, int32_t g, int32_t) {
         t->pcSpace = kCodeArea;
         t->pcOffset = g + 6;
       }},
      {"running code above",
       [](EngineContext* c, CallFrame*, ThreadRecord*, int32_t, int32_t h) {
         c->pc.space = kCodeArea;
         c->pc.offset = h + 4;
       }},
  };
  for (const Case& c : kCases) {
    Fresh();
    Compiled("f");
    const int32_t g = Compiled("g");
    const int32_t h = Compiled("h");
    CallFrame* frame = PushFrame();
    int32_t index = 0;
    ThreadRecord* thread = AddThread(&index);
    c.hold(ctx, frame, thread, 2 * Position(g), 2 * Position(h));
    const int32_t codeTop = ctx->codeTop, gAt = Position(g), hAt = Position(h);

    EXPECT_EQ(DiscardFunctionCode(ctx, g), kBadContext) << c.what;
    EXPECT_EQ(ctx->codeTop, codeTop) << c.what;
    EXPECT_EQ(Position(g), gAt) << c.what;
    EXPECT_EQ(Position(h), hAt) << c.what;
    EXPECT_TRUE(HoldsItsCode(g)) << c.what;
    EXPECT_TRUE(HoldsItsCode(h)) << c.what;
  }
}

TEST_F(FunctionStore, DropAfterAFailedCompileKeepsTheCodeEnd) {
  Compiled("f");
  const int32_t count = ctx->entriesInUse, codeTop = ctx->codeTop;
  const int32_t t = Declare("temp");
  stubs.answer = 150;
  EXPECT_EQ(CompileStoredFunction(ctx, t, "function temp", 13, false, 1), 150);
  ASSERT_EQ(DropLastFunction(ctx), kOk);
  EXPECT_EQ(ctx->entriesInUse, count);
  EXPECT_EQ(ctx->codeTop, codeTop);

  // Declared only: no code either.
  Declare("other");
  ASSERT_EQ(DropLastFunction(ctx), kOk);
  EXPECT_EQ(ctx->codeTop, codeTop);
  EXPECT_GE(ctx->codeTop, 8 * ctx->entryCapacity);
}

TEST_F(FunctionStore, DropGivesBackItsCodeAndKeepsLaterCode) {
  const int32_t g = Declare("g");
  const int32_t t = Compiled("temp");
  const int32_t tAt = Position(t);
  ASSERT_EQ(CompileStoredFunction(ctx, g, "function g", 10, false, 1), kOk);
  const int32_t codeTop = ctx->codeTop;

  ASSERT_EQ(DropLastFunction(ctx), kOk);
  EXPECT_EQ(ctx->entriesInUse, t);
  EXPECT_EQ(Position(g), tAt);
  EXPECT_TRUE(HoldsItsCode(g));
  EXPECT_EQ(ctx->codeTop, codeTop - TakenWords());

  // The last entry a library: nothing happens.
  int32_t lib = -1;
  ASSERT_EQ(DeclareLibrary(ctx, "lib", -1, true, &lib), kOk);
  ASSERT_EQ(DropLastFunction(ctx), kOk);
  EXPECT_EQ(ctx->entriesInUse, lib + 1);
}

TEST_F(FunctionStore, DropIsRefusedWhileItsCodeRuns) {
  const int32_t t = Compiled("temp");
  ctx->pc.space = kCodeArea;
  ctx->pc.offset = 2 * Position(t) + 8;
  const int32_t codeTop = ctx->codeTop;
  EXPECT_EQ(DropLastFunction(ctx), kBadContext);
  EXPECT_EQ(ctx->entriesInUse, t + 1);
  EXPECT_EQ(ctx->codeTop, codeTop);
}

TEST_F(FunctionStore, ResetKeepsTheBaseLibraryOnly) {
  Compiled("f");
  int32_t lib = -1;
  ASSERT_EQ(DeclareLibrary(ctx, "lib", -1, true, &lib), kOk);
  const int32_t symbols = ctx->symbolBytes;

  CallFrame* frame = PushFrame();
  frame->callerSpace = kCodeArea;
  frame->callerOffset = 2 * ctx->codeTop - 4;
  EXPECT_EQ(ResetFunctionStore(ctx), kBadContext);
  EXPECT_EQ(ctx->entriesInUse, 3);

  ctx->frameIndex = 0;
  ctx->descLength = kBaseFrameWords;
  ASSERT_EQ(ResetFunctionStore(ctx), kOk);
  EXPECT_EQ(ctx->entriesInUse, 1);
  EXPECT_EQ(ctx->codeTop, 8 * ctx->entryCapacity);
  for (int w = 0; w < kEntryWords; ++w) EXPECT_EQ(ctx->codeBase[w], 0);
  EXPECT_EQ(ctx->symbolBytes, symbols);  // names stay interned
  EXPECT_EQ(Declare("f"), 1);
  EXPECT_EQ(Position(1), -1);
}

// ---------------------------------------------------------------------------
// Text typed at the command line

TEST_F(FunctionStore, CommandLineTextCompilesEveryBlockAndReplaces) {
  int32_t cli = -1;
  ASSERT_EQ(DeclareLibrary(ctx, "_cli", -1, true, &cli), kOk);
  const std::string text = "function f\nx = 1\nprivate\nfunction C::g\ny = 2\n";
  ASSERT_EQ(
      CompileTextFunctions(ctx, cli, text.data(), static_cast<int32_t>(text.size()), nullptr, 10, true, false, false),
      kOk);
  EXPECT_EQ(stubs.loads, 1);
  EXPECT_TRUE(stubs.loadCommandLine);
  EXPECT_TRUE(stubs.loadHeaderRequired);
  EXPECT_EQ(stubs.text, "function C::g\ny = 2\n");
  EXPECT_TRUE(stubs.stop);
  EXPECT_EQ(stubs.line, 13);

  const int32_t f = ctx->entriesInUse - 2, g = ctx->entriesInUse - 1;
  EXPECT_EQ(Name(f), "f");
  EXPECT_EQ(Name(g), "g");
  EXPECT_EQ(SymbolLength(ctx, StoreEntry(ctx, g)->qualifier), 1);
  EXPECT_EQ(static_cast<uint32_t>(StoreEntry(ctx, f)->name), cli | kLibrarySandboxed);
  EXPECT_EQ(static_cast<uint32_t>(StoreEntry(ctx, g)->name), cli | kLibrarySandboxed | kLibraryPrivate);
  EXPECT_TRUE(HoldsItsCode(f));
  EXPECT_TRUE(HoldsItsCode(g));

  // Typed again: refused without the replace flag, replaced with it.
  EXPECT_EQ(
      CompileTextFunctions(ctx, cli, text.data(), static_cast<int32_t>(text.size()), nullptr, 1, false, false, true),
      kFunAlreadyDefined);
  EXPECT_FALSE(stubs.loadHeaderRequired);
  const int32_t count = ctx->entriesInUse, codeTop = ctx->codeTop;
  ASSERT_EQ(
      CompileTextFunctions(ctx, cli, text.data(), static_cast<int32_t>(text.size()), nullptr, 1, false, true, false),
      kOk);
  EXPECT_EQ(ctx->entriesInUse, count);
  EXPECT_EQ(ctx->codeTop, codeTop);
  EXPECT_TRUE(HoldsItsCode(f));
  EXPECT_TRUE(HoldsItsCode(g));
  EXPECT_GT(Position(g), Position(f));
}

TEST_F(FunctionStore, CommandLineTextErrors) {
  const std::string longName = "function " + std::string(33, 'q') + "\n";
  EXPECT_EQ(CompileTextFunctions(ctx, 0, longName.data(), static_cast<int32_t>(longName.size()), nullptr, 1, false,
                                 false, false),
            kNameTooLong);
  EXPECT_EQ(CurrentErrorText(kNameTooLong), "Name too long '" + std::string(33, 'q') + "'");

  stubs.loadAnswer = 215;
  EXPECT_EQ(CompileTextFunctions(ctx, 0, "function f\n", 11, nullptr, 1, false, false, false), 215);
  EXPECT_EQ(stubs.calls, 0);

  // A negative length only runs the pending pass.
  stubs.loads = 0;
  const int32_t p = Declare("pending");
  stubs.sources["pending"] = "function pending";
  EXPECT_EQ(CompileTextFunctions(ctx, 0, nullptr, -1, nullptr, 1, false, false, false), kOk);
  EXPECT_EQ(stubs.loads, 0);
  EXPECT_TRUE(HoldsItsCode(p));
}

TEST_F(FunctionStore, TheDefaultCompilerIsTheCodeGenerator) {
  SetFunctionStoreSeams({});
  const int32_t f = Declare("f");
  EXPECT_EQ(CompileStoredFunction(ctx, f, "function f", 10, false, 1), kOk);
  ASSERT_GT(Position(f), 0);
  const int16_t* code = ctx->codeBase + Position(f);
  EXPECT_EQ(std::vector<int16_t>(code, code + 5), (std::vector<int16_t>{0, 0, 0, 0, int16_t(Op::Return)}));
  const int32_t g = Declare("g");
  EXPECT_EQ(CompileStoredFunction(ctx, g, nullptr, 0, false, 1), kUndefFunOrVar) << "no hook delivers its source";
  EXPECT_EQ(Position(g), 0);
}

}  // namespace
