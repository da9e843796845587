// The method argument that interpolation and scattered-data natives share:
// its first letter picks the method, an empty text is linear.
#pragma once

#include "numeric/nativeargs.h"

namespace numeric {

enum class Method { kNearest, kLinear, kPrevious, kNext };

// steps admits '<' (previous) and '>' (next); any other letter gives 108.
[[nodiscard]] inline StatusCode ReadMethod(EngineContext* ctx, int position, bool steps, Method* m) {
  char c = 0;
  if (StatusCode st = ReadFirstLetter(ctx, position, &c); st != kOk) return st;
  switch (c) {
    case 0:
    case '1':
    case 'l':
      *m = Method::kLinear;
      return kOk;
    case '0':
    case 'n':
      *m = Method::kNearest;
      return kOk;
    case '<':
    case '>':
      if (!steps) break;
      *m = c == '<' ? Method::kPrevious : Method::kNext;
      return kOk;
  }
  return kUnknownOpt;
}

}  // namespace numeric
