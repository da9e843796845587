// The display list being written: the instance's block of the display-list
// store, described by the header's current list while the draw handlers
// append to it.
#include "runtime/runtime.h"

namespace {

void DescribeList(RuntimeBlock* b, int32_t key, const double* payload, int32_t length, int32_t capacity) {
  double* store = RuntimeBlockStore(b);
  b->currentList[0] = payload != nullptr && capacity >= 0 ? key : -1;
  b->currentList[1] = payload != nullptr ? static_cast<int32_t>(payload - store) : 0;
  b->currentList[2] = capacity >= 0 ? capacity : 0;
  b->currentList[3] = length;
}

}  // namespace

void OpenDisplayList(RuntimeBlock* block, int32_t instance, bool fresh) {
  double* store = RuntimeBlockStore(block);
  double* payload = nullptr;
  int32_t length = 0;
  int32_t capacity = 0;
  if (fresh) {
    FreeBlock(store, instance);
    FindLargestFreeBlock(store, &payload, &capacity, true, nullptr);
  } else {
    OpenBlockForWriting(store, instance, &payload, &length, &capacity);
  }
  DescribeList(block, instance, payload, length, capacity);
  block->currentSubplot = -1;
}

void SetCurrentSubplot(RuntimeBlock* block, int32_t index) { block->currentSubplot = index; }

void CloseDisplayList(RuntimeBlock* block) {
  const int32_t key = block->currentList[0];
  if (key >= 0 && block->currentList[3] > 0) {
    double* store = RuntimeBlockStore(block);
    (void)CommitBlockAt(store, key, store + block->currentList[1], block->currentList[3]);
  }
  block->currentList[0] = -1;
  block->currentList[3] = 0;
}
