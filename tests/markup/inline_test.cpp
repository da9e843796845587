// Inline styles and their nesting, links and images with their targets,
// plug-ins, detectors and the re-parsing of their output.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/markup/support.h"

namespace {

// Records every hook call as "+markup" or "-markup" (inline) and "<markup" or
// ">markup" (block), with the link target of inline begins.
struct HookLog {
  std::vector<std::string> calls;
  std::vector<std::pair<int, int>> targets;
};

int LogInline(int level, int, int begin, const char* markup, int, MarkupOutputState* st, void* data) {
  auto* log = static_cast<HookLog*>(data);
  EXPECT_EQ(level, -1);
  log->calls.push_back(std::string(begin ? "+" : "-") + markup);
  if (begin && (markup[0] == '[' || markup[0] == '{')) {
    int position = 0, length = 0;
    GetMarkupLinkTarget(st, &position, &length);
    log->targets.emplace_back(position, length);
  }
  return 0;
}

int LogBlock(int, int, int begin, const char* markup, int, MarkupOutputState*, void* data) {
  static_cast<HookLog*>(data)->calls.push_back(std::string(begin ? "<" : ">") + markup);
  return 0;
}

MarkupFormat WithHooks(int index, HookLog* log) {
  MarkupFormat f = kMarkupFormats[index];
  f.inlineHook = LogInline;
  f.blockHook = LogBlock;
  f.hookData = log;
  return f;
}

using Calls = std::vector<std::string>;

TEST(InlineStyles, CloseAndReopenToNest) {
  HookLog log;
  MarkupFormat f = WithHooks(kStructureFormat, &log);
  Convert("**bold //both** italic//", &f);
  EXPECT_EQ(log.calls, (Calls{"<p", "+**", "+//", "-//", "-**", "+//", "-//", ">p"}));
  EXPECT_EQ(Body("**bold //both** italic//", kHtmlFormat), "<p><b>bold <i>both</i></b><i> italic</i></p>\n");
  // Every kind toggles; all are closed, last opened first, when the block ends.
  EXPECT_EQ(Body("__u ^^s ,,b ##m", kHtmlFormat), "<p><u>u <sup>s <sub>b <tt>m</tt></sub></sup></u></p>\n");
  EXPECT_EQ(Body("**a\n\nb**", kHtmlFormat), "<p><b>a</b></p>\n<p>b<b></b></p>\n");
}

TEST(InlineStyles, NowikiAndMonospace) {
  EXPECT_EQ(Body("{{{a **b** [[c]]}}} d", kHtmlFormat), "<p>a **b** [[c]] d</p>\n");
  EXPECT_EQ(Body("{{{a **b**}}}", kHtmlFormat, kMarkupNowikiAsMonospace), "<p><tt>a **b**</tt></p>\n");
  // Inside monospace the nowiki adds no second pair of templates.
  EXPECT_EQ(Body("##x {{{y}}}##", kHtmlFormat, kMarkupNowikiAsMonospace), "<p><tt>x y</tt></p>\n");
  // A shown nowiki reaches the hooks as monospace, so a hook always gets a markup string.
  HookLog log;
  MarkupFormat f = WithHooks(kStructureFormat, &log);
  Convert("{{{y}}}", &f, kMarkupNowikiAsMonospace);
  EXPECT_EQ(log.calls, (Calls{"<p", "+##", "-##", ">p"}));
}

TEST(Links, TargetsAndTexts) {
  struct Case {
    const char* text;
    const char* want;
  };
  const Case kCases[] = {
      {"[[target]]", "[[target|target]]"},
      {"[[target|text]]", "[[target|text]]"},
      {"[[ target  |  text ]]", "[[target|text ]]"},
      {"[[ ]]", "]~]"},                                    // empty target: only the "]]" is left
      {"[[a|x [[b]] y]]", "[[a|x b]] y]~]"},               // no link inside a link
      {"{{i.png|**b** c}}", "{{i.png|**b** c}}"},          // styles inside an image where the record allows them
      {"{{i|x {{j}} [[k]]}}", "{{i|x {~{j}} [[k|k]]}~}"},  // no image inside an image
      {"[[a\nb|t]]", "[[a\nb|t]]"},                        // a target may span a line end
      {"[[a\n\nb]]", "[[a|a]]\n\nb]~]"},                   // but not an empty line
      {"[[open", "[[open|open]]"},
  };
  for (const Case& c : kCases) EXPECT_EQ(Body(c.text, kMarkupFormat), std::string(c.want) + "\n\n") << c.text;
  EXPECT_EQ(Body("[[target]] [[target|text]]", kPlainTextFormat), "target text\n\n");
}

TEST(Links, StyleClosingOverALinkClosesIt) {
  EXPECT_EQ(Body("**a [[t|b** c]] d", kHtmlFormat), "<p><b>a <a href=\"t\">b</a></b> c]] d</p>\n");
}

TEST(Links, HookPositionsAndTargets) {
  HookLog log;
  MarkupFormat f = WithHooks(kStructureFormat, &log);
  Convert("ab [[ target |x]] {{pic|y}}", &f);
  EXPECT_EQ(log.calls, (Calls{"<p", "+[[", "-[[", "+{{", "-{{", ">p"}));
  EXPECT_EQ(log.targets, (std::vector<std::pair<int, int>>{{6, 6}, {20, 3}}));
}

const MarkupLinkPrefix kPrefixes[] = {{"wiki:", "http://w/%{1+1}/"}, {"w", "never"}, {nullptr, nullptr}};

TEST(Links, PrefixTableAndTargetAfterText) {
  MarkupFormat f = kMarkupFormats[kMarkupFormat];
  f.linkPrefixes = kPrefixes;
  EXPECT_EQ(Convert("[[wiki:Page|text]] [[other|t]]", &f, kMarkupNoDocument).text,
            "[[http://w/2/Page|text]] [[other|t]]\n\n");
  f.linkTargetAfterText = 1;
  f.imageTargetAfterText = 1;
  EXPECT_EQ(Convert("[[wiki:Page|text]] {{i.png|alt}}", &f, kMarkupNoDocument).text,
            "[[text|http://w/2/Page]] {{alt|i.png}}\n\n");
  // A link inside an image-free record with no middle shows only its text.
  f.linkMiddle = nullptr;
  EXPECT_EQ(Convert("[[wiki:Page|text]]", &f, kMarkupNoDocument).text, "text]]\n\n");
}

// Plug-ins of a test record.
int Hello(const char* name, int nameLength, const char* body, int bodyLength, MarkupOutputState* st, void*) {
  std::string out = "<" + std::string(name, nameLength) + ":" + std::string(body, bodyLength) + ">";
  return ExpandMarkupTemplate(out.c_str(), -1, 0, st) ? 0 : kMarkupNoRoom;
}
int Echo(const char*, int, const char* body, int bodyLength, MarkupOutputState* st, void*) {
  return ExpandMarkupTemplate(body, bodyLength, 0, st) ? 0 : kMarkupNoRoom;
}
int Fail(const char*, int, const char*, int, MarkupOutputState*, void*) { return 42; }

const MarkupPlugin kPlugins[] = {
    {"hello", 0, Hello, nullptr},
    {"box", kPluginBlock, Hello, nullptr},
    {"echo", kPluginReparse, Echo, nullptr},
    {"list", kPluginBlock | kPluginReparse, Echo, nullptr},
    {"pre", kPluginPrefix, Hello, nullptr},
    {"t", kPluginTriple, Hello, nullptr},
    {"fail", 0, Fail, nullptr},
    {nullptr, 0, nullptr, nullptr},
};

MarkupFormat HtmlWithPlugins() {
  MarkupFormat f = kMarkupFormats[kHtmlFormat];
  f.plugins = kPlugins;
  f.textChar = nullptr;  // plug-in output here is plain text; no escaping to read around
  return f;
}

TEST(Plugins, CallsByForm) {
  MarkupFormat f = HtmlWithPlugins();
  struct Case {
    const char* text;
    const char* want;
  };
  const Case kCases[] = {
      {"a <<nosuch text>> b", "<p>a  b</p>\n"},               // no entry: nothing written
      {"<<hello x y>> after", "<p><hello:x y> after</p>\n"},  // an inline call opens a paragraph
      {"a <<hello>>b", "<p>a <hello:>b</p>\n"},
      {"text\n<<box\nline1\nline2\n>>\nmore", "<p>text</p>\n<box:line1\nline2><p>more</p>\n"},
      {"<<box\r\nbody\r\n>>", "<box:body>"},            // CR LF dropped around the body
      {"a <<prefixed z>>", "<p>a <prefixed:z></p>\n"},  // entry name as a prefix
      {"a <<t z>> <<<t z>>>", "<p>a  <t:z></p>\n"},     // only the triple form answers "t"
      {"a << b", "<p>a << b</p>\n"},                    // no closing marks: not a call
      {"a <<hello x\n\nnext", "<p>a <<hello x</p>\n<p>next</p>\n"},
      {"<<box\nno closing line", "<p><<box no closing line</p>\n"},
  };
  for (const Case& c : kCases) EXPECT_EQ(Convert(c.text, &f, kMarkupNoDocument).text, c.want) << c.text;
  EXPECT_EQ(Convert("a <<hello x>>", &f, kMarkupNoDocument | kMarkupNoPlugins).text, "<p>a <<hello x>></p>\n");
  EXPECT_EQ(Convert("a <<fail>>", &f).status, 42);
}

TEST(Plugins, OutputParsedAgain) {
  MarkupFormat f = HtmlWithPlugins();
  EXPECT_EQ(Convert("<<echo **b** [[t|l]]>> c", &f, kMarkupNoDocument).text, "<p><b>b</b> <a href=\"t\">l</a> c</p>\n");
  // A block plug-in's output is read from block start.
  EXPECT_EQ(Convert("x\n<<list\n* one\n* two\n>>\n\nafter", &f, kMarkupNoDocument).text,
            "<p>x</p>\n<ul>\n<li>one</li>\n<li>two</li>\n</ul>\n<p>after</p>\n");
  EXPECT_EQ(Convert("x\n<<echo\n* one\n>>", &f, kMarkupNoDocument).text, "<p>x * one</p>\n");
  // A call in the output is called in turn; the first ">>" ends the outer body.
  EXPECT_EQ(Convert("<<echo a <<echo b>> c>>", &f, kMarkupNoDocument).text, "<p>a b c</p>\n");
}

// "@@" becomes bold markup that is read again; "!!" answers without consuming.
int AtDetector(const char* text, int length, int* position, MarkupOutputState* st, void*) {
  int p = *position;
  if (p + 1 >= length || text[p + 1] != text[p]) return 0;
  if (text[p] == '!') return 1;
  if (text[p] != '@') return 0;
  if (!ExpandMarkupTemplate("**", 2, 0, st)) return 0;
  *position = p + 2;
  return 1;
}
const MarkupDetector kDetectors[] = {{AtDetector, nullptr}, {nullptr, nullptr}};

TEST(Detectors, OutputParsedAgainWithCallerPositions) {
  HookLog log;
  MarkupFormat f = WithHooks(kHtmlFormat, &log);
  f.detectors = kDetectors;
  EXPECT_EQ(Convert("a @@b@@ c", &f, kMarkupNoDocument).text, "<p>a <b>b</b> c</p>\n");
  EXPECT_EQ(Convert("a @@b@@ c", &f, kMarkupNoDocument | kMarkupNoPlugins).text, "<p>a @@b@@ c</p>\n");
  // Positions given to hooks still refer to the caller's text after re-parsing.
  log.targets.clear();
  Convert("@@x@@ [[t|y]]", &f);
  HookLog plain;
  MarkupFormat g = WithHooks(kHtmlFormat, &plain);
  Convert("**x** [[t|y]]", &g);
  EXPECT_EQ(log.targets, plain.targets);
  EXPECT_EQ(log.targets, (std::vector<std::pair<int, int>>{{8, 1}}));
  // A detector that answers without consuming cannot stall the conversion.
  EXPECT_EQ(Convert("a !! b", &f, kMarkupNoDocument).text, "<p>a !! b</p>\n");
}

TEST(Detectors, ReparseNeedsRoom) {
  MarkupFormat f = kMarkupFormats[kHtmlFormat];
  f.detectors = kDetectors;
  std::string text = "@@" + std::string(200, 'x');
  std::vector<char> work(2 * 210);
  const char* out = nullptr;
  int length = 0;
  EXPECT_EQ(ConvertMarkup(text.data(), static_cast<int>(text.size()), work.data(), static_cast<int>(work.size()),
                          kMarkupNoDocument, "\n", &f, 0, &out, &length, nullptr),
            kMarkupNoRoom);
  EXPECT_EQ(Convert(text, &f, kMarkupNoDocument).text, "<p><b>" + std::string(200, 'x') + "</b></p>\n");
}

}  // namespace
