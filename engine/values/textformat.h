// Number and text formatting shared by every builtin that turns numbers into
// text: bounded appends into a caller's byte buffer, the floating-point,
// complex and integer formatters, the real-number parser and UTF-8 coding.
#pragma once

#include "engine/engine.h"

// Buffers are (buffer, position, size): the position is held by the caller and
// advanced. Unless noted, appends stop one byte before the size so that the
// caller can always add a NUL; none of them writes it. A length of -1 means a
// NUL-terminated text; a counted text may contain NUL bytes.

// Copies min(length, size) bytes, correctly when the areas overlap, and adds a
// NUL when that count is below the size.
void CopyTextBounded(char* buffer, int size, const char* text, int length);

// Two given lengths that differ answer false at once; ignoring case folds A-Z only.
bool TextEquals(const char* a, int lengthA, const char* b, int lengthB, bool ignoreCase);

int TextLength(const char* text);

// Offset of the first occurrence of the pattern, -1 when none; an empty
// pattern is found at 0.
int FindSubstring(const char* text, int length, const char* pattern, int patternLength);

// Returns the first byte not copied (as 0..255): 0 when the whole text fit.
int AppendText(char* buffer, int* position, const char* text, int size);

// Return the number of bytes (characters) written.
int AppendChars(char* buffer, int* position, const char* bytes, int count, int size);
int AppendRepeatedChar(char* buffer, int* position, char byte, int count, int size);
int AppendRepeatedWideChar(uint16_t* buffer, int* position, uint16_t ch, int count, int size);

// Writes 1 to 3 bytes only when position + 3 does not pass the size (no NUL
// room is kept); false when nothing was written.
bool AppendUtf8Char(char* buffer, int* position, uint16_t ch, int size);

// Decodes one 16-bit character. An invalid or truncated sequence is skipped one
// byte at a time with the answer false; at the end of the text the answer is
// false and the position stays. A null position means 0.
bool DecodeUtf8Char(const char* text, int length, int* position, uint16_t* out);

// Skips blanks and tabs, takes one sign, then digits with an optional '.' and
// an optional exponent ('e' without digits counts as e0); a lone '.' reads 0.
// The value is the correctly rounded double of that text. False when no digit
// or '.' follows the sign (the position then stays after blanks and sign).
bool ParseRealNumber(const char* text, int length, int* position, double* out);

// How a number fills its field, as a conversion's flags give it. Each
// formatter reads the members that apply to it and ignores the others; the
// defaults write the plain form.
struct NumberFormat {
  int width = 0;             // least bytes in the field, padded with blanks
  int minDigits = 1;         // integers: leading zeros up to this many digits; 0 writes nothing for 0
  bool leftJustify = false;  // the padding goes after the text
  bool plus = false;         // '+' before a value that is not negative
  bool blank = false;        // ' ' there instead, when plus is not set
  bool zeroPad = false;      // doubles: zeros after the sign fill the width
  bool alternate = false;    // doubles: always a '.'; octal: a leading 0; hex and binary: the prefix
  bool uppercase = false;    // hex digits, exponent letter, Inf and NaN, the imaginary unit
  bool isUnsigned = false;   // decimal: the value's bits read as unsigned
  char unitLetter = 'i';     // complex: 'j' writes j, anything else i
};

// Conversion letters: 'f' fixed with exactly precision fraction digits; 'e'
// exponent form; 'n' engineering (exponent a multiple of 3); 'g' fixed for
// 0.1 <= |value| < 2e9 and zero, else exponent form, at most precision fraction
// digits and no trailing zeros; 'k' and 'K' the shortest of fixed, exponent and
// integer-mantissa forms ('K' favours fixed); any other letter is 'g' without
// fraction digits. Exponents are written as e3, e-4: no plus, no leading zeros.
void FormatDouble(char* buffer, int* position, double value, int precision, char conversion, int size,
                  const NumberFormat& format = {});

// The imaginary part is left out when it cannot change the real part (zero,
// negligible, or a non-finite real part) unless it is NaN. The sign flags
// apply to the real part, the width is shared by both; zeroPad is not read.
void FormatComplex(char* buffer, int* position, double re, double im, int precision, char conversion, int size,
                   const NumberFormat& format = {});

// Integer formatters. Everything, digits included, is bounded by the size: a
// buffer that is too small receives a prefix of the text.
void FormatDecimal32(char* buffer, int* position, int32_t value, int size, const NumberFormat& format = {});
void FormatDecimal64(char* buffer, int* position, int64_t value, int size, const NumberFormat& format = {});
// The alternate form's "0x" prefix (always lowercase) only for a value other than 0.
void FormatHex32(char* buffer, int* position, uint32_t value, int size, const NumberFormat& format = {});
void FormatHex64(char* buffer, int* position, uint64_t value, int size, const NumberFormat& format = {});
// The alternate form makes the digits of a value other than 0 begin with one 0.
void FormatOctal32(char* buffer, int* position, uint32_t value, int size, const NumberFormat& format = {});
void FormatOctal64(char* buffer, int* position, uint64_t value, int size, const NumberFormat& format = {});
// The alternate form's "0b" prefix only for a value other than 0.
void FormatBinary64(char* buffer, int* position, uint64_t value, int size, const NumberFormat& format = {});
