// The compiler's first steps: the lexical level of the language (blanks,
// comments, keywords, names, literals, the quote rule, command syntax) and
// pass 1, which splits a source text into statement records and reads the
// function header. Texts carry an explicit length; positions are the caller's.
#pragma once

#include <cstdint>

#include "engine/context.h"
#include "engine/function.h"

// ---------------------------------------------------------------------------
// Characters. Bytes of 128 and more are never part of a name.

inline bool IsLetter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline bool IsDecimalDigit(int c) { return c >= '0' && c <= '9'; }
inline bool IsNameStart(int c) { return IsLetter(c) || c == '_'; }
inline bool IsNameChar(int c) { return IsLetter(c) || IsDecimalDigit(c) || c == '_'; }
inline bool IsBlank(int c) { return c == ' ' || c == '\t'; }
inline bool IsLineEnd(int c) { return c == '\n' || c == '\r'; }

// The byte at a position as 0..255, so that high bytes compare as themselves.
inline int ByteAt(const char* text, int position) { return static_cast<unsigned char>(text[position]); }

// Names of variables, functions and fields.
constexpr int kMaxNameLength = 32;

// Length of the run of name characters at the position.
int NameLength(const char* text, int length, int position);

// 205 with the name when it is longer than kMaxNameLength, else 0.
[[nodiscard]] StatusCode CheckNameLength(EngineContext* ctx, const char* name, int length);

// ---------------------------------------------------------------------------
// Blanks, comments, continuations and statement ends.

// Skips spaces, tabs, comments ("%" and "//" to the line end, "/*" to "*/"),
// continuations ("..." with the rest of its line and the blank lines after it)
// and line ends; with stopAtSeparators also "," and ";". Answers 0 when
// nothing was skipped, 1 when blanks, comments or a continuation were, and 2
// when a statement end was passed or the text ended. Every line end passed
// counts once in *line ("\r\n" is one line end).
int SkipBlanksAndComments(EngineContext* ctx, const char* text, int length, int* position, bool stopAtSeparators,
                          int32_t* line);

// The same without ever passing a line end: stops on one (or at the end).
// True when the position moved.
bool SkipBlanksInLine(const char* text, int length, int* position, int32_t* line);

// True at the end of the text, a line end, "," or ";".
bool AtStatementEnd(const char* text, int length, int position);

// Consumes the line end at the position ("\r\n" as one) and counts it.
void PassLineEnd(const char* text, int length, int* position, int32_t* line);

// ---------------------------------------------------------------------------
// Keywords.

constexpr int kKeywordCount = 29;

// True when the word stands at the position and no name character follows
// it; the position then moves past it, otherwise it stays.
bool MatchKeyword(const char* text, int length, int* position, const char* word);

// The first keyword for null, otherwise the one after `previous` (which must
// be a pointer this function returned); null after the last.
const char* GetKeywordList(const char* previous);

bool IsKeyword(const char* text, int length);

// ---------------------------------------------------------------------------
// The quote rule: after the last character of an operand (a name character,
// ".", ")", "]", "}") and after a transpose quote, a quote is the transpose
// operator; anywhere else it opens a string. previous is -1 at the start of
// an expression.
bool QuoteIsTranspose(int previous, bool previousIsTranspose);

// ---------------------------------------------------------------------------
// Literals. The Compile functions write their instructions at *codePosition
// (a word index into code, whose room is in words) and advance it; a literal
// that does not fit fails with 6 and writes nothing beyond the room.

struct NumericLiteral {
  bool integer;  // a typed integer literal such as 200uint8
  // Typed integers: the digits' value modulo 2^64, the class's size in bits.
  uint64_t bits;
  int size;
  bool isUnsigned;
  // Everything else is a double.
  double value;
  bool imaginary;
  bool single;
  bool plain;  // written without "." and without a negative exponent
};

// Reads the literal at the position (a digit, or "." and a digit) and moves
// past it. 174 (with the character) when a typed literal lacks "int" or
// "uint", 173 for a size other than 8, 16, 32 or 64.
[[nodiscard]] StatusCode ScanNumericLiteral(EngineContext* ctx, const char* text, int length, int* position,
                                            NumericLiteral* out);
[[nodiscard]] StatusCode EmitNumericLiteral(const NumericLiteral& literal, int16_t* code, int32_t room,
                                            int32_t* codePosition);
[[nodiscard]] StatusCode CompileNumericLiteral(EngineContext* ctx, const char* text, int length, int* position,
                                               int16_t* code, int32_t room, int32_t* codePosition);

// The string whose opening quote is at the position, with its escapes and
// doubled quotes, as PushString8, or PushString16 once a character needs 16
// bits. 164 when the text ends first, 165 for an unknown escape.
[[nodiscard]] StatusCode CompileStringLiteral(EngineContext* ctx, const char* text, int length, int* position,
                                              int16_t* code, int32_t room, int32_t* codePosition);

// ---------------------------------------------------------------------------
// Command syntax: «format long» is format('long').

// Whether the statement whose name starts at the position is a command.
bool IsCommandSyntax(EngineContext* ctx, const char* text, int length, int position);

// Writes the call that the command at the position stands for into out (room
// in bytes) and leaves the position where the command ended ("," ";", a line
// end, a comment or the end). 180 when the call does not fit, 164 for a
// quoted word without its closing quote.
[[nodiscard]] StatusCode ConvertCommandSyntax(EngineContext* ctx, const char* text, int length, int* position,
                                              char* out, int room, int* outLength, int32_t* line);

// ---------------------------------------------------------------------------
// Statement records, written by pass 1 into scratch memory and read by pass 2.

enum StatementClass : int32_t {
  kStatementQuiet = 0,  // expression or assignment ending with ";"
  kStatementShown = 1,  // the same, displaying its result
  kStatementIf = 3,
  kStatementElseif = 4,
  kStatementElse = 5,
  kStatementEnd = 6,
  kStatementSwitch = 7,
  kStatementCase = 8,
  kStatementOtherwise = 9,
  kStatementFor = 10,
  kStatementWhile = 11,
  kStatementRepeat = 12,
  kStatementUntil = 13,
  kStatementBreak = 14,
  kStatementContinue = 15,
  kStatementReturn = 16,
  kStatementTry = 18,
  kStatementCatch = 19,
  kStatementGlobal = 20,
  kStatementPersistent = 21,
};

// Five 32-bit words, then the target text and the expression text, each
// padded with zero bytes to a multiple of 4.
struct StatementRecord {
  int32_t cls;
  int32_t line;
  int32_t targets;           // assignment targets; for global and persistent the names
  int32_t targetLength;      // bytes
  int32_t expressionLength;  // bytes
};
static_assert(sizeof(StatementRecord) == 20);

constexpr int kStatementRecordWords = 5;

inline const char* RecordTargetText(const StatementRecord* r) { return reinterpret_cast<const char*>(r + 1); }
inline const char* RecordExpressionText(const StatementRecord* r) {
  return RecordTargetText(r) + ((r->targetLength + 3) & ~3);
}
inline int32_t StatementRecordWords(const StatementRecord* r) {
  return kStatementRecordWords + (r->targetLength + 3) / 4 + (r->expressionLength + 3) / 4;
}
inline const StatementRecord* NextStatementRecord(const StatementRecord* r) {
  return reinterpret_cast<const StatementRecord*>(reinterpret_cast<const int32_t*>(r) + StatementRecordWords(r));
}

// Finds the name at the position in a table of 32-byte slots or appends it,
// and moves past it. Declaring, a name already there answers 197 (its index
// is still given). 163 when no name starts there, 205 for a long name, 189
// with no table or no capacity, 182 when the table is full. A new varargin
// sets *marker to 1, a new varargout to 2; otherwise it is 0.
[[nodiscard]] StatusCode FindOrAddVariable(const char* text, int length, int* position, char* names, int32_t* count,
                                           int32_t capacity, bool declaring, int32_t* index, int* marker,
                                           EngineContext* ctx);

// Copies one statement from the position into destination (room in bytes),
// dropping blanks and comments outside square brackets and separating
// elements inside them, until a "," or ";" or line end outside brackets or
// the end of the text, which it leaves unconsumed. With targetCount given, the
// first "=" that is not part of a comparison splits the statement: the target
// text comes first, the expression at the next multiple of 4 bytes; without
// one (or without an "="), the whole text is the expression and the count 0.
[[nodiscard]] StatusCode CopyStatementText(EngineContext* ctx, const char* text, int length, int* position,
                                           char* destination, int room, int* expressionLength, int32_t* targetCount,
                                           int* targetLength, int32_t* line);

// Pass 1 over a whole text: statement records into scratch (room in 32-bit
// words), and in function mode the CompiledFunctionHeader with its input
// numbers and variable names into header (room in 16-bit words). Outside
// function mode the variables go to the caller's names table.
[[nodiscard]] StatusCode SplitStatements(EngineContext* ctx, int32_t* scratch, int32_t scratchWords,
                                         int32_t* scratchUsed, const char* text, int length, bool stopAtNextUnit,
                                         int16_t* header, int32_t outputWords, int32_t* headerWords, char* names,
                                         int32_t* nameCount, int32_t nameCapacity, bool functionMode,
                                         bool skipFunctionsAndDefinitions, int32_t* line);
