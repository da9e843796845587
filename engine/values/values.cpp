// Shape rules shared by every array constructor and indexer.
#include "engine/engine.h"

int NormalizeDimensions(uint32_t* dims, int ndims) {
  if (ndims < 2) {
    dims[1] = 1;
    if (ndims < 1) dims[0] = 1;
    ndims = 2;
  }
  for (int k = 0; k < ndims; ++k)
    if (dims[k] == 0) {
      dims[0] = dims[1] = 0;
      return 2;
    }
  while (ndims > 2 && dims[ndims - 1] == 1) --ndims;
  return ndims;
}

int64_t ArrayElementIndex(const uint32_t* dims, int ndims, const uint32_t* subs) {
  // The page number runs over dimensions 3.. with the third varying fastest.
  int64_t page = 0;
  for (int k = ndims - 1; k >= 2; --k) page = page * dims[k] + subs[k];
  return (page * dims[0] + subs[0]) * dims[1] + subs[1];
}

Cell* WriteArrayHeader(Cell* payload, uint32_t cls, const uint32_t* dims, int ndims) {
  auto* words = reinterpret_cast<uint32_t*>(payload);
  words[0] = cls;
  words[1] = static_cast<uint32_t>(ndims);
  for (int k = 0; k < ndims; ++k) words[2 + k] = dims[k];
  if ((2 + ndims) % 2 != 0) words[2 + ndims] = 0;
  return payload + ArrayDataCell(ndims);
}
