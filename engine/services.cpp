// The ServiceTable's contents. Slots are filled as their services exist; a slot
// left null has no service behind it yet.
#include <algorithm>
#include <iterator>
#include <utility>

#include "engine/context.h"

namespace {

template <class F>
ServiceFn Entry(F* fn) {
  return reinterpret_cast<ServiceFn>(fn);
}

const std::pair<Service, ServiceFn> kServiceEntries[] = {
    {Service::GetEngineVersionText, Entry(GetEngineVersionText)},
};

}  // namespace

void FillServiceTable(EngineContext* ctx) {
  std::fill(std::begin(ctx->services.slot), std::end(ctx->services.slot), nullptr);
  for (const auto& [slot, fn] : kServiceEntries) ctx->services.slot[static_cast<int>(slot)] = fn;
}
