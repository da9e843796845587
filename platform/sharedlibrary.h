// Shared objects loaded at run time, the executable's own folder, and the
// files of a folder by their ending: what loading extension libraries needs
// of the system.
#pragma once

// Loads with every symbol bound at once and none made visible to later
// loads; null when the system refuses. A path without '/' is taken as a file
// in the current directory, never searched for on the library path.
void* OpenSharedLibrary(const char* path);
void* FindSharedLibrarySymbol(void* library, const char* name);
void CloseSharedLibrary(void* library);

// The folder of the running executable, without a trailing '/', NUL-terminated
// in the buffer; false when it cannot be found or does not fit.
bool GetExecutableFolder(char* buffer, int size);

// Calls visit(name, data) for every regular file (or link to one) of the
// folder whose name ends with the ending, in byte order of the names, until
// visit answers false. False when the folder cannot be read.
using FolderFileVisitor = bool (*)(const char* name, void* data);
bool VisitFolderFiles(const char* folder, const char* ending, FolderFileVisitor visit, void* data);
