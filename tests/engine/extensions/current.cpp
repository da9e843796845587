// An extension library of the current interface: a run of native records
// whose natives call back through the ServiceTable.
#include "engine/extension_abi.h"

namespace {

void* gInstallArgument = nullptr;

// twice(x): 2x.
StatusCode Twice(EngineContext* ctx, int nargin, int, void*) {
  const ServiceTable* s = GetServiceTable(ctx);
  double x = 0;
  if (StatusCode st = s->GetRealScalarArg(ctx, 0, &x); st != 0) return st;
  if (StatusCode st = s->PushRealScalar(ctx, 2 * x); st != 0) return st;
  return s->DropArgsUnderResults(ctx, 1, nargin);
}

// installarg(): the install argument the host passed, as a number.
StatusCode InstallArg(EngineContext* ctx, int nargin, int, void*) {
  const ServiceTable* s = GetServiceTable(ctx);
  const auto value = static_cast<double>(reinterpret_cast<uintptr_t>(gInstallArgument));
  if (StatusCode st = s->PushRealScalar(ctx, value); st != 0) return st;
  return s->DropArgsUnderResults(ctx, 1, nargin);
}

NativeFunctionRecord gRecords[] = {
    {nullptr, nullptr, 0, "@ExtCurrent", 0, 0, 0, 0},
    {Twice, nullptr, 0, "twice", 1, 1, 0, 1},
    {InstallArg, nullptr, 0, "installarg", 0, 0, 0, 1},
    {},
};

}  // namespace

extern "C" int GetRVOExtensionsVersion() { return kExtensionInterfaceVersion; }

extern "C" void InstallRVOExtensions(EngineContext*, void* installArgument, const NativeFunctionRecord** records) {
  gInstallArgument = installArgument;
  *records = gRecords;
}

extern "C" void ShutdownRVOExtensions() {}
