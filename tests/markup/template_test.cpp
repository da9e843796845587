// Template language: expressions and their operators, repetitions, the nesting
// prefix, line ends with indentation, and failure for lack of room.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "markup/markup.h"

namespace {

// A conversion state over a private output buffer, for expanding templates alone.
class Expander {
 public:
  explicit Expander(int capacity = 4096) : buffer_(capacity) {
    std::memset(&st_, 0, sizeof st_);
    st_.output = buffer_.data();
    st_.capacity = capacity;
    st_.endOfLine = "\n";
    st_.endOfLineLength = 1;
    st_.escape = '%';
    st_.format = &kMarkupFormats[kPlainTextFormat];
  }
  MarkupOutputState& state() { return st_; }
  std::string Expand(const char* templ) {
    st_.outputLength = 0;
    st_.characterCount = 0;
    st_.column = 0;
    ok_ = ExpandMarkupTemplate(templ, -1, '%', &st_);
    return std::string(st_.output, st_.outputLength);
  }
  int ok() const { return ok_; }

 private:
  std::vector<char> buffer_;
  MarkupOutputState st_;
  int ok_ = 0;
};

TEST(TemplateExpressions, Values) {
  struct Case {
    const char* templ;
    const char* want;
  };
  const Case kCases[] = {
      {"%{}", "1"},          // empty expression
      {"%{q}", "1"},         // unknown character
      {"%{2+3*4}", "14"},    // precedence
      {"%{(2+3)*4}", "20"},  // parentheses
      {"%{(1+2)}", "3"},
      {"%{0-5}", "-5"},         // no unary minus, but negative results
      {"%{ 7 - 2 - 1 }", "4"},  // left associative, blanks anywhere
      {"%{7/2}", "3"},
      {"%{0-7/2}", "-3"},
      {"%{(0-7)/2}", "-3"},  // truncated toward zero
      {"%{3=3}", "1"},
      {"%{3!3}", "0"},
      {"%{2<3}", "1"},
      {"%{2>3}", "0"},
      {"%{0|5}", "5"},  // first non-zero alternative
      {"%{4|5}", "4"},
      {"%{0&5}", "0"},
      {"%{1&5}", "5"},
      {"%{1+}", "1"},      // missing operand
      {"%{(1+2}", "3"},    // unclosed parenthesis is ignored
      {"%{1+2)*3}", "9"},  // a stray ')' applies everything pending
      {"%{0}", "0"},
      {"%{1+2", ""},   // no closing brace: the rest is dropped
      {"a%L", "a%L"},  // nothing after the second byte: literal
      {"a%{", "a%{"},
      {"100%", "100%"},
  };
  Expander e;
  for (const Case& c : kCases) EXPECT_EQ(e.Expand(c.templ), c.want) << c.templ;
}

TEST(TemplateExpressions, Variables) {
  Expander e;
  MarkupOutputState& st = e.state();
  st.number = 7;
  st.level = 2;
  st.inputPosition = 40;
  st.inputOffset = 2;
  st.fontSize = 11;
  st.anchor = 1;
  EXPECT_EQ(e.Expand("%{i},%{l},%{o},%{s},%{x}"), "7,2,42,11,1");
  EXPECT_EQ(e.Expand("ab%{p}"), "ab2");  // output length when evaluated
  // The size idiom of the HTML heading: the first non-zero alternative.
  const char* size = "%{l=1&3*s|l=2&2*s|l=3&3*s/2|5*s/4}";
  const int kWant[] = {33, 22, 16, 13};
  for (int level = 1; level <= 4; ++level) {
    st.level = level;
    EXPECT_EQ(e.Expand(size), std::to_string(kWant[level - 1])) << level;
  }
}

TEST(TemplateExpressions, PendingLimit) {
  Expander e;
  // Sixteen pending parentheses are fine, a seventeenth makes the value 1.
  EXPECT_EQ(e.Expand("%{((((((((((((((((5))))))))))))))))}"), "5");
  EXPECT_EQ(e.Expand("%{(((((((((((((((((5)))))))))))))))))}"), "1");
}

TEST(TemplateExpressions, ArithmeticNeverTraps) {
  Expander e;
  struct Case {
    const char* templ;
    const char* want;
  };
  const Case kCases[] = {
      {"%{5/0}", "0"},
      {"%{5/(3-3)}", "0"},
      {"%{(0-2147483647-1)/(0-1)}", "0"},  // INT_MIN / -1
      {"%{2147483647+1}", "-2147483648"},  // wraps
      {"%{65536*65536}", "0"},
      {"%{0-2147483647-1}", "-2147483648"},
      {"%{4294967297}", "1"},  // long literals wrap too
      {"%{99999999999999999999}", "1661992959"},
  };
  for (const Case& c : kCases) EXPECT_EQ(e.Expand(c.templ), c.want) << c.templ;
  int values[2] = {INT_MIN, -1};
  int count = 2;
  ApplyTemplateOperator(values, &count, '/');
  EXPECT_EQ(count, 1);
  EXPECT_EQ(values[0], 0);
}

TEST(TemplateRepetition, CountsAndConditions) {
  Expander e;
  MarkupOutputState& st = e.state();
  EXPECT_EQ(e.Expand("%%{150}x%%"), std::string(100, 'x'));
  EXPECT_EQ(e.Expand("%%{0}x%%"), "");
  EXPECT_EQ(e.Expand("%%{0-1}x%%"), "");
  EXPECT_EQ(e.Expand("[%%{3}ab%%]"), "[ababab]");
  EXPECT_EQ(e.Expand("%%{2}to end"), "to endto end");  // no closing pair
  st.number = 4;
  EXPECT_EQ(e.Expand("%%{i>0}%{i}. %%x"), "4. x");  // escapes work inside
  st.number = 0;
  EXPECT_EQ(e.Expand("%%{i>0}%{i}. %%x"), "x");
  st.level = 3;
  EXPECT_EQ(e.Expand("%%{3*l-2} %%-"), "       -");
  st.level = 1;
  EXPECT_EQ(e.Expand("a%%{l=1}\n%%b"), "a\nb");
  st.level = 2;
  EXPECT_EQ(e.Expand("a%%{l=1}\n%%b"), "ab");
}

TEST(TemplateOutput, CountsColumnsAndLineEnds) {
  Expander e;
  MarkupOutputState& st = e.state();
  st.endOfLine = "\r\n";
  st.endOfLineLength = 2;
  st.indentation = 3;
  EXPECT_EQ(e.Expand("ab\ncd"), "ab\r\n   cd");
  EXPECT_EQ(st.column, 5);
  EXPECT_EQ(st.characterCount, 9);
  // Two- and three-byte sequences count once, their continuation bytes not at all.
  st.indentation = 0;
  EXPECT_EQ(e.Expand("\xc3\xa9\xe2\x82\xac"), "\xc3\xa9\xe2\x82\xac");
  EXPECT_EQ(st.characterCount, 2);
  EXPECT_EQ(st.column, 5);
  // Copies of a repetition count their characters and bytes each time.
  EXPECT_EQ(e.Expand("%%{3}\xc3\xa9%%"), "\xc3\xa9\xc3\xa9\xc3\xa9");
  EXPECT_EQ(st.characterCount, 3);
  EXPECT_EQ(st.column, 6);
  // With the escape character 0 every byte is literal.
  st.outputLength = 0;
  EXPECT_EQ(ExpandMarkupTemplate("%{1}", -1, 0, &st), 1);
  EXPECT_EQ(std::string(st.output, st.outputLength), "%{1}");
  EXPECT_EQ(ExpandMarkupTemplate(nullptr, -1, '%', &st), 1);
}

TEST(TemplateOutput, NestingPrefix) {
  Expander e;
  MarkupOutputState& st = e.state();
  const int kLevels[] = {kLevelBullet, 3, kLevelTerm, kLevelDefinition, kLevelIndent, kLevelDataRow};
  std::memcpy(st.levels, kLevels, sizeof kLevels);
  st.depth = 6;
  st.level = 6;
  EXPECT_EQ(e.Expand("%L "), "*#;::# ");
  st.level = 2;
  EXPECT_EQ(e.Expand("%L "), "*# ");
  st.level = 9;  // never past the open levels
  EXPECT_EQ(e.Expand("%L "), "*#;::# ");
}

TEST(TemplateOutput, RunsOutOfRoom) {
  struct Case {
    const char* templ;
    int capacity;
    int ok;
  };
  const Case kCases[] = {
      {"abcd", 4, 1},         {"abcde", 4, 0},       {"%{5}", 12, 1},
      {"%{5}", 11, 0},                        // a number needs 12 bytes of room
      {"%L ", 7, 0},          {"%L ", 8, 1},  // the prefix needs 8
      {"%%{100}x%%", 100, 1}, {"%%{100}x%%", 99, 0}, {"\n", 1, 1},
  };
  for (const Case& c : kCases) {
    Expander e(c.capacity);
    e.Expand(c.templ);
    EXPECT_EQ(e.ok(), c.ok) << c.templ << " in " << c.capacity;
  }
  Expander e(4);
  e.state().indentation = 4;
  e.Expand("\n");  // the line end and its indentation must fit together
  EXPECT_EQ(e.ok(), 0);
}

}  // namespace
