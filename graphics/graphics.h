// The graphics engine's public face: the keyed block store that holds the
// display lists, the element format every writer and reader of a list shares,
// and the plot styles parsed from style strings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/engine.h"

constexpr StatusCode kExhaustedRsrc = 10000;  // a store cannot shrink below its used blocks
constexpr StatusCode kPlotOverflow = 10001;   // a display list cannot take an element

// ---------------------------------------------------------------------------
// Block store: one header double, then an area of gapless blocks. A used block
// is {length > 0, key, payload[length - 2]}; a free block starts with -size.
// The store is saved and restored as raw doubles, so it holds indices only;
// the pointers handed out are good until the next store operation or move.

// The header double, little-endian: i32 area length, u8 compacted flag (1: no
// hole between used blocks), three reserved bytes written as 0.
struct BlockStoreHeader {
  int32_t areaLength;
  uint8_t compacted;
  uint8_t reserved[3];
};
static_assert(sizeof(BlockStoreHeader) == 8);
static_assert(offsetof(BlockStoreHeader, areaLength) == 0);
static_assert(offsetof(BlockStoreHeader, compacted) == 4);
static_assert(offsetof(BlockStoreHeader, reserved) == 5);

BlockStoreHeader ReadBlockStoreHeader(const double* store);
void WriteBlockStoreHeader(double* store, const BlockStoreHeader& header);

// `store` is the first double of a buffer of m doubles; the area is m - 4 long.
void InitBlockStore(double* store, int32_t m);
[[nodiscard]] StatusCode ResizeBlockStore(double* store, int32_t m);
// The buffers may overlap. A destination smaller than the source's area takes
// the compacted blocks only, so nothing is written past its m doubles.
[[nodiscard]] StatusCode MoveBlockStore(double* source, double* destination, int32_t m);
double* CompactBlockStore(double* store);
// With no free block the capacity is -3, the total 0 and the pointer null.
void FindLargestFreeBlock(double* store, double** payload, int32_t* capacity, bool mayCompact, int32_t* total);
// Turns the free region whose payload starts at `payload` into a block of
// k + 2 doubles; k = 0 leaves it free (the key then has no block). False, and
// nothing changed, when `payload` starts no free region or k exceeds its capacity.
bool CommitBlockAt(double* store, int32_t key, double* payload, int32_t k);
bool FindBlock(double* store, int32_t key, double** payload, int32_t* length);
void FreeBlock(double* store, int32_t key);
// Prepares the key's block for appending: the first *length payload doubles are
// its old contents and up to *capacity may be written before CommitBlockAt.
// When no free block can take the old payload even after compaction, the block
// becomes a free region in place with *capacity = *length, so the first append
// finds the list full and a commit at *length restores the block as it was.
void OpenBlockForWriting(double* store, int32_t key, double** payload, int32_t* length, int32_t* capacity);
// Scratch memory: the largest free block after compaction, 0 bytes when none.
void GetLargestFreeSpace(double* store, void** pointer, int64_t* bytes);
// For a store read from a saved image into a buffer of m doubles: the area
// fits the buffer, every length is a non-zero integer, a used block holds its
// key, the walk ends exactly at the area length, keys are unique integers and
// the compacted flag is 0 or 1.
bool CheckBlockStore(const double* store, int32_t m);

// ---------------------------------------------------------------------------
// Display lists: elements of six header doubles {code, id, item, style word,
// colour, n} followed by n data doubles, back to back in one block's payload.

constexpr int32_t kElementHeaderDoubles = 6;
constexpr int32_t kLastElementCode = 70;
constexpr int32_t kSectionMarkerCode = 70;
constexpr int32_t kSectionMarkerDoubles = kElementHeaderDoubles + 1;

// The list being written: in memory only (the runtime keeps its offset).
struct DisplayListWriter {
  double* data;
  int32_t capacity;
  int32_t used;
};

// Appends {70, -1, -1, 0, 0, 1, k} when the seven doubles fit.
bool AppendSectionMarker(double* list, int32_t capacity, int32_t* used, int32_t k);
// Where section n begins (n >= 0; leading unmarked elements are section 0)
// or, for n < 0, the position after the last marker (0 without one). False
// when section n does not begin inside the list.
bool FindSectionInList(const double* list, int32_t length, int32_t n, int32_t* position);

// The writer protocol: `doubles` is exactly what the plot call appends. An
// empty list first gets the marker of subplot 0 (*started tells the caller to
// reset the subplot's automatic limits); 10001 when the whole does not fit,
// with nothing written.
[[nodiscard]] StatusCode BeginListAppend(DisplayListWriter* list, int32_t doubles, bool* started);

struct ElementHeader {
  int32_t code;
  double id;  // the plot call's id argument as given; -1 for none
  int32_t item;
  int32_t styleWord;
  int32_t colour;  // red * 65536 + green * 256 + blue
  int32_t n;
};
// Writes the header at the end of the list, counts its n data doubles as used
// and returns where they go, for the caller to fill; null, with nothing
// written, when the element does not fit.
double* AppendElement(DisplayListWriter* list, const ElementHeader& header);

// Text: {L, bytes packed 8 per double, byte 0 in the lowest-addressed byte}.
// The bytes after the text in its last double are written as 0.
constexpr int32_t TextDoubles(int32_t bytes) { return 1 + (bytes + 7) / 8; }
void PackText(double* at, const uint8_t* bytes, int32_t length);

// Face tables: 0-based 32-bit vertex indices, two per double in memory order,
// in floor(count / 2) + 1 doubles.
constexpr int64_t FaceTableDoubles(int64_t count) { return count / 2 + 1; }
void StoreFaceIndex(double* table, int64_t i, int32_t vertex);
int32_t LoadFaceIndex(const double* table, int64_t i);

// One element as the cursor yields it; `data` points at its n data doubles.
struct ListElement {
  int32_t position;  // index of the element's code double in the list
  int32_t code;
  double id;
  int32_t item;
  int32_t styleWord;
  int32_t colour;
  int32_t n;
  const double* data;
};

// The one way to walk a list. A malformed element (n negative or not an
// integer, an end beyond the length, a code outside 1-70) ends the walk, so no
// reader ever looks past the length.
struct ElementCursor {
  const double* list;
  int32_t length;
  int32_t position;
};
bool NextElement(ElementCursor* cursor, ListElement* element);

// The text that starts at data double `offset` of an element: false when its
// length is negative, not an integer or runs past the element's data.
bool ElementText(const ListElement& element, int32_t offset, const uint8_t** bytes, int32_t* length);

// ---------------------------------------------------------------------------
// Plot styles.

// Stored as 8 bytes: little-endian i32 style word, then red, green, blue and
// one byte without meaning.
struct PlotStyle {
  int32_t word;
  uint8_t red;
  uint8_t green;
  uint8_t blue;
  uint8_t spare;
};
static_assert(sizeof(PlotStyle) == 8);
static_assert(offsetof(PlotStyle, word) == 0);
static_assert(offsetof(PlotStyle, red) == 4);
static_assert(offsetof(PlotStyle, green) == 5);
static_assert(offsetof(PlotStyle, blue) == 6);

// Style word bits.
constexpr int32_t kStyleColourIndex = 0x7;
constexpr int32_t kStyleFigureDefault = 0x8;
constexpr int32_t kStyleThick = 0x10;
constexpr int32_t kStyleFilled = 0x20;
constexpr int32_t kStyleKind = 0x3C0;
constexpr int32_t kStyleKindShift = 6;
constexpr int32_t kStyleStairs = 0x800;
constexpr int32_t kStyleArrowFirst = 0x1000;
constexpr int32_t kStyleArrowLast = 0x2000;

PlotStyle LoadPlotStyle(const uint8_t* bytes);
void StorePlotStyle(uint8_t* bytes, const PlotStyle& style);
// The colour field of a display-list element.
constexpr int32_t PlotStyleColour(const PlotStyle& s) { return s.red * 65536 + s.green * 256 + s.blue; }

// index -1 only counts the styles into *count; index k >= 0 applies style k
// to *style. 0 or 108; the record may be partly changed on 108.
[[nodiscard]] StatusCode ParseStyleString(const char* text, int32_t length, int32_t index, int32_t* count,
                                          PlotStyle* style);
[[nodiscard]] StatusCode CountPlotStyles(const char* text, int32_t length, int32_t* count);
// The style of curve `curve`, cycling through the styles; `defaultColour` is
// three bytes red, green, blue or null for black.
[[nodiscard]] StatusCode PickPlotStyle(const char* text, int32_t length, int32_t curve, int32_t defaultWord,
                                       const uint8_t* defaultColour, PlotStyle* style);

// ---------------------------------------------------------------------------
// The subplot model: record, pixel mapping, zoom and pan, 3-D view.
#include "graphics/subplot.h"

// ---------------------------------------------------------------------------
// Plot bodies of curves, lines, circles, active regions and bars. Each reads
// its nargin arguments from the value stack, appends its elements to the list
// (payload, capacity, used count) and extends the subplot's automatic limits;
// on success its arguments are gone. Room is checked before anything is
// written (10001); an empty list first gets the marker of subplot 0 and the
// subplot's automatic limits are reset.

// plot ([x,] y [, style [, id]]) and, with threeD, plot3 (x, y, z [, style [, id]]).
[[nodiscard]] StatusCode AppendCurveElements(EngineContext* ctx, int nargin, SubplotRecord* sp, bool threeD,
                                             double* list, int32_t capacity, int32_t* used);
// area ([x,] y [, base] [, style [, id]]).
[[nodiscard]] StatusCode AppendAreaElements(EngineContext* ctx, int nargin, SubplotRecord* sp, double* list,
                                            int32_t capacity, int32_t* used);
// polar (theta, rho [, style [, id]]).
[[nodiscard]] StatusCode AppendPolarElements(EngineContext* ctx, int nargin, SubplotRecord* sp, double* list,
                                             int32_t capacity, int32_t* used);
// fplot (function [, range] [, style [, id [, extra arguments...]]]): asks the
// machine to call the function and returns; it is called again with nargin =
// ~(number of results) until the curve is done. The samples wait in the
// list's free room, so nothing else may append to the list meanwhile.
[[nodiscard]] StatusCode AppendFunctionPlotElement(EngineContext* ctx, int nargin, SubplotRecord* sp, double* list,
                                                   int32_t capacity, int32_t* used);
// line (coefficients, constants [, style [, id]]) and, with threeD, line3.
[[nodiscard]] StatusCode AppendLineElements(EngineContext* ctx, int nargin, SubplotRecord* sp, bool threeD,
                                            double* list, int32_t capacity, int32_t* used);
// circle (x, y, r [, style [, id]]).
[[nodiscard]] StatusCode AppendCircleElements(EngineContext* ctx, int nargin, SubplotRecord* sp, double* list,
                                              int32_t capacity, int32_t* used);
// activeregion (xv, yv, id) or (x0, x1, y0, y1, id).
[[nodiscard]] StatusCode AppendActiveRegionElements(EngineContext* ctx, int nargin, SubplotRecord* sp, double* list,
                                                    int32_t capacity, int32_t* used);
// bar and, with horizontal, barh ([x,] y [, width] [, kind [, style [, id]]]).
[[nodiscard]] StatusCode AppendBarElements(EngineContext* ctx, int nargin, SubplotRecord* sp, bool horizontal,
                                           double* list, int32_t capacity, int32_t* used);
