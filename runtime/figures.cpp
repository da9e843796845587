// Which figure each subplot shows and the handler items that the figure's
// items give it: a figure item is followed by its handler items up to the
// next figure item or the end of the instance's block.
#include <algorithm>
#include <cstring>

#include "runtime/runtime.h"

namespace {

constexpr char kMissingFigureTitle[] = "???";

bool ItemFits(const int32_t* w, int32_t used, int32_t p) {
  if (p < 0 || p + 2 > used) return false;
  const int32_t length = w[p + 1];
  return length >= 2 && length <= used - p;
}

// The figure item at head + figure, or -1 when none lies there.
int32_t FigureItem(RuntimeBlock* b, int32_t head, int32_t figure) {
  const int32_t* w = RuntimeCodeWords(b);
  const int32_t p = head + figure;
  if (figure <= 0 || !ItemFits(w, b->codeWordsUsed, p) || w[p] != kItemFigure) return -1;
  return p;
}

// Calls f(item position) for every item behind the figure item, up to the
// next figure or head.
template <class F>
void ForFigureItems(RuntimeBlock* b, int32_t figureItem, F f) {
  const int32_t* w = RuntimeCodeWords(b);
  const int32_t used = b->codeWordsUsed;
  for (int32_t p = figureItem + w[figureItem + 1]; ItemFits(w, used, p); p += w[p + 1]) {
    if (w[p] == kItemFigure || w[p] == kItemHead) return;
    if (!f(p)) return;
  }
}

// The handler payload's function is named in the instance's library.
StatusCode CheckHandlerFunction(RuntimeBlock* b, int32_t library, int32_t function) {
  if (function < 0) return kOk;  // no call
  const char* name = nullptr;
  int length = 0;
  if (StatusCode st = GetNameById(RuntimeNameTable(b), function, &name, &length); st != kOk) return st;
  char text[kNameBytes + 1];
  std::memcpy(text, name, static_cast<size_t>(length));
  text[length] = 0;
  int32_t inputs = 0;
  int32_t outputs = 0;
  bool varargin = false;
  bool varargout = false;
  return ResolveFunctionName(RuntimeEngine(b), text, nullptr, library, true, &inputs, &outputs, &varargin, &varargout);
}

SubplotRecord* TargetSubplot(InstanceRecord* r, int32_t row, int32_t column) {
  if (row >= 0 && column >= 0) {
    if (row >= r->rows || column >= r->columns) return nullptr;
    const int32_t k = row * r->columns + column;
    return k < kMaxSubplots ? &r->subplots[k] : nullptr;
  }
  if (r->rows == 1 && r->columns == 1) return &r->subplots[0];
  // The single selected subplot; none when several are.
  const uint32_t s = r->selection;
  if (s == 0 || (s & (s - 1)) != 0) return nullptr;
  int k = 0;
  while ((s >> k) != 1) ++k;
  return k < kMaxSubplots ? &r->subplots[k] : nullptr;
}

// The figure item's title (its T payload), within the item.
bool FigureTitle(RuntimeBlock* b, int32_t head, int32_t figure, const char** text, int32_t* length) {
  const int32_t p = FigureItem(b, head, figure);
  if (p < 0) return false;
  const int32_t* w = RuntimeCodeWords(b);
  const int32_t words = w[p + 1];
  const int32_t n = words >= 3 ? w[p + 2] : 0;
  if (n < 0 || n > (words - 3) * int64_t{4}) return false;
  *text = reinterpret_cast<const char*>(w + p + 3);
  *length = n;
  return true;
}

}  // namespace

StatusCode ResolveFigureHandlers(RuntimeBlock* block, int32_t instance, int32_t figure, int32_t element,
                                 FigureHandlers* h) {
  std::fill(h->slot, h->slot + kHandlerSlotCount, kNoHandler);
  h->mouseOverForElement = false;
  if (figure < 0) return kOk;
  int32_t head = 0;
  if (StatusCode st = FindInstanceCodeBlock(block, instance, &head); st != kOk) return st;
  const int32_t item = FigureItem(block, head, figure);
  if (item < 0) return kInvalidFigureId;
  const int32_t library = GetInstanceLibraryId(block, instance);
  const int32_t* w = RuntimeCodeWords(block);
  StatusCode st = kOk;
  ForFigureItems(block, item, [&](int32_t p) {
    const int32_t k = w[p];
    const int32_t length = w[p + 1];
    int32_t handler = -1;  // position of the handler payload
    int first = 0;
    int last = -1;
    if (k >= kItemMouseDown && k <= kItemDragOut && k != kItemMouseOut) {
      // {element id; H}: taken for every element or for the one asked about.
      if (length < 6 || (w[p + 2] != -1 && w[p + 2] != element)) return true;
      handler = p + 3;
      first = last = k - kItemMouseDown + kSlotMouseDown;
      if (k == kItemMouseOver && w[p + 2] != -1) h->mouseOverForElement = true;
    } else if (k == kItemMouseOut || k == kItemDraw || k == kItemFigureHandler) {
      if (length < 5) return true;
      handler = p + 2;
      first = k == kItemMouseOut ? kSlotMouseOut : kSlotDraw;
      last = k == kItemFigureHandler ? kSlotMouseOut : first;
    } else {
      return true;
    }
    for (int s = first; s <= last; ++s) h->slot[s] = handler - head;
    st = CheckHandlerFunction(block, library, w[handler]);
    return st == kOk;
  });
  return st;
}

bool FigureHasMouseHandlers(RuntimeBlock* block, int32_t instance, int32_t figure) {
  int32_t head = 0;
  if (figure < 0 || FindInstanceCodeBlock(block, instance, &head) != kOk) return false;
  const int32_t item = FigureItem(block, head, figure);
  if (item < 0) return false;
  const int32_t* w = RuntimeCodeWords(block);
  bool found = false;
  ForFigureItems(block, item, [&](int32_t p) {
    const int32_t k = w[p];
    found = (k >= kItemMouseDown && k <= kItemDoubleClick) || k == kItemMouseScroll;
    return !found;
  });
  return found;
}

StatusCode SetSubplotFigure(RuntimeBlock* block, int32_t instance, int32_t row, int32_t column, int32_t figure,
                            bool force) {
  InstanceRecord* r = FindInstanceRecord(block, instance);
  if (r == nullptr) return kNonexistentInstance;
  int32_t head = -1;
  (void)FindInstanceCodeBlock(block, instance, &head);
  for (int32_t k = 0; k < kMaxSubplots; ++k) {
    const bool target = row >= 0 && column >= 0           ? k == row * r->columns + column
                        : r->rows == 1 && r->columns == 1 ? k == 0
                                                          : (r->selection >> k & 1u) != 0;
    SubplotRecord* s = &r->subplots[k];
    if (!target || (s->figureShown == figure && !force)) continue;
    ResetSubplotContents(s, true);
    s->figureShown = figure;
    FigureHandlers h;
    if (StatusCode st = ResolveFigureHandlers(block, instance, figure, -1, &h); st != kOk) return st;
    std::copy(h.slot, h.slot + kHandlerSlotCount, s->handlerSlots);
    const char* title = "";
    int32_t length = 0;
    if (figure == kFigureMissing) {
      title = kMissingFigureTitle;
      length = 3;
    } else if (figure >= 0 && h.slot[kSlotDraw] != kNoHandler) {
      (void)FigureTitle(block, head, figure, &title, &length);
    }
    SetSubplotTitle(s, title, length);
    ApplyLayoutToSubplots(r);
  }
  return kOk;
}

void ClearAllSubplotFigures(RuntimeBlock* block, int32_t instance) {
  InstanceRecord* r = FindInstanceRecord(block, instance);
  if (r == nullptr) return;
  for (SubplotRecord& s : r->subplots) {
    s.figureShown = kFigureNone;
    s.handlerSlots[kSlotDraw] = kNoHandler;
    ResetSubplotContents(&s, true);
  }
}

int32_t GetSubplotFigure(RuntimeBlock* block, int32_t instance, int32_t row, int32_t column) {
  InstanceRecord* r = FindInstanceRecord(block, instance);
  if (r == nullptr) return kFigureMissing;
  const SubplotRecord* s = TargetSubplot(r, row, column);
  return s != nullptr ? s->figureShown : kFigureNoFigure;
}

bool GetSubplotFigureTitle(RuntimeBlock* block, int32_t instance, int32_t row, int32_t column, const char** text,
                           int32_t* length) {
  InstanceRecord* r = FindInstanceRecord(block, instance);
  if (r == nullptr) return false;
  const SubplotRecord* s = TargetSubplot(r, row, column);
  if (s == nullptr || s->handlerSlots[kSlotDraw] == kNoHandler) return false;
  int32_t head = 0;
  if (FindInstanceCodeBlock(block, instance, &head) != kOk) return false;
  return FigureTitle(block, head, s->figureShown, text, length);
}
