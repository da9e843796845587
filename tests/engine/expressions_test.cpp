// The expression compiler through its listings: precedence and
// associativity, literals, indexing with its keywords, calls and their result
// counts, short-circuit and conditional operators, anonymous functions,
// assignment targets, and the compile errors with their limits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/bytecode.h"
#include "engine/compiler/compiler.h"
#include "engine/functionstore.h"
#include "engine/libraries.h"
#include "stack_fixture.h"
#include "tools/disassembler.h"

namespace {

[[nodiscard]] StatusCode Native(EngineContext*, int, int, void*) { return kOk; }

// Takes every name that starts with "gen".
[[nodiscard]] StatusCode GenericHook(EngineContext*, const char* name, int length, int, int, int, void*) {
  return length >= 3 && std::strncmp(name, "gen", 3) == 0 ? kOk : 1;
}

NativeFunctionRecord Record(const char* name, int kind, int minIn, int maxIn, int minOut, int maxOut,
                            NativeHandler handler = Native) {
  NativeFunctionRecord r{};
  r.handler = handler;
  r.kind = kind;
  std::strcpy(r.name, name);
  r.minInputs = static_cast<uint8_t>(minIn);
  r.maxInputs = static_cast<uint8_t>(maxIn);
  r.minOutputs = static_cast<uint8_t>(minOut);
  r.maxOutputs = static_cast<uint8_t>(maxOut);
  return r;
}

// How an expression is compiled: values wanted, display context, assignment
// mode, functions created for unknown names.
struct Options {
  int32_t wanted = 1;
  bool display = false;
  bool assign = false;
  bool create = false;
};

class ExpressionTest : public StackFixture {
 protected:
  ExpressionTest() : StackFixture({.messages = true}) {}

  void SetUp() override {
    StackFixture::SetUp();
    for (const char* n : {"a", "b", "c", "x", "s", "g", "i"}) AddVariable(n);
  }

  void AddVariable(const char* name) {
    std::strncpy(names.data() + kVariableNameBytes * nameCount, name, kVariableNameBytes);
    ++nameCount;
  }

  // Installs natives (before any function is declared) and gives the global
  // number of the first.
  int Install(const NativeFunctionRecord* records) {
    int first = 0;
    for (int i = 0; i < ctx->libraryCount; ++i) first += ctx->libraries[i].count;
    EXPECT_EQ(InstallNativeLibrary(ctx, records, false), kOk);
    return first;
  }

  int32_t DeclareUser(const char* name) {
    int32_t entry = -1;
    EXPECT_EQ(DeclareFunction(ctx, name, static_cast<int>(std::strlen(name)), nullptr, 0, 0, false, false, 0, &entry),
              kOk);
    return entry;
  }

  // Compiles text and gives its listing as "op operands; op operands".
  std::string Compile(const std::string& text, Options o = {}) {
    codePosition = 0;
    position = 0;
    last = nullptr;
    produced = -7;
    status = CompileExpression(ctx, 0, text.data(), &position, static_cast<int32_t>(text.size()), stack, stackRoom,
                               code, codeRoom, &codePosition, names.data(), nameCount, &produced, &last,
                               {.outputsWanted = o.wanted,
                                .displayContext = o.display,
                                .createFunctions = o.create,
                                .assignmentMode = o.assign});
    DisassemblyOptions d;
    d.positions = false;
    d.ctx = ctx;
    std::string joined;
    for (const std::string& line : DisassembleLines(code, codePosition, d)) {
      if (!joined.empty()) joined += "; ";
      joined += line;
    }
    return joined;
  }

  std::vector<char> names = std::vector<char>(kVariableNameBytes * 16, 0);
  int32_t nameCount = 0;
  OperatorStackEntry stack[64];
  int32_t stackRoom = 64;
  alignas(8) int16_t code[72 * 1024];
  int32_t codeRoom = 72 * 1024;
  int32_t codePosition = 0;
  int32_t position = 0;
  int32_t produced = 0;
  int16_t* last = nullptr;
  StatusCode status = kOk;
};

struct Case {
  const char* text;
  const char* listing;
};

TEST_F(ExpressionTest, PrecedenceAndAssociativity) {
  const Case kCases[] = {
      {"1+2*3", "PushOne; PushSmallInt 2; PushSmallInt 3; mtimes; plus"},
      {"a-b-c", "LoadVar 0; LoadVar 1; minus; LoadVar 2; minus"},
      {"2^3^2", "PushSmallInt 2; PushSmallInt 3; mpower; PushSmallInt 2; mpower"},
      {"a.^b.^c", "LoadVar 0; LoadVar 1; power; LoadVar 2; power"},
      {"-a^b", "LoadVar 0; LoadVar 1; mpower; uminus"},
      {"-a*b", "LoadVar 0; uminus; LoadVar 1; mtimes"},
      {"~a==b", "LoadVar 0; LoadVar 1; eq; not"},
      {"~a&b", "LoadVar 0; not; LoadVar 1; and"},
      {"a^b'", "LoadVar 0; LoadVar 1; ctranspose; mpower"},
      {"a.'", "LoadVar 0; transpose"},
      {"a:b+1", "LoadVar 0; LoadVar 1; PushOne; plus; colon 2"},
      {"a:b:c", "LoadVar 0; LoadVar 1; LoadVar 2; colon 3"},
      {"a:b:c:x", "LoadVar 0; LoadVar 1; LoadVar 2; colon 3; LoadVar 3; colon 2"},
      {"2^-1", "PushSmallInt 2; PushOne; uminus; mpower"},
      {"a|b&c", "LoadVar 0; LoadVar 1; LoadVar 2; and; or"},
      {"a<b==c", "LoadVar 0; LoadVar 1; lt; LoadVar 2; eq"},
      {"a~==b", "LoadVar 0; LoadVar 1; unsame"},
      {"a===b", "LoadVar 0; LoadVar 1; same"},
      {"a~=b", "LoadVar 0; LoadVar 1; ne"},
      {"(a+b)*c", "LoadVar 0; LoadVar 1; plus; LoadVar 2; mtimes"},
      {"a.*b./c.\\x", "LoadVar 0; LoadVar 1; times; LoadVar 2; rdivide; LoadVar 3; ldivide"},
      {"'hi'", "PushString8 'hi'"},
      {"pi", "pi"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(Compile(c.text), c.listing) << c.text;
    EXPECT_EQ(status, kOk) << c.text;
    EXPECT_EQ(produced, 1) << c.text;
  }
}

TEST_F(ExpressionTest, MatrixAndCellLiterals) {
  const Case kCases[] = {
      {"[1,2;3,4]", "PushOne; PushSmallInt 2; horzcat 2; PushSmallInt 3; PushSmallInt 4; horzcat 2; vertcat 2"},
      {"[1;2;3]", "PushOne; horzcat 1; PushSmallInt 2; horzcat 1; vertcat 2; PushSmallInt 3; horzcat 1; vertcat 2"},
      {"[]", "PushEmpty"},
      {"{}", "MakeList 0"},
      {"{1,2}", "PushOne; PushSmallInt 2; MakeList 2"},
      {"{1;a}", "PushOne; MakeList 1; LoadVar 0; MakeList 1; vertcat 2"},
      {"[a,[]]", "LoadVar 0; PushEmpty; horzcat 2"},
      {"[-a,b']", "LoadVar 0; uminus; LoadVar 1; ctranspose; horzcat 2"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(Compile(c.text), c.listing) << c.text;
    EXPECT_EQ(status, kOk) << c.text;
  }
}

TEST_F(ExpressionTest, IndexingFieldsAndIndexKeywords) {
  const Case kCases[] = {
      {"x(i)", "RefVar 3; LoadVar 6; IndexVar 1 0 1"},
      {"x(end)", "RefVar 3; IndexEnd 0 1 1; IndexVar 1 0 1"},
      {"x(:,2)", "RefVar 3; PushSmallInt 2; IndexVar 2 1 1"},
      {"x(:,end)", "RefVar 3; IndexEnd 0 2 2; IndexVar 2 1 1"},
      {"x(1,end)", "RefVar 3; PushOne; IndexEnd 1 2 2; IndexVar 2 0 1"},
      {"x(a+end)", "RefVar 3; LoadVar 0; IndexEnd 1 1 1; plus; IndexVar 1 0 1"},
      {"x(beginning:end-1)", "RefVar 3; IndexBeginning 0 1 1; IndexEnd 1 1 1; PushOne; minus; colon 2; IndexVar 1 0 1"},
      {"x(matrixrow,matrixcol)", "RefVar 3; IndexMatrixRow 0 1 2; IndexMatrixCol 1 2 2; IndexVar 2 0 1"},
      {"x(matrixcol)", "RefVar 3; IndexMatrixCol 0 1 1; IndexVar 1 0 1"},
      {"x.f", "RefVar 3; GetField f; EndRef"},
      {"x.f.g", "RefVar 3; GetField f; GetField g; EndRef"},
      {"x{i}", "RefVar 3; LoadVar 6; CellIndexValue 1 0; EndRef"},
      {"x(1)(2)", "RefVar 3; PushOne; IndexVar 1 0 1; PushSmallInt 2; IndexValue 1 0 1"},
      {"x(1).f", "RefVar 3; PushOne; IndexGetField 1 0 f; EndRef"},
      {"x(1).f(2)", "RefVar 3; PushOne; IndexGetField 1 0 f; PushSmallInt 2; IndexVar 1 0 1"},
      {"x.(a)", "RefVar 3; LoadVar 0; GetDynamicField; EndRef"},
      {"x(1).(a)", "RefVar 3; PushOne; LoadVar 0; IndexGetDynamicField 1 0; EndRef"},
      {"x(1)+1", "RefVar 3; PushOne; IndexVar 1 0 1; PushOne; plus"},
      {"(a)(2)", "LoadVar 0; PushSmallInt 2; IndexValue 1 0 1"},
      {"x(a(end))", "RefVar 3; RefVar 0; IndexEnd 0 1 1; IndexVar 1 0 1; IndexVar 1 0 1"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(Compile(c.text), c.listing) << c.text;
    EXPECT_EQ(status, kOk) << c.text;
  }
}

TEST_F(ExpressionTest, CallsDecideTheirResultCounts) {
  const int32_t f = DeclareUser("f");
  const std::string call = "CallFunction " + std::to_string(f);
  struct CallCase {
    const char* text;
    Options options;
    const char* listing;
    int32_t produced;
  };
  const Options quiet{0, false, false, false};
  const Options shown{0, true, false, false};
  const Options two{2, false, false, false};
  const CallCase kCases[] = {
      {"size(x)", two, "LoadVar 3; size 1 2", 2},
      {"size(x)", shown, "LoadVar 3; size 1 1", 1},
      {"disp(x)", shown, "LoadVar 3; disp", 0},
      {"feval(x)", shown, "LoadVar 3; feval 1 -1", 1},
      {"feval(x)", quiet, "LoadVar 3; feval 1 0", 0},
      {"sin(x)+1", quiet, "LoadVar 3; sin; PushOne; plus", 1},
      {"max(a,b)", shown, "LoadVar 0; LoadVar 1; max 2 1", 1},
      {"f(x)", quiet, "LoadVar 3; CALL 1 0", 0},
      {"f(x)", shown, "LoadVar 3; CALL 1 -1", 1},
      {"f", quiet, "CALL 0 0", 0},
      {"f()", two, "CALL 0 2", 2},
      {"f(x)+f", quiet, "LoadVar 3; CALL 1 1; CALL 0 1; plus", 1},
      {"-size(x)", shown, "LoadVar 3; size 1 1; uminus", 1},
  };
  for (const CallCase& c : kCases) {
    std::string want = c.listing;
    for (size_t at; (at = want.find("CALL")) != std::string::npos;) want.replace(at, 4, call);
    EXPECT_EQ(Compile(c.text, c.options), want) << c.text;
    EXPECT_EQ(produced, c.produced) << c.text;
  }
  EXPECT_EQ(status, kOk);
}

TEST_F(ExpressionTest, WrongCallCountsFail) {
  Compile("disp(x)", {1, false, false, false});
  EXPECT_EQ(status, kIncorrectNargout);
  EXPECT_NE(CurrentErrorText().find("disp"), std::string::npos);
  Compile("sin(1,2)");
  EXPECT_EQ(status, kIncorrectNargin);
  EXPECT_NE(CurrentErrorText().find("(2)"), std::string::npos);
  EXPECT_NE(CurrentErrorText().find("sin"), std::string::npos);
  Compile("sin");
  EXPECT_EQ(status, kIncorrectNargin);
  Compile("a+b", {2, false, false, false});
  EXPECT_EQ(status, kIncorrectNargout);
  Compile("-size(x)", {2, false, false, false});
  EXPECT_EQ(status, kIncorrectNargout);
}

TEST_F(ExpressionTest, UserFunctionsAndNativesTakeOperatorsOver) {
  NativeFunctionRecord records[] = {Record("minus", 0, 2, 2, 1, 1),
                                    Record("twice", 0, 1, 1, 1, 1),
                                    Record("meth", 1, 0, kAnyCount, 0, 1),
                                    Record("sin", 1, 1, 1, 1, 1),
                                    {}};
  const int g = Install(records);
  auto native = [&](int k, const char* counts) { return "native " + std::to_string(g + k) + " " + counts; };
  const int32_t plus = DeclareUser("plus");
  EXPECT_EQ(Compile("a+b"), "LoadVar 0; LoadVar 1; CallFunction " + std::to_string(plus) + " 2 1");
  EXPECT_EQ(Compile("a-b"), "LoadVar 0; LoadVar 1; " + native(0, "2 1"));
  EXPECT_EQ(Compile("-a"), "LoadVar 0; uminus");
  EXPECT_EQ(Compile("twice(a)"), "LoadVar 0; " + native(1, "1 1"));
  // A class method comes after the builtins of its name.
  EXPECT_EQ(Compile("sin(a)"), "LoadVar 0; sin");
  EXPECT_EQ(Compile("meth(a)"), "LoadVar 0; " + native(2, "1 1"));

  Compile("twice(a,b)");
  EXPECT_EQ(status, kIncorrectNargin);
  EXPECT_NE(CurrentErrorText().find("twice"), std::string::npos);
  // With unknown names creating functions, the call goes to a new user function.
  const std::string listing = Compile("twice(a,b)", {1, false, false, true});
  EXPECT_EQ(status, kOk);
  EXPECT_EQ(listing, "LoadVar 0; LoadVar 1; CallFunction " + std::to_string(ctx->entriesInUse - 1) + " 2 1");
}

TEST_F(ExpressionTest, UnknownNamesGenericHooksAndCreatedFunctions) {
  NativeFunctionRecord hooks[] = {Record("+genericFun", 0, 0, 0, 0, 0, AsNativeHandler(GenericHook)), {}};
  const std::string hook = "native " + std::to_string(Install(hooks));
  Compile("qqq+1");
  EXPECT_EQ(status, kUnknownFun);
  EXPECT_NE(CurrentErrorText().find("'qqq'"), std::string::npos);

  const int32_t before = ctx->entriesInUse;
  EXPECT_EQ(Compile("qqq(1)", {1, false, false, true}), "PushOne; CallFunction " + std::to_string(before) + " 1 1");
  EXPECT_EQ(ctx->entriesInUse, before + 1);
  EXPECT_EQ(StoreEntry(ctx, before)->position, -1);
  EXPECT_EQ(StoreEntry(ctx, before)->name, 0);

  EXPECT_EQ(Compile("genx", {0, true, false, false}), "PushString8 'genx'; " + hook + " 1 -1");
  EXPECT_EQ(Compile("geny(a,2)"), "PushString8 'geny'; LoadVar 0; PushSmallInt 2; " + hook + " 3 1");
  Compile("other");
  EXPECT_EQ(status, kUnknownFun);
}

TEST_F(ExpressionTest, CallsByName) {
  const int32_t f = DeclareUser("f");
  (void)f;
  EXPECT_EQ(Compile("f(s.a)"), "RefVar 4; GetField a; EndRef; PushString8 'f'; CallByValue 2 1");
  EXPECT_EQ(Compile("f(1,x{2})"),
            "PushOne; RefVar 3; PushSmallInt 2; CellIndexValue 1 0; EndRef; PushString8 'f'; CallByValue 3 1");
  EXPECT_EQ(Compile("sin(x(1).a)"),
            "RefVar 3; PushOne; IndexGetField 1 0 a; EndRef; PushString8 'sin'; CallByValue 2 1");
  EXPECT_EQ(Compile("feval(s.a)"), "RefVar 4; GetField a; EndRef; PushEmpty; CallByValue 2 1");
  // As the operand of an operator the value is a single one: no call by name.
  EXPECT_EQ(Compile("sin(1+s.a)"), "PushOne; RefVar 4; GetField a; EndRef; plus; sin");
}

TEST_F(ExpressionTest, FunctionValuesCalledThroughFeval) {
  EXPECT_EQ(Compile("g()"), "RefVar 5; EndRef; feval 1 1");
  EXPECT_EQ(Compile("g(1)", {2, false, false, false}), "RefVar 5; EndRef; PushOne; feval 2 2");
  EXPECT_EQ(produced, 2);
  EXPECT_EQ(Compile("g(1)"), "RefVar 5; PushOne; IndexVar 1 0 1");
}

TEST_F(ExpressionTest, ShortCircuitAndConditionalJumps) {
  EXPECT_EQ(Compile("a||b"), "LoadVar 0; OrElseJump ->6; LoadVar 1");
  EXPECT_EQ(Compile("a&&b||c"), "LoadVar 0; AndAlsoJump ->6; LoadVar 1; OrElseJump ->10; LoadVar 2");
  EXPECT_EQ(Compile("a||b&&c"), "LoadVar 0; OrElseJump ->10; LoadVar 1; AndAlsoJump ->10; LoadVar 2");
  EXPECT_EQ(Compile("c?1:2"), "LoadVar 2; JumpIfFalse ->7; PushOne; Jump ->9; PushSmallInt 2");
  EXPECT_EQ(produced, 1);
  EXPECT_EQ(Compile("c?a:b+1"), "LoadVar 2; JumpIfFalse ->8; LoadVar 0; Jump ->12; LoadVar 1; PushOne; plus");
  Compile("c?1");
  EXPECT_EQ(status, kIncorrectNargin);
}

TEST_F(ExpressionTest, JumpsThatDoNotFitFail) {
  // The right operand alone is longer than a jump can reach.
  const std::string big(30000, 'z');
  Compile("a||['" + big + "','" + big + "','" + big + "']");
  EXPECT_EQ(status, kCompOutOfMemory);
  Compile("c?['" + big + "','" + big + "','" + big + "']:1");
  EXPECT_EQ(status, kCompOutOfMemory);
  Compile("a||['" + big + "','" + big + "']");
  EXPECT_EQ(status, kOk);
}

TEST_F(ExpressionTest, AnonymousFunctionsAndReferences) {
  const int32_t f = DeclareUser("f");
  (void)f;
  const Case kCases[] = {
      {"@(x)x+1", "PushString8 'x+1'; PushString8 'x'; inline 2"},
      {"@(q)q+a", "PushString8 'q+a'; PushString8 'q'; PushString8 'a'; LoadVar 0; struct 2; inline 3"},
      {"@(q,r)q*r+a*a+b",
       "PushString8 'q*r+a*a+b'; PushString8 'q'; PushString8 'r'; PushString8 'a'; LoadVar 0; PushString8 'b'; "
       "LoadVar 1; struct 4; inline 4"},
      {"@()f(1)", "PushString8 'f(1)'; true 0; inline 2"},
      {"@(q)qqq(q)", "PushString8 'qqq(q)'; PushString8 'q'; true 0; inline 3"},
      {"@(q)@(r)q+r+a", "PushString8 '@(r)q+r+a'; PushString8 'q'; PushString8 'a'; LoadVar 0; struct 2; inline 3"},
      {"{@(q)q,2}", "PushString8 'q'; PushString8 'q'; inline 2; PushSmallInt 2; MakeList 2"},
      {"@sin", "PushString8 'sin'; MakeFunctionRef 0"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(Compile(c.text), c.listing) << c.text;
    EXPECT_EQ(status, kOk) << c.text;
  }
  Compile("@3");
  EXPECT_EQ(status, kBadFunRef);
  EXPECT_NE(CurrentErrorText().find("'3'"), std::string::npos);
  Compile("@");
  EXPECT_EQ(status, kBadFunRef);
  Compile("@(x");
  EXPECT_EQ(status, kBadAnonFun);
  Compile("@(x)");
  EXPECT_EQ(status, kBadAnonFun);
}

TEST_F(ExpressionTest, AssignmentTargets) {
  Options target{1, false, true, false};
  EXPECT_EQ(Compile("a", target), "LoadVar 0");
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last, code);
  EXPECT_EQ(Compile("x(2)", target), "RefVarForAssign 3; PushSmallInt 2; IndexVarForAssign 1 0");
  EXPECT_EQ(last, code);
  EXPECT_EQ(Compile("x(i,:)", target), "RefVarForAssign 3; LoadVar 6; IndexVarForAssign 2 2");
  EXPECT_EQ(Compile("s.f", target), "RefVarForAssign 4; GetField f; EndRefAssign");
  EXPECT_EQ(Compile("s(2).f", target), "RefVarForAssign 4; PushSmallInt 2; IndexGetField 1 0 f; EndRefAssign");
  EXPECT_EQ(Compile("x{end}", target), "RefVarForAssign 3; IndexEnd 0 1 1; CellIndexValue 1 0; EndRefAssign");

  // The first of several targets stops at its comma, the last at the bracket.
  EXPECT_EQ(Compile("a,b]", target), "LoadVar 0");
  EXPECT_EQ(status, kUnexpectedExprEnd);
  EXPECT_EQ(position, 1);
  EXPECT_EQ(Compile("x(1),b]", target), "RefVarForAssign 3; PushOne; IndexVarForAssign 1 0");
  EXPECT_EQ(status, kUnexpectedExprEnd);
  EXPECT_EQ(position, 4);
  EXPECT_EQ(Compile("b]", target), "LoadVar 1");
  EXPECT_EQ(status, kUnexpectedExprEnd);

  // Outside assignment mode only a lone variable is reported.
  Compile("a", {0, true, false, false});
  EXPECT_EQ(last, code);
  Compile("a+1", {0, true, false, false});
  EXPECT_EQ(last, nullptr);
}

TEST_F(ExpressionTest, SyntaxErrors) {
  struct ErrorCase {
    const char* text;
    StatusCode status;
  };
  const ErrorCase kCases[] = {
      {"1+", kIncompleteExpr},
      {"(1", kIncompleteExpr},
      {"[1,2", kIncompleteExpr},
      {"1)", kUnexpectedExprEnd},
      {"(1,2)", kUnexpectedComma},
      {"(1;2)", kUnexpectedSemicolon},
      {"[1)", kUnexpectedRightPar},
      {"(1]", kUnexpectedRightBracket},
      {"]", kUnexpectedRightBracket},
      {"(1}", kUnexpectedRightBrace},
      {"}", kUnexpectedRightBrace},
      {":", kUnexpectedColon},
      {"a=1", kUnrecognizedToken},
      {"#", kUnrecognizedToken},
      {"1 2", kUnrecognizedToken},
      {"end", kMisplacedEnd},
      {"beginning+1", kMisplacedBeginning},
      {"matrixrow", kMisplacedMatrixrow},
      {"s.f(matrixcol)+matrixcol", kMisplacedMatrixcol},
      {"x(1,matrixrow)", kWrongIndex},
      {"x(matrixcol,1,2)", kWrongIndex},
      {"x(:,:,:,:,:,:,:,:,:,:,:,:,:,:,:,:,:)", kIndexOutOfRange},
      {"a.bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb", kNameTooLong},
  };
  for (const ErrorCase& c : kCases) {
    Compile(c.text);
    EXPECT_EQ(status, c.status) << c.text;
  }
  Compile("x(:,:,:,:,:,:,:,:,:,:,:,:,:,:,:,:)");
  EXPECT_EQ(status, kOk);
  Compile("1+#");
  EXPECT_NE(CurrentErrorText().find("'#'"), std::string::npos);
}

TEST_F(ExpressionTest, RoomAndCountLimits) {
  stackRoom = 4;
  Compile("(((((1)))))");
  EXPECT_EQ(status, kTooManyNestedSubexpr);
  stackRoom = 64;

  codeRoom = 5;
  Compile("a+b+c");
  EXPECT_EQ(status, kCodeOverflow);
  codeRoom = 72 * 1024;

  // Counts are code words: 32767 elements fit, one more does not.
  auto ones = [](int n) {
    std::string t = "[1";
    for (int k = 1; k < n; ++k) t += ",1";
    return t + "]";
  };
  Compile(ones(32767));
  EXPECT_EQ(status, kOk);
  Compile(ones(32768));
  EXPECT_EQ(status, kExprTooLarge);
  std::string call = "max(1";
  for (int k = 1; k < 32768; ++k) call += ",1";
  Compile(call + ")");
  EXPECT_EQ(status, kExprTooLarge);
}

// A field symbol interned while the code is written at the end of the code
// area must not land on that code.
TEST_F(ExpressionTest, SymbolsNeverOverwriteCodeBeingWritten) {
  int16_t* area = ctx->codeBase + ctx->codeTop;
  const int32_t room = FreeCodeWords(ctx);
  std::string text = "[1";
  for (int k = 1; k < room - 4; ++k) text += ",1";
  text += ",s.freshfieldname]";
  const int32_t symbols = ctx->symbolBytes;
  int32_t cp = 0, pos = 0, values = 0;
  StatusCode st = CompileExpression(ctx, 0, text.data(), &pos, static_cast<int32_t>(text.size()), stack, stackRoom,
                                    area, room, &cp, names.data(), nameCount, &values, nullptr, {.outputsWanted = 1});
  EXPECT_EQ(st, kCodeOverflow);
  EXPECT_EQ(ctx->symbolBytes, symbols);
  for (int k = 0; k < room - 4; ++k) ASSERT_EQ(area[k], static_cast<int16_t>(Op::PushOne)) << k;
}

TEST_F(ExpressionTest, DiscardedAssertions) {
  EXPECT_EQ(Compile("assert(a)", {0, false, false, false}), "LoadVar 0; assert 1");
  SetCodeOptions(ctx, 0, 1);
  EXPECT_EQ(Compile("assert(a)", {0, false, false, false}), "");
  EXPECT_EQ(status, kOk);
  EXPECT_EQ(produced, 0);
  EXPECT_EQ(Compile("assert(a,'m')", {0, false, false, false}), "");
}

TEST_F(ExpressionTest, PairOptimisationAtLevelFour) {
  EXPECT_EQ(Compile("-1"), "PushOne; uminus");
  SetCodeOptions(ctx, 4, 0);
  EXPECT_EQ(Compile("-1"), "PushSmallInt -1");
  EXPECT_EQ(Compile("1+2"), "PushOne; PushSmallInt 2; plus");
}

TEST_F(ExpressionTest, Helpers) {
  EXPECT_EQ(CountCallArguments("a,b)", 4, 0), 2);
  EXPECT_EQ(CountCallArguments("f(a,b),'x,)',c)+1", 19, 0), 3);
  EXPECT_EQ(CountCallArguments("a',b)", 5, 0), 2);
  EXPECT_EQ(CountCallArguments(")", 1, 0), 1);
  EXPECT_EQ(FindVariableName(names.data(), nameCount, "x", 1), 3);
  EXPECT_EQ(FindVariableName(names.data(), nameCount, "xx", 2), -1);
  int32_t cp = 0;
  int16_t out[8] = {};
  ASSERT_EQ(EmitStringLiteral("abc", 3, out, 8, &cp), kOk);
  EXPECT_EQ(cp, 4);
  EXPECT_EQ(out[1], 3);
  EXPECT_EQ(out[2], static_cast<int16_t>('a' | ('b' << 8)));
  EXPECT_EQ(out[3], 'c');
  EXPECT_EQ(EmitStringLiteral("abcdefghijklmn", 14, out, 8, &cp), kCodeOverflow);
}

// Functions of other libraries are seen through the use list, most recent
// first; private ones only from their own library.
TEST_F(ExpressionTest, VisibleUserFunctions) {
  int32_t lib1 = -1, lib2 = -1, mine = -1, f1 = -1, f2 = -1, p1 = -1, base = -1;
  ASSERT_EQ(DeclareLibrary(ctx, "one", -1, true, &lib1), kOk);
  ASSERT_EQ(DeclareLibrary(ctx, "two", -1, true, &lib2), kOk);
  ASSERT_EQ(DeclareLibrary(ctx, "mine", -1, true, &mine), kOk);
  ASSERT_EQ(DeclareFunction(ctx, "f", 1, nullptr, 0, lib1, false, false, 0, &f1), kOk);
  ASSERT_EQ(DeclareFunction(ctx, "f", 1, nullptr, 0, lib2, false, false, 0, &f2), kOk);
  ASSERT_EQ(DeclareFunction(ctx, "p", 1, nullptr, 0, lib1, true, false, 0, &p1), kOk);
  ASSERT_EQ(DeclareFunction(ctx, "h", 1, nullptr, 0, 0, false, false, 0, &base), kOk);
  ASSERT_EQ(GrowUseList(ctx, mine, nullptr), kOk);
  int16_t* list = ctx->codeBase + StoreEntry(ctx, mine)->position;
  list[list[0]] = static_cast<int16_t>(lib1);
  list[list[0] + 1] = static_cast<int16_t>(lib2);

  EXPECT_EQ(FindVisibleUserFunction(ctx, mine, "f", 1), f2);
  EXPECT_EQ(FindVisibleUserFunction(ctx, mine, "h", 1), base);
  EXPECT_EQ(FindVisibleUserFunction(ctx, mine, "p", 1), -1);
  EXPECT_EQ(FindVisibleUserFunction(ctx, lib1, "p", 1), p1);
  EXPECT_EQ(FindVisibleUserFunction(ctx, 0, "f", 1), -1);
  EXPECT_EQ(FindVisibleUserFunction(ctx, mine, "zz", 2), -1);
}

}  // namespace
