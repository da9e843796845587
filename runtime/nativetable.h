// The system's static native table: the engine's and the libraries' natives,
// hooks and error tables in one run of records. Compiled code, saved engine
// states and application images call natives by their number in this run, so
// its order never changes except by a deliberate edit of the definition.
#pragma once

#include "engine/engine.h"

constexpr int kStaticNativeRecordCount = 329;

// The run, ended by a record with an empty name; built on first use, since
// its "+errmsgtable" records carry the addresses of tables of other files.
const NativeFunctionRecord* GetStaticNativeTable();

// Installs the run behind the libraries already installed, or in front of
// them with prepend; InstallNativeLibrary's statuses.
[[nodiscard]] StatusCode InstallStaticNativeTable(EngineContext* ctx, bool prepend);
