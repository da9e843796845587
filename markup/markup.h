// The markup engine's public face: the MarkupFormat record that describes one
// output format, the working state of a conversion, the nine built-in formats and
// the entry points that convert marked-up UTF-8 text or expand a single template.
#pragma once

#include <cstdint>

struct MarkupOutputState;

// Results of a conversion. Any other non-zero value is the status of a hook,
// callback or plug-in that stopped it.
constexpr int kMarkupOk = 0;
constexpr int kMarkupNoRoom = 1;           // work buffer too small: double it and convert again
constexpr int kMarkupUnexpectedToken = 3;  // a token the converter's state does not accept

// A link-target callback answers this to have the link or image written as its
// plain text, without the element (unsafe targets).
constexpr int kMarkupTargetRefused = -1;

// Conversion flags; a set bit switches a construct off unless noted.
constexpr unsigned kMarkupNoDocument = 0x1;
constexpr unsigned kMarkupSingleEqualIsLevel2 = 0x4;  // on
constexpr unsigned kMarkupNumberLevel1 = 0x8;         // on
constexpr unsigned kMarkupNumberLevel2 = 0x10;        // on
constexpr unsigned kMarkupNoDefinitions = 0x20;
constexpr unsigned kMarkupNoIndents = 0x40;
constexpr unsigned kMarkupLinePerParagraph = 0x80;  // on
constexpr unsigned kMarkupNoTilde = 0x100;
constexpr unsigned kMarkupNoRule = 0x200;
constexpr unsigned kMarkupNoLinks = 0x400;
constexpr unsigned kMarkupNoImages = 0x800;
constexpr unsigned kMarkupNoTables = 0x1000;
constexpr unsigned kMarkupNoUnderline = 0x2000;
constexpr unsigned kMarkupNoMonospace = 0x4000;
constexpr unsigned kMarkupNoScripts = 0x8000;  // superscript and subscript
constexpr unsigned kMarkupNoBold = 0x10000;
constexpr unsigned kMarkupNoItalic = 0x20000;
constexpr unsigned kMarkupNoPlugins = 0x40000;           // plug-ins and detectors
constexpr unsigned kMarkupNowikiAsMonospace = 0x100000;  // on
constexpr unsigned kMarkupHeadingAnchors = 0x200000;     // on

constexpr int kMarkupMaxLevels = 8;  // list, indent and table levels open at once
constexpr int kMarkupMaxInline = 9;  // inline kinds 0..8, each open at most once

// Hooks get level, number, begin (1) or end (0), the construct's markup string and
// the position in the text given to ConvertMarkup.
using MarkupHook = int (*)(int level, int number, int begin, const char* markup, int position, MarkupOutputState* state,
                           void* data);
// Consume at least one byte at *position and write its output.
using MarkupCharCallback = int (*)(const char* text, int length, int* position, MarkupOutputState* state,
                                   const void* data);
using MarkupLinkTargetCallback = int (*)(const char* target, int length, MarkupOutputState* state, const void* data);
// 0 no break point, 1 break replacing this byte, 2 break after this byte.
using MarkupBreakTest = int (*)(const char* output, int length, int index, const void* data);
// Non-zero when input was consumed and output written that is to be parsed again.
using MarkupDetectorFunction = int (*)(const char* text, int length, int* position, MarkupOutputState* state,
                                       void* data);
using MarkupPluginFunction = int (*)(const char* name, int nameLength, const char* body, int bodyLength,
                                     MarkupOutputState* state, void* data);

constexpr unsigned kPluginPrefix = 0x1;   // the entry's name may be a prefix of the written name
constexpr unsigned kPluginReparse = 0x2;  // its output is parsed again as markup
constexpr unsigned kPluginBlock = 0x4;    // the current block is closed before it
constexpr unsigned kPluginTriple = 0x8;   // answers "<<<" instead of "<<"

struct MarkupPlugin {
  const char* name;  // null ends a table
  unsigned flags;
  MarkupPluginFunction function;
  void* data;
};

struct MarkupDetector {
  MarkupDetectorFunction function;  // null ends a list
  void* data;
};

struct MarkupLinkPrefix {
  const char* prefix;  // null ends a table
  const char* replacement;
};

// Data of EscapeCharByTable: pairs ended by one with a null replacement.
struct MarkupEscape {
  char character;
  const char* replacement;
};

// One output format. Templates are in the template language; null writes nothing.
struct MarkupFormat {
  const char* join = nullptr;
  int defaultFontSize = 10;
  char escape = '%';
  const char* documentBegin = nullptr;
  const char* documentEnd = nullptr;
  int maxHeadingLevel = 4;
  const char* headingBegin = nullptr;
  const char* headingEnd = nullptr;
  const char* paragraphBegin = nullptr;
  const char* paragraphEnd = nullptr;
  const char* lineBreak = nullptr;
  const char* preBegin = nullptr;
  const char* preEnd = nullptr;
  const char* preLinePrefix = nullptr;
  const char* preLineEnd = nullptr;
  const char* bulletListBegin = nullptr;
  const char* bulletListEnd = nullptr;
  const char* bulletItemBegin = nullptr;
  const char* bulletItemEnd = nullptr;
  const char* numberedListBegin = nullptr;
  const char* numberedListEnd = nullptr;
  const char* numberedItemBegin = nullptr;
  const char* numberedItemEnd = nullptr;
  const char* definitionListBegin = nullptr;
  const char* definitionListEnd = nullptr;
  const char* termBegin = nullptr;
  const char* termEnd = nullptr;
  const char* definitionPrefix = nullptr;
  const char* definitionBegin = nullptr;
  const char* definitionEnd = nullptr;
  const char* indentBegin = nullptr;
  const char* indentEnd = nullptr;
  const char* indentedBegin = nullptr;
  const char* indentedEnd = nullptr;
  const char* tableBegin = nullptr;
  const char* tableEnd = nullptr;
  const char* rowBegin = nullptr;
  const char* rowEnd = nullptr;
  const char* headerCellBegin = nullptr;
  const char* headerCellEnd = nullptr;
  const char* cellBegin = nullptr;
  const char* cellEnd = nullptr;
  const char* rule = nullptr;
  // Begin and end of bold, italic, underline, superscript, subscript, monospace.
  const char* styles[6][2] = {};
  const char* linkBegin = nullptr;
  const char* linkEnd = nullptr;
  const char* linkMiddle = nullptr;  // null: neither begin template nor target, only text and end
  int linkTargetAfterText = 0;
  const char* imageBegin = nullptr;
  const char* imageEnd = nullptr;
  const char* imageMiddle = nullptr;
  int imageTargetAfterText = 0;
  int noStylesInImages = 0;
  const MarkupLinkPrefix* linkPrefixes = nullptr;
  MarkupLinkTargetCallback linkTarget = nullptr;
  const void* linkTargetData = nullptr;
  MarkupCharCallback textChar = nullptr;
  const void* textCharData = nullptr;
  MarkupCharCallback preChar = nullptr;
  const void* preCharData = nullptr;
  int wrapColumn = 0;  // 0 or below: never wrap
  MarkupBreakTest breakTest = nullptr;
  const void* breakTestData = nullptr;
  MarkupHook listHook = nullptr;
  MarkupHook blockHook = nullptr;
  MarkupHook inlineHook = nullptr;
  void* hookData = nullptr;
  const MarkupPlugin* plugins = nullptr;
  const MarkupDetector* detectors = nullptr;
};

// Indexes of the built-in formats.
enum MarkupFormatIndex {
  kPlainTextFormat = 0,
  kCompactTextFormat = 1,
  kStructureFormat = 2,
  kMarkupFormat = 3,
  kHtmlFormat = 4,
  kRtfFormat = 5,
  kLatexFormat = 6,
  kManFormat = 7,
  kRichViewFormat = 8,
};
extern const MarkupFormat kMarkupFormats[9];

// Level kinds; a numbered level holds the number of its current item (>= 1).
constexpr int kLevelBullet = -100;
constexpr int kLevelTerm = -99;
constexpr int kLevelDefinition = -98;
constexpr int kLevelIndent = -97;
constexpr int kLevelDataRow = -96;
constexpr int kLevelHeaderRow = -95;

// Inline kinds.
enum InlineKind {
  kInlineBold = 0,
  kInlineItalic = 1,
  kInlineUnderline = 2,
  kInlineSuperscript = 3,
  kInlineSubscript = 4,
  kInlineMonospace = 5,
  kInlineNowiki = 6,
  kInlineLink = 7,
  kInlineImage = 8,
};

// The working state of one conversion, on the caller's stack. Hooks, callbacks
// and plug-ins read it through the accessors below and write through
// ExpandMarkupTemplate.
struct MarkupOutputState {
  char* output;
  int outputLength;
  int characterCount;
  char* input;
  int inputPosition;
  int inputOffset;  // input position + offset = position in the caller's text
  int inputLength;
  int capacity;  // bytes in each half of the work buffer
  int indentation;
  int column;
  int levels[kMarkupMaxLevels];
  int depth;
  const MarkupFormat* format;
  const char* endOfLine;
  char escape;
  unsigned flags;
  int fontSize;       // template variable s
  int level;          // template variable l
  int number;         // template variable i
  int linkTarget[2];  // input position and length of the open link's target
  int anchor;         // template variable x
  int headingLevel;
  int reparseRequest;
  int requestedDepth;
  int inlineKind;
  int synchronisedPrefix;
  int openHeadingLevels;
  int headingCounters[2];
  int detectorLimit;
  int inlineStack[kMarkupMaxInline];
  int inlineCount;
  int noDocument;

  // Working fields of the converter.
  int imageTarget[2];
  int linkTargetOffset;  // input offset when the target was read; it moves on re-parsing
  int imageTargetOffset;
  int targetKind;        // kind whose target GetMarkupLinkTarget answers
  int plainTargets;      // bit per kind (7, 8) opened without its element
  int nowikiStyled;      // the open nowiki wrote the monospace templates
  int plainUntil;        // input bytes before this position read as plain characters
  int noPluginClose[4];  // by form: no closing marks at or after this body start
  int markerStart;       // first byte of the last list-marker run
  int wrapScanFrom;      // bytes before this already failed the break test
  int endOfLineLength;
};

// Converts text (UTF-8, length bytes; negative for NUL-terminated) into the
// format's output. The work buffer is split in halves: input copy and output.
int ConvertMarkup(const char* text, int length, char* work, int workSize, unsigned flags, const char* endOfLine,
                  const MarkupFormat* format, int fontSize, const char** outText, int* outLength,
                  int* outCharacterCount);

// Template language.
int ExpandMarkupTemplate(const char* templ, int length, char escape, MarkupOutputState* state);
int EvaluateTemplateExpression(const char* text, int length, const MarkupOutputState* state);
void ApplyTemplateOperator(int* values, int* count, char op);
void SkipSpacesAndTabs(const char* text, int length, int* position);

// Accessors for hooks and plug-ins.
int GetMarkupOutputLength(const MarkupOutputState* state);
int GetMarkupCharacterCount(const MarkupOutputState* state);
void GetMarkupLinkTarget(const MarkupOutputState* state, int* position, int* length);
// Writes the "%L" prefix (one character per level up to the level variable) into
// out, which holds kMarkupMaxLevels bytes; returns its length.
int ListNestingPrefix(const MarkupOutputState* state, char* out);

// Character callbacks and break tests of the built-in formats.
int EscapeCharByTable(const char* text, int length, int* position, MarkupOutputState* state, const void* table);
int EscapeMarkupChar(const char* text, int length, int* position, MarkupOutputState* state, const void* data);
int EscapeRtfChar(const char* text, int length, int* position, MarkupOutputState* state, const void* data);
int EscapeManChar(const char* text, int length, int* position, MarkupOutputState* state, const void* data);
int WriteLatexVerbatimChar(const char* text, int length, int* position, MarkupOutputState* state, const void* data);
int SkipTextChar(const char* text, int length, int* position, MarkupOutputState* state, const void* data);
int SkipLinkTarget(const char* target, int length, MarkupOutputState* state, const void* data);
int WriteRtfEscapedText(const char* target, int length, MarkupOutputState* state, const void* data);
int WriteHtmlLinkTarget(const char* target, int length, MarkupOutputState* state, const void* data);
int WriteLatexLinkTarget(const char* target, int length, MarkupOutputState* state, const void* data);
int IsMarkupWrapPoint(const char* output, int length, int index, const void* data);
int IsRtfWrapPoint(const char* output, int length, int index, const void* data);
int IsManWrapPoint(const char* output, int length, int index, const void* data);
