// Statement code generation: every control structure compared as a
// disassembly, expression statements and assignments, declarations, line
// markers, the misplaced-keyword errors, jumps out of range, and the
// function store compiling through CompileSource.
#include "engine/compiler/codegen.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/compiler/scanner.h"
#include "engine/function.h"
#include "engine/functionstore.h"
#include "engine/heap.h"
#include "tests/engine/stack_fixture.h"
#include "tools/disassembler.h"

namespace {

using Lines = std::vector<std::string>;

class CodegenTest : public StackFixture {
 protected:
  CodegenTest() : StackFixture({.blockCells = 512 * 1024, .messages = true}) {}

  void SetUp() override {
    Reset();
    SetCodeOptions(ctx, 0, 0);
    count = 0;
    SetFunctionStoreSeams({CompileFunctionSource, nullptr, nullptr, nullptr});
    // Variables the texts read without assigning them.
    for (const char* name : {"x", "c"}) AddName(name);
  }
  void TearDown() override { SetFunctionStoreSeams({}); }

  void AddName(const char* name) {
    std::memset(names[count], 0, kVariableNameBytes);
    std::memcpy(names[count], name, std::strlen(name));
    ++count;
  }

  // Compiles text as code that is not a function; the status, and the
  // listing in listing.
  [[nodiscard]] StatusCode Compile(const std::string& text, int level = 0, int32_t expected = 0) {
    SetCodeOptions(ctx, level, 0);
    used = 0;
    const StatusCode st = CompileSource(ctx, 0, text.data(), static_cast<int32_t>(text.size()), output.data(),
                                        static_cast<int32_t>(output.size()), &used,
                                        {.names = names[0],
                                         .nameCount = &count,
                                         .nameCapacity = kNameSlots,
                                         .expectedValues = expected,
                                         .storeInAns = storeInAns});
    listing = st == kOk ? DisassembleLines(output.data(), used) : Lines{};
    return st;
  }

  Lines Listing(const std::string& text, int level = 0) {
    EXPECT_EQ(Compile(text, level), kOk) << text;
    return listing;
  }

  std::string ErrorText() {
    if (ctx->currentErrorRecord < 0) return "<none>";
    return reinterpret_cast<const char*>(ctx->heapBase + ctx->currentErrorRecord + 1);
  }

  static constexpr int kNameSlots = 16;
  char names[kNameSlots][kVariableNameBytes] = {};
  int32_t count = 0;
  bool storeInAns = false;
  alignas(8) std::vector<int16_t> output = std::vector<int16_t>(60000);
  int32_t used = 0;
  Lines listing;
};

TEST_F(CodegenTest, IfElseifElse) {
  EXPECT_EQ(Listing("if c; x = 1; end"),
            (Lines{"0: LoadVar 1", "2: JumpIfFalse ->7", "4: PushOne", "5: StoreVar 0", "7: EndOfCode"}));
  EXPECT_EQ(Listing("if c; x = 1; elseif x; x = 2; else x = 3; end"),
            (Lines{"0: LoadVar 1", "2: JumpIfFalse ->9", "4: PushOne", "5: StoreVar 0", "7: Jump ->23", "9: LoadVar 0",
                   "11: JumpIfFalse ->19", "13: PushSmallInt 2", "15: StoreVar 0", "17: Jump ->23",
                   "19: PushSmallInt 3", "21: StoreVar 0", "23: EndOfCode"}));
}

TEST_F(CodegenTest, ConstantConditionsFromLevelOne) {
  struct Case {
    const char* text;
    int level;
    Lines want;
  };
  const Case kCases[] = {
      {"if 0; x = 1; end", 0, {"0: PushZero", "1: JumpIfFalse ->6", "3: PushOne", "4: StoreVar 0", "6: EndOfCode"}},
      {"if 0; x = 1; end", 1, {"0: Jump ->5", "2: PushOne", "3: StoreVar 0", "5: EndOfCode"}},
      {"if true; x = 1; end", 1, {"0: SkipOperand ->5", "2: PushOne", "3: StoreVar 0", "5: EndOfCode"}},
      {"if false; x = 1; end", 1, {"0: Jump ->5", "2: PushOne", "3: StoreVar 0", "5: EndOfCode"}},
      // Only an exact constant counts.
      {"if 2; x = 1; end",
       1,
       {"0: PushSmallInt 2", "2: JumpIfFalse ->7", "4: PushOne", "5: StoreVar 0", "7: EndOfCode"}},
      // Without an exit test, a while 1 loop leaves only through break.
      {"while 1; x = 1; if c; break; end; end",
       1,
       {"0: SkipOperand ->13", "2: PushOne", "3: StoreVar 0", "5: LoadVar 1", "7: JumpIfFalse ->11", "9: Jump ->13",
        "11: Jump ->0", "13: EndOfCode"}},
      {"while 0; x = 1; end", 1, {"0: Jump ->7", "2: PushOne", "3: StoreVar 0", "5: Jump ->0", "7: EndOfCode"}},
      {"repeat; x = 1; until 0", 1, {"0: PushOne", "1: StoreVar 0", "3: Jump ->0", "5: EndOfCode"}},
      {"repeat; x = 1; until 1", 1, {"0: PushOne", "1: StoreVar 0", "3: SkipOperand ->0", "5: EndOfCode"}},
  };
  for (const Case& c : kCases) EXPECT_EQ(Listing(c.text, c.level), c.want) << c.text << " at " << c.level;
}

TEST_F(CodegenTest, SwitchWithCellCasesDropsItsValueOnce) {
  EXPECT_EQ(Listing("switch x; case 1; c = 1; case {2, 3}; c = 2; otherwise; c = 3; end"),
            (Lines{"0: LoadVar 0", "2: Jump ->6", "4: Jump ->32", "6: PushOne", "7: CaseTest ->14", "9: PushOne",
                   "10: StoreVar 1", "12: Jump ->32", "14: PushSmallInt 2", "16: PushSmallInt 3", "18: MakeList 2",
                   "20: CaseTest ->28", "22: PushSmallInt 2", "24: StoreVar 1", "26: Jump ->32", "28: PushSmallInt 3",
                   "30: StoreVar 1", "32: Drop", "33: EndOfCode"}));
  // A switch without cases still drops its value.
  EXPECT_EQ(Listing("switch x; end"), (Lines{"0: LoadVar 0", "2: Jump ->4", "4: Drop", "5: EndOfCode"}));
}

TEST_F(CodegenTest, WhileAndRepeatLoops) {
  EXPECT_EQ(Listing("while c; x = 1; end"), (Lines{"0: LoadVar 1", "2: JumpIfFalse ->9", "4: PushOne", "5: StoreVar 0",
                                                   "7: Jump ->0", "9: EndOfCode"}));
  // continue in a repeat loop goes to the until test; in a while loop to the start.
  EXPECT_EQ(Listing("repeat; x = x + 1; if c; continue; end; until x > 3"),
            (Lines{"0: LoadVar 0", "2: PushOne", "3: plus", "4: StoreVar 0", "6: LoadVar 1", "8: JumpIfFalse ->12",
                   "10: Jump ->12", "12: LoadVar 0", "14: PushSmallInt 3", "16: gt", "17: JumpIfFalse ->0",
                   "19: EndOfCode"}));
  EXPECT_EQ(Listing("while c; continue; end"),
            (Lines{"0: LoadVar 1", "2: JumpIfFalse ->8", "4: Jump ->0", "6: Jump ->0", "8: EndOfCode"}));
}

TEST_F(CodegenTest, ForOverRangesMatricesAndLists) {
  EXPECT_EQ(Listing("for k = 1:3; x = k; end"),
            (Lines{"0: PushOne", "1: PushSmallInt 3", "3: RangeIterator 2", "5: ForNextRange ->15", "7: StoreVar 2",
                   "9: LoadVar 2", "11: StoreVar 0", "13: Jump ->5", "15: Drop", "16: EndOfCode"}));
  EXPECT_EQ(Listing("for k = [1 2]; end"), (Lines{"0: PushOne", "1: PushSmallInt 2", "3: horzcat 2", "5: ForNext ->11",
                                                  "7: StoreVar 2", "9: Jump ->5", "11: Drop", "12: EndOfCode"}));
  EXPECT_EQ(Listing("for k = {1, 2}; end"),
            (Lines{"0: PushOne", "1: PushSmallInt 2", "3: MakeList 2", "5: ForNext ->11", "7: StoreVar 2",
                   "9: Jump ->5", "11: Drop", "12: EndOfCode"}));
  // break inside a switch inside the loop drops the switch value first.
  EXPECT_EQ(Listing("for k = x; switch k; case 1; break; end; end"),
            (Lines{"0: LoadVar 0", "2: ForNext ->21", "4: StoreVar 2", "6: LoadVar 2", "8: Jump ->12", "10: Jump ->18",
                   "12: PushOne", "13: CaseTest ->18", "15: Drop", "16: Jump ->21", "18: Drop", "19: Jump ->2",
                   "21: Drop", "22: EndOfCode"}));
}

TEST_F(CodegenTest, TryCatch) {
  EXPECT_EQ(Listing("try; x = 1; catch; x = 2; end"),
            (Lines{"0: TryMark ->11 0", "3: PushOne", "4: StoreVar 0", "6: TryMark 0 0", "9: Jump ->18",
                   "11: TryMark 0 0", "14: PushSmallInt 2", "16: StoreVar 0", "18: EndOfCode"}));
  // Without catch an error in the region is ignored: the handler is the end.
  EXPECT_EQ(Listing("try; x = 1; end"),
            (Lines{"0: TryMark ->6 0", "3: PushOne", "4: StoreVar 0", "6: TryMark 0 0", "9: EndOfCode"}));
  // The range of the enclosing for loop stays on the stack under the handler.
  EXPECT_EQ(Listing("for k = 1:2; try; x = 1; catch; end; end"),
            (Lines{"0: PushOne", "1: PushSmallInt 2", "3: RangeIterator 2", "5: ForNextRange ->25", "7: StoreVar 2",
                   "9: TryMark ->20 1", "12: PushOne", "13: StoreVar 0", "15: TryMark 0 0", "18: Jump ->23",
                   "20: TryMark 0 0", "23: Jump ->5", "25: Drop", "26: EndOfCode"}));
}

TEST_F(CodegenTest, NestedTryPutsTheOuterHandlerBack) {
  // Each TryMark that leaves the inner region re-installs the outer handler.
  EXPECT_EQ(Listing("try; try; x = 1; catch; end; catch; end"),
            (Lines{"0: TryMark ->22 0", "3: TryMark ->14 0", "6: PushOne", "7: StoreVar 0", "9: TryMark ->22 0",
                   "12: Jump ->17", "14: TryMark ->22 0", "17: TryMark 0 0", "20: Jump ->25", "22: TryMark 0 0",
                   "25: EndOfCode"}));
  // break out of a protected region inside the loop ends the region first.
  EXPECT_EQ(Listing("while c; try; break; catch; end; end"),
            (Lines{"0: LoadVar 1", "2: JumpIfFalse ->22", "4: TryMark ->17 0", "7: TryMark 0 0", "10: Jump ->22",
                   "12: TryMark 0 0", "15: Jump ->20", "17: TryMark 0 0", "20: Jump ->0", "22: EndOfCode"}));
  // With a protected region around the loop, its handler comes back.
  EXPECT_EQ(
      Listing("try; while c; try; break; end; end; end"),
      (Lines{"0: TryMark ->20 0", "3: LoadVar 1", "5: JumpIfFalse ->20", "7: TryMark ->15 0", "10: TryMark ->20 0",
             "13: Jump ->20", "15: TryMark ->20 0", "18: Jump ->3", "20: TryMark 0 0", "23: EndOfCode"}));
}

// Whole units are threaded from level 2; empty range loops go from level 3.
TEST_F(CodegenTest, OptimisationLevelsOverAUnit) {
  const char* loop = "while c; if x; x = 1; end; end";
  EXPECT_EQ(Listing(loop, 1)[3], "6: JumpIfFalse ->11");
  EXPECT_EQ(Listing(loop, 2)[3], "6: JumpIfFalse ->0");

  const char* empty = "for k = 1:10; end";
  auto has = [](const Lines& lines, const std::string& text) {
    for (const std::string& l : lines)
      if (l.find(text) != std::string::npos) return true;
    return false;
  };
  for (int level = 0; level <= 4; ++level) {
    const Lines code = Listing(empty, level);
    EXPECT_EQ(has(code, "ForNextRange"), level < 3) << level;
    EXPECT_EQ(has(code, "RangeLastValue"), level >= 3) << level;
  }
  EXPECT_TRUE(has(Listing("for k = 1:10; x = 1; end", 4), "ForNextRange"));
}

TEST_F(CodegenTest, ExpressionStatements) {
  struct Case {
    const char* text;
    int level;
    bool ans;
    Lines want;
  };
  const Case kCases[] = {
      {"x", 0, false, {"0: DisplayVar 0", "2: EndOfCode"}},
      {"x;", 4, false, {"0: EndOfCode"}},
      {"x;", 0, false, {"0: LoadVar 0", "2: Drop", "3: EndOfCode"}},
      {"sin(x);", 0, false, {"0: LoadVar 0", "2: sin", "3: Drop", "4: EndOfCode"}},
      {"sin(x);", 4, false, {"0: EndOfCode"}},
      {"sin(x)", 0, false, {"0: LoadVar 0", "2: sin", "3: disp", "4: EndOfCode"}},
      // disp is not pure: it stays at level 4.
      {"disp(x);", 4, false, {"0: LoadVar 0", "2: disp", "3: EndOfCode"}},
      {"sin(x);", 4, true, {"0: LoadVar 1", "2: sin", "3: StoreVar 0", "5: EndOfCode"}},
      {"sin(x)", 0, true, {"0: LoadVar 1", "2: sin", "3: StoreAnsDisplay 0", "5: EndOfCode"}},
      {"x", 0, true, {"0: DisplayVar 1", "2: EndOfCode"}},
  };
  for (const Case& c : kCases) {
    count = 0;
    if (c.ans) AddName("ans");
    AddName("x");
    storeInAns = c.ans;
    EXPECT_EQ(Listing(c.text, c.level), c.want) << c.text << " at " << c.level;
  }
}

TEST_F(CodegenTest, AssignmentsStoreInTextOrder) {
  EXPECT_EQ(Listing("[a, b] = size(x);"),
            (Lines{"0: LoadVar 0", "2: size 1 2", "5: StoreVar 2", "7: StoreVar 3", "9: EndOfCode"}));
  EXPECT_EQ(Listing("[a, b] = size(x)"), (Lines{"0: LoadVar 0", "2: size 1 2", "5: StoreVar 2", "7: DisplayStored 2",
                                                "9: StoreVar 3", "11: DisplayStored 3", "13: EndOfCode"}));
}

TEST_F(CodegenTest, UserFunctionCalledForNoValueDropsNothing) {
  int32_t f = 0;
  ASSERT_EQ(DeclareFunction(ctx, "f", 1, nullptr, 0, 0, false, false, 0, &f), kOk);
  EXPECT_EQ(Listing("f(x);"), (Lines{"0: LoadVar 0", "2: CallFunction " + std::to_string(f) + " 1 0", "6: EndOfCode"}));
}

TEST_F(CodegenTest, LineMarkers) {
  SetLineInfoFlag(ctx, 1);
  // while places its marker inside the loop, so each test passes it.
  EXPECT_EQ(Listing("x = 1;\nwhile c\nx = 2;\nend"),
            (Lines{"0: LineMarker -1 1", "3: PushOne", "4: StoreVar 0", "6: LineMarker -1 2", "9: LoadVar 1",
                   "11: JumpIfFalse ->25", "13: LineMarker -1 3", "16: PushSmallInt 2", "18: StoreVar 0",
                   "20: LineMarker -1 4", "23: Jump ->6", "25: EndOfCode"}));
  // repeat has none of its own.
  EXPECT_EQ(Listing("repeat\nuntil c"),
            (Lines{"0: LineMarker -1 2", "3: LoadVar 1", "5: JumpIfFalse ->0", "7: EndOfCode"}));
}

TEST_F(CodegenTest, MisplacedKeywords) {
  struct Case {
    const char* text;
    StatusCode want;
  };
  const Case kCases[] = {
      {"until c", kUnexpectedUntil},
      {"if c; until c; end", kUnexpectedUntil},
      {"end", kUnexpectedEnd},
      {"repeat; end", kUnexpectedEnd},
      {"else", kUnexpectedElse},
      {"if c; else; else; end", kUnexpectedElse},
      {"if c; else; elseif c; end", kUnexpectedElse},
      {"while c; elseif c; end", kUnexpectedElse},
      {"case 1", kUnexpectedCase},
      {"otherwise", kUnexpectedCase},
      {"switch x; if c; case 1; end; end", kUnexpectedCase},
      {"catch", kUnexpectedCatch},
      {"try; catch; catch; end", kUnexpectedCatch},
      {"break", kUnexpectedBreak},
      {"if c; continue; end", kUnexpectedBreak},
      {"try; break; end", kUnexpectedBreak},
      {"for x(2) = 1:3; end", kBadForVar},
      {"x + 1 = 2;", kBadAsgnVar},
      {"x(1) + 1 = 2;", kBadAsgnVar},
      {"x.f + 1 = 2;", kBadAsgnVar},
      {"while c", kUnboundedConstruct},
      {"repeat; x = 1;", kUnboundedConstruct},
      {"if disp(c); end", kIncorrectNargout},
      {"for k = disp(c); end", kIncorrectNargout},
  };
  for (const Case& c : kCases) EXPECT_EQ(Compile(c.text), c.want) << c.text;
}

TEST_F(CodegenTest, UnboundedConstructNamesTheOpeningLine) {
  EXPECT_EQ(Compile("x = 1;\nif c\nfor k = 1:2\nend\nx = 2;"), kUnboundedConstruct);
  EXPECT_EQ(ctx->errorPosition, 2);
  EXPECT_NE(ErrorText().find("'if'"), std::string::npos) << ErrorText();
  // A statement's own error carries its line.
  EXPECT_EQ(Compile("x = 1;\n\nelse"), kUnexpectedElse);
  EXPECT_EQ(ctx->errorPosition, 3);
  // The current frame places the error too.
  ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  EXPECT_EQ(Compile("x = 1;\n\nelse"), kUnexpectedElse);
  const CallFrame* f = CurrentFrame(ctx);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->line, 3);
  EXPECT_EQ(f->function, -1);
}

TEST_F(CodegenTest, ControlStackFull) {
  // Pass 1's records, then pass 2 with room for two open structures only.
  const char text[] = "repeat; repeat; repeat; until c; until c; until c";
  std::vector<int32_t> records(256);
  int32_t recordWords = 0, line = 1;
  ASSERT_EQ(SplitStatements(ctx, records.data(), 256, &recordWords, text, sizeof text - 1, false, nullptr, 0, nullptr,
                            names[0], &count, kNameSlots, false, false, &line),
            kOk);
  int32_t control[14];
  int32_t position = 0;
  EXPECT_EQ(GenerateStatementCode(ctx, 0, records.data(), recordWords, control, 14, output.data(), 1000, &position, -1,
                                  0, nullptr, names[0], count, false, false),
            kTooManyNestedBlocks);
}

// Jumps whose offset does not fit a word fail with 180 instead of jumping
// somewhere else: forward, backward and along chains.
TEST_F(CodegenTest, JumpsOutOfRangeFailCleanly) {
  auto body = [](int statements) {
    std::string s;
    for (int k = 0; k < statements; ++k) s += "x = 1;";
    return s;
  };
  // Each "x = 1;" is three words.
  const std::string fits = body(10000), tooLong = body(11000);
  EXPECT_EQ(Compile("if c; " + fits + " end"), kOk);
  const char* kShapes[][2] = {
      {"if c; ", " end"},
      {"while c; ", " end"},
      {"repeat; ", " until c"},
      {"for k = 1:2; ", " end"},
      {"while c; break; ", " end"},
      {"try; ", " catch; end"},
      {"if c; else ", " end"},
      {"repeat; continue; ", " until c"},
      {"if c; elseif c; ", " elseif c; end"},
  };
  for (const auto& shape : kShapes)
    EXPECT_EQ(Compile(shape[0] + tooLong + shape[1]), kCompOutOfMemory) << shape[0] << "..." << shape[1];
}

TEST_F(CodegenTest, CodeRoomIsChecked) {
  SetCodeOptions(ctx, 0, 0);
  const char text[] = "while c; x = 1; end";
  for (int32_t room = 0; room < 11; ++room) {
    int32_t words = 0;
    const StatusCode st = CompileSource(ctx, 0, text, sizeof text - 1, output.data(), room, &words,
                                        {.names = names[0], .nameCount = &count, .nameCapacity = kNameSlots});
    EXPECT_EQ(st, room < 10 ? kCodeOverflow : kOk) << room;
  }
}

TEST_F(CodegenTest, GlobalAndPersistentDeclarations) {
  EXPECT_EQ(Listing("global g, h"), (Lines{"0: DeclareGlobal 2 0", "3: DeclareGlobal 3 0", "6: EndOfCode"}));
  const int32_t entries = ctx->entriesInUse;
  const FunctionStoreEntry* g = StoreEntry(ctx, entries - 2);
  EXPECT_EQ(g->kind, kEntryVariable);
  EXPECT_EQ(std::string(SymbolText(ctx, g->name), SymbolLength(ctx, g->name)), "g");
  EXPECT_EQ(g->position, -1);
  EXPECT_EQ(g->qualifier, -1);
  // Declaring again adds no entry.
  EXPECT_EQ(Compile("global g"), kOk);
  EXPECT_EQ(ctx->entriesInUse, entries);

  // A persistent belongs to its function.
  SetLineInfoFlag(ctx, 1);
  const char source[] = "function f\npersistent p\n";
  ASSERT_EQ(DeclareAndCompileFunction(ctx, "f", nullptr, 0, source, sizeof source - 1, 1, false), kOk);
  const FunctionStoreEntry* p = StoreEntry(ctx, ctx->entriesInUse - 1);
  EXPECT_EQ(p->kind, kEntryVariable);
  EXPECT_EQ(p->qualifier, ctx->entriesInUse - 2);
}

TEST_F(CodegenTest, DefinitionBlocksAndSingleExpressions) {
  int32_t values = 0, words = 0;
  const char define[] = "define k = 3";
  ASSERT_EQ(CompileSource(ctx, 0, define, sizeof define - 1, output.data(), 1000, &words,
                          {.function = 5, .valueCount = &values}),
            kOk);
  EXPECT_EQ(values, 1);
  EXPECT_EQ(output[0], kHeaderDefine);
  EXPECT_EQ(DisassembleLines(output.data() + 4, words - 4), (Lines{"0: PushSmallInt 3", "2: EndOfCode"}));

  EXPECT_EQ(Compile("size(x)", 0, 2), kOk);
  EXPECT_EQ(listing, (Lines{"0: LoadVar 0", "2: size 1 2", "5: EndOfCode"}));
  EXPECT_EQ(Compile("x = 1", 0, 1), kUnexpectedStatement);
  EXPECT_EQ(Compile("if c", 0, 1), kUnexpectedStatement);
}

TEST_F(CodegenTest, StoreCompilesFunctionsThroughCompileSource) {
  const char source[] = "function y = f(x)\ny = x;\nif x; return; end\n";
  int32_t f = 0;
  ASSERT_EQ(DeclareFunction(ctx, "f", 1, nullptr, 0, 0, false, false, 0, &f), kOk);
  ASSERT_EQ(CompileStoredFunction(ctx, f, source, sizeof source - 1, false, 1), kOk);
  const auto* h = reinterpret_cast<const CompiledFunctionHeader*>(ctx->codeBase + StoreEntry(ctx, f)->position);
  EXPECT_EQ(h->flags, 0);
  EXPECT_EQ(h->variables, 2);
  EXPECT_EQ(h->inputs, 1);
  EXPECT_EQ(h->outputs, 1);
  EXPECT_STREQ(HeaderNameTable(h) + kVariableNameBytes, "x");
  EXPECT_EQ(DisassembleLines(FunctionCode(h), 10),
            (Lines{"0: LoadVar 1", "2: StoreVar 0", "4: LoadVar 1", "6: JumpIfFalse ->9", "8: Return", "9: Return"}));
  EXPECT_EQ(ctx->errorFunction, -1);
}

// Compiled code and interned names share the free words of the code area:
// a name that would land on code already written is refused, and code never
// runs into the names.
TEST_F(CodegenTest, CodeNeverRunsIntoTheSymbolArea) {
  // Five 32-character globals: header and names take 84 words, the code 16,
  // the new names 83, one word is held back.
  std::string source = "function f\nglobal";
  for (char c = 'a'; c < 'f'; ++c) source += " " + std::string(32, c);
  for (const int32_t free : {176, 184}) {
    SetUp();
    int32_t f = 0;
    ASSERT_EQ(DeclareFunction(ctx, "f", 1, nullptr, 0, 0, false, false, 0, &f), kOk);
    const SymbolId name = StoreEntry(ctx, f)->kind;
    ctx->codeTop = (ctx->codeTop + FreeCodeWords(ctx) - free) & ~3;
    const StatusCode st = CompileStoredFunction(ctx, f, source.data(), static_cast<int32_t>(source.size()), false, 1);
    EXPECT_EQ(st, free < 184 ? kCodeOverflow : kOk) << free;
    // The oldest name is found only when every newer one is intact.
    EXPECT_EQ(FindSymbol(ctx, "f", 1), name) << free;
    EXPECT_GE(FreeCodeWords(ctx), 0) << free;
  }
}

TEST_F(CodegenTest, RemovedNamesKeepTheCode) {
  const char source[] = "function y = f(x)\ny = x;";
  int32_t words = 0;
  ASSERT_EQ(CompileSource(ctx, 0, source, sizeof source - 1, output.data(), 1000, &words,
                          {.function = 7, .removeNames = true}),
            kOk);
  const auto* h = reinterpret_cast<const CompiledFunctionHeader*>(output.data());
  EXPECT_EQ(h->flags, kHeaderNamesStripped);
  EXPECT_EQ(HeaderWords(h), 5);
  EXPECT_EQ(words, 5 + 5);
  EXPECT_EQ(DisassembleLines(FunctionCode(h), 5), (Lines{"0: LoadVar 1", "2: StoreVar 0", "4: Return"}));
}

}  // namespace
