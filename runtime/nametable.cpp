// The name table: ids of variables and functions with names of up to 28
// bytes, in rows of 32 bytes behind a two-word header.
#include <algorithm>
#include <bit>
#include <cstring>

#include "runtime/variablestore.h"

static_assert(std::endian::native == std::endian::little, "the table is a little-endian stored format");

namespace {

constexpr int kHeaderBytes = 8;
constexpr int kRowBytes = 32;

uint8_t* Bytes(NameTable* t) { return reinterpret_cast<uint8_t*>(t); }
const uint8_t* Bytes(const NameTable* t) { return reinterpret_cast<const uint8_t*>(t); }

int32_t ReadInt(const uint8_t* p) {
  int32_t w;
  std::memcpy(&w, p, 4);
  return w;
}
void WriteInt(uint8_t* p, int32_t w) { std::memcpy(p, &w, 4); }

int32_t Capacity(const uint8_t* b) { return ReadInt(b); }
int32_t RowsUsed(const uint8_t* b) { return ReadInt(b + 4); }
const uint8_t* Row(const uint8_t* b, int32_t r) { return b + kHeaderBytes + int64_t{kRowBytes} * r; }
uint8_t* Row(uint8_t* b, int32_t r) { return b + kHeaderBytes + int64_t{kRowBytes} * r; }

// The region of size bytes holds (size - 40) / 32 + 1 rows: the header and the
// last row share the 40 bytes.
int32_t CapacityFor(int64_t size) { return static_cast<int32_t>((size - 40) / kRowBytes + 1); }

int StoredNameLength(const uint8_t* row) {
  const void* nul = std::memchr(row + 4, 0, kNameBytes);
  return nul ? static_cast<int>(static_cast<const uint8_t*>(nul) - (row + 4)) : kNameBytes;
}

}  // namespace

StatusCode InitNameTable(NameTable** table, void* region, int64_t size) {
  *table = nullptr;
  if (size < kNameTableMinBytes) return kTooSmallNameBuf;
  auto* b = static_cast<uint8_t*>(region);
  WriteInt(b, CapacityFor(size));
  WriteInt(b + 4, 0);
  *table = static_cast<NameTable*>(region);
  return kOk;
}

StatusCode SetNameTableSize(NameTable* table, int64_t size) {
  uint8_t* b = Bytes(table);
  if (size < kNameTableMinBytes || CapacityFor(size) < RowsUsed(b)) return kTooSmallNameBuf;
  WriteInt(b, CapacityFor(size));
  return kOk;
}

StatusCode AddName(NameTable* table, int32_t id, const char* name, int length) {
  uint8_t* b = Bytes(table);
  const int32_t used = RowsUsed(b);
  if (used >= Capacity(b)) return kNoMoreNameSlot;
  if (id < kMinNameId || id > kMaxNameId) return kVarDuplicate;
  // Only the first 28 bytes are kept, so two names equal that far are one name.
  int n = 0;
  const int limit = length > 0 ? std::min(length, kNameBytes) : kNameBytes;
  while (n < limit && name[n] != '\0') ++n;
  for (int32_t r = 0; r < used; ++r) {
    const uint8_t* row = Row(b, r);
    if (ReadInt(row) == id) return kVarDuplicate;
    if (StoredNameLength(row) == n && std::memcmp(row + 4, name, n) == 0) return kVarDuplicate;
  }
  uint8_t* row = Row(b, used);
  WriteInt(row, id);
  std::memset(row + 4, 0, kNameBytes);
  std::memcpy(row + 4, name, n);
  WriteInt(b + 4, used + 1);
  return kOk;
}

StatusCode GetNameById(const NameTable* table, int32_t id, const char** name, int* length) {
  const uint8_t* b = Bytes(table);
  for (int32_t r = 0; r < RowsUsed(b); ++r) {
    const uint8_t* row = Row(b, r);
    if (ReadInt(row) != id) continue;
    *name = reinterpret_cast<const char*>(row + 4);
    *length = StoredNameLength(row);
    return kOk;
  }
  *name = nullptr;
  *length = 0;
  return kVarNotInSet;
}

StatusCode CheckNameTable(const NameTable* table, int64_t size) {
  const uint8_t* b = Bytes(table);
  if (size < kNameTableMinBytes || Capacity(b) != CapacityFor(size)) return kInitError;
  const int32_t used = RowsUsed(b);
  if (used < 0 || used > Capacity(b)) return kInitError;
  for (int32_t r = 0; r < used; ++r) {
    const int32_t id = ReadInt(Row(b, r));
    if (id < kMinNameId || id > kMaxNameId) return kInitError;
  }
  return kOk;
}
