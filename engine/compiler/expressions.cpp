// The expression compiler: an operator-precedence parser over the normalised
// text of one expression that emits postfix code as it reads. Operands are
// emitted at once; operators, brackets, calls and indices wait on an explicit
// stack of OperatorStackEntry records until something of lower precedence,
// a separator or a closing bracket reduces them.
#include <bit>
#include <cstring>
#include <initializer_list>

#include "engine/bytecode.h"
#include "engine/compiler/compiler.h"
#include "engine/compiler/optimizer.h"
#include "engine/compiler/scanner.h"
#include "engine/functionstore.h"
#include "engine/registry.h"
#include "engine/resolution.h"

namespace {

constexpr int32_t kWordMax = 32767;
constexpr int32_t kMaxColonIndex = 16;  // the colon mask is one word

constexpr int32_t kPrecedenceGroup = 4;
constexpr int32_t kPrecedenceCellLiteral = 5;
constexpr int32_t kPrecedenceMatrix = 6;
constexpr int32_t kPrecedenceRowSeparator = 8;
constexpr int32_t kPrecedenceRow = 9;
constexpr int32_t kPrecedenceComma = 10;
constexpr int32_t kPrecedenceAnonymous = 11;
constexpr int32_t kPrecedenceRange = 12;
constexpr int32_t kPrecedenceOrElse = 13;
constexpr int32_t kPrecedenceAndAlso = 14;
constexpr int32_t kPrecedencePostfix = 24;
constexpr int32_t kPrecedenceAccess = 25;
constexpr int32_t kPrecedenceCall = 2;

constexpr int16_t Word(Op op) { return static_cast<int16_t>(op); }

bool IsCallKind(int32_t kind) {
  return kind == kEntryBuiltinCall || kind == kEntryNativeCall || kind == kEntryUserCall;
}

// Entries that a reduction never passes: the brackets, calls and indices that
// their closing token ends.
bool StopsReduction(int32_t kind) {
  switch (kind) {
    case kEntryGroup:
    case kEntryCellLiteral:
    case kEntryMatrix:
    case kEntryBuiltinCall:
    case kEntryNativeCall:
    case kEntryUserCall:
    case kEntryParenIndex:
    case kEntryBraceIndex:
    case kEntryDynamicField:
    case kEntryIndexDynamicField:
    case kEntryNamedCall:
      return true;
    default:
      return false;
  }
}

bool NameEquals(const char* a, int aLength, const char* b) {
  return static_cast<int>(std::strlen(b)) == aLength && std::memcmp(a, b, aLength) == 0;
}

// A record name is NUL-padded to 32 bytes, so a 32-character name has no terminator.
bool NativeNameEquals(const NativeFunctionRecord& r, const char* name, int length) {
  if (length > static_cast<int>(sizeof r.name)) return false;
  if (std::memcmp(r.name, name, length) != 0) return false;
  return length == static_cast<int>(sizeof r.name) || r.name[length] == 0;
}

int NativeNameLength(const NativeFunctionRecord& r) { return static_cast<int>(strnlen(r.name, sizeof r.name)); }

int VariableNameLength(const char* slot) { return static_cast<int>(strnlen(slot, kVariableNameBytes)); }

// Message arguments may sit in scratch space that raising writes over, so
// they are copied first.
struct NameCopy {
  char text[kMaxNameLength + 1];
  int length;
  NameCopy(const char* name, int n) {
    length = n < kMaxNameLength ? n : kMaxNameLength;
    std::memcpy(text, name, length);
    text[length] = 0;
  }
};

[[nodiscard]] StatusCode RaiseWithName(EngineContext* ctx, StatusCode code, int64_t k, const char* name, int length) {
  if (name == nullptr) return RaiseError(ctx, code, -1, 0, k, nullptr);
  NameCopy copy(name, length);
  return RaiseError(ctx, code, -1, 0, k, copy.text);
}

[[nodiscard]] StatusCode RaiseCharacter(EngineContext* ctx, StatusCode code, int c) {
  return RaiseError(ctx, code, -1, 0, c, nullptr);
}

int CountAdmitted(int32_t min, int32_t max, int32_t n) { return n >= min && n <= max; }

// Everything a step of the compilation reads and writes.
struct Unit {
  EngineContext* ctx;
  int32_t library;
  const char* text;
  int16_t* code;
  int32_t room;
  int32_t* cp;
  const char* names;
  int32_t nameCount;
  OperatorStackEntry* stack;
  int32_t* top;

  [[nodiscard]] StatusCode Emit(std::initializer_list<int32_t> words) {
    if (*cp + static_cast<int32_t>(words.size()) > room) return kCodeOverflow;
    for (int32_t w : words) code[(*cp)++] = static_cast<int16_t>(w);
    return kOk;
  }

  // Symbols grow down from the end of the code area; when the code being
  // written sits in that area, a new symbol must not reach it.
  [[nodiscard]] StatusCode Intern(const char* name, int length, SymbolId* out) {
    const int16_t* areaEnd = ctx->codeBase + ctx->codeSize;
    const bool inArea = code >= ctx->codeBase && code < areaEnd;
    if (inArea && FindSymbol(ctx, name, length) == 0) {
      const int64_t codeEndBytes = 2 * (static_cast<int64_t>(code - ctx->codeBase) + room);
      const int64_t symbolsAfter = 2 * static_cast<int64_t>(ctx->codeSize) + ctx->symbolBytes - (length + 1);
      // Keep one word between the two, as the store does.
      if (symbolsAfter < codeEndBytes + 2) {
        const int64_t usedBytes = 2 * (static_cast<int64_t>(code - ctx->codeBase) + *cp);
        if (symbolsAfter < usedBytes + 2) return kCodeOverflow;
        room = static_cast<int32_t>((symbolsAfter - 2) / 2 - (code - ctx->codeBase));
      }
    }
    return InternSymbol(ctx, name, length, kMaxNameLength, out);
  }
};

// An entry of the name under any class qualifier. A call compiled to it is
// resolved again by name when it runs, the class of its first object
// argument (or a parent's) choosing the method.
int32_t FindVisibleMethod(EngineContext* ctx, int32_t library, const char* name, int32_t length) {
  return FindUserFunction(ctx, name, length, nullptr, -1, library, true, nullptr);
}

// A forward jump operand at pos patched to reach target; 180 when the offset
// does not fit its word.
[[nodiscard]] StatusCode PatchJump(int16_t* code, int32_t pos, int32_t target) {
  const int32_t offset = target - (pos + 1);
  if (offset < -32768 || offset > kWordMax) return kCompOutOfMemory;
  code[pos] = static_cast<int16_t>(offset);
  return kOk;
}

// The user function, native or builtin that an operator with n arguments
// calls: a user function or native of the builtin's name takes it over.
[[nodiscard]] StatusCode EmitOperatorCall(Unit& u, const char* name, int32_t n) {
  const int length = static_cast<int>(std::strlen(name));
  const int32_t user = FindVisibleUserFunction(u.ctx, u.library, name, length);
  if (user >= 0) {
    if (user > kWordMax) return kTooManyUserFun;
    return u.Emit({Word(Op::CallFunction), user, n, 1});
  }
  int g = 0;
  for (int i = 0; i < u.ctx->libraryCount; ++i) {
    const LibraryListEntry& lib = u.ctx->libraries[i];
    for (int k = 0; k < lib.count; ++k, ++g) {
      const NativeFunctionRecord& r = lib.first[k];
      if (r.kind >= 1 || !NativeNameEquals(r, name, length)) continue;
      const bool inputs = n >= r.minInputs && (r.maxInputs == kAnyCount || n <= r.maxInputs);
      if (!inputs || r.maxOutputs < 1) continue;
      if (g + static_cast<int>(Op::kFirstNativeOpcode) > kWordMax) return kNotSupported;
      return u.Emit({g + static_cast<int32_t>(Op::kFirstNativeOpcode), n, 1});
    }
  }
  const BuiltinRecord* b = FindBuiltin(name, length);
  if (b == nullptr) return RaiseWithName(u.ctx, kUndefFun, -1, name, length);
  if (!CountAdmitted(CountMinimum(b->inputs), CountMaximum(b->inputs), n))
    return RaiseWithName(u.ctx, kIncorrectNargin, n, name, length);
  if (!CountAdmitted(CountMinimum(b->outputs), CountMaximum(b->outputs), 1))
    return RaiseWithName(u.ctx, kUndefFun, -1, name, length);
  if (StatusCode st = u.Emit({b->id}); st != kOk) return st;
  if (IsVariableCount(b->inputs))
    if (StatusCode st = u.Emit({n}); st != kOk) return st;
  if (IsVariableCount(b->outputs))
    if (StatusCode st = u.Emit({1}); st != kOk) return st;
  return kOk;
}

// The parameter list of an anonymous function entry: from its operand to the
// first ")".
int32_t ParameterListEnd(const char* text, int32_t start) {
  int32_t q = start;
  while (text[q] != ')') ++q;
  return q;
}

// Finds name among the comma-separated names of text[start, stop).
int32_t FindInList(const char* text, int32_t start, int32_t stop, const char* name, int32_t length) {
  int32_t index = 0;
  for (int32_t q = start; q < stop; ++index) {
    int32_t e = q;
    while (e < stop && text[e] != ',') ++e;
    if (e - q == length && std::memcmp(text + q, name, length) == 0) return index;
    q = e + 1;
  }
  return -1;
}

bool IsAnonymousParameter(const char* text, const OperatorStackEntry* stack, int32_t top, const char* name,
                          int32_t length) {
  return FindAnonymousParameter(text, stack, top, name, length) >= 0;
}

// An anonymous function's body is replaced by the call that builds it at run
// time: inline(body text, parameter names..., [struct of captured variables],
// [true when the body may give several values]).
[[nodiscard]] StatusCode ReduceAnonymous(Unit& u, const OperatorStackEntry& e, int32_t textPosition,
                                         bool otherReduced) {
  const int32_t paramsStart = e.operand;
  const int32_t paramsEnd = ParameterListEnd(u.text, paramsStart);
  const int32_t bodyCode = e.mask;
  const int32_t bodyEnd = *u.cp;
  const int32_t built = *u.cp;

  if (StatusCode st = EmitStringLiteral(u.text + paramsEnd + 1, textPosition - paramsEnd - 1, u.code, u.room, u.cp);
      st != kOk)
    return st;
  int32_t m = 1;
  for (int32_t q = paramsStart; q < paramsEnd; ++m) {
    int32_t end = q;
    while (end < paramsEnd && u.text[end] != ',') ++end;
    if (StatusCode st = EmitStringLiteral(u.text + q, end - q, u.code, u.room, u.cp); st != kOk) return st;
    q = end + 1;
  }

  // The variables the body reads are captured by value, each once; the
  // parameters of this and every enclosing anonymous function are not.
  auto captured = [&](int32_t pos) {
    const int op = static_cast<uint16_t>(u.code[pos]);
    if (op != static_cast<int>(Op::LoadVar) && op != static_cast<int>(Op::RefVar)) return -1;
    const int32_t v = u.code[pos + 1];
    if (v < 0 || v >= u.nameCount) return -1;
    const char* name = u.names + kVariableNameBytes * v;
    if (IsAnonymousParameter(u.text, u.stack, *u.top, name, VariableNameLength(name))) return -1;
    return static_cast<int>(v);
  };
  int32_t capturedCount = 0;
  int32_t last = -1;
  for (int32_t pos = bodyCode; pos < bodyEnd; pos += GetInstructionLength(u.code + pos)) {
    last = pos;
    const int v = captured(pos);
    if (v < 0) continue;
    bool seen = false;
    for (int32_t q = bodyCode; q < pos && !seen; q += GetInstructionLength(u.code + q)) seen = captured(q) == v;
    if (seen) continue;
    const char* name = u.names + kVariableNameBytes * v;
    if (StatusCode st = EmitStringLiteral(name, VariableNameLength(name), u.code, u.room, u.cp); st != kOk) return st;
    if (StatusCode st = u.Emit({Word(Op::LoadVar), v}); st != kOk) return st;
    ++capturedCount;
  }
  if (capturedCount > 0) {
    if (2 * capturedCount > kWordMax) return kExprTooLarge;
    if (StatusCode st = u.Emit({Word(Op::Struct), 2 * capturedCount}); st != kOk) return st;
    ++m;
  }
  if (!otherReduced && last >= 0 && IsMultiValueInstruction(static_cast<uint16_t>(u.code[last]))) {
    if (StatusCode st = u.Emit({Word(Op::True), 0}); st != kOk) return st;
    ++m;
  }
  if (m > kWordMax) return kExprTooLarge;
  if (StatusCode st = u.Emit({Word(Op::Inline), m}); st != kOk) return st;

  const int32_t length = *u.cp - built;
  std::memmove(u.code + bodyCode, u.code + built, sizeof(int16_t) * static_cast<size_t>(length));
  *u.cp = bodyCode + length;
  return kOk;
}

[[nodiscard]] StatusCode ReduceEntry(Unit& u, const OperatorStackEntry& e, int32_t textPosition, bool otherReduced) {
  switch (e.kind) {
    case kEntryInfix:
      return EmitOperatorCall(u, kOperatorTable[e.operand].name, 2);
    case kEntryPrefix:
      return EmitOperatorCall(u, kOperatorTable[e.operand].name, 1);
    case kEntryRange:
      return EmitOperatorCall(u, "colon", e.count + 2);
    case kEntryMatrixRow:
      return EmitOperatorCall(u, "horzcat", e.count + 1);
    case kEntryCellRow:
      return u.Emit({Word(Op::MakeList), e.count + 1});
    case kEntrySpecial:
      if (kOperatorTable[e.total].token[0] == '?' && e.count == 0)
        return RaiseError(u.ctx, kIncorrectNargin, -1, 0, -1, "?");
      return PatchJump(u.code, e.operand, *u.cp);
    case kEntryAnonymous:
      return ReduceAnonymous(u, e, textPosition, otherReduced);
    case kEntryVariableAccess:
      return u.Emit({Word(Op::EndRef)});
    case kEntryVariableAssign:
      return u.Emit({Word(Op::EndRefAssign)});
    default:
      return kOk;
  }
}

// The values held on the stack by an entry that stands between an index and
// an index keyword inside it.
int32_t HeldValues(const OperatorStackEntry& e) {
  switch (e.kind) {
    case kEntryInfix:
    case kEntryDynamicField:
      return 1;
    case kEntryRange:
      return e.count + 1;
    case kEntryCellRow:
    case kEntryMatrixRow:
    case kEntryBuiltinCall:
    case kEntryNativeCall:
    case kEntryUserCall:
    case kEntryNamedCall:
      return e.count;
    case kEntryIndexDynamicField:
      return e.count + 1;
    default:
      return 0;
  }
}

int32_t CompletedIndexValues(const OperatorStackEntry& e) {
  const uint32_t done = e.count >= 32 ? 0xFFFFFFFFu : ((1u << e.count) - 1);
  return e.count - std::popcount(static_cast<uint32_t>(e.mask) & done);
}

// ---------------------------------------------------------------------------

class ExpressionCompiler {
 public:
  ExpressionCompiler(EngineContext* ctx, int32_t library, const char* text, int32_t* position, int32_t end,
                     OperatorStackEntry* stack, int32_t stackRoom, int16_t* code, int32_t codeRoom,
                     int32_t* codePosition, const char* names, int32_t nameCount, const ExpressionOptions& options)
      : u_{ctx, library, text, code, codeRoom, codePosition, names, nameCount, stack, &top_},
        position_(position),
        p_(*position),
        end_(end),
        stackRoom_(stackRoom),
        wanted_(options.outputsWanted),
        display_(options.displayContext),
        create_(options.createFunctions),
        assign_(options.assignmentMode),
        start_(*codePosition),
        expressionStart_(*position) {}

  [[nodiscard]] StatusCode Run(int32_t* produced, int16_t** last);

 private:
  int At(int32_t k) const { return p_ + k < end_ ? ByteAt(u_.text, p_ + k) : 0; }
  OperatorStackEntry* Top() { return top_ > 0 ? &u_.stack[top_ - 1] : nullptr; }
  bool TopIs(int32_t kind) { return top_ > 0 && u_.stack[top_ - 1].kind == kind; }

  [[nodiscard]] StatusCode Push(int32_t precedence, int32_t kind, int32_t operand, int32_t mask = 0, int32_t count = 0,
                                int32_t total = 0) {
    if (top_ >= stackRoom_) return kTooManyNestedSubexpr;
    u_.stack[top_++] = OperatorStackEntry{precedence, kind, -1, operand, mask, count, total};
    return kOk;
  }
  [[nodiscard]] StatusCode Reduce(int32_t threshold) {
    return ReduceOperators(u_.ctx, u_.library, u_.code, u_.room, u_.text, p_, u_.names, u_.nameCount, u_.cp, u_.stack,
                           &top_, threshold);
  }
  // Nothing but blanks left in the expression after the position.
  bool MoreFollows() const {
    int32_t q = p_;
    while (q < end_ && IsBlank(u_.text[q])) ++q;
    return q < end_;
  }
  bool InsideConstruct() const { return top_ > 0 || MoreFollows(); }
  void OperandDone(int32_t values = 1) {
    expectOperand_ = false;
    produced_ = values;
  }

  [[nodiscard]] StatusCode Operand();
  [[nodiscard]] StatusCode Operator();
  [[nodiscard]] StatusCode Name();
  [[nodiscard]] StatusCode FunctionName(int32_t kind, int32_t operand, int32_t after, bool isAssert);
  [[nodiscard]] StatusCode EmitCall(int32_t kind, int32_t operand, int32_t n, bool generic);
  int32_t DecideResults(bool user, int32_t minOut, int32_t maxOut) const;
  [[nodiscard]] StatusCode IndexKeyword(Op op, StatusCode misplaced);
  [[nodiscard]] StatusCode FunctionReference();
  [[nodiscard]] StatusCode AnonymousFunction();
  [[nodiscard]] StatusCode CloseParenthesis();
  [[nodiscard]] StatusCode CloseIndex(OperatorStackEntry& e);
  [[nodiscard]] StatusCode Comma();
  [[nodiscard]] StatusCode Semicolon();
  [[nodiscard]] StatusCode OpenIndex();
  [[nodiscard]] StatusCode Colon();
  [[nodiscard]] StatusCode TableOperator();
  [[nodiscard]] StatusCode ConvertBelow(int32_t index);
  [[nodiscard]] StatusCode TryGenericHooks(const char* name, int length, int32_t after, bool* taken);

  Unit u_;
  int32_t* position_;
  int32_t p_;
  int32_t end_;
  int32_t top_ = 0;
  int32_t stackRoom_;
  int32_t wanted_;
  bool display_;
  bool create_;
  bool assign_;
  int32_t start_;
  int32_t expressionStart_;
  bool expectOperand_ = true;
  int32_t produced_ = 1;
  int32_t lastLoad_ = -1;    // a LoadVar of a lone top-level variable
  int32_t lastTarget_ = -1;  // the instruction that opened an assignment target
  bool assertPending_ = false;
  bool wholeAssert_ = false;
};

StatusCode ExpressionCompiler::Run(int32_t* produced, int16_t** last) {
  bool stoppedEarly = false;
  for (;;) {
    while (p_ < end_ && IsBlank(u_.text[p_])) ++p_;
    if (p_ >= end_) break;
    StatusCode st = expectOperand_ ? Operand() : Operator();
    if (st == kUnexpectedExprEnd) {
      stoppedEarly = true;
      break;
    }
    if (st != kOk) {
      *position_ = p_;
      return st;
    }
  }
  *position_ = p_;
  if (expectOperand_) return kIncompleteExpr;
  if (StatusCode st = Reduce(0); st != kOk) return st;
  if (top_ > 0) return kIncompleteExpr;
  if (produced_ < wanted_) {
    // Named by what the expression starts with: «[a, b] = eval(t)» names eval.
    int32_t q = expressionStart_;
    while (q < end_ && IsBlank(u_.text[q])) ++q;
    const char* name = q < end_ && IsNameStart(u_.text[q]) ? u_.text + q : nullptr;
    return RaiseError(u_.ctx, kIncorrectNargout, -1, 0, wanted_, name);
  }

  if (wholeAssert_ && u_.ctx->discardAssert) {
    *u_.cp = start_;
    produced_ = 0;
    lastLoad_ = -1;
  }
  if (assign_) {
    if (last) *last = lastTarget_ >= 0 ? u_.code + lastTarget_ : nullptr;
  } else if (last) {
    *last = lastLoad_ >= 0 && lastLoad_ + 2 == *u_.cp ? u_.code + lastLoad_ : nullptr;
  }
  if (u_.ctx->optimisationLevel >= 4 && *u_.cp > start_) {
    int end = *u_.cp;
    OptimizeInstructionPairs(u_.code, start_, &end);
    *u_.cp = end;
    if (last && *last != nullptr && !assign_)
      *last = *u_.cp >= start_ + 2 && u_.code[*u_.cp - 2] == Word(Op::LoadVar) ? u_.code + *u_.cp - 2 : nullptr;
  }
  if (produced) *produced = produced_;
  return stoppedEarly ? kUnexpectedExprEnd : kOk;
}

// ---------------------------------------------------------------------------
// Operand state.

StatusCode ExpressionCompiler::Operand() {
  const int c = At(0);
  if (IsDecimalDigit(c) || (c == '.' && IsDecimalDigit(At(1)))) {
    int p = p_;
    StatusCode st = CompileNumericLiteral(u_.ctx, u_.text, end_, &p, u_.code, u_.room, u_.cp);
    p_ = p;
    if (st != kOk) return st;
    OperandDone();
    return kOk;
  }
  if (c == '\'') {
    int p = p_;
    StatusCode st = CompileStringLiteral(u_.ctx, u_.text, end_, &p, u_.code, u_.room, u_.cp);
    p_ = p;
    if (st != kOk) return st;
    OperandDone();
    return kOk;
  }
  if (IsNameStart(c)) return Name();
  switch (c) {
    case '(':
      ++p_;
      return Push(kPrecedenceGroup, kEntryGroup, -1);
    case '[':
      ++p_;
      if (StatusCode st = Push(kPrecedenceMatrix, kEntryMatrix, -1); st != kOk) return st;
      return Push(kPrecedenceRow, kEntryMatrixRow, -1);
    case '{':
      ++p_;
      if (StatusCode st = Push(kPrecedenceCellLiteral, kEntryCellLiteral, -1); st != kOk) return st;
      return Push(kPrecedenceRow, kEntryCellRow, -1);
    case ']':
    case '}': {
      const bool matrix = c == ']';
      const int32_t row = matrix ? kEntryMatrixRow : kEntryCellRow;
      const int32_t open = matrix ? kEntryMatrix : kEntryCellLiteral;
      if (top_ >= 2 && TopIs(row) && Top()->count == 0 && u_.stack[top_ - 2].kind == open) {
        top_ -= 2;
        ++p_;
        if (StatusCode st = matrix ? u_.Emit({Word(Op::PushEmpty)}) : u_.Emit({Word(Op::MakeList), 0}); st != kOk)
          return st;
        OperandDone();
        return kOk;
      }
      return matrix ? kUnexpectedRightBracket : kUnexpectedRightBrace;
    }
    case ':':
      if (TopIs(kEntryParenIndex) || TopIs(kEntryBraceIndex)) {
        OperatorStackEntry* e = Top();
        if (e->count >= kMaxColonIndex) return RaiseError(u_.ctx, kIndexOutOfRange, -1, 0, e->count + 1, nullptr);
        e->mask |= 1 << e->count;
        ++p_;
        expectOperand_ = false;
        return kOk;
      }
      return kUnexpectedColon;
    case '@':
      ++p_;
      if (p_ >= end_) return RaiseCharacter(u_.ctx, kBadFunRef, -1);
      if (At(0) == '(') return AnonymousFunction();
      if (IsNameStart(At(0))) return FunctionReference();
      return RaiseCharacter(u_.ctx, kBadFunRef, At(0));
    default:
      break;
  }
  for (int32_t i = 0; kOperatorTable[i].kind != kEndOfOperators; ++i) {
    const OperatorRecord& r = kOperatorTable[i];
    if (r.kind != kPrefix) continue;
    const int32_t n = static_cast<int32_t>(strnlen(r.token, sizeof r.token));
    if (p_ + n > end_ || std::memcmp(u_.text + p_, r.token, n) != 0) continue;
    p_ += n;
    return Push(r.precedence, kEntryPrefix, i);
  }
  return RaiseCharacter(u_.ctx, kUnrecognizedToken, c);
}

StatusCode ExpressionCompiler::FunctionReference() {
  const int length = NameLength(u_.text, end_, p_);
  if (StatusCode st = CheckNameLength(u_.ctx, u_.text + p_, length); st != kOk) return st;
  if (u_.library > kWordMax) return kNotSupported;
  if (StatusCode st = EmitStringLiteral(u_.text + p_, length, u_.code, u_.room, u_.cp); st != kOk) return st;
  if (StatusCode st = u_.Emit({Word(Op::MakeFunctionRef), u_.library}); st != kOk) return st;
  p_ += length;
  OperandDone();
  return kOk;
}

StatusCode ExpressionCompiler::AnonymousFunction() {
  const int32_t params = p_ + 1;
  int32_t q = params;
  while (q < end_ && u_.text[q] != ')') ++q;
  if (q >= end_ || q + 1 >= end_) return RaiseCharacter(u_.ctx, kBadAnonFun, -1);
  // The parameters: names separated by commas, or none.
  for (int32_t k = params; k < q;) {
    const int n = NameLength(u_.text, q, k);
    if (n == 0 || !IsNameStart(ByteAt(u_.text, k))) return RaiseCharacter(u_.ctx, kBadAnonFun, -1);
    if (StatusCode st = CheckNameLength(u_.ctx, u_.text + k, n); st != kOk) return st;
    k += n;
    if (k < q && u_.text[k] != ',') return RaiseCharacter(u_.ctx, kBadAnonFun, -1);
    if (k < q && ++k == q) return RaiseCharacter(u_.ctx, kBadAnonFun, -1);
  }
  if (StatusCode st = Push(kPrecedenceAnonymous, kEntryAnonymous, params, *u_.cp); st != kOk) return st;
  p_ = q + 1;
  return kOk;
}

StatusCode ExpressionCompiler::Name() {
  const char* name = u_.text + p_;
  const int length = NameLength(u_.text, end_, p_);
  if (StatusCode st = CheckNameLength(u_.ctx, name, length); st != kOk) return st;
  const int32_t after = p_ + length;
  auto ch = [&](int32_t q) { return q < end_ ? ByteAt(u_.text, q) : 0; };

  // A variable, opened as an access when an index or field follows.
  if (const int32_t v = FindVariableName(u_.names, u_.nameCount, name, length); v >= 0) {
    const int next = ch(after);
    const bool field = next == '.' && (IsNameStart(ch(after + 1)) || ch(after + 1) == '(');
    p_ = after;
    if (next == '(' || next == '{' || field) {
      if (top_ > 0 && IsCallKind(Top()->kind) && (field || next == '{'))
        if (StatusCode st = ConvertCallToNamedCall(u_.ctx, Top()); st != kOk) return st;
      const bool target = assign_ && top_ == 0;
      if (target) lastTarget_ = *u_.cp;
      if (StatusCode st = Push(kPrecedenceAccess, target ? kEntryVariableAssign : kEntryVariableAccess, v); st != kOk)
        return st;
      if (StatusCode st = u_.Emit({Word(target ? Op::RefVarForAssign : Op::RefVar), v}); st != kOk) return st;
    } else {
      if (top_ == 0) (assign_ ? lastTarget_ : lastLoad_) = *u_.cp;
      if (StatusCode st = u_.Emit({Word(Op::LoadVar), v}); st != kOk) return st;
    }
    OperandDone();
    return kOk;
  }

  if (IsAnonymousParameter(u_.text, u_.stack, top_, name, length)) {
    p_ = after;
    if (StatusCode st = u_.Emit({Word(Op::LoadVar), -2}); st != kOk) return st;
    OperandDone();
    return kOk;
  }

  if (const int32_t f = FindVisibleUserFunction(u_.ctx, u_.library, name, length); f >= 0)
    return FunctionName(kEntryUserCall, f, after, false);

  struct Keyword {
    const char* word;
    Op op;
    StatusCode misplaced;
  };
  static constexpr Keyword kKeywords[] = {{"beginning", Op::IndexBeginning, kMisplacedBeginning},
                                          {"end", Op::IndexEnd, kMisplacedEnd},
                                          {"matrixrow", Op::IndexMatrixRow, kMisplacedMatrixrow},
                                          {"matrixcol", Op::IndexMatrixCol, kMisplacedMatrixcol}};
  for (const Keyword& k : kKeywords) {
    if (!NameEquals(name, length, k.word)) continue;
    p_ = after;
    return IndexKeyword(k.op, k.misplaced);
  }

  // Natives in library order; a class method of the name only after the builtins.
  int method = -1;
  int g = 0;
  for (int i = 0; i < u_.ctx->libraryCount; ++i) {
    const LibraryListEntry& lib = u_.ctx->libraries[i];
    for (int k = 0; k < lib.count; ++k, ++g) {
      const NativeFunctionRecord& r = lib.first[k];
      if (!NativeNameEquals(r, name, length)) continue;
      if (r.kind < 1) return FunctionName(kEntryNativeCall, g, after, false);
      if (method < 0) method = g;
    }
  }
  if (const BuiltinRecord* b = FindBuiltin(name, length); b != nullptr)
    return FunctionName(kEntryBuiltinCall, static_cast<int32_t>(b - kBuiltinTable), after,
                        b->id == Word(Op::Assert) && top_ == 0 && p_ == expressionStart_);
  if (method >= 0) return FunctionName(kEntryNativeCall, method, after, false);
  // A method of a language class ranks as a class-method native does.
  if (const int32_t f = FindVisibleMethod(u_.ctx, u_.library, name, length); f >= 0)
    return FunctionName(kEntryUserCall, f, after, false);

  bool taken = false;
  if (StatusCode st = TryGenericHooks(name, length, after, &taken); st != kOk || taken) return st;

  if (create_) {
    if (u_.ctx->entriesInUse >= kWordMax) return kTooManyUserFun;
    int32_t entry = -1;
    SymbolId s = 0;
    if (StatusCode st = u_.Intern(name, length, &s); st != kOk) return st;
    if (StatusCode st = DeclareFunction(u_.ctx, name, length, nullptr, 0, 0, false, false, 0, &entry); st != kOk)
      return st;
    return FunctionName(kEntryUserCall, entry, after, false);
  }
  for (int32_t k = 0; k < top_; ++k)
    if (u_.stack[k].kind == kEntryAnonymous) return FunctionName(kEntryUserCall, -1, after, false);
  return RaiseWithName(u_.ctx, kUnknownFun, length, name, length);
}

// Every "+genericFun" hook, in library order, is asked whether it takes the name.
StatusCode ExpressionCompiler::TryGenericHooks(const char* name, int length, int32_t after, bool* taken) {
  NameCopy copy(name, length);
  int cursor = -1;
  NativeRef ref;
  while (const NativeFunctionRecord* r = FindNextNamedRecord(u_.ctx, "+genericFun", &cursor, &ref)) {
    void* data = r->userData != nullptr ? r->userData : u_.ctx->nativeUserData;
    auto hook = HandlerAs<GenericFunctionHook>(r->handler);
    if (hook == nullptr || hook(u_.ctx, copy.text, copy.length, 0, 0, 0, data) != kOk) continue;
    *taken = true;
    if (cursor + static_cast<int>(Op::kFirstNativeOpcode) > kWordMax) return kNotSupported;
    if (StatusCode st = EmitStringLiteral(copy.text, copy.length, u_.code, u_.room, u_.cp); st != kOk) return st;
    p_ = after;
    if (At(0) == '(' && At(1) != ')') {
      ++p_;
      return Push(kPrecedenceCall, kEntryNativeCall, cursor, 0, 1, 1);
    }
    if (At(0) == '(') p_ += 2;
    return EmitCall(kEntryNativeCall, cursor, 1, true);
  }
  return kOk;
}

// A function name: with arguments it waits on the stack for its ")"; "()" or
// nothing after it calls it without arguments.
StatusCode ExpressionCompiler::FunctionName(int32_t kind, int32_t operand, int32_t after, bool isAssert) {
  p_ = after;
  if (At(0) == '(' && At(1) != ')') {
    assertPending_ = isAssert;
    ++p_;
    return Push(kPrecedenceCall, kind, operand);
  }
  if (At(0) == '(') p_ += 2;
  return EmitCall(kind, operand, 0, false);
}

int32_t ExpressionCompiler::DecideResults(bool user, int32_t minOut, int32_t maxOut) const {
  if (InsideConstruct()) return 1;
  if (wanted_ >= 1) return wanted_;
  if (user) return display_ ? -1 : 0;
  if (minOut > 0) return 1;
  return display_ && maxOut > 0 ? -1 : 0;
}

// Emits the call of a builtin, native or user function with n arguments,
// choosing how many results it must deliver.
StatusCode ExpressionCompiler::EmitCall(int32_t kind, int32_t operand, int32_t n, bool generic) {
  int32_t r = 0;
  if (kind == kEntryBuiltinCall) {
    const BuiltinRecord& b = kBuiltinTable[operand];
    const int nameLength = static_cast<int>(strnlen(b.name, sizeof b.name));
    if (!CountAdmitted(CountMinimum(b.inputs), CountMaximum(b.inputs), n))
      return RaiseWithName(u_.ctx, kIncorrectNargin, n, b.name, nameLength);
    r = DecideResults(false, CountMinimum(b.outputs), CountMaximum(b.outputs));
    const int32_t counted = r < 0 ? 1 : r;
    if (!CountAdmitted(CountMinimum(b.outputs), CountMaximum(b.outputs), counted))
      return RaiseWithName(u_.ctx, kIncorrectNargout, counted, b.name, nameLength);
    if (StatusCode st = u_.Emit({b.id}); st != kOk) return st;
    if (IsVariableCount(b.inputs))
      if (StatusCode st = u_.Emit({n}); st != kOk) return st;
    if (IsVariableCount(b.outputs))
      if (StatusCode st = u_.Emit({r}); st != kOk) return st;
    if (assertPending_ && b.id == Word(Op::Assert) && top_ == 0 && !MoreFollows()) wholeAssert_ = true;
  } else if (kind == kEntryNativeCall) {
    NativeRef ref;
    if (!FindNative(u_.ctx, operand, &ref)) return kUndefFun;
    const NativeFunctionRecord& rec = *ref.record;
    if (generic) {
      r = DecideResults(true, 0, 0);
    } else {
      const int32_t maxOut = rec.maxOutputs == kAnyCount ? kWordMax : rec.maxOutputs;
      r = DecideResults(false, rec.minOutputs, maxOut);
      const bool inputs = n >= rec.minInputs && (rec.maxInputs == kAnyCount || n <= rec.maxInputs);
      const bool outputs = r < 0 || CountAdmitted(rec.minOutputs, maxOut, r);
      if (!inputs || !outputs) {
        // A user function of the same name may take the call instead.
        const int length = NativeNameLength(rec);
        char name[kMaxNameLength + 1];
        std::memcpy(name, rec.name, length);
        name[length] = 0;
        int32_t f = FindVisibleUserFunction(u_.ctx, u_.library, name, length);
        if (f < 0) f = FindVisibleMethod(u_.ctx, u_.library, name, length);
        if (f < 0 && create_) {
          SymbolId s = 0;
          if (StatusCode st = u_.Intern(name, length, &s); st != kOk) return st;
          if (StatusCode st = DeclareFunction(u_.ctx, name, length, nullptr, 0, 0, false, false, 0, &f); st != kOk)
            return st;
        }
        if (f >= 0) return EmitCall(kEntryUserCall, f, n, false);
        if (!inputs) return RaiseWithName(u_.ctx, kIncorrectNargin, n, name, length);
        return RaiseWithName(u_.ctx, kIncorrectNargout, r, name, length);
      }
    }
    if (StatusCode st = u_.Emit({operand + static_cast<int32_t>(Op::kFirstNativeOpcode), n, r}); st != kOk) return st;
  } else {
    if (operand > kWordMax) return kTooManyUserFun;
    r = DecideResults(true, 0, 0);
    if (StatusCode st = u_.Emit({Word(Op::CallFunction), operand, n, r}); st != kOk) return st;
  }
  OperandDone(r < 0 ? 1 : r);
  return kOk;
}

StatusCode ExpressionCompiler::IndexKeyword(Op op, StatusCode misplaced) {
  int32_t j = top_ - 1;
  while (j >= 0 && (u_.stack[j].kind < kEntryVariableAccess || u_.stack[j].kind > kEntryBraceIndex)) --j;
  if (j < 0 || u_.stack[j].kind < kEntryParenIndex) return RaiseError(u_.ctx, misplaced, -1, 0, -1, nullptr);
  const OperatorStackEntry& e = u_.stack[j];
  const int32_t position = e.count + 1;
  if (e.total > kWordMax) return RaiseError(u_.ctx, kExprTooLarge, -1, 0, -1, nullptr);
  if ((op == Op::IndexMatrixRow && position != 1) || (op == Op::IndexMatrixCol && position != 2 && e.total != 1))
    return RaiseError(u_.ctx, kWrongIndex, -1, 0, -1, nullptr);
  int32_t d = CompletedIndexValues(e);
  for (int32_t k = j + 1; k < top_; ++k) d += HeldValues(u_.stack[k]);
  if (d > kWordMax) return RaiseError(u_.ctx, kExprTooLarge, -1, 0, -1, nullptr);
  if (StatusCode st = u_.Emit({Word(op), d, position, e.total}); st != kOk) return st;
  OperandDone();
  return kOk;
}

// ---------------------------------------------------------------------------
// Operator state.

StatusCode ExpressionCompiler::ConvertBelow(int32_t index) {
  if (index < 0 || index >= top_ || !IsCallKind(u_.stack[index].kind)) return kOk;
  const char* name = nullptr;
  int length = 0;
  OperatorStackEntry& e = u_.stack[index];
  SymbolId s = 0;
  if (e.kind == kEntryUserCall) {
    s = e.operand >= 0 ? StoreEntry(u_.ctx, e.operand)->kind : 0;
  } else {
    if (e.kind == kEntryBuiltinCall) {
      name = kBuiltinTable[e.operand].name;
      length = static_cast<int>(strnlen(name, sizeof kBuiltinTable[0].name));
    } else {
      NativeRef ref;
      if (!FindNative(u_.ctx, e.operand, &ref)) return kUndefFun;
      name = ref.record->name;
      length = NativeNameLength(*ref.record);
    }
    if (StatusCode st = u_.Intern(name, length, &s); st != kOk) return st;
  }
  e.kind = kEntryNamedCall;
  e.operand = s;
  return kOk;
}

StatusCode ExpressionCompiler::Operator() {
  const int c = At(0);
  if (c == '.' && (IsNameStart(At(1)) || At(1) == '(')) {
    if (StatusCode st = ConvertBelow(top_ - 1); st != kOk) return st;
    if (At(1) == '(') {
      p_ += 2;
      expectOperand_ = true;
      return Push(kPrecedenceCall, kEntryDynamicField, Word(Op::GetDynamicField));
    }
    ++p_;
    const int length = NameLength(u_.text, end_, p_);
    if (StatusCode st = CheckNameLength(u_.ctx, u_.text + p_, length); st != kOk) return st;
    SymbolId s = 0;
    if (StatusCode st = u_.Intern(u_.text + p_, length, &s); st != kOk) return st;
    p_ += length;
    if (StatusCode st = u_.Emit({Word(Op::GetField), s}); st != kOk) return st;
    produced_ = 1;
    return kOk;
  }
  switch (c) {
    case ')':
      return CloseParenthesis();
    case ',':
      return Comma();
    case ';':
      return Semicolon();
    case ']':
      if (StatusCode st = Reduce(kPrecedenceMatrix); st != kOk) return st;
      if (top_ == 0) return kUnexpectedExprEnd;
      if (!TopIs(kEntryMatrix)) return kUnexpectedRightBracket;
      --top_;
      ++p_;
      produced_ = 1;
      return kOk;
    case '}':
      if (StatusCode st = Reduce(kPrecedenceCellLiteral); st != kOk) return st;
      if (TopIs(kEntryBraceIndex)) {
        const OperatorStackEntry e = *Top();
        --top_;
        ++p_;
        if (StatusCode st = u_.Emit({Word(Op::CellIndexValue), e.count + 1, e.mask}); st != kOk) return st;
        // A brace index may expand to any number of values.
        produced_ = InsideConstruct() || wanted_ < 1 ? 1 : wanted_;
        return kOk;
      }
      if (!TopIs(kEntryCellLiteral)) return kUnexpectedRightBrace;
      --top_;
      ++p_;
      produced_ = 1;
      return kOk;
    case '(':
      return OpenIndex();
    case '{': {
      if (StatusCode st = ConvertBelow(top_ - 1); st != kOk) return st;
      const int32_t total = CountCallArguments(u_.text, end_, p_ + 1);
      ++p_;
      expectOperand_ = true;
      return Push(kPrecedenceCall, kEntryBraceIndex, Word(Op::CellIndexValue), 0, 0, total);
    }
    case ':':
      return Colon();
    default:
      return TableOperator();
  }
}

StatusCode ExpressionCompiler::CloseParenthesis() {
  if (StatusCode st = Reduce(kPrecedenceGroup); st != kOk) return st;
  if (top_ == 0) return kUnexpectedExprEnd;
  const OperatorStackEntry e = *Top();
  switch (e.kind) {
    case kEntryGroup:
      --top_;
      ++p_;
      return kOk;
    case kEntryBuiltinCall:
    case kEntryNativeCall:
    case kEntryUserCall:
      --top_;
      ++p_;
      return EmitCall(e.kind, e.operand, e.count + 1, e.total == 1);
    case kEntryNamedCall: {
      --top_;
      ++p_;
      const int32_t n = e.count + 1;
      if (n + 1 > kWordMax) return RaiseError(u_.ctx, kExprTooLarge, -1, 0, -1, nullptr);
      const char* name = e.operand != 0 ? SymbolText(u_.ctx, e.operand) : nullptr;
      const int length = e.operand != 0 ? SymbolLength(u_.ctx, e.operand) : 0;
      StatusCode st = name == nullptr || NameEquals(name, length, "feval")
                          ? u_.Emit({Word(Op::PushEmpty)})
                          : EmitStringLiteral(name, length, u_.code, u_.room, u_.cp);
      if (st != kOk) return st;
      const int32_t r = DecideResults(true, 0, 0);
      if (StatusCode st2 = u_.Emit({Word(Op::CallByValue), n + 1, r}); st2 != kOk) return st2;
      OperandDone(r < 0 ? 1 : r);
      return kOk;
    }
    case kEntryParenIndex:
      return CloseIndex(*Top());
    case kEntryDynamicField:
      --top_;
      ++p_;
      produced_ = 1;
      return u_.Emit({Word(Op::GetDynamicField)});
    case kEntryIndexDynamicField: {
      ++p_;
      OperatorStackEntry& t = *Top();
      if (e.total == 0) {
        --top_;
      } else {
        t = OperatorStackEntry{kPrecedenceAccess, e.total, -1, -1, 0, 0, 0};
      }
      produced_ = 1;
      return u_.Emit({Word(Op::IndexGetDynamicField), e.count, e.mask});
    }
    default:
      return kUnexpectedRightPar;
  }
}

// ")" of a "(" index: the index itself, or with a field after it the index and
// the field in one instruction.
StatusCode ExpressionCompiler::CloseIndex(OperatorStackEntry& e) {
  const int32_t n = e.count + 1;
  const int32_t op = e.operand;
  const int32_t self = top_ - 1;
  const int32_t access = op == Word(Op::IndexVarForAssign) ? kEntryVariableAssign : kEntryVariableAccess;
  ++p_;
  if (At(0) == '.' && IsNameStart(At(1))) {
    ++p_;
    const int length = NameLength(u_.text, end_, p_);
    if (StatusCode st = CheckNameLength(u_.ctx, u_.text + p_, length); st != kOk) return st;
    SymbolId s = 0;
    if (StatusCode st = u_.Intern(u_.text + p_, length, &s); st != kOk) return st;
    p_ += length;
    if (StatusCode st = u_.Emit({Word(Op::IndexGetField), n, e.mask, s}); st != kOk) return st;
    if (op == Word(Op::IndexValue)) {
      --top_;
    } else {
      e = OperatorStackEntry{kPrecedenceAccess, access, -1, -1, 0, 0, 0};
    }
    produced_ = 1;
    return ConvertBelow(self - 1);
  }
  if (At(0) == '.' && At(1) == '(') {
    p_ += 2;
    const int32_t revert = op == Word(Op::IndexValue) ? 0 : access;
    e = OperatorStackEntry{kPrecedenceCall, kEntryIndexDynamicField, -1, Word(Op::IndexGetDynamicField), e.mask, n,
                           revert};
    expectOperand_ = true;
    return ConvertBelow(self - 1);
  }
  const int32_t mask = e.mask;
  --top_;
  if (op == Word(Op::IndexVarForAssign)) {
    produced_ = 1;
    return u_.Emit({op, n, mask});
  }
  const int32_t r = InsideConstruct() || wanted_ < 1 ? 1 : wanted_;
  produced_ = r;
  return u_.Emit({op, n, mask, r});
}

StatusCode ExpressionCompiler::Comma() {
  if (StatusCode st = Reduce(kPrecedenceComma); st != kOk) return st;
  if (top_ == 0) return kUnexpectedExprEnd;
  OperatorStackEntry* e = Top();
  switch (e->kind) {
    case kEntryCellRow:
    case kEntryMatrixRow:
    case kEntryBuiltinCall:
    case kEntryNativeCall:
    case kEntryUserCall:
    case kEntryNamedCall:
    case kEntryParenIndex:
    case kEntryBraceIndex:
      // Element, argument and index counts are operand words.
      if (e->count + 2 > kWordMax) return RaiseError(u_.ctx, kExprTooLarge, -1, 0, -1, nullptr);
      ++e->count;
      ++p_;
      expectOperand_ = true;
      return kOk;
    default:
      return kUnexpectedComma;
  }
}

StatusCode ExpressionCompiler::Semicolon() {
  if (StatusCode st = Reduce(kPrecedenceRowSeparator); st != kOk) return st;
  if (top_ == 0) return kUnexpectedExprEnd;
  const bool matrix = TopIs(kEntryMatrix);
  if (!matrix && !TopIs(kEntryCellLiteral)) return kUnexpectedSemicolon;
  if (StatusCode st = Push(kPrecedenceRowSeparator, kEntryInfix, 0); st != kOk) return st;
  if (StatusCode st = Push(kPrecedenceRow, matrix ? kEntryMatrixRow : kEntryCellRow, -1); st != kOk) return st;
  ++p_;
  expectOperand_ = true;
  return kOk;
}

StatusCode ExpressionCompiler::OpenIndex() {
  OperatorStackEntry* e = Top();
  const bool variable = e != nullptr && (e->kind == kEntryVariableAccess || e->kind == kEntryVariableAssign);
  const bool empty = At(1) == ')';
  const bool several = wanted_ >= 2 && !assign_ && top_ == (variable ? 1 : 0);
  if (empty || several) {
    // The operand is a function value: close its access and call it through feval.
    if (variable) {
      if (StatusCode st = u_.Emit({Word(e->kind == kEntryVariableAssign ? Op::EndRefAssign : Op::EndRef)}); st != kOk)
        return st;
      --top_;
    }
    const int32_t feval = static_cast<int32_t>(FindBuiltin("feval", 5) - kBuiltinTable);
    if (empty) {
      p_ += 2;
      return EmitCall(kEntryBuiltinCall, feval, 1, false);
    }
    ++p_;
    expectOperand_ = true;
    return Push(kPrecedenceCall, kEntryBuiltinCall, feval, 0, 1);
  }
  const int32_t total = CountCallArguments(u_.text, end_, p_ + 1);
  ++p_;
  expectOperand_ = true;
  if (variable) {
    const bool target = e->kind == kEntryVariableAssign;
    *e = OperatorStackEntry{
        kPrecedenceCall, kEntryParenIndex, -1, Word(target ? Op::IndexVarForAssign : Op::IndexVar), 0, 0, total};
    return kOk;
  }
  return Push(kPrecedenceCall, kEntryParenIndex, Word(Op::IndexValue), 0, 0, total);
}

StatusCode ExpressionCompiler::Colon() {
  if (StatusCode st = Reduce(kPrecedenceOrElse); st != kOk) return st;
  if (TopIs(kEntryRange) && Top()->count == 1) {
    if (StatusCode st = ReduceEntry(u_, *Top(), p_, false); st != kOk) return st;
    --top_;
  }
  ++p_;
  expectOperand_ = true;
  OperatorStackEntry* e = Top();
  if (TopIs(kEntryRange)) {
    e->count = 1;
    return kOk;
  }
  if (TopIs(kEntrySpecial) && kOperatorTable[e->total].token[0] == '?' && e->count == 0) {
    // The ":" of "c ? a : b": a jumps over b, and a false c lands on b.
    if (StatusCode st = u_.Emit({Word(Op::Jump), 2}); st != kOk) return st;
    if (StatusCode st = PatchJump(u_.code, e->operand, *u_.cp); st != kOk)
      return RaiseError(u_.ctx, st, -1, 0, -1, nullptr);
    e->operand = *u_.cp - 1;
    e->count = 1;
    return kOk;
  }
  return Push(kPrecedenceRange, kEntryRange, Word(Op::Colon));
}

StatusCode ExpressionCompiler::TableOperator() {
  for (int32_t i = 0; kOperatorTable[i].kind != kEndOfOperators; ++i) {
    const OperatorRecord& r = kOperatorTable[i];
    if (r.kind == kPrefix) continue;
    const int32_t n = static_cast<int32_t>(strnlen(r.token, sizeof r.token));
    if (p_ + n > end_ || std::memcmp(u_.text + p_, r.token, n) != 0) continue;
    if (r.kind == kPostfix) {
      if (StatusCode st = Reduce(kPrecedencePostfix); st != kOk) return st;
      p_ += n;
      produced_ = 1;
      return EmitOperatorCall(u_, r.name, 1);
    }
    if (r.kind == kSpecial) {
      const bool conditional = r.token[0] == '?';
      const bool andAlso = r.token[0] == '&';
      if (StatusCode st = Reduce(andAlso ? kPrecedenceAndAlso : kPrecedenceOrElse); st != kOk) return st;
      const Op jump = conditional ? Op::JumpIfFalse : andAlso ? Op::AndAlsoJump : Op::OrElseJump;
      if (StatusCode st = u_.Emit({Word(jump), conditional ? 2 : -1}); st != kOk) return st;
      p_ += n;
      expectOperand_ = true;
      return Push(r.precedence, kEntrySpecial, *u_.cp - 1, 0, 0, i);
    }
    if (StatusCode st = Reduce(r.precedence); st != kOk) return st;
    p_ += n;
    expectOperand_ = true;
    return Push(r.precedence, kEntryInfix, i);
  }
  return RaiseCharacter(u_.ctx, kUnrecognizedToken, At(0));
}

}  // namespace

// ---------------------------------------------------------------------------
// The compiler's face.

StatusCode CompileExpression(EngineContext* ctx, int32_t library, const char* text, int32_t* position, int32_t end,
                             OperatorStackEntry* stack, int32_t stackRoom, int16_t* code, int32_t codeRoom,
                             int32_t* codePosition, const char* names, int32_t nameCount, int32_t* valuesProduced,
                             int16_t** lastInstruction, const ExpressionOptions& options) {
  if (lastInstruction) *lastInstruction = nullptr;
  if (valuesProduced) *valuesProduced = 0;
  ExpressionCompiler compiler(ctx, library, text, position, end, stack, stackRoom, code, codeRoom, codePosition, names,
                              nameCount, options);
  return compiler.Run(valuesProduced, lastInstruction);
}

StatusCode ReduceOperators(EngineContext* ctx, int32_t library, int16_t* code, int32_t codeRoom, const char* text,
                           int32_t textPosition, const char* names, int32_t nameCount, int32_t* codePosition,
                           OperatorStackEntry* stack, int32_t* top, int32_t threshold) {
  Unit u{ctx, library, text, code, codeRoom, codePosition, names, nameCount, stack, top};
  bool other = false;
  while (*top > 0) {
    const OperatorStackEntry e = stack[*top - 1];
    if (e.precedence < threshold || StopsReduction(e.kind)) break;
    // An anonymous function's entry stays while it is reduced: its own
    // parameters are not captured.
    StatusCode st = ReduceEntry(u, e, textPosition, other);
    --*top;
    if (st != kOk) return st;
    other = true;
  }
  return kOk;
}

StatusCode EmitStringLiteral(const char* text, int32_t length, int16_t* code, int32_t codeRoom, int32_t* codePosition) {
  if (length > kWordMax) return kExprTooLarge;
  const int32_t words = (length + 1) / 2;
  if (*codePosition + 2 + words > codeRoom) return kCodeOverflow;
  int16_t* out = code + *codePosition;
  out[0] = Word(Op::PushString8);
  out[1] = static_cast<int16_t>(length);
  for (int32_t k = 0; k < words; ++k) {
    const uint32_t lo = static_cast<unsigned char>(text[2 * k]);
    const uint32_t hi = 2 * k + 1 < length ? static_cast<unsigned char>(text[2 * k + 1]) : 0;
    out[2 + k] = static_cast<int16_t>(static_cast<uint16_t>(lo | (hi << 8)));
  }
  *codePosition += 2 + words;
  return kOk;
}

int32_t FindAnonymousParameter(const char* text, const OperatorStackEntry* stack, int32_t top, const char* name,
                               int32_t length) {
  for (int32_t k = top - 1; k >= 0; --k) {
    if (stack[k].kind != kEntryAnonymous) continue;
    const int32_t start = stack[k].operand;
    const int32_t index = FindInList(text, start, ParameterListEnd(text, start), name, length);
    if (index >= 0) return index;
  }
  return -1;
}

int32_t CountCallArguments(const char* text, int32_t end, int32_t position) {
  int32_t depth = 0, count = 1;
  int previous = '(';
  bool previousIsTranspose = false;
  for (int32_t q = position; q < end; ++q) {
    const int c = ByteAt(text, q);
    if (c == '\'' && !QuoteIsTranspose(previous, previousIsTranspose)) {
      for (++q; q < end; ++q) {
        if (text[q] == '\\') {
          ++q;
        } else if (text[q] == '\'') {
          if (q + 1 < end && text[q + 1] == '\'') {
            ++q;
          } else {
            break;
          }
        }
      }
      previous = ']';  // a string ends an operand
      previousIsTranspose = false;
      continue;
    }
    previousIsTranspose = c == '\'';
    previous = c;
    if (c == '(' || c == '[' || c == '{') {
      ++depth;
    } else if (c == ')' || c == ']' || c == '}') {
      if (depth == 0) return count;
      --depth;
    } else if (c == ',' && depth == 0) {
      ++count;
    }
  }
  return count;
}

StatusCode ConvertCallToNamedCall(EngineContext* ctx, OperatorStackEntry* entry) {
  SymbolId s = 0;
  switch (entry->kind) {
    case kEntryBuiltinCall: {
      const char* name = kBuiltinTable[entry->operand].name;
      const int length = static_cast<int>(strnlen(name, sizeof kBuiltinTable[0].name));
      if (StatusCode st = InternSymbol(ctx, name, length, kMaxNameLength, &s); st != kOk) return st;
      break;
    }
    case kEntryNativeCall: {
      NativeRef ref;
      if (!FindNative(ctx, entry->operand, &ref)) return kUndefFun;
      if (StatusCode st = InternSymbol(ctx, ref.record->name, NativeNameLength(*ref.record), kMaxNameLength, &s);
          st != kOk)
        return st;
      break;
    }
    case kEntryUserCall:
      s = entry->operand >= 0 ? StoreEntry(ctx, entry->operand)->kind : 0;
      break;
    default:
      return kOk;
  }
  entry->kind = kEntryNamedCall;
  entry->operand = s;
  return kOk;
}

// The compiler sees user functions as calls by name see them at run time, so
// that a call compiled to an entry finds the same entry when it runs.
int32_t FindVisibleUserFunction(EngineContext* ctx, int32_t library, const char* name, int32_t length) {
  return FindUserFunction(ctx, name, length, nullptr, 0, library, true, nullptr);
}
