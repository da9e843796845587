// Extension libraries of both interfaces, loaded by file and from a folder,
// called from source text: the interface chosen, a native class across the
// boundary, the callbacks and their errors, and the result rules.
#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/engine/stack_fixture.h"

namespace {

namespace fs = std::filesystem;

class ExtensionsTest : public StackFixture {
 protected:
  ExtensionsTest() : StackFixture(EngineSetup{.messages = true}) {}

  void SetUp() override {
    StackFixture::SetUp();
    CaptureDescriptor(1, &output);
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
  }

  void TearDown() override {
    if (!folder.empty()) fs::remove_all(folder);
  }

  // A fresh folder holding copies of the given files under the given names.
  void MakeFolder(const std::string& name, const std::vector<std::pair<std::string, std::string>>& files) {
    folder = fs::temp_directory_path() / (name + "-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const auto& [from, to] : files) {
      if (from.empty()) {
        std::ofstream(folder / to) << "not a shared object\n";
      } else {
        fs::copy_file(from, folder / to);
      }
    }
  }

  static void Report(const char* path, void* data) { static_cast<std::vector<std::string>*>(data)->push_back(path); }

  [[nodiscard]] StatusCode LoadFile(const char* path) {
    return LoadExtensionLibraries(ctx, nullptr, path, true, nullptr, 0, Report, &reported);
  }
  [[nodiscard]] StatusCode LoadFolder(const char* filter) {
    const int length = filter ? static_cast<int>(std::strlen(filter)) : 0;
    return LoadExtensionLibraries(ctx, nullptr, folder.c_str(), false, filter, length, Report, &reported);
  }

  std::string Output(const std::string& text) {
    output.clear();
    EXPECT_EQ(Command(text), kOk) << text;
    return output;
  }

  std::string output;
  std::vector<std::string> reported;
  fs::path folder;
};

TEST_F(ExtensionsTest, EachInterfaceLoadsByFileAndIsCalledFromSource) {
  const fs::path before = fs::current_path();
  int argument = 0;
  ASSERT_EQ(LoadExtensionLibraries(ctx, &argument, EXT_CURRENT, true, nullptr, 0, Report, &reported), kOk);
  ASSERT_EQ(LoadFile(EXT_OLDER), kOk);
  EXPECT_EQ(fs::current_path(), before);
  EXPECT_EQ(reported, (std::vector<std::string>{EXT_CURRENT, EXT_OLDER}));

  // Both went in front, the later first; the older run starts with its header.
  EXPECT_STREQ(GetNativeRecordByIndex(ctx, 0)->name, "@ExtOlder");
  EXPECT_STREQ(GetNativeRecordByIndex(ctx, 10)->name, "@ExtCurrent");

  EXPECT_EQ(Output("disp(twice(21))"), "        42\n");
  const auto expected = static_cast<double>(reinterpret_cast<uintptr_t>(&argument));
  ASSERT_EQ(Command("a = installarg();"), kOk);
  EXPECT_EQ(BaseScalar("a"), expected);
  // The older library's version is not the current interface's: its
  // InstallRVOExtensions was never called.
  EXPECT_EQ(Command("wronginterface"), kUndefFunOrVar);

  // make is a constructor of the library's class, area a method of it.
  EXPECT_EQ(Output("r = make(3, 4); disp(area(r))"), "        12\n");
  EXPECT_EQ(Output("disp(class(r))"), "make\n");
  EXPECT_NE(Command("area(5)"), kOk) << "a method is reached only through an object";
}

TEST_F(ExtensionsTest, AFolderLoadsWhatItCanAndTheFilterIgnoresCase) {
  MakeFolder(
      "rvo-ext",
      {{EXT_CURRENT, "ExtCurrent.so"}, {EXT_OLDER, "ExtOlder.so"}, {"", "Broken.so"}, {EXT_CURRENT, "ExtCurrent.txt"}});
  const std::string broken = (folder / "Broken.so").string();
  EXPECT_EQ(LoadFile(broken.c_str()), kInitError);
  reported.clear();
  EXPECT_EQ(LoadFolder("extOLDER"), kOk);
  EXPECT_EQ(reported, (std::vector<std::string>{(folder / "ExtOlder.so").string()}));
  // "Ext" is followed by neither '.' nor the end in any name.
  EXPECT_EQ(LoadFolder("Ext"), kOk);
  EXPECT_EQ(reported.size(), 1u);
  // The older library once more makes a second run behind the first.
  ASSERT_EQ(LoadFolder(nullptr), kOk);
  EXPECT_EQ(reported, (std::vector<std::string>{(folder / "ExtOlder.so").string(), (folder / "ExtCurrent.so").string(),
                                                (folder / "ExtOlder.so").string()}));
  EXPECT_EQ(Output("disp(twice(area(make(2, 3))))"), "        12\n");
}

TEST_F(ExtensionsTest, TheReportGetsAUtf8Path) {
  MakeFolder("d\xC3\xA9j\xC3\xA0-vu", {{EXT_OLDER,
                                        "\xE2\x82\xAC"
                                        "ext.so"}});
  ASSERT_EQ(LoadFolder(nullptr), kOk);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], (folder / "\xE2\x82\xAC"
                                   "ext.so")
                             .string());
  EXPECT_STREQ(GetNativeRecordByIndex(ctx, 0)->name,
               "@\xE2\x82\xAC"
               "ext");
}

TEST_F(ExtensionsTest, RefusalsLeaveNothingBehind) {
  // More functions than the wrapper table holds: nothing written, unloaded.
  EXPECT_EQ(LoadFile(EXT_BULKY), kInitError);
  EXPECT_EQ(dlopen(EXT_BULKY, RTLD_NOW | RTLD_NOLOAD), nullptr);
  EXPECT_TRUE(reported.empty());
  ASSERT_EQ(LoadFile(EXT_OLDER), kOk);
  EXPECT_STREQ(GetNativeRecordByIndex(ctx, 0)->name, "@ExtOlder");
  EXPECT_EQ(Command("probea(1)"), kUndefFunOrVar);

  // A path longer than the buffer is refused, never cut.
  const std::string longPath = "/" + std::string(600, 'x') + ".so";
  EXPECT_EQ(LoadFile(longPath.c_str()), kInitError);

  // Once code has run, natives keep their numbers: nothing more loads.
  ASSERT_EQ(Command("x = 1;"), kOk);
  EXPECT_EQ(LoadFile(EXT_CURRENT), kInitError);
  EXPECT_EQ(Command("twice(1)"), kUndefFunOrVar);
}

TEST_F(ExtensionsTest, TheTableOfCurrentLibrariesNeverOverflows) {
  std::vector<std::pair<std::string, std::string>> copies;
  for (int k = 0; k < 66; ++k) copies.emplace_back(EXT_CURRENT, "c" + std::to_string(100 + k) + ".so");
  MakeFolder("rvo-many", copies);
  // The walk stops when the table is full; a file loaded alone then gives 600.
  ASSERT_EQ(LoadFolder(nullptr), kOk);
  EXPECT_GT(reported.size(), 0u);
  EXPECT_LT(reported.size(), 66u);
  const std::string last = (folder / "c165.so").string();
  EXPECT_EQ(LoadFile(last.c_str()), kInitError);
  EXPECT_EQ(Output("disp(twice(2))"), "         4\n");
}

TEST_F(ExtensionsTest, ResultsOfOlderFunctions) {
  ASSERT_EQ(LoadFile(EXT_OLDER), kOk);
  EXPECT_EQ(Output("a = three(); disp(a)"), "         1\n");
  EXPECT_EQ(Output("[a, b] = three(); disp([a b])"), "         1         2\n");
  EXPECT_EQ(Command("x = nothing();"), kTooManyArgout);
  EXPECT_EQ(Command("silent()"), kUnknownError);
  const StatusCode refused = Command("refuse()");
  EXPECT_LT(refused, 0) << "a user error's code is its identifier's symbol";
  EXPECT_EQ(Output("try\n refuse();\ncatch\n disp(lasterr);\nend"), "the extension refused\n");
  // The engine stays usable after each.
  EXPECT_EQ(Output("disp(three())"), "         1\n");
}

bool gBreak = false;
bool PollUser(void*) { return gBreak; }

TEST_F(ExtensionsTest, CallbackErrors) {
  ASSERT_EQ(LoadFile(EXT_OLDER), kOk);
  SetBreakPollCallback(ctx, PollUser, nullptr);
  struct Case {
    const char* text;
    StatusCode want;
  };
  const Case kCases[] = {
      {"probe(1)", kTooFewArgin},  // an input past nargin
      {"probe(3)", kIllegal},      // a push while a string output is open
      {"probe(4)", kBadSize},      // two open dimensions
      {"probe(6, {1, 2})", kIndexOutOfRange},
      {"probe(7, struct('a', 1))", kUndefField},
      {"options(3)", kUnknownOpt},
      {"probe(9)", kDataStackFull},  // an output reaching what ExtAllocScratch handed out
      {"probe(11)", kTooFewArgin},
  };
  for (const Case& c : kCases) EXPECT_EQ(Command(c.text), c.want) << c.text;
  gBreak = true;
  EXPECT_EQ(Command("probe(8)"), kHalted);
  gBreak = false;
  EXPECT_EQ(Output("disp(probe(2, {1}))"), "        43\n");
  // One open dimension: that many fit (and one more does not).
  ASSERT_EQ(Command("s = probe(5);"), kOk);
  EXPECT_EQ(Output("disp(numel(s) > 100)"), "true\n");
  EXPECT_EQ(Output("disp(probe(10))"), "         1\n") << "the scratch area shrank under an output";
}

TEST_F(ExtensionsTest, ScalarsAndOptionUpdates) {
  ASSERT_EQ(LoadFile(EXT_OLDER), kOk);
  ASSERT_EQ(Command("[r, i] = scalar(int64(3000000000) * 1000 + 7);"), kOk);
  EXPECT_EQ(BaseScalar("r"), 3000000000007.0);
  ASSERT_EQ(Command("[r, i] = scalar(3 - 4i);"), kOk);
  EXPECT_EQ(BaseScalar("r"), 3);
  EXPECT_EQ(BaseScalar("i"), -4);
  EXPECT_EQ(Output("s = options(1); disp([s.a s.b])"), "         1         5\n");
  // A replaced field keeps its place.
  EXPECT_EQ(Output("f = fieldnames(s); disp([f{1} f{2}])"), "ab\n");
  // Odd: the structure pushed first is updated, a new field going last.
  EXPECT_EQ(Output("s = options(2); f = fieldnames(s); disp([f{1} f{2}]); disp([s.b s.a])"),
            "ba\n         7         9\n");
}

}  // namespace
