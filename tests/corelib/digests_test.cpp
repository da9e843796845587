// Digests of a descriptor through an in-memory "+read" hook that hands out
// the bytes in small chunks, pauses where the text has a '|' and can raise
// a break: a digest that waits mid-stream must still cover every byte once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "tests/engine/stack_fixture.h"

namespace {

constexpr int32_t kDescriptor = 7;

struct ChunkedInput {
  std::string text;
  size_t chunk = 5;
  size_t at = 0;
  bool paused = true;
  int breakAfterPolls = -1;  // -1: never
};
ChunkedInput* gIn = nullptr;
std::string* gOut = nullptr;

[[nodiscard]] StatusCode ChunkedRead(EngineContext*, int32_t descriptor, char* buffer, int32_t capacity,
                                     int32_t* count, void*) {
  if (descriptor != kDescriptor) return kBadFileId;
  *count = 0;
  if (gIn->at < gIn->text.size() && gIn->text[gIn->at] == '|') {
    if (gIn->paused) return kWouldBlock;
    ++gIn->at;
    gIn->paused = true;
  }
  if (gIn->at >= gIn->text.size()) return kEof;
  size_t n = std::min<size_t>(gIn->chunk, static_cast<size_t>(capacity));
  const size_t pause = gIn->text.find('|', gIn->at);
  if (pause != std::string::npos) n = std::min(n, pause - gIn->at);
  n = std::min(n, gIn->text.size() - gIn->at);
  std::memcpy(buffer, gIn->text.data() + gIn->at, n);
  gIn->at += n;
  *count = static_cast<int32_t>(n);
  return kOk;
}

[[nodiscard]] StatusCode OutWrite(EngineContext*, int32_t descriptor, const char* bytes, int32_t length, void*) {
  if (descriptor != kStdoutDescriptor) return kBadFileId;
  gOut->append(bytes, static_cast<size_t>(length));
  return kOk;
}

bool BreakWhenDue(void*) { return gIn->breakAfterPolls >= 0 && gIn->breakAfterPolls-- == 0; }

NativeFunctionRecord Named(NativeHandler handler, const char* name, uint8_t inputs, uint8_t outputs) {
  NativeFunctionRecord r{};
  r.handler = handler;
  std::strncpy(r.name, name, sizeof r.name - 1);
  r.minInputs = r.maxInputs = inputs;
  r.maxOutputs = outputs;
  return r;
}

class Digests : public StackFixture {
 protected:
  void SetUp() override {
    StackFixture::SetUp();
    gIn = &in;
    gOut = &out;
    out.clear();
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    records[0] = Named(nullptr, "!digests", 0, 0);
    records[1] = Named(AsNativeHandler(&ChunkedRead), "+read", 0, 0);
    records[2] = Named(AsNativeHandler(&OutWrite), "+write", 1, 0);
    records[3] = Named(&Md5Native, "md5", 1, 1);
    records[4] = Named(&Sha1Native, "sha1", 1, 1);
    ASSERT_EQ(InstallNativeLibrary(ctx, records, false), kOk);
    SetBreakPollCallback(ctx, &BreakWhenDue, nullptr);
  }

  // Runs the command to its end, letting every pause pass once; the count of
  // suspensions goes to *waits.
  StatusCode RunResumed(const std::string& command, int* waits) {
    *waits = 0;
    StatusCode st = EvaluateCommandLine(ctx, command.data(), static_cast<int32_t>(command.size()), true);
    if (st == kSuspended) st = RunInterpreter(ctx, 0);
    while (st == kSuspended) {
      ++*waits;
      in.paused = false;
      st = RunInterpreter(ctx, 0);
    }
    return st;
  }

  NativeFunctionRecord records[6]{};
  ChunkedInput in;
  std::string out;
};

TEST_F(Digests, DescriptorDigestCoversEveryByteOnceAcrossPauses) {
  std::string thousand;
  for (int k = 0; k < 1000; ++k) thousand += static_cast<char>('a' + k % 26);
  struct Case {
    std::string input;
    size_t chunk;
    const char* md5;  // of the input without its '|'
    const char* sha1;
  };
  const Case kCases[] = {
      {"", 5, "d41d8cd98f00b204e9800998ecf8427e", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", 1, "900150983cd24fb0d6963f7d28e17f72", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"|abc", 64, "900150983cd24fb0d6963f7d28e17f72", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"a|b|c|", 64, "900150983cd24fb0d6963f7d28e17f72", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhi|jkijkljklmklmnlmnomnopnopq", 7, "8215ef0796a20bcaaae116d3876c664a",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {thousand.substr(0, 333) + "|" + thousand.substr(333), 13, nullptr, nullptr},
  };
  for (const Case& c : kCases) {
    std::string plain = c.input;
    plain.erase(std::remove(plain.begin(), plain.end(), '|'), plain.end());
    for (const char* digest : {"md5", "sha1"}) {
      SetUp();
      in = {c.input, c.chunk};
      int waits = 0;
      ASSERT_EQ(RunResumed(std::string("fprintf('%s', ") + digest + "(7))", &waits), kOk) << c.input;
      EXPECT_EQ(waits, static_cast<int>(std::count(c.input.begin(), c.input.end(), '|'))) << c.input;
      std::string want;
      if (c.md5 != nullptr) {
        want = std::strcmp(digest, "md5") == 0 ? c.md5 : c.sha1;
      } else {
        // The same bytes as a text, which the descriptor path must agree with.
        std::swap(out, want);
        ASSERT_EQ(Command(std::string("fprintf('%s', ") + digest + "('" + plain + "'))"), kOk);
        std::swap(out, want);
      }
      EXPECT_EQ(out, want) << digest << " of " << c.input;
    }
  }
}

TEST_F(Digests, BreakWhileReadingHalts) {
  in = {std::string(200, 'x'), 10};
  in.breakAfterPolls = 3;
  int waits = 0;
  EXPECT_EQ(RunResumed("x = md5(7)", &waits), kHalted);
  // The engine is usable afterwards.
  in = {"abc", 2};
  EXPECT_EQ(RunResumed("fprintf('%s', md5(7))", &waits), kOk);
  EXPECT_EQ(out, "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
