// The language engine's public face: status codes, the layout of values, the
// ServiceTable through which natives and extension libraries reach the engine,
// and the entry points a host calls. Everything the engine owns lives in one
// memory block that the host supplies; this header never exposes its header
// fields, only the table at its start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "engine/extension_abi.h"

// Interned names are negative offsets from the end of the symbol area; 0 is no name.
using SymbolId = int32_t;

// ---------------------------------------------------------------------------
// Status codes. Codes 1..1000 index the engine's message table; negative codes
// are user error identifiers (their SymbolId).

constexpr StatusCode kOk = 0;
constexpr StatusCode kDescStackFull = 1;
constexpr StatusCode kDescStackFullToo = 2;
constexpr StatusCode kDataStackFull = 3;
constexpr StatusCode kDataStackFullToo = 4;
constexpr StatusCode kHeapFull = 5;
constexpr StatusCode kCodeOverflow = 6;
constexpr StatusCode kSymbTableTooLarge = 7;
constexpr StatusCode kOutOfMem = 8;
constexpr StatusCode kUserError = 10;
constexpr StatusCode kUnknownError = 11;
constexpr StatusCode kIllegal = 12;
constexpr StatusCode kIncompSize = 20;
constexpr StatusCode kBadSize = 21;
constexpr StatusCode kNonMatrix = 25;
constexpr StatusCode kBadIndexType = 27;
constexpr StatusCode kNonIntegerIndex = 28;
constexpr StatusCode kIndexOutOfRange = 29;
constexpr StatusCode kDelMultipleDim = 30;
constexpr StatusCode kBadListIndex = 31;
constexpr StatusCode kWrongNumInd = 32;
constexpr StatusCode kIncompSelectionSize = 33;  // identifier incompSize, like 20
constexpr StatusCode kBadDim = 34;
constexpr StatusCode kWrongVarType = 35;
constexpr StatusCode kVarargoutNotList = 36;
constexpr StatusCode kNonStructVar = 37;  // identifier wrongVarType, like 35
constexpr StatusCode kNonListVar = 38;    // identifier wrongVarType, like 35
constexpr StatusCode kUndefField = 39;
constexpr StatusCode kInvalidFieldAccess = 40;
constexpr StatusCode kIncompAsgnSize = 41;
constexpr StatusCode kWrongBoolType = 42;
constexpr StatusCode kWrongTypeInternal = 43;  // an accessor's answer; handlers report 44
constexpr StatusCode kWrongType = 44;
constexpr StatusCode kInvalidID = 100;
constexpr StatusCode kSemAlrdyUnlocked = 101;
constexpr StatusCode kNonIntArg = 102;
constexpr StatusCode kOutOfRangeArg = 103;
constexpr StatusCode kNonScalarArg = 104;
constexpr StatusCode kNonObjectArg = 105;
constexpr StatusCode kNonPermutation = 106;
constexpr StatusCode kBadArg = 107;
constexpr StatusCode kUnknownOpt = 108;
constexpr StatusCode kObjTooLarge = 109;
constexpr StatusCode kUndefVar = 120;
constexpr StatusCode kUndefFun = 121;
constexpr StatusCode kUndefFunOrVar = 122;
constexpr StatusCode kUndefArgin = 123;
constexpr StatusCode kTooManyArgin = 124;
constexpr StatusCode kTooFewArgin = 125;
constexpr StatusCode kTooManyArgout = 126;
constexpr StatusCode kTooFewArgout = 127;
constexpr StatusCode kNotEnoughVarargoutEl = 128;
constexpr StatusCode kFreeListAssignment = 129;
constexpr StatusCode kSyntaxErr = 150;
constexpr StatusCode kMissingFunName = 151;
constexpr StatusCode kBadFunHeader = 152;
constexpr StatusCode kBadDefinition = 153;
constexpr StatusCode kMisplacedVarargin = 154;
constexpr StatusCode kMisplacedVarargout = 155;
constexpr StatusCode kUnexpectedPersistent = 156;
constexpr StatusCode kBadLibName = 157;
constexpr StatusCode kIncludeNotPermitted = 158;
constexpr StatusCode kMissingExpr = 159;
constexpr StatusCode kUnexpectedExpr = 160;
constexpr StatusCode kIncompleteExpr = 161;
constexpr StatusCode kBadForAssignment = 162;
constexpr StatusCode kBadVarName = 163;
constexpr StatusCode kUnterminatedString = 164;
constexpr StatusCode kUnknownEscape = 165;
constexpr StatusCode kUnexpectedComma = 166;
constexpr StatusCode kUnexpectedSemicolon = 167;
constexpr StatusCode kUnexpectedRightPar = 168;
constexpr StatusCode kUnexpectedRightBracket = 169;
constexpr StatusCode kUnexpectedRightBrace = 170;
constexpr StatusCode kUnexpectedColon = 171;
constexpr StatusCode kUnsupportedIntSize = 173;
constexpr StatusCode kUnrecognizedToken = 174;
constexpr StatusCode kMisplacedEnd = 175;
constexpr StatusCode kMisplacedBeginning = 176;
constexpr StatusCode kMisplacedMatrixrow = 177;
constexpr StatusCode kMisplacedMatrixcol = 178;
constexpr StatusCode kWrongIndex = 179;
constexpr StatusCode kCompOutOfMemory = 180;
constexpr StatusCode kTooManyNestedSubexpr = 181;
constexpr StatusCode kVarTableOverflow = 182;
constexpr StatusCode kExprTooLarge = 183;
constexpr StatusCode kTooManyNestedPar = 184;
constexpr StatusCode kTooManyNestedBlocks = 185;
constexpr StatusCode kIncorrectNargin = 186;
constexpr StatusCode kIncorrectNargout = 187;
constexpr StatusCode kVarNotFound = 189;
constexpr StatusCode kUnboundedConstruct = 190;
constexpr StatusCode kUnexpectedEnd = 191;
constexpr StatusCode kUnexpectedElse = 192;
constexpr StatusCode kUnexpectedCase = 193;
constexpr StatusCode kUnexpectedCatch = 194;
constexpr StatusCode kUnexpectedBreak = 195;
constexpr StatusCode kUnexpectedUntil = 196;
constexpr StatusCode kReusedVarName = 197;
constexpr StatusCode kTooManyUserFun = 198;
constexpr StatusCode kFunAlreadyDefined = 199;
constexpr StatusCode kFunNotFound = 200;
constexpr StatusCode kUnknownFun = 201;
constexpr StatusCode kUnexpectedExprEnd = 202;
constexpr StatusCode kUnexpectedStatement = 203;
constexpr StatusCode kNullName = 204;
constexpr StatusCode kNameTooLong = 205;
constexpr StatusCode kBadFunRef = 206;
constexpr StatusCode kBadAnonFun = 207;
constexpr StatusCode kUnexpectedFunHeader = 208;
constexpr StatusCode kUnexpectedEndFunction = 209;
constexpr StatusCode kUnexpectedConstDef = 210;
constexpr StatusCode kExpectedFunHeader = 211;
constexpr StatusCode kBadAsgnVar = 212;
constexpr StatusCode kBadForVar = 213;
constexpr StatusCode kSrcNotFound = 214;
constexpr StatusCode kLibNotFound = 215;
constexpr StatusCode kIncludeSyntax = 216;
constexpr StatusCode kIncludeDepth = 217;
constexpr StatusCode kNotMine = 300;    // source hook: try the next one
constexpr StatusCode kBadFileId = 301;  // stream hook: not my descriptor
constexpr StatusCode kIoErr = 302;
constexpr StatusCode kEof = 305;
constexpr StatusCode kBadContext = 400;
constexpr StatusCode kAssert = 401;
constexpr StatusCode kSecViolation = 403;
constexpr StatusCode kSecViolationGlobal = 404;
constexpr StatusCode kSuspended = 500;
constexpr StatusCode kHalted = 501;
constexpr StatusCode kWouldBlock = 502;
constexpr StatusCode kWaitingForInput = 503;
constexpr StatusCode kYield = 504;
constexpr StatusCode kDebugStop = 505;
constexpr StatusCode kInitError = 600;
constexpr StatusCode kNotSupported = 1000;

// An accessor's 43 (a value of another kind) is reported to the user as the
// wrong-type error 44; every other status passes unchanged.
[[nodiscard]] constexpr StatusCode ReportedStatus(StatusCode st) { return st == kWrongTypeInternal ? kWrongType : st; }

// ---------------------------------------------------------------------------
// Values. A value is a ValueDescriptor (three 32-bit words on the descriptor
// stack) plus a run of 8-byte cells on the data stack. Composite values embed
// their elements, so a nested value is one contiguous run of cells.

union Cell {
  double f;
  int64_t i;
  uint64_t u;
  int32_t iw[2];
  uint32_t w[2];
  uint16_t h[4];
  uint8_t b[8];
};
static_assert(sizeof(Cell) == 8);

// Flags of descriptor word 0. No flag but kComplex: a plain 2-D double matrix.
enum ValueKind : uint32_t {
  kComplex = 0x01,    // only on plain double matrices
  kBoxed = 0x02,      // the cells hold a typed payload
  kComposite = 0x04,  // the cells hold a sequence of elements
  kLink = 0x08,       // global/persistent link in the heap; a reference on the stack
  kVoid = 0x10,       // no value; never displayed
  kTagged = 0x20,     // no cells, the integer in word 2
};

struct ValueDescriptor {
  uint32_t kind;
  int32_t cells;
  int32_t extra;  // columns of a plain matrix, subtype, or the tagged integer
};
static_assert(sizeof(ValueDescriptor) == 12);

enum BoxedSubtype : int32_t {
  kInlineFunction = 1,
  kFunctionRef = 2,
  kNumericArray = 3,  // integer classes, single, double with more than 2 dims
  kCharArray = 4,
  kLogicalArray = 5,
  kFirstNativeClass = 6,  // objects of native libraries: the subtype is the class id
};

// Composite subtypes; a negative subtype is an object whose class is that SymbolId.
enum CompositeSubtype : int32_t {
  kList = 0,
  kStruct = 1,
  kCellArray = 2,
  kStructArray = 3,
  kFreeList = 4,
};

enum ElementClass : uint32_t {
  kInt8 = 1,
  kInt16 = 2,
  kInt32 = 4,
  kInt64 = 8,
  kUint8 = 129,   // also the class of logical arrays
  kUint16 = 130,  // also the class of character arrays
  kUint32 = 132,
  kUint64 = 136,
  kDouble = 64,
  kComplexDouble = 65,
  kSingle = 66,
  kComplexSingle = 67,
};

// Each element of a composite: the element's own descriptor plus its field name.
struct CompositeElementHeader {
  uint32_t kind;
  int32_t cells;
  int32_t extra;
  SymbolId name;  // 0 for unnamed elements
};
static_assert(sizeof(CompositeElementHeader) == 2 * sizeof(Cell));

constexpr int64_t kMaxIntegerElements = 100'000'000;       // integer, char, logical; status 109 beyond
constexpr int64_t kMaxFloatArrayElements = 1'073'741'823;  // boxed double/single; status 109 beyond
constexpr int64_t kMaxPlainCells = 2'147'483'647;          // plain double matrix; status 109 beyond
constexpr int kMaxDims = 32;

// Bytes one element of a class takes (real and imaginary part together).
constexpr int ElementBytes(uint32_t cls) {
  switch (cls) {
    case kDouble:
      return 8;
    case kComplexDouble:
      return 16;
    case kSingle:
      return 4;
    case kComplexSingle:
      return 8;
    default:
      return static_cast<int>(cls & 0x7F);
  }
}

constexpr bool IsKnownElementClass(uint32_t cls) {
  switch (cls) {
    case kInt8:
    case kInt16:
    case kInt32:
    case kInt64:
    case kUint8:
    case kUint16:
    case kUint32:
    case kUint64:
    case kDouble:
    case kComplexDouble:
    case kSingle:
    case kComplexSingle:
      return true;
    default:
      return false;
  }
}

constexpr bool IsComplexClass(uint32_t cls) { return cls == kComplexDouble || cls == kComplexSingle; }

constexpr bool IsFloatClass(uint32_t cls) {
  return cls == kDouble || cls == kComplexDouble || cls == kSingle || cls == kComplexSingle;
}

constexpr bool IsIntegerClass(uint32_t cls) { return IsKnownElementClass(cls) && !IsFloatClass(cls); }

// The ArrayHeader is {class, ndims, dims...} padded to whole cells; the
// elements start at this payload cell.
constexpr int ArrayDataCell(int ndims) { return (ndims + 3) / 2; }

// Payload cells of a boxed array: header cells plus the element bytes rounded up.
constexpr int64_t ArrayPayloadCells(uint32_t cls, int ndims, int64_t count) {
  return ArrayDataCell(ndims) + (count * ElementBytes(cls) + 7) / 8;
}

// Rows of a plain double matrix: cells / columns, halved when complex.
inline int32_t PlainRows(const ValueDescriptor& d) {
  if (d.extra == 0) return 0;
  return d.cells / d.extra / ((d.kind & kComplex) ? 2 : 1);
}

// Writes {class, ndims, dims..., pad} at the start of a boxed array's payload
// and returns the cell at which the elements start.
Cell* WriteArrayHeader(Cell* payload, uint32_t cls, const uint32_t* dims, int ndims);

// Brings a dimension list to the constructors' canonical form: at least two
// dimensions, trailing ones beyond the second dropped, any zero making 0 x 0.
// Returns the new number of dimensions.
int NormalizeDimensions(uint32_t* dims, int ndims);

// Storage index of 0-based subscripts: pages of rows x columns, each row by
// row, the third dimension varying fastest among the pages.
int64_t ArrayElementIndex(const uint32_t* dims, int ndims, const uint32_t* subs);

// ---------------------------------------------------------------------------
// Bringing a context to life.

// The smallest block InitEngineContext accepts.
constexpr size_t kMinEngineBlockBytes = 7336;

// Lays out a fresh engine in the block and stores the context pointer (the
// block's own address) in *out first. 600 for a null block, a block under the
// minimum size or over 2 GiB, or one not aligned to 8 bytes; the block is then
// left untouched.
[[nodiscard]] StatusCode InitEngineContext(void* block, size_t bytes, EngineContext** out);

const char* GetEngineVersionText();

// ---------------------------------------------------------------------------
// The core library. The engine runs the builtins of the core library (and
// shows and joins values) through this table, which the library provides and
// the host installs once after InitEngineContext; until then those builtins
// answer 1000. The table must outlive the context.

using BuiltinHandler = StatusCode (*)(EngineContext* ctx, const int16_t* ins);

struct CoreLibraryTable {
  const BuiltinHandler* builtins;  // indexed by opcode; null where the library has none
  int32_t builtinCount;            // the engine's opcode count
  // The automatic display of an unterminated statement: "name =" and the value.
  StatusCode (*displayStatementResult)(EngineContext* ctx, int32_t variable, bool allowObjects, bool drop);
  // Shows the value on top on the descriptor; with drop it is popped after.
  StatusCode (*displayTopValue)(EngineContext* ctx, int32_t descriptor, bool drop);
};

// 600 for a table of another opcode count or without its display functions.
[[nodiscard]] StatusCode InstallCoreLibrary(EngineContext* ctx, const CoreLibraryTable* table);

// ---------------------------------------------------------------------------
// Symbols.

SymbolId FindSymbol(const EngineContext* ctx, const char* name, int length);
[[nodiscard]] StatusCode InternSymbol(EngineContext* ctx, const char* name, int length, int maxLength, SymbolId* out);

// The text of an id: its length and a pointer to its first byte (no terminator).
int SymbolLength(const EngineContext* ctx, SymbolId id);
const char* SymbolText(const EngineContext* ctx, SymbolId id);
// Whether id is the start of an entry of the symbol area: what a reader of
// untrusted code words checks before it trusts a name.
bool IsSymbolEntry(const EngineContext* ctx, SymbolId id);

// ---------------------------------------------------------------------------
// The value stack. Positions count from the top: 0 is the last value pushed,
// so a native's first input is at position nargin - 1. A push that hands back
// data pointers leaves the data for the caller to fill before the next push;
// pointers into the stacks are good until the next push or rearrangement. A
// push or conversion that fails for lack of room changes nothing (1: the
// descriptor stack, 3: the data stack), so the host can grow and repeat.
// Getters answer 43 for a value of another kind and change nothing. Out
// pointers may be null unless noted.

// Construction.
[[nodiscard]] StatusCode PushEmptyMatrix(EngineContext* ctx);
[[nodiscard]] StatusCode PushVoidValue(EngineContext* ctx);
[[nodiscard]] StatusCode PushTaggedInteger(EngineContext* ctx, int32_t v);
bool GetTaggedInteger(EngineContext* ctx, int position, int32_t* v);
[[nodiscard]] StatusCode PushRealScalar(EngineContext* ctx, double x);
[[nodiscard]] StatusCode PushInf(EngineContext* ctx);
[[nodiscard]] StatusCode PushNaN(EngineContext* ctx);
[[nodiscard]] StatusCode PushLogicalScalar(EngineContext* ctx, uint8_t b);
[[nodiscard]] StatusCode PushComplexScalar(EngineContext* ctx, double re, double im);
[[nodiscard]] StatusCode PushZeroMatrix(EngineContext* ctx, int32_t m, int32_t n, bool complex);
// re is always written; im, when asked for, makes the matrix complex.
[[nodiscard]] StatusCode PushDoubleMatrix(EngineContext* ctx, int32_t m, int32_t n, double** re, double** im);
[[nodiscard]] StatusCode PushDoubleArray(EngineContext* ctx, int ndims, const int32_t* dims, double** re, double** im);
[[nodiscard]] StatusCode PushSingleArray(EngineContext* ctx, int ndims, const int32_t* dims, float** re, float** im);
[[nodiscard]] StatusCode PushIntegerArray(EngineContext* ctx, int ndims, const int32_t* dims, int elementBytes,
                                          bool isUnsigned, void** data);
[[nodiscard]] StatusCode PushCharArray(EngineContext* ctx, int ndims, const int32_t* dims, uint16_t** data);
[[nodiscard]] StatusCode PushCharRow(EngineContext* ctx, int32_t n, uint16_t** data);
[[nodiscard]] StatusCode PushLogicalArray(EngineContext* ctx, int ndims, const int32_t* dims, uint8_t** data);
[[nodiscard]] StatusCode PushBoxedValue(EngineContext* ctx, int32_t subtype, int64_t bytes, void** payload);
[[nodiscard]] StatusCode PushNativeObject(EngineContext* ctx, int64_t bytes, void** payload);

// Popping and reading. Pops remove the value only on success.
[[nodiscard]] StatusCode PopDoubleMatrix(EngineContext* ctx, int32_t* m, int32_t* n, double** re, double** im);
[[nodiscard]] StatusCode PopRealScalar(EngineContext* ctx, double* x);
[[nodiscard]] StatusCode PopComplexScalar(EngineContext* ctx, double* re, double* im);
[[nodiscard]] StatusCode GetRealScalarArg(EngineContext* ctx, int position, double* x);
[[nodiscard]] StatusCode GetIntegerScalarArg(EngineContext* ctx, int position, int32_t* i);
[[nodiscard]] StatusCode PopIntegerScalar(EngineContext* ctx, int32_t* i);
[[nodiscard]] StatusCode GetBooleanArg(EngineContext* ctx, int position, uint8_t* b);
[[nodiscard]] StatusCode PopBoolean(EngineContext* ctx, uint8_t* b);
[[nodiscard]] StatusCode TestArgAllNonzero(EngineContext* ctx, int position, uint8_t* b);
[[nodiscard]] StatusCode PopConditionValue(EngineContext* ctx, uint8_t* b);
[[nodiscard]] StatusCode GetDoubleMatrixArg(EngineContext* ctx, int position, int32_t* m, int32_t* n, double** re,
                                            double** im);
// dims must have room for the value's dimensions (kMaxDims always suffices).
[[nodiscard]] StatusCode GetArgDims(EngineContext* ctx, int position, int* ndims, int32_t* dims, int64_t* count);
[[nodiscard]] StatusCode GetDoubleArrayArg(EngineContext* ctx, int position, int* ndims, int32_t* dims, int64_t* count,
                                           double** re, double** im);
[[nodiscard]] StatusCode GetSingleArrayArg(EngineContext* ctx, int position, int* ndims, int32_t* dims, int64_t* count,
                                           float** re, float** im);
[[nodiscard]] StatusCode GetIntegerArrayArg(EngineContext* ctx, int position, int* ndims, int32_t* dims, int64_t* count,
                                            int* elementBytes, bool* isUnsigned, void** data);
[[nodiscard]] StatusCode GetBoxedArg(EngineContext* ctx, int position, int32_t* subtype, int64_t* bytes,
                                     void** payload);
[[nodiscard]] StatusCode GetNativeObjectArg(EngineContext* ctx, int position, int64_t* bytes, void** payload);

bool IsCharArg(EngineContext* ctx, int position);
bool IsLogicalArg(EngineContext* ctx, int position);
bool IsListOrCellArg(EngineContext* ctx, int position);
bool IsStructArg(EngineContext* ctx, int position);
bool IsObjectArg(EngineContext* ctx, int position);

// Checks the top nargin arguments against a letter string (see valuestack.cpp);
// 0 or 44.
[[nodiscard]] StatusCode CheckArgTypes(EngineContext* ctx, int nargin, const char* types);

// Numeric classes. Conversions that change a value's size rotate it to the
// top, convert it there and rotate it back, so other values keep their places.
[[nodiscard]] StatusCode UnifyNumericArgs(EngineContext* ctx, int n);
[[nodiscard]] StatusCode CheckElementwiseArgs(EngineContext* ctx, int n, int* ndims, int32_t* dims, int64_t* count,
                                              double** re, double** im, float** sre, float** sim, void** ints,
                                              int* elementBytes, bool* isUnsigned, uint8_t* isArray);
[[nodiscard]] StatusCode DropImaginaryPart(EngineContext* ctx);
[[nodiscard]] StatusCode MakeTopComplex(EngineContext* ctx, void** imag);
// position >= 0 converts that argument; -n converts the top n.
[[nodiscard]] StatusCode ConvertArgsToFloat(EngineContext* ctx, int position, bool toSingle, bool* converted);
[[nodiscard]] StatusCode ConvertArgToIntegerClass(EngineContext* ctx, int position, int elementBytes, bool isUnsigned,
                                                  bool check);
// The integer a float element becomes before an integer conversion keeps its
// low bytes: truncated toward zero; NaN, infinities and magnitudes from 2^63
// on give -2^63. Whoever turns a double into an integer calls this, never a cast.
int64_t TruncateToInt64(double x);
[[nodiscard]] StatusCode ConvertArgToLogical(EngineContext* ctx, int position);

// Strings: character arrays hold 16-bit codes; 8-bit text is widened byte by
// byte and narrowed to the low byte. A length of -1 means NUL-terminated.
[[nodiscard]] StatusCode PushStringFromBytes(EngineContext* ctx, int64_t length, const char* text);
[[nodiscard]] StatusCode PushStringFromWideText(EngineContext* ctx, int64_t length, const uint16_t* text);
[[nodiscard]] StatusCode PushStringFromUtf8(EngineContext* ctx, int64_t length, const char* text);
[[nodiscard]] StatusCode PushStringFromCharsetText(EngineContext* ctx, int64_t length, const char* text);
// Reserve a row to write into (-1: all free space, -2: half of it), then
// Finish with the number of units written.
[[nodiscard]] StatusCode ReserveStringBuffer(EngineContext* ctx, int64_t* length, char** buffer);
[[nodiscard]] StatusCode FinishStringBuffer(EngineContext* ctx, int64_t n);
[[nodiscard]] StatusCode ReserveWideStringBuffer(EngineContext* ctx, int64_t* length, uint16_t** buffer);
[[nodiscard]] StatusCode FinishWideStringBuffer(EngineContext* ctx, int64_t n);
[[nodiscard]] StatusCode ReserveEncodedTextBuffer(EngineContext* ctx, int64_t* length, char** buffer);
[[nodiscard]] StatusCode FinishUtf8TextBuffer(EngineContext* ctx, int64_t n);
[[nodiscard]] StatusCode FinishCharsetTextBuffer(EngineContext* ctx, int64_t n);
[[nodiscard]] StatusCode CopyStringArgToBuffer(EngineContext* ctx, int position, char* buffer, int64_t size,
                                               int64_t* length);
[[nodiscard]] StatusCode PopStringToBuffer(EngineContext* ctx, char* buffer, int64_t size, int64_t* length);
// Narrows the argument in place: the value is spent afterwards; drop it.
[[nodiscard]] StatusCode GetStringArg(EngineContext* ctx, int position, const char** text, int64_t* length);
[[nodiscard]] StatusCode EncodeCharArg(EngineContext* ctx, int position, bool addNul, uint8_t** data, int64_t* length);

// Composites.
[[nodiscard]] StatusCode GetListArg(EngineContext* ctx, int position, int32_t* count, CompositeElementHeader** first);
[[nodiscard]] StatusCode GetCompositeInfo(const ValueDescriptor* d, CompositeElementHeader* first, char selector,
                                          int* ndims, int32_t* dims, int64_t* count, int32_t* fieldCount,
                                          CompositeElementHeader** firstItem);
[[nodiscard]] StatusCode GetCompositeArgInfo(EngineContext* ctx, int position, char selector, int* ndims, int32_t* dims,
                                             int64_t* count, int32_t* fieldCount, CompositeElementHeader** firstItem);
[[nodiscard]] StatusCode GetCellArgInfo(EngineContext* ctx, int position, int* ndims, int32_t* dims, int64_t* count,
                                        int32_t* fieldCount, CompositeElementHeader** firstItem);
[[nodiscard]] StatusCode MakeListFromValues(EngineContext* ctx, int n, bool append, const char* name, int nameLength);
[[nodiscard]] StatusCode PushEmptyCellArray(EngineContext* ctx, int ndims, const int32_t* dims);
[[nodiscard]] StatusCode ReshapeTopValue(EngineContext* ctx, int ndims, const int32_t* dims);
[[nodiscard]] StatusCode ReshapeTopCellArray(EngineContext* ctx, int ndims, const int32_t* dims);
[[nodiscard]] StatusCode ConvertTopToStructArray(EngineContext* ctx);
[[nodiscard]] StatusCode PushListElement(EngineContext* ctx, int position, int32_t index);
[[nodiscard]] StatusCode PushStructField(EngineContext* ctx, int position, const char* name, int length);
[[nodiscard]] StatusCode ExplodeTopList(EngineContext* ctx, int32_t* count);
[[nodiscard]] StatusCode GetStructFieldName(EngineContext* ctx, int position, int32_t index, const char** name,
                                            int* length);

// Copies out of the stacks: three doubles holding the descriptor words, then the cells.
// Both always answer 0; the caller provides the room.
[[nodiscard]] StatusCode GetValueSize(EngineContext* ctx, int position, int64_t* size);
[[nodiscard]] StatusCode CopyValueOut(EngineContext* ctx, int position, double* copy);
[[nodiscard]] StatusCode PushCopiedValue(EngineContext* ctx, const double* copy);

// Stack operations. Dropping, rotating and reversing move values in place and
// always answer 0, as does GetFreeDataSpace.
[[nodiscard]] StatusCode GetScratchAtDataEnd(EngineContext* ctx, int64_t n, Cell** pointer);
[[nodiscard]] StatusCode GetFreeDataSpace(EngineContext* ctx, int64_t* bytes, Cell** pointer);
[[nodiscard]] StatusCode DropArgsUnderResults(EngineContext* ctx, int k, int n);
[[nodiscard]] StatusCode RotateValues(EngineContext* ctx, int n, int k);
[[nodiscard]] StatusCode ReverseValues(EngineContext* ctx, int n);
[[nodiscard]] StatusCode DuplicateValues(EngineContext* ctx, int d, int k);
[[nodiscard]] StatusCode TransposeTopMatrix(EngineContext* ctx);

// Ranges: a 1 x count row from start by repeated addition of step, single
// with the flag. The real count is colon's (109 beyond 2^31 - 1 elements, a
// count not above 0 giving []); a complex range counts the points whose
// projection onto stop - start stays within it (109 beyond 2^30 - 1).
[[nodiscard]] StatusCode PushRange(EngineContext* ctx, double start, double stop, double step, bool single);
[[nodiscard]] StatusCode PushComplexRange(EngineContext* ctx, double startRe, double startIm, double stopRe,
                                          double stopIm, double stepRe, double stepIm, bool single);

// Descriptors: writing and reading through the hooks.

constexpr int32_t kStdinDescriptor = 0;
constexpr int32_t kStdoutDescriptor = 1;
constexpr int32_t kStderrDescriptor = 2;
constexpr int32_t kQuietDescriptor = 3;  // dropped silently when no writer is registered
constexpr int32_t kHelpDescriptor = 4;
constexpr int32_t kMemoryDescriptor = 5;  // never reaches the hooks
constexpr int32_t kAllDescriptors = -1;   // "+fclose": close every descriptor of the hook
constexpr int32_t kFirstRangeDescriptor = 1024;

// Hook handlers, stored in a record's handler field. Each answers 301 for a
// descriptor it does not own, so that the next hook of the name is asked.
// The style byte of a hook record (its minInputs) chooses the newline of a
// "+write" hook (1 LF, 2 CR LF, anything else CR); a "+read" hook with a style
// byte other than 0 delivers whole lines itself.
using WriteHook = StatusCode (*)(EngineContext* ctx, int32_t descriptor, const char* bytes, int32_t length,
                                 void* userData);
using ReadHook = StatusCode (*)(EngineContext* ctx, int32_t descriptor, char* buffer, int32_t capacity, int32_t* count,
                                void* userData);
using CloseHook = StatusCode (*)(EngineContext* ctx, int32_t descriptor, void* userData);
// *value holds the request's argument on entry and receives the answer.
using ControlHook = StatusCode (*)(EngineContext* ctx, int32_t descriptor, int32_t code, int32_t* value,
                                   void* userData);
using BufferingHook = StatusCode (*)(EngineContext* ctx, int32_t descriptor, int32_t on, void* userData);

// Codes of ControlDescriptor; other codes reach the hooks unchanged.
enum DescriptorControl : int32_t {
  kControlEof = 0,        // answer: non-zero at end of file
  kControlSeekStart = 1,  // argument: offset
  kControlSeekCurrent = 2,
  kControlSeekEnd = 3,
  kControlTell = 4,  // answer: the position
  kControlFlush = 5,
  kControlClear = 6,
  kControlBeforeRead = 7,  // sent before a raw read; the answer is ignored
};

// Writing. A length of -1 means a NUL-terminated text. Descriptors 1 and 2
// follow their redirection; with no "+write" hook registered at all, writes
// to 1, 2 and 3 succeed without effect. 301 when no hook claims the
// descriptor, 3 when the memory buffer of descriptor 5 is full.
[[nodiscard]] StatusCode WriteToDescriptor(EngineContext* ctx, int32_t descriptor, const char* bytes, int32_t length);
// The double in the 'g' form with the display's digit count.
[[nodiscard]] StatusCode WriteNumberToDescriptor(EngineContext* ctx, int32_t descriptor, double value);
// Each hook receives its own newline convention.
[[nodiscard]] StatusCode WriteNewlineToDescriptor(EngineContext* ctx, int32_t descriptor);
[[nodiscard]] StatusCode SetDescriptorBuffering(EngineContext* ctx, int32_t descriptor, int32_t on);

// Stores argument in a value word and asks the "+iocontrol" hooks. The answer
// of code 0 goes to *atEnd, that of code 4 to *position (either may be null);
// both are written only when a hook answered.
[[nodiscard]] StatusCode ControlDescriptor(EngineContext* ctx, int32_t descriptor, int32_t code, int32_t argument,
                                           int32_t* position, bool* atEnd);

// Reads up to capacity bytes. In line mode the read ends after a line end,
// stored as one LF whether it was LF, CR or CR LF; without a byte available yet
// the answer is 502 and the caller calls again later for the rest of the line.
// *count receives the bytes stored on every answer (502 and 305 included).
// 305 at end of input with nothing read; 301 when no hook claims the
// descriptor (305 for descriptor 0 when no "+read" hook answers).
[[nodiscard]] StatusCode ReadFromDescriptor(EngineContext* ctx, int32_t descriptor, char* buffer, int32_t capacity,
                                            bool lineMode, int32_t* count);

// Formatted output. The top n values are a format (the deepest, a char
// array: else 107) and its values, whose numeric, char and logical elements
// the format takes, used again from its start while elements remain. Without
// an out text the result is a 1 x length char row pushed on top; with one it
// is encoded through the charset and left in the free data space (good until
// the next push), *length its bytes. An input that is no such array ends the
// text where it stands and answers 44 with the result made all the same; the
// other failures push nothing. translate turns line feeds into the line end
// of the first "+write" hook that answers for descriptor 1.
[[nodiscard]] StatusCode FormatPrintfArguments(EngineContext* ctx, int n, bool translate, const char** text,
                                               int64_t* length);
// That line end, NUL-terminated in three bytes: LF for style 1 and when no
// hook answers, CR LF for style 2, CR for any other style.
void GetHookLineEnd(EngineContext* ctx, char* lineEnd);

// The first number of n fresh descriptors; numbers are never given back.
// -1 for a negative n or when the numbers would run past the 32-bit range.
int32_t AllocateDescriptorRange(EngineContext* ctx, int32_t n);

// -1 asks every hook to close all of its descriptors.
[[nodiscard]] StatusCode CloseDescriptor(EngineContext* ctx, int32_t descriptor);

// Sends descriptor 1 or 2 to target instead (copy clear) or as well (copy
// set); a target equal to the descriptor undoes it. 301 for other descriptors.
[[nodiscard]] StatusCode SetStandardRedirection(EngineContext* ctx, int32_t descriptor, int32_t target, bool copy);

// Frames and breaks, as hosts and natives see them. "+onabort" hooks are
// called as handler(context, user data).

// Level 0: every frame but the base frame (and no code); -1: down to the frame
// stopped in the debugger; n > 0: every frame at position n or above, then the
// values above n. Always answers 0.
[[nodiscard]] StatusCode UnwindFrames(EngineContext* ctx, int32_t level);
bool IsAnyFunctionActive(EngineContext* ctx);
[[nodiscard]] StatusCode GetDescriptorStackLength(EngineContext* ctx, int32_t* length);
// Two words: the code space and the byte offset.
[[nodiscard]] StatusCode GetExecutionPosition(EngineContext* ctx, int32_t* position);
[[nodiscard]] StatusCode SetExecutionPosition(EngineContext* ctx, const int32_t* position);
using AbortHook = void (*)(EngineContext* ctx, void* userData);

bool PollBreak(EngineContext* ctx);
// MarkReachableHeapBlocks, then the base frame, holding "ans", at position 0.
[[nodiscard]] StatusCode ResetEngineToBaseFrame(EngineContext* ctx);

// ---------------------------------------------------------------------------
// Native libraries. A library is a static run of records ended by one with an
// empty name; the engine records runs in a list, in registration order, and
// numbers their records across the list (native g runs under opcode 333 + g).
// Names beginning with "@" or "!" are library headers ("!": the natives after
// it may run in sandboxed frames); names beginning with "+" are hooks.

// NativeHandler and NativeFunctionRecord: engine/extension_abi.h.

// Hooks keep handlers of their own signatures in the record's handler field;
// converting through void (*)() is the one cast between function types meant.
template <class F>
NativeHandler AsNativeHandler(F* fn) {
  return reinterpret_cast<NativeHandler>(reinterpret_cast<void (*)()>(fn));
}
template <class F>
F HandlerAs(NativeHandler handler) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(handler));
}

[[nodiscard]] StatusCode InstallNativeLibrary(EngineContext* ctx, const NativeFunctionRecord* records, bool prepend);
[[nodiscard]] StatusCode SetLibraryFlagByName(EngineContext* ctx, const char* name, uint8_t flag);
void SetNativeDefaultUserData(EngineContext* ctx, void* userData);
void SetNativeUserDataByHandler(NativeFunctionRecord* records, NativeHandler handler, void* userData);
const NativeFunctionRecord* GetNativeRecordByIndex(EngineContext* ctx, int g);
const char* GetNativeClassName(EngineContext* ctx, int32_t classId);
void SetBreakPollCallback(EngineContext* ctx, bool (*callback)(void* userData), void* userData);

// Extension libraries (shared objects; their side is engine/extension_abi.h).
// They load before the first command: afterwards every load gives 600. A
// relative path is taken from the executable's folder; the folder "RVOExt"
// beside it when none is given. With a filter, a file is loaded only when its
// name begins with it (ASCII case ignored) followed by '.' or nothing. The
// report callback gets each loaded file's path as UTF-8.
using ExtensionReportFn = void (*)(const char* path, void* data);
// Single file: that file's status. A folder: 0, however many files failed.
[[nodiscard]] StatusCode LoadExtensionLibraries(EngineContext* ctx, void* installArgument, const char* path,
                                                bool singleFile, const char* filter, int filterLength,
                                                ExtensionReportFn report, void* reportData);
// 0 when loaded or skipped by the filter; 600 when the file cannot be loaded,
// has neither interface, or finds its interface's table full.
[[nodiscard]] StatusCode LoadExtensionLibrary(EngineContext* ctx, void* installArgument, const char* path,
                                              const char* filter, int filterLength, ExtensionReportFn report,
                                              void* reportData);
void FillExtensionCallbackBlock(EngineContext* ctx, ExtensionCallbackBlock* block);
// Calls an older-interface function on the top nargin values and leaves its
// first nargout results in their place, the first on top.
[[nodiscard]] StatusCode CallExtensionFunction(EngineContext* ctx, ExtensionFunction fn, int nargin, int nargout);
// The handler of their wrapper records; the user data is the function.
[[nodiscard]] StatusCode CallOlderExtensionFunction(EngineContext* ctx, int nargin, int nargout, void* userData);

// Growth of the block under a running command. When an instruction or a
// command line's compilation fails for room (1-6, 180-183, 198), the engine
// asks the host, with the status of the region that ran short (1-6: the
// compiler's records and texts lie in the data stack, its operator stack and
// a command line's names in the descriptor stack, the function table in the
// code area), to be given to RelocateEngineContext, and the bytes the
// operation asked for (-1 when unknown). A host that grew the block where it lies (the context keeps
// its address; RelocateEngineContext repartitions it) answers kGrown, and the
// operation is repeated; kOutOfMemory turns the failure into status 8 naming
// the size; kDeclined leaves it as it was. Only what can be repeated safely
// is offered: nothing of a nested run, nor an instruction that wrote or read
// through a descriptor before it failed. Threads switch between instructions
// only, so a repeated instruction runs in the thread it failed in.
enum class BlockGrowth { kDeclined, kGrown, kOutOfMemory };
using BlockGrowthCallback = BlockGrowth (*)(EngineContext* ctx, StatusCode st, int64_t bytesAsked, void* userData);
void SetBlockGrowthCallback(EngineContext* ctx, BlockGrowthCallback callback, void* userData);
void SetLineInfoFlag(EngineContext* ctx, uint8_t flag);
void SetCodeOptions(EngineContext* ctx, int32_t optimisationLevel, uint8_t discardAssert);

// ---------------------------------------------------------------------------
// Errors. A message table is an array of records ended by one with a null
// message, registered as a native record named "+errmsgtable" whose handler
// field holds the table's address. The first record of a code holds its plain
// message; a later record of the same code its detailed template.

struct ErrorRecord {
  int32_t code;
  const char* identifier;
  const char* message;
};

// The engine's own tables as a run of "+errmsgtable" records, for the host's
// static native table.
extern const NativeFunctionRecord kEngineMessageTables[];

// Always answers 0.
[[nodiscard]] StatusCode ClearError(EngineContext* ctx);
[[nodiscard]] StatusCode FindErrorCodeByIdentifier(EngineContext* ctx, const char* text, int length);
// v: a variable of the current function or -1; s: a symbol or 0; k: an integer
// or -1; t: a text or null. Answers the code raised.
[[nodiscard]] StatusCode RaiseError(EngineContext* ctx, StatusCode code, int v, SymbolId s, int64_t k, const char* t);
[[nodiscard]] StatusCode PrintError(EngineContext* ctx, StatusCode code, bool store);
// Where the current error happened: the innermost function frame and the
// position (0: that frame's line).
void SetErrorLocation(EngineContext* ctx, StatusCode code, int32_t position);
// The failing function's name as text and the failing operation's name;
// answers the error's line, 0 or less without one.
int32_t GetErrorLocationText(EngineContext* ctx, char* buffer, int size, char* name, int nameSize);
// The last error's text for the code, NUL-terminated inside size.
void GetLastErrorText(EngineContext* ctx, StatusCode code, bool raise, char* buffer, int64_t size, int64_t* length);
[[nodiscard]] StatusCode RaiseErrorWithIdentifier(EngineContext* ctx, const char* identifier, int identifierLength,
                                                  const char* message, int64_t messageLength);

// ---------------------------------------------------------------------------
// Host services: the text charset, qualified names of function-store entries,
// the display settings, the queue of pending calls, copies of argument values
// for a later call, calls of natives by name and kind, named items, and text
// encoded with line ends.

// 'u' UTF-8 with its byte-order mark; 's' or 'G' the double-byte charset; any
// other letter plain 8-bit text.
void SetTextCharset(EngineContext* ctx, char letter);
// Encodes one character with the selected charset at *position (nothing when
// it does not fit); false when plain 8-bit text is selected, so the caller
// writes the low byte itself.
bool EncodeCharWithCharset(EngineContext* ctx, uint16_t ch, char* buffer, int* position, int size);

// "lib/" ("lib/." when private), then "qualifier::", then the name, always
// NUL-terminated inside size; *length gets the bytes before the NUL. 100 bytes
// hold any three names with their separators.
void FormatQualifiedFunctionName(EngineContext* ctx, int32_t entry, char* buffer, int size, int* length);

// The host word and flag are kept for the host only; the engine never reads them.
void SetEngineDisplayFormat(EngineContext* ctx, char format, int32_t digits, char imagUnit, bool loose,
                            int32_t hostWord, bool hostFlag);
// Every output may be null.
void GetEngineDisplayFormat(EngineContext* ctx, char* format, int32_t* digits, char* imagUnit, bool* loose,
                            int32_t* hostWord, bool* hostFlag);

// Pending calls run between instructions, one per outer pass of the virtual
// machine. A host callback is queued with its argument; language code is
// queued as a call block {double n; the function's CopiedValue; then its n
// arguments' CopiedValues in order}, which must stay valid until it has run.
// PendingCallAccess and its functions: engine/extension_abi.h.
void SetPendingCallResolver(EngineContext* ctx, PendingCallResolver resolver, void* target);
void GetPendingCallAccess(EngineContext* ctx, PendingCallAccess* access);
// False when the queue is full (nothing queued is dropped), for a null
// function or block, or when the resolver finds no context.
bool PostPendingCall(PendingCallAccess access, PendingCallFunction function, void* argument);
bool PostPendingEvent(PendingCallAccess access, void* callBlock);

// Bytes to give CopyArgumentValuesOut for the function value at position and
// the top n values (generously: 32 bytes per cell of their copies). 107 for
// positions past the values on the stack.
[[nodiscard]] StatusCode SumArgumentValueSizes(EngineContext* ctx, int position, int n, int64_t* size);
// Fills the access block and writes the call block for the function value at
// position and the arguments at positions n - 1 down to 0.
[[nodiscard]] StatusCode CopyArgumentValuesOut(EngineContext* ctx, int position, int n, PendingCallAccess* access,
                                               double* block);

// Handlers of natives called by name and class word have this signature.
using KindedNativeHandler = StatusCode (*)(EngineContext* ctx, void* argument, void* userData);
// Calls the first native of that name and kind that has a handler, in
// registration order, and answers its status; 201 when there is none.
[[nodiscard]] StatusCode CallNativeByNameAndKind(EngineContext* ctx, const char* name, int32_t kind, void* argument);

// Named integers for natives (such as the host program's instance handle). The
// name is stored as the caller's pointer and must outlive the context. Defining
// unwinds every frame and takes room from the bottom of the data stack: the
// host defines its items at start-up. A value of 0 stores nothing; a name
// defined before gives 600; 3 when the data stack has no room.
[[nodiscard]] StatusCode DefineNamedItem(EngineContext* ctx, const char* name, int32_t value);
// The value of the first item of that name (case-sensitive), or 0.
int32_t FindNamedItem(EngineContext* ctx, const char* name);

// Line-end modes of EncodeTextWithLineEnds.
enum LineEndMode : int {
  kLineEndCr = 0,
  kLineEndLf = 1,
  kLineEndCrLf = 2,
};

// Encodes 16-bit text with the charset (low bytes without one) into buffer,
// converting each LF for the mode, always NUL-terminated; false when some text
// did not fit. The text may share the buffer. *length (may be null) gets the
// bytes before the NUL.
bool EncodeTextWithLineEnds(EngineContext* ctx, int mode, const uint16_t* text, int count, char* buffer, int size,
                            int* length);

// ---------------------------------------------------------------------------
// The function store: user functions, libraries, globals and persistents by
// name, with the compiled code of the functions in the code area.

// Declares a public function of the library (qualifier "class::name" or null)
// and compiles the source as its code.
[[nodiscard]] StatusCode DeclareAndCompileFunction(EngineContext* ctx, const char* name, const char* qualifier,
                                                   int32_t library, const char* source, int32_t length,
                                                   int32_t firstLine, bool sandboxed);
// Compiles a declared function: from the given source, or fetched from its
// library when source is null; 199 when it already has code, 122 without source.
[[nodiscard]] StatusCode CompileStoredFunction(EngineContext* ctx, int32_t entry, const char* source, int32_t length,
                                               bool furtherFunctions, int32_t firstLine);
// Removes the last entry when it is a function, with its code.
[[nodiscard]] StatusCode DropLastFunction(EngineContext* ctx);
// Forgets every function, library and variable entry and all compiled code.
[[nodiscard]] StatusCode ResetFunctionStore(EngineContext* ctx);
// The library of the innermost call frame, 0 without one.
int32_t GetCurrentLibraryIndex(EngineContext* ctx);

// ---------------------------------------------------------------------------
// Values as source text that recreates them.

// Writes the top value, which it consumes, as source text; with a name as
// "name = text;" and a line break. With descriptor -1 the text stays in the
// buffer (size in 16-bit characters, at least 50; 3 when it does not fit) and
// *length gets its characters; with a descriptor of 0 or more the buffer
// (null: half the free data space) is flushed through the charset encoder
// whenever it is full. 109 for composites nested deeper than 30 levels, 44 for
// a native object whose class has no "+wdump" or "+dump" hook, 501 for a
// break asked for at a line break; the value then stays.
[[nodiscard]] StatusCode WriteValueAsSource(EngineContext* ctx, uint16_t* buffer, int64_t size, int64_t* length,
                                            int32_t descriptor, const char* name, int nameLength);
// Every variable of the scope as assignments, in slot order; with the flag a
// linked variable is first declared by "global " or "persistent " and its name.
[[nodiscard]] StatusCode ListVariables(EngineContext* ctx, int32_t descriptor, bool declarations);
// The native dumpvar (1-3 inputs, 0-1 outputs): dumpvar(value),
// dumpvar(name, value), dumpvar(descriptor, name, value); with an output the
// text is returned as a char row.
[[nodiscard]] StatusCode DumpvarNative(EngineContext* ctx, int nargin, int nargout, void* userData);

// ---------------------------------------------------------------------------
// Source scanning.

// The native iskeyword (0-1 inputs, 1 output): without input the list of the
// language's keywords as char rows, with a char row a logical scalar telling
// whether it is one (case-sensitive).
[[nodiscard]] StatusCode IsKeywordNative(EngineContext* ctx, int nargin, int nargout, void* userData);

// ---------------------------------------------------------------------------
// Expression compilation.

// The handler of a "+genericFun" hook: asked whether it takes a name that
// resolves to nothing else; 0 accepts, and the hook native is then called with
// the name as its first input.
using GenericFunctionHook = StatusCode (*)(EngineContext* ctx, const char* name, int length, int reserved1,
                                           int reserved2, int reserved3, void* userData);

// ---------------------------------------------------------------------------
// Name resolution and calls by name. A call is only set up: the callee's
// frame is pushed and the program counter moved to its code (or to a short
// trampoline on the data stack that runs a native or builtin); the running
// interpreter continues there. Names are at most 32 characters; a longer one
// names nothing.

// The next record named `name` (NUL-terminated) after `after` (null: from
// the first); with a class key only records whose NativeClassId is |key|.
// *global (may be null) gets its native number. Null when there is none.
const NativeFunctionRecord* FindNativeFunction(EngineContext* ctx, const char* name, const NativeFunctionRecord* after,
                                               int32_t classKey, int32_t* global);
// The counts of the function a name means from the library (qualifier may
// be null; without one the name may read "class::name"): a user function's
// header, else the first native's maximum counts (flags: their any bit),
// else the builtin's. 122 raised when nothing has that name.
[[nodiscard]] StatusCode ResolveFunctionName(EngineContext* ctx, const char* name, const char* qualifier,
                                             int32_t library, bool useList, int32_t* inputs, int32_t* outputs,
                                             bool* varargin, bool* varargout);
// Resolves the name (length bytes) from the library with the top nargin
// values as arguments and sets up the call. userOnly: only user functions
// and methods (122 otherwise); skipUser: only natives and builtins;
// linkToCaller: returning resumes at the program counter as it stands,
// otherwise the return ends the run. A negative nargout: a statement call.
[[nodiscard]] StatusCode CallFunctionByName(EngineContext* ctx, const char* name, int32_t length, int32_t library,
                                            int32_t nargin, int32_t nargout, bool userOnly, bool skipUser,
                                            bool linkToCaller);
// A native calls the function value at `position` (a name, an inline
// function or a function reference) with the top nargin values. With
// reentry the native is called again when the callee returns, with nargin =
// ~(number of results). 501 when a break is pending; 200 for a name over 32
// characters, 204 for an empty one; 43 for a value that names nothing.
[[nodiscard]] StatusCode CallFunctionValue(EngineContext* ctx, int position, int32_t nargin, int32_t nargout,
                                           bool reentry);
// A re-entrant native keeps its state as a real double matrix of `cells`
// elements on the value stack, right under the callee's results. Called
// again with nargin < 0, it finds the state here: 187 unless the callee left
// exactly `results` values, 43 when the value under them is not such a state.
// *state points at the state's elements until the next push.
[[nodiscard]] StatusCode FindReentryState(EngineContext* ctx, int32_t nargin, int32_t results, int64_t cells,
                                          double** state);

// Calls a native's handler as the machine does: with the top nargin values
// as its inputs, their results left in their place.
[[nodiscard]] StatusCode CallNativeFunction(EngineContext* ctx, NativeHandler handler, int nargin, int nargout);

// Runs the code at the program counter until it ends, fails or suspends
// (500). The host's break test is asked every few hundred passes of the loop;
// with pollAtBackwardJumps every backward jump also suspends the run (500,
// the program counter at the jump's target) once the test finds no break.
[[nodiscard]] StatusCode RunInterpreter(EngineContext* ctx, uint8_t pollAtBackwardJumps);
// Calls the user function `name` (a class's with a qualifier) of the library
// and runs it to its end: a host's call that needs no stepping. A failure to
// set up the call is printed on descriptor 2; the run's own failures are
// printed by the run.
[[nodiscard]] StatusCode RunFunctionByName(EngineContext* ctx, const char* name, const char* qualifier, int nargin,
                                           int nargout, bool sandboxed, uint8_t pollAtBackwardJumps,
                                           int32_t library = 0);
// The innermost frame and what it calls run in the sandbox.
void MarkFrameSandboxed(EngineContext* ctx);

// ---------------------------------------------------------------------------
// Command lines and text compiled to run in a frame of its own.

// Compiles a command line (its function blocks into the "_cli" library, its
// statements as code on the data stack): 500 when the code is ready for
// RunInterpreter; any other status was already printed on descriptor 2.
[[nodiscard]] StatusCode EvaluateCommandLine(EngineContext* ctx, const char* text, int32_t length, bool ans);
// The innermost frame keeps no results and returns keeping its values.
[[nodiscard]] StatusCode DiscardEvalFrame(EngineContext* ctx);
// Compiles an expression over the names of the frame in scope (no new
// variables) into a new code frame that returns to the program counter as it
// stands; *results receives the values it leaves.
[[nodiscard]] StatusCode CompileTextInCallerScope(EngineContext* ctx, const char* text, int32_t length,
                                                  int32_t* results);
// Whether the code at the program counter, up to its end, only builds data
// (constants, literals, concatenation, a few constructors); a safe position
// is marked so, and may run in a nested RunInterpreter.
bool IsSafeDataExpression(EngineContext* ctx);

// ---------------------------------------------------------------------------
// Option sets: option tables, the body of option-set natives and the readers.

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
[[nodiscard]] StatusCode ApplyOptionSet(EngineContext* ctx, int nargin, const OptionDefaultRecord* table);

// Index of the record with exactly that name (length -1: NUL-terminated),
// -1 when there is none.
int FindOptionRecord(const OptionDefaultRecord* table, const char* name, int length);

// Pushes the option's value from the option argument at `position` (0: top)
// when that is a structure whose field of the name holds something other than
// [], else the table's default. 43 when the argument is neither [] nor a
// structure, 39 when the table lacks the name.
[[nodiscard]] StatusCode PushOptionValue(EngineContext* ctx, int position, const char* name,
                                         const OptionDefaultRecord* table);

// Pops the top value as a real scalar (converting other numeric classes to
// double first); an empty value gives the default, another size 21. The
// value stays on the stack when it fails.
[[nodiscard]] StatusCode PopRealScalarOrDefault(EngineContext* ctx, double defaultValue, double* value);

// PushOptionValue then PopRealScalarOrDefault; a real or logical option's own
// default replaces the caller's. Leaves the stack unchanged.
[[nodiscard]] StatusCode GetRealOption(EngineContext* ctx, int position, const char* name,
                                       const OptionDefaultRecord* table, double defaultValue, double* value);

// GetRealOption with the flag as the default; true when the value is
// nonzero and not NaN.
[[nodiscard]] StatusCode GetBooleanOption(EngineContext* ctx, int position, const char* name,
                                          const OptionDefaultRecord* table, bool defaultFlag, bool* flag);

// ---------------------------------------------------------------------------
// Moving and growing the block, and loading a saved engine state.

// Before the host moves or reallocates the block: every address field
// becomes an offset from the context.
void MakeContextPointersRelative(EngineContext* ctx);
// After every move, with ctx at the block's new place: the address fields are
// rebuilt; with a positive new size (bytes) the regions are repartitioned,
// the region named by choice (the failing status: 1-2 descriptor stack, 3-4
// data stack, 5 heap, 6 code area) taking all the growth, any other choice
// sizing all four anew. A repartition that would shrink a region is skipped.
void RelocateEngineContext(EngineContext* ctx, int64_t newSize, int32_t choice);

// Delivers exactly bytes bytes into buffer, or answers false.
using EngineStateReader = bool (*)(void* buffer, int32_t bytes, void* userData);
// Reads an EngineStateImage: 305 when its header cannot be read; 1, 3, 5 or 6
// when a region is too small (nothing changed); 600 when a section is cut
// short or the image does not describe a sound state (the context then holds
// empty stacks, heap and store until it is reset or loaded again).
[[nodiscard]] StatusCode LoadEngineState(EngineContext* ctx, EngineStateReader read, void* userData);

// ---------------------------------------------------------------------------
// Interpreter threads, semaphores and timing.

// Installs the clock now(state, process-time flag, reset flag): seconds since
// the state's last reset, which the reset flag moves to now. data holds
// consecutive states of stateSize bytes, the time slice's first and the
// profiler's second; every interpreter thread keeps one more of its own.
void SetTimeCallback(EngineContext* ctx, double (*callback)(void* state, int processTime, int reset), void* data,
                     int32_t stateSize);

// Whether interpreter threads exist besides the main thread.
bool HasInterpreterThreads(const EngineContext* ctx);
// Ends every interpreter thread (the main thread keeps its state).
void EndInterpreterThreads(EngineContext* ctx);
// Whether RunInterpreter has code left to run: the main thread's or a thread's.
bool HasCodeToRun(const EngineContext* ctx);

// The natives of "@thread" (refused in sandboxed code), and tic and toc.
[[nodiscard]] StatusCode ThreadNewNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode ThreadKillNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode ThreadSleepNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode ThreadSetNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode SemaphoreNewNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode SemaphoreDeleteNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode SemaphoreLockNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode SemaphoreUnlockNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode TicNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode TocNative(EngineContext* ctx, int nargin, int nargout, void* userData);

// ---------------------------------------------------------------------------
// Introspection. The feature test's user data is its list of feature names,
// one a line.
[[nodiscard]] StatusCode HasFeatureNative(EngineContext* ctx, int nargin, int nargout, void* userData);
// Where a name comes from: "(var)/x", a qualified function name, "(native)/f" or "".
[[nodiscard]] StatusCode WhichNative(EngineContext* ctx, int nargin, int nargout, void* userData);
// info and inmem, told apart by the selector 'i' or 'm' in the user data.
[[nodiscard]] StatusCode InfoNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode IsGlobalNative(EngineContext* ctx, int nargin, int nargout, void* userData);
// help(name): the comment after a user function's header, else its entry in
// a help file; plain text to descriptor 1, markup to 4. With an output only
// whether there is help. lookfor(text): links to the help of every function
// and help-file entry whose name begins with the text or whose first help
// line contains it (letters compared without case), to descriptor 4.
[[nodiscard]] StatusCode HelpNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode LookforNative(EngineContext* ctx, int nargin, int nargout, void* userData);

// ---------------------------------------------------------------------------
// The debugger. Code stops at a line with 505; the host then evaluates
// command lines in the stopped frame until the code resumes, ends or is quit.

// The innermost frame holds a suspended position.
bool IsDebuggerStopped(EngineContext* ctx);
// Drops the frames above the stopped one and goes on where it stopped; 400
// when nothing is stopped.
[[nodiscard]] StatusCode ResumeFromDebugger(EngineContext* ctx);
// Line 0 is the function's entry. Functions are found as seen from library.
[[nodiscard]] StatusCode AddBreakpoint(EngineContext* ctx, const char* name, int length, int32_t library, int32_t line);
// Without a name a line of 0 or more is a position in the list (103 beyond
// it) and a negative one clears all; with a name a negative line clears all
// of that function's.
[[nodiscard]] StatusCode ClearBreakpoints(EngineContext* ctx, const char* name, int length, int32_t library,
                                          int32_t line);
// Whether the break key stops in the debugger instead of halting.
void SetInterruptDebug(EngineContext* ctx, bool on);
bool GetInterruptDebug(EngineContext* ctx);
// Echo of the lines reached: of every function without a name.
[[nodiscard]] StatusCode SetEcho(EngineContext* ctx, bool on, const char* name, int length, int32_t library,
                                 int32_t descriptor);

// The natives of "@debug".
[[nodiscard]] StatusCode DbStackNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode DbHaltNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode DbStopNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode DbClearNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode DbStatusNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode DbContNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode DbStepNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode DbQuitNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode DbTypeNative(EngineContext* ctx, int nargin, int nargout, void* userData);
[[nodiscard]] StatusCode EchoNative(EngineContext* ctx, int nargin, int nargout, void* userData);

// ---------------------------------------------------------------------------
// The ServiceTable (engine/extension_abi.h) is spelled out there for
// extensions that see nothing else; each slot must keep its function's own
// type and its place.
static_assert(std::is_same_v<decltype(ServiceTable::GetEngineVersionText), decltype(&::GetEngineVersionText)>);
static_assert(std::is_same_v<decltype(ServiceTable::ResolveFunctionName), decltype(&::ResolveFunctionName)>);
static_assert(std::is_same_v<decltype(ServiceTable::CallFunctionValue), decltype(&::CallFunctionValue)>);
static_assert(std::is_same_v<decltype(ServiceTable::FindNativeFunction), decltype(&::FindNativeFunction)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetNativeRecordByIndex), decltype(&::GetNativeRecordByIndex)>);
static_assert(std::is_same_v<decltype(ServiceTable::CallNativeFunction), decltype(&::CallNativeFunction)>);
static_assert(std::is_same_v<decltype(ServiceTable::CallFunctionByName), decltype(&::CallFunctionByName)>);
static_assert(std::is_same_v<decltype(ServiceTable::CompileTextInCallerScope), decltype(&::CompileTextInCallerScope)>);
static_assert(std::is_same_v<decltype(ServiceTable::IsSafeDataExpression), decltype(&::IsSafeDataExpression)>);
static_assert(std::is_same_v<decltype(ServiceTable::DiscardEvalFrame), decltype(&::DiscardEvalFrame)>);
static_assert(std::is_same_v<decltype(ServiceTable::ClearError), decltype(&::ClearError)>);
static_assert(std::is_same_v<decltype(ServiceTable::RunInterpreter), decltype(&::RunInterpreter)>);
static_assert(std::is_same_v<decltype(ServiceTable::RaiseErrorWithIdentifier), decltype(&::RaiseErrorWithIdentifier)>);
static_assert(std::is_same_v<decltype(ServiceTable::IsAnyFunctionActive), decltype(&::IsAnyFunctionActive)>);
static_assert(std::is_same_v<decltype(ServiceTable::PollBreak), decltype(&::PollBreak)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetDescriptorStackLength), decltype(&::GetDescriptorStackLength)>);
static_assert(std::is_same_v<decltype(ServiceTable::UnwindFrames), decltype(&::UnwindFrames)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetExecutionPosition), decltype(&::GetExecutionPosition)>);
static_assert(std::is_same_v<decltype(ServiceTable::SetExecutionPosition), decltype(&::SetExecutionPosition)>);
static_assert(std::is_same_v<decltype(ServiceTable::CheckArgTypes), decltype(&::CheckArgTypes)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushRealScalar), decltype(&::PushRealScalar)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushInf), decltype(&::PushInf)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushNaN), decltype(&::PushNaN)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushLogicalScalar), decltype(&::PushLogicalScalar)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushComplexScalar), decltype(&::PushComplexScalar)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushEmptyMatrix), decltype(&::PushEmptyMatrix)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushVoidValue), decltype(&::PushVoidValue)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushTaggedInteger), decltype(&::PushTaggedInteger)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetTaggedInteger), decltype(&::GetTaggedInteger)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushDoubleMatrix), decltype(&::PushDoubleMatrix)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushDoubleArray), decltype(&::PushDoubleArray)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushSingleArray), decltype(&::PushSingleArray)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushIntegerArray), decltype(&::PushIntegerArray)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushCharArray), decltype(&::PushCharArray)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushCharRow), decltype(&::PushCharRow)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushLogicalArray), decltype(&::PushLogicalArray)>);
static_assert(std::is_same_v<decltype(ServiceTable::PopDoubleMatrix), decltype(&::PopDoubleMatrix)>);
static_assert(std::is_same_v<decltype(ServiceTable::PopRealScalar), decltype(&::PopRealScalar)>);
static_assert(std::is_same_v<decltype(ServiceTable::PopComplexScalar), decltype(&::PopComplexScalar)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetIntegerScalarArg), decltype(&::GetIntegerScalarArg)>);
static_assert(std::is_same_v<decltype(ServiceTable::PopIntegerScalar), decltype(&::PopIntegerScalar)>);
static_assert(std::is_same_v<decltype(ServiceTable::PopBoolean), decltype(&::PopBoolean)>);
static_assert(std::is_same_v<decltype(ServiceTable::PopConditionValue), decltype(&::PopConditionValue)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetDoubleMatrixArg), decltype(&::GetDoubleMatrixArg)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetRealScalarArg), decltype(&::GetRealScalarArg)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetBooleanArg), decltype(&::GetBooleanArg)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetArgDims), decltype(&::GetArgDims)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetDoubleArrayArg), decltype(&::GetDoubleArrayArg)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetSingleArrayArg), decltype(&::GetSingleArrayArg)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetIntegerArrayArg), decltype(&::GetIntegerArrayArg)>);
static_assert(std::is_same_v<decltype(ServiceTable::UnifyNumericArgs), decltype(&::UnifyNumericArgs)>);
static_assert(std::is_same_v<decltype(ServiceTable::CheckElementwiseArgs), decltype(&::CheckElementwiseArgs)>);
static_assert(std::is_same_v<decltype(ServiceTable::DropImaginaryPart), decltype(&::DropImaginaryPart)>);
static_assert(std::is_same_v<decltype(ServiceTable::MakeTopComplex), decltype(&::MakeTopComplex)>);
static_assert(std::is_same_v<decltype(ServiceTable::IsCharArg), decltype(&::IsCharArg)>);
static_assert(std::is_same_v<decltype(ServiceTable::IsLogicalArg), decltype(&::IsLogicalArg)>);
static_assert(std::is_same_v<decltype(ServiceTable::ConvertArgsToFloat), decltype(&::ConvertArgsToFloat)>);
static_assert(std::is_same_v<decltype(ServiceTable::ConvertArgToIntegerClass), decltype(&::ConvertArgToIntegerClass)>);
static_assert(std::is_same_v<decltype(ServiceTable::ConvertArgToLogical), decltype(&::ConvertArgToLogical)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushStringFromBytes), decltype(&::PushStringFromBytes)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushStringFromWideText), decltype(&::PushStringFromWideText)>);
static_assert(std::is_same_v<decltype(ServiceTable::ReserveStringBuffer), decltype(&::ReserveStringBuffer)>);
static_assert(std::is_same_v<decltype(ServiceTable::FinishStringBuffer), decltype(&::FinishStringBuffer)>);
static_assert(std::is_same_v<decltype(ServiceTable::ReserveWideStringBuffer), decltype(&::ReserveWideStringBuffer)>);
static_assert(std::is_same_v<decltype(ServiceTable::FinishWideStringBuffer), decltype(&::FinishWideStringBuffer)>);
static_assert(std::is_same_v<decltype(ServiceTable::ReserveEncodedTextBuffer), decltype(&::ReserveEncodedTextBuffer)>);
static_assert(std::is_same_v<decltype(ServiceTable::FinishUtf8TextBuffer), decltype(&::FinishUtf8TextBuffer)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushStringFromUtf8), decltype(&::PushStringFromUtf8)>);
static_assert(std::is_same_v<decltype(ServiceTable::PopStringToBuffer), decltype(&::PopStringToBuffer)>);
static_assert(std::is_same_v<decltype(ServiceTable::CopyStringArgToBuffer), decltype(&::CopyStringArgToBuffer)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetStringArg), decltype(&::GetStringArg)>);
static_assert(std::is_same_v<decltype(ServiceTable::EncodeCharArg), decltype(&::EncodeCharArg)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetScratchAtDataEnd), decltype(&::GetScratchAtDataEnd)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetFreeDataSpace), decltype(&::GetFreeDataSpace)>);
static_assert(std::is_same_v<decltype(ServiceTable::DropArgsUnderResults), decltype(&::DropArgsUnderResults)>);
static_assert(std::is_same_v<decltype(ServiceTable::RotateValues), decltype(&::RotateValues)>);
static_assert(std::is_same_v<decltype(ServiceTable::ReverseValues), decltype(&::ReverseValues)>);
static_assert(std::is_same_v<decltype(ServiceTable::DuplicateValues), decltype(&::DuplicateValues)>);
static_assert(std::is_same_v<decltype(ServiceTable::TransposeTopMatrix), decltype(&::TransposeTopMatrix)>);
static_assert(std::is_same_v<decltype(ServiceTable::MakeListFromValues), decltype(&::MakeListFromValues)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetListArg), decltype(&::GetListArg)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushEmptyCellArray), decltype(&::PushEmptyCellArray)>);
static_assert(std::is_same_v<decltype(ServiceTable::ReshapeTopValue), decltype(&::ReshapeTopValue)>);
static_assert(std::is_same_v<decltype(ServiceTable::ReshapeTopCellArray), decltype(&::ReshapeTopCellArray)>);
static_assert(std::is_same_v<decltype(ServiceTable::ConvertTopToStructArray), decltype(&::ConvertTopToStructArray)>);
static_assert(std::is_same_v<decltype(ServiceTable::IsListOrCellArg), decltype(&::IsListOrCellArg)>);
static_assert(std::is_same_v<decltype(ServiceTable::IsStructArg), decltype(&::IsStructArg)>);
static_assert(std::is_same_v<decltype(ServiceTable::IsObjectArg), decltype(&::IsObjectArg)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetCellArgInfo), decltype(&::GetCellArgInfo)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushListElement), decltype(&::PushListElement)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushStructField), decltype(&::PushStructField)>);
static_assert(std::is_same_v<decltype(ServiceTable::ExplodeTopList), decltype(&::ExplodeTopList)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetStructFieldName), decltype(&::GetStructFieldName)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetValueSize), decltype(&::GetValueSize)>);
static_assert(std::is_same_v<decltype(ServiceTable::CopyValueOut), decltype(&::CopyValueOut)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushCopiedValue), decltype(&::PushCopiedValue)>);
static_assert(std::is_same_v<decltype(ServiceTable::ApplyOptionSet), decltype(&::ApplyOptionSet)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushOptionValue), decltype(&::PushOptionValue)>);
static_assert(std::is_same_v<decltype(ServiceTable::PopRealScalarOrDefault), decltype(&::PopRealScalarOrDefault)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetRealOption), decltype(&::GetRealOption)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetBooleanOption), decltype(&::GetBooleanOption)>);
static_assert(std::is_same_v<decltype(ServiceTable::WriteToDescriptor), decltype(&::WriteToDescriptor)>);
static_assert(std::is_same_v<decltype(ServiceTable::WriteNumberToDescriptor), decltype(&::WriteNumberToDescriptor)>);
static_assert(std::is_same_v<decltype(ServiceTable::WriteNewlineToDescriptor), decltype(&::WriteNewlineToDescriptor)>);
static_assert(std::is_same_v<decltype(ServiceTable::SetDescriptorBuffering), decltype(&::SetDescriptorBuffering)>);
static_assert(std::is_same_v<decltype(ServiceTable::ControlDescriptor), decltype(&::ControlDescriptor)>);
static_assert(std::is_same_v<decltype(ServiceTable::ReadFromDescriptor), decltype(&::ReadFromDescriptor)>);
static_assert(std::is_same_v<decltype(ServiceTable::AllocateDescriptorRange), decltype(&::AllocateDescriptorRange)>);
static_assert(std::is_same_v<decltype(ServiceTable::PushNativeObject), decltype(&::PushNativeObject)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetNativeObjectArg), decltype(&::GetNativeObjectArg)>);
static_assert(std::is_same_v<decltype(ServiceTable::CallNativeByNameAndKind), decltype(&::CallNativeByNameAndKind)>);
static_assert(std::is_same_v<decltype(ServiceTable::FindNamedItem), decltype(&::FindNamedItem)>);
static_assert(std::is_same_v<decltype(ServiceTable::GetPendingCallAccess), decltype(&::GetPendingCallAccess)>);
static_assert(std::is_same_v<decltype(ServiceTable::SumArgumentValueSizes), decltype(&::SumArgumentValueSizes)>);
static_assert(std::is_same_v<decltype(ServiceTable::CopyArgumentValuesOut), decltype(&::CopyArgumentValuesOut)>);
static_assert(offsetof(ServiceTable, GetEngineVersionText) == 0 * sizeof(void*));
static_assert(offsetof(ServiceTable, ResolveFunctionName) == 1 * sizeof(void*));
static_assert(offsetof(ServiceTable, CallFunctionValue) == 2 * sizeof(void*));
static_assert(offsetof(ServiceTable, FindNativeFunction) == 3 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetNativeRecordByIndex) == 4 * sizeof(void*));
static_assert(offsetof(ServiceTable, CallNativeFunction) == 5 * sizeof(void*));
static_assert(offsetof(ServiceTable, CallFunctionByName) == 6 * sizeof(void*));
static_assert(offsetof(ServiceTable, CompileTextInCallerScope) == 7 * sizeof(void*));
static_assert(offsetof(ServiceTable, IsSafeDataExpression) == 8 * sizeof(void*));
static_assert(offsetof(ServiceTable, DiscardEvalFrame) == 9 * sizeof(void*));
static_assert(offsetof(ServiceTable, ClearError) == 10 * sizeof(void*));
static_assert(offsetof(ServiceTable, RunInterpreter) == 11 * sizeof(void*));
static_assert(offsetof(ServiceTable, RaiseErrorWithIdentifier) == 12 * sizeof(void*));
static_assert(offsetof(ServiceTable, IsAnyFunctionActive) == 13 * sizeof(void*));
static_assert(offsetof(ServiceTable, PollBreak) == 14 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetDescriptorStackLength) == 15 * sizeof(void*));
static_assert(offsetof(ServiceTable, UnwindFrames) == 16 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetExecutionPosition) == 17 * sizeof(void*));
static_assert(offsetof(ServiceTable, SetExecutionPosition) == 18 * sizeof(void*));
static_assert(offsetof(ServiceTable, CheckArgTypes) == 19 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushRealScalar) == 20 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushInf) == 21 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushNaN) == 22 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushLogicalScalar) == 23 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushComplexScalar) == 24 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushEmptyMatrix) == 25 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushVoidValue) == 26 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushTaggedInteger) == 27 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetTaggedInteger) == 28 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushDoubleMatrix) == 29 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushDoubleArray) == 30 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushSingleArray) == 31 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushIntegerArray) == 32 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushCharArray) == 33 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushCharRow) == 34 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushLogicalArray) == 35 * sizeof(void*));
static_assert(offsetof(ServiceTable, PopDoubleMatrix) == 36 * sizeof(void*));
static_assert(offsetof(ServiceTable, PopRealScalar) == 37 * sizeof(void*));
static_assert(offsetof(ServiceTable, PopComplexScalar) == 38 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetIntegerScalarArg) == 39 * sizeof(void*));
static_assert(offsetof(ServiceTable, PopIntegerScalar) == 40 * sizeof(void*));
static_assert(offsetof(ServiceTable, PopBoolean) == 41 * sizeof(void*));
static_assert(offsetof(ServiceTable, PopConditionValue) == 42 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetDoubleMatrixArg) == 43 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetRealScalarArg) == 44 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetBooleanArg) == 45 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetArgDims) == 46 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetDoubleArrayArg) == 47 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetSingleArrayArg) == 48 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetIntegerArrayArg) == 49 * sizeof(void*));
static_assert(offsetof(ServiceTable, UnifyNumericArgs) == 50 * sizeof(void*));
static_assert(offsetof(ServiceTable, CheckElementwiseArgs) == 51 * sizeof(void*));
static_assert(offsetof(ServiceTable, DropImaginaryPart) == 52 * sizeof(void*));
static_assert(offsetof(ServiceTable, MakeTopComplex) == 53 * sizeof(void*));
static_assert(offsetof(ServiceTable, IsCharArg) == 54 * sizeof(void*));
static_assert(offsetof(ServiceTable, IsLogicalArg) == 55 * sizeof(void*));
static_assert(offsetof(ServiceTable, ConvertArgsToFloat) == 56 * sizeof(void*));
static_assert(offsetof(ServiceTable, ConvertArgToIntegerClass) == 57 * sizeof(void*));
static_assert(offsetof(ServiceTable, ConvertArgToLogical) == 58 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushStringFromBytes) == 59 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushStringFromWideText) == 60 * sizeof(void*));
static_assert(offsetof(ServiceTable, ReserveStringBuffer) == 61 * sizeof(void*));
static_assert(offsetof(ServiceTable, FinishStringBuffer) == 62 * sizeof(void*));
static_assert(offsetof(ServiceTable, ReserveWideStringBuffer) == 63 * sizeof(void*));
static_assert(offsetof(ServiceTable, FinishWideStringBuffer) == 64 * sizeof(void*));
static_assert(offsetof(ServiceTable, ReserveEncodedTextBuffer) == 65 * sizeof(void*));
static_assert(offsetof(ServiceTable, FinishUtf8TextBuffer) == 66 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushStringFromUtf8) == 67 * sizeof(void*));
static_assert(offsetof(ServiceTable, PopStringToBuffer) == 68 * sizeof(void*));
static_assert(offsetof(ServiceTable, CopyStringArgToBuffer) == 69 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetStringArg) == 70 * sizeof(void*));
static_assert(offsetof(ServiceTable, EncodeCharArg) == 71 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetScratchAtDataEnd) == 72 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetFreeDataSpace) == 73 * sizeof(void*));
static_assert(offsetof(ServiceTable, DropArgsUnderResults) == 74 * sizeof(void*));
static_assert(offsetof(ServiceTable, RotateValues) == 75 * sizeof(void*));
static_assert(offsetof(ServiceTable, ReverseValues) == 76 * sizeof(void*));
static_assert(offsetof(ServiceTable, DuplicateValues) == 77 * sizeof(void*));
static_assert(offsetof(ServiceTable, TransposeTopMatrix) == 78 * sizeof(void*));
static_assert(offsetof(ServiceTable, MakeListFromValues) == 79 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetListArg) == 80 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushEmptyCellArray) == 81 * sizeof(void*));
static_assert(offsetof(ServiceTable, ReshapeTopValue) == 82 * sizeof(void*));
static_assert(offsetof(ServiceTable, ReshapeTopCellArray) == 83 * sizeof(void*));
static_assert(offsetof(ServiceTable, ConvertTopToStructArray) == 84 * sizeof(void*));
static_assert(offsetof(ServiceTable, IsListOrCellArg) == 85 * sizeof(void*));
static_assert(offsetof(ServiceTable, IsStructArg) == 86 * sizeof(void*));
static_assert(offsetof(ServiceTable, IsObjectArg) == 87 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetCellArgInfo) == 88 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushListElement) == 89 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushStructField) == 90 * sizeof(void*));
static_assert(offsetof(ServiceTable, ExplodeTopList) == 91 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetStructFieldName) == 92 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetValueSize) == 93 * sizeof(void*));
static_assert(offsetof(ServiceTable, CopyValueOut) == 94 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushCopiedValue) == 95 * sizeof(void*));
static_assert(offsetof(ServiceTable, ApplyOptionSet) == 96 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushOptionValue) == 97 * sizeof(void*));
static_assert(offsetof(ServiceTable, PopRealScalarOrDefault) == 98 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetRealOption) == 99 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetBooleanOption) == 100 * sizeof(void*));
static_assert(offsetof(ServiceTable, WriteToDescriptor) == 101 * sizeof(void*));
static_assert(offsetof(ServiceTable, WriteNumberToDescriptor) == 102 * sizeof(void*));
static_assert(offsetof(ServiceTable, WriteNewlineToDescriptor) == 103 * sizeof(void*));
static_assert(offsetof(ServiceTable, SetDescriptorBuffering) == 104 * sizeof(void*));
static_assert(offsetof(ServiceTable, ControlDescriptor) == 105 * sizeof(void*));
static_assert(offsetof(ServiceTable, ReadFromDescriptor) == 106 * sizeof(void*));
static_assert(offsetof(ServiceTable, AllocateDescriptorRange) == 107 * sizeof(void*));
static_assert(offsetof(ServiceTable, PushNativeObject) == 108 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetNativeObjectArg) == 109 * sizeof(void*));
static_assert(offsetof(ServiceTable, CallNativeByNameAndKind) == 110 * sizeof(void*));
static_assert(offsetof(ServiceTable, FindNamedItem) == 111 * sizeof(void*));
static_assert(offsetof(ServiceTable, GetPendingCallAccess) == 112 * sizeof(void*));
static_assert(offsetof(ServiceTable, SumArgumentValueSizes) == 113 * sizeof(void*));
static_assert(offsetof(ServiceTable, CopyArgumentValuesOut) == 114 * sizeof(void*));
