// Small services for the host and for messages: names of function-store
// entries.
#include "engine/context.h"

void GetFunctionNameByIndex(EngineContext* ctx, int32_t entry, const char** text, int* length) {
  static const char kNone[] = "(none)";
  static const char kBase[] = "(base)";
  *text = kNone;
  *length = 6;
  if (entry < 0 || entry >= ctx->entriesInUse) return;
  const int32_t* w = FunctionEntryWords(ctx, entry);
  // A function names itself in its first word, a variable or library in its second.
  const SymbolId name = w[0] < 0 ? w[0] : w[1];
  if (name < 0) {
    *text = SymbolText(ctx, name);
    *length = SymbolLength(ctx, name);
    return;
  }
  *text = kBase;
}
