// Restoring an application image into the runtime block: the header's room
// checks with growth and retry, the chunks read straight into the regions,
// then structural checks of every region, since the image is outside input.
#include <cstring>

#include "runtime/runtime.h"

namespace {

int32_t HeaderWord(const uint8_t* h, int i) {
  const uint8_t* p = h + 4 * i;
  return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
}

// The sizes the header gives, each checked never negative.
struct ImageSizes {
  int64_t storeBytes;
  int64_t records;
  int64_t codeWords;
  int64_t nameBytes;
  int64_t setAreaBytes;
  int64_t heapCells;
};

bool ReadSizes(const uint8_t* h, ImageSizes* s) {
  *s = ImageSizes{HeaderWord(h, 0), HeaderWord(h, 1), HeaderWord(h, 2),
                  HeaderWord(h, 3), HeaderWord(h, 5), HeaderWord(h, 6)};
  // Instance 0 always has its record; the store needs its header double.
  return s->storeBytes >= 8 && s->storeBytes % 8 == 0 && s->records >= 1 && s->codeWords >= 0 && s->nameBytes >= 8 &&
         s->setAreaBytes >= 0 && s->heapCells >= 0;
}

bool ReadChunk(EngineStateReader read, void* userData, void* to, int64_t bytes) {
  return bytes == 0 || read(to, static_cast<int32_t>(bytes), userData);
}

// 0 when the header's sizes fit the regions as they are now, else the room
// code that asks for growth (or 10002, final).
StatusCode CheckCapacity(RuntimeBlock* b, const ImageSizes& s) {
  // The store's resize keeps room for one more instance record.
  if (s.storeBytes + int64_t{kInstanceRecordBytes} * (s.records + 1) > b->regionSize[1]) return 10001;
  if (4 * s.codeWords > b->regionSize[2]) return kNotEnoughMemForKVFile;
  if (s.nameBytes > b->regionSize[3]) return kTooSmallNameBuf;
  return RestoreVariableStore(RuntimeVariableStore(b), s.setAreaBytes, s.heapCells, nullptr, nullptr);
}

// ---------------------------------------------------------------------------
// Code items: every payload the walks and readers take lies inside its item.

enum PayloadShape {
  kFree,
  kNone,
  kWord,
  kText,
  kHandler,
  kMouse,
  kNamed,
  kPaste,
  kHeadItem,
  kAfter,
  kKey,
  kData,
  kLib
};

PayloadShape ShapeOf(int32_t kind) {
  switch (kind) {
    case kItemHead:
      return kHeadItem;
    case 2:
    case 3:
    case 5:
    case 11:
    case 20:
    case 22:
    case 24:
    case 45:
    case 47:
      return kText;
    case 6:
    case 12:
      return kWord;
    case 7:
    case 8:
    case 9:
    case 16:
    case 32:
    case 36:
    case 37:
    case 38:
    case 41:
      return kHandler;
    case 13:
    case 18:
    case 23:
    case 25:
      return kNone;
    case 14:
      return kPaste;
    case 15:
    case 17:
    case 19:
      return kNamed;
    case 26:
    case 27:
    case 28:
    case 29:
    case 30:
    case 31:
    case 33:
    case 34:
    case 35:
      return kMouse;
    case 39:
      return kAfter;
    case 40:
      return kKey;
    case 43:
      return kData;
    case 44:
      return kLib;
    default:
      return kFree;
  }
}

// Payload words p .. end-1 of one item; each reader advances p.
class PayloadCheck {
 public:
  PayloadCheck(const int32_t* w, int64_t p, int64_t end) : w_(w), p_(p), end_(end) {}
  bool Words(int64_t n) {
    if (n < 0 || p_ + n > end_) return false;
    p_ += n;
    return true;
  }
  bool Count(int64_t* n) {
    if (p_ >= end_) return false;
    *n = w_[p_++];
    return *n >= 0;
  }
  bool Text() {
    int64_t bytes = 0;
    return Count(&bytes) && Words((bytes + 3) / 4);
  }
  bool Name() {
    int64_t bytes = 0;
    return Count(&bytes) && Words(bytes / 4 + 1);
  }
  bool Handler() {
    int64_t in = 0, out = 0;
    return Words(1) && Count(&in) && Count(&out) && Words(in + out);
  }
  int64_t Left() const { return end_ - p_; }

 private:
  const int32_t* w_;
  int64_t p_, end_;
};

bool PayloadFits(const int32_t* w, int64_t at, int64_t length) {
  PayloadCheck c(w, at + 2, at + length);
  switch (ShapeOf(w[at])) {
    case kFree:
    case kNone:
      return true;
    case kHeadItem:
      return c.Words(2);
    case kWord:
      return c.Words(1);
    case kText:
      return c.Text();
    case kHandler:
      return c.Handler();
    case kMouse:
      return c.Words(1) && c.Handler();
    case kNamed:
      return c.Name() && c.Handler();
    case kPaste:
      return c.Words(2) && c.Name() && c.Handler();
    case kAfter: {
      int64_t n = 0;
      return c.Count(&n) && c.Words(n) && c.Handler();
    }
    case kKey:
      return c.Words(2) && c.Handler();
    case kData: {
      int64_t bytes = 0;
      return c.Name() && c.Count(&bytes) && c.Words((bytes + 3) / 4);
    }
    case kLib: {
      if (length < 6) return false;
      const int64_t offset = w[at + 2], count = w[at + 3];
      return offset >= 0 && (count < 0 || offset + count <= 4 * (length - 6));
    }
  }
  return false;
}

bool CheckCodeItems(const int32_t* w, int64_t used) {
  int64_t p = 0;
  while (p < used) {
    if (p + 2 > used) return false;
    const int64_t length = w[p + 1];
    if (length < 2 || length > used - p || !PayloadFits(w, p, length)) return false;
    p += length;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Instance records: their layout and the item offsets they hold.

// Words of the instance's block from its head, 0 when it has none.
int64_t InstanceBlockWords(RuntimeBlock* b, int32_t instance) {
  int32_t head = 0;
  if (FindInstanceCodeBlock(b, instance, &head) != kOk) return 0;
  const int32_t* w = RuntimeCodeWords(b);
  int64_t p = head + int64_t{w[head + 1]};
  while (p < b->codeWordsUsed && w[p] != kItemHead) p += w[p + 1];
  return p - head;
}

bool OffsetInBlock(int32_t offset, int32_t lowest, int64_t words) {
  return offset >= lowest && (offset < 0 || offset < words);
}

bool CheckInstanceRecords(RuntimeBlock* b) {
  for (int32_t i = 0; i < b->instanceCount; ++i) {
    const InstanceRecord* r = InstanceRecordAt(b, i);
    if (r->rows < 0 || r->columns < 0 || int64_t{r->rows} * r->columns > kMaxSubplots) return false;
    const int64_t words = InstanceBlockWords(b, r->id);
    if (!OffsetInBlock(r->language, -2, words)) return false;
    for (const SubplotRecord& s : r->subplots) {
      if (!OffsetInBlock(s.figureShown, kFigureNone, words)) return false;
      for (int32_t h : s.handlerSlots)
        if (h >= 0 && h >= words) return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------

// Chunks 5 to 10 into the regions, then every region's check; 600 on any failure.
StatusCode FillRegions(RuntimeBlock* b, const ImageSizes& s, EngineStateReader read, void* userData) {
  double* store = RuntimeBlockStore(b);
  if (!ReadChunk(read, userData, store, s.storeBytes)) return kInitError;
  if (!CheckBlockStore(store, static_cast<int32_t>(s.storeBytes / 8))) return kInitError;
  if (ResizeBlockStore(store, BlockStoreDoubles(b, static_cast<int32_t>(s.records) + 1)) != kOk) return kInitError;

  b->instanceCount = static_cast<int32_t>(s.records);
  const int64_t recordBytes = int64_t{kInstanceRecordBytes} * s.records;
  if (!ReadChunk(read, userData, RuntimeRegion(b, 1) + b->regionSize[1] - recordBytes, recordBytes)) return kInitError;
  b->codeWordsUsed = static_cast<int32_t>(s.codeWords);
  if (!ReadChunk(read, userData, RuntimeCodeWords(b), 4 * s.codeWords)) return kInitError;
  NameTable* names = RuntimeNameTable(b);
  if (!ReadChunk(read, userData, names, s.nameBytes)) return kInitError;
  if (SetNameTableSize(names, b->regionSize[3]) != kOk) return kInitError;
  if (CheckNameTable(names, b->regionSize[3]) != kOk) return kInitError;
  if (RestoreVariableStore(RuntimeVariableStore(b), s.setAreaBytes, s.heapCells, read, userData) != kOk)
    return kInitError;

  if (!CheckCodeItems(RuntimeCodeWords(b), b->codeWordsUsed) || !CheckInstanceRecords(b)) return kInitError;
  return kOk;
}

void WriteBackHeader(RuntimeBlock* b, const uint8_t* h) {
  b->savedCurrentInstance = HeaderWord(h, 8);
  b->nextInstanceId = HeaderWord(h, 9);
  b->defaultSandbox = h[40];
  b->mouseMode = HeaderWord(h, 11);
  for (int k = 0; k < 2; ++k) {
    static_assert(sizeof(PlotStyle) == 8);
    std::memcpy(&b->defaultStyles[k], h + 48 + 8 * k, sizeof(PlotStyle));
  }
  b->highlight = h[64];
  b->outlinesShown = h[65];
  for (int32_t i = 0; i < b->instanceCount; ++i) {
    InstanceRecord* r = InstanceRecordAt(b, i);
    int32_t position = -1;
    r->idleState = FindNextCodeItem(b, r->id, &position, kItemIdle) == kOk ? 2 : 0;
    r->idleMode = 0;
    r->nextIdleTime = -1.0;
    r->lastIdleTime = -1.0;
  }
}

// The extension names between ';' separators; a final separator ends the
// list without an empty name.
void CallExtensions(RuntimeBlock* b, const char* names, int64_t length, ExtensionNameCallback extension, void* data) {
  int64_t start = 0;
  for (int64_t k = 0; k <= length; ++k) {
    if (k < length && names[k] != ';') continue;
    if (k < length || k > start) extension(b, names + start, static_cast<int32_t>(k - start), data);
    start = k + 1;
  }
}

// The list's names are read and handed out before the regions change.
StatusCode ReadExtensionNames(RuntimeBlock* b, EngineStateReader read, void* userData, ExtensionNameCallback extension,
                              void* extensionData) {
  int32_t length = 0;
  uint8_t word[4];
  if (!read(word, 4, userData)) return kEof;
  length = HeaderWord(word, 0);
  if (length < 0) return kInitError;
  if (length == 0) return kOk;
  EngineContext* ctx = RuntimeEngine(b);
  void* payload = nullptr;
  if (StatusCode st = PushBoxedValue(ctx, 0, length, &payload); st != kOk) return st;
  StatusCode st = kOk;
  if (!read(payload, length, userData)) {
    st = kEof;
  } else if (extension == nullptr) {
    st = kIllegal;  // names present, nothing to load them
  } else {
    CallExtensions(b, static_cast<const char*>(payload), length, extension, extensionData);
  }
  (void)DropArgsUnderResults(RuntimeEngine(b), 1, 0);
  return st;
}

StatusCode EmptyAfterFailure(RuntimeBlock* b, StatusCode st) {
  (void)ResetEngineToBaseFrame(RuntimeEngine(b));
  (void)ResetRuntimeToEmpty(b, true);
  return st;
}

}  // namespace

StatusCode RestoreApplicationImage(RuntimeBlock** pp, EngineStateReader read, ImagePositionCallback position,
                                   void* userData, ExtensionNameCallback extension, void* extensionData) {
  uint8_t h[4 * kImageHeaderWords];
  if (!read(h, sizeof h, userData)) return kEof;
  if (StatusCode st = ReadExtensionNames(*pp, read, userData, extension, extensionData); st != kOk) return st;
  ImageSizes s{};
  const bool sound = ReadSizes(h, &s);
  int64_t mark = 0;
  if (position != nullptr) position(0, &mark, userData);

  for (;;) {
    if (!sound) return EmptyAfterFailure(*pp, kInitError);
    StatusCode st = CheckCapacity(*pp, s);
    if (st != kOk) {
      if (IsGrowAndRetryStatus(st) && ExpandRuntimeMemory(pp, st)) continue;
      return st;
    }
    st = LoadEngineState(RuntimeEngine(*pp), read, userData);
    if (st == kOk) break;
    // A room code changed nothing; after anything else the engine is empty,
    // and a cut image is a broken image here, not a short stream.
    if (!IsGrowAndRetryStatus(st)) return EmptyAfterFailure(*pp, kInitError);
    if (position == nullptr || !ExpandRuntimeMemory(pp, st)) return st;
    position(1, &mark, userData);
  }

  RuntimeBlock* b = *pp;
  if (StatusCode st = FillRegions(b, s, read, userData); st != kOk) return EmptyAfterFailure(b, st);
  WriteBackHeader(b, h);
  return kOk;
}
