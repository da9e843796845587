// Descriptor operations through fake stream hooks: the order in which hooks
// are asked, redirection and copies of 1 and 2, newline conventions, the memory
// buffer of 5, line-mode reading with every line end, control and close.

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "corelib/corelib.h"
#include "engine/context.h"
#include "tests/engine/stack_fixture.h"

namespace {

// One fake owner of descriptors [first, last]. Its hooks log what reaches them
// into a log shared by every fake, so a test sees the order of the calls.
struct FakeStream {
  FakeStream(std::string n, int32_t f, int32_t l, std::vector<std::string>* lg)
      : name(std::move(n)), first(f), last(l), log(lg) {}

  std::string name;
  int32_t first;
  int32_t last;
  std::vector<std::string>* log;
  StatusCode answer = kOk;  // what an owned request answers
  // Input per descriptor; '|' stands for "no byte available yet" once.
  std::map<int32_t, std::string> input;
  std::vector<int32_t> readCapacities;
  int32_t atEnd = 0;
  int32_t position = 0;

  bool Owns(int32_t d) const { return d >= first && d <= last; }
  void Log(int32_t d, const std::string& what) { log->push_back(name + "<" + std::to_string(d) + ">" + what); }
};

FakeStream* Fake(void* userData) { return static_cast<FakeStream*>(userData); }

[[nodiscard]] StatusCode FakeWrite(EngineContext*, int32_t d, const char* bytes, int32_t length, void* userData) {
  FakeStream* s = Fake(userData);
  if (!s->Owns(d)) return kBadFileId;
  s->Log(d, std::string(bytes, length));
  return s->answer;
}

[[nodiscard]] StatusCode FakeRead(EngineContext*, int32_t d, char* buffer, int32_t capacity, int32_t* count,
                                  void* userData) {
  FakeStream* s = Fake(userData);
  if (!s->Owns(d)) return kBadFileId;
  s->readCapacities.push_back(capacity);
  if (s->answer != kOk) return s->answer;
  std::string& in = s->input[d];
  if (in.empty()) return kEof;
  if (in[0] == '|') {
    in.erase(0, 1);
    *count = 0;
    return kOk;
  }
  const size_t n = std::min<size_t>({static_cast<size_t>(capacity), in.size(), in.find('|')});
  std::memcpy(buffer, in.data(), n);
  in.erase(0, n);
  *count = static_cast<int32_t>(n);
  return kOk;
}

[[nodiscard]] StatusCode FakeClose(EngineContext*, int32_t d, void* userData) {
  FakeStream* s = Fake(userData);
  if (d != kAllDescriptors && !s->Owns(d)) return kBadFileId;
  s->Log(d, "close");
  return s->answer;
}

[[nodiscard]] StatusCode FakeControl(EngineContext*, int32_t d, int32_t code, int32_t* value, void* userData) {
  FakeStream* s = Fake(userData);
  if (!s->Owns(d)) return kBadFileId;
  s->Log(d, "ctl " + std::to_string(code) + " " + std::to_string(*value));
  if (code == kControlEof) *value = s->atEnd;
  if (code == kControlTell) *value = s->position;
  if (code == kControlSeekStart) s->position = *value;
  return s->answer;
}

[[nodiscard]] StatusCode FakeBuffering(EngineContext*, int32_t d, int32_t on, void* userData) {
  FakeStream* s = Fake(userData);
  if (!s->Owns(d)) return kBadFileId;
  s->Log(d, "buf " + std::to_string(on));
  return s->answer;
}

template <class F>
NativeFunctionRecord Record(const char* name, F* handler, FakeStream* s, uint8_t style = 1) {
  NativeFunctionRecord r{};
  r.handler = AsNativeHandler(handler);
  r.userData = s;
  std::strncpy(r.name, name, sizeof r.name - 1);
  r.minInputs = style;
  return r;
}

// Every hook of one fake, in the order the host's tables list them.
std::vector<NativeFunctionRecord> AllHooks(FakeStream* s, uint8_t writeStyle = 1, uint8_t readStyle = 0) {
  return {Record("+write", FakeWrite, s, writeStyle), Record("+read", FakeRead, s, readStyle),
          Record("+fclose", FakeClose, s), Record("+iocontrol", FakeControl, s),
          Record("+iocbuffering", FakeBuffering, s)};
}

class Streams : public StackFixture {
 protected:
  FakeStream* AddFake(const char* name, int32_t first, int32_t last) {
    fakes.emplace_back(name, first, last, &log);
    return &fakes.back();
  }

  // Installs a run of records; the list keeps their addresses for the engine.
  void Install(std::vector<NativeFunctionRecord> records, bool prepend = false) {
    records.push_back(NativeFunctionRecord{});
    libraries.push_back(std::move(records));
    ASSERT_EQ(InstallNativeLibrary(ctx, libraries.back().data(), prepend), kOk);
  }

  [[nodiscard]] StatusCode Write(int32_t d, const char* text) { return WriteToDescriptor(ctx, d, text, -1); }

  // One read into a fresh buffer; the bytes read come back in *text.
  [[nodiscard]] StatusCode Read(int32_t d, std::string* text, int32_t capacity = 64, bool lineMode = true) {
    std::vector<char> buffer(capacity + 1);
    int32_t count = -1;
    const StatusCode st = ReadFromDescriptor(ctx, d, buffer.data(), capacity, lineMode, &count);
    text->assign(buffer.data(), count < 0 ? 0 : count);
    return st;
  }

  std::vector<std::string> log;
  std::list<FakeStream> fakes;
  std::list<std::vector<NativeFunctionRecord>> libraries;
};

TEST_F(Streams, WithoutHooksOnlyTheStandardWritersAreQuiet) {
  for (int32_t d : {1, 2, 3}) {
    EXPECT_EQ(Write(d, "x"), kOk) << d;
    EXPECT_EQ(WriteNewlineToDescriptor(ctx, d), kOk) << d;
  }
  EXPECT_EQ(Write(7, "x"), kBadFileId);
  EXPECT_EQ(Write(0, "x"), kBadFileId);
  EXPECT_EQ(SetDescriptorBuffering(ctx, 1, 1), kBadFileId);
  std::string text;
  EXPECT_EQ(Read(0, &text), kEof);
  EXPECT_EQ(Read(7, &text), kBadFileId);
  EXPECT_EQ(CloseDescriptor(ctx, 7), kBadFileId);
  EXPECT_EQ(ControlDescriptor(ctx, 7, kControlFlush, 0, nullptr, nullptr), kBadFileId);
}

TEST_F(Streams, BadArgumentsAreRefused) {
  FakeStream* out = AddFake("out", 1, 1);
  Install(AllHooks(out));
  char buffer[4];
  int32_t count = 0;
  EXPECT_EQ(WriteToDescriptor(ctx, 1, "abc", -2), kBadArg);
  EXPECT_EQ(WriteToDescriptor(ctx, 1, nullptr, 3), kBadArg);
  EXPECT_EQ(ReadFromDescriptor(ctx, 1, buffer, -1, false, &count), kBadArg);
  EXPECT_EQ(ReadFromDescriptor(ctx, 1, nullptr, 4, false, &count), kBadArg);
  EXPECT_TRUE(log.empty());
}

// Hooks are asked in list order, each run in record order; 301 passes the
// request on, any other answer ends the walk.
TEST_F(Streams, HooksAreTriedInRegistrationOrder) {
  FakeStream* files = AddFake("files", 1024, 1039);
  FakeStream* console = AddFake("console", 1, 2);
  FakeStream* wide = AddFake("wide", 1, 2000);
  // Both fakes in one run behind a header and a plain native, which the walk skips.
  std::vector<NativeFunctionRecord> run = {Record("@host", FakeWrite, nullptr), Record("fopen", FakeWrite, nullptr)};
  for (const auto& r : AllHooks(files)) run.push_back(r);
  for (const auto& r : AllHooks(console)) run.push_back(r);
  Install(run);
  Install(AllHooks(wide));

  EXPECT_EQ(Write(1030, "a"), kOk);
  EXPECT_EQ(Write(2, "b"), kOk);
  EXPECT_EQ(Write(1500, "c"), kOk);
  EXPECT_EQ(Write(3000, "d"), kBadFileId);
  EXPECT_EQ(CloseDescriptor(ctx, 1031), kOk);
  EXPECT_EQ(SetDescriptorBuffering(ctx, 1, 0), kOk);
  EXPECT_EQ(ControlDescriptor(ctx, 1500, kControlFlush, 0, nullptr, nullptr), kOk);
  const std::vector<std::string> want = {"files<1030>a",     "console<2>b",     "wide<1500>c",
                                         "files<1031>close", "console<1>buf 0", "wide<1500>ctl 5 0"};
  EXPECT_EQ(log, want);

  // An error of the first owner is returned, not passed on.
  files->answer = 109;
  log.clear();
  EXPECT_EQ(Write(1030, "e"), 109);
  EXPECT_EQ(CloseDescriptor(ctx, 1030), 109);
  EXPECT_EQ(ControlDescriptor(ctx, 1030, kControlFlush, 0, nullptr, nullptr), 109);
  std::string text;
  EXPECT_EQ(Read(1030, &text), 109);
  EXPECT_EQ(log, (std::vector<std::string>{"files<1030>e", "files<1030>close", "files<1030>ctl 5 0"}));
}

TEST_F(Streams, PrependedLibraryIsAskedFirst) {
  FakeStream* later = AddFake("later", 1, 1);
  FakeStream* front = AddFake("front", 1, 1);
  Install(AllHooks(later));
  Install(AllHooks(front), true);
  EXPECT_EQ(Write(1, "x"), kOk);
  EXPECT_EQ(log, std::vector<std::string>{"front<1>x"});
}

TEST_F(Streams, HookWithoutUserDataGetsTheDefault) {
  FakeStream* host = AddFake("host", 1, 1);
  SetNativeDefaultUserData(ctx, host);
  Install({Record("+write", FakeWrite, nullptr)});
  EXPECT_EQ(Write(1, "x"), kOk);
  EXPECT_EQ(log, std::vector<std::string>{"host<1>x"});
}

TEST_F(Streams, RedirectionOfStandardDescriptors) {
  struct Redirect {
    int32_t d;
    int32_t target;
    bool copy;
  };
  struct Case {
    const char* what;
    std::vector<Redirect> redirects;
    int32_t d;
    std::vector<std::string> want;
  };
  const Case kCases[] = {
      {"none", {}, 1, {"out<1>x"}},
      {"1 to 2", {{1, 2, false}}, 1, {"err<2>x"}},
      {"1 to 2 with copy", {{1, 2, true}}, 1, {"out<1>x", "err<2>x"}},
      {"2 to 1 with copy", {{2, 1, true}}, 2, {"err<2>x", "out<1>x"}},
      {"1 to a file", {{1, 1030, false}}, 1, {"file<1030>x"}},
      {"2 unaffected by 1", {{1, 1030, true}}, 2, {"err<2>x"}},
      {"copies both ways write once", {{1, 2, true}, {2, 1, true}}, 1, {"out<1>x"}},
      {"a replaced 1 copies as 2 does", {{1, 2, false}, {2, 1030, true}}, 1, {"err<2>x", "file<1030>x"}},
      {"replacement is not repeated", {{1, 2, false}, {2, 1030, false}}, 1, {"err<2>x"}},
      {"undone", {{1, 2, true}, {1, 1, false}}, 1, {"out<1>x"}},
  };
  FakeStream* out = AddFake("out", 1, 1);
  FakeStream* err = AddFake("err", 2, 2);
  FakeStream* file = AddFake("file", 1024, 1039);
  Install({Record("+write", FakeWrite, out), Record("+write", FakeWrite, err), Record("+write", FakeWrite, file)});
  for (const Case& c : kCases) {
    ASSERT_EQ(SetStandardRedirection(ctx, 1, 1, false), kOk);
    ASSERT_EQ(SetStandardRedirection(ctx, 2, 2, false), kOk);
    for (const Redirect& r : c.redirects) ASSERT_EQ(SetStandardRedirection(ctx, r.d, r.target, r.copy), kOk);
    log.clear();
    EXPECT_EQ(Write(c.d, "x"), kOk) << c.what;
    EXPECT_EQ(log, c.want) << c.what;
  }
  EXPECT_EQ(SetStandardRedirection(ctx, 3, 1, false), kBadFileId);
  EXPECT_EQ(SetStandardRedirection(ctx, 1030, 1, true), kBadFileId);
}

TEST_F(Streams, CopyResultAndFailures) {
  FakeStream* out = AddFake("out", 1, 1);
  FakeStream* err = AddFake("err", 2, 2);
  Install({Record("+write", FakeWrite, out), Record("+write", FakeWrite, err)});

  // The copy's answer stands when the first write succeeded.
  ASSERT_EQ(SetStandardRedirection(ctx, 1, 7, true), kOk);
  EXPECT_EQ(Write(1, "x"), kBadFileId);
  EXPECT_EQ(log, std::vector<std::string>{"out<1>x"});

  // A failing writer is reported even though its copy went through.
  ASSERT_EQ(SetStandardRedirection(ctx, 1, 2, true), kOk);
  out->answer = 109;
  log.clear();
  EXPECT_EQ(Write(1, "y"), 109);
  EXPECT_EQ(log, (std::vector<std::string>{"out<1>y", "err<2>y"}));
}

TEST_F(Streams, EachWriterGetsItsOwnNewline) {
  struct Case {
    uint8_t style;
    const char* want;
  };
  const Case kCases[] = {{0, "\r"}, {1, "\n"}, {2, "\r\n"}, {3, "\r"}, {255, "\r"}};
  std::vector<NativeFunctionRecord> run;
  for (const Case& c : kCases) {
    const int32_t d = 1024 + c.style;
    run.push_back(Record("+write", FakeWrite, AddFake("w", d, d), c.style));
  }
  Install(run);
  for (const Case& c : kCases) {
    log.clear();
    EXPECT_EQ(WriteNewlineToDescriptor(ctx, 1024 + c.style), kOk);
    EXPECT_EQ(log, std::vector<std::string>{"w<" + std::to_string(1024 + c.style) + ">" + c.want}) << int{c.style};
  }

  // A copied newline follows each receiving writer's convention.
  FakeStream* out = AddFake("out", 1, 1);
  FakeStream* err = AddFake("err", 2, 2);
  Install({Record("+write", FakeWrite, out, 1), Record("+write", FakeWrite, err, 2)});
  ASSERT_EQ(SetStandardRedirection(ctx, 1, 2, true), kOk);
  log.clear();
  EXPECT_EQ(WriteNewlineToDescriptor(ctx, 1), kOk);
  EXPECT_EQ(log, (std::vector<std::string>{"out<1>\n", "err<2>\r\n"}));
}

TEST_F(Streams, WritesCountedAndTerminatedTextAndNumbers) {
  FakeStream* out = AddFake("out", 1, 1);
  Install(AllHooks(out));
  EXPECT_EQ(WriteToDescriptor(ctx, 1, "abcdef", 3), kOk);
  EXPECT_EQ(WriteToDescriptor(ctx, 1, "a\0b", 3), kOk);
  EXPECT_EQ(WriteToDescriptor(ctx, 1, "hello", -1), kOk);
  EXPECT_EQ(WriteNumberToDescriptor(ctx, 1, 3.14159265), kOk);
  EXPECT_EQ(WriteNumberToDescriptor(ctx, 1, 1e-7), kOk);
  ctx->display.digits = 2;
  EXPECT_EQ(WriteNumberToDescriptor(ctx, 1, 3.14159265), kOk);
  const std::vector<std::string> want = {
      "out<1>abc", std::string("out<1>a\0b", 9), "out<1>hello", "out<1>3.1416", "out<1>1e-7", "out<1>3.14"};
  EXPECT_EQ(log, want);
}

TEST_F(Streams, MemoryBufferOfDescriptorFive) {
  FakeStream* all = AddFake("all", INT_MIN, INT_MAX);
  Install(AllHooks(all));

  // Without a buffer the bytes are dropped; they never reach a hook.
  EXPECT_EQ(Write(5, "lost"), kOk);
  EXPECT_EQ(WriteNewlineToDescriptor(ctx, 5), kOk);
  EXPECT_EQ(SetDescriptorBuffering(ctx, 5, 1), kOk);

  char memory[8] = {};
  int32_t position = 0;
  ctx->memoryBuffer = reinterpret_cast<uint8_t*>(memory);
  ctx->memoryCapacity = sizeof memory;
  ctx->memoryPosition = &position;
  struct Step {
    const char* text;  // null: a newline
    StatusCode want;
    int32_t position;
  };
  const Step kSteps[] = {
      {"abc", kOk, 3},
      {nullptr, kOk, 4},
      {"defgh", kDataStackFull, 4},  // one byte too many: nothing is written
      {"defg", kOk, 8},              // exactly fills the buffer
      {"", kOk, 8},
      {"x", kDataStackFull, 8},
      {nullptr, kDataStackFull, 8},
  };
  for (const Step& s : kSteps) {
    const StatusCode st = s.text ? Write(5, s.text) : WriteNewlineToDescriptor(ctx, 5);
    EXPECT_EQ(st, s.want) << (s.text ? s.text : "newline");
    EXPECT_EQ(position, s.position) << (s.text ? s.text : "newline");
  }
  EXPECT_EQ(std::string(memory, 8), "abc\ndefg");
  EXPECT_EQ(WriteNumberToDescriptor(ctx, 5, 1), kDataStackFull);
  EXPECT_TRUE(log.empty());

  // Standard output redirected to 5 lands in the buffer as well.
  position = 0;
  ASSERT_EQ(SetStandardRedirection(ctx, 1, 5, true), kOk);
  EXPECT_EQ(Write(1, "ok"), kOk);
  EXPECT_EQ(position, 2);
  EXPECT_EQ(std::string(memory, 2), "ok");
  EXPECT_EQ(log, std::vector<std::string>{"all<1>ok"});
}

TEST_F(Streams, BufferingRequests) {
  FakeStream* out = AddFake("out", 1, 1);
  FakeStream* err = AddFake("err", 2, 2);
  Install({Record("+iocbuffering", FakeBuffering, out), Record("+iocbuffering", FakeBuffering, err)});
  EXPECT_EQ(SetDescriptorBuffering(ctx, 1, 1), kOk);
  EXPECT_EQ(SetDescriptorBuffering(ctx, 3, 1), kBadFileId);  // no quiet success as for writes
  ASSERT_EQ(SetStandardRedirection(ctx, 1, 2, true), kOk);
  EXPECT_EQ(SetDescriptorBuffering(ctx, 1, 0), kOk);
  EXPECT_EQ(log, (std::vector<std::string>{"out<1>buf 1", "out<1>buf 0", "err<2>buf 0"}));
}

// Line mode: each case feeds a descriptor and reads it line by line until
// end of input. '|' in the input is a moment with no byte available.
TEST_F(Streams, LineModeReadsEveryLineEnd) {
  struct Case {
    const char* what;
    std::string input;
    std::vector<std::string> lines;  // "!" marks an answer of 502
  };
  const Case kCases[] = {
      {"LF", "ab\ncd\n", {"ab\n", "cd\n"}},
      {"CR", "ab\rcd\r", {"ab\n", "cd\n"}},
      {"CR LF", "ab\r\ncd\r\n", {"ab\n", "cd\n"}},
      {"mixed", "a\nb\r\nc\rd", {"a\n", "b\n", "c\n", "d"}},
      {"end of input ends a line", "ab", {"ab"}},
      {"empty lines", "\n\n\r\r\n", {"\n", "\n", "\n", "\n"}},
      {"LF CR is two line ends", "a\n\rb", {"a\n", "\n", "b"}},
      {"CR CR LF", "a\r\r\nb", {"a\n", "\n", "b"}},
      {"LF alone after a CR line end", "a\r|\nb\n", {"a\n", "!", "b\n"}},
      {"CR LF split across reads", "a\r|\n|b\n", {"a\n", "!", "!", "b\n"}},
      {"a line arriving in parts", "a|b\n", {"!a", "b\n"}},
      {"long line fills the buffer", "abcdefg\n", {"abcd", "efg\n"}},
      {"CR at the buffer's end", "abc\r\nd", {"abc\n", "d"}},
  };
  for (const Case& c : kCases) {
    FakeStream s("in", 1024, 1024, &log);
    s.input[1024] = c.input;
    std::vector<NativeFunctionRecord> run = {Record("+read", FakeRead, &s, 0), NativeFunctionRecord{}};
    Reset();
    ASSERT_EQ(InstallNativeLibrary(ctx, run.data(), false), kOk);

    std::vector<std::string> got;
    std::string pending;  // bytes of a line that answered 502, as a resumed caller keeps them
    for (int i = 0; i < 20; ++i) {
      std::vector<char> buffer(4);
      int32_t count = -1;
      const int32_t have = static_cast<int32_t>(pending.size());
      std::memcpy(buffer.data(), pending.data(), have);
      const StatusCode st = ReadFromDescriptor(ctx, 1024, buffer.data() + have, 4 - have, true, &count);
      if (st == kEof) {
        EXPECT_EQ(count, 0) << c.what;
        break;
      }
      if (st == kWouldBlock) {
        got.push_back("!" + std::string(buffer.data() + have, count));
        pending.append(buffer.data() + have, count);
        continue;
      }
      ASSERT_EQ(st, kOk) << c.what;
      got.push_back(std::string(buffer.data() + have, count));
      pending.clear();
    }
    EXPECT_EQ(got, c.lines) << c.what;
    // Line mode asks for one byte at a time.
    for (int32_t capacity : s.readCapacities) EXPECT_EQ(capacity, 1) << c.what;
  }
}

TEST_F(Streams, PendingCrBelongsToOneDescriptor) {
  FakeStream* in = AddFake("in", 1024, 1025);
  in->input[1024] = "a\r\nb\n";
  in->input[1025] = "\nx\n";
  Install(AllHooks(in));
  std::string text;
  EXPECT_EQ(Read(1024, &text), kOk);
  EXPECT_EQ(text, "a\n");
  EXPECT_EQ(Read(1025, &text), kOk);  // its LF is a line of its own
  EXPECT_EQ(text, "\n");
  EXPECT_EQ(Read(1024, &text), kOk);
  EXPECT_EQ(text, "b\n");
}

TEST_F(Streams, PendingCrEndsWithOtherUseOfTheDescriptor) {
  FakeStream* in = AddFake("in", 1024, 1024);
  Install(AllHooks(in));
  std::string text;
  struct Case {
    const char* what;
    void (*between)(EngineContext* ctx);
    std::string second;  // what a line read after the CR gives
  };
  const Case kCases[] = {
      {"nothing between", [](EngineContext*) {}, "b\n"},
      {"seek",
       [](EngineContext* c) { ASSERT_EQ(ControlDescriptor(c, 1024, kControlSeekStart, 0, nullptr, nullptr), kOk); },
       "\n"},
      {"close", [](EngineContext* c) { ASSERT_EQ(CloseDescriptor(c, 1024), kOk); }, "\n"},
      {"close all", [](EngineContext* c) { ASSERT_EQ(CloseDescriptor(c, kAllDescriptors), kOk); }, "\n"},
      {"tell", [](EngineContext* c) { ASSERT_EQ(ControlDescriptor(c, 1024, kControlTell, 0, nullptr, nullptr), kOk); },
       "b\n"},
  };
  for (const Case& c : kCases) {
    in->input[1024] = "a\r\nb\n";
    ASSERT_EQ(Read(1024, &text), kOk) << c.what;
    c.between(ctx);
    ASSERT_EQ(Read(1024, &text), kOk) << c.what;
    EXPECT_EQ(text, c.second) << c.what;
    while (Read(1024, &text) == kOk) {
    }
  }

  // A raw read takes the LF as it is, and the flag with it: the next LF is
  // an empty line.
  in->input[1024] = "a\r\n\nb";
  ASSERT_EQ(Read(1024, &text), kOk);
  EXPECT_EQ(Read(1024, &text, 1, false), kOk);
  EXPECT_EQ(text, "\n");
  EXPECT_EQ(Read(1024, &text), kOk);
  EXPECT_EQ(text, "\n");
}

TEST_F(Streams, LineModeEndOfInputAndErrors) {
  FakeStream* in = AddFake("in", 1024, 1024);
  Install(AllHooks(in));
  std::string text;

  in->input[1024] = "ab";
  EXPECT_EQ(Read(1024, &text), kOk);
  EXPECT_EQ(text, "ab");
  EXPECT_EQ(Read(1024, &text), kEof);
  EXPECT_EQ(text, "");

  // A buffer of no bytes is not offered to the hook.
  in->readCapacities.clear();
  EXPECT_EQ(Read(1024, &text, 0), kOk);
  EXPECT_TRUE(in->readCapacities.empty());

  in->input[1024] = "ab\n";
  in->answer = 109;
  EXPECT_EQ(Read(1024, &text), 109);
  EXPECT_EQ(Read(1024, &text, 8, false), 109);
}

TEST_F(Streams, WholeBufferReads) {
  FakeStream* lines = AddFake("lines", 1024, 1024);
  FakeStream* raw = AddFake("raw", 1025, 1025);
  Install({Record("+read", FakeRead, lines, 1), Record("+read", FakeRead, raw, 0)});
  lines->input[1024] = "ab\r\ncd";
  raw->input[1025] = "ab\r\ncd";
  std::string text;

  // A hook with a style byte delivers lines itself: it gets the whole buffer.
  EXPECT_EQ(Read(1024, &text, 5, true), kOk);
  EXPECT_EQ(text, "ab\r\nc");
  EXPECT_EQ(lines->readCapacities, std::vector<int32_t>{5});

  EXPECT_EQ(Read(1025, &text, 64, false), kOk);
  EXPECT_EQ(text, "ab\r\ncd");
  EXPECT_EQ(Read(1025, &text, 64, false), kEof);
  EXPECT_EQ(raw->readCapacities, (std::vector<int32_t>{64, 64}));

  // Every hook passing the request on: 305 for descriptor 0, else 301.
  EXPECT_EQ(Read(0, &text), kEof);
  EXPECT_EQ(Read(9, &text, 64, false), kBadFileId);
}

TEST_F(Streams, ControlAnswers) {
  FakeStream* file = AddFake("file", 1024, 1039);
  file->atEnd = 1;
  file->position = 77;
  Install({Record("+iocontrol", FakeControl, AddFake("other", 2000, 2000)), Record("+iocontrol", FakeControl, file)});

  bool atEnd = false;
  int32_t position = -1;
  EXPECT_EQ(ControlDescriptor(ctx, 1024, kControlEof, 0, &position, &atEnd), kOk);
  EXPECT_TRUE(atEnd);
  EXPECT_EQ(position, -1);
  EXPECT_EQ(ControlDescriptor(ctx, 1024, kControlTell, 0, &position, &atEnd), kOk);
  EXPECT_EQ(position, 77);
  EXPECT_EQ(ControlDescriptor(ctx, 1024, kControlSeekStart, 12, nullptr, nullptr), kOk);
  EXPECT_EQ(file->position, 12);
  file->atEnd = 0;
  EXPECT_EQ(ControlDescriptor(ctx, 1024, kControlEof, 0, nullptr, &atEnd), kOk);
  EXPECT_FALSE(atEnd);
  EXPECT_EQ(ControlDescriptor(ctx, 1024, 99, 5, nullptr, nullptr), kOk);  // unknown codes pass through

  // Nobody answered: the outputs stay as they were.
  atEnd = true;
  position = 3;
  EXPECT_EQ(ControlDescriptor(ctx, 7, kControlEof, 0, &position, &atEnd), kBadFileId);
  EXPECT_EQ(ControlDescriptor(ctx, 7, kControlTell, 0, &position, &atEnd), kBadFileId);
  EXPECT_TRUE(atEnd);
  EXPECT_EQ(position, 3);

  const std::vector<std::string> want = {"file<1024>ctl 0 0", "file<1024>ctl 4 0", "file<1024>ctl 1 12",
                                         "file<1024>ctl 0 0", "file<1024>ctl 99 5"};
  EXPECT_EQ(log, want);
}

TEST_F(Streams, CloseAllReachesTheFirstHook) {
  FakeStream* a = AddFake("a", 1024, 1024);
  FakeStream* b = AddFake("b", 1025, 1025);
  Install({Record("+fclose", FakeClose, a), Record("+fclose", FakeClose, b)});
  EXPECT_EQ(CloseDescriptor(ctx, 1025), kOk);
  EXPECT_EQ(CloseDescriptor(ctx, kAllDescriptors), kOk);
  EXPECT_EQ(log, (std::vector<std::string>{"b<1025>close", "a<-1>close"}));
}

TEST_F(Streams, DescriptorRanges) {
  EXPECT_EQ(AllocateDescriptorRange(ctx, 16), 1024);
  EXPECT_EQ(AllocateDescriptorRange(ctx, 32), 1040);
  EXPECT_EQ(AllocateDescriptorRange(ctx, 0), 1072);
  EXPECT_EQ(AllocateDescriptorRange(ctx, 1), 1072);
  EXPECT_EQ(AllocateDescriptorRange(ctx, -1), -1);
  // A range that would run past the largest descriptor is refused and costs nothing.
  EXPECT_EQ(AllocateDescriptorRange(ctx, INT32_MAX - 1000), -1);
  EXPECT_EQ(AllocateDescriptorRange(ctx, INT32_MAX - 1073), 1073);
  EXPECT_EQ(AllocateDescriptorRange(ctx, 1), -1);
  EXPECT_EQ(AllocateDescriptorRange(ctx, 0), INT32_MAX);
}

// Extensions reach descriptors only through the ServiceTable.
TEST_F(Streams, ServiceTableSlots) {
  FakeStream* file = AddFake("file", 1024, 1024);
  file->input[1024] = "in\r\n";
  file->position = 9;
  Install(AllHooks(file, 2));

  auto write = GetServiceTable(ctx)->WriteToDescriptor;
  auto number = GetServiceTable(ctx)->WriteNumberToDescriptor;
  auto newline = GetServiceTable(ctx)->WriteNewlineToDescriptor;
  auto buffering = GetServiceTable(ctx)->SetDescriptorBuffering;
  auto control = GetServiceTable(ctx)->ControlDescriptor;
  auto read = GetServiceTable(ctx)->ReadFromDescriptor;
  auto range = GetServiceTable(ctx)->AllocateDescriptorRange;

  EXPECT_EQ(write(ctx, 1024, "x", -1), kOk);
  EXPECT_EQ(number(ctx, 1024, 0.5), kOk);
  EXPECT_EQ(newline(ctx, 1024), kOk);
  EXPECT_EQ(buffering(ctx, 1024, 1), kOk);
  int32_t position = 0;
  EXPECT_EQ(control(ctx, 1024, kControlTell, 0, &position, nullptr), kOk);
  EXPECT_EQ(position, 9);
  char buffer[8];
  int32_t count = 0;
  EXPECT_EQ(read(ctx, 1024, buffer, sizeof buffer, true, &count), kOk);
  EXPECT_EQ(std::string(buffer, count), "in\n");
  EXPECT_EQ(read(ctx, 1024, buffer, sizeof buffer, true, &count), kEof);
  EXPECT_EQ(range(ctx, 8), 1024);
  EXPECT_EQ(range(ctx, 8), 1032);
  const std::vector<std::string> want = {"file<1024>x", "file<1024>0.5", "file<1024>\r\n", "file<1024>buf 1",
                                         "file<1024>ctl 4 0"};
  EXPECT_EQ(log, want);
}

}  // namespace
