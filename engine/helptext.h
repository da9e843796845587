// Help texts inside sources: the comment that follows a function's header
// line, the comment of a help file's entry, read a line at a time, and the
// entries of a help file. Walks over a text in a buffer: no context, no room.
#pragma once

#include <cstdint>

// A comment starting at a "%", "//" or "/*": consecutive line comments, or
// one block up to "*/". A "=" right after the marker makes it markup.
struct CommentReader {
  const char* text;
  int32_t length;
  int32_t position;  // where the next line is read
  bool block;
  bool markup;
  bool started;
  bool done;
};

// False when no comment marker stands at `at`.
bool StartComment(const char* text, int32_t length, int32_t at, CommentReader* reader);
// The next line of the comment without its marker; a markup block comes in
// one piece up to its "*/". False after the last line.
bool NextCommentLine(CommentReader* reader, int32_t* start, int32_t* count);
// The first line of the comment at `at` without its outer blanks: the short
// description. False when no comment stands there.
bool ShortDescription(const char* text, int32_t length, int32_t at, int32_t* start, int32_t* count);

// The marker of the comment that follows the header line of the function or
// define block the text starts with (lines ending in "..." continue the
// header; blank and comment lines before it are skipped), or -1.
int32_t FindHelpAfterHeader(const char* text, int32_t length);

// One entry of a help file: its first word, [qualifier "::"] name, and the
// comment that starts on its line after the word (-1 without one).
struct HelpEntry {
  int32_t word;
  int32_t wordLength;
  int32_t name;
  int32_t nameLength;
  int32_t help;
};

// Where a walk over a help file stands. The first line is never an entry.
struct HelpFileCursor {
  int32_t position = -1;
  bool inBlock = false;
};

// The next entry: a line that begins, outside a block comment, with neither
// a blank, a tab nor "//". False at the end of the text.
bool NextHelpEntry(const char* text, int32_t length, HelpFileCursor* cursor, HelpEntry* entry);
