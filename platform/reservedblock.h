// A block of memory that grows where it lies: the address space for its
// largest size is reserved at once and pages are made usable as it grows, so
// an engine that lives in it keeps its address through every growth.
#pragma once

#include <cstddef>

class ReservedBlock {
 public:
  ReservedBlock() = default;
  ~ReservedBlock();
  ReservedBlock(const ReservedBlock&) = delete;
  ReservedBlock& operator=(const ReservedBlock&) = delete;

  // Reserves limit bytes and makes the first bytes usable (zeroed); false
  // when the system refuses either.
  bool Reserve(size_t bytes, size_t limit);
  // Makes the block bytes long (at most the limit); false, with the block as
  // it was, when it cannot.
  bool GrowTo(size_t bytes);

  void* data() const { return base_; }
  size_t bytes() const { return bytes_; }
  size_t limit() const { return limit_; }

 private:
  void* base_ = nullptr;
  size_t bytes_ = 0;
  size_t limit_ = 0;
};

// The usable memory of the machine: 3/4 of its physical memory.
size_t ThreeQuartersOfPhysicalMemory();
