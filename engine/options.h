// Option sets: the static tables of named options with their defaults, the
// body shared by every option-set native, and the readers that fetch one
// option from an option structure or its table's default.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/engine.h"

// Kinds of an option's default.
enum OptionType : uint32_t {
  kOptionReal = 0,         // the first value
  kOptionRow2 = 1,         // 1x2 row of the first two values
  kOptionRow3 = 2,         // 1x3 row
  kOptionRow4 = 3,         // 1x4 row
  kOptionLogical = 4,      // true when the first value's integer part is not 0
  kOptionEmpty = 5,        // []
  kOptionEmptyList = 6,    // an empty list
  kOptionEmptyString = 7,  // ''
  kOptionChars1 = 8,       // 8..11: 1..4 characters whose codes are the first values
  kOptionChars4 = 11,
  kOptionText = 12,  // the NUL-terminated text `text` names; null: ''
  kOptionEnd = 13,   // ends a table (with an empty name)
};

// One option of a table. Extensions build these tables, so the layout is
// fixed: a name of up to 16 bytes (NUL-padded, compared case-sensitively),
// two words, then 32 bytes of default.
struct OptionDefaultRecord {
  char name[16];
  uint32_t type;
  uint32_t hidden;  // 1: left out of the default structure, still settable and readable
  union {
    double values[4];
    const char* text;  // type 12 only
  };
};
static_assert(sizeof(OptionDefaultRecord) == 56);
static_assert(offsetof(OptionDefaultRecord, type) == 16);
static_assert(offsetof(OptionDefaultRecord, hidden) == 20);
static_assert(offsetof(OptionDefaultRecord, values) == 24);
static_assert(offsetof(OptionDefaultRecord, text) == 24);

// The body of an option-set native: consumes the nargin arguments ([structure,]
// name, value, ...) and leaves the option structure. With an even nargin the
// structure starts as the table's visible defaults. On any failure the
// arguments stay as they were (3: the data stack is full; 43: the first of an
// odd number of arguments, or a name, is of another kind; 108: a name the
// table lacks).
StatusCode ApplyOptionSet(EngineContext* ctx, int nargin, const OptionDefaultRecord* table);

// Index of the record with exactly that name (length -1: NUL-terminated),
// -1 when there is none.
int FindOptionRecord(const OptionDefaultRecord* table, const char* name, int length);

// Pushes the option's value from the option argument at `position` (0: top)
// when that is a structure whose field of the name holds something other than
// [], else the table's default. 43 when the argument is neither [] nor a
// structure, 39 when the table lacks the name.
StatusCode PushOptionValue(EngineContext* ctx, int position, const char* name, const OptionDefaultRecord* table);

// Pops the top value as a real scalar (converting other numeric classes to
// double first); an empty value gives the default, another size 21. The
// value stays on the stack when it fails.
StatusCode PopRealScalarOrDefault(EngineContext* ctx, double defaultValue, double* value);

// PushOptionValue then PopRealScalarOrDefault; a real or logical option's own
// default replaces the caller's. Leaves the stack unchanged.
StatusCode GetRealOption(EngineContext* ctx, int position, const char* name, const OptionDefaultRecord* table,
                         double defaultValue, double* value);

// GetRealOption with the flag as the default; true when the value is
// nonzero and not NaN.
StatusCode GetBooleanOption(EngineContext* ctx, int position, const char* name, const OptionDefaultRecord* table,
                            bool defaultFlag, bool* flag);
