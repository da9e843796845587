// The instruction set: opcode numbers and the three static tables that the
// compiler, the virtual machine and introspection share, with small readers
// over them. Code is a sequence of signed 16-bit words; an opcode word is
// followed by its operand words.
#pragma once

#include <cstdint>

#include "engine/engine.h"

constexpr int kOpcodeCount = 333;
constexpr int kBuiltinCount = 257;
constexpr int kOperatorCount = 31;

// Opcode numbers, in table order. Builtin opcodes are their names capitalised.
enum class Op : uint16_t {
  Nop = 0,
  PushZero = 1,
  PushOne = 2,
  I = 3,
  Pi = 4,
  Goldenratio = 5,
  Inf = 6,
  Nan = 7,
  Realmin = 8,
  Realmax = 9,
  Eps = 10,
  True = 11,
  False = 12,
  PushSmallInt = 13,
  PushSmallImag = 14,
  PushDouble = 15,
  PushImagDouble = 16,
  PushSingle = 17,
  PushImagSingle = 18,
  PushInt8 = 19,
  PushInt16 = 20,
  PushInt32 = 21,
  PushUint8 = 22,
  PushUint16 = 23,
  PushUint32 = 24,
  PushInt32Wide = 25,
  PushUint32Wide = 26,
  PushInt64 = 27,
  PushUint64 = 28,
  PushInt64Wide = 29,
  PushUint64Wide = 30,
  PushSmallRange = 31,
  PushString8 = 32,
  PushString16 = 33,
  PushVoid = 34,
  PrintText8 = 35,
  PrintText16 = 36,
  Drop = 37,
  Dup = 38,
  Rotate = 39,
  Disp = 40,
  Format = 41,
  Sprintf = 42,
  Fprintf = 43,
  Sscanf = 44,
  Fscanf = 45,
  Fgetl = 46,
  Fgets = 47,
  Fread = 48,
  Sread = 49,
  Fwrite = 50,
  Swrite = 51,
  Bwrite = 52,
  Fclose = 53,
  Redirect = 54,
  Fflush = 55,
  Fseek = 56,
  Ftell = 57,
  Feof = 58,
  Clc = 59,
  PushEmpty = 60,
  Horzcat = 61,
  Vertcat = 62,
  Cat = 63,
  MakeList = 64,
  AppendToList = 65,
  JoinValuesToList = 66,
  Join = 67,
  Cell = 68,
  Ndims = 69,
  Size = 70,
  Length = 71,
  Numel = 72,
  Reshape = 73,
  Squeeze = 74,
  Permute = 75,
  Ipermute = 76,
  Zeros = 77,
  Ones = 78,
  Eye = 79,
  Rand = 80,
  Randn = 81,
  Magic = 82,
  Colon = 83,
  Sub2ind = 84,
  Ind2sub = 85,
  DeclareGlobal = 86,
  Clear = 87,
  LoadVar = 88,
  Subsref = 89,
  StoreVar = 90,
  Subsasgn = 91,
  DisplayStored = 92,
  StoreAnsDisplay = 93,
  DisplayVar = 94,
  IncrementVar = 95,
  DecrementVar = 96,
  ClearVar = 97,
  GetField = 98,
  GetDynamicField = 99,
  IndexValue = 100,
  CellIndexValue = 101,
  IndexGetField = 102,
  IndexGetDynamicField = 103,
  IndexBeginning = 104,
  IndexEnd = 105,
  IndexMatrixRow = 106,
  IndexMatrixCol = 107,
  RefVar = 108,
  RefVarForAssign = 109,
  EndRef = 110,
  IndexVar = 111,
  EndRefAssign = 112,
  IndexVarForAssign = 113,
  Nargin = 114,
  Nargout = 115,
  Deal = 116,
  Variables = 117,
  Uplus = 118,
  Uminus = 119,
  Conj = 120,
  Complex = 121,
  Real = 122,
  Imag = 123,
  Abs = 124,
  Angle = 125,
  Sign = 126,
  Ctranspose = 127,
  Transpose = 128,
  Fliplr = 129,
  Flipud = 130,
  Flipdim = 131,
  Rot90 = 132,
  Sort = 133,
  Unique = 134,
  Union = 135,
  Intersect = 136,
  Setdiff = 137,
  Setxor = 138,
  Ismember = 139,
  Fix = 140,
  Floor = 141,
  Ceil = 142,
  Round = 143,
  Exp = 144,
  Expm1 = 145,
  Log = 146,
  Log10 = 147,
  Log1p = 148,
  Log2 = 149,
  Reallog = 150,
  Sin = 151,
  Cos = 152,
  Tan = 153,
  Sec = 154,
  Csc = 155,
  Cot = 156,
  Sinh = 157,
  Cosh = 158,
  Tanh = 159,
  Sech = 160,
  Csch = 161,
  Coth = 162,
  Asin = 163,
  Acos = 164,
  Atan = 165,
  Asec = 166,
  Acsc = 167,
  Acot = 168,
  Atan2 = 169,
  Asinh = 170,
  Acosh = 171,
  Atanh = 172,
  Asech = 173,
  Acsch = 174,
  Acoth = 175,
  Sinc = 176,
  Sqrt = 177,
  Realsqrt = 178,
  Det = 179,
  Sum = 180,
  Prod = 181,
  Mean = 182,
  Var = 183,
  Std = 184,
  Moment = 185,
  Skewness = 186,
  Kurtosis = 187,
  Cov = 188,
  Cumsum = 189,
  Cumprod = 190,
  Diag = 191,
  Tril = 192,
  Triu = 193,
  Repmat = 194,
  Ndgrid = 195,
  Meshgrid = 196,
  Trace = 197,
  Diff = 198,
  Kron = 199,
  Ischar = 200,
  Setstr = 201,
  Char = 202,
  Double = 203,
  Single = 204,
  Int8 = 205,
  Int16 = 206,
  Int32 = 207,
  Uint8 = 208,
  Uint16 = 209,
  Uint32 = 210,
  Int64 = 211,
  Uint64 = 212,
  Isnumeric = 213,
  Isfloat = 214,
  Isinteger = 215,
  Isscalar = 216,
  Isvector = 217,
  Swapbytes = 218,
  Cast = 219,
  Typecast = 220,
  Isletter = 221,
  Isdigit = 222,
  Isspace = 223,
  Upper = 224,
  Lower = 225,
  Strcmp = 226,
  Strcmpi = 227,
  Findstr = 228,
  Strmatch = 229,
  Deblank = 230,
  Strtrim = 231,
  Strtok = 232,
  Plus = 233,
  Minus = 234,
  Mtimes = 235,
  Mrdivide = 236,
  Mldivide = 237,
  Times = 238,
  Rdivide = 239,
  Ldivide = 240,
  Rem = 241,
  Mod = 242,
  Conv = 243,
  Conv2 = 244,
  Deconv = 245,
  Filter = 246,
  Addpol = 247,
  Mpower = 248,
  Power = 249,
  Realpow = 250,
  Inv = 251,
  Eq = 252,
  Ne = 253,
  Same = 254,
  Unsame = 255,
  Lt = 256,
  Gt = 257,
  Le = 258,
  Ge = 259,
  And = 260,
  Or = 261,
  Xor = 262,
  Not = 263,
  Any = 264,
  All = 265,
  Min = 266,
  Max = 267,
  Cross = 268,
  Dot = 269,
  Find = 270,
  Nnz = 271,
  Isempty = 272,
  Islogical = 273,
  Logical = 274,
  Isfinite = 275,
  Isinf = 276,
  Isnan = 277,
  Exist = 278,
  Num2list = 279,
  Num2cell = 280,
  List2num = 281,
  Islist = 282,
  Iscell = 283,
  Replist = 284,
  Struct = 285,
  Structarray = 286,
  Struct2cell = 287,
  Cell2struct = 288,
  Isstruct = 289,
  Isfield = 290,
  Getfield = 291,
  Setfield = 292,
  Rmfield = 293,
  Fieldnames = 294,
  Orderfields = 295,
  Class = 296,
  Isobject = 297,
  Isa = 298,
  Methods = 299,
  Eval = 300,
  Feval = 301,
  Builtin = 302,
  Inline = 303,
  Str2fun = 304,
  MakeFunctionRef = 305,
  Fun2str = 306,
  Jump = 307,
  JumpIfTrue = 308,
  JumpIfFalse = 309,
  SkipOperand = 310,
  CaseTest = 311,
  ForNext = 312,
  ForNextRange = 313,
  RangeIterator = 314,
  RangeLastValue = 315,
  OrElseJump = 316,
  AndAlsoJump = 317,
  CallFunction = 318,
  ReservedCall = 319,
  CallByValue = 320,
  Return = 321,
  EndOfCode = 322,
  Error = 323,
  Warning = 324,
  Rethrow = 325,
  Lasterr = 326,
  Lasterror = 327,
  TryMark = 328,
  LineMarker = 329,
  Info = 330,
  Assert = 331,
  EndOfThreadCode = 332,
  kFirstNativeOpcode = 333,
};

// How an opcode's operands are laid out; with the operand count n it gives
// the instruction's length.
enum OperandKind : int32_t {
  kNoOperands = 0,
  kWords = 1,    // n signed words
  kPairs = 2,    // n 32-bit values as two words (unused)
  kInt32s = 3,   // n 32-bit integers, low word first
  kInt64s = 4,   // n 64-bit integers, four words each
  kDoubles = 5,  // n doubles, each 8-byte aligned by Nops before the opcode
  kBytes = 6,    // a length word L, then L bytes two per word, low byte first
  kChars16 = 7,  // a length word L, then L 16-bit characters
};

// Stack effect: inputs * 16 + outputs; a nibble of 15 means the count is an
// operand word; kIrregular means no plain count applies.
constexpr int32_t kByOperand = 15;
constexpr int32_t kIrregular = -2;
constexpr int32_t Effect(int32_t in, int32_t out) { return in * 16 + out; }

// Bit 0 of the flags: the instruction only consumes its inputs and pushes its
// outputs, so a statement of such instructions whose value is dropped can go.
constexpr int32_t kPure = 1;

struct OpcodeRecord {
  int32_t opcode;
  int32_t kind;
  int32_t count;
  int32_t effect;
  int32_t flags;
};
static_assert(sizeof(OpcodeRecord) == 20);

// A builtin count: bit 15 clear is a fixed count; set, bits 0-6 hold the
// minimum and bits 7-13 the maximum, all of bits 7-15 set meaning unbounded.
constexpr int32_t kVariableCount = 0x8000;
constexpr int32_t kUnboundedBits = 0xFF80;
constexpr int32_t kUnbounded = 0xFF;
constexpr int32_t Variable(int32_t min, int32_t max) {
  return max == kUnbounded ? (kUnboundedBits | min) : (kVariableCount | min | (max << 7));
}
constexpr bool IsVariableCount(int32_t c) { return (c & kVariableCount) != 0; }
constexpr int32_t CountMinimum(int32_t c) { return IsVariableCount(c) ? (c & 0x7F) : c; }
constexpr int32_t CountMaximum(int32_t c) {
  if (!IsVariableCount(c)) return c;
  return (c & kUnboundedBits) == kUnboundedBits ? 32767 : ((c >> 7) & 0x7F);
}

struct BuiltinRecord {
  int32_t id;  // the opcode that runs it; 0xFFFF ends the table
  int32_t inputs;
  int32_t outputs;
  char name[12];
};
static_assert(sizeof(BuiltinRecord) == 24);

enum OperatorKind : int32_t {
  kInfix = 0,
  kPrefix = 1,
  kPostfix = 3,
  kSpecial = 5,
  kEndOfOperators = -1,
};

struct OperatorRecord {
  int32_t kind;
  int32_t precedence;  // larger binds tighter
  char token[4];
  char name[12];  // the builtin that implements it, "***" for the special ones
};
static_assert(sizeof(OperatorRecord) == 24);

extern const OpcodeRecord kOpcodeTable[kOpcodeCount];
extern const BuiltinRecord kBuiltinTable[kBuiltinCount + 1];
extern const OperatorRecord kOperatorTable[kOperatorCount + 1];

// The tables' consistency check, proved at compile time for the real tables:
// 0, or 600 when they disagree.
[[nodiscard]] StatusCode CheckOpcodeTables(const OpcodeRecord* opcodes, const BuiltinRecord* builtins);

// Words of the instruction at code: 3 for a native call, else what the operand
// kind and count give (kinds 6 and 7 read their length word).
int GetInstructionLength(const int16_t* code);

// Inputs and outputs of the instruction at code; 107 for an irregular one.
[[nodiscard]] StatusCode GetInstructionStackEffect(const int16_t* code, int* inputs, int* outputs);

// Name of the first builtin with that id, or with operatorForm the operator's
// token when the builtin implements one; for 333 and above the name of that
// native; 32 NUL bytes when there is none.
void GetOpcodeName(EngineContext* ctx, int opcode, bool operatorForm, char out[32]);

// The n-th name the function listing enumerates: builtins first, then the
// natives of every library; null past the end.
const char* GetBuiltinNameByIndex(EngineContext* ctx, int n, bool operatorForm, const char** library,
                                  bool* sandboxAllowed);

bool IsMultiValueInstruction(int opcode);

// Instructions whose first operand is a relative jump.
bool HasRelativeJumpOperand(int opcode);
// The jump target of the instruction at code, as a word offset from its
// start: false for an instruction that jumps nowhere. TryMark counts from the
// word after both its operands, and its offset 0 ends a protected region.
bool GetJumpTarget(const int16_t* code, int* target);
bool IsPureCode(const int16_t* code, int length);

// The machine's own name of an opcode (builtins give their first name), for
// disassembly and diagnostics.
const char* OpcodeMnemonic(int opcode);

// The first builtin record of that name, or null.
const BuiltinRecord* FindBuiltin(const char* name, int length);
