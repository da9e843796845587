// Library texts read through an in-memory "+readlib" hook: include expansion,
// block scanning, use lists, loading every used library, function sources.
#include "engine/libraries.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "engine/functionstore.h"
#include "tests/engine/stack_fixture.h"

namespace {

struct Sources {
  std::map<std::string, std::string> texts;  // by "name.suffix"
  std::vector<std::string> untrusted;        // names delivered as untrusted
};

[[nodiscard]] StatusCode MemoryHook(EngineContext*, const char* name, const char* suffix, const char*, char* buffer,
                                    int32_t size, int32_t* length, int32_t* firstLine, bool* untrusted,
                                    void* userData) {
  auto* s = static_cast<Sources*>(userData);
  const std::string key = std::string(name) + "." + (suffix ? suffix : "");
  const auto it = s->texts.find(key);
  if (it == s->texts.end()) return kNotMine;
  if (untrusted)
    for (const std::string& u : s->untrusted) *untrusted = *untrusted || u == name;
  if (firstLine) *firstLine = 1;
  if (buffer == nullptr) return kOk;
  if (static_cast<int32_t>(it->second.size()) > size) return kDataStackFull;
  std::memcpy(buffer, it->second.data(), it->second.size());
  *length = static_cast<int32_t>(it->second.size());
  return kOk;
}

class Libraries : public StackFixture {
 protected:
  void SetUp() override {
    StackFixture::SetUp();
    hooks[0] = {};
    hooks[0].handler = AsNativeHandler(MemoryHook);
    hooks[0].userData = &sources;
    std::strcpy(hooks[0].name, "+readlib");
    hooks[1] = {};
    ASSERT_EQ(InstallNativeLibrary(ctx, hooks, false), kOk);
    ASSERT_EQ(InstallNativeLibrary(ctx, kEngineMessageTables, false), kOk);
  }

  [[nodiscard]] StatusCode Read(const char* name, int depth, std::string* text) {
    char buffer[2048];
    int32_t length = 0;
    const StatusCode st = ReadSourceText(ctx, name, static_cast<int>(std::strlen(name)), ctx->librarySuffix, true,
                                         nullptr, depth, false, buffer, sizeof buffer, &length, nullptr, nullptr);
    if (st == kOk) text->assign(buffer, length);
    return st;
  }

  std::string CurrentError() { return CurrentErrorText(); }

  int32_t Library(const char* name) {
    SymbolId id = FindSymbol(ctx, name, static_cast<int>(std::strlen(name)));
    return id != 0 ? FindLibraryEntry(ctx, id) : -1;
  }

  // The used libraries of a use list, in slot order.
  std::vector<std::string> Used(int32_t library) {
    std::vector<std::string> out;
    const int32_t position = StoreEntry(ctx, library)->position;
    if (position <= 0) return out;
    const int16_t* list = ctx->codeBase + position;
    for (int k = 0; k < list[1] && list[list[0] + k] != -1; ++k) {
      const char* text = nullptr;
      int length = 0;
      GetFunctionNameByIndex(ctx, list[list[0] + k], &text, &length);
      out.emplace_back(text, length);
    }
    return out;
  }

  // Entry of a function of a library, or -1.
  int32_t FunctionIn(const char* name, int32_t library) {
    for (int32_t i = 0; i < ctx->entriesInUse; ++i) {
      const FunctionStoreEntry* e = StoreEntry(ctx, i);
      if (e->kind >= 0 || (static_cast<uint32_t>(e->name) & kLibraryIndexMask) != static_cast<uint32_t>(library))
        continue;
      if (SymbolLength(ctx, e->kind) == static_cast<int>(std::strlen(name)) &&
          std::memcmp(SymbolText(ctx, e->kind), name, std::strlen(name)) == 0)
        return i;
    }
    return -1;
  }

  Sources sources;
  NativeFunctionRecord hooks[2];
};

TEST_F(Libraries, ReadingAndIncludes) {
  sources.texts["plain.rvl"] = "function f";
  std::string text;
  ASSERT_EQ(Read("plain", 0, &text), kOk);
  EXPECT_EQ(text, "function f\n") << "a final line end is added";
  ASSERT_EQ(Read("plain", -1, &text), kOk);
  EXPECT_EQ(text, "function f") << "read as delivered";

  sources.texts["main.rvl"] = "a = 1\ninclude part % the rest\nincludeifexists nothere\nb = 2; include part\n";
  sources.texts["part.rvl"] = "x";
  ASSERT_EQ(Read("main", 4, &text), kOk);
  EXPECT_EQ(text, "a = 1\nx\nb = 2; x\n");

  // Strings and comments never hold an include statement.
  sources.texts["quoted.rvl"] = "s = 'a; include part' % ; include part\n";
  ASSERT_EQ(Read("quoted", 4, &text), kOk);
  EXPECT_EQ(text, sources.texts["quoted.rvl"]);

  sources.texts["missing.rvl"] = "include nothere\n";
  EXPECT_EQ(Read("missing", 4, &text), kLibNotFound);
  EXPECT_EQ(CurrentError(), "Library not found 'nothere'");

  sources.texts["bad.rvl"] = "include 3x\n";
  EXPECT_EQ(Read("bad", 4, &text), kIncludeSyntax);
  EXPECT_EQ(CurrentError(), "\"include\" not followed by a file name in 'bad'");
  sources.texts["trailing.rvl"] = "include part x\n";
  EXPECT_EQ(Read("trailing", 4, &text), kIncludeSyntax);

  // Five nested includes do not fit under depth 4.
  sources.texts["n1.rvl"] = "include n2";
  sources.texts["n2.rvl"] = "include n3";
  sources.texts["n3.rvl"] = "include n4";
  sources.texts["n4.rvl"] = "include n5";
  sources.texts["n5.rvl"] = "include n6";
  sources.texts["n6.rvl"] = "y";
  EXPECT_EQ(Read("n2", 4, &text), kOk);
  EXPECT_EQ(text, "y\n");
  EXPECT_EQ(Read("n1", 4, &text), kIncludeDepth);
  EXPECT_EQ(CurrentError(), "Too many nested \"include\" statements in 'n5'");

  EXPECT_EQ(Read("none", 4, &text), kLibNotFound);
  sources.texts["empty.rvl"] = "";
  EXPECT_EQ(Read("empty", 4, &text), kLibNotFound);
  EXPECT_GT(ctx->lastErrorRecord, 0) << "an empty text is reported as the last error";
}

TEST_F(Libraries, ScanningBlocks) {
  const std::string text =
      "use other\n"
      "function y = f(x)\n"
      "  y = x;\n"
      "private\n"
      "function [a, b] = g\n"
      "end\n"
      "public\n"
      "% a comment line\n"
      "function Cls::m\n"
      "define k\n";
  struct Block {
    std::string name, qualifier;
    bool isPrivate;
    int32_t line;
  };
  const std::vector<Block> want = {
      {"f", "", false, 2}, {"g", "", true, 5}, {"m", "Cls", false, 9}, {"k", "", false, 10}};
  std::vector<Block> got;
  int32_t position = -1, line = 1;
  bool isPrivate = false;
  while (true) {
    const char* name = nullptr;
    const char* qualifier = nullptr;
    int32_t nameLength = 0, qualifierLength = 0;
    const StatusCode st = ScanLibrarySource(ctx, text.data(), static_cast<int32_t>(text.size()), &position, &line,
                                            &name, &nameLength, &qualifier, &qualifierLength, &isPrivate, true, false);
    if (st == kEof) break;
    ASSERT_EQ(st, kOk);
    got.push_back(
        {std::string(name, nameLength), std::string(qualifier ? qualifier : "", qualifierLength), isPrivate, line});
  }
  ASSERT_EQ(got.size(), want.size());
  for (size_t k = 0; k < want.size(); ++k) {
    EXPECT_EQ(got[k].name, want[k].name);
    EXPECT_EQ(got[k].qualifier, want[k].qualifier) << want[k].name;
    EXPECT_EQ(got[k].isPrivate, want[k].isPrivate) << want[k].name;
    EXPECT_EQ(got[k].line, want[k].line) << want[k].name;
  }

  struct Case {
    const char* text;
    StatusCode want;
  };
  const Case kErrors[] = {
      {"x = 1\nfunction f\n", kExpectedFunHeader}, {"function (a) g\n", kBadFunHeader},
      {"function y =\n", kBadFunHeader},           {"define\n", kBadDefinition},
      {"include x\n", kIncludeNotPermitted},       {"\n\n", kEof},
  };
  for (const Case& c : kErrors) {
    int32_t p = -1, l = 1;
    bool priv = false;
    const char* name = nullptr;
    const char* qualifier = nullptr;
    int32_t nameLength = 0, qualifierLength = 0;
    EXPECT_EQ(ScanLibrarySource(ctx, c.text, static_cast<int32_t>(std::strlen(c.text)), &p, &l, &name, &nameLength,
                                &qualifier, &qualifierLength, &priv, true, false),
              c.want)
        << c.text;
  }
}

TEST_F(Libraries, UseListsKeepTheLastNamedLast) {
  int32_t main = 0;
  ASSERT_EQ(DeclareLibrary(ctx, "main", -1, true, &main), kOk);
  const char* text = "use a, b\nx = 1; use a\n";
  ASSERT_EQ(ProcessUseStatements(ctx, main, text, static_cast<int32_t>(std::strlen(text)), nullptr, 1, false, false),
            kOk);
  EXPECT_EQ(Used(main), (std::vector<std::string>{"b", "a"}));
  EXPECT_TRUE(IsLibraryInUseList(ctx, main, Library("a")));
  EXPECT_EQ(StoreEntry(ctx, Library("a"))->position, -1) << "named, not read";

  struct Case {
    const char* text;
    StatusCode want;
  };
  const Case kCases[] = {{"use a,\n", kBadLibName}, {"use 1x\n", kBadLibName}, {"use c d\n", kOk}};
  for (const Case& c : kCases)
    EXPECT_EQ(
        ProcessUseStatements(ctx, main, c.text, static_cast<int32_t>(std::strlen(c.text)), nullptr, 7, false, false),
        c.want)
        << c.text;
  EXPECT_EQ(Used(main), (std::vector<std::string>{"b", "a", "c"}));

  // useifexists skips a library no hook knows.
  sources.texts["here.rvl"] = "function h\n";
  const char* maybe = "useifexists nothere, here\n";
  ASSERT_EQ(ProcessUseStatements(ctx, main, maybe, static_cast<int32_t>(std::strlen(maybe)), nullptr, 1, false, false),
            kOk);
  EXPECT_EQ(Used(main), (std::vector<std::string>{"b", "a", "c", "here"}));
  EXPECT_EQ(Library("nothere"), -1);
}

TEST_F(Libraries, UseListsGrow) {
  int32_t main = 0;
  ASSERT_EQ(DeclareLibrary(ctx, "main", -1, true, &main), kOk);
  std::string text = "use";
  for (int k = 0; k < 20; ++k) text += (k ? ", l" : " l") + std::to_string(k);
  ASSERT_EQ(
      ProcessUseStatements(ctx, main, text.data(), static_cast<int32_t>(text.size()), "dir/file.rvl", 1, false, false),
      kOk);
  const std::vector<std::string> used = Used(main);
  ASSERT_EQ(used.size(), 20u);
  EXPECT_EQ(used[19], "l19");
  const int16_t* list = ctx->codeBase + StoreEntry(ctx, main)->position;
  EXPECT_EQ(list[1], 32) << "16 slots, then 16 more";
  EXPECT_STREQ(reinterpret_cast<const char*>(list + 2), "dir/");

  // Without room in the code area the list cannot grow.
  int32_t other = 0;
  ASSERT_EQ(DeclareLibrary(ctx, "other", -1, true, &other), kOk);
  ctx->codeTop = ctx->codeSize - (-ctx->symbolBytes) / 2 - 10;
  EXPECT_EQ(GrowUseList(ctx, other, nullptr), kCodeOverflow);
  EXPECT_EQ(StoreEntry(ctx, other)->position, 0);
}

TEST_F(Libraries, LoadingUsedLibraries) {
  sources.texts["a.rvl"] = "use b\nfunction fa\nfunction fa2\n";
  sources.texts["b.rvl"] = "function fb\n";
  sources.texts["web.rvl"] = "function w\n";
  sources.untrusted = {"web"};
  int32_t main = 0;
  ASSERT_EQ(DeclareLibrary(ctx, "main", -1, true, &main), kOk);
  const char* text = "use a, nosuch, web\n";
  EXPECT_EQ(LoadUsedLibraries(ctx, main, text, static_cast<int32_t>(std::strlen(text)), nullptr, 1, true, false),
            kLibNotFound)
      << "the missing library is reported after the others were loaded";
  const int32_t a = Library("a"), b = Library("b"), web = Library("web");
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_EQ(StoreEntry(ctx, Library("nosuch"))->position, 0) << "marked read, not asked again";
  for (auto [name, library] : {std::pair{"fa", a}, {"fa2", a}, {"fb", b}, {"w", web}}) {
    const int32_t f = FunctionIn(name, library);
    ASSERT_GE(f, 0) << name;
    EXPECT_EQ(StoreEntry(ctx, f)->position, 0) << name << " compiles on first use";
  }
  const uint32_t sandboxBit = kLibrarySandboxed;
  EXPECT_NE(static_cast<uint32_t>(StoreEntry(ctx, FunctionIn("w", web))->name) & sandboxBit, 0u)
      << "functions of an untrusted text are sandboxed";
  EXPECT_EQ(static_cast<uint32_t>(StoreEntry(ctx, FunctionIn("fa", a))->name) & sandboxBit, 0u);
  EXPECT_EQ(Used(a), (std::vector<std::string>{"b"}));
}

TEST_F(Libraries, FunctionSources) {
  sources.texts["lib.rvl"] = "% header\nfunction f\n  x = 1;\nfunction g\n  y = 2;\n";
  int32_t lib = 0;
  ASSERT_EQ(DeclareLibrary(ctx, "lib", -1, false, &lib), kOk);
  int32_t g = 0;
  ASSERT_EQ(DeclareFunction(ctx, "g", 1, nullptr, 0, lib, false, false, 0, &g), kOk);
  char buffer[256];
  int32_t length = 0, firstLine = 0;
  ASSERT_EQ(GetFunctionSource(ctx, g, buffer, sizeof buffer, &length, &firstLine), kOk);
  EXPECT_EQ(std::string(buffer, length), "function g\n  y = 2;\n");
  EXPECT_EQ(firstLine, 4);
  const char* name = nullptr;
  int nameLength = 0;
  ASSERT_EQ(GetFunctionLibraryName(ctx, g, &name, &nameLength), kOk);
  EXPECT_EQ(std::string(name, nameLength), "lib");

  int32_t h = 0;
  ASSERT_EQ(DeclareFunction(ctx, "h", 1, nullptr, 0, lib, false, false, 0, &h), kOk);
  EXPECT_EQ(GetFunctionSource(ctx, h, buffer, sizeof buffer, &length, &firstLine), kSrcNotFound);
  EXPECT_EQ(GetFunctionSource(ctx, 999, buffer, sizeof buffer, &length, &firstLine), kUndefFunOrVar);
  int32_t base = 0;
  ASSERT_EQ(DeclareFunction(ctx, "loose", 5, nullptr, 0, 0, false, false, 0, &base), kOk);
  EXPECT_EQ(GetFunctionLibraryName(ctx, base, &name, &nameLength), kSrcNotFound);
  EXPECT_EQ(GetFunctionSource(ctx, base, buffer, sizeof buffer, &length, &firstLine), kSrcNotFound)
      << "no \"+readfn\" hook";
}

}  // namespace
