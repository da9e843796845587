// Pass 1 of the compiler: statements copied and normalised, split into
// targets and expressions, classified into records; variable names; function
// headers with varargin, varargout and default inputs; and its compile errors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/compiler/scanner.h"
#include "engine/registry.h"
#include "tests/engine/stack_fixture.h"

namespace {

int Length(const char* text) { return static_cast<int>(std::strlen(text)); }

// A record as the test reads it back.
struct Record {
  int32_t cls;
  int32_t line;
  int32_t targets;
  std::string target;
  std::string expression;
  bool operator==(const Record&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Record& r) {
  return os << "{" << r.cls << ", line " << r.line << ", " << r.targets << ", \"" << r.target << "\", \""
            << r.expression << "\"}";
}

class Statements : public StackFixture {
 protected:
  Statements() : StackFixture({.messages = true}) {}

  std::string ErrorText() { return CurrentErrorText(); }

  // Pass 1 over text; the records are left in `records`, the names in `names`.
  [[nodiscard]] StatusCode Split(const char* text, bool functionMode = false, bool stop = false, bool skip = false,
                                 int32_t firstLine = 1) {
    records.clear();
    names.clear();
    line = firstLine;
    int32_t used = 0;
    headerWords = -1;
    const StatusCode st =
        SplitStatements(ctx, scratch, scratchWords, &used, text, Length(text), stop, header, outputWords, &headerWords,
                        table, &tableCount, tableCapacity, functionMode, skip, &line);
    if (st != kOk) return st;
    for (const auto* r = reinterpret_cast<const StatementRecord*>(scratch);
         reinterpret_cast<const int32_t*>(r) < scratch + used; r = NextStatementRecord(r)) {
      records.push_back({r->cls, r->line, r->targets, std::string(RecordTargetText(r), r->targetLength),
                         std::string(RecordExpressionText(r), r->expressionLength)});
      // Padding is zero, so pass 2 may read the texts in whole words.
      const char* t = RecordTargetText(r);
      for (int k = r->targetLength; k % 4 != 0; ++k) EXPECT_EQ(t[k], 0);
      t = RecordExpressionText(r);
      for (int k = r->expressionLength; k % 4 != 0; ++k) EXPECT_EQ(t[k], 0);
    }
    const char* slots = functionMode ? HeaderNameTable(Header()) : table;
    const int32_t count = functionMode ? Header()->variables : tableCount;
    for (int32_t k = 0; k < count; ++k) names.push_back(std::string(slots + 32 * k, strnlen(slots + 32 * k, 32)));
    return kOk;
  }

  const CompiledFunctionHeader* Header() { return reinterpret_cast<const CompiledFunctionHeader*>(header); }
  std::vector<int> Inputs() {
    return std::vector<int>(InputVariables(Header()), InputVariables(Header()) + Header()->inputs);
  }

  std::vector<int32_t> Classes() {
    std::vector<int32_t> c;
    for (const Record& r : records) c.push_back(r.cls);
    return c;
  }

  // CopyStatementText alone; the copied text, or the status as text.
  std::string Copy(const char* text, bool splitting = false, int room = 256) {
    char out[256];
    int p = 0;
    int expression = 0, target = 0;
    int32_t targets = 0;
    const StatusCode st = CopyStatementText(ctx, text, Length(text), &p, out, room, &expression,
                                            splitting ? &targets : nullptr, &target, &line);
    if (st != kOk) return "error " + std::to_string(st);
    stopped = p;
    if (!splitting || targets == 0) return std::string(out, expression);
    return std::string(out, target) + " = " + std::string(out + ((target + 3) & ~3), expression) + " (" +
           std::to_string(targets) + ")";
  }

  static constexpr int32_t scratchWords = 512;
  int32_t scratch[scratchWords] = {};
  alignas(8) int16_t header[1024] = {};
  int32_t outputWords = 1024;
  int32_t headerWords = 0;
  char table[32 * 8] = {};
  int32_t tableCount = 0;
  int32_t tableCapacity = 8;
  int32_t line = 1;
  int stopped = 0;
  std::vector<Record> records;
  std::vector<std::string> names;
};

// ---------------------------------------------------------------------------
// Copying one statement

TEST_F(Statements, CopyNormalisesTheText) {
  struct Case {
    const char* text;
    const char* want;
  };
  const Case kCases[] = {
      {"a + b", "a+b"},
      {"x = 1 % comment", "x=1"},
      {"x = 1 // comment", "x=1"},
      {"x = 1 /* a\n b */ + 2", "x=1+2"},
      {"x = 1 + ...\n 2", "x=1+2"},
      {"f(a,\n b)", "f(a,b)"},
      {"{1, 2}", "{1,2}"},
      {"[1 2\n 3 4]", "[1,2;3,4]"},
      {"[1 2 \n 3 4 \n]", "[1,2;3,4]"},
      {"[\n1 2\n]", "[1,2]"},
      {"[1, 2, ]", "[1,2]"},
      {"[1 , 2]", "[1,2]"},
      {"[1;;2]", "[1;2]"},
      {"[1,;2]", "[1;2]"},
      {"[1;,2]", "[1;2]"},
      {"[1 % c\n 2]", "[1;2]"},
      {"[1 ...\n 2]", "[1,2]"},
      {"[a - b]", "[a-b]"},
      {"[a -b]", "[a,-b]"},
      {"[a b]", "[a,b]"},
      {"[a (1)]", "[a,(1)]"},
      {"[a == b]", "[a==b]"},
      {"[a* b]", "[a*b]"},
      {"[1. 2]", "[1.,2]"},
      {"[a' b']", "[a',b']"},
      {"[a.' b]", "[a.',b]"},
      {"[a 'x y']", "[a,'x y']"},
      {"[f(a) {1 2}]", "error 150"},
      {"[ f(1, 2) ]", "[f(1,2)]"},
      {"x = 'a b ; c'", "x='a b ; c'"},
      {"x = 'it''s' ;", "x='it''s'"},
      {"s = 'a\\'b c'", "s='a\\'b c'"},
      {"a'' + 1", "a''+1"},      // two transposes: nothing after them is a string
      {"c{1}' + 1", "c{1}'+1"},  // a quote after "}" transposes
      {"x = a ' + 1", "x=a'+1"},
      {"x = 1, y = 2", "x=1"},
      {"x = 1; y", "x=1"},
  };
  for (const Case& c : kCases) EXPECT_EQ(Copy(c.text), c.want) << c.text;
}

TEST_F(Statements, CopySplitsAssignments) {
  struct Case {
    const char* text;
    const char* want;
  };
  const Case kCases[] = {
      {"x = 1", "x = 1 (1)"},
      {"[a, b] = size(m)", "[a,b] = size(m) (2)"},
      {"[a b] = size(m)", "[a,b] = size(m) (2)"},
      {"[a, b, ] = f", "[a,b] = f (2)"},
      {"(a, b) = f", "(a,b) = f (2)"},
      {"x(1, 2) = 3", "x(1,2) = 3 (1)"},
      {"a(x=1)", "a(x = 1) (1)"},
      {"x == 1", "x==1"},
      {"x <= 1", "x<=1"},
      {"x >= 1", "x>=1"},
      {"x ~= 1", "x~=1"},
      {"x === 1", "x===1"},
      {"x = y == 1", "x = y==1 (1)"},
      {"s = 'a=b'", "s = 'a=b' (1)"},
      {"[1, 2, 3]", "[1,2,3]"},
  };
  for (const Case& c : kCases) EXPECT_EQ(Copy(c.text, true), c.want) << c.text;
}

TEST_F(Statements, CopyErrors) {
  struct Case {
    const char* text;
    StatusCode want;
  };
  const std::string deep(31, '(');
  const std::string deepest = std::string(30, '(') + std::string(30, ')');
  const Case kCases[] = {
      {"a b", kSyntaxErr},
      {"{1 2}", kSyntaxErr},
      {"f(a b)", kSyntaxErr},
      {"f(a\n b)", kSyntaxErr},
      {"[a + ]", kOk},
      {"[a + ", kSyntaxErr},
      {"f(1}", kUnexpectedRightBrace},
      {"{1)", kUnexpectedRightPar},
      {"(1]", kUnexpectedRightBracket},
      {"[1)", kUnexpectedRightPar},
      {"1)", kUnexpectedRightPar},
      {"]", kUnexpectedRightBracket},
      {"x}", kUnexpectedRightBrace},
      {deep.c_str(), kTooManyNestedPar},
      {deepest.c_str(), kOk},
  };
  for (const Case& c : kCases) {
    const std::string got = Copy(c.text);
    if (c.want == kOk)
      EXPECT_EQ(got.rfind("error", 0), std::string::npos) << c.text;
    else
      EXPECT_EQ(got, "error " + std::to_string(c.want)) << c.text;
  }
  // Every byte written is tested against the room.
  EXPECT_EQ(Copy("abcdef", false, 6), "abcdef");
  EXPECT_EQ(Copy("abcdefg", false, 6), "error 183");
  EXPECT_EQ(Copy("ab = 1", true, 4), "error 183");  // the expression starts at byte 4
  EXPECT_EQ(Copy("ab = 1", true, 5), "ab = 1 (1)");
}

TEST_F(Statements, CopyLeavesTheStatementEndAndCountsLines) {
  line = 1;
  EXPECT_EQ(Copy("x = 1   \n y"), "x=1");
  EXPECT_EQ(stopped, 8);
  EXPECT_EQ(line, 1);
  EXPECT_EQ(Copy("x = [1 ...\n\n\n 2]"), "x=[1,2]");
  EXPECT_EQ(line, 4);
  EXPECT_EQ(Copy("s = 'a\nb'"), "s='a\nb'");
  EXPECT_EQ(line, 5);
}

// ---------------------------------------------------------------------------
// Names

TEST_F(Statements, FindOrAddVariable) {
  char slots[32 * 3] = {};
  int32_t count = 0;
  int32_t index = -1;
  int marker = -1;
  auto add = [&](const char* text, bool declaring, int32_t capacity = 3) {
    int p = 0;
    return FindOrAddVariable(text, Length(text), &p, slots, &count, capacity, declaring, &index, &marker, ctx);
  };
  EXPECT_EQ(add("ab(1)", true), kOk);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(add("a", false), kOk);  // a prefix of a name is another name
  EXPECT_EQ(index, 1);
  EXPECT_EQ(add("ab.x", false), kOk);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(add("ab", true), kReusedVarName);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(add("varargin", false), kOk);
  EXPECT_EQ(marker, 1);
  EXPECT_EQ(add("varargin", false), kOk);
  EXPECT_EQ(marker, 0);
  EXPECT_EQ(add("x", false), kVarTableOverflow);
  EXPECT_EQ(add("1x", false), kBadVarName);
  EXPECT_EQ(add("x", false, 0), kVarNotFound);
  EXPECT_NE(ErrorText().find("Variable not found 'x'"), std::string::npos) << ErrorText();
  int p = 0;
  EXPECT_EQ(FindOrAddVariable("x", 1, &p, nullptr, &count, 3, false, &index, nullptr, ctx), kVarNotFound);

  // 32 characters fill the slot with no terminator; 33 are too many.
  count = 0;
  const char* name32 = "abcdefghijklmnopqrstuvwxyz012345";
  EXPECT_EQ(add(name32, false), kOk);
  EXPECT_EQ(std::memcmp(slots, name32, 32), 0);
  EXPECT_EQ(add(name32, true), kReusedVarName);
  EXPECT_EQ(add("abcdefghijklmnopqrstuvwxyz0123456", false), kNameTooLong);
  EXPECT_NE(ErrorText().find("Name too long 'abcdefghijklmnopqrstuvwxyz0123456'"), std::string::npos) << ErrorText();
}

TEST_F(Statements, TargetsBecomeVariablesInTheCallersTable) {
  std::memcpy(table, "ans", 3);
  std::memcpy(table + 32, "x", 1);
  tableCount = 2;
  ASSERT_EQ(Split("x = 1; z = 2; [p, q(2)] = f; a(2).b{3} = 1; s.(f) = 2; y == 3; t"), kOk);
  EXPECT_EQ(names, (std::vector<std::string>{"ans", "x", "z", "p", "q", "a", "s"}));
  EXPECT_EQ(tableCount, 7);
  EXPECT_EQ(headerWords, 0);

  tableCount = 0;
  tableCapacity = 1;
  EXPECT_EQ(Split("a = 1; b = 2"), kVarTableOverflow);
  tableCapacity = 0;
  EXPECT_EQ(Split("a = 1"), kVarNotFound);
  EXPECT_EQ(Split("disp(1)"), kOk);  // no names needed
}

// ---------------------------------------------------------------------------
// Statements

TEST_F(Statements, ExpressionStatementsAndTheirDisplay) {
  ASSERT_EQ(Split("x = 1; y = 2"), kOk);
  EXPECT_EQ(records, (std::vector<Record>{{0, 1, 1, "x", "1"}, {1, 1, 1, "y", "2"}}));
  ASSERT_EQ(Split("x = 1;"), kOk);
  EXPECT_EQ(records, (std::vector<Record>{{0, 1, 1, "x", "1"}}));
  ASSERT_EQ(Split("[a b] = size(m)\n  sin(x) ;\n,,;\n"), kOk);
  EXPECT_EQ(records, (std::vector<Record>{{1, 1, 2, "[a,b]", "size(m)"}, {0, 2, 0, "", "sin(x)"}}));
  ASSERT_EQ(Split("x = 1 +\n... what follows is a comment\n 2"), kOk);  // a line that starts with "..." continues
  EXPECT_EQ(records, (std::vector<Record>{{1, 1, 1, "x", "1+2"}}));
}

TEST_F(Statements, Commands) {
  ASSERT_EQ(Split("format long\nhold on;\nx -y, cd ../a % note"), kOk);
  EXPECT_EQ(records, (std::vector<Record>{{1, 1, 0, "", "format('long')"},
                                          {0, 2, 0, "", "hold('on')"},
                                          {1, 3, 0, "", "x('-y')"},
                                          {1, 3, 0, "", "cd('../a')"}}));
  ASSERT_EQ(Split("x - y"), kOk);
  EXPECT_EQ(records, (std::vector<Record>{{1, 1, 0, "", "x-y"}}));
}

TEST_F(Statements, KeywordStatements) {
  ASSERT_EQ(Split("if x == 1, y = 1, elseif z\nelse w\nend\n"
                  "switch v\ncase {1, 2}\notherwise\nend\n"
                  "while c, break, continue, end\n"
                  "for k = 1:n\nend\n"
                  "repeat\nuntil d\n"
                  "try x, catch, end\n"
                  "return"),
            kOk);
  EXPECT_EQ(records, (std::vector<Record>{
                         {3, 1, 0, "", "x==1"}, {1, 1, 1, "y", "1"},  {4, 1, 0, "", "z"},     {5, 2, 0, "", ""},
                         {1, 2, 0, "", "w"},    {6, 3, 0, "", ""},    {7, 4, 0, "", "v"},     {8, 5, 0, "", "{1,2}"},
                         {9, 6, 0, "", ""},     {6, 7, 0, "", ""},    {11, 8, 0, "", "c"},    {14, 8, 0, "", ""},
                         {15, 8, 0, "", ""},    {6, 8, 0, "", ""},    {10, 9, 1, "k", "1:n"}, {6, 10, 0, "", ""},
                         {12, 11, 0, "", ""},   {13, 12, 0, "", "d"}, {18, 13, 0, "", ""},    {1, 13, 0, "", "x"},
                         {19, 13, 0, "", ""},   {6, 13, 0, "", ""},   {16, 14, 0, "", ""},
                     }));
  EXPECT_EQ(names, (std::vector<std::string>{"y", "k"}));
}

TEST_F(Statements, Declarations) {
  ctx->lineInfo = 1;
  ASSERT_EQ(Split("global a b, c; x = 1"), kOk);
  EXPECT_EQ(records, (std::vector<Record>{{20, 1, 3, "a,b,c", ""}, {1, 1, 1, "x", "1"}}));
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c", "x"}));
  EXPECT_EQ(Split("global a 1x"), kUnrecognizedToken);
  EXPECT_NE(ErrorText().find("Unrecognized token '1'"), std::string::npos) << ErrorText();
  EXPECT_EQ(Split("persistent p"), kUnexpectedPersistent);

  ASSERT_EQ(Split("function f\npersistent p q", true), kOk);
  EXPECT_EQ(records, (std::vector<Record>{{21, 2, 2, "p,q", ""}}));
  EXPECT_EQ(names, (std::vector<std::string>{"p", "q"}));
  ctx->lineInfo = 0;
  EXPECT_EQ(Split("function f\npersistent p", true), kNotSupported);
}

TEST_F(Statements, StatementErrors) {
  struct Case {
    const char* text;
    StatusCode want;
    int32_t line;  // the error line
  };
  const Case kCases[] = {
      {"if", kMissingExpr, 1},
      {"x = 1\nwhile ;", kMissingExpr, 2},
      {"until % no condition", kMissingExpr, 1},
      {"end x", kUnexpectedExpr, 1},
      {"break 1", kUnexpectedExpr, 1},
      {"return = 2", kUnexpectedExpr, 1},
      {"for 1:3", kBadForAssignment, 1},
      {"for [a, b] = x", kBadForAssignment, 1},
      {"for", kBadForAssignment, 1},
      {"include lib", kIncludeNotPermitted, 1},
      {"includeifexists lib", kIncludeNotPermitted, 1},
      {"\n\ny = (2]", kUnexpectedRightBracket, 3},
      {"a = b c", kSyntaxErr, 1},
      {"endfunction", kUnexpectedEndFunction, 1},
      {"x = 1\nfunction f", kUnexpectedFunHeader, 2},
      {"define k = 1", kUnexpectedConstDef, 1},
      {"_pragma 3", kUnrecognizedToken, 1},
      {"123456789 = 1", kBadVarName, 1},
      {"x23456789012345678901234567890123 = 1", kNameTooLong, 1},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(Split(c.text), c.want) << c.text;
    EXPECT_EQ(ctx->errorPosition, c.line) << c.text;
  }
}

TEST_F(Statements, LineNumbersAndPragmas) {
  ASSERT_EQ(Split("a\r\n\r\n  b % c\r c\n_pragma line 100\nd\n_pragma line\ne\n_pragma other 5\nf\n_pragma\ng", false,
                  false, false, 10),
            kOk);
  std::vector<int32_t> lines;
  for (const Record& r : records) lines.push_back(r.line);
  EXPECT_EQ(lines, (std::vector<int32_t>{10, 12, 13, 101, 103, 105, 107}));
  EXPECT_EQ(Split("use lib; x\nuseifexists other\ny"), kOk);
  EXPECT_EQ(records, (std::vector<Record>{{1, 1, 0, "", "x"}, {1, 3, 0, "", "y"}}));
}

TEST_F(Statements, SkipModeDropsFunctionsAndDefinitions) {
  ASSERT_EQ(Split("a = 1\nfunction f\n  b = 2\n  endfunction\nc = 3\ndefine k = [1 2]\nd = 4\nfunction g\ne = 5", false,
                  false, true),
            kOk);
  EXPECT_EQ(records, (std::vector<Record>{{1, 1, 1, "a", "1"}, {1, 5, 1, "c", "3"}, {1, 7, 1, "d", "4"}}));
}

// ---------------------------------------------------------------------------
// Function headers

TEST_F(Statements, FunctionHeaders) {
  struct Case {
    const char* text;
    int16_t flags, variables, inputs, outputs;
    std::vector<int> inputNumbers;
    std::vector<std::string> names;
  };
  const Case kCases[] = {
      {"function f", 0, 0, 0, 0, {}, {}},
      {"function f % comment\n", 0, 0, 0, 0, {}, {}},
      {"function y = f", 0, 1, 0, 1, {}, {"y"}},
      {"function f()", 0, 0, 0, 0, {}, {}},
      {"function f(a)", 0, 1, 1, 0, {0}, {"a"}},
      {"function [a, b] = f(x, varargin)", 1, 4, 2, 2, {2, 3}, {"a", "b", "x", "varargin"}},
      {"function [a b]=f( x , y )", 0, 4, 2, 2, {2, 3}, {"a", "b", "x", "y"}},
      {"function (a, varargout) = f", 2, 2, 0, 2, {}, {"a", "varargout"}},
      {"function varargout = f(varargin)", 3, 2, 1, 1, {1}, {"varargout", "varargin"}},
      {"function [] = f", 0, 0, 0, 0, {}, {}},
      {"function y = A::f(x)", 0, 2, 1, 1, {1}, {"y", "x"}},
      {"function A::f(x)", 0, 1, 1, 0, {0}, {"x"}},
      {"function y = f(x) , z = x", 0, 3, 1, 1, {1}, {"y", "x", "z"}},
      {"function y = f(x)\n [a, y] = g(x); for k = 1:3, end\n global G", 0, 5, 1, 1, {1}, {"y", "x", "a", "k", "G"}},
      {"_pragma line 5\nfunction f", 0, 0, 0, 0, {}, {}},
      {"private function f(x)", 0, 1, 1, 0, {0}, {"x"}},
      {"function f(a, ...\n b)", 0, 2, 2, 0, {0, 1}, {"a", "b"}},
  };
  for (const Case& c : kCases) {
    ASSERT_EQ(Split(c.text, true), kOk) << c.text;
    EXPECT_EQ(Header()->flags, c.flags) << c.text;
    EXPECT_EQ(Header()->variables, c.variables) << c.text;
    EXPECT_EQ(Header()->inputs, c.inputs) << c.text;
    EXPECT_EQ(Header()->outputs, c.outputs) << c.text;
    EXPECT_EQ(Inputs(), c.inputNumbers) << c.text;
    EXPECT_EQ(names, c.names) << c.text;
    EXPECT_EQ(headerWords, 4 + c.inputs + 16 * c.variables) << c.text;
  }
}

TEST_F(Statements, DefaultInputsBecomeStatements) {
  ASSERT_EQ(Split("function y = f(a, b=3, c = g(1, [2 3]))\n  y = a + b;", true), kOk);
  EXPECT_EQ(records, (std::vector<Record>{
                         {3, 1, 0, "", "nargin<2"},
                         {0, 1, 1, "b", "3"},
                         {6, 1, 0, "", ""},
                         {3, 1, 0, "", "nargin<3"},
                         {0, 1, 1, "c", "g(1,[2,3])"},
                         {6, 1, 0, "", ""},
                         {0, 2, 1, "y", "a+b"},
                     }));
  EXPECT_EQ(Inputs(), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(Split("function f(a=)", true), kBadFunHeader);
  EXPECT_EQ(Split("function f(a=1 2)", true), kSyntaxErr);
}

TEST_F(Statements, FunctionHeaderErrors) {
  struct Case {
    const char* text;
    StatusCode want;
  };
  const Case kCases[] = {
      {"function", kMissingFunName},
      {"function\nf", kMissingFunName},
      {"function ;", kMissingFunName},
      {"function 3", kBadFunHeader},
      {"function [a, b = f", kBadFunHeader},
      {"function [a, b) = f", kBadFunHeader},
      {"function [a,, b] = f", kBadFunHeader},
      {"function [a] f", kBadFunHeader},
      {"function y =", kBadFunHeader},
      {"function y = 3", kBadFunHeader},
      {"function y = f(a", kBadFunHeader},
      {"function y = f(a b)", kBadFunHeader},
      {"function y = f a", kBadFunHeader},
      {"function f x", kBadFunHeader},
      {"function y = A::(x)", kBadFunHeader},
      {"function x = f(x)", kReusedVarName},
      {"function [a, a] = f", kReusedVarName},
      {"function f(a, a)", kReusedVarName},
      {"function [varargout, y] = f", kMisplacedVarargout},
      {"function [varargout y] = f", kMisplacedVarargout},
      {"function f(varargout)", kMisplacedVarargout},
      {"function f(varargin, x)", kMisplacedVarargin},
      {"function [varargin] = f", kMisplacedVarargin},
      {"function varargin = f", kMisplacedVarargin},
      {"function y = f23456789012345678901234567890123(x)", kNameTooLong},
      {"x = 1", kExpectedFunHeader},
      {"", kExpectedFunHeader},
      {"% only a comment", kExpectedFunHeader},
      {"function f\nfunction g", kUnexpectedFunHeader},
      {"function f\ndefine k = 1", kUnexpectedConstDef},
      {"define = 3", kBadDefinition},
      {"define k 3", kBadDefinition},
      {"define k =", kBadDefinition},
  };
  for (const Case& c : kCases) EXPECT_EQ(Split(c.text, true), c.want) << c.text;
}

TEST_F(Statements, AUnitEndsAtTheNextOneOrAtEndfunction) {
  ASSERT_EQ(Split("function f\nx = 1\nfunction g\ny = 2", true, true), kOk);
  EXPECT_EQ(records, (std::vector<Record>{{1, 2, 1, "x", "1"}}));
  ASSERT_EQ(Split("function f\nx = 1\ndefine k = 2", true, true), kOk);
  EXPECT_EQ(records, (std::vector<Record>{{1, 2, 1, "x", "1"}}));
  ASSERT_EQ(Split("function f\nx = 1\nendfunction\ny = 2", true), kOk);
  EXPECT_EQ(records, (std::vector<Record>{{1, 2, 1, "x", "1"}}));
  EXPECT_EQ(names, (std::vector<std::string>{"x"}));
}

TEST_F(Statements, DefinitionBlocks) {
  ASSERT_EQ(Split("define k = 2*pi;\n3", true), kOk);
  EXPECT_EQ(Header()->flags, kHeaderDefine);
  EXPECT_EQ(Header()->variables, 0);
  EXPECT_EQ(headerWords, 4);
  // ";" does not hide a value of a definition block.
  EXPECT_EQ(records, (std::vector<Record>{{1, 1, 0, "", "2*pi"}, {1, 2, 0, "", "3"}}));
}

TEST_F(Statements, RoomForRecordsAndNames) {
  // 5 words of a record, then its text.
  const char* text = "x = 1; abcdefgh";
  const struct {
    int32_t words;
    StatusCode want;
  } kRooms[] = {{7, kCompOutOfMemory}, {11, kCompOutOfMemory}, {12, kExprTooLarge}, {13, kExprTooLarge}, {14, kOk}};
  for (const auto& room : kRooms) {
    int32_t used = 0;
    EXPECT_EQ(SplitStatements(ctx, scratch, room.words, &used, text, Length(text), false, header, 0, nullptr, table,
                              &tableCount, tableCapacity, false, false, &line),
              room.want)
        << room.words;
    if (room.want == kOk) {
      EXPECT_EQ(used, 14);
    }
  }

  // An output of 17 * (5 + n) words holds n variables.
  outputWords = 17 * 7;
  EXPECT_EQ(Split("function [a, b] = f", true), kOk);
  EXPECT_EQ(Split("function [a, b] = f(c)", true), kVarTableOverflow);
  outputWords = 3;
  EXPECT_EQ(Split("function f", true), kCodeOverflow);
}

}  // namespace
