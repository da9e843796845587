// Fuzz target of the help texts: a help file's entries and the comment of
// each, and the comment after a function's header, read from any bytes.
// Every range lies inside the text, walks move forward and end.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/helptext.h"

namespace {

#define Check(ok) CheckAt((ok), __LINE__)
void CheckAt(bool ok, int line) {
  if (ok) return;
  std::fprintf(stderr, "helptext_fuzz: check at line %d failed\n", line);
  std::abort();
}

// Reads the whole comment at `at`; its lines lie in order inside the text.
void ReadComment(const char* text, int32_t length, int32_t at) {
  CommentReader r;
  if (!StartComment(text, length, at, &r)) return;
  int32_t start = 0, n = 0, previous = at, lines = 0;
  while (NextCommentLine(&r, &start, &n)) {
    Check(start >= previous && n >= 0 && start + n <= length);
    // Only a markup block keeps its line ends.
    if (!(r.block && r.markup)) Check(std::memchr(text + start, '\n', n) == nullptr);
    previous = start + n;
    Check(++lines <= length + 1);
  }
  Check(!NextCommentLine(&r, &start, &n));
  int32_t first = 0;
  Check(ShortDescription(text, length, at, &first, &n));
  Check(first >= at && n >= 0 && first + n <= length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  // An exact copy, so that a read past the end is caught.
  std::vector<char> copy(data, data + size);
  const char* text = copy.data();
  const auto length = static_cast<int32_t>(size);

  HelpFileCursor cursor;
  HelpEntry e{};
  int32_t previous = -1, entries = 0;
  while (NextHelpEntry(text, length, &cursor, &e)) {
    Check(e.word > previous && e.wordLength > 0 && e.word + e.wordLength <= length);
    Check(e.name >= e.word && e.name + e.nameLength == e.word + e.wordLength);
    Check(e.help < 0 || (e.help >= e.word + e.wordLength && e.help < length));
    Check(cursor.position > e.word && cursor.position <= length);
    if (e.help >= 0) ReadComment(text, length, e.help);
    previous = e.word;
    Check(++entries <= length);
  }
  Check(cursor.position == length);

  const int32_t help = FindHelpAfterHeader(text, length);
  Check(help >= -1 && help < length);
  if (help >= 0) ReadComment(text, length, help);
  // A comment may start anywhere; the first byte picks where.
  if (length > 0) ReadComment(text, length, static_cast<unsigned char>(text[0]) % length);
  return 0;
}
