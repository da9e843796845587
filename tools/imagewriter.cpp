// The test-support image writer: a copy of the block, its code positions
// counted from a table of exactly the entries in use (the form every loader
// agrees on), written out header first, then the six sections.
#include "tools/imagewriter.h"

#include <cstring>

#include "engine/context.h"
#include "engine/threads.h"

namespace {

void Put32(std::vector<uint8_t>* out, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) (*out)[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

void Append(std::vector<uint8_t>* out, const void* from, int64_t bytes) {
  const auto* p = static_cast<const uint8_t*>(from);
  out->insert(out->end(), p, p + bytes);
}

}  // namespace

void SaveEngineState(EngineContext* ctx, std::vector<uint8_t>* image) {
  // The copy ends with the code area; its address fields are rebuilt for it.
  const auto bytes = static_cast<size_t>(reinterpret_cast<const uint8_t*>(ctx->codeBase + ctx->codeSize) -
                                         reinterpret_cast<const uint8_t*>(ctx));
  std::vector<uint64_t> block((bytes + 7) / 8);
  MakeContextPointersRelative(ctx);
  std::memcpy(block.data(), ctx, bytes);
  RelocateEngineContext(ctx, 0, 0);
  auto* c = reinterpret_cast<EngineContext*>(block.data());
  RelocateEngineContext(c, 0, 0);
  if (c->currentThread != 0) SwitchInterpreterThread(c, 0);

  const int32_t entries = c->entriesInUse;
  ShiftCodeAreaPositions(c, kEntryWords * (entries - c->entryCapacity));
  const int32_t table = kEntryWords * c->entryCapacity;
  const int32_t codeWords = c->codeTop - table, symbols = -c->symbolBytes, heapCells = HeapCellsInUse(c);

  const size_t at = image->size();
  image->resize(at + kStateHeaderBytes, 0);
  const uint32_t fields[] = {static_cast<uint32_t>(c->descLength),
                             static_cast<uint32_t>(c->dataTop),
                             static_cast<uint32_t>(heapCells),
                             static_cast<uint32_t>(entries),
                             static_cast<uint32_t>(codeWords),
                             static_cast<uint32_t>(symbols),
                             static_cast<uint32_t>(c->frameIndex),
                             c->pc.space,
                             c->pc.safe,
                             static_cast<uint32_t>(c->pc.offset)};
  for (size_t k = 0; k < std::size(fields); ++k) Put32(image, at + 4 * k, fields[k]);
  std::memcpy(image->data() + at + 40, &c->mainThread, sizeof(ThreadRecord));
  const int32_t threads[] = {0,
                             c->threadListHead,
                             c->nextThreadId,
                             c->semaphoreTable,
                             c->semaphoreCapacity,
                             c->lastSemaphoreId,
                             c->display.digits};
  for (size_t k = 0; k < std::size(threads); ++k) Put32(image, at + 200 + 4 * k, static_cast<uint32_t>(threads[k]));
  (*image)[at + 228] = c->display.format;
  (*image)[at + 229] = c->display.imagUnit;
  (*image)[at + 230] = c->display.loose;
  Put32(image, at + 232, static_cast<uint32_t>(c->display.hostWords[0]));
  (*image)[at + 236] = c->display.hostWords[1] == 0 ? 1 : 0;

  Append(image, c->descBase, 4 * int64_t{c->descLength});
  Append(image, c->dataBase, 8 * int64_t{c->dataTop});
  Append(image, c->heapBase, 8 * int64_t{heapCells});
  Append(image, c->codeBase, 16 * int64_t{entries});
  Append(image, c->codeBase + table, 2 * int64_t{codeWords});
  Append(image, reinterpret_cast<const uint8_t*>(c->codeBase + c->codeSize) - symbols, symbols);
}
