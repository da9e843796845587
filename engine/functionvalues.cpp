// Function values made from text: inline builds a wrapper function around an
// expression (anonymous functions reach it through the compiler), fun2str
// gives the text back, and deal hands its inputs out as separate values (the
// wrappers unpack captured variables with it).
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/bytecode.h"
#include "engine/compiler/codegen.h"
#include "engine/compiler/scanner.h"
#include "engine/errors.h"
#include "engine/growth.h"
#include "engine/resolution.h"
#include "engine/values/valuestack.h"
#include "engine/vm.h"

namespace {

// Appends text while room lasts; a full writer keeps counting so the caller
// can tell how much was wanted.
struct TextWriter {
  char* at;
  int64_t room;
  int64_t n = 0;
  void Put(const char* s, int64_t length) {
    if (n + length <= room) std::memcpy(at + n, s, length);
    n += length;
  }
  void Put(const char* s) { Put(s, static_cast<int64_t>(std::strlen(s))); }
  void PutNumber(int64_t v) {
    char digits[24];
    int k = 0;
    do digits[k++] = static_cast<char>('0' + v % 10), v /= 10;
    while (v > 0);
    while (k > 0) Put(&digits[--k], 1);
  }
  [[nodiscard]] StatusCode PutString(EngineContext* ctx, int position) {
    if (!IsCharArg(ctx, position)) return kWrongTypeInternal;
    const int64_t length = ReadArray(DataAt(ctx, position)).count;
    if (n + length <= room) {
      int64_t got = 0;
      (void)CopyStringArgToBuffer(ctx, position, at + n, length, &got);  // kind and room checked
    }
    n += length;
    return kOk;
  }
};

bool IsLower(char c) { return c >= 'a' && c <= 'z'; }

// The wrapper's output name: "y" with underscores before it, 32 characters
// at most as every name.
constexpr int kMaxOutputName = 32;

// The input of an expression given without names: the lone lowercase letter
// nearest to 'x', not i or j (the imaginary unit) nor a captured name.
char ImpliedInput(EngineContext* ctx, const char* text, int64_t length, int fieldsAt, int fields) {
  auto isField = [&](char c) {
    for (int k = 1; k <= fields; ++k) {
      const char* name = nullptr;
      int n = 0;
      (void)GetStructFieldName(ctx, fieldsAt, k, &name, &n);
      if (n == 1 && name[0] == c) return true;
    }
    return false;
  };
  char best = 0;
  for (int64_t p = 0; p < length; ++p) {
    const char c = text[p];
    if (!IsLower(c) || c == 'i' || c == 'j') continue;
    if ((p > 0 && IsLower(text[p - 1])) || (p + 1 < length && IsLower(text[p + 1]))) continue;
    if (isField(c)) continue;
    if (best == 0 || std::abs(c - 'x') < std::abs(best - 'x')) best = c;
  }
  return best != 0 ? best : 'x';
}

bool StartsWithWord(const char* text, int64_t length, const char* word) {
  int64_t p = 0;
  while (p < length && IsBlank(text[p])) ++p;
  const auto k = static_cast<int64_t>(std::strlen(word));
  return length - p >= k && std::memcmp(text + p, word, k) == 0;
}

// The hidden input's suffix: one past the largest "_N" among the names.
int64_t HiddenSuffix(EngineContext* ctx, int first, int count) {
  int64_t suffix = 0;
  for (int k = 0; k < count; ++k) {
    const int position = first - k;
    if (!IsCharArg(ctx, position)) continue;
    const ArrayView a = ReadArray(DataAt(ctx, position));
    const auto* codes = reinterpret_cast<const uint16_t*>(a.data);
    if (a.count < 2 || a.count > 10 || codes[0] != '_') continue;
    int64_t v = 0;
    bool digits = true;
    for (int64_t q = 1; q < a.count && digits; ++q) {
      digits = codes[q] >= '0' && codes[q] <= '9';
      v = 10 * v + (codes[q] - '0');
    }
    if (digits) suffix = v + 1;
  }
  return suffix;
}

}  // namespace

StatusCode OpInline(EngineContext* ctx, const int16_t* ins) {
  int n = ins[1];
  if (n < 1) return kTooFewArgin;
  const int total = n;
  const int textPosition = n - 1;
  if (!IsCharArg(ctx, textPosition)) return ReportedStatus(kWrongTypeInternal);
  const ArrayView body = ReadArray(DataAt(ctx, textPosition));

  // The expression is copied to the far end of the data stack, out of the
  // compiler's way, and the end is lowered past it until the value is made.
  const int64_t bodyCells = (body.count + 7) / 8;
  if (FreeDataCells(ctx) < bodyCells + 2) return kDataStackFull;
  const int32_t end = ctx->dataCapacity;
  char* expression = reinterpret_cast<char*>(ctx->dataBase + end - bodyCells);
  int64_t bodyLength = 0;
  (void)CopyStringArgToBuffer(ctx, textPosition, expression, body.count, &bodyLength);  // room taken above
  {
    int position = 0;
    int32_t line = 1;
    SkipBlanksAndComments(ctx, expression, static_cast<int>(bodyLength), &position, false, &line);
    if (position >= bodyLength) return kBadArg;
  }
  ctx->dataCapacity -= static_cast<int32_t>(bodyCells);
  const int32_t valuesTop = ctx->descLength;
  auto fail = [&](StatusCode st) {
    while (ctx->descLength > valuesTop) PopValue(ctx);
    ctx->dataCapacity = end;
    return ReportedStatus(st);
  };

  // What the function keeps: the position of its bound value, or -1.
  int captured = -1;
  bool forward = false;
  const bool function =
      StartsWithWord(expression, bodyLength, "function") || StartsWithWord(expression, bodyLength, "define");
  const char* wrapper = expression;
  int64_t wrapperLength = bodyLength;
  if (function) {
    if (n > 2) return fail(kTooManyArgin);
    if (n == 2) captured = 0;
  } else {
    if (n > 1 && IsLogicalArg(ctx, 0)) {
      const ArrayView a = ReadArray(DataAt(ctx, 0));
      forward = a.count > 0 && reinterpret_cast<const uint8_t*>(a.data)[0] != 0;
      --n;
    }
    const int last = total - n;  // depth of the last input still counted
    int fields = 0;
    const char* field = nullptr;
    int fieldLength = 0;
    if (n > 1 && !IsCharArg(ctx, last)) {
      const ValueDescriptor d = *DescriptorAt(ctx, last);
      if (d.kind != kComposite || d.extra != kStruct) return fail(kWrongTypeInternal);
      while (GetStructFieldName(ctx, last, fields + 1, nullptr, nullptr) == kOk) ++fields;
      --n;
      if (fields == 1) (void)GetStructFieldName(ctx, last, 1, &field, &fieldLength);
      // The bound value: the one field's value, or the list of all of them.
      for (int k = 1; k <= fields; ++k) {
        const char* name = nullptr;
        int length = 0;
        (void)GetStructFieldName(ctx, last + k - 1, k, &name, &length);
        if (StatusCode st = PushStructField(ctx, last + k - 1, name, length); st != kOk) return fail(st);
      }
      if (fields > 1) {
        if (StatusCode st = MakeListFromValues(ctx, fields, false, nullptr, 0); st != kOk) return fail(st);
      }
      if (fields > 0) captured = 0;
    }
    const int names = n - 1;
    const int pushed = (ctx->descLength - valuesTop) / 3;
    const int firstName = textPosition - 1 + pushed;

    // The wrapper is written at the data-stack top, then moved below the
    // expression's copy.
    const char implied = names > 0 ? 0 : ImpliedInput(ctx, expression, bodyLength, last + (fields > 0 ? 1 : 0), fields);
    // The output is "y" unless an input has that name (@(x, y) x + y, a
    // captured y, inline('y^2')): a function may not name its output after
    // an input, so underscores go before it until no input has the name.
    auto isInput = [&](const char* name, int length) {
      if (fields == 1 && fieldLength == length && std::memcmp(field, name, length) == 0) return true;
      if (names == 0) return length == 1 && implied == name[0];
      for (int k = 0; k < names; ++k) {
        char given[kMaxOutputName + 1];
        int64_t got = 0;
        if (CopyStringArgToBuffer(ctx, firstName - k, given, sizeof given, &got) == kOk && got == length &&
            std::memcmp(given, name, length) == 0)
          return true;
      }
      return false;
    };
    char output[kMaxOutputName] = {};
    int outputLength = 1;
    output[kMaxOutputName - 1] = 'y';
    while (outputLength < kMaxOutputName && isInput(output + kMaxOutputName - outputLength, outputLength))
      output[kMaxOutputName - ++outputLength] = '_';
    const char* outputName = output + kMaxOutputName - outputLength;

    TextWriter w{reinterpret_cast<char*>(ctx->dataBase + ctx->dataTop), FreeDataCells(ctx) * int64_t{sizeof(Cell)}};
    if (forward) {
      w.Put("function varargout=f(");
    } else {
      w.Put("function ");
      w.Put(outputName, outputLength);
      w.Put("=f(");
    }
    const int64_t suffix = HiddenSuffix(ctx, firstName, names);
    auto putHidden = [&] {
      w.Put("_");
      if (suffix > 0) w.PutNumber(suffix);
    };
    if (fields > 1) putHidden();
    if (fields == 1) w.Put(field, fieldLength);
    if (fields > 0) w.Put(",");
    if (names > 0) {
      for (int k = 0; k < names; ++k) {
        if (k > 0) w.Put(",");
        if (StatusCode st = w.PutString(ctx, firstName - k); st != kOk) return fail(st);
      }
    } else {
      w.Put(&implied, 1);
    }
    w.Put(");");
    if (fields > 1) {
      w.Put("(");
      for (int k = 1; k <= fields; ++k) {
        const char* name = nullptr;
        int length = 0;
        (void)GetStructFieldName(ctx, last + 1, k, &name, &length);
        if (k > 1) w.Put(",");
        w.Put(name, length);
      }
      w.Put(")=deal(");
      putHidden();
      w.Put("{:});");
    }
    if (forward) {
      const char* open = static_cast<const char*>(std::memchr(expression, '(', bodyLength));
      int64_t close = bodyLength;
      while (close > 0 && expression[close - 1] != ')') --close;
      if (open == nullptr || close - 1 <= open - expression) return fail(kSyntaxErr);
      w.Put("varargout=apply(@");
      w.Put(expression, open - expression);
      w.Put(",{");
      w.Put(open + 1, close - 1 - (open + 1 - expression));
      w.Put("},nargout);");
    } else {
      w.Put(outputName, outputLength);
      w.Put("=");
      w.Put(expression, bodyLength);
      w.Put(";");
    }
    if (w.n > w.room) return fail(kDataStackFull);
    const int64_t cells = (w.n + 7) / 8;
    if (FreeDataCells(ctx) < cells + 2) return fail(kDataStackFull);
    char* moved = reinterpret_cast<char*>(ctx->dataBase + ctx->dataCapacity - cells);
    std::memmove(moved, w.at, w.n);
    ctx->dataCapacity -= static_cast<int32_t>(cells);
    wrapper = moved;
    wrapperLength = w.n;
  }
  if (wrapperLength > INT16_MAX) return fail(kObjTooLarge);

  // Layout: {i16 code length; code; i16 text length; text; zeros to a cell;
  // the bound value's CopiedValue}. The code goes straight to its place at
  // the top; the compiler's records go above the half it is given.
  auto* words = reinterpret_cast<int16_t*>(ctx->dataBase + ctx->dataTop);
  const int64_t freeCells = FreeDataCells(ctx);
  if (freeCells < 4) return fail(kDataStackFull);
  const int32_t room = static_cast<int32_t>(std::min<int64_t>(2 * freeCells, INT16_MAX));
  const int32_t reserved = (room + 3) / 4;
  int32_t used = 0;
  ctx->dataTop += reserved;
  StatusCode st = CompileSource(ctx, GetCurrentLibraryIndex(ctx), wrapper, static_cast<int32_t>(wrapperLength),
                                words + 1, room - 1, &used, {.function = -2, .firstLine = 1, .createFunctions = true});
  ctx->dataTop -= reserved;
  if (st != kOk) {
    if (forward && !IsGrowableRoomCode(st)) {
      (void)ClearError(ctx);
      st = kSyntaxErr;
    }
    return fail(st);
  }
  const int64_t textBytes = 2 * (2 + int64_t{used}) + wrapperLength;
  const int64_t textCells = (textBytes + 7) / 8;
  const int64_t boundCells = captured >= 0 ? 3 + DescriptorAt(ctx, captured)->cells : 0;
  if (FreeDataCells(ctx) <= textCells + boundCells) return fail(kDataStackFull);
  words[0] = static_cast<int16_t>(used);
  words[1 + used] = static_cast<int16_t>(wrapperLength);
  char* text = reinterpret_cast<char*>(words + 2 + used);
  std::memmove(text, wrapper, wrapperLength);
  std::memset(text + wrapperLength, 0, textCells * sizeof(Cell) - textBytes);
  Cell* payload = ctx->dataBase + ctx->dataTop;
  if (captured >= 0) (void)CopyValueOut(ctx, captured, reinterpret_cast<double*>(payload + textCells));
  ctx->dataCapacity = end;
  (void)PushValue(ctx, kBoxed, textCells + boundCells, kInlineFunction, Room::kAll, nullptr);  // room checked
  return DropArgsUnderResults(ctx, 1, total + (ctx->descLength - 3 - valuesTop) / 3);
}

StatusCode OpFun2str(EngineContext* ctx, const int16_t*) {
  const ValueDescriptor d = *DescriptorAt(ctx, 0);
  const char* text = nullptr;
  int64_t length = 0;
  if (d.kind == kBoxed && d.extra == kInlineFunction) {
    int n = 0;
    (void)GetInlineFunctionParts(ctx, 0, nullptr, &text, &n, nullptr);
    length = n;
  } else if (d.kind == kBoxed && d.extra == kFunctionRef) {
    const auto* payload = reinterpret_cast<const int16_t*>(TopData(ctx));
    length = payload[0];
    text = reinterpret_cast<const char*>(payload + 2);
  } else {
    return kWrongType;
  }
  // The text stays where it is, below, while its copy is pushed.
  if (StatusCode st = PushStringFromBytes(ctx, length, text); st != kOk) return st;
  return DropArgsUnderResults(ctx, 1, 1);
}

StatusCode OpDeal(EngineContext* ctx, const int16_t* ins) {
  const int n = ins[1];
  int m = ins[2];
  if (m < 0) {
    if (n == 0) return PushValue(ctx, kVoid, 0, 0, Room::kStrict, nullptr);
    m = 1;
  }
  if (n == 1) {
    if (m == 0) {
      PopValue(ctx);
      return kOk;
    }
    for (int k = 1; k < m; ++k) {
      if (StatusCode st = DuplicateValues(ctx, 0, 1); st != kOk) {
        for (; k > 1; --k) PopValue(ctx);
        return st;
      }
    }
    return kOk;
  }
  if (m > n) return kTooManyArgout;
  for (int k = m; k < n; ++k) PopValue(ctx);
  return ReverseValues(ctx, m);
}
