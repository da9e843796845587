// Code items: the walks with their language guards, instance blocks and
// names, walks over corrupted items, and the figure handlers that a figure's
// items give its subplots.
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "tests/runtime/runtimefixture.h"

namespace {

using Handler = CodeItemBuilder::HandlerPayload;

// Every position the walk finds from the head on.
std::vector<int32_t> Walk(RuntimeBlock* b, int32_t instance, int32_t kind) {
  std::vector<int32_t> found;
  int32_t p = -1;
  while (FindNextCodeItem(b, instance, &p, kind) == kOk) found.push_back(p);
  return found;
}

// Init handlers around two languages: one before any guard, one behind each
// marker, one in a section of the second language, one behind its end.
struct LanguageCode {
  CodeItemBuilder code;
  int32_t plain, english, french, section, after, enMarker, frMarker;
  LanguageCode() {
    code.Head(0, 0, "app");
    plain = code.Handler(kItemInit, Handler{});
    enMarker = code.Text(kItemLanguage, "English;en");
    english = code.Handler(kItemInit, Handler{});
    frMarker = code.Text(kItemLanguage,
                         "Fran\xc3\xa7"
                         "ais;fr");
    french = code.Handler(kItemInit, Handler{});
    code.SectionBegin(code.FromHead(frMarker));
    section = code.Handler(kItemInit, Handler{});
    code.Item(kItemSectionEnd, {});
    after = code.Handler(kItemInit, Handler{});
  }
};

TEST(CodeItems, LanguageGuardsMakeItemsActive) {
  TestRuntime rt;
  LanguageCode lc;
  rt.LoadCode(lc.code);
  InstanceRecord* r = InstanceRecordAt(rt.block, 0);
  struct Case {
    int32_t language;
    int32_t kind;
    std::vector<int32_t> want;
  };
  const Case kCases[] = {
      {-2, kItemInit, {lc.plain}},
      {lc.code.FromHead(lc.enMarker), kItemInit, {lc.plain, lc.english}},
      {lc.code.FromHead(lc.frMarker), kItemInit, {lc.plain, lc.french, lc.section}},
      // Only the init handlers behind the current language's guard.
      {lc.code.FromHead(lc.frMarker), kItemLanguageInit, {lc.french, lc.section}},
      {-2, kItemLanguageInit, {}},
      // Markers are found whether active or not.
      {-2, kItemLanguage, {lc.enMarker, lc.frMarker}},
  };
  for (const Case& c : kCases) {
    r->language = c.language;
    EXPECT_EQ(Walk(rt.block, 0, c.kind), c.want) << c.language << " kind " << c.kind;
  }
}

TEST(CodeItems, InstanceLevelItemsEndAtTheFirstMenuOrFigure) {
  for (const int32_t stop : {int32_t{kItemMenuItem}, int32_t{kItemFigure}}) {
    TestRuntime rt;
    CodeItemBuilder code;
    code.Head(0, 0, "app");
    code.Text(kItemTitle, "Title");
    if (stop == kItemMenuItem)
      code.Named(kItemMenuItem, "Item", Handler{});
    else
      code.Text(kItemFigure, "Figure");
    code.Text(kItemHelp, "Help");
    rt.LoadCode(code);
    const int32_t* payload = nullptr;
    int32_t first = 0;
    ASSERT_EQ(FindInstanceItem(rt.block, 0, kItemTitle, &payload, &first), kOk);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(payload), first), "Title");
    EXPECT_EQ(FindInstanceItem(rt.block, 0, kItemHelp, &payload, &first), kUndefElement) << stop;
    // The walk by kind still finds it.
    EXPECT_EQ(Walk(rt.block, 0, kItemHelp).size(), 1u) << stop;
  }
}

// Three instance blocks: 0 "a.x", 1 "ab", 2 "a".
struct ThreeBlocks : TestRuntime {
  CodeItemBuilder code;
  int32_t heads[3] = {};
  ThreeBlocks() {
    int32_t id = 0;
    EXPECT_EQ(CreateInstance(block, &id), kOk);
    EXPECT_EQ(CreateInstance(block, &id), kOk);
    heads[0] = code.Head(0, 7, "a.x");
    code.Text(kItemPlainCode, "disp(1)");
    heads[1] = code.Head(1, 0, "ab");
    code.Text(kItemTitle, "B");
    heads[2] = code.Head(2, 9, "a");
    LoadCode(code);
  }
};

TEST(CodeItems, BlocksNamesAndRemoval) {
  ThreeBlocks rt;
  RuntimeBlock* b = rt.block;
  EXPECT_EQ(FindInstanceByName(b, "a"), 0) << "\"a\" names \"a.x\" first";
  EXPECT_EQ(FindInstanceByName(b, "ab"), 1);
  EXPECT_EQ(FindInstanceByName(b, "a.x"), 0);
  EXPECT_EQ(FindInstanceByName(b, "b"), -1);
  EXPECT_EQ(GetInstanceLibraryId(b, 0), 7);
  EXPECT_EQ(GetInstanceLibraryId(b, 5), 0);
  int32_t word = 0;
  EXPECT_TRUE(IsPlainCodeInstance(b, &word));
  EXPECT_EQ(word, 0);
  word = 1;
  EXPECT_FALSE(IsPlainCodeInstance(b, &word));
  // Heads are walked from the instance's own across the blocks.
  EXPECT_EQ(Walk(b, 0, kItemHead), (std::vector<int32_t>{rt.heads[0], rt.heads[1], rt.heads[2]}));

  const int32_t used = b->codeWordsUsed;
  int32_t head1 = 0;
  ASSERT_EQ(FindInstanceCodeBlock(b, 1, &head1), kOk);
  ASSERT_EQ(RemoveInstanceCodeBlock(b, 0), kOk);
  EXPECT_EQ(b->codeWordsUsed, used - head1);
  int32_t head = -1;
  ASSERT_EQ(FindInstanceCodeBlock(b, 1, &head), kOk);
  EXPECT_EQ(head, 0);
  EXPECT_EQ(FindInstanceCodeBlock(b, 0, &head), kNonexistentInstance);
  EXPECT_EQ(FindInstanceByName(b, "a"), 2);
  // The last block runs to the end of the used words.
  ASSERT_EQ(RemoveInstanceCodeBlock(b, 2), kOk);
  EXPECT_EQ(b->codeWordsUsed, used - head1 - 5);
  EXPECT_EQ(RemoveInstanceCodeBlock(b, 2), kNonexistentInstance);
}

TEST(CodeItems, CorruptedItemsEndWalksCleanly) {
  struct Case {
    const char* what;
    int32_t length;  // of the title item, in words
  };
  const Case kCases[] = {{"empty", 0}, {"one word", 1}, {"negative", -5}, {"past the used words", 1000}};
  for (const Case& c : kCases) {
    ThreeBlocks rt;
    int32_t* w = RuntimeCodeWords(rt.block);
    int32_t head1 = 0;
    ASSERT_EQ(FindInstanceCodeBlock(rt.block, 1, &head1), kOk);
    w[head1 + w[head1 + 1] + 1] = c.length;
    EXPECT_EQ(Walk(rt.block, 1, kItemTitle).size(), 0u) << c.what;
    int32_t head = 0;
    EXPECT_EQ(FindInstanceCodeBlock(rt.block, 2, &head), kNonexistentInstance) << c.what;
    const int32_t* payload = nullptr;
    int32_t first = 0;
    EXPECT_EQ(FindInstanceItem(rt.block, 1, kItemTitle, &payload, &first), kUndefElement) << c.what;
    int32_t position = head1 + 5;
    EXPECT_EQ(FindNextCodeItem(rt.block, 1, &position, kItemTitle), kUndefElement) << c.what;
  }
  // A text whose byte length runs past its item.
  ThreeBlocks rt;
  int32_t* w = RuntimeCodeWords(rt.block);
  int32_t head1 = 0;
  ASSERT_EQ(FindInstanceCodeBlock(rt.block, 1, &head1), kOk);
  w[head1 + w[head1 + 1] + 2] = 400;
  const int32_t* payload = nullptr;
  int32_t first = 0;
  EXPECT_EQ(FindInstanceItem(rt.block, 1, kItemTitle, &payload, &first), kUndefElement);
}

// ---------------------------------------------------------------------------
// Figures.

constexpr int32_t kKnownFunction = 300;    // "md5", a native of the static table
constexpr int32_t kMissingFunction = 301;  // names nothing

struct FigureRuntime : TestRuntime {
  CodeItemBuilder code;
  FigureRuntime() {
    EXPECT_EQ(AddName(RuntimeNameTable(block), kKnownFunction, "md5", 0), kOk);
    EXPECT_EQ(AddName(RuntimeNameTable(block), kMissingFunction, "nosuchfunction", 0), kOk);
    code.Head(0, 0, "app");
  }
  int32_t Figure(const std::string& title) { return code.FromHead(code.Text(kItemFigure, title)); }
  FigureHandlers Resolve(int32_t figure, int32_t element, StatusCode want = kOk) {
    LoadCode(code);
    FigureHandlers h{};
    EXPECT_EQ(ResolveFigureHandlers(block, 0, figure, element, &h), want);
    return h;
  }
};

const Handler kCall{kKnownFunction, {5, CodeItemBuilder::Constant(-3)}, {6}};

TEST(Figures, ElementHandlersFillTheirSlotOnlyForTheirElement) {
  FigureRuntime rt;
  const int32_t fig = rt.Figure("F");
  const int32_t drag = rt.code.FromHead(rt.code.MouseHandler(27, 3, kCall));
  const int32_t over = rt.code.FromHead(rt.code.MouseHandler(31, 3, kCall));
  rt.Figure("Next");
  rt.code.MouseHandler(26, -1, kCall);
  for (const int32_t element : {-1, 2, 3}) {
    const FigureHandlers h = rt.Resolve(fig, element);
    EXPECT_EQ(h.slot[kSlotMouseDrag], element == 3 ? drag + 3 : kNoHandler) << element;
    EXPECT_EQ(h.slot[kSlotMouseOver], element == 3 ? over + 3 : kNoHandler) << element;
    EXPECT_EQ(h.mouseOverForElement, element == 3) << element;
    EXPECT_EQ(h.slot[kSlotMouseDown], kNoHandler) << "the next figure's item";
  }
}

TEST(Figures, OneHandlerForEightEventsAndLaterItemsWin) {
  FigureRuntime rt;
  const int32_t fig = rt.Figure("F");
  const int32_t all = rt.code.FromHead(rt.code.Handler(kItemFigureHandler, kCall));
  rt.code.MouseHandler(33, -1, kCall);
  const int32_t draw = rt.code.FromHead(rt.code.Handler(kItemDraw, kCall));
  const FigureHandlers h = rt.Resolve(fig, -1);
  EXPECT_EQ(h.slot[kSlotDraw], draw + 2);
  for (int s = kSlotMouseDown; s <= kSlotMouseOut; ++s) EXPECT_EQ(h.slot[s], all + 2) << s;
  EXPECT_NE(h.slot[kSlotMouseScroll], kNoHandler);
  EXPECT_EQ(h.slot[kSlotDragIn], kNoHandler);
  EXPECT_EQ(h.slot[kSlotDragOut], kNoHandler);
  EXPECT_FALSE(h.mouseOverForElement);
}

TEST(Figures, HandlerFunctionsAreLookedUp) {
  {
    FigureRuntime rt;
    const int32_t fig = rt.Figure("F");
    rt.code.Handler(kItemDraw, Handler{kMissingFunction, {}, {}});
    rt.Resolve(fig, -1, kUndefFunOrVar);
  }
  {
    // A negative function is no call: nothing to look up.
    FigureRuntime rt;
    const int32_t fig = rt.Figure("F");
    const int32_t draw = rt.code.FromHead(rt.code.Handler(kItemDraw, Handler{-1, {}, {}}));
    EXPECT_EQ(rt.Resolve(fig, -1).slot[kSlotDraw], draw + 2);
  }
  FigureRuntime rt;
  const int32_t notFigure = rt.code.FromHead(rt.code.Text(kItemTitle, "not a figure"));
  rt.Resolve(notFigure, -1, kInvalidFigureId);
}

TEST(Figures, MouseHandlersOfAFigure) {
  struct Case {
    int32_t kind;
    bool want;
  };
  const Case kCases[] = {{26, true}, {30, true}, {33, true}, {31, false}, {32, false}, {34, false}, {36, false}};
  for (const Case& c : kCases) {
    FigureRuntime rt;
    const int32_t fig = rt.Figure("F");
    if (c.kind == kItemMouseOut || c.kind == kItemDraw)
      rt.code.Handler(c.kind, kCall);
    else
      rt.code.MouseHandler(c.kind, -1, kCall);
    rt.LoadCode(rt.code);
    EXPECT_EQ(FigureHasMouseHandlers(rt.block, 0, fig), c.want) << c.kind;
  }
}

std::string Title(const SubplotRecord& s) { return std::string(reinterpret_cast<const char*>(s.title)); }

TEST(Figures, SubplotsShowFiguresWithTheirTitles) {
  FigureRuntime rt;
  const int32_t drawn = rt.Figure("Drawn");
  const int32_t draw = rt.code.FromHead(rt.code.Handler(kItemDraw, kCall));
  const int32_t bare = rt.Figure("Bare");
  rt.LoadCode(rt.code);
  InstanceRecord* r = InstanceRecordAt(rt.block, 0);
  const SubplotRecord& s = r->subplots[0];

  ASSERT_EQ(SetSubplotFigure(rt.block, 0, 0, 0, drawn, false), kOk);
  EXPECT_EQ(s.figureShown, drawn);
  EXPECT_EQ(s.handlerSlots[kSlotDraw], draw + 2);
  EXPECT_EQ(Title(s), "Drawn");
  EXPECT_EQ(GetSubplotFigure(rt.block, 0, -1, -1), drawn);
  const char* text = nullptr;
  int32_t length = 0;
  ASSERT_TRUE(GetSubplotFigureTitle(rt.block, 0, 0, 0, &text, &length));
  EXPECT_EQ(std::string(text, length), "Drawn");

  // Without a draw handler the title stays empty.
  ASSERT_EQ(SetSubplotFigure(rt.block, 0, 0, 0, bare, false), kOk);
  EXPECT_EQ(Title(s), "");
  EXPECT_FALSE(GetSubplotFigureTitle(rt.block, 0, 0, 0, &text, &length));

  ASSERT_EQ(SetSubplotFigure(rt.block, 0, 0, 0, kFigureMissing, false), kOk);
  EXPECT_EQ(Title(s), "???");
  ASSERT_EQ(SetSubplotFigure(rt.block, 0, 0, 0, kFigureNone, false), kOk);
  EXPECT_EQ(Title(s), "");
  for (const int32_t slot : s.handlerSlots) EXPECT_EQ(slot, kNoHandler);

  // Outside the grid, no single selection, no instance.
  r->rows = 2;
  EXPECT_EQ(GetSubplotFigure(rt.block, 0, 2, 0), kFigureNoFigure);
  EXPECT_EQ(GetSubplotFigure(rt.block, 0, -1, 0), kFigureNoFigure);
  r->selection = 0x3;
  EXPECT_EQ(GetSubplotFigure(rt.block, 0, -1, -1), kFigureNoFigure);
  r->selection = 0x2;
  r->subplots[1].figureShown = bare;
  EXPECT_EQ(GetSubplotFigure(rt.block, 0, -1, -1), bare);
  EXPECT_EQ(GetSubplotFigure(rt.block, 9, 0, 0), kFigureMissing);

  // The selected subplots are the targets of a grid.
  ASSERT_EQ(SetSubplotFigure(rt.block, 0, -1, -1, drawn, false), kOk);
  EXPECT_EQ(r->subplots[1].figureShown, drawn);
  EXPECT_EQ(r->subplots[0].figureShown, kFigureNone);

  ClearAllSubplotFigures(rt.block, 0);
  for (const SubplotRecord& each : r->subplots) {
    EXPECT_EQ(each.figureShown, kFigureNone);
    EXPECT_EQ(each.handlerSlots[kSlotDraw], kNoHandler);
  }
}

}  // namespace
