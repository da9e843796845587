// Helpers for the markup tests: convert a text with a format and get the output
// as a string, growing the work buffer the way callers do.
#pragma once

#include <string>
#include <vector>

#include "markup/markup.h"

struct Converted {
  int status = 0;
  std::string text;
  int characters = 0;
};

inline Converted Convert(const std::string& text, const MarkupFormat* format = nullptr, unsigned flags = 0,
                         const char* eol = "\n", int fontSize = 0) {
  Converted c;
  int length = static_cast<int>(text.size());
  std::vector<char> work(2 * text.size() + 1024);
  for (;;) {
    const char* out = nullptr;
    int outLength = 0;
    c.status = ConvertMarkup(text.data(), length, work.data(), static_cast<int>(work.size()), flags, eol, format,
                             fontSize, &out, &outLength, &c.characters);
    if (c.status == kMarkupOk) c.text.assign(out, outLength);
    if (c.status != kMarkupNoRoom || static_cast<int>(work.size()) >= 10 * length + 65536) break;
    work.resize(work.size() * 2);
  }
  return c;
}

inline const MarkupFormat* Format(int index) { return &kMarkupFormats[index]; }

// Body text of a conversion without the document templates.
inline std::string Body(const std::string& text, int index, unsigned flags = 0, int fontSize = 0) {
  return Convert(text, Format(index), flags | kMarkupNoDocument, "\n", fontSize).text;
}
