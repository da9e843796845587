// Shared objects through the dynamic loader, the executable's folder through
// /proc/self/exe, and a folder's files through its directory stream.
#include "platform/sharedlibrary.h"

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

void* OpenSharedLibrary(const char* path) {
  // dlopen searches the library path for a bare name; a file is meant here.
  if (std::strchr(path, '/') == nullptr) return dlopen((std::string("./") + path).c_str(), RTLD_NOW | RTLD_LOCAL);
  return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* FindSharedLibrarySymbol(void* library, const char* name) { return dlsym(library, name); }

void CloseSharedLibrary(void* library) { dlclose(library); }

bool GetExecutableFolder(char* buffer, int size) {
  if (size < 2) return false;
  // readlink writes no NUL and cuts silently: a full buffer means it may not fit.
  const ssize_t n = readlink("/proc/self/exe", buffer, static_cast<size_t>(size));
  if (n <= 0 || n >= size) return false;
  buffer[n] = 0;
  char* slash = std::strrchr(buffer, '/');
  if (slash == nullptr) return false;
  *(slash == buffer ? slash + 1 : slash) = 0;
  return true;
}

bool VisitFolderFiles(const char* folder, const char* ending, FolderFileVisitor visit, void* data) {
  DIR* dir = opendir(folder);
  if (dir == nullptr) return false;
  const size_t endingLength = std::strlen(ending);
  std::vector<std::string> names;
  while (const dirent* e = readdir(dir)) {
    const size_t n = std::strlen(e->d_name);
    if (n <= endingLength || std::strcmp(e->d_name + n - endingLength, ending) != 0) continue;
    struct stat st {};
    const std::string path = std::string(folder) + "/" + e->d_name;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.emplace_back(e->d_name);
  }
  closedir(dir);
  // The directory's own order is arbitrary; natives are numbered in load order.
  std::sort(names.begin(), names.end());
  for (const std::string& name : names)
    if (!visit(name.c_str(), data)) break;
  return true;
}
