// The element format of display lists: section markers, the writer's room
// check, packed text and face tables, and the cursor every reader walks with.
#include <cmath>
#include <cstring>

#include "graphics/graphics.h"
#include "graphics/littleendian.h"

namespace {

// Integer fields are truncated toward zero, keeping the low bits as the
// engine's integer conversions do.
int32_t IntegerField(double x) { return static_cast<int32_t>(TruncateToInt64(x)); }

}  // namespace

bool AppendSectionMarker(double* list, int32_t capacity, int32_t* used, int32_t k) {
  if (int64_t{*used} + kSectionMarkerDoubles > capacity) return false;
  double* at = list + *used;
  at[0] = kSectionMarkerCode;
  at[1] = -1;
  at[2] = -1;
  at[3] = 0;
  at[4] = 0;
  at[5] = 1;
  at[6] = k;
  *used += kSectionMarkerDoubles;
  return true;
}

bool FindSectionInList(const double* list, int32_t length, int32_t n, int32_t* position) {
  ElementCursor cursor{list, length, 0};
  ListElement e{};
  if (n < 0) {
    *position = 0;
    while (NextElement(&cursor, &e)) {
      if (e.code == kSectionMarkerCode) *position = cursor.position;
    }
    return true;
  }
  // Elements before the first marker make up section 0.
  bool marked = NextElement(&cursor, &e) && e.code == kSectionMarkerCode;
  if (!marked && n == 0) {
    *position = 0;
    return length > 0;
  }
  int32_t wanted = marked ? n : n - 1;
  int32_t seen = 0;
  cursor.position = 0;
  while (NextElement(&cursor, &e)) {
    if (e.code != kSectionMarkerCode) continue;
    if (seen == wanted) {
      *position = e.position;
      return true;
    }
    ++seen;
  }
  *position = length;
  return false;
}

StatusCode BeginListAppend(DisplayListWriter* list, int32_t doubles, bool* started) {
  bool empty = list->used == 0;
  int64_t needed = int64_t{doubles} + (empty ? kSectionMarkerDoubles : 0);
  if (int64_t{list->used} + needed > list->capacity) return kPlotOverflow;
  if (empty) AppendSectionMarker(list->data, list->capacity, &list->used, 0);
  if (started) *started = empty;
  return kOk;
}

double* AppendElement(DisplayListWriter* list, const ElementHeader& header) {
  if (header.n < 0 || int64_t{list->used} + kElementHeaderDoubles + header.n > list->capacity) return nullptr;
  double* at = list->data + list->used;
  at[0] = header.code;
  at[1] = header.id;
  at[2] = header.item;
  at[3] = header.styleWord;
  at[4] = header.colour;
  at[5] = header.n;
  list->used += kElementHeaderDoubles + header.n;
  return at + kElementHeaderDoubles;
}

void PackText(double* at, const uint8_t* bytes, int32_t length) {
  at[0] = length;
  int32_t words = TextDoubles(length) - 1;
  if (words <= 0) return;
  // Zeroed first: the tail of the last double is then the same in every save.
  std::memset(at + 1, 0, sizeof(double) * words);
  std::memcpy(at + 1, bytes, length);
}

void StoreFaceIndex(double* table, int64_t i, int32_t vertex) {
  StoreLe32(reinterpret_cast<uint8_t*>(table) + 4 * i, static_cast<uint32_t>(vertex));
}

int32_t LoadFaceIndex(const double* table, int64_t i) {
  return static_cast<int32_t>(LoadLe32(reinterpret_cast<const uint8_t*>(table) + 4 * i));
}

bool NextElement(ElementCursor* cursor, ListElement* element) {
  int32_t pos = cursor->position;
  int32_t length = cursor->length;
  if (pos < 0 || pos >= length || length - pos < kElementHeaderDoubles) {
    cursor->position = length;
    return false;
  }
  const double* h = cursor->list + pos;
  double code = h[0];
  double n = h[5];
  // Compared as doubles, so NaN and huge values fail before any conversion.
  bool wellFormed = code >= 1 && code < kLastElementCode + 1 && n >= 0 && n == std::trunc(n) &&
                    n <= length - pos - kElementHeaderDoubles;
  if (!wellFormed) {
    cursor->position = length;
    return false;
  }
  element->position = pos;
  element->code = static_cast<int32_t>(code);
  element->id = h[1];
  element->item = IntegerField(h[2]);
  element->styleWord = IntegerField(h[3]);
  element->colour = IntegerField(h[4]);
  element->n = static_cast<int32_t>(n);
  element->data = h + kElementHeaderDoubles;
  cursor->position = pos + kElementHeaderDoubles + element->n;
  return true;
}

bool ElementText(const ListElement& element, int32_t offset, const uint8_t** bytes, int32_t* length) {
  if (offset < 0 || offset >= element.n) return false;
  double l = element.data[offset];
  double room = 8.0 * (element.n - offset - 1);
  if (!(l >= 0) || l != std::trunc(l) || l > room) return false;
  *length = static_cast<int32_t>(l);
  *bytes = reinterpret_cast<const uint8_t*>(element.data + offset + 1);
  return true;
}
