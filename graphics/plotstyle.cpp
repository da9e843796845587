// Style strings: split into styles of one character or two of different
// classes (colour and other), the chosen style applied to a PlotStyle, and the
// colour of each curve picked by cycling through the styles.
#include <cstring>

#include "graphics/graphics.h"
#include "graphics/littleendian.h"

namespace {

// Keeps the fill, kind, stairs and arrow bits; clears the colour index, the
// figure-default bit and bit 10, as every character of a chosen style does.
constexpr int32_t kThinColourMask = 0xFBF0;
// An upper-case colour also drops the fill bit.
constexpr int32_t kThickColourMask = 0xFBC0;
// A line, marker or option character keeps only the colour index and the thick bit.
constexpr int32_t kOptionMask = 0x17;

struct OptionCharacter {
  char c;
  int32_t bits;
};
constexpr OptionCharacter kOptions[] = {
    {'_', 0x000}, {'-', 0x040}, {':', 0x080}, {'!', 0x0C0},  {'n', 0x100},  {' ', 0x140}, {'.', 0x180},
    {'o', 0x1C0}, {'x', 0x200}, {'+', 0x240}, {'*', 0x280},  {'^', 0x2C0},  {'v', 0x300}, {'[', 0x340},
    {'<', 0x380}, {'f', 0x020}, {'s', 0x800}, {'a', 0x2000}, {'A', 0x3000},
};

// Colour letters in the order of their index: "k" is index 0.
constexpr char kColourLetters[] = "kbgcrmyw";

struct Rgb {
  uint8_t red, green, blue;
};
constexpr Rgb kIndexColours[8] = {{0, 0, 0},   {0, 0, 255},   {0, 255, 0},   {0, 255, 255},
                                  {255, 0, 0}, {255, 0, 255}, {255, 255, 0}, {255, 255, 255}};

int ColourIndex(char c) {
  const char* at = std::strchr(kColourLetters, c | 0x20);
  return c != 0 && at != nullptr ? static_cast<int>(at - kColourLetters) : -1;
}

bool IsColourCharacter(char c) { return c == 'h' || c == 'H' || ColourIndex(c) >= 0; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool HexDigits(const char* text, int count) {
  for (int i = 0; i < count; ++i) {
    if (HexDigit(text[i]) < 0) return false;
  }
  return true;
}

// The number of characters of the token at `pos`: 1, or 6 or 9 for "h(rgb)"
// and "h(rrggbb)"; 0 for a malformed hexadecimal colour.
int32_t TokenLength(const char* text, int32_t length, int32_t pos) {
  char c = text[pos];
  if (c != 'h' && c != 'H') return 1;
  int32_t left = length - pos;
  if (left < 2 || text[pos + 1] != '(') return 0;
  if (left > 5 && text[pos + 5] == ')' && HexDigits(text + pos + 2, 3)) return 6;
  if (left > 8 && text[pos + 8] == ')' && HexDigits(text + pos + 2, 6)) return 9;
  return 0;
}

StatusCode ApplyToken(const char* token, int32_t length, PlotStyle* style) {
  char c = token[0];
  int32_t& word = style->word;
  if (c == 'h' || c == 'H') {
    word = c == 'h' ? word & kThinColourMask : (word & kThickColourMask) | kStyleThick;
    uint8_t rgb[3];
    for (int i = 0; i < 3; ++i) {
      rgb[i] = length == 6 ? static_cast<uint8_t>(HexDigit(token[2 + i]) * 17)
                           : static_cast<uint8_t>(HexDigit(token[2 + 2 * i]) * 16 + HexDigit(token[3 + 2 * i]));
    }
    style->red = rgb[0];
    style->green = rgb[1];
    style->blue = rgb[2];
    return kOk;
  }
  if (int index = ColourIndex(c); index >= 0) {
    if (c >= 'a') {
      word = (word & kThinColourMask) | index;
      if (index == 0) style->red = style->green = style->blue = 0;
    } else {
      // "K" keeps the record's colour, unlike "k".
      word = (word & kThickColourMask) | kStyleThick | index;
    }
    return kOk;
  }
  for (const OptionCharacter& o : kOptions) {
    if (o.c == c) {
      word = (word & kOptionMask) | o.bits;
      return kOk;
    }
  }
  return kUnknownOpt;
}

}  // namespace

PlotStyle LoadPlotStyle(const uint8_t* bytes) {
  PlotStyle s{};
  s.word = static_cast<int32_t>(LoadLe32(bytes));
  s.red = bytes[4];
  s.green = bytes[5];
  s.blue = bytes[6];
  s.spare = bytes[7];
  return s;
}

void StorePlotStyle(uint8_t* bytes, const PlotStyle& style) {
  StoreLe32(bytes, static_cast<uint32_t>(style.word));
  bytes[4] = style.red;
  bytes[5] = style.green;
  bytes[6] = style.blue;
  bytes[7] = style.spare;
}

StatusCode ParseStyleString(const char* text, int32_t length, int32_t index, int32_t* count, PlotStyle* style) {
  if (length > 0 && text[0] == ',') return kUnknownOpt;
  int32_t styles = 0;
  int32_t pos = 0;
  while (pos < length) {
    if (text[pos] == ',') {
      ++pos;
      continue;
    }
    bool applied = styles == index;
    bool colour = IsColourCharacter(text[pos]);
    // A style is one token, or two when the second is of the other class.
    for (int part = 0; part < 2 && pos < length && text[pos] != ','; ++part) {
      if (part == 1 && IsColourCharacter(text[pos]) == colour) break;
      int32_t len = TokenLength(text, length, pos);
      if (len == 0) return kUnknownOpt;
      if (applied && style != nullptr) {
        if (StatusCode st = ApplyToken(text + pos, len, style); st != kOk) return st;
      }
      pos += len;
    }
    ++styles;
    if (applied) break;
  }
  if (count != nullptr) *count = styles > 0 ? styles : 1;
  return kOk;
}

StatusCode CountPlotStyles(const char* text, int32_t length, int32_t* count) {
  return ParseStyleString(text, length, -1, count, nullptr);
}

StatusCode PickPlotStyle(const char* text, int32_t length, int32_t curve, int32_t defaultWord,
                         const uint8_t* defaultColour, PlotStyle* style) {
  *style = PlotStyle{defaultWord, 0, 0, 0, 0};
  if (defaultColour != nullptr) {
    style->red = defaultColour[0];
    style->green = defaultColour[1];
    style->blue = defaultColour[2];
  }
  if (length <= 0) return kOk;
  int32_t n = 0;
  if (StatusCode st = CountPlotStyles(text, length, &n); st != kOk) return st;
  int32_t k = curve % n;
  if (k < 0) k += n;
  if (StatusCode st = ParseStyleString(text, length, k, nullptr, style); st != kOk) return st;
  if (int32_t index = style->word & kStyleColourIndex; index != 0) {
    style->red = kIndexColours[index].red;
    style->green = kIndexColours[index].green;
    style->blue = kIndexColours[index].blue;
  }
  return kOk;
}
