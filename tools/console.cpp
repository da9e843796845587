// The language's console host `rvo`: one engine in one block, its output on
// stdout and stderr, libraries read through the search path, Ctrl-C as the
// break. It runs a source file, a text given with -e, or lines from stdin.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <string_view>
#include <thread>

#include "corelib/corelib.h"
#include "engine/engine.h"
#include "engine/searchpath.h"
#include "numeric/numeric.h"
#include "platform/reservedblock.h"
#include "runtime/nativetable.h"

namespace {

// The block starts at 64 MiB (RVO_BLOCK_BYTES gives another start, for
// tests) and grows where it lies whenever the engine runs short of room, up
// to RVO_MAX_BYTES or else the smaller of 3/4 of the physical memory and the
// largest block the engine's 32-bit offsets address.
constexpr size_t kDefaultBlockBytes = size_t{64} << 20;
constexpr size_t kLargestEngineBlock = size_t{INT32_MAX} & ~size_t{7};

// The host's block; the engine's context is its start.
ReservedBlock gBlock;

// The longest source text the engine can take: it is compiled in the block.
size_t SourceLimit() { return std::min(gBlock.limit(), size_t{INT32_MAX}); }

constexpr int kExitError = 1;
constexpr int kExitBreak = 130;

volatile std::sig_atomic_t gBreakRequested = 0;
volatile std::sig_atomic_t gEngineRunning = 0;

// A second Ctrl-C while the engine runs and has not taken the first ends the
// process, so that code which never asks the break test cannot hold the
// console. At the prompt a Ctrl-C only waits for the next command, which
// starts without it.
void OnInterrupt(int) {
  if (gBreakRequested != 0 && gEngineRunning != 0) {
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
  }
  gBreakRequested = 1;
}

// The engine's break test (data: the context, or null for the host's own
// test); a break is taken once. When breaks enter the debugger the engine
// takes two reports of one break: the first marks it pending, the second,
// at the next place it can stop, stops there.
bool TakeBreak(void* data) {
  if (gBreakRequested == 0) return false;
  if (data != nullptr && gBreakRequested == 1 && GetInterruptDebug(static_cast<EngineContext*>(data))) {
    gBreakRequested = 2;
    return true;
  }
  gBreakRequested = 0;
  return true;
}

// Command lines come from standard input: through stdio when they are the
// session's own commands, byte by byte from the descriptor when a program
// runs, which reads its descriptor 0 there too and must find what follows.
bool gRawInput = false;

// One line of standard input without its end; false at the end of the input
// with nothing read.
bool ReadInputLine(std::string* line) {
  line->clear();
  for (;;) {
    int c = 0;
    if (gRawInput) {
      char byte = 0;
      ssize_t n = 0;
      do {
        n = ::read(STDIN_FILENO, &byte, 1);
      } while (n < 0 && errno == EINTR);
      c = n == 1 ? static_cast<unsigned char>(byte) : EOF;
    } else {
      c = std::getchar();
    }
    if (c == EOF) return !line->empty();
    if (c == '\n') return true;
    *line += static_cast<char>(c);
  }
}

// Descriptors 1 and 4 (help) go to stdout, 2 to stderr; the quiet
// descriptor 3 is accepted and dropped. stdout is flushed before stderr is
// written so that a terminal shows both in order.
[[nodiscard]] StatusCode WriteStandard(EngineContext*, int32_t descriptor, const char* bytes, int32_t length, void*) {
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

// Descriptor 0 over standard input, for a file or a text run: the engine
// asks for one byte at a time in line mode (style byte 0), so that it ends
// lines on LF, CR or CR LF itself. Lines typed as commands never meet it.
[[nodiscard]] StatusCode ReadStandardInput(EngineContext*, int32_t descriptor, char* buffer, int32_t capacity,
                                           int32_t* count, void*) {
  if (descriptor != kStdinDescriptor) return kBadFileId;
  *count = 0;
  if (capacity <= 0) return kOk;
  ssize_t n = 0;
  do {
    n = ::read(STDIN_FILENO, buffer, static_cast<size_t>(capacity));
  } while (n < 0 && errno == EINTR);
  if (n < 0) return kIoErr;
  if (n == 0) return kEof;
  *count = static_cast<int32_t>(n);
  return kOk;
}

// The search path's file reader. Without a buffer it only tells whether the
// file exists. A file larger than the buffer is not read at all (cut short,
// it would compile as a different program): the engine grows and asks again.
[[nodiscard]] StatusCode ReadSourceFile(const char* candidate, bool, char* buffer, int32_t size, int32_t* length) {
  if (buffer != nullptr && size < 0) return kNotMine;
  std::FILE* file = std::fopen(candidate, "rb");
  if (file == nullptr) return kNotMine;
  StatusCode st = kOk;
  if (buffer != nullptr) {
    const size_t n = std::fread(buffer, 1, static_cast<size_t>(size), file);
    if (std::ferror(file)) {
      st = kNotMine;
    } else if (n == static_cast<size_t>(size) && std::fgetc(file) != EOF) {
      st = kDataStackFull;
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
[[nodiscard]] StatusCode ReadFunctionFromSearchPath(EngineContext* ctx, const char* name, const char* suffix,
                                                    const char* hint, char* buffer, int32_t size, int32_t* length,
                                                    int32_t* firstLine, bool* untrusted, void* userData) {
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

// What hasfeature answers true for: one name a line.
constexpr char kFeatures[] = "fileio";

// The host's own table, installed in front of the static one: the stream and
// source hooks and the host's natives. A hook's style byte (its minimum
// inputs) 1 asks for LF line ends.
const NativeFunctionRecord kConsoleNatives[] = {
    Record(nullptr, nullptr, "@console", 0, 0, 0, 0),
    Record(AsNativeHandler(&WriteStandard), nullptr, "+write", 1, 0, 0, 0),
    Record(AsNativeHandler(&ReadLibraryFromSearchPath), reinterpret_cast<void*>(&ReadSourceFile), "+readlib", 0, 0, 0,
           0),
    Record(AsNativeHandler(&ReadFunctionFromSearchPath), reinterpret_cast<void*>(&ReadSourceFile), "+readfn", 0, 0, 0,
           0),
    Record(&PathNative, nullptr, "path", 0, 2, 0, 1),
    Record(&ClockNative, nullptr, "clock", 0, 0, 1, 1),
    Record(&TicNative, nullptr, "tic", 0, 0, 0, 0),
    Record(&TocNative, nullptr, "toc", 0, 0, 0, 1),
    Record(nullptr, nullptr, "@thread", 0, 0, 0, 0),
    Record(&ThreadNewNative, nullptr, "threadnew", 1, kAnyCount, 0, 1),
    Record(&ThreadKillNative, nullptr, "threadkill", 1, 1, 0, 0),
    Record(&ThreadSleepNative, nullptr, "threadsleep", 1, 2, 0, 0),
    Record(&ThreadSetNative, nullptr, "threadset", 0, kAnyCount, 0, 1),
    Record(&SemaphoreNewNative, nullptr, "semaphorenew", 0, 0, 0, 1),
    Record(&SemaphoreDeleteNative, nullptr, "semaphoredelete", 1, 1, 0, 0),
    Record(&SemaphoreLockNative, nullptr, "semaphorelock", 1, 1, 0, 1),
    Record(&SemaphoreUnlockNative, nullptr, "semaphoreunlock", 1, 1, 0, 0),
    Record(nullptr, nullptr, "@console", 0, 0, 0, 0),
    Record(&HelpNative, nullptr, "help", 0, 1, 0, 1),
    Record(&LookforNative, nullptr, "lookfor", 1, 1, 0, 0),
    Record(&HasFeatureNative, const_cast<char*>(kFeatures), "hasfeature", 1, 1, 1, 1),
    Record(nullptr, nullptr, "@debug", 0, 0, 0, 0),
    Record(&DbStackNative, nullptr, "dbstack", 0, 1, 0, 1),
    Record(&DbHaltNative, nullptr, "dbhalt", 0, 0, 0, 0),
    Record(&DbStopNative, nullptr, "dbstop", 1, 2, 0, 0),
    Record(&DbClearNative, nullptr, "dbclear", 0, 2, 0, 0),
    Record(&DbStatusNative, nullptr, "dbstatus", 0, 1, 0, 0),
    Record(&DbContNative, nullptr, "dbcont", 0, 0, 0, 0),
    Record(&DbStepNative, nullptr, "dbstep", 0, 1, 0, 0),
    Record(&DbQuitNative, nullptr, "dbquit", 0, 0, 0, 0),
    Record(&DbTypeNative, nullptr, "dbtype", 0, 1, 0, 0),
    Record(&EchoNative, nullptr, "echo", 1, 3, 0, 0),
    NativeFunctionRecord{},
};

const NativeFunctionRecord kStandardInputHooks[] = {
    Record(nullptr, nullptr, "@stdin", 0, 0, 0, 0),
    Record(AsNativeHandler(&ReadStandardInput), nullptr, "+read", 0, 0, 0, 0),
    NativeFunctionRecord{},
};

[[nodiscard]] StatusCode StartEngine(void* block, EngineContext** out) {
  if (StatusCode st = InitEngineContext(block, gBlock.bytes(), out); st != kOk) return st;
  EngineContext* ctx = *out;
  if (StatusCode st = InstallCoreLibrary(ctx, GetCoreLibraryTable()); st != kOk) return st;
  if (StatusCode st = InstallStaticNativeTable(ctx, false); st != kOk) return st;
  // The LAPACK-backed natives go in front, so that their names reach them;
  // RVO_LAPACK=0 leaves them out and the static natives of those names
  // answer. Native numbers then differ: code compiled so must not be saved.
  const char* lapack = std::getenv("RVO_LAPACK");
  if (lapack == nullptr || std::strcmp(lapack, "0") != 0)
    if (StatusCode st = InstallNativeLibrary(ctx, GetLapackNativeTable(), true); st != kOk) return st;
  if (StatusCode st = InstallNativeLibrary(ctx, kConsoleNatives, true); st != kOk) return st;
  // Extension libraries from the folder RVOExt beside the executable, before
  // any code; a file that does not load is left out.
  (void)LoadExtensionLibraries(ctx, nullptr, nullptr, false, nullptr, 0, nullptr, nullptr);
  SetTimeCallback(ctx, &ClockNow, gClockStates, sizeof(double));
  ClockNow(&gClockStates[0], 0, 1);
  ClockNow(&gClockStates[1], 1, 1);
  SetBreakPollCallback(ctx, &TakeBreak, ctx);
  // Sources, output and input are UTF-8, as the terminal's are.
  SetTextCharset(ctx, 'u');
  // Line markers give errors their location and trace; full optimisation.
  SetLineInfoFlag(ctx, 1);
  SetCodeOptions(ctx, 4, 0);
  return ResetEngineToBaseFrame(ctx);
}

int ExitStatusOf(StatusCode st) {
  if (st == kOk) return EXIT_SUCCESS;
  return st == kHalted ? kExitBreak : kExitError;
}

// A break while code runs: every thread ends and the console is back.
[[nodiscard]] StatusCode TakeBreakWhileRunning(EngineContext* ctx) {
  EndInterpreterThreads(ctx);
  (void)UnwindFrames(ctx, 0);
  (void)PrintError(ctx, kHalted, true);  // the break is the answer either way
  return kHalted;
}

// Runs the code made ready by the evaluation until the main thread has none
// left or it stops in the debugger; the engine asks the break test itself.
// Suspended code (waiting, or yielding to interpreter threads) is resumed
// every 10 ms. The first error is the result.
[[nodiscard]] StatusCode RunCode(EngineContext* ctx) {
  const auto run = GetServiceTable(ctx)->RunInterpreter;
  // A break can only enter the debugger where the engine hands control back
  // and looks at it: at every backward jump. Such returns run on at once.
  const bool polled = GetInterruptDebug(ctx);
  StatusCode st = run(ctx, polled ? 1 : 0);
  StatusCode result = st;
  for (;;) {
    if (st == kHalted || st == kDebugStop || st == kWaitingForInput) return st;
    if (!HasCodeToRun(ctx)) break;
    if (!polled || st != kSuspended || HasInterpreterThreads(ctx))
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!polled && TakeBreak(nullptr)) return TakeBreakWhileRunning(ctx);
    st = run(ctx, polled ? 1 : 0);
    if (result == kOk || result == kSuspended) result = st;
  }
  return result == kSuspended ? kOk : result;
}

// One command line typed while code is stopped, evaluated in the stopped
// frame: 505 while the code stays stopped, else how the code ended. The end
// of the input quits the stopped code.
[[nodiscard]] StatusCode RunDebuggerCommand(EngineContext* ctx) {
  if (isatty(STDIN_FILENO) != 0) {
    std::fputs("db>> ", stdout);
    std::fflush(stdout);
  }
  std::string line;
  // Waiting for a line is no run: a Ctrl-C there only waits with it.
  gEngineRunning = 0;
  const bool read = ReadInputLine(&line);
  gEngineRunning = 1;
  gBreakRequested = 0;
  if (!read) {
    (void)UnwindFrames(ctx, 0);
    return kOk;
  }
  if (line.size() > SourceLimit()) {
    std::fprintf(stderr, "rvo: a command of the input is longer than the %zu bytes a source may have\n", SourceLimit());
    return kOutOfRangeArg;
  }
  StatusCode st = EvaluateCommandLine(ctx, line.data(), static_cast<int32_t>(line.size()), true);
  if (st == kSuspended) st = RunCode(ctx);
  std::fflush(stdout);
  if (st == kDebugStop) return st;
  // A failed command leaves the stopped code as it was.
  if (st != kOk) (void)UnwindFrames(ctx, -1);
  return IsDebuggerStopped(ctx) ? kDebugStop : st;
}

// RunCode, then, while the code is stopped in the debugger, command lines
// from standard input until it resumes to its end or is quit.
[[nodiscard]] StatusCode RunReadyCode(EngineContext* ctx) {
  StatusCode st = RunCode(ctx);
  if (st == kHalted || st == kWaitingForInput || st == kDebugStop) EndInterpreterThreads(ctx);
  while (st == kDebugStop) {
    // A break leaves the pending report behind; it is spent.
    gBreakRequested = 0;
    // A break stops the code at its next line; it has to get there first.
    st = IsDebuggerStopped(ctx) ? RunDebuggerCommand(ctx) : RunCode(ctx);
  }
  return st;
}

// Interpreter threads still alive after a command run every 10 ms while
// they exist; with untilInput only until a line of standard input waits (or
// it ends), so that the prompt stays usable. Answers the first failure.
[[nodiscard]] StatusCode ResumeThreads(EngineContext* ctx, bool untilInput) {
  StatusCode result = kOk;
  while (HasInterpreterThreads(ctx)) {
    if (untilInput) {
      pollfd input{STDIN_FILENO, POLLIN, 0};
      if (poll(&input, 1, 10) != 0) break;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (TakeBreak(nullptr)) return TakeBreakWhileRunning(ctx);
    gEngineRunning = 1;
    const StatusCode st = RunReadyCode(ctx);
    gEngineRunning = 0;
    // What the threads printed shows as they run, not at exit.
    std::fflush(stdout);
    if (st == kHalted) return st;
    if (result == kOk) result = st;
  }
  return result;
}

// The threads a program leaves run to their end before the host exits; their
// failure fails a program that succeeded.
int FinishThreads(EngineContext* ctx, int status) {
  const int threads = ExitStatusOf(ResumeThreads(ctx, false));
  return status == EXIT_SUCCESS ? threads : status;
}

[[nodiscard]] StatusCode EvaluateText(EngineContext* ctx, const char* text, size_t length) {
  if (length > INT32_MAX) {
    std::fputs("rvo: the text is too long\n", stderr);
    return kOutOfRangeArg;
  }
  StatusCode st = EvaluateCommandLine(ctx, text, static_cast<int32_t>(length), true);
  if (st == kSuspended) return RunReadyCode(ctx);
  return st;
}

// Grows the block where it lies, by half or by what the failing operation
// asked for and an eighth to spare, up to the limit. A request larger than
// the limit is out of memory at once.
BlockGrowth GrowBlock(EngineContext* ctx, StatusCode st, int64_t asked, void*) {
  const size_t have = gBlock.bytes();
  if (asked > 0 && static_cast<uint64_t>(asked) > gBlock.limit()) return BlockGrowth::kOutOfMemory;
  size_t want = have + have / 2;
  if (asked > 0) want = std::max(want, have + static_cast<size_t>(asked) + have / 8);
  want = std::min(want, gBlock.limit()) & ~size_t{7};
  if (want <= have || !gBlock.GrowTo(want)) return BlockGrowth::kOutOfMemory;
  MakeContextPointersRelative(ctx);
  RelocateEngineContext(ctx, static_cast<int64_t>(want), st);
  return BlockGrowth::kGrown;
}

// After a command that failed for room without being repeated (the failure
// came after output, or inside a nested run), the next one finds more room.
void GrowBlockAfter(StatusCode st, EngineContext* ctx) {
  if (st >= kDescStackFull && st <= kCodeOverflow) (void)GrowBlock(ctx, st, -1, nullptr);
}

// One evaluation. A Ctrl-C that came while the host was starting breaks it:
// a file or -e text started by a script may be interrupted at once.
int Evaluate(EngineContext** ctx, const char* text, size_t length) {
  gEngineRunning = 1;
  const StatusCode st = EvaluateText(*ctx, text, length);
  gEngineRunning = 0;
  std::fflush(stdout);
  GrowBlockAfter(st, *ctx);
  return ExitStatusOf(st);
}

// A byte count from the environment: fallback when the variable is unset, 0
// when it holds no size from low to high.
size_t BytesFromEnvironment(const char* name, size_t fallback, size_t low, size_t high) {
  const char* text = std::getenv(name);
  if (text == nullptr) return fallback;
  char* end = nullptr;
  const unsigned long long bytes = std::strtoull(text, &end, 10);
  if (end == text || *end != 0 || bytes < low || bytes > high) return 0;
  return static_cast<size_t>(bytes) & ~size_t{7};
}

// A UTF-8 byte-order mark before a source is no part of it.
size_t ByteOrderMark(const std::string& text) { return text.starts_with("\xEF\xBB\xBF") ? 3 : 0; }

// Reads a file of at most limit bytes: false, with the reason told, when it
// cannot be read or is longer (which is known before all of it is read).
bool ReadSourceText(const char* name, size_t limit, std::string* text) {
  std::FILE* file = std::fopen(name, "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "rvo: cannot read %s\n", name);
    return false;
  }
  char chunk[65536];
  size_t n = 0;
  while (text->size() <= limit && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text->append(chunk, n);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    std::fprintf(stderr, "rvo: cannot read %s\n", name);
    return false;
  }
  if (text->size() > limit) {
    std::fprintf(stderr, "rvo: %s is longer than the %zu bytes a source may have\n", name, limit);
    return false;
  }
  return true;
}

// What a command read line by line leaves open at the end of a line: a line
// that ends in "...", a bracket, or a block (if, for, while, switch, repeat,
// try, function) not yet closed. The lines are read one at a time, so a long
// command is scanned once. Strings and comments end with their line; a quote
// after a value is a transpose.
class OpenConstructs {
 public:
  bool Open() const { return continued_ || brackets_ > 0 || blocks_ > 0; }

  void ReadLine(std::string_view line) {
    if (lines_++ > 0) {
      if (!continued_) statementStart_ = brackets_ == 0;
      continued_ = false;
    }
    char previous = 0;  // the last significant character
    for (size_t p = 0; p < line.size();) {
      const char c = line[p];
      if (c == ' ' || c == '\t' || c == '\r') {
        ++p;
        continue;
      }
      if (c == '%' || c == '#') return;  // a comment to the line's end
      if (line.compare(p, 3, "...") == 0) {
        continued_ = true;
        return;
      }
      const bool value = std::isalnum(static_cast<unsigned char>(previous)) || previous == '_' || previous == ')' ||
                         previous == ']' || previous == '}' || previous == '\'' || previous == '.';
      if (c == '"' || (c == '\'' && !value)) {
        // A string ends at its unpaired quote or, unclosed, at the line's end.
        for (++p; p < line.size(); ++p) {
          if (line[p] != c) continue;
          if (p + 1 < line.size() && line[p + 1] == c) {
            ++p;
            continue;
          }
          break;
        }
        if (p < line.size() && line[p] == c) ++p;
        previous = c;
        statementStart_ = false;
        continue;
      }
      if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
        size_t end = p;
        while (end < line.size() && (std::isalnum(static_cast<unsigned char>(line[end])) || line[end] == '_')) ++end;
        const std::string_view word = line.substr(p, end - p);
        if (statementStart_ && brackets_ == 0) {
          if (word == "if" || word == "for" || word == "while" || word == "switch" || word == "repeat" ||
              word == "try" || word == "function")
            ++blocks_;
          else if ((word == "end" || word == "until" || word == "endfunction") && blocks_ > 0)
            --blocks_;
        }
        statementStart_ = false;
        previous = line[end - 1];
        p = end;
        continue;
      }
      if (c == '(' || c == '[' || c == '{') ++brackets_;
      if ((c == ')' || c == ']' || c == '}') && brackets_ > 0) --brackets_;
      if ((c == ',' || c == ';') && brackets_ == 0) statementStart_ = true;
      previous = c;
      ++p;
    }
  }

 private:
  int brackets_ = 0, blocks_ = 0, lines_ = 0;
  bool statementStart_ = true, continued_ = false;
};

int RunLines(EngineContext** ctx) {
  const bool prompt = isatty(STDIN_FILENO) != 0;
  const size_t limit = SourceLimit();
  int status = EXIT_SUCCESS;
  bool first = true;
  std::string command;
  for (;;) {
    if (ResumeThreads(*ctx, true) == kHalted) status = kExitBreak;
    if (prompt) {
      std::fputs(">> ", stdout);
      std::fflush(stdout);
    }
    // A command spans the lines that continue it; the end of the input ends it.
    command.clear();
    OpenConstructs open;
    int c = 0;
    do {
      if (!command.empty()) command += '\n';
      const size_t from = command.size();
      while ((c = std::getchar()) != EOF && c != '\n' && command.size() <= limit) command += static_cast<char>(c);
      open.ReadLine(std::string_view(command).substr(from));
    } while (c != EOF && command.size() <= limit && open.Open());
    if (command.size() > limit) {
      std::fprintf(stderr, "rvo: a command of the input is longer than the %zu bytes a source may have\n", limit);
      return kExitError;
    }
    if (c == EOF && command.empty()) break;
    const size_t mark = first ? ByteOrderMark(command) : 0;
    first = false;
    gBreakRequested = 0;  // a Ctrl-C at the prompt only waits for this command
    status = Evaluate(ctx, command.data() + mark, command.size() - mark);
    if (c == EOF) break;
  }
  return FinishThreads(*ctx, status);
}

void PrintUsage() { std::fputs("usage: rvo FILE | rvo -e TEXT | rvo < LINES\n", stderr); }

// Output kept in the buffer must reach its file: a full disk or a closed
// output fails the run.
int FlushedStatus(int status) {
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return status;
  std::fputs("rvo: the output could not be written\n", stderr);
  return kExitError;
}

int Run(int argc, char** argv) {
  if (argc > 3 || (argc == 3 && std::strcmp(argv[1], "-e") != 0) || (argc == 2 && argv[1][0] == '-')) {
    PrintUsage();
    return 2;
  }
  // Installed first, so that a Ctrl-C while the host starts is kept for the run.
  std::signal(SIGINT, &OnInterrupt);
  const size_t physical = ThreeQuartersOfPhysicalMemory();
  const size_t limit = BytesFromEnvironment(
      "RVO_MAX_BYTES", physical > 0 ? std::min(physical, kLargestEngineBlock) : kLargestEngineBlock,
      kMinEngineBlockBytes, kLargestEngineBlock);
  if (limit == 0) {
    std::fprintf(stderr, "rvo: RVO_MAX_BYTES must be a byte count from %zu to %zu\n", size_t{kMinEngineBlockBytes},
                 kLargestEngineBlock);
    return 2;
  }
  const size_t start =
      BytesFromEnvironment("RVO_BLOCK_BYTES", std::min(kDefaultBlockBytes, limit), kMinEngineBlockBytes, limit);
  if (start == 0) {
    std::fprintf(stderr, "rvo: RVO_BLOCK_BYTES must be a byte count from %zu to %zu\n", size_t{kMinEngineBlockBytes},
                 limit);
    return 2;
  }
  if (!gBlock.Reserve(start, limit)) {
    std::fprintf(stderr, "rvo: cannot reserve %zu bytes of memory\n", limit);
    return kExitError;
  }
  EngineContext* ctx = nullptr;
  if (StatusCode st = StartEngine(gBlock.data(), &ctx); st != kOk) {
    std::fprintf(stderr, "rvo: the engine did not start (%d)\n", st);
    return kExitError;
  }
  SetBlockGrowthCallback(ctx, &GrowBlock, nullptr);
  if (argc >= 2 && InstallNativeLibrary(ctx, kStandardInputHooks, false) != kOk) {
    std::fputs("rvo: the engine did not start\n", stderr);
    return kExitError;
  }
  gRawInput = argc >= 2;
  if (argc == 3) {
    const int status = Evaluate(&ctx, argv[2], std::strlen(argv[2]));
    return FinishThreads(ctx, status);
  }
  if (argc == 2) {
    std::string text;
    if (!ReadSourceText(argv[1], SourceLimit(), &text)) return kExitError;
    const size_t mark = ByteOrderMark(text);
    const int status = Evaluate(&ctx, text.data() + mark, text.size() - mark);
    return FinishThreads(ctx, status);
  }
  return RunLines(&ctx);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return FlushedStatus(Run(argc, argv));
  } catch (const std::bad_alloc&) {
    std::fputs("rvo: out of memory\n", stderr);
    return kExitError;
  }
}
