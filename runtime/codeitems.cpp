// Walks over the code items of region 2: instance blocks, the language
// guards that make items active or not, and the removal of a block. A walk
// never trusts an item's length: it stops at one shorter than two words or
// one that ends past the used words.
#include <cstring>

#include "runtime/runtime.h"

namespace {

constexpr int kMaxNameCompare = 32;

bool ItemFits(const int32_t* w, int32_t used, int32_t p) {
  if (p < 0 || p + 2 > used) return false;
  const int32_t length = w[p + 1];
  return length >= 2 && length <= used - p;
}

// Language guards: the active state after the guard item at p.
void ApplyGuard(const int32_t* w, int32_t p, int32_t head, int32_t language, bool* active) {
  switch (w[p]) {
    case kItemLanguage:
      *active = p - head == language;
      break;
    case kItemSectionBegin:
      *active = w[p + 1] >= 3 && w[p + 2] == language;
      break;
    case kItemSectionEnd:
      *active = false;
      break;
    default:
      break;
  }
}

// The head name of the head item at p: its bytes within the item, up to a NUL.
void HeadName(const int32_t* w, int32_t p, const char** name, int32_t* length) {
  const int32_t room = (w[p + 1] - 4) * 4;
  *name = reinterpret_cast<const char*>(w + p + 4);
  *length = room > 0 ? static_cast<int32_t>(strnlen(*name, static_cast<size_t>(room))) : 0;
}

}  // namespace

StatusCode FindInstanceCodeBlock(RuntimeBlock* block, int32_t instance, int32_t* head) {
  const int32_t* w = RuntimeCodeWords(block);
  const int32_t used = block->codeWordsUsed;
  for (int32_t p = 0; ItemFits(w, used, p); p += w[p + 1]) {
    if (w[p] == kItemHead && w[p + 1] >= 3 && w[p + 2] == instance) {
      *head = p;
      return kOk;
    }
  }
  return kNonexistentInstance;
}

StatusCode FindNextCodeItem(RuntimeBlock* block, int32_t instance, int32_t* position, int32_t kind) {
  int32_t head = 0;
  if (FindInstanceCodeBlock(block, instance, &head) != kOk) return kNonexistentInstance;
  const InstanceRecord* r = FindInstanceRecord(block, instance);
  const int32_t language = r != nullptr ? r->language : -2;
  const int32_t* w = RuntimeCodeWords(block);
  const int32_t used = block->codeWordsUsed;

  bool active = true;
  if (kind == kItemLanguageInit) {
    kind = kItemInit;
    // Only init handlers behind the current language's guard.
    active = *position != -1;
  }
  int32_t p = 0;
  if (*position == -1) {
    p = head;
    if (kind != kItemHead) p += w[p + 1];
  } else {
    if (*position >= used || !ItemFits(w, used, *position)) return kUndefElement;
    p = *position + w[*position + 1];
  }
  for (; ItemFits(w, used, p); p += w[p + 1]) {
    const int32_t k = w[p];
    if (k == kItemHead) {
      if (kind != kItemHead) return kUndefElement;
      *position = p;
      return kOk;
    }
    if (kind == kItemLanguage && k == kItemLanguage) {
      *position = p;
      return kOk;
    }
    ApplyGuard(w, p, head, language, &active);
    if (active && k == kind) {
      *position = p;
      return kOk;
    }
  }
  return kUndefElement;
}

// The item's position as well, for callers that read its payload.
static StatusCode FindInstanceItemAt(RuntimeBlock* block, int32_t instance, int32_t kind, int32_t* position) {
  int32_t head = 0;
  if (FindInstanceCodeBlock(block, instance, &head) != kOk) return kNonexistentInstance;
  const InstanceRecord* r = FindInstanceRecord(block, instance);
  const int32_t language = r != nullptr ? r->language : -2;
  const int32_t* w = RuntimeCodeWords(block);
  const int32_t used = block->codeWordsUsed;
  bool active = true;
  for (int32_t p = head + w[head + 1]; ItemFits(w, used, p); p += w[p + 1]) {
    const int32_t k = w[p];
    if (k == kItemHead) break;
    ApplyGuard(w, p, head, language, &active);
    if (!active) continue;
    if (k == kItemMenuItem || k == kItemFigure) break;
    if (k == kind) {
      *position = p;
      return kOk;
    }
  }
  return kUndefElement;
}

StatusCode FindInstanceItem(RuntimeBlock* block, int32_t instance, int32_t kind, const int32_t** payload,
                            int32_t* first) {
  int32_t p = 0;
  if (StatusCode st = FindInstanceItemAt(block, instance, kind, &p); st != kOk) return st;
  const int32_t* w = RuntimeCodeWords(block);
  const int32_t length = w[p + 1];
  *payload = w + p + 3;
  *first = length >= 3 ? w[p + 2] : 0;
  // A text's byte length is read within its item.
  if ((kind == kItemTitle || kind == kItemVersion || kind == kItemHelp) &&
      (*first < 0 || *first > (length - 3) * int64_t{4}))
    return kUndefElement;
  return kOk;
}

bool IsPlainCodeInstance(RuntimeBlock* block, int32_t* instance) {
  int32_t head = 0;
  if (FindInstanceCodeBlock(block, *instance, &head) != kOk) return false;
  *instance = head;
  const int32_t* w = RuntimeCodeWords(block);
  const int32_t next = head + w[head + 1];
  return ItemFits(w, block->codeWordsUsed, next) && w[next] == kItemPlainCode;
}

StatusCode RemoveInstanceCodeBlock(RuntimeBlock* block, int32_t instance) {
  int32_t head = 0;
  if (StatusCode st = FindInstanceCodeBlock(block, instance, &head); st != kOk) return st;
  int32_t end = head;
  if (FindNextCodeItem(block, instance, &end, kItemHead) != kOk) end = block->codeWordsUsed;
  int32_t* w = RuntimeCodeWords(block);
  std::memmove(w + head, w + end, sizeof(int32_t) * static_cast<size_t>(block->codeWordsUsed - end));
  block->codeWordsUsed -= end - head;
  return kOk;
}

int32_t GetInstanceLibraryId(RuntimeBlock* block, int32_t instance) {
  int32_t head = 0;
  if (FindInstanceCodeBlock(block, instance, &head) != kOk) return 0;
  const int32_t* w = RuntimeCodeWords(block);
  return w[head + 1] >= 4 ? w[head + 3] : 0;
}

int32_t FindInstanceByName(RuntimeBlock* block, const char* name) {
  const int32_t n = static_cast<int32_t>(strnlen(name, kMaxNameCompare));
  const int32_t* w = RuntimeCodeWords(block);
  for (int32_t i = 0; i < block->instanceCount; ++i) {
    const int32_t id = InstanceRecordAt(block, i)->id;
    int32_t head = 0;
    if (FindInstanceCodeBlock(block, id, &head) != kOk) continue;
    const char* text = nullptr;
    int32_t length = 0;
    HeadName(w, head, &text, &length);
    if (length < n || std::memcmp(text, name, static_cast<size_t>(n)) != 0) continue;
    // "a" names "a" and "a.x" but not "ab".
    if (n == kMaxNameCompare || length == n || text[n] == '.') return id;
  }
  return -1;
}
