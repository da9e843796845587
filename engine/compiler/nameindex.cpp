#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "engine/compiler/compiler.h"
#include "engine/function.h"

namespace {

// Below this many names a scan is as quick as hashing and needs no memory.
constexpr int32_t kIndexedFrom = 64;

bool SlotHoldsName(const char* slot, const char* name, int32_t length) {
  return std::memcmp(slot, name, length) == 0 && (length == kVariableNameBytes || slot[length] == 0);
}

int32_t ScanForName(const char* names, int32_t count, const char* name, int32_t length) {
  for (int32_t i = 0; i < count; ++i)
    if (SlotHoldsName(names + kVariableNameBytes * i, name, length)) return i;
  return -1;
}

uint32_t HashName(const char* name, int32_t length) {
  uint32_t h = 2166136261u;
  for (int32_t k = 0; k < length; ++k) h = (h ^ static_cast<unsigned char>(name[k])) * 16777619u;
  return h;
}

int32_t SlotNameLength(const char* slot) { return static_cast<int32_t>(strnlen(slot, kVariableNameBytes)); }

// An open-addressed index over the slots of one name table. A compile only
// appends names to its tables, so the index follows a table by hashing the
// slots added since it last looked; any other table, or a shorter one, is
// indexed afresh. Every compile starts from nothing: between compiles the
// tables are compacted and moved.
class NameIndex {
 public:
  void Forget() {
    table_ = nullptr;
    indexed_ = 0;
  }

  // -1 when the name is absent; -2 when no index can be had (no memory).
  int32_t Find(const char* names, int32_t count, const char* name, int32_t length) {
    if (names != table_ || count < indexed_) {
      table_ = names;
      indexed_ = 0;
      if (mask_ > 0) std::memset(buckets_.get(), 0xff, sizeof(int32_t) * (mask_ + 1));
    }
    if (!Reserve(count)) {
      Forget();
      return -2;
    }
    for (; indexed_ < count; ++indexed_) {
      const char* slot = names + kVariableNameBytes * indexed_;
      Insert(HashName(slot, SlotNameLength(slot)), indexed_);
    }
    for (uint32_t b = HashName(name, length) & mask_;; b = (b + 1) & mask_) {
      const int32_t i = buckets_[b];
      if (i < 0) return -1;
      if (SlotHoldsName(names + kVariableNameBytes * i, name, length)) return i;
    }
  }

 private:
  void Insert(uint32_t hash, int32_t index) {
    uint32_t b = hash & mask_;
    while (buckets_[b] >= 0) b = (b + 1) & mask_;
    buckets_[b] = index;
  }

  // Room for count names at most half full, rehashing what is indexed.
  bool Reserve(int32_t count) {
    if (mask_ > 0 && 2 * int64_t{count} <= int64_t{mask_} + 1) return true;
    uint32_t size = 256;
    while (size < 2 * static_cast<uint32_t>(count)) size *= 2;
    std::unique_ptr<int32_t[]> buckets(new (std::nothrow) int32_t[size]);
    if (!buckets) return false;
    buckets_ = std::move(buckets);
    mask_ = size - 1;
    std::memset(buckets_.get(), 0xff, sizeof(int32_t) * size);
    const int32_t rehash = indexed_;
    for (int32_t i = 0; i < rehash; ++i) {
      const char* slot = table_ + kVariableNameBytes * i;
      Insert(HashName(slot, SlotNameLength(slot)), i);
    }
    return true;
  }

  const char* table_ = nullptr;
  int32_t indexed_ = 0;
  uint32_t mask_ = 0;
  std::unique_ptr<int32_t[]> buckets_;
};

// Compiles on one OS thread never interleave, and a nested compile only
// costs the outer one a fresh index.
thread_local NameIndex tNameIndex;

}  // namespace

void ForgetVariableNameIndex() { tNameIndex.Forget(); }

int32_t FindVariableName(const char* names, int32_t count, const char* name, int32_t length) {
  if (names == nullptr || length <= 0 || length > kVariableNameBytes) return -1;
  if (count < kIndexedFrom) return ScanForName(names, count, name, length);
  const int32_t i = tNameIndex.Find(names, count, name, length);
  return i >= -1 ? i : ScanForName(names, count, name, length);
}
