// Statement code generation: expression statements and assignments, the
// control structures with their jump chains, global and persistent
// declarations, and CompileSource, which runs pass 1 and pass 2 over a text.
#include "engine/compiler/codegen.h"

#include <algorithm>
#include <cstring>

#include "engine/bytecode.h"
#include "engine/compiler/compiler.h"
#include "engine/compiler/optimizer.h"
#include "engine/compiler/scanner.h"
#include "engine/function.h"
#include "engine/functionstore.h"
#include "engine/heap.h"
#include "engine/values/valuestack.h"

namespace {

constexpr int16_t W(Op op) { return static_cast<int16_t>(op); }

bool FitsWord(int64_t v) { return v >= INT16_MIN && v <= INT16_MAX; }

// Pass 2 state. Positions are word indices into code.
struct Gen {
  EngineContext* ctx;
  int32_t library;
  ControlStackEntry* control;
  int32_t capacity;  // entries
  int32_t depth;
  int16_t* code;
  int32_t room;
  int32_t pos;
  int32_t function;
  const char* names;
  int32_t nameCount;
  bool ans;
  bool createFunctions;
  int32_t line;
};

bool OutputInCodeArea(const Gen& g) {
  const auto at = reinterpret_cast<uintptr_t>(g.code);
  const auto base = reinterpret_cast<uintptr_t>(g.ctx->codeBase);
  return at >= base && at < base + 2 * static_cast<uintptr_t>(g.ctx->codeSize);
}

// Words still free at the write position. Output inside the code area must
// also stay below the symbol area, which grows down while names are interned.
int32_t Room(const Gen& g) {
  int32_t limit = g.room;
  const EngineContext* ctx = g.ctx;
  if (OutputInCodeArea(g)) {
    const int32_t symbolStart = ctx->codeSize - (-ctx->symbolBytes) / 2 - 1;
    limit = static_cast<int32_t>(std::min<int64_t>(limit, symbolStart - (g.code - ctx->codeBase)));
  }
  return std::max(limit - g.pos, 0);
}

[[nodiscard]] StatusCode Emit(Gen& g, std::initializer_list<int16_t> words) {
  if (Room(g) < static_cast<int32_t>(words.size())) return kCodeOverflow;
  for (int16_t w : words) g.code[g.pos++] = w;
  return kOk;
}

// Jump chains. A forward jump still waiting for its target holds in its
// operand the distance back to the previous operand of the same chain (-1
// ends the chain); the chain's head is the newest operand. Distances rather
// than positions keep links exact however long the code grows, and a
// distance too large for a word means the jump could not reach its target.
[[nodiscard]] StatusCode Link(Gen& g, int32_t operand, int32_t* head) {
  if (*head < 0) {
    g.code[operand] = -1;
  } else {
    if (!FitsWord(operand - *head)) return kCompOutOfMemory;
    g.code[operand] = static_cast<int16_t>(operand - *head);
  }
  *head = operand;
  return kOk;
}

// Emits {op; link} as the newest link of *head.
[[nodiscard]] StatusCode EmitLinked(Gen& g, Op op, int32_t* head) {
  if (StatusCode st = Emit(g, {W(op), -1}); st != kOk) return st;
  return Link(g, g.pos - 1, head);
}

// Every jump of the chain now goes to target.
[[nodiscard]] StatusCode PatchChain(Gen& g, int32_t head, int32_t target) {
  for (int32_t p = head; p >= 0;) {
    const int32_t next = g.code[p] == -1 ? -1 : p - g.code[p];
    const int32_t offset = target - (p + 1);
    if (!FitsWord(offset)) return kCompOutOfMemory;
    g.code[p] = static_cast<int16_t>(offset);
    p = next;
  }
  return kOk;
}

// {op; offset to target}, for jumps whose target is already known.
[[nodiscard]] StatusCode EmitJumpTo(Gen& g, Op op, int32_t target) {
  const int32_t offset = target - (g.pos + 2);
  if (!FitsWord(offset)) return kCompOutOfMemory;
  return Emit(g, {W(op), static_cast<int16_t>(offset)});
}

void EmitLineMarker(Gen& g, int32_t line) {
  // Markers are for the debugger and the profiler: without room the
  // statement's own code reports the overflow.
  if (g.ctx->lineInfo && Room(g) >= 3)
    (void)Emit(g, {W(Op::LineMarker), static_cast<int16_t>(g.function), static_cast<int16_t>(line)});
}

// ---------------------------------------------------------------------------
// The control stack.

ControlStackEntry* Top(Gen& g) { return g.depth > 0 ? &g.control[g.depth - 1] : nullptr; }

[[nodiscard]] StatusCode Push(Gen& g, ControlKind kind, int32_t pending, int32_t exitChain, int32_t continueChain) {
  if (g.depth >= g.capacity) return kTooManyNestedBlocks;
  g.control[g.depth++] = ControlStackEntry{kControlMarker, kind, g.line, pending, exitChain, continueChain, 0};
  return kOk;
}

bool IsLoop(int32_t kind) { return kind == kControlWhile || kind == kControlFor || kind == kControlRepeat; }
bool InProtectedPart(const ControlStackEntry& e) { return e.kind == kControlTry && e.pending >= 0; }

// A TryMark that puts back the handler of the nearest try below entry
// `below` that is still in its protected part (its operand joins that try's
// chain), or {TryMark; 0; 0} when there is none.
[[nodiscard]] StatusCode EmitEnclosingHandler(Gen& g, int32_t below) {
  for (int32_t i = below - 1; i >= 0; --i) {
    if (!InProtectedPart(g.control[i])) continue;
    if (StatusCode st = Emit(g, {W(Op::TryMark), -1, 0}); st != kOk) return st;
    return Link(g, g.pos - 2, &g.control[i].pending);
  }
  return Emit(g, {W(Op::TryMark), 0, 0});
}

// Points the TryMark operands of a chain at the handler here; the word after
// each gets the number of values the open loops and switches keep.
[[nodiscard]] StatusCode PatchHandlerChain(Gen& g, int32_t head, int32_t keep) {
  for (int32_t p = head; p >= 0;) {
    const int32_t next = g.code[p] == -1 ? -1 : p - g.code[p];
    const int32_t offset = g.pos - (p + 2);
    if (!FitsWord(offset)) return kCompOutOfMemory;
    g.code[p] = static_cast<int16_t>(offset);
    g.code[p + 1] = static_cast<int16_t>(keep);
    p = next;
  }
  return kOk;
}

// Values that the open switch and for entries below entry i keep on the stack.
int32_t KeptValues(const Gen& g, int32_t i) {
  int32_t n = 0;
  for (int32_t k = 0; k < i; ++k)
    if (g.control[k].kind == kControlSwitch || g.control[k].kind == kControlFor) ++n;
  return n;
}

// ---------------------------------------------------------------------------
// Expressions.

struct Compiled {
  int32_t start = 0;
  int32_t values = 0;
  int16_t* last = nullptr;
};

[[nodiscard]] StatusCode CompileText(Gen& g, const char* text, int32_t* position, int32_t end,
                                     ExpressionOptions options, Compiled* out) {
  out->start = g.pos;
  auto* stack = reinterpret_cast<OperatorStackEntry*>(g.control + g.depth);
  static_assert(sizeof(OperatorStackEntry) == sizeof(ControlStackEntry));
  // Whether unknown names become functions is the whole unit's choice.
  options.createFunctions = g.createFunctions;
  return CompileExpression(g.ctx, g.library, text, position, end, stack, g.capacity - g.depth, g.code, g.pos + Room(g),
                           &g.pos, g.names, g.nameCount, &out->values, &out->last, options);
}

[[nodiscard]] StatusCode CompileWhole(Gen& g, const char* text, int32_t length, int32_t wanted, bool display,
                                      Compiled* out) {
  int32_t position = 0;
  return CompileText(g, text, &position, length, {.outputsWanted = wanted, .displayContext = display}, out);
}

// A condition, a switch or case value or a range: exactly one value, else
// 187 naming the statement.
[[nodiscard]] StatusCode CompileSingleValue(Gen& g, const StatementRecord* r, const char* statement, Compiled* out) {
  if (StatusCode st = CompileWhole(g, RecordExpressionText(r), r->expressionLength, 1, false, out); st != kOk)
    return st;
  if (out->values != 1) return RaiseError(g.ctx, kIncorrectNargout, -1, 0, out->values, statement);
  return kOk;
}

// The test that ends a condition at c.start: at level 1 and above a constant
// condition gives a Jump (always false) or a SkipOperand (always true) in
// place of its code. The operand is left for the caller.
Op ConditionTest(Gen& g, const Compiled& c) {
  if (g.ctx->optimisationLevel >= 1) {
    const int32_t length = g.pos - c.start;
    if (IsConstantCondition(g.code + c.start, length, false)) {
      g.pos = c.start;
      return Op::Jump;
    }
    if (IsConstantCondition(g.code + c.start, length, true)) {
      g.pos = c.start;
      return Op::SkipOperand;
    }
  }
  return Op::JumpIfFalse;
}

// Position of the last instruction of code[start, end), or -1.
int32_t LastInstruction(const int16_t* code, int32_t start, int32_t end) {
  int32_t last = -1;
  for (int32_t p = start; p < end; p += std::max(GetInstructionLength(code + p), 1)) last = p;
  return last;
}

bool AnsIsVariableZero(const char* names, int32_t count) { return count > 0 && std::strncmp(names, "ans", 4) == 0; }

// ---------------------------------------------------------------------------
// Statements.

[[nodiscard]] StatusCode ExpressionStatement(Gen& g, const StatementRecord* r) {
  const bool shown = r->cls == kStatementShown;
  Compiled c;
  if (StatusCode st = CompileWhole(g, RecordExpressionText(r), r->expressionLength, r->targets, shown || g.ans, &c);
      st != kOk)
    return st;

  if (r->targets == 0) {
    if (c.values == 0) return kOk;
    if (!shown) {
      if (g.ans) return Emit(g, {W(Op::StoreVar), 0});
      if (g.ctx->optimisationLevel >= 4 && IsPureCode(g.code + c.start, g.pos - c.start)) {
        g.pos = c.start;
        return kOk;
      }
      return Emit(g, {W(Op::Drop)});
    }
    if (c.last != nullptr && c.last == g.code + g.pos - 2 && c.last[0] == W(Op::LoadVar)) {
      c.last[0] = W(Op::DisplayVar);
      return kOk;
    }
    if (g.ans) return Emit(g, {W(Op::StoreAnsDisplay), 0});
    return Emit(g, {W(Op::Disp)});
  }
  if (c.values == 0) return RaiseError(g.ctx, kIncorrectNargout, -1, 0, -1, nullptr);

  // The targets in text order: the first takes the value on top.
  const char* t = RecordTargetText(r);
  const int32_t n = r->targetLength;
  int32_t p = n > 0 && (t[0] == '[' || t[0] == '(') ? 1 : 0;
  for (int32_t k = 0; k < r->targets; ++k) {
    Compiled target;
    const StatusCode st = CompileText(g, t, &p, n, {.assignmentMode = true}, &target);
    if (st != kOk && st != kUnexpectedExprEnd) return st;
    int16_t* opener = target.last;
    if (opener == nullptr) return kBadAsgnVar;
    if (opener[0] == W(Op::LoadVar)) {
      // A plain variable is the whole target; «x+1 = 2» is no assignment.
      if (opener != g.code + g.pos - 2) return kBadAsgnVar;
      opener[0] = W(Op::StoreVar);
    } else if (opener[0] != W(Op::RefVar) && opener[0] != W(Op::RefVarForAssign)) {
      return kBadAsgnVar;
    } else {
      // An indexed or field target ends with the instruction that closes its
      // access; anything after it («x(1)+1 = 2») makes it no target.
      const int16_t* last = opener;
      for (const int16_t* i = opener; i < g.code + g.pos; i += GetInstructionLength(i)) last = i;
      if (last[0] != W(Op::EndRefAssign) && last[0] != W(Op::IndexVarForAssign)) return kBadAsgnVar;
    }
    const int16_t v = opener[1];
    if (p < n && t[p] == ',') ++p;
    if (shown)
      if (StatusCode s2 = Emit(g, {W(Op::DisplayStored), v}); s2 != kOk) return s2;
  }
  return kOk;
}

[[nodiscard]] StatusCode IfStatement(Gen& g, const StatementRecord* r, const char* statement) {
  Compiled c;
  if (StatusCode st = CompileSingleValue(g, r, statement, &c); st != kOk) return st;
  if (StatusCode st = Emit(g, {W(ConditionTest(g, c)), -1}); st != kOk) return st;
  return kOk;
}

[[nodiscard]] StatusCode Elseif(Gen& g, const StatementRecord* r) {
  ControlStackEntry* e = Top(g);
  if (e == nullptr || e->kind != kControlIf || e->pending < 0) return kUnexpectedElse;
  if (StatusCode st = EmitLinked(g, Op::Jump, &e->exitChain); st != kOk) return st;
  if (StatusCode st = PatchChain(g, e->pending, g.pos); st != kOk) return st;
  e->pending = -1;
  EmitLineMarker(g, r->line);
  if (StatusCode st = IfStatement(g, r, "elseif"); st != kOk) return st;
  Top(g)->pending = g.pos - 1;
  return kOk;
}

[[nodiscard]] StatusCode Else(Gen& g) {
  ControlStackEntry* e = Top(g);
  if (e == nullptr || e->kind != kControlIf || e->pending < 0) return kUnexpectedElse;
  if (StatusCode st = EmitLinked(g, Op::Jump, &e->exitChain); st != kOk) return st;
  if (StatusCode st = PatchChain(g, e->pending, g.pos); st != kOk) return st;
  e->pending = -1;
  return kOk;
}

[[nodiscard]] StatusCode Case(Gen& g, const StatementRecord* r, bool otherwise) {
  ControlStackEntry* e = Top(g);
  if (e == nullptr || e->kind != kControlSwitch) return kUnexpectedCase;
  // Ends the previous case's body; the switch's first Jump passes over it.
  if (StatusCode st = EmitLinked(g, Op::Jump, &e->exitChain); st != kOk) return st;
  if (StatusCode st = PatchChain(g, e->pending, g.pos); st != kOk) return st;
  e->pending = -1;
  if (otherwise) return kOk;
  EmitLineMarker(g, r->line);
  Compiled c;
  if (StatusCode st = CompileSingleValue(g, r, "case", &c); st != kOk) return st;
  if (StatusCode st = Emit(g, {W(Op::CaseTest), -1}); st != kOk) return st;
  Top(g)->pending = g.pos - 1;
  return kOk;
}

[[nodiscard]] StatusCode For(Gen& g, const StatementRecord* r) {
  Compiled c;
  if (StatusCode st = CompileSingleValue(g, r, "for", &c); st != kOk) return st;
  // A range built by colon is iterated without being made into a matrix.
  Op loop = Op::ForNext;
  const int32_t last = LastInstruction(g.code, c.start, g.pos);
  if (last >= 0 && g.code[last] == W(Op::Colon)) {
    g.code[last] = W(Op::RangeIterator);
    loop = Op::ForNextRange;
  }
  if (StatusCode st = Push(g, kControlFor, g.pos, g.pos + 1, 0); st != kOk) return st;
  if (StatusCode st = Emit(g, {W(loop), -1}); st != kOk) return st;

  const char* t = RecordTargetText(r);
  const int32_t length = NameLength(t, r->targetLength, 0);
  const int32_t v = FindVariableName(g.names, g.nameCount, t, length);
  if (v < 0) return RaiseError(g.ctx, kVarNotFound, -1, 0, length, t);
  if (length != r->targetLength) return kBadForVar;
  return Emit(g, {W(Op::StoreVar), static_cast<int16_t>(v)});
}

[[nodiscard]] StatusCode While(Gen& g, const StatementRecord* r) {
  const int32_t start = g.pos;
  EmitLineMarker(g, r->line);
  Compiled c;
  if (StatusCode st = CompileSingleValue(g, r, "while", &c); st != kOk) return st;
  if (StatusCode st = Emit(g, {W(ConditionTest(g, c)), -1}); st != kOk) return st;
  return Push(g, kControlWhile, start, g.pos - 1, 0);
}

[[nodiscard]] StatusCode Until(Gen& g, const StatementRecord* r) {
  ControlStackEntry* e = Top(g);
  if (e == nullptr || e->kind != kControlRepeat) return kUnexpectedUntil;
  if (StatusCode st = PatchChain(g, e->continueChain, g.pos); st != kOk) return st;
  e->continueChain = -1;
  Compiled c;
  if (StatusCode st = CompileSingleValue(g, r, "until", &c); st != kOk) return st;
  e = Top(g);
  if (StatusCode st = EmitJumpTo(g, ConditionTest(g, c), e->pending); st != kOk) return st;
  if (StatusCode st = PatchChain(g, e->exitChain, g.pos); st != kOk) return st;
  --g.depth;
  return kOk;
}

[[nodiscard]] StatusCode End(Gen& g) {
  ControlStackEntry* e = Top(g);
  if (e == nullptr) return kUnexpectedEnd;
  switch (e->kind) {
    case kControlIf:
      if (StatusCode st = PatchChain(g, e->pending, g.pos); st != kOk) return st;
      if (StatusCode st = PatchChain(g, e->exitChain, g.pos); st != kOk) return st;
      break;
    case kControlSwitch:
      if (StatusCode st = PatchChain(g, e->exitChain, g.pos); st != kOk) return st;
      if (StatusCode st = PatchChain(g, e->pending, g.pos); st != kOk) return st;
      // The switch value.
      if (StatusCode st = Emit(g, {W(Op::Drop)}); st != kOk) return st;
      break;
    case kControlWhile:
      if (StatusCode st = EmitJumpTo(g, Op::Jump, e->pending); st != kOk) return st;
      if (StatusCode st = PatchChain(g, e->exitChain, g.pos); st != kOk) return st;
      break;
    case kControlFor:
      if (StatusCode st = EmitJumpTo(g, Op::Jump, e->pending); st != kOk) return st;
      if (StatusCode st = PatchChain(g, e->exitChain, g.pos); st != kOk) return st;
      // The range or matrix being iterated.
      if (StatusCode st = Emit(g, {W(Op::Drop)}); st != kOk) return st;
      break;
    case kControlTry:
      if (e->pending < 0) {
        if (StatusCode st = PatchChain(g, e->exitChain, g.pos); st != kOk) return st;
        break;
      }
      // No catch part: an error in the region goes on after it, quietly.
      if (StatusCode st = PatchHandlerChain(g, e->pending, KeptValues(g, g.depth - 1)); st != kOk) return st;
      e->pending = -1;
      if (StatusCode st = EmitEnclosingHandler(g, g.depth - 1); st != kOk) return st;
      break;
    default:
      return kUnexpectedEnd;
  }
  --g.depth;
  return kOk;
}

[[nodiscard]] StatusCode Catch(Gen& g) {
  ControlStackEntry* e = Top(g);
  if (e == nullptr || !InProtectedPart(*e)) return kUnexpectedCatch;
  const int32_t i = g.depth - 1;
  // The protected part ends: the enclosing handler comes back.
  if (StatusCode st = EmitEnclosingHandler(g, i); st != kOk) return st;
  if (StatusCode st = EmitLinked(g, Op::Jump, &g.control[i].exitChain); st != kOk) return st;
  if (StatusCode st = PatchHandlerChain(g, g.control[i].pending, KeptValues(g, i)); st != kOk) return st;
  g.control[i].pending = -1;
  // The handler starts by putting back the enclosing one as well.
  return EmitEnclosingHandler(g, i);
}

[[nodiscard]] StatusCode BreakOrContinue(Gen& g, bool isContinue) {
  int32_t loop = g.depth - 1;
  bool passedTry = false;
  for (; loop >= 0 && !IsLoop(g.control[loop].kind); --loop)
    if (InProtectedPart(g.control[loop])) passedTry = true;
  if (loop < 0) return kUnexpectedBreak;
  for (int32_t i = g.depth - 1; i > loop; --i)
    if (g.control[i].kind == kControlSwitch)
      if (StatusCode st = Emit(g, {W(Op::Drop)}); st != kOk) return st;
  if (passedTry)
    if (StatusCode st = EmitEnclosingHandler(g, loop); st != kOk) return st;

  ControlStackEntry& e = g.control[loop];
  if (!isContinue) return EmitLinked(g, Op::Jump, &e.exitChain);
  if (e.kind == kControlRepeat) return EmitLinked(g, Op::Jump, &e.continueChain);
  return EmitJumpTo(g, Op::Jump, e.pending);
}

[[nodiscard]] StatusCode Try(Gen& g) {
  if (StatusCode st = Emit(g, {W(Op::TryMark), -1, 0}); st != kOk) return st;
  return Push(g, kControlTry, g.pos - 2, -1, 0);
}

// The variable entry {1; symbol; -1; owner} of a global (owner -1) or
// persistent, unless it exists.
[[nodiscard]] StatusCode AddVariableEntry(Gen& g, SymbolId symbol, int32_t owner) {
  EngineContext* ctx = g.ctx;
  for (int32_t i = 0; i < ctx->entriesInUse; ++i) {
    const FunctionStoreEntry* e = StoreEntry(ctx, i);
    if (e->kind == kEntryVariable && e->name == symbol && e->qualifier == owner) return kOk;
  }
  // Growing the table moves the code above it; output inside the code area
  // would be overrun, so the table grows only for code written elsewhere.
  if (ctx->entriesInUse >= ctx->entryCapacity && !OutputInCodeArea(g)) (void)GrowFunctionTable(ctx);
  if (ctx->entriesInUse >= ctx->entryCapacity) return kTooManyUserFun;
  *StoreEntry(ctx, ctx->entriesInUse++) = FunctionStoreEntry{kEntryVariable, symbol, -1, owner};
  return kOk;
}

[[nodiscard]] StatusCode Declaration(Gen& g, const StatementRecord* r) {
  const bool persistent = r->cls == kStatementPersistent;
  const char* t = RecordTargetText(r);
  const int32_t n = r->targetLength;
  for (int32_t p = 0; p < n;) {
    const int32_t length = NameLength(t, n, p);
    if (length == 0) return RaiseError(g.ctx, kUnrecognizedToken, -1, 0, ByteAt(t, p), nullptr);
    const int32_t v = FindVariableName(g.names, g.nameCount, t + p, length);
    if (v < 0) return RaiseError(g.ctx, kVarNotFound, -1, 0, length, t + p);
    // A new symbol takes room from the top of the code area's free words:
    // it must not reach code already written there.
    if (OutputInCodeArea(g) && FindSymbol(g.ctx, t + p, length) == 0 && Room(g) < (length + 2) / 2 + 1)
      return kCodeOverflow;
    SymbolId symbol = 0;
    if (StatusCode st = InternSymbol(g.ctx, t + p, length, kMaxNameLength, &symbol); st != kOk) return st;
    if (StatusCode st = Emit(g, {W(Op::DeclareGlobal), static_cast<int16_t>(v), static_cast<int16_t>(persistent)});
        st != kOk)
      return st;
    if (StatusCode st = AddVariableEntry(g, symbol, persistent ? g.function : -1); st != kOk) return st;
    p += length;
    if (p < n && t[p] == ',') ++p;
  }
  return kOk;
}

[[nodiscard]] StatusCode Statement(Gen& g, const StatementRecord* r) {
  switch (r->cls) {
    case kStatementQuiet:
    case kStatementShown:
      return ExpressionStatement(g, r);
    case kStatementIf:
      if (StatusCode st = IfStatement(g, r, "if"); st != kOk) return st;
      return Push(g, kControlIf, g.pos - 1, -1, 0);
    case kStatementElseif:
      return Elseif(g, r);
    case kStatementElse:
      return Else(g);
    case kStatementEnd:
      return End(g);
    case kStatementSwitch: {
      Compiled c;
      if (StatusCode st = CompileSingleValue(g, r, "switch", &c); st != kOk) return st;
      if (StatusCode st = Emit(g, {W(Op::Jump), -1}); st != kOk) return st;
      return Push(g, kControlSwitch, g.pos - 1, -1, 0);
    }
    case kStatementCase:
      return Case(g, r, false);
    case kStatementOtherwise:
      return Case(g, r, true);
    case kStatementFor:
      return For(g, r);
    case kStatementWhile:
      return While(g, r);
    case kStatementRepeat:
      return Push(g, kControlRepeat, g.pos, -1, -1);
    case kStatementUntil:
      return Until(g, r);
    case kStatementBreak:
      return BreakOrContinue(g, false);
    case kStatementContinue:
      return BreakOrContinue(g, true);
    case kStatementReturn:
      return Emit(g, {W(g.function != -1 ? Op::Return : Op::EndOfCode)});
    case kStatementTry:
      return Try(g);
    case kStatementCatch:
      return Catch(g);
    case kStatementGlobal:
    case kStatementPersistent:
      return Declaration(g, r);
    default:
      return kNotSupported;
  }
}

const char* ConstructKeyword(int32_t kind) {
  switch (kind) {
    case kControlIf:
      return "if";
    case kControlSwitch:
      return "switch";
    case kControlWhile:
      return "while";
    case kControlFor:
      return "for";
    case kControlRepeat:
      return "repeat";
    default:
      return "try";
  }
}

// Definition blocks (valueCount given: one value per statement) and single
// expressions of exactly `expected` values.
[[nodiscard]] StatusCode ValueCode(Gen& g, const int32_t* records, int32_t recordWords, int32_t expected,
                                   int32_t* valueCount) {
  if (g.ctx->lineInfo)
    if (StatusCode st = Emit(g, {W(Op::LineMarker), -1, 0}); st != kOk) return st;
  int32_t count = 0;
  for (int32_t w = 0; w + kStatementRecordWords <= recordWords;) {
    const auto* r = reinterpret_cast<const StatementRecord*>(records + w);
    g.line = r->line;
    if (r->cls != kStatementShown || r->targets != 0) return kUnexpectedStatement;
    const int32_t wanted = valueCount != nullptr ? 1 : expected;
    Compiled c;
    if (StatusCode st = CompileWhole(g, RecordExpressionText(r), r->expressionLength, wanted, false, &c); st != kOk)
      return st;
    // Too few values is the caller asking for too many outputs.
    if (c.values < wanted) return kTooManyArgout;
    if (c.values > wanted) return valueCount != nullptr ? kTooManyArgout : kTooFewArgout;
    ++count;
    if (valueCount == nullptr) break;
    w += StatementRecordWords(r);
  }
  if (valueCount != nullptr) *valueCount = count;
  return Emit(g, {W(Op::EndOfCode)});
}

// The error belongs to the statement being compiled, in this function.
void LocateCompileError(Gen& g) {
  g.ctx->errorPosition = g.line;
  if (CallFrame* f = CurrentFrame(g.ctx)) {
    f->line = g.line;
    f->function = g.function;
  }
}

[[nodiscard]] StatusCode StatementCode(Gen& g, const int32_t* records, int32_t recordWords) {
  for (int32_t w = 0; w + kStatementRecordWords <= recordWords;) {
    const auto* r = reinterpret_cast<const StatementRecord*>(records + w);
    g.line = r->line;
    const int32_t cls = r->cls;
    if (cls != kStatementElseif && cls != kStatementCase && cls != kStatementWhile && cls != kStatementRepeat)
      EmitLineMarker(g, r->line);
    if (StatusCode st = Statement(g, r); st != kOk) return st;
    w += StatementRecordWords(r);
  }
  if (const ControlStackEntry* e = Top(g)) {
    // The message is composed now, at the construct's opening line.
    g.line = e->line;
    LocateCompileError(g);
    return RaiseError(g.ctx, kUnboundedConstruct, -1, 0, -1, ConstructKeyword(e->kind));
  }
  return Emit(g, {W(g.function != -1 ? Op::Return : Op::EndOfCode)});
}

}  // namespace

bool IsConstantCondition(const int16_t* code, int32_t length, bool wanted) {
  if (length == 1) return code[0] == W(wanted ? Op::PushOne : Op::PushZero);
  return length == 2 && code[0] == W(wanted ? Op::True : Op::False) && code[1] == 0;
}

StatusCode GenerateStatementCode(EngineContext* ctx, int32_t library, const int32_t* records, int32_t recordWords,
                                 int32_t* control, int32_t controlWords, int16_t* code, int32_t room,
                                 int32_t* codePosition, int32_t function, int32_t expectedValues, int32_t* valueCount,
                                 const char* names, int32_t nameCount, bool storeInAns, bool createFunctions) {
  Gen g{};
  g.ctx = ctx;
  g.library = library;
  g.control = reinterpret_cast<ControlStackEntry*>(control);
  g.capacity = std::max(controlWords, 0) / static_cast<int32_t>(sizeof(ControlStackEntry) / 4);
  g.code = code;
  g.room = room;
  g.pos = *codePosition;
  g.function = function;
  g.names = names;
  g.nameCount = nameCount;
  g.ans = storeInAns && AnsIsVariableZero(names, nameCount);
  g.createFunctions = createFunctions;

  const StatusCode st = function == -1 && expectedValues > 0
                            ? ValueCode(g, records, recordWords, expectedValues, valueCount)
                            : StatementCode(g, records, recordWords);
  *codePosition = g.pos;
  if (st != kOk) LocateCompileError(g);
  return st;
}

StatusCode CompileSource(EngineContext* ctx, int32_t library, const char* text, int32_t length, int16_t* output,
                         int32_t outputWords, int32_t* used, const CompileOptions& options) {
  const int32_t function = options.function;
  char* names = options.names;
  int32_t* valueCount = options.valueCount;
  std::memset(ctx->failingName, 0, sizeof ctx->failingName);
  ForgetVariableNameIndex();
  ctx->errorFunction = function;
  const bool functionMode = function != -1;
  *used = 0;

  // Pass 1 writes its records into the free data space; they stay reserved
  // while pass 2 reads them, out of reach of anything pushed meanwhile.
  auto* scratch = reinterpret_cast<int32_t*>(ctx->dataBase + ctx->dataTop);
  const int32_t scratchWords = static_cast<int32_t>(std::min<int64_t>(2 * FreeDataCells(ctx), INT32_MAX));
  int32_t recordWords = 0, headerWords = 0, line = options.firstLine;
  int32_t ownCount = 0;
  int32_t* count = options.nameCount != nullptr ? options.nameCount : &ownCount;
  if (StatusCode st = SplitStatements(ctx, scratch, scratchWords, &recordWords, text, length, options.stopAtNextUnit,
                                      output, outputWords, &headerWords, names, count, options.nameCapacity,
                                      functionMode, options.skipFunctions, &line);
      st != kOk)
    return st;

  const bool define = functionMode && (output[0] & kHeaderDefine) != 0;
  const char* passNames = functionMode ? reinterpret_cast<const char*>(output + 4 + output[2]) : names;
  const int32_t passCount = functionMode ? output[1] : *count;
  int32_t values = 0;

  const int32_t savedTop = ctx->dataTop;
  ctx->dataTop += (recordWords + 1) / 2;
  int32_t position = functionMode ? headerWords : 0;
  *used = position;
  const StatusCode st = GenerateStatementCode(ctx, library, scratch, recordWords, ctx->descBase + ctx->descLength,
                                              ctx->descCapacity - ctx->descLength, output, outputWords, &position,
                                              define ? -1 : function, define ? 1 : options.expectedValues,
                                              define ? (valueCount != nullptr ? valueCount : &values) : nullptr,
                                              passNames, passCount, options.storeInAns, options.createFunctions);
  ctx->dataTop = savedTop;
  if (st != kOk) return st;

  int32_t codeStart = functionMode ? headerWords : 0;
  if (functionMode && options.removeNames && output[1] > 0) {
    // Sixteen words per name: the code keeps its 8-byte alignment.
    const int32_t names16 = 16 * output[1];
    std::memmove(output + codeStart - names16, output + codeStart, sizeof(int16_t) * (position - codeStart));
    codeStart -= names16;
    position -= names16;
    output[0] = static_cast<int16_t>(output[0] | kHeaderNamesStripped);
  }
  if (ctx->optimisationLevel >= 2) ThreadJumps(output + codeStart, position - codeStart, ctx->optimisationLevel >= 3);
  *used = position;
  ctx->errorFunction = -1;
  ctx->errorPosition = 0;
  return kOk;
}

StatusCode CompileFunctionSource(EngineContext* ctx, int32_t library, const char* text, int32_t length,
                                 bool stopAtNextUnit, int16_t* output, int32_t room, int32_t* used, int32_t entry,
                                 int32_t firstLine) {
  return CompileSource(ctx, library, text, length, output, room, used,
                       {.function = entry, .firstLine = firstLine, .stopAtNextUnit = stopAtNextUnit});
}
