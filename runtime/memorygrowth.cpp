// Growing the runtime block: the host reallocates it, the region that ran
// short takes the whole growth, and every region's contents move to their new
// places, the highest first, so nothing is overwritten before it has moved.
#include <cstdio>
#include <cstring>

#include "runtime/runtime.h"

namespace {

constexpr StatusCode kEngineRoomCodes[] = {1, 2, 3, 4, 5, 6, 180, 198};
constexpr StatusCode kRuntimeRoomCodes[] = {10000, 10001, 10003, 10006, 10008, 10009};

// What the host is told the block holds: the regions and the code words in use.
int64_t RuntimeSizeForHost(const RuntimeBlock* block) {
  int64_t size = block->codeWordsUsed;
  for (int32_t s : block->regionSize) size += s;
  return size;
}

// The region that takes the growth; -1: all regions anew by the creation shares.
int GrowingRegion(StatusCode status) {
  if (status < 10000) return 0;
  if (status == 10001) return 1;
  if (status == 10006) return 2;
  if (status == 10009) return 4;
  return -1;
}

bool NewSizes(const RuntimeBlock* block, int64_t newSize, StatusCode status, int64_t* sizes) {
  if (newSize <= RuntimeSizeForHost(block)) return false;
  // The header keeps its reserve in front of the regions: counting less for
  // it would place the last region's end past the block.
  const int64_t t = (newSize - kRuntimeHeaderBytes) & ~int64_t{2047};
  if (t <= 0 || t > INT32_MAX) return false;
  const int region = GrowingRegion(status);
  if (region < 0) {
    sizes[0] = 3 * (t >> 3);
    sizes[1] = 3 * (t >> 3);
    sizes[2] = t >> 5;
    sizes[3] = t >> 5;
    sizes[4] = t - sizes[0] - sizes[1] - sizes[2] - sizes[3];
  } else {
    int64_t others = 0;
    for (int i = 0; i < 5; ++i) {
      sizes[i] = block->regionSize[i];
      if (i != region) others += sizes[i];
    }
    sizes[region] = t - others;
  }
  for (int i = 0; i < 5; ++i)
    if (sizes[i] < block->regionSize[i]) return false;
  return true;
}

void WriteExpansionMessage(EngineContext* ctx, int64_t size) {
  char text[80];
  const double bytes = static_cast<double>(size);
  const int n = size < 1048576 ? std::snprintf(text, sizeof text, "KV memory expanded to %.0f KB", bytes / 1024.0)
                               : std::snprintf(text, sizeof text, "KV memory expanded to %.1f MB", bytes / 1048576.0);
  if (n <= 0) return;
  (void)WriteToDescriptor(ctx, 2, text, n < static_cast<int>(sizeof text) ? n : static_cast<int>(sizeof text) - 1);
  (void)WriteNewlineToDescriptor(ctx, 2);
}

}  // namespace

bool IsGrowAndRetryStatus(StatusCode status) {
  for (StatusCode c : kEngineRoomCodes)
    if (status == c) return true;
  for (StatusCode c : kRuntimeRoomCodes)
    if (status == c) return true;
  return false;
}

bool RepartitionRuntime(RuntimeBlock* block, int64_t newSize, StatusCode status) {
  int64_t sizes[5];
  const bool grows = newSize > 0 && NewSizes(block, newSize, status, sizes);
  EngineContext* ctx = RuntimeEngine(block);
  block->callContext.block = block;
  if (!grows) {
    RelocateEngineContext(ctx, 0, status);
    SetNativeDefaultUserData(ctx, &block->callContext);
    return false;
  }

  uint8_t* oldStart[5];
  uint8_t* newStart[5];
  int64_t at = kRuntimeHeaderBytes;
  for (int i = 0; i < 5; ++i) {
    oldStart[i] = RuntimeRegion(block, i);
    newStart[i] = reinterpret_cast<uint8_t*>(block) + at;
    at += sizes[i];
  }
  // Every new start is at or above the old one: the highest region moves first.
  std::memmove(newStart[4], oldStart[4], static_cast<size_t>(block->regionSize[4]));
  (void)ResizeVariableStore(reinterpret_cast<VariableStore*>(newStart[4]), sizes[4]);
  std::memmove(newStart[3], oldStart[3], static_cast<size_t>(block->regionSize[3]));
  (void)SetNameTableSize(reinterpret_cast<NameTable*>(newStart[3]), sizes[3]);
  std::memmove(newStart[2], oldStart[2], 4 * static_cast<size_t>(block->codeWordsUsed));
  MoveInstanceRecords(newStart[1] + sizes[1], oldStart[1] + block->regionSize[1], block->instanceCount);
  const auto doubles = static_cast<int32_t>((sizes[1] - int64_t{kInstanceRecordBytes} * block->instanceCount) / 8);
  (void)MoveBlockStore(reinterpret_cast<double*>(oldStart[1]), reinterpret_cast<double*>(newStart[1]), doubles);

  const bool engineGrows = sizes[0] > block->regionSize[0];
  for (int i = 0; i < 5; ++i) block->regionSize[i] = static_cast<int32_t>(sizes[i]);
  // An engine that keeps its size keeps its layout too.
  RelocateEngineContext(ctx, engineGrows ? sizes[0] : 0, status);
  SetNativeDefaultUserData(ctx, &block->callContext);
  return true;
}

bool ExpandRuntimeMemory(RuntimeBlock** pp, StatusCode status) {
  RuntimeBlock* block = *pp;
  if (block->memoryGrowth == nullptr) return false;
  int64_t size = RuntimeSizeForHost(block);
  PrepareRuntimeForMove(block);
  const MemoryGrowthCallback grow = block->memoryGrowth;
  void* data = block->memoryGrowthData;
  const bool grew = grow(&block, &size, data);
  *pp = block;
  const bool ok = RepartitionRuntime(block, grew ? size : 0, status);
  if (ok) WriteExpansionMessage(RuntimeEngine(block), size);
  return ok;
}
