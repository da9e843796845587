// Base64 of byte strings, for the natives and for embedded data files. Kept
// free of the value stack, so that a fuzz target can build it alone.
#include "corelib/base64.h"

#include "corelib/corelib.h"

namespace {

struct Bytes {
  const uint8_t* data;
  uint8_t operator()(int64_t k) const { return data[k]; }
};

}  // namespace

StatusCode EncodeBase64(const uint8_t* data, int64_t length, char* buffer, int64_t size, int64_t* written) {
  return base64::Encode(Bytes{data}, length, buffer, size, written);
}

StatusCode DecodeBase64(const char* text, int64_t length, uint8_t* buffer, int64_t size, int64_t* written) {
  return base64::Decode(Bytes{reinterpret_cast<const uint8_t*>(text)}, length, buffer, size, written);
}

void DecodeBase64Quartet(const char* text, int64_t end, int64_t* position, uint8_t* bytes, int* count) {
  base64::Quartet(Bytes{reinterpret_cast<const uint8_t*>(text)}, end, position, bytes, count);
}
