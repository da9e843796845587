// Declarations shared by the markup engine's files: output primitives, the
// tokenizer's codes and states, and the inline-style, link, plug-in and wrapping
// operations the converter calls while it reads inline text.
#pragma once

#include "markup/markup.h"

// Tokens of NextMarkupToken.
enum MarkupToken {
  kTokPlain = 0,
  kTokSpace = 1,
  kTokTab = 2,
  kTokLineEnd = 3,
  kTokHeading = 4,
  kTokLineBreak = 5,
  kTokListMarkers = 6,
  kTokDefinition = 7,
  kTokCell = 8,
  kTokHeaderCell = 9,
  kTokRule = 10,
  kTokPre = 11,
  kTokStyle = 12,
  kTokLinkOpen = 13,
  kTokLinkClose = 14,
  kTokImageOpen = 15,
  kTokImageClose = 16,
  kTokPlugin = 17,
  kTokPluginBlock = 18,
  kTokPluginTriple = 19,
  kTokPluginTripleBlock = 20,
};

// Converter states, numbered as the tokenizer sees them.
enum MarkupMode {
  kModeInline = 0,
  kModePreLine = 1,
  kModeHeading = 2,
  kModeLineStart = 3,
  kModePreLineStart = 4,
  kModeBlockStart = 5,
};

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }
inline bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }
inline bool CountsAsCharacter(unsigned char b) { return b < 0x80 || (b >= 0xC0 && b < 0xF0); }
inline int OutputRoom(const MarkupOutputState* st) { return st->capacity - st->outputLength; }

// Appends bytes literally (column and character count follow); false when full.
bool WriteOutputBytes(MarkupOutputState* st, const char* bytes, int n);
// Takes output back to length (never grows it), keeping count, column and the
// re-parse prefix consistent.
void TruncateOutput(MarkupOutputState* st, int length);

int NextMarkupToken(MarkupOutputState* st, int mode, int* token);

bool FindInlineStyle(const int* values, int count, int value, int* index);
const char* MarkupOfInlineStyle(int kind);
int ToggleInlineStyle(int* stack, int* count, int kind, int position, const MarkupFormat* format,
                      MarkupOutputState* st);
int CloseInlineStyles(int* stack, int* count, int position, const MarkupFormat* format, MarkupOutputState* st);
int OpenLinkOrImage(int image, int* stack, int* count, int position, const MarkupFormat* format, MarkupOutputState* st);
int WriteLinkTarget(MarkupOutputState* st, const MarkupFormat* format);

// The cut of a plug-in call from the position after its "<<" or "<<<": name,
// body, and the position after the closing marks (-1 when there are none).
struct PluginCall {
  int nameStart, nameLength, bodyStart, bodyEnd, after;
};
PluginCall CutPluginCall(const char* text, int length, int position, int triple, int blockForm);
void ForgetPluginCloses(MarkupOutputState* st);

int FindMarkupPlugin(const char* text, int length, int position, int triple, const MarkupFormat* format);
int CallMarkupPlugin(int blockForm, int triple, unsigned flags, const MarkupFormat* format, MarkupOutputState* st,
                     int* reparse);
int ReparsePluginOutput(char** input, int* inputLength, MarkupOutputState* st, int* synchronised, int start);

int WrapMarkupOutputLine(MarkupOutputState* st, const MarkupFormat* format);
