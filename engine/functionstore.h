// The function store's internal face: the table of functions, libraries and
// variables at the start of the code area, compiling stored functions at the
// code end, moving and discarding their code, and the seams through which the
// store reaches the compiler and the library reader.
#pragma once

#include "engine/context.h"
#include "engine/function.h"

// ---------------------------------------------------------------------------
// Seams. The store compiles and reads sources through these; the engine plugs
// in its compiler and library reader, tests plug in stubs.

// Compiles text as function `entry` of `library` into output (room words,
// starting on an 8-byte boundary): the CompiledFunctionHeader, then its code;
// *used receives the words written. With stopAtNextUnit a second function
// header ends the text quietly. Symbols interned meanwhile take words from the
// top of the same free space, so the output must stay below the symbol area.
using CodeGenerator = StatusCode (*)(EngineContext* ctx, int32_t library, const char* text, int32_t length,
                                     bool stopAtNextUnit, int16_t* output, int32_t room, int32_t* used, int32_t entry,
                                     int32_t firstLine);

// The source text of a function entry into buffer (size bytes), from its
// block's keyword to the end of its text: 0; 3 when it does not fit; 214 when
// there is none; a reader's status.
using SourceFetcher = StatusCode (*)(EngineContext* ctx, int32_t entry, char* buffer, int32_t size, int32_t* length,
                                     int32_t* firstLine);

// The next function or define block of a text: 0 with *position at its
// keyword, *line its line, and its name and qualifier (length 0 for none);
// 305 at the end of the text; a scan error. *position starts at -1; the
// private flag carries over from one block to the next.
using LibraryScanner = StatusCode (*)(EngineContext* ctx, const char* text, int32_t length, int32_t* position,
                                      int32_t* line, const char** name, int32_t* nameLength, const char** qualifier,
                                      int32_t* qualifierLength, bool* isPrivate, bool headerRequired, bool quiet);

// Declares the functions of every library a text uses into the store, reading
// the libraries as needed.
using UsedLibraryLoader = StatusCode (*)(EngineContext* ctx, int32_t library, const char* text, int32_t length,
                                         const char* hint, int32_t firstLine, bool commandLine, bool headerRequired);

struct FunctionStoreSeams {
  CodeGenerator compile;
  SourceFetcher fetchSource;
  LibraryScanner scanLibrary;
  UsedLibraryLoader loadUsedLibraries;
};

// Installs the seams and returns those in place before. A null member puts
// back the engine's own: the code generator and the library reader.
FunctionStoreSeams SetFunctionStoreSeams(const FunctionStoreSeams& seams);

// ---------------------------------------------------------------------------
// The table.

inline FunctionStoreEntry* StoreEntry(EngineContext* ctx, int32_t i) {
  return reinterpret_cast<FunctionStoreEntry*>(FunctionEntryWords(ctx, i));
}

// Finds or creates the entry of a function of a library (qualifier: the class
// of "class::name", length 0 for none). An existing entry only takes the
// private flag; with moveFrom (0: none) a public function of that library
// moves into this one.
[[nodiscard]] StatusCode DeclareFunction(EngineContext* ctx, const char* name, int nameLength, const char* qualifier,
                                         int qualifierLength, int32_t library, bool isPrivate, bool sandboxed,
                                         int32_t moveFrom, int32_t* entry);
// Finds or creates a library entry; the name stops at the first character
// that is not a letter, digit or "_" (length -1: NUL-terminated).
[[nodiscard]] StatusCode DeclareLibrary(EngineContext* ctx, const char* name, int length, bool alreadyRead,
                                        int32_t* entry);
// -1 when no library has that name.
int32_t FindLibraryEntry(EngineContext* ctx, SymbolId name);
// 198 when the table cannot grow: too little room, or code is running.
[[nodiscard]] StatusCode GrowFunctionTable(EngineContext* ctx);

// Compiles every function waiting for the pending pass (code position -1),
// with alsoUncompiled also those compiled on first use (0). 200 when some
// source was missing; the others are compiled all the same.
[[nodiscard]] StatusCode CompilePendingFunctions(EngineContext* ctx, bool alsoUncompiled);
// Gives a function's code back; it compiles again on its next call. 400 while
// running code, a frame or a thread still holds a position inside that code.
[[nodiscard]] StatusCode DiscardFunctionCode(EngineContext* ctx, int32_t entry);
// Declares and compiles every block of a text typed at the command line into
// the library; with replace a function typed again replaces its old code. A
// negative length only runs the pending pass.
[[nodiscard]] StatusCode CompileTextFunctions(EngineContext* ctx, int32_t library, const char* text, int32_t length,
                                              const char* hint, int32_t firstLine, bool sandboxed, bool replace,
                                              bool noHeaderCheck);
