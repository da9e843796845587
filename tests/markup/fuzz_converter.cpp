// Fuzz entry for the markup converter: every built-in format plus a test record
// with plug-ins, a detector, a link prefix table, targets after the text and
// hooks that check begin and end calls pair up. Input: one byte for the format
// and line end, three bytes of flags, then the text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "markup/markup.h"

namespace {

struct HookBalance {
  int block = 0;
  int inlines = 0;
};

int CountBlock(int, int, int begin, const char* markup, int, MarkupOutputState*, void* data) {
  if (!markup) __builtin_trap();
  auto* b = static_cast<HookBalance*>(data);
  b->block += begin ? 1 : -1;
  if (b->block < 0) __builtin_trap();
  return 0;
}

int CountInline(int, int, int begin, const char* markup, int, MarkupOutputState*, void* data) {
  if (!markup) __builtin_trap();
  auto* b = static_cast<HookBalance*>(data);
  b->inlines += begin ? 1 : -1;
  if (b->inlines < 0) __builtin_trap();
  return 0;
}

int Echo(const char*, int, const char* body, int length, MarkupOutputState* st, void*) {
  return ExpandMarkupTemplate(body, length, 0, st) ? 0 : kMarkupNoRoom;
}

int Stars(const char*, int, const char*, int, MarkupOutputState* st, void*) {
  return ExpandMarkupTemplate("**", 2, 0, st) ? 0 : kMarkupNoRoom;
}

// "@@" becomes bold markup that is read again.
int AtDetector(const char* text, int length, int* position, MarkupOutputState* st, void*) {
  if (*position + 1 >= length || text[*position] != '@' || text[*position + 1] != '@') return 0;
  if (!ExpandMarkupTemplate("**", 2, 0, st)) return 0;
  *position += 2;
  return 1;
}

const MarkupPlugin kPlugins[] = {
    {"echo", kPluginReparse, Echo, nullptr}, {"blk", kPluginBlock | kPluginReparse, Echo, nullptr},
    {"x", kPluginPrefix, Stars, nullptr},    {"t", kPluginTriple | kPluginReparse, Echo, nullptr},
    {nullptr, 0, nullptr, nullptr},
};
const MarkupDetector kDetectors[] = {{AtDetector, nullptr}, {nullptr, nullptr}};
const MarkupLinkPrefix kPrefixes[] = {{"wiki:", "http://w/%{o}/"}, {nullptr, nullptr}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 || size > 1 << 16) return 0;
  int which = data[0] % 10;
  static const char* const kLineEnds[] = {"\n", "\r\n", "\r"};
  const char* eol = kLineEnds[(data[0] / 10) % 3];
  unsigned flags = data[1] | (data[2] << 8) | (static_cast<unsigned>(data[3]) << 16);
  const char* text = reinterpret_cast<const char*>(data + 4);
  int length = static_cast<int>(size - 4);

  HookBalance balance;
  MarkupFormat format = kMarkupFormats[which < 9 ? which : kMarkupFormat];
  if (which == 9) {
    format.plugins = kPlugins;
    format.detectors = kDetectors;
    format.linkPrefixes = kPrefixes;
    format.linkTargetAfterText = 1;
    format.imageTargetAfterText = 1;
    format.indentedBegin = "%%{l}:%% %%{200}.%%";
    format.blockHook = CountBlock;
    format.inlineHook = CountInline;
    format.hookData = &balance;
    format.wrapColumn = 20;
  } else if (which == kRichViewFormat) {
    format.blockHook = CountBlock;
    format.inlineHook = CountInline;
    format.hookData = &balance;
  }

  int limit = 10 * length + 65536;
  std::vector<char> work(static_cast<size_t>(2 * length + 64));
  for (;;) {
    balance = HookBalance{};
    const char* out = nullptr;
    int outLength = 0, count = 0;
    int r = ConvertMarkup(text, length, work.data(), static_cast<int>(work.size()), flags, eol, &format, 0, &out,
                          &outLength, &count);
    if (r == kMarkupOk) {
      if (out < work.data() || out + outLength >= work.data() + work.size() || out[outLength] != '\0') __builtin_trap();
      if (count > outLength || count < 0) __builtin_trap();
      if (balance.block != 0 || balance.inlines != 0) __builtin_trap();
      return 0;
    }
    if (r != kMarkupNoRoom) __builtin_trap();  // no token is left unaccepted
    if (static_cast<int>(work.size()) >= limit) return 0;
    work.resize(work.size() * 2);
  }
}
