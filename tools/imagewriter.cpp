// The test-support image writer: a copy of the block, its code positions
// counted from a table of exactly the entries in use (the form every loader
// agrees on), written out header first, then the six sections.
#include "tools/imagewriter.h"

#include <cstring>

#include "engine/relocate.h"

namespace {

void Put32(uint8_t* out, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) out[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

void Section(StateChunkSink sink, void* data, const void* from, int64_t bytes) {
  if (bytes > 0) sink(from, bytes, data);
}

void AppendChunk(const void* bytes, int64_t count, void* data) {
  auto* out = static_cast<std::vector<uint8_t>*>(data);
  const auto* p = static_cast<const uint8_t*>(bytes);
  out->insert(out->end(), p, p + count);
}

}  // namespace

void SaveEngineState(EngineContext* ctx, StateChunkSink sink, void* data) {
  // The copy ends with the code area; its address fields are rebuilt for it.
  EngineStateView v;
  ViewEngineState(ctx, &v);
  std::vector<uint64_t> block((v.bytesInUse + 7) / 8);
  MakeContextPointersRelative(ctx);
  std::memcpy(block.data(), ctx, v.bytesInUse);
  RelocateEngineContext(ctx, 0, 0);
  auto* c = reinterpret_cast<EngineContext*>(block.data());
  RelocateEngineContext(c, 0, 0);
  SwitchToMainThread(c);
  ViewEngineState(c, &v);
  ShiftCodeAreaPositions(c, kFunctionEntryWords * (v.entriesInUse - v.entryCapacity));
  ViewEngineState(c, &v);

  uint8_t image[kStateHeaderBytes] = {};
  const uint32_t fields[] = {static_cast<uint32_t>(v.descLength),
                             static_cast<uint32_t>(v.dataTop),
                             static_cast<uint32_t>(v.heapCellsInUse),
                             static_cast<uint32_t>(v.entriesInUse),
                             static_cast<uint32_t>(v.codeWords),
                             static_cast<uint32_t>(v.symbolBytes),
                             static_cast<uint32_t>(v.frameIndex),
                             v.pcSpace,
                             v.pcSafe,
                             static_cast<uint32_t>(v.pcOffset)};
  for (size_t k = 0; k < std::size(fields); ++k) Put32(image, 4 * k, fields[k]);
  std::memcpy(image + kHeaderMainThread, v.mainThread, kThreadRecordBytes);
  const size_t t = kHeaderThreadFields;
  const int32_t threads[] = {
      0, v.threadListHead, v.nextThreadId, v.semaphoreTable, v.semaphoreCapacity, v.lastSemaphoreId, v.digits};
  for (size_t k = 0; k < std::size(threads); ++k) Put32(image, t + 4 * k, static_cast<uint32_t>(threads[k]));
  image[t + 28] = v.format;
  image[t + 29] = v.imagUnit;
  image[t + 30] = v.loose;
  Put32(image, t + 32, static_cast<uint32_t>(v.hostWords[0]));
  image[t + 36] = v.hostWords[1] == 0 ? 1 : 0;

  sink(image, kStateHeaderBytes, data);
  Section(sink, data, v.descriptors, 4 * int64_t{v.descLength});
  Section(sink, data, v.data, 8 * int64_t{v.dataTop});
  Section(sink, data, v.heap, 8 * int64_t{v.heapCellsInUse});
  Section(sink, data, v.entries, 2 * kFunctionEntryWords * int64_t{v.entriesInUse});
  Section(sink, data, v.code, 2 * int64_t{v.codeWords});
  Section(sink, data, v.symbols, v.symbolBytes);
}

void SaveEngineState(EngineContext* ctx, std::vector<uint8_t>* image) { SaveEngineState(ctx, &AppendChunk, image); }
