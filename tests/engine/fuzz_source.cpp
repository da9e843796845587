// Fuzz target of the language's source text: any bytes, evaluated as a command
// line and compiled as a library's text, end in a result or a reported error
// within a step budget, and the engine then still runs a fixed command.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "corelib/corelib.h"
#include "engine/context.h"
#include "engine/functionstore.h"
#include "engine/heap.h"
#include "engine/libraries.h"
#include "engine/threads.h"
#include "engine/vm.h"

namespace {

constexpr size_t kBlockBytes = 2 * 1024 * 1024;
// The interpreter asks about a break every few hundred passes and at every
// backward jump: this many answers bound a fuzzed program to some millions
// of instructions, so an endless loop ends as a break.
constexpr int kPollBudget = 4000;
// A program that keeps suspending (waiting, yielding) is resumed this often.
constexpr int kResumeLimit = 64;

struct Harness {
  std::vector<uint64_t> block;
  EngineContext* ctx = nullptr;
  int pollsLeft = 0;
  // The input, which the source hook also serves as a library and as a
  // function file.
  const char* text = nullptr;
  int32_t length = 0;
};

Harness* gHarness = nullptr;

#define Check(ok) CheckAt((ok), __LINE__)
void CheckAt(bool ok, int line) {
  if (ok) return;
  std::fprintf(stderr, "source_fuzz: check at line %d failed\n", line);
  std::abort();
}

[[nodiscard]] StatusCode Write(EngineContext*, int32_t, const char*, int32_t, void*) { return kOk; }

bool Poll(void* data) {
  auto* h = static_cast<Harness*>(data);
  return --h->pollsLeft < 0;
}

// "use fzself", "include fzself" and a call of fzself read the input itself;
// fzaux is a small library beside it. Other names are not there.
[[nodiscard]] StatusCode ReadSource(EngineContext*, const char* name, const char*, const char*, char* buffer,
                                    int32_t size, int32_t* length, int32_t* firstLine, bool* untrusted, void* data) {
  static const char kAux[] = "function r = fzaux(x)\nr = x + 1;\nendfunction\n";
  auto* h = static_cast<Harness*>(data);
  const char* text = nullptr;
  int32_t bytes = 0;
  if (std::strcmp(name, "fzself") == 0) {
    text = h->text;
    bytes = h->length;
  } else if (std::strcmp(name, "fzaux") == 0) {
    text = kAux;
    bytes = sizeof kAux - 1;
  } else {
    return kNotMine;
  }
  if (firstLine != nullptr) *firstLine = 1;
  if (untrusted != nullptr) *untrusted = false;
  if (buffer == nullptr) return kOk;
  if (bytes > size) return kNotMine;
  if (bytes > 0) std::memcpy(buffer, text, static_cast<size_t>(bytes));
  *length = bytes;
  return kOk;
}

NativeFunctionRecord gHooks[4]{};

Harness* Start() {
  auto* h = new Harness;
  h->block.assign(kBlockBytes / 8, 0);
  Check(InitEngineContext(h->block.data(), kBlockBytes, &h->ctx) == kOk);
  Check(InstallCoreLibrary(h->ctx, GetCoreLibraryTable()) == kOk);
  Check(InstallNativeLibrary(h->ctx, kEngineMessageTables, false) == kOk);
  gHooks[0].handler = AsNativeHandler(&Write);
  gHooks[0].minInputs = 1;
  std::strcpy(gHooks[0].name, "+write");
  for (int i : {1, 2}) {
    gHooks[i].handler = AsNativeHandler(&ReadSource);
    gHooks[i].userData = h;
    std::strcpy(gHooks[i].name, i == 1 ? "+readlib" : "+readfn");
  }
  Check(InstallNativeLibrary(h->ctx, gHooks, false) == kOk);
  SetBreakPollCallback(h->ctx, &Poll, h);
  Check(ResetEngineToBaseFrame(h->ctx) == kOk);
  return h;
}

// The base frame's variable as a real scalar; -1 when it has none.
double BaseVariable(EngineContext* ctx, const char* name) {
  CallFrame* f = FrameAt(ctx, 0);
  const auto* names = reinterpret_cast<const char*>(FrameSlots(f) + f->nameCapacity);
  for (int32_t v = 0; v < f->variableCount; ++v) {
    if (std::strncmp(names + 32 * v, name, 32) != 0) continue;
    const int32_t value = VariableValueBlock(ctx, FrameSlots(f)[v]);
    if (value <= 0 || VariableDescriptor(ctx, value).cells != 1) return -1;
    return ctx->heapBase[value + kVariableHeaderCells].f;
  }
  return -1;
}

// The engine back at its base frame with no threads.
void Settle(EngineContext* ctx) {
  while (ctx->threadListHead != 0) UnlinkInterpreterThread(ctx, ctx->threadListHead);
  Check(ResetEngineToBaseFrame(ctx) == kOk);
}

// As a host runs a command line: compiled, then run until no code is left;
// code still waiting after that is stopped as a break stops it. A run that
// ended, well or in an error, leaves no code to run.
[[nodiscard]] StatusCode Evaluate(Harness* h, const char* text, size_t length) {
  EngineContext* ctx = h->ctx;
  StatusCode st = EvaluateCommandLine(ctx, text, static_cast<int32_t>(length), true);
  for (int resumed = 0; st == kSuspended && resumed < kResumeLimit; ++resumed) {
    st = RunInterpreter(ctx, 0);
    if (st == kSuspended && ctx->currentThread == 0 && ctx->pc.space == kNoCode) st = kOk;
  }
  if (st == kSuspended || st == kDebugStop || st == kWaitingForInput) {
    while (ctx->threadListHead != 0) UnlinkInterpreterThread(ctx, ctx->threadListHead);
    (void)UnwindFrames(ctx, 0);
    ctx->pc.space = kNoCode;
  }
  if (ctx->pc.space != kNoCode) std::fprintf(stderr, "source_fuzz: code left to run after %d\n", st);
  Check(ctx->pc.space == kNoCode);
  return st;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (gHarness == nullptr) gHarness = Start();
  Harness* h = gHarness;
  EngineContext* ctx = h->ctx;
  const char* text = reinterpret_cast<const char*>(data);
  h->text = text;
  h->length = static_cast<int32_t>(size);

  // Each input starts from the same engine: no frames, functions or globals
  // left by the one before.
  Settle(ctx);
  Check(ResetFunctionStore(ctx) == kOk);
  // The compiler's settings come from the last byte, so that every
  // optimisation level and both line-marker settings see the same texts.
  const uint8_t options = size > 0 ? data[size - 1] : 0;
  SetCodeOptions(ctx, options % 5, (options >> 3) & 1);
  SetLineInfoFlag(ctx, (options >> 4) & 1);

  h->pollsLeft = kPollBudget;
  // Any status is a fair answer to fuzzed text; only crashes and leftovers count.
  (void)Evaluate(h, text, size);
  Settle(ctx);

  // The same bytes as the text of a library read from a file.
  int32_t library = 0;
  if (DeclareLibrary(ctx, "fuzzlib", -1, true, &library) == kOk) {
    h->pollsLeft = kPollBudget;
    (void)CompileTextFunctions(ctx, library, text, static_cast<int32_t>(size), nullptr, 1, false, true, false);
  }
  Settle(ctx);
  Check(ResetFunctionStore(ctx) == kOk);

  // Whatever happened, a plain command runs and gives its result.
  h->text = nullptr;
  h->length = 0;
  static const char kCommand[] = "x = 1 + 2; y = x + 3;";
  h->pollsLeft = kPollBudget;
  const StatusCode run = Evaluate(h, kCommand, sizeof kCommand - 1);
  const double y = BaseVariable(ctx, "y");
  if (run != kOk || y != 6) std::fprintf(stderr, "source_fuzz: the command answered %d, y = %g\n", run, y);
  Check(run == kOk && y == 6);
  Check(ctx->frameIndex == 0 && ctx->pc.space == kNoCode);
  return 0;
}
