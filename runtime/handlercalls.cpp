// Handler calls: the inputs pushed from the instance's variables or computed
// from the current event, the handler's function run by name in the
// instance's library, its outputs taken back, the make dependencies kept, and
// the texts of runtime errors.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "runtime/runtime.h"

namespace {

constexpr StatusCode kExhaustedResources = 10000;

StatusCode PopValues(EngineContext* ctx, int n) { return DropArgsUnderResults(ctx, 0, n); }

// Grows the block for a handler to run again. The open display list is
// committed first and reopened after, so that it reaches the new room, which
// the growth adds behind the store's last block.
bool GrowForRetry(RuntimeBlock** pp, StatusCode status) {
  RuntimeBlock* b = *pp;
  const int32_t key = b->currentList[0];
  if (key >= 0 && b->currentList[3] > 0) {
    double* store = RuntimeBlockStore(b);
    (void)CommitBlockAt(store, key, store + b->currentList[1], b->currentList[3]);
  }
  const bool grew = ExpandRuntimeMemory(pp, status);
  b = *pp;
  if (key >= 0) {
    double* store = RuntimeBlockStore(b);
    double* payload = nullptr;
    int32_t length = 0;
    int32_t capacity = 0;
    OpenBlockForWriting(store, key, &payload, &length, &capacity);
    b->currentList[1] = payload != nullptr ? static_cast<int32_t>(payload - store) : 0;
    b->currentList[2] = capacity > 0 ? capacity : 0;
    b->currentList[3] = length;
  }
  return grew;
}

// A handler payload as the code words hold it now; the words move with a growth.
struct Payload {
  int32_t function;
  int32_t inputs;
  int32_t outputs;
  const int32_t* outputIds;
  const int32_t* inputIds;
};

Payload ReadPayload(RuntimeBlock* b, int32_t head, int32_t offset) {
  const int32_t* w = RuntimeCodeWords(b) + head + offset;
  return Payload{w[0], w[1], w[2], w + 3, w + 3 + w[2]};
}

bool IsConstantId(int32_t id) { return id >= kConstantIdBase || id < -kConstantIdBase; }
// The instance's own variables, as the make handlers see them.
bool IsApplicationVariable(int32_t id) { return !IsConstantId(id) && (id < 1 || id > 42); }

// A complex scalar that is real when its imaginary part is 0.
// A NaN imaginary part stays: the engine's complex push would drop it.
StatusCode PushNumber(EngineContext* ctx, double re, double im) {
  if (im == 0.0) return PushRealScalar(ctx, re);
  double* r = nullptr;
  double* i = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, 1, 1, &r, &i); st != kOk) return st;
  *r = re;
  *i = im;
  return kOk;
}

StatusCode PushRow(EngineContext* ctx, const double* v, int32_t n) {
  double* re = nullptr;
  if (StatusCode st = PushDoubleMatrix(ctx, 1, n, &re, nullptr); st != kOk) return st;
  for (int32_t k = 0; k < n; ++k) re[k] = v[k];
  return kOk;
}

// (x1 + i y1) / (x + i y) without overflow in the intermediate products.
void SmithDivide(double x1, double y1, double x, double y, double* re, double* im) {
  if (std::fabs(y) < std::fabs(x)) {
    const double r = y / x;
    const double d = 1.0 / (x + y * r);
    *re = (x1 + y1 * r) * d;
    *im = (y1 - x1 * r) * d;
  } else if (y != 0.0) {
    const double r = x / y;
    const double d = 1.0 / (y + x * r);
    *re = (x1 * r + y1) * d;
    *im = (y1 * r - x1) * d;
  } else if (y1 == 0.0) {
    *re = x1 / 0.0;
    *im = 0.0;
  } else {
    *re = *im = std::numeric_limits<double>::quiet_NaN();
  }
}

StatusCode PushKeyName(EngineContext* ctx, int32_t key) {
  static constexpr const char* kArrows[] = {"up", "down", "left", "right"};
  if (key >= 0xF700 && key <= 0xF703) return PushStringFromBytes(ctx, -1, kArrows[key - 0xF700]);
  if (key == 0) return PushStringFromBytes(ctx, 0, "");
  const auto code = static_cast<uint16_t>(key);
  return PushStringFromWideText(ctx, 1, &code);
}

// Writes the value on top into the variable's cells of the state back.
StatusCode WriteTopValue(RuntimeBlock* b, int32_t instance, int32_t back, int32_t id) {
  EngineContext* ctx = RuntimeEngine(b);
  int64_t size = 0;
  (void)GetValueSize(ctx, 0, &size);
  if (size > INT32_MAX) return kVarTooLargeForUndo;
  double* cells = nullptr;
  if (StatusCode st = WriteVariable(RuntimeVariableStore(b), instance, back, id, static_cast<int32_t>(size), &cells);
      st != kOk)
    return st;
  if (cells != nullptr) (void)CopyValueOut(ctx, 0, cells);
  if (InstanceRecord* r = FindInstanceRecord(b, instance); r != nullptr) r->menuStale = 1;
  return kOk;
}

// ---------------------------------------------------------------------------
// Text outputs of Copy As.

const char* LineEnd(const RuntimeBlock* b) {
  return b->lineEndStyle == 0 ? "\r" : b->lineEndStyle == 1 ? "\n" : "\r\n";
}

bool Append(HandlerTexts* t, const char* bytes, int32_t n) {
  if (*t->textLength + n > t->textSize) return false;
  std::memcpy(t->text + *t->textLength, bytes, static_cast<size_t>(n));
  *t->textLength += n;
  return true;
}

// The value as source text that recreates it, in the charset with the header's line ends.
StatusCode WriteXdataAsSource(RuntimeBlock* b, HandlerTexts* t) {
  EngineContext* ctx = RuntimeEngine(b);
  int64_t bytes = 0;
  Cell* free = nullptr;
  (void)GetFreeDataSpace(ctx, &bytes, &free);
  // The upper half of the free data space, out of the way of the writer's own work.
  const int64_t units = bytes / 4;
  if (units < 50) return 3;
  auto* wide = reinterpret_cast<uint16_t*>(reinterpret_cast<uint8_t*>(free) + 2 * units);
  int64_t length = 0;
  if (StatusCode st = WriteValueAsSource(ctx, wide, units, &length, -1, nullptr, 0); st != kOk) return st;
  int written = 0;
  const int room = t->textSize - *t->textLength;
  if (!EncodeTextWithLineEnds(ctx, b->lineEndStyle, wide, static_cast<int>(length), t->text + *t->textLength, room,
                              &written))
    return kExhaustedResources;
  *t->textLength += written;
  const char* eol = LineEnd(b);
  if (t->textSize - *t->textLength >= 2) (void)Append(t, eol, static_cast<int32_t>(std::strlen(eol)));
  return kOk;
}

// A string as its bytes, any other real matrix row by row with TABs.
StatusCode WriteXdataPlain(RuntimeBlock* b, HandlerTexts* t) {
  EngineContext* ctx = RuntimeEngine(b);
  if (IsCharArg(ctx, 0)) {
    const char* text = nullptr;
    int64_t length = 0;
    if (StatusCode st = GetStringArg(ctx, 0, &text, &length); st != kOk) return st;
    if (length > INT32_MAX || !Append(t, text, static_cast<int32_t>(length))) return kExhaustedResources;
    return kOk;
  }
  int32_t m = 0, n = 0;
  double* re = nullptr;
  double* im = nullptr;
  if (StatusCode st = GetDoubleMatrixArg(ctx, 0, &m, &n, &re, &im); st != kOk) return ReportedStatus(st);
  if (im != nullptr) return kWrongType;
  const char* eol = LineEnd(b);
  for (int32_t i = 0; i < m; ++i) {
    for (int32_t j = 0; j < n; ++j) {
      if (t->textSize - *t->textLength < 50) return kExhaustedResources;
      char number[40];
      // Rows are stored row-major.
      const int k = std::snprintf(number, sizeof number, j + 1 < n ? "%.15g\t" : "%.15g", re[int64_t{i} * n + j]);
      (void)Append(t, number, k);
    }
    if (!Append(t, eol, static_cast<int32_t>(std::strlen(eol)))) return kExhaustedResources;
  }
  return kOk;
}

// "%KV xdata "type"" and the link line in front of the text written so far.
StatusCode WriteXdataType(RuntimeBlock* b, int32_t instance, HandlerTexts* t) {
  EngineContext* ctx = RuntimeEngine(b);
  const char* type = nullptr;
  int64_t length = 0;
  if (StatusCode st = GetStringArg(ctx, 0, &type, &length); st != kOk) return ReportedStatus(st);
  const char* eol = LineEnd(b);
  const auto eolLength = static_cast<int64_t>(std::strlen(eol));
  char link[32];
  int linkLength = 0;
  if (t->link >= 0) {
    const auto two = [](int32_t v, char* at) {
      at[0] = static_cast<char>('0' + v / 10);
      at[1] = static_cast<char>('0' + v % 10);
    };
    std::memcpy(link, "%KV link ## **", 14);
    two(instance, link + 9);
    two(t->link, link + 12);
    std::memcpy(link + 14, eol, static_cast<size_t>(eolLength));
    linkLength = static_cast<int>(14 + eolLength);
  }
  const int64_t front = 10 + 2 + length + eolLength + linkLength;
  if (front + *t->textLength > t->textSize) return kExhaustedResources;
  std::memmove(t->text + front, t->text, static_cast<size_t>(*t->textLength));
  char* p = t->text;
  std::memcpy(p, "%KV xdata \"", 11);
  p += 11;
  for (int64_t k = 0; k < length; ++k) *p++ = type[k] == '"' ? '\'' : type[k];
  *p++ = '"';
  std::memcpy(p, eol, static_cast<size_t>(eolLength));
  p += eolLength;
  std::memcpy(p, link, static_cast<size_t>(linkLength));
  *t->textLength += static_cast<int32_t>(front);
  return kOk;
}

void StoreMessage(EngineContext* ctx, HandlerTexts* t) {
  const char* text = nullptr;
  int64_t length = 0;
  if (t->message == nullptr || t->messageSize <= 0) return;
  if (GetStringArg(ctx, 0, &text, &length) != kOk || text == nullptr) length = 0;
  int32_t n = 0;
  while (n < t->messageSize && n < length && text[n] != '\r' && text[n] != '\n') ++n;
  if (t->messageLength != nullptr) {
    if (n > 0) std::memcpy(t->message, text, static_cast<size_t>(n));
    *t->messageLength = n;
    return;
  }
  if (n == t->messageSize) n = t->messageSize - 1;
  if (n > 0) std::memcpy(t->message, text, static_cast<size_t>(n));
  t->message[n] = 0;
}

// ---------------------------------------------------------------------------
// The call itself.

struct CallState {
  RuntimeBlock** pp;
  int32_t instance;
  int32_t payload;
  bool back;
  bool nested;
  int32_t subplot;
  int32_t eventKind;
  bool eventData;
  int32_t key;
  int32_t fd;
  HandlerTexts* texts;
};

// Runs the prepared call with the break test: 500 means the handler is still running.
StatusCode RunWithBreakTest(RuntimeBlock* b, StatusCode st) {
  EngineContext* ctx = RuntimeEngine(b);
  const bool reports = b->runningStatus != nullptr && b->clock != nullptr;
  while (st == kSuspended) {
    st = RunInterpreter(ctx, 1);
    if (b->breakTest(b->breakTestData)) {
      if (st == kSuspended) {
        SetErrorLocation(ctx, kSuspended, 0);
        (void)PrintError(ctx, kSuspended, true);
        (void)UnwindFrames(ctx, -1);
      }
      return st;
    }
    if (reports) {
      const double elapsed = ReadRuntimeClock(b, 1, false);
      if (elapsed >= b->nextStatusTime) {
        b->runningStatus(1, elapsed, b->runningStatusData);
        b->nextStatusTime = elapsed + 0.1;
      }
    }
  }
  return st;
}

StatusCode PushInputs(CallState& c, const Payload& h) {
  RuntimeBlock* b = *c.pp;
  EngineContext* ctx = RuntimeEngine(b);
  for (int32_t k = 0; k < h.inputs; ++k) {
    const int32_t w = h.inputIds[k];
    StatusCode st = kOk;
    if (!c.eventData && w >= 2 && w <= 31 && !(w == kSpecialParam && c.subplot >= 0)) {
      st = PushEmptyMatrix(ctx);
    } else {
      b->event.subplot = c.subplot;
      const DrawingDevice* device = b->device;
      const InstanceRecord* r = FindInstanceRecord(b, c.instance);
      if ((w >= 2 && w <= 10) || (w >= 17 && w <= 26) || (w >= 28 && w <= 31)) {
        st = PushHandlerSpecialValue(b, c.instance, w, c.back);
      } else if (w == kSpecialKey) {
        st = PushKeyName(ctx, c.key);
      } else if (w == kSpecialFd) {
        st = PushRealScalar(ctx, c.fd);
      } else if (w == kSpecialWidth) {
        st = PushRealScalar(ctx, (r->box[1] - r->box[0]) * (device != nullptr ? device->d4 : 1.0));
      } else if (w == kSpecialHeight) {
        st = PushRealScalar(ctx, std::fabs(r->box[2] - r->box[3]) * (device != nullptr ? device->d5 : 1.0));
      } else if (w == kSpecialXdata || w == kSpecialXdatatype) {
        const bool has = c.texts != nullptr && c.texts->text != nullptr;
        st = PushXdataInput(b, w, has ? c.texts->text : nullptr, has && c.texts->textLength ? *c.texts->textLength : 0);
      } else {
        st = PushHandlerInput(b, c.instance, c.back, w);
      }
    }
    if (st == kNonexistentUndoSet) st = PushEmptyMatrix(ctx);
    if (st != kOk) {
      if (!IsGrowAndRetryStatus(st)) (void)PrintError(ctx, st, true);
      return st;
    }
  }
  return kOk;
}

StatusCode RunFunction(CallState& c, const Payload& h, int32_t library, bool sandbox) {
  RuntimeBlock* b = *c.pp;
  EngineContext* ctx = RuntimeEngine(b);
  const char* name = nullptr;
  int length = 0;
  if (StatusCode st = GetNameById(RuntimeNameTable(b), h.function, &name, &length); st != kOk) {
    (void)PopValues(ctx, h.inputs);
    return st;
  }
  char text[kNameBytes + 1];
  std::memcpy(text, name, static_cast<size_t>(length));
  text[length] = 0;
  StatusCode st = kOk;
  if (b->breakTest != nullptr) {
    st = CallFunctionByName(ctx, text, length, library, h.inputs, h.outputs, false, false, false);
    if (st == kOk) {
      if (sandbox) MarkFrameSandboxed(ctx);
      st = RunWithBreakTest(b, kSuspended);
    } else {
      (void)PrintError(ctx, st, true);
    }
  } else {
    st = RunFunctionByName(ctx, text, nullptr, h.inputs, h.outputs, sandbox, 0, library);
  }
  if (st == kDebugStop) {
    static constexpr char kRefused[] = "Cannot step in KV handlers.";
    static constexpr char kLocals[] = "Local variables:";
    (void)WriteToDescriptor(ctx, 2, kRefused, sizeof kRefused - 1);
    (void)WriteNewlineToDescriptor(ctx, 2);
    (void)WriteToDescriptor(ctx, 2, kLocals, sizeof kLocals - 1);
    (void)WriteNewlineToDescriptor(ctx, 2);
    (void)ListVariables(ctx, 2, false);
    (void)UnwindFrames(ctx, 0);
    // Nothing is left stopped: the next run must not find the debugger's state.
    (void)ClearError(ctx);
  }
  if (st != kOk) (void)UnwindFrames(ctx, 0);
  return st;
}

// The outputs in payload order, each from the top of the stack: a call
// leaves its first result on top.
StatusCode StoreOutputs(CallState& c, const Payload& h, int32_t* written) {
  RuntimeBlock* b = *c.pp;
  EngineContext* ctx = RuntimeEngine(b);
  StatusCode st = kOk;
  int32_t left = h.outputs;
  for (int32_t k = 0; k < h.outputs; ++k, --left) {
    const int32_t w = h.outputIds[k];
    InstanceRecord* r = FindInstanceRecord(b, c.instance);
    if (w == kSpecialParam) {
      st = StoreSubplotParameter(b, c.instance, c.subplot);
      if (st != kOk) break;
      continue;
    }
    if (w == kSpecialXdata || w == kSpecialXdatatype) {
      HandlerTexts* t = c.texts;
      if (t != nullptr && t->text != nullptr && t->textLength != nullptr) {
        if (w == kSpecialXdatatype) {
          st = WriteXdataType(b, c.instance, t);
        } else {
          bool typeFollows = false;
          for (int32_t j = k + 1; j < h.outputs; ++j) typeFollows |= h.outputIds[j] == kSpecialXdatatype;
          if (*t->textLength != 0 || typeFollows) {
            st = WriteXdataAsSource(b, t);
            // The writer consumed the value.
            if (st == kOk) continue;
          } else {
            st = WriteXdataPlain(b, t);
          }
        }
      }
    } else if (w == kSpecialMsg) {
      if (c.texts != nullptr) StoreMessage(ctx, c.texts);
    } else if (w == kSpecialCursor) {
      uint8_t on = 0;
      st = GetBooleanArg(ctx, 0, &on);
      if (st == kOk) b->elementCursor = on != 0;
    } else if (w == kSpecialIdleRate || w == kSpecialIdleAmount) {
      double v = 0;
      st = ReportedStatus(GetRealScalarArg(ctx, 0, &v));
      if (st == kOk && r != nullptr) {
        r->nextIdleTime = v;
        r->idleMode = w == kSpecialIdleRate ? 1 : 2;
      }
    } else {
      st = StoreHandlerOutput(b, c.instance, c.nested && c.back, w);
      if (st == kOk) ++*written;
    }
    if (st != kOk) break;
    (void)PopValues(ctx, 1);
  }
  if (st != kOk) (void)PopValues(ctx, left);
  return st;
}

}  // namespace

// ---------------------------------------------------------------------------

StatusCode PushHandlerSpecialValue(RuntimeBlock* block, int32_t instance, int32_t id, bool back) {
  EngineContext* ctx = RuntimeEngine(block);
  const EventRecord& e = block->event;
  const uint32_t f = e.flags;
  const auto has = [f](uint32_t bits) { return (f & bits) == bits; };
  const bool delta = has(kEventDelta);
  // Points by id: 0 the press point, 1 the element's point, 2 the pointer now.
  const double px[3] = {e.x, e.x0, e.x1};
  const double py[3] = {e.y, e.y0, e.y1};
  const uint32_t pointBits[3] = {kEventX | kEventY, kEventX0 | kEventY0, kEventX1 | kEventY1};
  switch (id) {
    case 2:
    case 3:
    case 4:
      if (!has(pointBits[id - 2])) break;
      return PushNumber(ctx, px[id - 2], py[id - 2]);
    case 5:
      if (has(kEventX)) return PushRealScalar(ctx, e.x);
      break;
    case 6:
      if (has(kEventX0)) return PushRealScalar(ctx, e.x0);
      break;
    case 7:
      if (has(kEventX1)) return PushRealScalar(ctx, e.x1);
      break;
    case 8:
      if (has(kEventY)) return PushRealScalar(ctx, e.y);
      break;
    case 9:
      if (has(kEventY0)) return PushRealScalar(ctx, e.y0);
      break;
    case 10:
      if (has(kEventY1)) return PushRealScalar(ctx, e.y1);
      break;
    case 11:
    case 12:
    case 13:
      if (!has(pointBits[id - 11])) break;
      return PushRealScalar(ctx, std::atan2(py[id - 11], px[id - 11]));
    case 14:
    case 15:
    case 16:
      if (!has(pointBits[id - 14])) break;
      return PushRealScalar(ctx, std::sqrt(px[id - 14] * px[id - 14] + py[id - 14] * py[id - 14]));
    case kSpecialP0:
    case kSpecialP1: {
      const bool first = id == kSpecialP0;
      const double v[3] = {first ? e.x0 : e.x1, first ? e.y0 : e.y1, first ? e.z0 : e.z1};
      if (!has(first ? kEventX0 : kEventX1)) break;
      const int32_t n = has(first ? 0x52u : 0xA4u) ? 3 : has(first ? 0x12u : 0x24u) ? 2 : 1;
      return PushRow(ctx, v, n);
    }
    case kSpecialKx:
      if (has(kEventX | kEventX1)) return PushRealScalar(ctx, e.x1 / e.x);
      break;
    case kSpecialKy:
      if (has(kEventY | kEventY1)) return PushRealScalar(ctx, e.y1 / e.y);
      break;
    case kSpecialKz: {
      if (!has(kEventX | kEventY | kEventX1 | kEventY1)) break;
      double re = 0, im = 0;
      SmithDivide(e.x1, e.y1, e.x, e.y, &re, &im);
      return PushNumber(ctx, re, im);
    }
    case kSpecialDx:
      if (delta) return PushRealScalar(ctx, e.dx);
      if (has(kEventX | kEventX1)) return PushRealScalar(ctx, e.x1 - e.x);
      break;
    case kSpecialDy:
      if (delta) return PushRealScalar(ctx, e.dy);
      if (has(kEventY | kEventY1)) return PushRealScalar(ctx, e.y1 - e.y);
      break;
    case kSpecialDz:
      if (delta) return PushNumber(ctx, e.dx, e.dy);
      if (has(kEventX | kEventY | kEventX1 | kEventY1)) return PushNumber(ctx, e.x1 - e.x, e.y1 - e.y);
      break;
    case kSpecialQ: {
      if (!has(kEventQ)) break;
      const double v[2] = {e.q, e.q2};
      return has(kEventQPair) ? PushRow(ctx, v, 2) : PushRealScalar(ctx, e.q);
    }
    case kSpecialM:
      return PushLogicalScalar(ctx, has(kEventShift) ? 1 : 0);
    case kSpecialId:
      if (has(kEventElement)) return PushRealScalar(ctx, e.element);
      break;
    case kSpecialNb:
      if (has(kEventItem)) return PushRealScalar(ctx, e.item);
      break;
    case kSpecialIx:
      if (has(kEventIndex)) return PushRealScalar(ctx, e.index);
      break;
    case kSpecialParam:
      return PushSubplotParameter(block, instance, e.subplot, back);
    default:
      break;
  }
  return PushEmptyMatrix(ctx);
}

StatusCode PushHandlerInput(RuntimeBlock* block, int32_t instance, bool back, int32_t id) {
  EngineContext* ctx = RuntimeEngine(block);
  if (id >= kConstantIdBase) return PushRealScalar(ctx, static_cast<double>(id) - kConstantIdBase);
  if (id < -kConstantIdBase) return PushRealScalar(ctx, static_cast<double>(id) + kConstantIdBase);
  int32_t cells = 0;
  const double* data = nullptr;
  if (StatusCode st = ReadVariable(RuntimeVariableStore(block), instance, back ? 1 : 0, id, &cells, &data); st != kOk)
    return st;
  return cells > 0 && data != nullptr ? PushCopiedValue(ctx, data) : PushEmptyMatrix(ctx);
}

StatusCode StoreHandlerOutput(RuntimeBlock* block, int32_t instance, bool back, int32_t id) {
  return WriteTopValue(block, instance, back ? 1 : 0, id);
}

StatusCode PushXdataInput(RuntimeBlock* block, int32_t id, const char* text, int32_t length) {
  EngineContext* ctx = RuntimeEngine(block);
  if (text == nullptr || length <= 0) return PushStringFromBytes(ctx, 0, "");
  static constexpr char kTypeLine[] = "%KV xdata \"";
  constexpr int32_t kTypeLineLength = sizeof kTypeLine - 1;
  if (length < kTypeLineLength || std::memcmp(text, kTypeLine, kTypeLineLength) != 0) {
    if (id == kSpecialXdatatype) return PushStringFromBytes(ctx, -1, "text");
    return PushStringFromCharsetText(ctx, length, text);
  }
  int32_t end = kTypeLineLength;
  while (end < length && text[end] != '"' && text[end] != '\r' && text[end] != '\n') ++end;
  if (id == kSpecialXdatatype) return PushStringFromBytes(ctx, end - kTypeLineLength, text + kTypeLineLength);
  // The data starts on the line after the type line.
  while (end < length && text[end] != '\r' && text[end] != '\n') ++end;
  while (end < length && (text[end] == '\r' || text[end] == '\n')) ++end;
  int32_t results = 0;
  if (StatusCode st = CompileTextInCallerScope(ctx, text + end, length - end, &results); st != kOk) return st;
  if (results != 1) {
    (void)DiscardEvalFrame(ctx);
    (void)UnwindFrames(ctx, 0);
    return kTooManyArgin;
  }
  // Pasted text is outside input: only data, never code, runs from it.
  if (!IsSafeDataExpression(ctx)) {
    (void)DiscardEvalFrame(ctx);
    (void)UnwindFrames(ctx, 0);
    return RaiseErrorWithIdentifier(ctx, nullptr, 0, "Pasted data is not a plain data expression", -1);
  }
  const StatusCode st = RunInterpreter(ctx, 0);
  if (st != kOk && st != kDebugStop) (void)UnwindFrames(ctx, 0);
  return st;
}

StatusCode PushSubplotParameter(RuntimeBlock* block, int32_t instance, int32_t subplot, bool back) {
  EngineContext* ctx = RuntimeEngine(block);
  if (subplot < 0) return PushEmptyMatrix(ctx);
  int32_t cells = 0;
  const double* data = nullptr;
  if (ReadVariable(RuntimeVariableStore(block), instance, back ? 1 : 0, kSpecialPpl, &cells, &data) != kOk ||
      cells <= 0 || data == nullptr)
    return PushEmptyMatrix(ctx);
  if (StatusCode st = PushCopiedValue(ctx, data); st != kOk) return st;
  if (!IsListOrCellArg(ctx, 0)) {
    (void)PopValues(ctx, 1);
    return PushEmptyMatrix(ctx);
  }
  int32_t count = 0;
  CompositeElementHeader* first = nullptr;
  StatusCode st = GetListArg(ctx, 0, &count, &first);
  if (st == kOk) st = subplot < count ? PushListElement(ctx, 0, subplot + 1) : PushEmptyMatrix(ctx);
  if (st != kOk) {
    (void)PopValues(ctx, 1);
    return ReportedStatus(st);
  }
  // The list itself under the element goes.
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode StoreSubplotParameter(RuntimeBlock* block, int32_t instance, int32_t subplot) {
  EngineContext* ctx = RuntimeEngine(block);
  if (subplot < 0) return PopValues(ctx, 1);
  int32_t cells = 0;
  const double* data = nullptr;
  int32_t count = 0;
  StatusCode st = ReadVariable(RuntimeVariableStore(block), instance, 0, kSpecialPpl, &cells, &data);
  if (st == kOk && cells > 0 && data != nullptr) {
    if (st = PushCopiedValue(ctx, data); st != kOk) return st;
    if (IsListOrCellArg(ctx, 0) && ExplodeTopList(ctx, &count) == kOk) {
    } else {
      (void)PopValues(ctx, 1);
      count = 0;
    }
  }
  // The values now: the new one, then count elements, padded to subplot + 1.
  st = kOk;
  for (; st == kOk && count < subplot + 1; ++count) st = PushEmptyMatrix(ctx);
  if (st != kOk) {
    (void)PopValues(ctx, count);
    return st;
  }
  // The new value takes element subplot + 1's place: s counts that element and those above it.
  const int32_t s = count - subplot;
  (void)RotateValues(ctx, count + 1, 1);
  (void)RotateValues(ctx, s + 1, 1);
  (void)PopValues(ctx, 1);
  (void)RotateValues(ctx, s, s - 1);
  if (st = MakeListFromValues(ctx, count, false, nullptr, 0); st != kOk) {
    (void)PopValues(ctx, count);
    return st;
  }
  st = WriteTopValue(block, instance, 0, kSpecialPpl);
  (void)PopValues(ctx, 1);
  return st;
}

// ---------------------------------------------------------------------------
// Make handlers.

namespace {

// Calls visit(payload offset from the head, payload) for every make handler.
template <typename Visit>
void ForEachMakeHandler(RuntimeBlock* b, int32_t instance, int32_t head, Visit visit) {
  int32_t p = -1;
  while (FindNextCodeItem(b, instance, &p, kEventMake) == kOk) {
    if (visit(p + 2 - head, ReadPayload(b, head, p + 2 - head))) return;
  }
}

bool Contains(const int32_t* ids, int32_t n, int32_t id) {
  for (int32_t k = 0; k < n; ++k)
    if (ids[k] == id) return true;
  return false;
}

}  // namespace

bool MarkVariablesToMake(RuntimeBlock* block, int32_t instance, int32_t payload, bool back) {
  VariableStore* store = RuntimeVariableStore(block);
  const int32_t k = back ? 1 : 0;
  int32_t head = 0;
  if (FindInstanceCodeBlock(block, instance, &head) != kOk) return false;
  ClearToBeMadeMarks(store, instance, k);
  bool marked = false;
  const auto mark = [&](int32_t id) {
    if (!IsApplicationVariable(id) || IsVariableDefined(store, instance, k, id) ||
        IsVariableToBeMade(store, instance, k, id))
      return false;
    return MarkVariable(store, instance, k, id, true) == kOk;
  };
  if (payload >= 0) {
    const Payload h = ReadPayload(block, head, payload);
    for (int32_t i = 0; i < h.inputs; ++i) marked |= mark(h.inputIds[i]);
  } else {
    int32_t id = 0;
    for (int32_t i = 0; GetSetVariableId(store, instance, i, false, &id) == kOk; ++i) marked |= mark(id);
  }
  if (!marked) return false;
  for (bool more = true; more;) {
    more = false;
    ForEachMakeHandler(block, instance, head, [&](int32_t, const Payload& h) {
      bool wanted = false;
      for (int32_t o = 0; o < h.outputs; ++o) wanted |= IsVariableToBeMade(store, instance, k, h.outputIds[o]);
      if (wanted)
        for (int32_t i = 0; i < h.inputs; ++i) more |= mark(h.inputIds[i]);
      return false;
    });
  }
  return true;
}

StatusCode RunPendingMakeHandlers(RuntimeBlock** pp, int32_t instance, int32_t payload, bool back, bool retry) {
  const int32_t k = back ? 1 : 0;
  while (MarkVariablesToMake(*pp, instance, payload, back)) {
    RuntimeBlock* b = *pp;
    VariableStore* store = RuntimeVariableStore(b);
    int32_t head = 0;
    if (StatusCode st = FindInstanceCodeBlock(b, instance, &head); st != kOk) return st;
    int32_t ready = -1;
    ForEachMakeHandler(b, instance, head, [&](int32_t offset, const Payload& h) {
      bool wanted = false;
      for (int32_t o = 0; o < h.outputs; ++o) wanted |= IsVariableToBeMade(store, instance, k, h.outputIds[o]);
      if (!wanted) return false;
      for (int32_t i = 0; i < h.inputs; ++i) {
        const int32_t id = h.inputIds[i];
        if (!IsConstantId(id) && IsApplicationVariable(id) && !IsVariableDefined(store, instance, k, id)) return false;
      }
      ready = offset;
      return true;
    });
    if (ready < 0) {
      ClearToBeMadeMarks(store, instance, k);
      return kOk;
    }
    ClearToBeMadeMarks(store, instance, k);
    if (StatusCode st =
            CallApplicationHandler(pp, instance, ready, back, retry, true, -1, kEventMake, false, 0, 1, nullptr);
        st != kOk)
      return st;
  }
  return kOk;
}

void UndefineDependents(RuntimeBlock* block, int32_t instance, int32_t payload) {
  VariableStore* store = RuntimeVariableStore(block);
  int32_t head = 0;
  if (FindInstanceCodeBlock(block, instance, &head) != kOk) return;
  const Payload self = ReadPayload(block, head, payload);
  ClearToBeMadeMarks(store, instance, 0);
  const auto mark = [&](int32_t id) {
    if (IsVariableToBeMade(store, instance, 0, id)) return false;
    return MarkVariable(store, instance, 0, id, true) == kOk;
  };
  bool marked = false;
  ForEachMakeHandler(block, instance, head, [&](int32_t, const Payload& h) {
    bool fed = false;
    for (int32_t i = 0; i < h.inputs; ++i) fed |= Contains(self.outputIds, self.outputs, h.inputIds[i]);
    if (fed)
      for (int32_t o = 0; o < h.outputs; ++o)
        if (!Contains(self.outputIds, self.outputs, h.outputIds[o])) marked |= mark(h.outputIds[o]);
    return false;
  });
  for (bool more = marked; more;) {
    more = false;
    ForEachMakeHandler(block, instance, head, [&](int32_t, const Payload& h) {
      bool fed = false;
      for (int32_t i = 0; i < h.inputs; ++i) fed |= IsVariableToBeMade(store, instance, 0, h.inputIds[i]);
      if (fed)
        for (int32_t o = 0; o < h.outputs; ++o) more |= mark(h.outputIds[o]);
      return false;
    });
  }
  // Every mark becomes undefined: the next call that needs them makes them again.
  ClearToBeMadeMarks(store, instance, 0);
}

// ---------------------------------------------------------------------------

StatusCode CallApplicationHandler(RuntimeBlock** pp, int32_t instance, int32_t payload, bool back, bool retry,
                                  bool nested, int32_t subplot, int32_t eventKind, bool eventData, int32_t key,
                                  int32_t fd, HandlerTexts* texts) {
  RuntimeBlock* b = *pp;
  const auto reportEnd = [pp]() {
    RuntimeBlock* now = *pp;
    if (now->runningStatus != nullptr && now->nextStatusTime > 0.5) now->runningStatus(0, 0.0, now->runningStatusData);
  };
  if (!nested) {
    // A call made while another runs (a modal dialog's) runs nothing at all.
    if (b->busy) return kCancelled;
    b->nextStatusTime = 0.0;
    if (b->runningStatus != nullptr && b->clock != nullptr) {
      (void)ReadRuntimeClock(b, 1, true);
      b->nextStatusTime = 0.5;
    }
    StatusCode st = RunPendingMakeHandlers(pp, instance, payload, back, retry);
    while (retry && IsGrowAndRetryStatus(st) && ExpandRuntimeMemory(pp, st))
      st = RunPendingMakeHandlers(pp, instance, payload, back, retry);
    b = *pp;
    if (st != kOk) {
      reportEnd();
      return st;
    }
    b->busy = 1;
  }

  CallState c{pp, instance, payload, back, nested, subplot, eventKind, eventData, key, fd, texts};
  // A run again after a growth starts from the list and the text as they were.
  const int32_t listStart = b->currentList[3];
  const int32_t textStart = texts != nullptr && texts->textLength != nullptr ? *texts->textLength : 0;
  StatusCode st = kOk;
  for (;;) {
    b = *pp;
    EngineContext* ctx = RuntimeEngine(b);
    b->currentList[3] = listStart;
    if (texts != nullptr && texts->textLength != nullptr) *texts->textLength = textStart;
    int32_t head = 0;
    const InstanceRecord* r = FindInstanceRecord(b, instance);
    st = r == nullptr ? kNonexistentInstance : FindInstanceCodeBlock(b, instance, &head);
    if (st != kOk) break;
    const int32_t library = GetInstanceLibraryId(b, instance);
    const bool sandbox = r->sandbox != 0;
    InitCallContext(&b->callContext, instance, b, 0);
    b->currentSubplot = subplot;
    b->event.kind = eventKind;

    const Payload h = ReadPayload(b, head, payload);
    int32_t written = 0;
    int32_t mark = 0;
    (void)GetDescriptorStackLength(ctx, &mark);
    st = PushInputs(c, h);
    if (st == kOk) {
      if (h.function >= 0) {
        st = RunFunction(c, h, library, sandbox);
      } else if (h.outputs > h.inputs) {
        // No call: the outputs take what the inputs left on top, the rest
        // empty values beneath them.
        for (int32_t k = h.inputs; st == kOk && k < h.outputs; ++k) st = PushEmptyMatrix(ctx);
        if (st == kOk) (void)RotateValues(ctx, h.outputs, h.inputs);
      } else {
        (void)DropArgsUnderResults(ctx, h.outputs, h.inputs - h.outputs);
      }
      b = *pp;
      if (eventData) b->lastHandlerSubplot = b->manipulatedSubplot;
      if (st != kOk) {
        for (int32_t k = 0; k < h.outputs; ++k)
          if (h.outputIds[k] == kSpecialCursor) b->elementCursor = 0;
        if (IsSelfCancelStatus(b, st)) st = kOk;
      } else {
        st = StoreOutputs(c, h, &written);
        if (!nested && h.outputs > 0) UndefineDependents(b, instance, payload);
        if (st == kOk && written > 0 && !nested && b->postHandler != nullptr)
          b->postHandler(b, instance, b->postHandlerData);
      }
    } else {
      // The inputs pushed so far go, and any frame a pasted expression left.
      (void)UnwindFrames(ctx, mark);
    }
    if (!retry || !IsGrowAndRetryStatus(st)) break;
    if (!GrowForRetry(pp, st)) break;
  }

  b = *pp;
  const int32_t flags = b->callContext.statusFlags;
  InitCallContext(&b->callContext, 0, b, 0);
  b->callContext.statusFlags = flags;
  b->currentSubplot = -1;
  b->event.kind = 0;
  if (!nested) {
    b->busy = 0;
    reportEnd();
  }
  return st;
}

const char* FormatRuntimeErrorText(RuntimeBlock* block, StatusCode status) {
  static char text[256];
  if (status == kInitError) {
    std::snprintf(text, sizeof text, "Initialization error");
  } else if (status < 10000) {
    if (block == nullptr) {
      std::snprintf(text, sizeof text, "RVO error %d", status);
    } else {
      int64_t length = 0;
      GetLastErrorText(RuntimeEngine(block), status, false, text, 253, &length);
    }
  } else {
    const char* message = nullptr;
    for (const ErrorRecord* r = kRuntimeErrorTable; r->message != nullptr; ++r)
      if (r->code == status) message = r->message;
    int n = message != nullptr ? std::snprintf(text, sizeof text, "%s", message)
                               : std::snprintf(text, sizeof text, "Error %d", status);
    if (block != nullptr && n > 0 && n < static_cast<int>(sizeof text)) {
      char where[128];
      const int32_t line = GetErrorLocationText(RuntimeEngine(block), where, sizeof where, nullptr, 0);
      if (line > 0) std::snprintf(text + n, sizeof text - static_cast<size_t>(n), " (line %d)", line);
    }
  }
  return text;
}

StatusCode RunInterpreterSlice(RuntimeBlock* block) { return RunInterpreter(RuntimeEngine(block), 0); }

StatusCode CancelNative(EngineContext* ctx, int nargin, int, void* userData) {
  if (nargin > 0) {
    uint8_t go = 1;
    if (StatusCode st = PopBoolean(ctx, &go); st != kOk) return ReportedStatus(st);
    // The handler's caller reads the flag to tell the shell it was cancelled.
    if (go == 0 && userData != nullptr) static_cast<CallContextRecord*>(userData)->statusFlags |= kCallCancelled;
  }
  return kCancelled;
}
