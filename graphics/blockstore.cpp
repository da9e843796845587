// The keyed block store: variable-length blocks found by a linear walk over
// their lengths, free blocks merged while scanning, compaction deferred until
// fragmentation matters, and the check of a store read from a saved image.
#include <cmath>
#include <cstring>

#include "graphics/graphics.h"
#include "graphics/littleendian.h"

namespace {

double* Area(double* store) { return store + 1; }
int32_t AreaLength(const double* store) { return ReadBlockStoreHeader(store).areaLength; }

void SetAreaLength(double* store, int32_t n) {
  BlockStoreHeader h = ReadBlockStoreHeader(store);
  h.areaLength = n;
  WriteBlockStoreHeader(store, h);
}

void SetCompacted(double* store, uint8_t flag) {
  BlockStoreHeader h = ReadBlockStoreHeader(store);
  h.compacted = flag;
  WriteBlockStoreHeader(store, h);
}

// Lengths and keys of a store in use were checked on restore or written here.
int32_t Length(const double* area, int32_t b) { return static_cast<int32_t>(area[b]); }
int32_t Size(const double* area, int32_t b) {
  int32_t len = Length(area, b);
  return len < 0 ? -len : len;
}

// Start of the used block with the key, or -1.
int32_t FindBlockStart(double* store, int32_t key) {
  const double* area = Area(store);
  int32_t n = AreaLength(store);
  for (int32_t b = 0; b < n; b += Size(area, b)) {
    if (area[b] > 0 && area[b + 1] == key) return b;
  }
  return -1;
}

// Slides the used blocks to the start; returns the index right after them.
int32_t Compact(double* store) {
  double* area = Area(store);
  int32_t n = AreaLength(store);
  int32_t w = 0;
  for (int32_t r = 0; r < n;) {
    int32_t len = Length(area, r);
    if (len > 0) {
      if (w != r) std::memmove(area + w, area + r, sizeof(double) * len);
      w += len;
      r += len;
    } else {
      r -= len;
    }
  }
  if (w < n) area[w] = -(n - w);
  SetCompacted(store, 1);
  return w;
}

}  // namespace

BlockStoreHeader ReadBlockStoreHeader(const double* store) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(store);
  BlockStoreHeader h{};
  h.areaLength = static_cast<int32_t>(LoadLe32(bytes));
  h.compacted = bytes[4];
  std::memcpy(h.reserved, bytes + 5, 3);
  return h;
}

void WriteBlockStoreHeader(double* store, const BlockStoreHeader& header) {
  uint8_t* bytes = reinterpret_cast<uint8_t*>(store);
  StoreLe32(bytes, static_cast<uint32_t>(header.areaLength));
  bytes[4] = header.compacted;
  std::memcpy(bytes + 5, header.reserved, 3);
}

void InitBlockStore(double* store, int32_t m) {
  int32_t n = m > 4 ? m - 4 : 0;
  WriteBlockStoreHeader(store, BlockStoreHeader{n, 1, {0, 0, 0}});
  if (n > 0) Area(store)[0] = -n;
}

StatusCode ResizeBlockStore(double* store, int32_t m) {
  int32_t n = AreaLength(store);
  int32_t target = m - 4;
  double* area = Area(store);
  if (target == n) return kOk;
  if (target > n) {
    // Left unmerged with a free block before it: the next scan merges them.
    area[n] = -(target - n);
  } else {
    int32_t used = Compact(store);
    if (used >= target) return kExhaustedRsrc;
    area[used] = -(target - used);
  }
  SetAreaLength(store, target);
  return kOk;
}

StatusCode MoveBlockStore(double* source, double* destination, int32_t m) {
  int32_t n = AreaLength(source);
  int32_t target = m - 4;
  if (target >= n) {
    if (source != destination) std::memmove(destination, source, sizeof(double) * (n + 1));
    return ResizeBlockStore(destination, m);
  }
  // Copying the whole area would run past the smaller destination: gather the
  // used blocks first and copy only them.
  int32_t used = Compact(source);
  if (used >= target) return kExhaustedRsrc;
  if (source != destination) std::memmove(destination, source, sizeof(double) * (used + 1));
  Area(destination)[used] = -(target - used);
  SetAreaLength(destination, target);
  return kOk;
}

double* CompactBlockStore(double* store) { return Area(store) + Compact(store) + 2; }

void FindLargestFreeBlock(double* store, double** payload, int32_t* capacity, bool mayCompact, int32_t* total) {
  double* area = Area(store);
  int32_t n = AreaLength(store);
  int32_t largest = -1;
  int32_t largestAt = -1;
  int32_t freeTotal = 0;
  for (;;) {
    largest = -1;
    largestAt = -1;
    freeTotal = 0;
    int32_t run = -1;
    for (int32_t b = 0; b < n;) {
      int32_t len = Length(area, b);
      if (len > 0) {
        run = -1;
        b += len;
        continue;
      }
      freeTotal -= len;
      if (run >= 0) {
        area[run] += len;
      } else {
        run = b;
      }
      int32_t runSize = -Length(area, run);
      if (runSize > largest) {
        largest = runSize;
        largestAt = run;
      }
      b -= len;
    }
    bool fragmented = freeTotal > 2 * largest && freeTotal > n / 8;
    if (!mayCompact || ReadBlockStoreHeader(store).compacted != 0 || !fragmented) break;
    Compact(store);
  }
  if (payload) *payload = largestAt >= 0 ? area + largestAt + 2 : nullptr;
  if (capacity) *capacity = largest - 2;
  if (total) *total = freeTotal;
}

bool CommitBlockAt(double* store, int32_t key, double* payload, int32_t k) {
  double* area = Area(store);
  int32_t n = AreaLength(store);
  if (payload == nullptr || payload < area + 2 || payload > area + n + 1) return false;
  int32_t b = static_cast<int32_t>(payload - area - 2);
  int32_t at = 0;
  while (at < b) at += Size(area, at);
  if (at != b || area[b] >= 0) return false;
  int32_t s = Size(area, b);
  if (k < 0 || k > s - 2) return false;
  if (k == 0) return true;
  area[b + 1] = key;
  if (s != k + 2) area[b + k + 2] = -(s - k - 2);
  area[b] = k + 2;
  return true;
}

bool FindBlock(double* store, int32_t key, double** payload, int32_t* length) {
  int32_t b = FindBlockStart(store, key);
  if (b < 0) return false;
  double* area = Area(store);
  if (payload) *payload = area + b + 2;
  if (length) *length = Length(area, b) - 2;
  return true;
}

void FreeBlock(double* store, int32_t key) {
  int32_t b = FindBlockStart(store, key);
  if (b < 0) return;
  double* area = Area(store);
  area[b] = -area[b];
  SetCompacted(store, 0);
}

void OpenBlockForWriting(double* store, int32_t key, double** payload, int32_t* length, int32_t* capacity) {
  double* p = nullptr;
  int32_t c = 0;
  int32_t t = 0;
  FindLargestFreeBlock(store, &p, &c, false, &t);
  int32_t b = FindBlockStart(store, key);
  if (b < 0) {
    *payload = p;
    *length = 0;
    *capacity = c;
    return;
  }
  double* area = Area(store);
  int32_t n = AreaLength(store);
  int32_t size = Length(area, b);
  int32_t len = size - 2;
  int32_t next = b + size;
  if (next < n && area[next] < 0) {
    int32_t f = Size(area, next);
    if (len + f >= t / 2) {
      area[b] = -(size + f);
      *payload = area + b + 2;
      *length = len;
      *capacity = len + f;
      return;
    }
  }
  if (2 * c < t) FindLargestFreeBlock(store, &p, &c, true, &t);
  // The scan may leave holes that together would take the payload.
  if (c < len && t - 2 >= len) {
    Compact(store);
    FindLargestFreeBlock(store, &p, &c, false, &t);
  }
  b = FindBlockStart(store, key);
  if (c < len) {
    // No room anywhere: free the block in place, the old payload untouched.
    area[b] = -area[b];
    *payload = area + b + 2;
    *length = len;
    *capacity = len;
    return;
  }
  std::memmove(p, area + b + 2, sizeof(double) * len);
  FreeBlock(store, key);
  *payload = p;
  *length = len;
  *capacity = c;
}

void GetLargestFreeSpace(double* store, void** pointer, int64_t* bytes) {
  double* p = nullptr;
  int32_t c = 0;
  FindLargestFreeBlock(store, &p, &c, true, nullptr);
  if (pointer) *pointer = c > 0 ? p : nullptr;
  if (bytes) *bytes = c > 0 ? int64_t{c} * 8 : 0;
}

bool CheckBlockStore(const double* store, int32_t m) {
  BlockStoreHeader h = ReadBlockStoreHeader(store);
  int32_t n = h.areaLength;
  if (h.compacted > 1 || n < 0 || m < 4 || n > m - 4) return false;
  const double* area = store + 1;
  for (int32_t b = 0; b < n;) {
    double len = area[b];
    // Compared as doubles: a corrupted length may be any value, NaN included.
    if (!(std::fabs(len) <= n - b) || len != std::trunc(len) || len == 0) return false;
    if (len > 0) {
      if (len < 2) return false;
      double key = area[b + 1];
      if (!(std::fabs(key) <= INT32_MAX) || key != std::trunc(key)) return false;
      for (int32_t e = 0; e < b;) {
        int32_t elen = static_cast<int32_t>(area[e]);
        if (elen > 0 && area[e + 1] == key) return false;
        e += elen > 0 ? elen : -elen;
      }
    }
    b += static_cast<int32_t>(std::fabs(len));
  }
  return true;
}
