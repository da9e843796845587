// A runtime whose block the host can grow, and an application built through
// the runtime's own API, for the image and growth tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "corelib/corelib.h"
#include "runtime/runtime.h"
#include "tools/appimagewriter.h"
#include "tools/codeitems.h"

// The host's side of growth: the block reallocated to 3/2 of the size the
// runtime names, at most to its maximum, refused there.
struct GrowingRuntime {
  std::vector<uint64_t> memory;
  int64_t maximum;
  int grows = 0;
  RuntimeBlock* block = nullptr;

  explicit GrowingRuntime(int64_t bytes, int64_t maximumBytes = int64_t{64} << 20)
      : memory(static_cast<size_t>(bytes / 8)), maximum(maximumBytes) {
    EXPECT_EQ(CreateRuntime(&block, memory.data(), bytes, 0, 1), kOk);
    // Commands need the core library's operators, as in the shell.
    EXPECT_EQ(InstallCoreLibrary(RuntimeEngine(block), GetCoreLibraryTable()), kOk);
    SetMemoryGrowthCallback(block, &Grow, this);
  }
  GrowingRuntime(const GrowingRuntime&) = delete;
  GrowingRuntime& operator=(const GrowingRuntime&) = delete;

  static bool Grow(RuntimeBlock** block, int64_t* size, void* data) {
    auto* host = static_cast<GrowingRuntime*>(data);
    const int64_t have = 8 * static_cast<int64_t>(host->memory.size());
    if (have >= host->maximum) return false;
    const int64_t want = std::min(host->maximum, *size * 3 / 2);
    // A fresh buffer, so that the block really moves.
    std::vector<uint64_t> bigger(static_cast<size_t>((std::max(want, have) + 7) / 8));
    std::memcpy(bigger.data(), host->memory.data(), static_cast<size_t>(have));
    host->memory.swap(bigger);
    *block = reinterpret_cast<RuntimeBlock*>(host->memory.data());
    *size = want;
    ++host->grows;
    return true;
  }
  EngineContext* ctx() { return RuntimeEngine(block); }
};

// Item positions of the demonstration application, from instance 0's head.
struct DemoLayout {
  int32_t figure = 0;
  int32_t draw = 0;
  int32_t drag = 0;
  int32_t second = 0;  // the second instance's id
};

inline StatusCode RunCommand(EngineContext* ctx, const std::string& text) {
  const StatusCode st = EvaluateCommandLine(ctx, text.data(), static_cast<int32_t>(text.size()), true);
  return st == kSuspended ? RunInterpreter(ctx, 0) : st;
}

// One figure with a curve and a draggable point: init, draw and mousedrag
// handlers in library 0, the variables px and py; a second instance with an
// idle handler; a display list, texts and engine variables.
inline DemoLayout BuildDemoApplication(RuntimeBlock* b) {
  constexpr int32_t kPx = 200, kPy = 201, kInit = 300, kDraw = 301, kDrag = 302, kIdle = 303;
  DemoLayout d;
  EXPECT_EQ(CreateInstance(b, &d.second), kOk);
  NameTable* names = RuntimeNameTable(b);
  const std::pair<int32_t, const char*> kNames[] = {{kPx, "px"},     {kPy, "py"},          {kInit, "init"},
                                                    {kDraw, "draw"}, {kDrag, "mousedrag"}, {kIdle, "idle"}};
  for (const auto& [id, name] : kNames) EXPECT_EQ(AddName(names, id, name, 0), kOk);

  CodeItemBuilder code;
  code.Head(0, 0, "demo");
  code.Text(kItemTitle, "Curve and point");
  code.Handler(kItemInit, {kInit, {}, {kPx, kPy}});
  d.figure = code.FromHead(code.Text(kItemFigure, "Curve"));
  d.draw = code.FromHead(code.Handler(kItemDraw, {kDraw, {kPx, kPy}, {}})) + 2;
  d.drag = code.FromHead(code.MouseHandler(27, 1, {kDrag, {2, kPx, kPy}, {kPx, kPy}})) + 3;
  code.Head(d.second, 0, "second");
  code.Handler(kItemIdle, {kIdle, {}, {}});
  const std::vector<int32_t>& w = code.Words();
  std::memcpy(RuntimeCodeWords(b), w.data(), w.size() * 4);
  b->codeWordsUsed = static_cast<int32_t>(w.size());

  for (int32_t key : {0, d.second}) EXPECT_EQ(ResetVariableSetHistory(RuntimeVariableStore(b), key), kOk);
  EXPECT_EQ(SetInstanceText(b, 0, 't', "Curve and point", 15), kOk);
  EXPECT_EQ(SetInstanceText(b, d.second, 'v', "v2", 2), kOk);
  double* store = RuntimeBlockStore(b);
  double* payload = nullptr;
  int32_t capacity = 0;
  FindLargestFreeBlock(store, &payload, &capacity, true, nullptr);
  EXPECT_GE(capacity, 40);
  for (int k = 0; k < 40; ++k) payload[k] = 0.25 * k;
  EXPECT_TRUE(CommitBlockAt(store, 7, payload, 40));

  InstanceRecord* r = InstanceRecordAt(b, 0);
  r->rows = 1;
  r->columns = 2;
  r->subplots[0].figureShown = d.figure;
  r->subplots[0].handlerSlots[kSlotDraw] = d.draw;
  r->subplots[0].handlerSlots[kSlotMouseDrag] = d.drag;
  // What the restore writes into every record.
  for (int32_t i = 0; i < b->instanceCount; ++i) {
    InstanceRecord* x = InstanceRecordAt(b, i);
    x->idleState = x->id == d.second ? 2 : 0;
    x->idleMode = 0;
    x->nextIdleTime = x->lastIdleTime = -1.0;
  }
  b->savedCurrentInstance = d.second;
  b->defaultSandbox = 1;
  b->mouseMode = 3;
  b->defaultStyles[1] = PlotStyle{512, 0x10, 0x20, 0x30, 0};
  b->highlight = 0;
  b->outlinesShown = 1;
  EXPECT_EQ(RunCommand(RuntimeEngine(b), "px = 0.5; py = [1 2 3]; s = 'point';"), kOk);
  return d;
}

// Restores chunks into a runtime, the position callback optional.
inline StatusCode Restore(RuntimeBlock** block, const std::vector<std::vector<uint8_t>>& chunks, bool seek = true,
                          ExtensionNameCallback extension = nullptr, void* data = nullptr) {
  ImageChunks image{chunks, 0};
  return RestoreApplicationImage(block, &ReadImageChunk, seek ? &SeekImageChunk : nullptr, &image, extension, data);
}
