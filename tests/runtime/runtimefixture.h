// A runtime created in memory of its own, for the runtime's tests, and the
// loading of built code words into its region 2.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "tools/codeitems.h"

struct TestRuntime {
  std::vector<double> memory;
  RuntimeBlock* block = nullptr;
  explicit TestRuntime(int64_t bytes = int64_t{1} << 20) : memory(static_cast<size_t>(bytes / 8)) {
    EXPECT_EQ(CreateRuntime(&block, memory.data(), bytes, 0, 1), kOk);
  }
  EngineContext* ctx() { return RuntimeEngine(block); }
  void LoadCode(const CodeItemBuilder& code) {
    const std::vector<int32_t>& w = code.Words();
    ASSERT_LE(w.size() * 4, static_cast<size_t>(block->regionSize[2]));
    std::memcpy(RuntimeCodeWords(block), w.data(), w.size() * 4);
    block->codeWordsUsed = static_cast<int32_t>(w.size());
  }
  // The top value as UTF-8, dropped.
  std::string PopText() {
    uint8_t* bytes = nullptr;
    int64_t n = 0;
    std::string s;
    if (EncodeCharArg(ctx(), 0, false, &bytes, &n) == kOk) s.assign(reinterpret_cast<char*>(bytes), n);
    EXPECT_EQ(DropArgsUnderResults(ctx(), 1, 0), kOk);
    return s;
  }
};
