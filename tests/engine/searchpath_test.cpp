// Library files found through the search path: candidate names in order,
// patterns, untrusted schemes, overlong candidates, and the `path` native.
#include "engine/searchpath.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/engine/stack_fixture.h"

namespace {

std::vector<std::string> gTried;
std::string gAccept;  // the candidate the fake file system holds

[[nodiscard]] StatusCode FakeReader(const char* candidate, bool, char* buffer, int32_t size, int32_t* length) {
  gTried.push_back(candidate);
  if (gAccept != candidate) return 1;
  const char text[] = "function f\n";
  if (size < static_cast<int32_t>(sizeof text)) return 3;
  std::memcpy(buffer, text, sizeof text - 1);
  *length = sizeof text - 1;
  return kOk;
}

class SearchPath : public StackFixture {
 protected:
  void SetUp() override {
    StackFixture::SetUp();
    ResetSearchPath();
    gTried.clear();
    gAccept.clear();
  }
  void TearDown() override { ResetSearchPath(); }

  std::vector<std::string> Candidates(const char* name, const char* suffix, const char* hint = nullptr) {
    gTried.clear();
    char buffer[64];
    int32_t length = 0;
    bool untrusted = false;
    // Found or not, only the names tried count here.
    (void)BuildSearchPathCandidates(name, suffix, hint, nullptr, FakeReader, buffer, sizeof buffer, &length,
                                    &untrusted);
    return gTried;
  }
};

TEST_F(SearchPath, CandidatesInOrder) {
  struct Case {
    const char* path;
    char separator;
    const char* hint;
    const char* suffix;
    std::vector<std::string> want;
  };
  const Case kCases[] = {
      {"lib/%f;.", '\\', nullptr, "rvl", {"lib/x.rvl", ".\\x.rvl"}},
      {";", '/', nullptr, "rvl", {"x.rvl"}},
      {"a/;b", '/', nullptr, nullptr, {"a/x", "b/x"}},
      {"d/%b.txt;e/%b%s;100%%/%f;q%z", '/', nullptr, "rvl", {"d/x.txt", "e/x.rvl", "100%/x.rvl", "q%z/x.rvl"}},
      {"p", '/', "lib/sub/other.rvl", "rvl", {"lib/sub/x.rvl", "p/x.rvl"}},
      {"p", '/', "nodir", "rvl", {"x.rvl", "p/x.rvl"}},
  };
  for (const Case& c : kCases) {
    ASSERT_EQ(SetSearchPath(c.path, static_cast<int>(std::strlen(c.path)), nullptr, 0), kOk);
    SetPathSeparator(c.separator);
    EXPECT_EQ(Candidates("x", c.suffix, c.hint), c.want) << c.path;
  }
}

TEST_F(SearchPath, OverlongCandidatesAreSkipped) {
  const std::string longDir(300, 'd');
  const std::string path = longDir + ";short";
  ASSERT_EQ(SetSearchPath(path.c_str(), static_cast<int>(path.size()), nullptr, 0), kOk);
  EXPECT_EQ(Candidates("x", "rvl"), (std::vector<std::string>{"short/x.rvl"}));
}

TEST_F(SearchPath, TheReaderDecides) {
  ASSERT_EQ(SetSearchPath("http://host/lib;c:/lib", 22, nullptr, 0), kOk);
  char buffer[64];
  char found[256];
  int32_t length = 0;
  bool untrusted = false;
  EXPECT_EQ(BuildSearchPathCandidates("x", "rvl", nullptr, found, nullptr, buffer, sizeof buffer, &length, &untrusted),
            kNotMine)
      << "without a reader every request passes on";

  gAccept = "http://host/lib/x.rvl";
  ASSERT_EQ(
      BuildSearchPathCandidates("x", "rvl", nullptr, found, FakeReader, buffer, sizeof buffer, &length, &untrusted),
      kOk);
  EXPECT_TRUE(untrusted) << "a scheme name makes the text untrusted";
  EXPECT_STREQ(found, "http://host/lib/x.rvl");
  EXPECT_EQ(length, 11);

  gAccept = "c:/lib/x.rvl";
  ASSERT_EQ(
      BuildSearchPathCandidates("x", "rvl", nullptr, found, FakeReader, buffer, sizeof buffer, &length, &untrusted),
      kOk);
  EXPECT_FALSE(untrusted) << "a drive letter is no scheme";

  gAccept = "nowhere";
  EXPECT_EQ(
      BuildSearchPathCandidates("x", "rvl", nullptr, found, FakeReader, buffer, sizeof buffer, &length, &untrusted),
      kNotMine);

  // The host's hook takes the reader as its user data.
  gAccept = "c:/lib/y.rvl";
  int32_t firstLine = 0;
  ASSERT_EQ(ReadLibraryFromSearchPath(ctx, "y", "rvl", nullptr, buffer, sizeof buffer, &length, &firstLine, &untrusted,
                                      reinterpret_cast<void*>(FakeReader)),
            kOk);
  EXPECT_EQ(firstLine, 1);
  EXPECT_EQ(std::string(buffer, length), "function f\n");
}

TEST_F(SearchPath, PathNative) {
  std::string out;
  CaptureDescriptor(1, &out);

  ASSERT_EQ(PushStringFromBytes(ctx, -1, "a"), kOk);
  ASSERT_EQ(PathNative(ctx, 1, 0, nullptr), kOk);
  EXPECT_STREQ(GetSearchPath(), "a;");
  EXPECT_EQ(ctx->descLength, 0);

  ASSERT_EQ(PushStringFromBytes(ctx, -1, ""), kOk);
  ASSERT_EQ(PathNative(ctx, 1, 1, nullptr), kOk);
  EXPECT_EQ(TopString(), ";");
  PopValue(ctx);

  ASSERT_EQ(PushStringFromBytes(ctx, -1, "x;y"), kOk);
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "z;"), kOk);
  ASSERT_EQ(PathNative(ctx, 2, 1, nullptr), kOk);
  EXPECT_EQ(TopString(), "x;y;z;");
  PopValue(ctx);

  ASSERT_EQ(PathNative(ctx, 0, 0, nullptr), kOk);
  EXPECT_EQ(out, "x\ny\nz\n");
  // Called as a statement, for as many results as it gives: it gives the void value.
  ASSERT_EQ(PathNative(ctx, 0, -1, nullptr), kOk);
  EXPECT_EQ(Top().kind, uint32_t{kVoid});
  PopValue(ctx);

  const std::string tooLong(1022, 'p');
  ASSERT_EQ(PushStringFromBytes(ctx, -1, tooLong.c_str()), kOk);
  EXPECT_EQ(PathNative(ctx, 1, 0, nullptr), kOutOfRangeArg) << "no room left for the final ';'";
  EXPECT_STREQ(GetSearchPath(), "x;y;z;");
}

}  // namespace
