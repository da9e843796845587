// The help-text walks: a help file's entries with their qualifiers and
// comments, and the lines of a comment without their markers, over every
// kind of line end.
#include "engine/helptext.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Entries(const std::string& text) {
  std::string out;
  HelpFileCursor cursor;
  HelpEntry e{};
  const auto n = static_cast<int32_t>(text.size());
  while (NextHelpEntry(text.data(), n, &cursor, &e)) {
    out += text.substr(e.word, e.name - e.word) + "|" + text.substr(e.name, e.nameLength);
    out += e.help >= 0 ? "@" + text.substr(e.help, 2) : "@-";
    out += ";";
  }
  return out;
}

std::string Lines(const std::string& text, int32_t at) {
  CommentReader r;
  if (!StartComment(text.data(), static_cast<int32_t>(text.size()), at, &r)) return "none";
  std::string out = r.markup ? "markup:" : "";
  int32_t start = 0, n = 0;
  while (NextCommentLine(&r, &start, &n)) out += "[" + text.substr(start, n) + "]";
  return out;
}

TEST(HelpText, EntriesOfAHelpFile) {
  struct Case {
    const char* text;
    const char* want;
  };
  const Case kCases[] = {
      {"sin % first line is never an entry\ncos % Cosine.\n", "|cos@% ;"},
      {"t\r\nsin % a\r\n  % more\r\n// note\r\ntan\r\n", "|sin@% ;|tan@-;"},
      {"t\rpoint::norm // Norm.\r::x % y\r", "point::|norm@//;|::x@% ;"},
      {"t\nab /* open\nnot % inside\n*/ c\nd /* shut */ % x\ne % y", "|ab@/*;|d@/*;|e@% ;"},
      {"t\n\tindented % no\n\n%lead\n", "|%lead@-;"},
      {"only one line % x", ""},
  };
  for (const Case& c : kCases) EXPECT_EQ(Entries(c.text), c.want) << c.text;
}

TEST(HelpText, CommentLines) {
  struct Case {
    const char* text;
    int32_t at;
    const char* want;
  };
  const Case kCases[] = {
      {"% one\r\n  // two\r\n%three\nx = 1 % not\n", 0, "[ one][ two][three]"},
      {"%= *m*\n% n\n", 0, "markup:[ *m*][ n]"},
      {"/*\n  a\r\n  b */ c\n", 0, "[  a][  b ]"},
      {"/* a\n  */\nb", 0, "[ a]"},
      {"/*=\nx\r\ny\n*/ z", 0, "markup:[x\r\ny\n]"},
      {"/* never closed\nz", 0, "[ never closed][z]"},
      {"name % c", 5, "[ c]"},
      {"name % c", 4, "none"},
      {"/", 0, "none"},
  };
  for (const Case& c : kCases) EXPECT_EQ(Lines(c.text, c.at), c.want) << c.text;
}

TEST(HelpText, HelpAfterHeaderAndShortDescription) {
  struct Case {
    const char* text;
    const char* want;  // the short description, or "-" without help
  };
  const Case kCases[] = {
      {"function r = f(x)\n  %  F of x.  \n% more\n", "F of x."},
      {"% before\n\nfunction r = f(a, ...\n   b) ...  \n c)\n// G.\n", "G."},
      {"function f\nr = 1; % not help\n", "-"},
      {"function f\n/*\n   Boxed.\n*/", "Boxed."},
      {"function f\n/*=\n= Title\nbody */", "= Title"},
      {"function f(...", "-"},
      {"", "-"},
  };
  for (const Case& c : kCases) {
    const std::string text = c.text;
    const auto n = static_cast<int32_t>(text.size());
    const int32_t at = FindHelpAfterHeader(text.data(), n);
    std::string got = "-";
    int32_t start = 0, count = 0;
    if (at >= 0 && ShortDescription(text.data(), n, at, &start, &count)) got = text.substr(start, count);
    EXPECT_EQ(got, c.want) << c.text;
  }
}

}  // namespace
