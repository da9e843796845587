// The language's console host `rvo`: one engine in one block, its output on
// stdout and stderr, libraries read through the search path, Ctrl-C as the
// break. It runs a source file, a text given with -e, or lines from stdin.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>

#include "engine/context.h"
#include "engine/engine.h"
#include "engine/searchpath.h"

namespace {

// Generous, since the block cannot grow yet: a run that needs more reports
// the engine's room error.
constexpr size_t kBlockBytes = size_t{64} << 20;

constexpr int kExitError = 1;
constexpr int kExitBreak = 130;

volatile std::sig_atomic_t gBreakRequested = 0;

// A second Ctrl-C before the engine took the first ends the process, so that
// code which never asks the break test cannot hold the console.
void OnInterrupt(int) {
  if (gBreakRequested != 0) std::signal(SIGINT, SIG_DFL);
  gBreakRequested = 1;
}

// The engine's break test; a break is taken once.
bool TakeBreak(void*) {
  if (gBreakRequested == 0) return false;
  gBreakRequested = 0;
  return true;
}

// Descriptors 1 and 4 (help) go to stdout, 2 to stderr; the quiet
// descriptor 3 is accepted and dropped. stdout is flushed before stderr is
// written so that a terminal shows both in order.
StatusCode WriteStandard(EngineContext*, int32_t descriptor, const char* bytes, int32_t length, void*) {
  if (descriptor == kQuietDescriptor) return kOk;
  std::FILE* file = descriptor == kStdoutDescriptor || descriptor == kHelpDescriptor ? stdout
                    : descriptor == kStderrDescriptor                                ? stderr
                                                                                     : nullptr;
  if (file == nullptr) return kBadFileId;
  if (length < 0) length = static_cast<int32_t>(std::strlen(bytes));
  if (file == stderr) std::fflush(stdout);
  if (length > 0 && std::fwrite(bytes, 1, static_cast<size_t>(length), file) != static_cast<size_t>(length))
    return kIoErr;
  if (file == stderr) std::fflush(stderr);
  return kOk;
}

// The search path's file reader. Without a buffer it only tells whether the
// file exists. A file larger than the buffer is not read at all: cut short,
// it would compile as a different program.
StatusCode ReadSourceFile(const char* candidate, bool, char* buffer, int32_t size, int32_t* length) {
  if (buffer != nullptr && size < 0) return kNotMine;
  std::FILE* file = std::fopen(candidate, "rb");
  if (file == nullptr) return kNotMine;
  StatusCode st = kOk;
  if (buffer != nullptr) {
    const size_t n = std::fread(buffer, 1, static_cast<size_t>(size), file);
    if (std::ferror(file)) {
      st = kNotMine;
    } else if (n == static_cast<size_t>(size) && std::fgetc(file) != EOF) {
      std::fprintf(stderr, "rvo: %s is too large to read\n", candidate);
      st = kNotMine;
    } else {
      *length = static_cast<int32_t>(n);
    }
  }
  std::fclose(file);
  return st;
}

// The monotonic clock of the engine: each state holds the time of its last
// reset, in wall seconds, or in process seconds when the profiler asks.
double ClockNow(void* state, int processTime, int reset) {
  const double now = processTime != 0
                         ? static_cast<double>(std::clock()) / CLOCKS_PER_SEC
                         : std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  double* last = static_cast<double*>(state);
  const double elapsed = now - *last;
  if (reset != 0) *last = now;
  return elapsed;
}

// The slice measurement's state, then the profiler's.
double gClockStates[2] = {0, 0};

// Function sources come with the suffix ".m", dot included, and the search
// path puts a dot before every suffix: without this the candidate for f would
// be "f..m" and no function file would ever be found.
StatusCode ReadFunctionFromSearchPath(EngineContext* ctx, const char* name, const char* suffix, const char* hint,
                                      char* buffer, int32_t size, int32_t* length, int32_t* firstLine, bool* untrusted,
                                      void* userData) {
  if (suffix != nullptr && suffix[0] == '.') ++suffix;
  return ReadLibraryFromSearchPath(ctx, name, suffix, hint, buffer, size, length, firstLine, untrusted, userData);
}

NativeFunctionRecord Record(NativeHandler handler, void* userData, const char* name, uint8_t minInputs,
                            uint8_t maxInputs, uint8_t minOutputs, uint8_t maxOutputs) {
  NativeFunctionRecord r{};
  r.handler = handler;
  r.userData = userData;
  std::strncpy(r.name, name, sizeof r.name - 1);
  r.minInputs = minInputs;
  r.maxInputs = maxInputs;
  r.minOutputs = minOutputs;
  r.maxOutputs = maxOutputs;
  return r;
}

// The host's own table: the stream and source hooks and the host's natives.
// A hook's style byte (its minimum inputs) 1 asks for LF line ends.
const NativeFunctionRecord kConsoleNatives[] = {
    Record(nullptr, nullptr, "@console", 0, 0, 0, 0),
    Record(AsNativeHandler(&WriteStandard), nullptr, "+write", 1, 0, 0, 0),
    Record(AsNativeHandler(&ReadLibraryFromSearchPath), reinterpret_cast<void*>(&ReadSourceFile), "+readlib", 0, 0, 0,
           0),
    Record(AsNativeHandler(&ReadFunctionFromSearchPath), reinterpret_cast<void*>(&ReadSourceFile), "+readfn", 0, 0, 0,
           0),
    Record(&PathNative, nullptr, "path", 0, 2, 0, 1),
    Record(&IsKeywordNative, nullptr, "iskeyword", 0, 1, 0, 1),
    NativeFunctionRecord{},
};

StatusCode StartEngine(void* block, EngineContext** out) {
  if (StatusCode st = InitEngineContext(block, kBlockBytes, out); st != kOk) return st;
  EngineContext* ctx = *out;
  if (StatusCode st = InstallNativeLibrary(ctx, kEngineMessageTables, false); st != kOk) return st;
  if (StatusCode st = InstallNativeLibrary(ctx, kConsoleNatives, false); st != kOk) return st;
  // Set in the context by hand until the engine offers the call that
  // installs the clock.
  ctx->clock = &ClockNow;
  ctx->clockData = gClockStates;
  ctx->clockStateSize = sizeof(double);
  ClockNow(&gClockStates[0], 0, 1);
  ClockNow(&gClockStates[1], 1, 1);
  SetBreakPollCallback(ctx, &TakeBreak, nullptr);
  // Line markers give errors their location and trace; full optimisation.
  SetLineInfoFlag(ctx, 1);
  SetCodeOptions(ctx, 4, 0);
  return ResetEngineToBaseFrame(ctx);
}

int ExitStatusOf(StatusCode st) {
  if (st == kOk) return EXIT_SUCCESS;
  return st == kHalted ? kExitBreak : kExitError;
}

// Runs the code made ready by the evaluation; the engine asks the break test
// itself. A suspended run (interpreter threads waiting) is resumed every 10 ms
// until it ends or is broken.
StatusCode RunReadyCode(EngineContext* ctx) {
  const auto run = GetService<StatusCode (*)(EngineContext*, uint8_t)>(ctx, Service::RunInterpreter);
  StatusCode st = run(ctx, 0);
  while (st == kSuspended) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (TakeBreak(nullptr)) {
      UnwindFrames(ctx, 0);
      PrintError(ctx, kHalted, true);
      return kHalted;
    }
    st = run(ctx, 0);
  }
  return st;
}

StatusCode EvaluateText(EngineContext* ctx, const char* text, size_t length) {
  if (length > INT32_MAX) {
    std::fputs("rvo: the text is too long\n", stderr);
    return kOutOfRangeArg;
  }
  StatusCode st = EvaluateCommandLine(ctx, text, static_cast<int32_t>(length), true);
  if (st == kSuspended) return RunReadyCode(ctx);
  return st;
}

// One evaluation with a fresh break request.
int Evaluate(EngineContext* ctx, const char* text, size_t length) {
  gBreakRequested = 0;
  const int status = ExitStatusOf(EvaluateText(ctx, text, length));
  std::fflush(stdout);
  return status;
}

bool ReadWholeFile(const char* name, std::string* text) {
  std::FILE* file = std::fopen(name, "rb");
  if (file == nullptr) return false;
  char chunk[65536];
  size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text->append(chunk, n);
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

int RunLines(EngineContext* ctx) {
  const bool prompt = isatty(STDIN_FILENO) != 0;
  int status = EXIT_SUCCESS;
  std::string line;
  for (;;) {
    if (prompt) {
      std::fputs(">> ", stdout);
      std::fflush(stdout);
    }
    line.clear();
    int c = 0;
    while ((c = std::getchar()) != EOF && c != '\n') line += static_cast<char>(c);
    if (c == EOF && line.empty()) break;
    status = Evaluate(ctx, line.data(), line.size());
    if (c == EOF) break;
  }
  return status;
}

void PrintUsage() { std::fputs("usage: rvo FILE | rvo -e TEXT | rvo < LINES\n", stderr); }

}  // namespace

int main(int argc, char** argv) {
  if (argc > 3 || (argc == 3 && std::strcmp(argv[1], "-e") != 0) || (argc == 2 && argv[1][0] == '-')) {
    PrintUsage();
    return 2;
  }
  std::unique_ptr<uint64_t[]> block(new uint64_t[kBlockBytes / sizeof(uint64_t)]);
  EngineContext* ctx = nullptr;
  if (StatusCode st = StartEngine(block.get(), &ctx); st != kOk) {
    std::fprintf(stderr, "rvo: the engine did not start (%d)\n", st);
    return kExitError;
  }
  std::signal(SIGINT, &OnInterrupt);
  if (argc == 3) return Evaluate(ctx, argv[2], std::strlen(argv[2]));
  if (argc == 2) {
    std::string text;
    if (!ReadWholeFile(argv[1], &text)) {
      std::fprintf(stderr, "rvo: cannot read %s\n", argv[1]);
      return kExitError;
    }
    return Evaluate(ctx, text.data(), text.size());
  }
  return RunLines(ctx);
}
