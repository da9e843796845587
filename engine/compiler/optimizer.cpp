// The peephole pass over one expression's code and jump threading over a
// compiled unit. Folds compute with the run time's own double functions
// (engine/doublemath.h), so an optimised program prints the same bits as an
// unoptimised one.
#include "engine/compiler/optimizer.h"

#include <cstring>
#include <initializer_list>

#include "engine/bytecode.h"
#include "engine/values/doublemath.h"

namespace {

constexpr int16_t W(Op op) { return static_cast<int16_t>(op); }
Op OpAt(const int16_t* code, int p) { return static_cast<Op>(static_cast<uint16_t>(code[p])); }

// Length of the instruction at p when it lies wholly before end, else 0.
int LengthWithin(const int16_t* code, int p, int end) {
  if (p >= end) return 0;
  const uint16_t op = static_cast<uint16_t>(code[p]);
  if (op < kOpcodeCount && (kOpcodeTable[op].kind == kBytes || kOpcodeTable[op].kind == kChars16) && p + 1 >= end)
    return 0;
  const int len = GetInstructionLength(code + p);
  return p + len <= end ? len : 0;
}

bool JumpTarget(const int16_t* code, int p, int* target) {
  if (!GetJumpTarget(code + p, target)) return false;
  *target += p;
  return true;
}

// True when a jump in code[from, end) lands strictly inside (lo, hi).
bool LandsInside(const int16_t* code, int from, int end, int lo, int hi) {
  for (int p = from, len; (len = LengthWithin(code, p, end)) > 0; p += len) {
    int t = 0;
    if (JumpTarget(code, p, &t) && t > lo && t < hi) return true;
  }
  return false;
}

bool IsDoubleOperand(Op op) {
  const int n = static_cast<int>(op);
  return n < kOpcodeCount && kOpcodeTable[n].kind == kDoubles;
}

double ReadDouble(const int16_t* words) {
  uint64_t bits = 0;
  for (int k = 3; k >= 0; --k) bits = (bits << 16) | static_cast<uint16_t>(words[k]);
  double x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

// One instruction that replaces a window of the code.
struct Replacement {
  int16_t words[5];
  int length;
  int windowEnd;  // the first word after the instructions it replaces
};

void SetWords(Replacement* r, std::initializer_list<int16_t> words) {
  r->length = 0;
  for (int16_t w : words) r->words[r->length++] = w;
}

void SetDouble(Replacement* r, Op op, double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  r->words[0] = W(op);
  for (int k = 0; k < 4; ++k) r->words[1 + k] = static_cast<int16_t>(bits >> (16 * k));
  r->length = 5;
}

// The typed constant of an integer conversion builtin, or Nop.
Op TypedPush(Op conversion) {
  switch (conversion) {
    case Op::Int8:
      return Op::PushInt8;
    case Op::Int16:
      return Op::PushInt16;
    case Op::Int32:
      return Op::PushInt32;
    case Op::Uint8:
      return Op::PushUint8;
    case Op::Uint16:
      return Op::PushUint16;
    case Op::Uint32:
      return Op::PushUint32;
    case Op::Int64:
      return Op::PushInt64;
    case Op::Uint64:
      return Op::PushUint64;
    default:
      return Op::Nop;
  }
}

// The next instruction at or after p that is not a Nop, and its length (0
// when there is none before end).
int NextInstruction(const int16_t* code, int p, int end, int* len) {
  while (p < end && OpAt(code, p) == Op::Nop) ++p;
  *len = LengthWithin(code, p, end);
  return p;
}

// The rewrite that starts with the instruction at a, if any. The window runs
// from a to the end of the last instruction it replaces; Nops between the
// instructions are part of it.
bool MatchRewrite(const int16_t* code, int a, int end, Replacement* r) {
  const int la = LengthWithin(code, a, end);
  if (la == 0) return false;
  int lb = 0;
  const int b = NextInstruction(code, a + la, end, &lb);
  if (lb == 0) return false;
  const Op A = OpAt(code, a), B = OpAt(code, b);
  r->windowEnd = b + lb;
  const int16_t k = code[a + 1];  // the operand, for the instructions that have one

  // Three-instruction rule: k*i and i*k become an imaginary constant.
  if ((A == Op::PushSmallInt && B == Op::I) || (A == Op::I && B == Op::PushSmallInt)) {
    int lc = 0;
    const int c = NextInstruction(code, b + lb, end, &lc);
    if (lc == 0 || OpAt(code, c) != Op::Mtimes) return false;
    SetWords(r, {W(Op::PushSmallImag), A == Op::I ? code[b + 1] : k});
    r->windowEnd = c + lc;
    return true;
  }

  switch (A) {
    case Op::Uminus:
    case Op::Uplus:
      if (B != Op::Uminus && B != Op::Uplus) return false;
      SetWords(r, {W(A == B ? Op::Uplus : Op::Uminus)});
      return true;
    case Op::PushZero:
    case Op::PushOne:
      if (A == Op::PushOne && B == Op::Uminus) {
        SetWords(r, {W(Op::PushSmallInt), -1});
        return true;
      }
      if (TypedPush(B) == Op::Nop) return false;
      SetWords(r, {W(TypedPush(B)), static_cast<int16_t>(A == Op::PushOne ? 1 : 0)});
      return true;
    case Op::PushSmallInt:
      if (TypedPush(B) != Op::Nop) {
        // The conversions keep the low-order bits, as the run-time builtins do.
        int16_t v = k;
        if (B == Op::Int8) v = static_cast<int8_t>(k & 0xFF);
        if (B == Op::Uint8) v = static_cast<int16_t>(k & 0xFF);
        SetWords(r, {W(TypedPush(B)), v});
        return true;
      }
      switch (B) {
        case Op::Sqrt:
          if (k != -1) return false;
          SetWords(r, {W(Op::I)});
          return true;
        case Op::Uplus:
        case Op::Double:
          SetWords(r, {W(Op::PushSmallInt), k});
          return true;
        case Op::Uminus:
        case Op::Abs:
          // -(-32768) does not fit in a word: leave it to the run time.
          if (k == -32768) return false;
          SetWords(r, {W(Op::PushSmallInt), static_cast<int16_t>(B == Op::Uminus || k < 0 ? -k : k)});
          return true;
        case Op::Sign:
          SetWords(r, {W(Op::PushSmallInt), static_cast<int16_t>(k > 0 ? 1 : k < 0 ? -1 : 0)});
          return true;
        default:
          return false;
      }
    case Op::PushSmallImag:
      if (B != Op::Uminus || k == -32768) return false;
      SetWords(r, {W(Op::PushSmallImag), static_cast<int16_t>(-k)});
      return true;
    case Op::PushImagDouble:
      if (B != Op::Uminus) return false;
      SetDouble(r, Op::PushImagDouble, -ReadDouble(code + a + 1));
      return true;
    case Op::PushDouble: {
      const double x = ReadDouble(code + a + 1);
      switch (B) {
        case Op::Uminus:
          SetDouble(r, Op::PushDouble, -x);
          return true;
        case Op::Conj:
        case Op::Real:
          SetDouble(r, Op::PushDouble, x);
          return true;
        case Op::Imag:
          SetWords(r, {W(Op::PushZero)});
          return true;
        case Op::Abs:
          SetDouble(r, Op::PushDouble, DoubleAbs(x));
          return true;
        case Op::Exp:
          SetDouble(r, Op::PushDouble, DoubleExp(x));
          return true;
        case Op::Sin:
          SetDouble(r, Op::PushDouble, DoubleSin(x));
          return true;
        case Op::Cos:
          SetDouble(r, Op::PushDouble, DoubleCos(x));
          return true;
        case Op::Tan:
          SetDouble(r, Op::PushDouble, DoubleTan(x));
          return true;
        case Op::Atan:
          SetDouble(r, Op::PushDouble, DoubleAtan(x));
          return true;
        case Op::Sign: {
          const double s = DoubleSign(x);
          if (s == 1)
            SetWords(r, {W(Op::PushOne)});
          else if (s == 0)
            SetWords(r, {W(Op::PushZero)});
          else if (s == -1)
            SetWords(r, {W(Op::PushSmallInt), -1});
          else
            SetDouble(r, Op::PushDouble, s);  // NaN stays NaN, as the builtin gives it
          return true;
        }
        default:
          return false;
      }
    }
    default:
      return false;
  }
}

// Nops that bring p to a position whose next word is 8-byte aligned, as a
// double operand needs.
int DoubleAlignment(int p) { return (3 - p % 4 + 4) % 4; }

// One pass; gives the number of rewrites made.
int PairPass(int16_t* code, int start, int* end) {
  int rewrites = 0;
  int in = start, out = start;
  Replacement r;

  // Before the first jump: compact, dropping Nops and realigning doubles.
  while (in < *end) {
    const Op op = OpAt(code, in);
    if (op == Op::Nop) {
      ++in;
      continue;
    }
    const int len = LengthWithin(code, in, *end);
    if (len == 0 || HasRelativeJumpOperand(static_cast<int>(op))) break;
    const int16_t* words = code + in;
    int count = len;
    int next = in + len;
    if (MatchRewrite(code, in, *end, &r)) {
      words = r.words;
      count = r.length;
      next = r.windowEnd;
      ++rewrites;
    }
    // Code compiled with aligned doubles always leaves room for the padding;
    // if it does not, the double stays where it can.
    if (IsDoubleOperand(static_cast<Op>(static_cast<uint16_t>(words[0])))) {
      const int padded = out + DoubleAlignment(out);
      while (padded <= in && out < padded) code[out++] = W(Op::Nop);
    }
    std::memmove(code + out, words, count * sizeof(int16_t));
    out += count;
    in = next;
  }
  if (in >= *end) {
    *end = out;
    return rewrites;
  }

  // From the first jump on nothing moves but by a multiple of 4 words, which
  // keeps relative jumps valid and doubles aligned.
  while (out % 4 != in % 4) code[out++] = W(Op::Nop);
  std::memmove(code + out, code + in, (*end - in) * sizeof(int16_t));
  *end -= in - out;
  const int fixed = out;
  for (int p = fixed, len; (len = LengthWithin(code, p, *end)) > 0;) {
    if (OpAt(code, p) != Op::Nop && MatchRewrite(code, p, *end, &r) &&
        !LandsInside(code, fixed, *end, p, r.windowEnd)) {
      std::memcpy(code + p, r.words, r.length * sizeof(int16_t));
      for (int q = p + r.length; q < r.windowEnd; ++q) code[q] = W(Op::Nop);
      ++rewrites;
      p = r.windowEnd;
      continue;
    }
    p += len;
  }
  return rewrites;
}

bool Fits(int v) { return v >= -32768 && v <= 32767; }

bool IsThreaded(Op op) {
  return op == Op::Jump || op == Op::JumpIfTrue || op == Op::JumpIfFalse || op == Op::CaseTest || op == Op::ForNext ||
         op == Op::ForNextRange;
}

bool SetOperand(int16_t* code, int p, int operand) {
  if (!Fits(operand)) return false;
  code[p + 1] = static_cast<int16_t>(operand);
  return true;
}

// A ForNextRange at p whose body holds only Nops and line markers becomes
// RangeLastValue, the store of the loop variable and a Jump past the loop's
// Drop. The shape is checked in full, and nothing else may land inside the
// old loop, so code that only looks like a loop is left alone.
bool RemoveEmptyLoop(int16_t* code, int length, int p) {
  if (LengthWithin(code, p + 2, length) != 2 || OpAt(code, p + 2) != Op::StoreVar) return false;
  int q = p + 4, len = 0;
  while ((len = LengthWithin(code, q, length)) > 0 && (OpAt(code, q) == Op::Nop || OpAt(code, q) == Op::LineMarker))
    q += len;
  if (len != 2 || OpAt(code, q) != Op::Jump || q + 2 + code[q + 1] != p) return false;
  const int drop = q + 2;
  if (drop >= length || OpAt(code, drop) != Op::Drop || p + 2 + code[p + 1] != drop) return false;
  for (int s = 0; (len = LengthWithin(code, s, length)) > 0; s += len) {
    int t = 0;
    if (s != p && s != q && JumpTarget(code, s, &t) && t > p && t <= drop) return false;
  }
  const int16_t variable = code[p + 3];
  code[p] = W(Op::RangeLastValue);
  code[p + 1] = W(Op::StoreVar);
  code[p + 2] = variable;
  code[p + 3] = W(Op::Jump);
  code[p + 4] = static_cast<int16_t>(drop + 1 - (p + 5));
  for (int w = p + 5; w <= drop; ++w) code[w] = W(Op::Nop);
  return true;
}

// Applies the first rule that fits to the jump at p.
bool ThreadOne(int16_t* code, int length, int p, bool loopRemoval) {
  const Op op = OpAt(code, p);
  const int a = code[p + 1];
  const int t = p + 2 + a;
  if (t >= 0 && t < length) {
    const Op target = OpAt(code, t);
    if (target == Op::Jump && t + 1 < length && code[t + 1] != -2 && SetOperand(code, p, a + code[t + 1] + 2))
      return true;
    if (target == Op::Nop && SetOperand(code, p, a + 1)) return true;
    if (target == Op::SkipOperand && SetOperand(code, p, a + 2)) return true;
    if (target == Op::LineMarker && t + 3 < length) {
      const Op after = OpAt(code, t + 3);
      const bool passable =
          after == Op::Nop || after == Op::LineMarker || after == Op::Jump || after == Op::SkipOperand;
      if (passable && SetOperand(code, p, a + 3)) return true;
    }
    if (op == Op::Jump && target == Op::Return) {
      code[p] = W(Op::Return);
      code[p + 1] = W(Op::Nop);
      return true;
    }
  }
  return loopRemoval && op == Op::ForNextRange && RemoveEmptyLoop(code, length, p);
}

}  // namespace

void OptimizeInstructionPairs(int16_t* code, int start, int* end) {
  while (PairPass(code, start, end) > 0) {
  }
}

void ThreadJumps(int16_t* code, int length, bool loopRemoval) {
  // Chains shorten by pointer jumping and converge in a few passes; the bound
  // only keeps a pathological cycle of jumps from running for ever.
  for (int pass = 0; pass < length + 16; ++pass) {
    bool changed = false;
    for (int p = 0, len; (len = LengthWithin(code, p, length)) > 0; p += len) {
      if (!IsThreaded(OpAt(code, p)) || !ThreadOne(code, length, p, loopRemoval)) continue;
      changed = true;
      len = LengthWithin(code, p, length);  // a Return or a removed loop is shorter than what it replaced
    }
    if (!changed) return;
  }
}
