// What a program can ask the engine about itself: its features, version and
// sizes, the variables, functions, libraries and threads it holds, and where
// a name comes from.
#include <cstring>

#include "engine/errors.h"
#include "engine/frames.h"

StatusCode HasFeatureNative(EngineContext* ctx, int nargin, int nargout, void* userData) {
  if (nargin != 1) return nargin < 1 ? kTooFewArgin : kTooManyArgin;
  char name[64];
  int64_t length = 0;
  const StatusCode st = CopyStringArgToBuffer(ctx, 0, name, sizeof name, &length);
  if (st != kOk && st != kObjTooLarge) return ReportedStatus(st);
  bool found = false;
  // The list holds one name a line; a name longer than the buffer is none of them.
  for (const char* line = static_cast<const char*>(userData); st == kOk && line != nullptr && *line != 0 && !found;) {
    const char* end = std::strchr(line, '\n');
    const size_t n = end != nullptr ? static_cast<size_t>(end - line) : std::strlen(line);
    found = n == static_cast<size_t>(length) && std::memcmp(line, name, n) == 0;
    line = end != nullptr ? end + 1 : nullptr;
  }
  if (nargout == 0) return DropArgsUnderResults(ctx, 0, nargin);
  if (StatusCode s = PushLogicalScalar(ctx, found ? 1 : 0); s != kOk) return s;
  return DropArgsUnderResults(ctx, 1, nargin);
}
