// The process-wide search path for library files, and the host's "+readlib"
// hook that reads through it.
#pragma once

#include "engine/engine.h"

// reader(candidate file name, untrusted flag, buffer, size, out length): 0
// when the file was read, 3 when it is there but larger than the buffer (the
// search ends: a larger block may hold it), anything else to try the next
// candidate.
using FileReader = StatusCode (*)(const char* candidate, bool untrusted, char* buffer, int32_t size, int32_t* length);

// The directory separator the host's file names use ('/' until set).
void SetPathSeparator(char separator);
// Back to ";" (the current directory only) and '/'.
void ResetSearchPath();
const char* GetSearchPath();
// The path becomes first, then second when given, each ended with ';';
// 103 when the result passes 1022 characters (the path is then unchanged).
[[nodiscard]] StatusCode SetSearchPath(const char* first, int firstLength, const char* second, int secondLength);

// Tries the candidates for name (and suffix) in order: the hint's directory,
// then each component of the path. 0 when the reader took one (its name in
// candidateOut when given, at least 256 bytes), 3 when the first it found did
// not fit the buffer, 300 otherwise.
[[nodiscard]] StatusCode BuildSearchPathCandidates(const char* name, const char* suffix, const char* hint,
                                                   char* candidateOut, FileReader reader, char* buffer, int32_t size,
                                                   int32_t* length, bool* untrusted);

// The host's "+readlib" hook; its user data is the FileReader.
[[nodiscard]] StatusCode ReadLibraryFromSearchPath(EngineContext* ctx, const char* name, const char* suffix,
                                                   const char* hint, char* buffer, int32_t size, int32_t* length,
                                                   int32_t* firstLine, bool* untrusted, void* userData);

// The `path` native: show, return or set the search path.
[[nodiscard]] StatusCode PathNative(EngineContext* ctx, int nargin, int nargout, void* userData);
