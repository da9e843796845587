// Test support: writes a live runtime block as an application image, in
// exactly the chunks RestoreApplicationImage reads, and serves such chunks
// back from memory, so tests and fuzz seeds can carry a whole application
// into another block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "tools/imagewriter.h"

// Hands every chunk to sink in the restore's order; chunks of no bytes are
// not handed out (the restore does not read them). extensions: the
// ';'-separated list of extension names.
void WriteApplicationImage(RuntimeBlock* block, const std::string& extensions, StateChunkSink sink, void* data);

// An image kept chunk by chunk, read back in order.
struct ImageChunks {
  std::vector<std::vector<uint8_t>> chunks;
  size_t next = 0;
};
std::vector<std::vector<uint8_t>> WriteApplicationImageChunks(RuntimeBlock* block, const std::string& extensions = "");
// The chunk reader over ImageChunks: fails a read whose size differs from
// the next chunk's, and at the end.
bool ReadImageChunk(void* buffer, int32_t bytes, void* data);
// The position callback over ImageChunks: the position is the chunk index.
void SeekImageChunk(int32_t flag, int64_t* position, void* data);
