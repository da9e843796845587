// The test-support application image writer: the restore's inverse, chunk by
// chunk, with the header words at their own offsets so that a change of the
// reader's layout shows as a failing round trip.
#include "tools/appimagewriter.h"

#include <algorithm>
#include <cstring>

namespace {

void Put32(uint8_t* out, int64_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) out[at + k] = static_cast<uint8_t>(v >> (8 * k));
}
int32_t Get32(const uint8_t* in, int64_t at) {
  int32_t v = 0;
  std::memcpy(&v, in + at, 4);
  return v;
}

// The store's used blocks with a free double behind them: the smallest store
// the restore can widen again.
std::vector<double> ShrunkStore(RuntimeBlock* block) {
  const int32_t m = BlockStoreDoubles(block, block->instanceCount);
  std::vector<double> store(RuntimeBlockStore(block), RuntimeBlockStore(block) + m);
  const int32_t n = ReadBlockStoreHeader(store.data()).areaLength;
  const auto used = static_cast<int32_t>(CompactBlockStore(store.data()) - (store.data() + 3));
  const int32_t area = used < n ? used + 1 : n;
  (void)ResizeBlockStore(store.data(), area + 4);
  store.resize(static_cast<size_t>(area) + 4);
  // The doubles behind the area are the store's slack, never written by it.
  std::fill(store.begin() + area + 1, store.end(), 0.0);
  return store;
}

// The variable store's header and used set words, then its first heap cell:
// the set area shrunk to what its sets use, the heap start moved to match.
std::vector<uint8_t> SetAreaChunk(const uint8_t* vars) {
  int64_t used = 0;
  for (int32_t i = 0; i < Get32(vars, 12); ++i) used += Get32(vars, 4 * (7 + used));
  const int64_t heapStart = (4 * (7 + used) + 7) / 8;
  std::vector<uint8_t> chunk(static_cast<size_t>(8 * heapStart + 8), 0);
  std::memcpy(chunk.data(), vars, static_cast<size_t>(4 * (7 + used)));
  Put32(chunk.data(), 8, static_cast<uint32_t>(2 * heapStart - 7));
  Put32(chunk.data(), 20, static_cast<uint32_t>(heapStart));
  std::memcpy(chunk.data() + 8 * heapStart, vars + 8 * int64_t{Get32(vars, 20)}, 8);
  return chunk;
}

void AppendChunk(const void* bytes, int64_t count, void* data) {
  auto* chunks = static_cast<std::vector<std::vector<uint8_t>>*>(data);
  const auto* p = static_cast<const uint8_t*>(bytes);
  chunks->emplace_back(p, p + count);
}

}  // namespace

void WriteApplicationImage(RuntimeBlock* block, const std::string& extensions, StateChunkSink sink, void* data) {
  auto put = [&](const void* bytes, int64_t count) {
    if (count > 0) sink(bytes, count, data);
  };
  const std::vector<double> store = ShrunkStore(block);
  const auto* names = reinterpret_cast<const uint8_t*>(RuntimeNameTable(block));
  const auto* vars = reinterpret_cast<const uint8_t*>(RuntimeVariableStore(block));
  const int64_t heapStart = Get32(vars, 20);
  const std::vector<uint8_t> setArea = SetAreaChunk(vars);
  const auto setAreaBytes = static_cast<int64_t>(setArea.size());
  const int64_t heapCells = Get32(vars, 16);
  const int64_t nameBytes = 8 + 32 * int64_t{Get32(names, 4)};

  uint8_t h[68] = {};
  Put32(h, 0, static_cast<uint32_t>(8 * store.size()));
  Put32(h, 4, static_cast<uint32_t>(block->instanceCount));
  Put32(h, 8, static_cast<uint32_t>(block->codeWordsUsed));
  Put32(h, 12, static_cast<uint32_t>(nameBytes));
  Put32(h, 20, static_cast<uint32_t>(setAreaBytes));
  Put32(h, 24, static_cast<uint32_t>(heapCells));
  Put32(h, 32, static_cast<uint32_t>(block->savedCurrentInstance));
  Put32(h, 36, static_cast<uint32_t>(block->nextInstanceId));
  h[40] = block->defaultSandbox;
  Put32(h, 44, static_cast<uint32_t>(block->mouseMode));
  std::memcpy(h + 48, &block->defaultStyles[0], 8);
  std::memcpy(h + 56, &block->defaultStyles[1], 8);
  h[64] = block->highlight;
  h[65] = block->outlinesShown;
  sink(h, sizeof h, data);
  uint8_t length[4];
  Put32(length, 0, static_cast<uint32_t>(extensions.size()));
  sink(length, 4, data);
  put(extensions.data(), static_cast<int64_t>(extensions.size()));

  SaveEngineState(RuntimeEngine(block), sink, data);
  put(store.data(), 8 * static_cast<int64_t>(store.size()));
  // Record 0 sits at the region's end: the highest index comes first.
  const int64_t recordBytes = int64_t{kInstanceRecordBytes} * block->instanceCount;
  put(RuntimeRegion(block, 1) + block->regionSize[1] - recordBytes, recordBytes);
  put(RuntimeCodeWords(block), 4 * int64_t{block->codeWordsUsed});
  put(names, nameBytes);
  put(setArea.data(), setAreaBytes);
  put(vars + 8 * heapStart, 8 * heapCells);
}

std::vector<std::vector<uint8_t>> WriteApplicationImageChunks(RuntimeBlock* block, const std::string& extensions) {
  std::vector<std::vector<uint8_t>> chunks;
  WriteApplicationImage(block, extensions, &AppendChunk, &chunks);
  return chunks;
}

bool ReadImageChunk(void* buffer, int32_t bytes, void* data) {
  auto* image = static_cast<ImageChunks*>(data);
  if (image->next >= image->chunks.size()) return false;
  const std::vector<uint8_t>& chunk = image->chunks[image->next];
  if (bytes < 0 || chunk.size() != static_cast<size_t>(bytes)) return false;
  ++image->next;
  if (bytes > 0) std::memcpy(buffer, chunk.data(), chunk.size());
  return true;
}

void SeekImageChunk(int32_t flag, int64_t* position, void* data) {
  auto* image = static_cast<ImageChunks*>(data);
  if (flag == 0)
    *position = static_cast<int64_t>(image->next);
  else
    image->next = static_cast<size_t>(*position);
}
