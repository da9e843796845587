// The nine built-in output formats, their escape tables, and the character
// callbacks and break tests they name. Templates are in the template language;
// "\n" is the caller's line end followed by the indentation.
#include <cstring>

#include "markup/internal.h"

namespace {

constexpr MarkupEscape kHtmlEscapes[] = {
    {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'&', "&amp;"}, {0, nullptr},
};

// '$', '%', '&' and '_' are LaTeX specials too; written bare they break the document.
constexpr MarkupEscape kLatexEscapes[] = {
    {'#', "\\#"},
    {'^', "$\\,\\hat{}\\,$"},
    {'~', "$\\,\\tilde{}\\,$"},
    {'\\', "$\\backslash$"},
    {'|', "$|$"},
    {'\'', "'{}"},
    {'`', "`{}"},
    {'<', "$<$"},
    {'>', "$>$"},
    {'{', "\\{"},
    {'}', "\\}"},
    {'$', "\\$"},
    {'%', "\\%"},
    {'&', "\\&"},
    {'_', "\\_"},
    {0, nullptr},
};

bool PreviousIsLineEnd(const MarkupOutputState* st) {
  return st->outputLength == 0 || IsLineEnd(st->output[st->outputLength - 1]);
}

}  // namespace

int EscapeCharByTable(const char* text, int, int* position, MarkupOutputState* st, const void* table) {
  char c = text[*position];
  for (const MarkupEscape* e = static_cast<const MarkupEscape*>(table); e && e->replacement; ++e) {
    if (e->character == c) {
      if (!ExpandMarkupTemplate(e->replacement, -1, st->escape, st)) return 1;
      ++*position;
      return 0;
    }
  }
  if (!WriteOutputBytes(st, &c, 1)) return 1;
  ++*position;
  return 0;
}

int EscapeMarkupChar(const char* text, int, int* position, MarkupOutputState* st, const void*) {
  char c = text[*position];
  bool escape = false;
  if (c == '~' || c == '|') {
    escape = true;
  } else if (std::strchr("*#;:=-", c) && PreviousIsLineEnd(st)) {
    escape = true;
  } else if (std::strchr("*/#_^,[]{}<>\\", c) && st->outputLength > 0 && st->output[st->outputLength - 1] == c) {
    escape = true;
  }
  char pair[2] = {'~', c};
  bool ok = escape ? WriteOutputBytes(st, pair, 2) : WriteOutputBytes(st, &c, 1);
  if (!ok) return 1;
  ++*position;
  return 0;
}

int EscapeRtfChar(const char* text, int length, int* position, MarkupOutputState* st, const void*) {
  int p = *position;
  unsigned char b = static_cast<unsigned char>(text[p]);
  if (b < 0x80) {
    if (OutputRoom(st) < 2) return 1;
    char c = static_cast<char>(b);
    if (c == '\\' || c == '{' || c == '}') WriteOutputBytes(st, "\\", 1);
    WriteOutputBytes(st, &c, 1);
    *position = p + 1;
    return 0;
  }
  auto continuation = [&](int k) { return k < length && (static_cast<unsigned char>(text[k]) & 0xC0) == 0x80; };
  int code = -1, size = 1;
  if (b >= 0xC0 && b <= 0xDF && continuation(p + 1)) {
    code = ((b & 0x1F) << 6) | (static_cast<unsigned char>(text[p + 1]) & 0x3F);
    size = 2;
  } else if (b >= 0xE0 && b <= 0xEF && continuation(p + 1) && continuation(p + 2)) {
    code = ((b & 0x0F) << 12) | ((static_cast<unsigned char>(text[p + 1]) & 0x3F) << 6) |
           (static_cast<unsigned char>(text[p + 2]) & 0x3F);
    size = 3;
  }
  if (code < 0) {  // stray continuation byte, longer or broken sequence
    *position = p + 1;
    return 0;
  }
  if (OutputRoom(st) < 10) return 1;
  int n = code > 32767 ? code - 65536 : code;  // RTF's signed 16-bit value
  char buffer[12];
  int m = 0;
  buffer[m++] = '\\';
  buffer[m++] = 'u';
  if (n < 0) {
    buffer[m++] = '-';
    n = -n;
  }
  char digits[6];
  int d = 0;
  do {
    digits[d++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  while (d > 0) buffer[m++] = digits[--d];
  buffer[m++] = '?';
  WriteOutputBytes(st, buffer, m);
  *position = p + size;
  return 0;
}

// A '.' or '\'' at the start of a line would be read as a request, and a
// backslash starts an escape; both are written so that they print as text.
int EscapeManChar(const char* text, int, int* position, MarkupOutputState* st, const void*) {
  char c = text[*position];
  bool ok;
  if (c == '\\') {
    ok = WriteOutputBytes(st, "\\(rs", 4);
  } else if ((c == '.' || c == '\'') && PreviousIsLineEnd(st)) {
    char escaped[3] = {'\\', '&', c};
    ok = WriteOutputBytes(st, escaped, 3);
  } else {
    ok = WriteOutputBytes(st, &c, 1);
  }
  if (!ok) return 1;
  ++*position;
  return 0;
}

// Inside verbatim only the exact closing text ends the block: written with a
// blank after "\end", text that holds it stays text instead of ending the
// block and letting the rest run as commands.
int WriteLatexVerbatimChar(const char* text, int length, int* position, MarkupOutputState* st, const void*) {
  static constexpr char kClose[] = "\\end{verbatim}";
  constexpr int kCloseLength = sizeof kClose - 1;
  const int p = *position;
  if (length - p >= kCloseLength && std::memcmp(text + p, kClose, kCloseLength) == 0) {
    if (!WriteOutputBytes(st, "\\end {verbatim}", kCloseLength + 1)) return 1;
    *position = p + kCloseLength;
    return 0;
  }
  if (!WriteOutputBytes(st, text + p, 1)) return 1;
  *position = p + 1;
  return 0;
}

int SkipTextChar(const char*, int, int* position, MarkupOutputState*, const void*) {
  ++*position;
  return 0;
}

int SkipLinkTarget(const char*, int, MarkupOutputState*, const void*) { return 0; }

// A quote would end the field's quoted target and let the rest of the target
// become field switches; it is written percent-encoded, as a URL allows.
int WriteRtfEscapedText(const char* target, int length, MarkupOutputState* st, const void*) {
  int p = 0;
  while (p < length) {
    if (target[p] == '"') {
      if (!WriteOutputBytes(st, "%22", 3)) return 1;
      ++p;
      continue;
    }
    if (int r = EscapeRtfChar(target, length, &p, st, nullptr); r != 0) return r;
  }
  return 0;
}

namespace {

// Browsers drop blanks and control characters before and inside a scheme, and
// compare it without case, so "Java\tScript:" runs script as well.
bool IsScriptTarget(const char* target, int length) {
  static constexpr char kScheme[] = "javascript:";
  int matched = 0;
  for (int k = 0; k < length && kScheme[matched] != 0; ++k) {
    unsigned char b = static_cast<unsigned char>(target[k]);
    if (b <= 0x20) continue;
    char lower = (b >= 'A' && b <= 'Z') ? static_cast<char>(b - 'A' + 'a') : static_cast<char>(b);
    if (lower != kScheme[matched]) return false;
    ++matched;
  }
  return kScheme[matched] == 0;
}

}  // namespace

// A target goes inside a quoted attribute: it is escaped like text so that a
// quote cannot end the attribute, and a script target gets no element at all.
int WriteHtmlLinkTarget(const char* target, int length, MarkupOutputState* st, const void*) {
  if (IsScriptTarget(target, length)) return kMarkupTargetRefused;
  int p = 0;
  while (p < length) {
    if (int r = EscapeCharByTable(target, length, &p, st, kHtmlEscapes); r != 0) return r;
  }
  return 0;
}

// Inside \href{...} a URL keeps its characters: '%' and '#' are escaped for
// hyperref, braces and backslashes are percent-encoded so the argument stays whole.
int WriteLatexLinkTarget(const char* target, int length, MarkupOutputState* st, const void*) {
  for (int k = 0; k < length; ++k) {
    char c = target[k];
    bool ok;
    switch (c) {
      case '%':
        ok = WriteOutputBytes(st, "\\%", 2);
        break;
      case '#':
        ok = WriteOutputBytes(st, "\\#", 2);
        break;
      case '{':
        ok = WriteOutputBytes(st, "\\%7B", 4);
        break;
      case '}':
        ok = WriteOutputBytes(st, "\\%7D", 4);
        break;
      case '\\':
        ok = WriteOutputBytes(st, "\\%5C", 4);
        break;
      default:
        ok = WriteOutputBytes(st, &c, 1);
        break;
    }
    if (!ok) return 1;
  }
  return 0;
}

// A wrapped line must not begin with something that reads as markup.
int IsMarkupWrapPoint(const char* output, int length, int index, const void*) {
  if (output[index] != ' ' || index + 1 >= length) return 0;
  char next = output[index + 1];
  return (next == '#' || next == '*' || next == '=' || next == '|') ? 0 : 1;
}

int IsRtfWrapPoint(const char* output, int, int index, const void*) { return output[index] == ' ' ? 2 : 0; }

// Nor may a wrapped man line begin with a request character.
int IsManWrapPoint(const char* output, int length, int index, const void*) {
  if (!IsBlank(output[index])) return 0;
  if (index + 1 < length && (output[index + 1] == '.' || output[index + 1] == '\'')) return 0;
  return 1;
}

#define HTML_SIZE "%%{s>0} style=\"font-size:%{s}pt\"%%"

const MarkupFormat kMarkupFormats[9] = {
    // 0: plain text
    {
        .join = " ",
        .headingBegin = "%%{4-l} %%%%{i>0}%{i}. %%",
        .headingEnd = "\n\n",
        .paragraphEnd = "\n\n",
        .lineBreak = "\n",
        .preEnd = "\n",
        .preLineEnd = "\n",
        .bulletListEnd = "%%{l=1}\n%%",
        .bulletItemBegin = "%%{3*l-2} %%- ",
        .bulletItemEnd = "\n",
        .numberedListEnd = "%%{l=1}\n%%",
        .numberedItemBegin = "%%{3*l-3} %%%{i}. ",
        .numberedItemEnd = "\n",
        .definitionListEnd = "%%{l=1}\n%%",
        .termBegin = "%%{3*l-3} %%",
        .termEnd = "\n",
        .definitionBegin = "%%{3*l-1} %%",
        .definitionEnd = "\n",
        .indentEnd = "%%{l=1}\n%%",
        .indentedBegin = "%%{3*l} %%",
        .indentedEnd = "\n",
        .tableEnd = "\n",
        .rowEnd = "\n",
        .headerCellEnd = "\t",
        .cellEnd = "\t",
        .rule = "%%{10}-%%\n\n",
        .wrapColumn = 70,
    },
    // 1: compact text
    {
        .join = " ",
        .headingBegin = "%%{p>0}\n%%%%{4-l} %%%%{i>0}%{i}. %%",
        .headingEnd = "\n",
        .paragraphEnd = "\n",
        .lineBreak = "\n",
        .preLineEnd = "\n",
        .bulletListEnd = "%%{l=1}%%",
        .bulletItemBegin = "%%{3*l-2} %%- ",
        .bulletItemEnd = "\n",
        .numberedListEnd = "%%{l=1}%%",
        .numberedItemBegin = "%%{3*l-3} %%%{i}. ",
        .numberedItemEnd = "\n",
        .definitionListEnd = "%%{l=1}%%",
        .termBegin = "%%{3*l-3} %%",
        .termEnd = "\n",
        .definitionBegin = "%%{3*l-1} %%",
        .definitionEnd = "\n",
        .indentEnd = "%%{l=1}%%",
        .indentedBegin = "%%{3*l} %%",
        .indentedEnd = "\n",
        .rowEnd = "\n",
        .headerCellEnd = "\t",
        .cellEnd = "\t",
        .rule = "%%{10}-%%\n",
        .wrapColumn = 70,
    },
    // 2: structure only; what it writes comes from hooks
    {
        .join = "",
        .linkTarget = SkipLinkTarget,
        .textChar = SkipTextChar,
        .preChar = SkipTextChar,
        .wrapColumn = -1,
    },
    // 3: markup
    {
        .join = " ",
        .maxHeadingLevel = 6,
        .headingBegin = "%%{l}=%%",
        .headingEnd = "%%{l}=%%\n",
        .paragraphEnd = "\n\n",
        .lineBreak = "\\\\",
        .preBegin = "{{{\n",
        .preEnd = "}}}\n\n",
        .preLineEnd = "\n",
        .bulletListEnd = "%%{l=1}\n%%",
        .bulletItemBegin = "%L ",
        .bulletItemEnd = "\n",
        .numberedListEnd = "%%{l=1}\n%%",
        .numberedItemBegin = "%L ",
        .numberedItemEnd = "\n",
        .definitionListEnd = "%%{l=1}\n%%",
        .termBegin = "%L ",
        .termEnd = "\n",
        .definitionBegin = "%L ",
        .definitionEnd = "\n",
        .indentEnd = "%%{l=1}\n%%",
        .indentedBegin = "%%{l}:%% ",
        .indentedEnd = "\n",
        .tableEnd = "\n",
        .rowEnd = "\n",
        .headerCellBegin = "|=",
        .cellBegin = "|",
        .rule = "----\n\n",
        .styles = {{"**", "**"}, {"//", "//"}, {"__", "__"}, {"^^", "^^"}, {",,", ",,"}, {"##", "##"}},
        .linkBegin = "[[",
        .linkEnd = "]]",
        .linkMiddle = "|",
        .imageBegin = "{{",
        .imageEnd = "}}",
        .imageMiddle = "|",
        .textChar = EscapeMarkupChar,
        .wrapColumn = 70,
        .breakTest = IsMarkupWrapPoint,
    },
    // 4: HTML
    {
        .join = " ",
        .defaultFontSize = 0,
        .documentBegin = "<!-- Generated by Ambrelith Markup Engine, Jul 29 2008 10:42:11 -->\n<html><body>\n",
        .documentEnd = "</body></html>\n",
        .headingBegin = "<h%{l}%%{s>0} style=\"font-size:%{l=1&3*s|l=2&2*s|l=3&3*s/2|5*s/4}pt\"%%>"
                        "%%{x}<a name=\"h%{o}\">%%%%{i>0}%{i}. %%",
        .headingEnd = "%%{x}</a>%%</h%{l}>\n",
        .paragraphBegin = "<p" HTML_SIZE ">",
        .paragraphEnd = "</p>\n",
        .lineBreak = "<br />",
        .preBegin = "<pre" HTML_SIZE ">\n",
        .preEnd = "</pre>\n",
        .preLineEnd = "\n",
        .bulletListBegin = "<ul>\n",
        .bulletListEnd = "</ul>\n",
        .bulletItemBegin = "<li" HTML_SIZE ">",
        .bulletItemEnd = "</li>\n",
        .numberedListBegin = "<ol>\n",
        .numberedListEnd = "</ol>\n",
        .numberedItemBegin = "<li" HTML_SIZE ">",
        .numberedItemEnd = "</li>\n",
        .definitionListBegin = "<dl>\n",
        .definitionListEnd = "</dl>\n",
        .termBegin = "<dt" HTML_SIZE ">",
        .termEnd = "</dt>\n",
        .definitionBegin = "<dd" HTML_SIZE ">",
        .definitionEnd = "</dd>\n",
        .indentBegin = "<div style=\"margin-left:2em%%{s>0}; font-size:%{s}pt%%\">\n",
        .indentEnd = "</div>\n",
        .indentedBegin = "<p" HTML_SIZE ">",
        .indentedEnd = "</p>\n",
        .tableBegin = "<table>\n",
        .tableEnd = "</table>\n",
        .rowBegin = "<tr>",
        .rowEnd = "</tr>\n",
        .headerCellBegin = "<th" HTML_SIZE ">",
        .headerCellEnd = "</th>\n",
        .cellBegin = "<td" HTML_SIZE ">",
        .cellEnd = "</td>\n",
        .rule = "<hr />\n",
        .styles = {{"<b>", "</b>"},
                   {"<i>", "</i>"},
                   {"<u>", "</u>"},
                   {"<sup>", "</sup>"},
                   {"<sub>", "</sub>"},
                   {"<tt>", "</tt>"}},
        .linkBegin = "<a href=\"",
        .linkEnd = "</a>",
        .linkMiddle = "\">",
        .imageBegin = "<img src=\"",
        .imageEnd = "\" />",
        .imageMiddle = "\" alt=\"",
        .noStylesInImages = 1,
        .linkTarget = WriteHtmlLinkTarget,
        .textChar = EscapeCharByTable,
        .textCharData = kHtmlEscapes,
        .preChar = EscapeCharByTable,
        .preCharData = kHtmlEscapes,
        .wrapColumn = 70,
    },
    // 5: RTF
    {
        .join = " ",
        .documentBegin =
            "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\froman Times;}{\\f1\\fswiss Helvetica;}{\\f2\\fmodern Courier;}}\n",
        .documentEnd = "\n}\n",
        .headingBegin = "{\\pard\\sb%{500-100*l}\\li60\\sa40%%{l=1}\\qc%%\\f1\\fs%{l=1&3*s|l=2&5*s/2|l=3&2*s|3*s/2}"
                        "%%{l!2}\\b%% %%{i>0}%{i}. %%",
        .headingEnd = "\\par}\n",
        .paragraphBegin = "{\\pard\\sb80\\li60\\qj\\fi160\\f0\\fs%{2*s} ",
        .paragraphEnd = "\\par}\n",
        .lineBreak = "\\line ",
        .preBegin = "{\\pard\\sb80\\li160\\f2\\fs%{2*s} ",
        .preEnd = "}\n",
        .preLineEnd = "\\par\n",
        .bulletItemBegin = "{\\pard\\sb80\\li%{60+100*l}\\qj\\fi160\\f0\\fs%{2*s} * ",
        .bulletItemEnd = "\\par}\n",
        .numberedItemBegin = "{\\pard\\sb80\\li%{60+100*l}\\qj\\fi160\\f0\\fs%{2*s} %{i}",
        .numberedItemEnd = "\\par}\n",
        .termBegin = "{\\pard\\sb80\\li%{60+100*l}\\qj\\f0\\fs%{2*s}\\i ",
        .termEnd = "\\par}\n",
        .definitionBegin = "{\\pard\\sb80\\qj\\fi160\\f0\\fs%{2*s}\\li320 ",
        .definitionEnd = "\\par}\n",
        .indentedBegin = "{\\pard\\sb80\\li%{60+100*l}\\qj\\fi160\\f0\\fs%{2*s} ",
        .indentedEnd = "\\par}\n",
        .tableBegin = "{\\par\\li60 ",
        .tableEnd = "\\pard}\n",
        .rowBegin = "\\trowd\\trautofit1 ",
        .rowEnd = "\\row\n",
        .headerCellBegin = "\\pard\\intbl\\sb80\\qc\\fi160\\f0\\fs%{2*s} {\\b ",
        .headerCellEnd = "}\\cell\n",
        .cellBegin = "\\pard\\intbl\\sb80\\qj\\fi160\\f0\\fs%{2*s} ",
        .cellEnd = "\\cell\n",
        .rule = "\\hrule\n",
        .styles =
            {{"{\\b ", "}"}, {"{\\i ", "}"}, {"{\\ul ", "}"}, {"{\\super ", "}"}, {"{\\sub ", "}"}, {"{\\f2 ", "}"}},
        .linkBegin = "{\\field{\\*\\fldinst{HYPERLINK \"",
        .linkEnd = "}}",
        .linkMiddle = "\"}}{\\fldrslt ",
        .linkTarget = WriteRtfEscapedText,
        .textChar = EscapeRtfChar,
        .preChar = EscapeRtfChar,
        .wrapColumn = 70,
        .breakTest = IsRtfWrapPoint,
    },
    // 6: LaTeX
    {
        .join = " ",
        .documentBegin = "\\documentclass[%{s}pt]{article}\n\\usepackage{hyperref}\n\\begin{document}\n",
        .documentEnd = "\n\\end{document}\n",
        .headingBegin = "\n\\%%{l>3&2|l-1}sub%%section%%{l>3|i<1}*%%{",
        .headingEnd = "}\n",
        .paragraphBegin = "\n",
        .paragraphEnd = "\n",
        .lineBreak = "\\\\",
        .preBegin = "\n\\begin{verbatim}\n",
        .preEnd = "\\end{verbatim}\n",
        .preLineEnd = "\n",
        .bulletListBegin = "\\begin{itemize}\n",
        .bulletListEnd = "\\end{itemize}\n",
        .bulletItemBegin = "\\item ",
        .bulletItemEnd = "\n",
        .numberedListBegin = "\\begin{itemize}\n",
        .numberedListEnd = "\\end{itemize}\n",
        .numberedItemBegin = "\\item[%{i}] ",
        .numberedItemEnd = "\n",
        .definitionListBegin = "\\begin{itemize}\n",
        .definitionListEnd = "\\end{itemize}\n",
        .termBegin = "\\item[] {\\bf ",
        .termEnd = "} \\hspace{1em} ",
        .definitionBegin = "\n",
        .definitionEnd = "\n",
        .indentBegin = "\\begin{itemize}\n",
        .indentEnd = "\\end{itemize}\n",
        .indentedBegin = "\\item[] ",
        .indentedEnd = "\n",
        .tableBegin = "\\begin{tabular}{llllllllllllllll}\n",
        .tableEnd = "\\end{tabular}\n",
        .rowEnd = "\\\\\n",
        .headerCellBegin = "{\\bf ",
        .headerCellEnd = "} & ",
        .cellEnd = " & ",
        .styles = {{"{\\bfseries ", "}"},
                   {"{\\itshape ", "}"},
                   {"\\underline{", "}"},
                   {"\\textsuperscript{", "}"},
                   {"\\ensuremath{_{\\mbox{", "}}}"},
                   {"{\\ttfamily ", "}"}},
        .linkBegin = "\\href{",
        .linkEnd = "}",
        .linkMiddle = "}{",
        .linkTarget = WriteLatexLinkTarget,
        .textChar = EscapeCharByTable,
        .textCharData = kLatexEscapes,
        .preChar = WriteLatexVerbatimChar,
        .wrapColumn = 70,
    },
    // 7: man
    {
        .join = " ",
        .documentBegin = ".TH title 1\n",
        .maxHeadingLevel = 2,
        .headingBegin = "%%{l=1}.SH%%%%{l>1}.SS%% ",
        .headingEnd = "\n",
        .paragraphBegin = ".P\n",
        .paragraphEnd = "\n",
        .preLinePrefix = " ",
        .preLineEnd = "\n",
        .bulletItemBegin = ".IP *\n",
        .bulletItemEnd = "\n",
        .numberedItemBegin = ".IP %{i}\n",
        .numberedItemEnd = "\n",
        .termBegin = ".IP ",
        .termEnd = "\n",
        .definitionEnd = "\n",
        .indentedBegin = "\n.P\n",
        .indentedEnd = "\n",
        .rowEnd = "\n",
        .headerCellEnd = " ",
        .cellEnd = " ",
        .rule = "\n",
        .styles = {{"\n.B ", "\n"}, {"\n.I ", "\n"}, {}, {}, {}, {}},
        .textChar = EscapeManChar,
        .preChar = EscapeManChar,
        .wrapColumn = 70,
        .breakTest = IsManWrapPoint,
    },
    // 8: rich view (the rich-edit renderer adds its hooks to a copy)
    {
        .join = " ",
        .headingBegin = "%%{i>0}%{i}. %%",
        .headingEnd = "\n",
        .paragraphEnd = "\n",
        .lineBreak = "\n",
        .preLineEnd = "\n",
        .bulletItemBegin = "- ",
        .bulletItemEnd = "\n",
        .numberedItemBegin = "%{i}. ",
        .numberedItemEnd = "\n",
        .termEnd = " ",
        .definitionEnd = "\n",
        .indentedEnd = "\n",
        .rowEnd = "\n",
        .headerCellEnd = "\t",
        .cellEnd = "\t",
        .rule = "\n",
        .wrapColumn = -1,
    },
};

#undef HTML_SIZE
