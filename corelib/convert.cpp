// Conversions of the top value to a floating class: the builtins double and
// single. The value is converted in place; only arrays (numeric, char,
// logical) convert, anything else is refused.
#include "corelib/corelib.h"
#include "engine/bytecode.h"
#include "engine/engine.h"

StatusCode ConvertTopToFloatClass(EngineContext* ctx, bool toSingle) {
  const StatusCode st = ConvertArgsToFloat(ctx, 0, toSingle, nullptr);
  return ReportedStatus(st);
}

StatusCode FloatClassOpcode(EngineContext* ctx, const int16_t* ins) {
  return ConvertTopToFloatClass(ctx, static_cast<Op>(ins[0]) == Op::Single);
}
