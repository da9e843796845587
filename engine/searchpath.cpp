// The search path with which a host answers library requests from files:
// candidate file names built from the path's components, the host's
// "+readlib" hook over a file reader, and the `path` native. The path and the
// directory separator are process-wide.
#include "engine/searchpath.h"

#include <cctype>
#include <cstring>

#include "engine/values/valuestack.h"

namespace {

constexpr int kMaxPathText = 1022;
constexpr int kMaxCandidate = 255;

char gSearchPath[kMaxPathText + 1] = ";";
char gSeparator = '/';

// A candidate being built; it refuses to grow past its limit instead of
// cutting, so an overlong name is never tried in part.
struct Candidate {
  char text[kMaxCandidate + 1];
  int length = 0;
  bool overflow = false;
  void Add(const char* s, int n) {
    if (length + n > kMaxCandidate) {
      overflow = true;
      return;
    }
    std::memcpy(text + length, s, n);
    length += n;
    text[length] = 0;
  }
  void Add(char c) { Add(&c, 1); }
  void Add(const char* s) { Add(s, static_cast<int>(std::strlen(s))); }
};

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// A directory component: name and suffix in that directory.
void AddInDirectory(Candidate* c, const char* dir, int dirLength, const char* name, const char* suffix) {
  c->Add(dir, dirLength);
  if (dirLength > 0 && dir[dirLength - 1] != gSeparator) c->Add(gSeparator);
  c->Add(name);
  if (suffix != nullptr) {
    c->Add('.');
    c->Add(suffix);
  }
}

bool IsPatternLetter(char c) { return c == 'f' || c == 'b' || c == 's'; }

bool IsPattern(const char* component, int length) {
  for (int k = 0; k + 1 < length; ++k)
    if (component[k] == '%' && IsPatternLetter(component[k + 1])) return true;
  return false;
}

void AddPattern(Candidate* c, const char* component, int length, const char* name, const char* suffix) {
  for (int k = 0; k < length; ++k) {
    const char ch = component[k];
    if (ch != '%' || k + 1 >= length) {
      c->Add(ch);
      continue;
    }
    const char letter = component[++k];
    if (letter == 'f' || letter == 'b') c->Add(name);
    if ((letter == 'f' || letter == 's') && suffix != nullptr) {
      c->Add('.');
      c->Add(suffix);
    }
    if (letter == '%') c->Add('%');
    if (!IsPatternLetter(letter) && letter != '%') {
      c->Add('%');
      c->Add(letter);
    }
  }
}

// A scheme name such as that of a web address: two or more letters and ':'
// (one letter and ':' is a drive).
bool IsUntrusted(const char* candidate) {
  int letters = 0;
  while (std::isalpha(static_cast<unsigned char>(candidate[letters])) &&
         static_cast<unsigned char>(candidate[letters]) < 128)
    ++letters;
  return letters >= 2 && candidate[letters] == ':';
}

}  // namespace

void SetPathSeparator(char separator) { gSeparator = separator; }

void ResetSearchPath() {
  std::strcpy(gSearchPath, ";");
  gSeparator = '/';
}

const char* GetSearchPath() { return gSearchPath; }

StatusCode SetSearchPath(const char* first, int firstLength, const char* second, int secondLength) {
  char text[kMaxPathText + 2];
  int n = 0;
  auto add = [&](const char* s, int len) {
    if (s == nullptr) return true;
    if (n + len > kMaxPathText) return false;
    std::memcpy(text + n, s, len);
    n += len;
    if (n == 0 || text[n - 1] != ';') {
      if (n + 1 > kMaxPathText) return false;
      text[n++] = ';';
    }
    return true;
  };
  if (!add(first, firstLength) || !add(second, secondLength)) return kOutOfRangeArg;
  text[n] = 0;
  std::memcpy(gSearchPath, text, n + 1);
  return kOk;
}

StatusCode BuildSearchPathCandidates(const char* name, const char* suffix, const char* hint, char* candidateOut,
                                     FileReader reader, char* buffer, int32_t size, int32_t* length, bool* untrusted) {
  if (reader == nullptr) return kNotMine;
  bool tooLarge = false;
  auto attempt = [&](const Candidate& c) {
    if (c.overflow) return false;  // too long for a file name: skipped, never cut and tried
    const bool scheme = IsUntrusted(c.text);
    const StatusCode st = reader(c.text, scheme, buffer, size, length);
    tooLarge = st == kDataStackFull;
    if (st != kOk) return tooLarge;
    if (untrusted) *untrusted = scheme;
    if (candidateOut) std::memcpy(candidateOut, c.text, c.length + 1);
    return true;
  };
  if (hint != nullptr) {
    int dir = static_cast<int>(std::strlen(hint));
    while (dir > 0 && !IsSeparator(hint[dir - 1])) --dir;
    if (dir > 0) --dir;  // up to, not including, the last separator
    Candidate c;
    AddInDirectory(&c, hint, dir, name, suffix);
    if (attempt(c)) return tooLarge ? kDataStackFull : kOk;
  }
  for (const char* p = gSearchPath; *p != 0;) {
    const char* end = std::strchr(p, ';');
    if (end == nullptr) end = p + std::strlen(p);
    const int n = static_cast<int>(end - p);
    Candidate c;
    if (IsPattern(p, n))
      AddPattern(&c, p, n, name, suffix);
    else
      AddInDirectory(&c, p, n, name, suffix);
    if (attempt(c)) return tooLarge ? kDataStackFull : kOk;
    p = *end == ';' ? end + 1 : end;
  }
  return kNotMine;
}

StatusCode ReadLibraryFromSearchPath(EngineContext*, const char* name, const char* suffix, const char* hint,
                                     char* buffer, int32_t size, int32_t* length, int32_t* firstLine, bool* untrusted,
                                     void* userData) {
  *length = 0;
  if (firstLine) *firstLine = 1;
  const auto reader = reinterpret_cast<FileReader>(userData);
  return BuildSearchPathCandidates(name, suffix, hint, nullptr, reader, buffer, size, length, untrusted);
}

StatusCode PathNative(EngineContext* ctx, int nargin, int nargout, void*) {
  if (nargin > 2 || nargout > 1) return nargin > 2 ? kTooManyArgin : kTooManyArgout;
  if (nargin == 0 && nargout <= 0) {
    for (const char* p = gSearchPath; *p != 0;) {
      const char* end = std::strchr(p, ';');
      if (end == nullptr) end = p + std::strlen(p);
      if (StatusCode st = WriteToDescriptor(ctx, kStdoutDescriptor, p, static_cast<int32_t>(end - p)); st != kOk)
        return st;
      if (StatusCode st = WriteNewlineToDescriptor(ctx, kStdoutDescriptor); st != kOk) return st;
      p = *end == ';' ? end + 1 : end;
    }
    return nargout < 0 ? PushVoidValue(ctx) : kOk;
  }
  if (nargin > 0) {
    const char* texts[2] = {nullptr, nullptr};
    int64_t lengths[2] = {0, 0};
    // The first input is deepest; narrow both in place, they are dropped below.
    for (int k = 0; k < nargin; ++k) {
      if (!IsCharArg(ctx, nargin - 1 - k)) return kWrongType;
      (void)GetStringArg(ctx, nargin - 1 - k, &texts[k], &lengths[k]);  // characters, checked above
      if (lengths[k] > kMaxPathText) return kOutOfRangeArg;
    }
    StatusCode st = SetSearchPath(texts[0], static_cast<int>(lengths[0]), texts[1], static_cast<int>(lengths[1]));
    if (st != kOk) return st;
  }
  int results = 0;
  if (nargout >= 1) {
    if (StatusCode st = PushStringFromBytes(ctx, -1, gSearchPath); st != kOk) return st;
    results = 1;
  } else if (nargout < 0) {
    // Called for as many results as it gives, it gives none: the void value says so.
    if (StatusCode st = PushVoidValue(ctx); st != kOk) return st;
    results = 1;
  }
  return DropArgsUnderResults(ctx, results, nargin);
}
