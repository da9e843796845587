// Libraries: reading source texts through the "+readlib" and "+readfn" hooks
// with include expansion, scanning a library text for its function and define
// blocks, the use lists that "use" statements build, and loading every library
// a text uses.
#pragma once

#include "engine/context.h"

// A source hook: 0 when it delivered the text (with no buffer, 0 only says it
// exists), 300 to pass the request on, anything else an error.
using SourceHook = StatusCode (*)(EngineContext* ctx, const char* name, const char* suffix, const char* hint,
                                  char* buffer, int32_t size, int32_t* length, int32_t* firstLine, bool* untrusted,
                                  void* userData);
// "+convertcharset": converts a text in place; nonzero is an error.
using ConvertCharsetHook = StatusCode (*)(EngineContext* ctx, char* text, int32_t size, int32_t* length,
                                          void* userData);

// Include expansion nests this deep when a library is read.
constexpr int kLibraryIncludeDepth = 4;

// Suffix lists are runs of NUL-terminated texts ended by an empty one.
extern const char kFunctionSourceSuffixes[];

// Reads a library (library flag) or a function's source through the hooks,
// trying each suffix in turn. An include depth of -1 reads the text as
// delivered; 0 or more appends a final line end and expands includes that
// deep. Without a buffer it only asks whether the source exists.
[[nodiscard]] StatusCode ReadSourceText(EngineContext* ctx, const char* name, int nameLength, const char* suffixes,
                                        bool library, const char* hint, int includeDepth, bool convert, char* buffer,
                                        int32_t size, int32_t* length, int32_t* firstLine, bool* untrusted);

// The next function or define block of a library text, line by line: 0 with
// *position at its keyword; 305 at the end of the text. *position starts at
// -1; *isPrivate carries over from one call to the next.
[[nodiscard]] StatusCode ScanLibrarySource(EngineContext* ctx, const char* text, int32_t length, int32_t* position,
                                           int32_t* line, const char** name, int32_t* nameLength,
                                           const char** qualifier, int32_t* qualifierLength, bool* isPrivate,
                                           bool headerRequired, bool quiet);

// Word position of a library's use list: its header length, slot count,
// directory text, then the slots (-1 free).
[[nodiscard]] StatusCode GrowUseList(EngineContext* ctx, int32_t library, const char* directory);
bool IsLibraryInUseList(EngineContext* ctx, int32_t library, int32_t other);
// The directory a library's text was read from, as a hint for the files
// beside it, or null.
const char* LibraryDirectoryHint(EngineContext* ctx, int32_t library);

[[nodiscard]] StatusCode ProcessUseStatements(EngineContext* ctx, int32_t library, const char* text, int32_t length,
                                              const char* hint, int32_t firstLine, bool commandLine, bool reread);
[[nodiscard]] StatusCode LoadUsedLibraries(EngineContext* ctx, int32_t library, const char* text, int32_t length,
                                           const char* hint, int32_t firstLine, bool commandLine, bool headerRequired);

// A function's source: from its block's keyword to the end of its library's
// text, or its own file for a function of no library.
[[nodiscard]] StatusCode GetFunctionSource(EngineContext* ctx, int32_t entry, char* buffer, int32_t size,
                                           int32_t* length, int32_t* firstLine);
[[nodiscard]] StatusCode GetFunctionLibraryName(EngineContext* ctx, int32_t entry, const char** name, int* length);
