// Disassembly of compiled code. Every operand is decoded by the operand kind
// of its opcode's record, so the listing follows the tables and needs no list
// of its own beyond the opcodes whose words are jumps or symbols.
#include "tools/disassembler.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "engine/bytecode.h"

namespace {

// Index of the operand word that holds a symbol, or -1.
int SymbolOperand(Op op) {
  if (op == Op::GetField) return 0;
  if (op == Op::IndexGetField) return 2;
  return -1;
}

void AppendNumber(std::string& out, int64_t v) { out += std::to_string(v); }

void AppendDouble(std::string& out, double x) {
  char buffer[40];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, x);
  out.append(buffer, r.ptr);
}

void AppendChar(std::string& out, uint32_t c) {
  if (c == '\'' || c == '\\') {
    out += '\\';
    out += static_cast<char>(c);
  } else if (c >= 0x20 && c < 0x7F) {
    out += static_cast<char>(c);
  } else {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, c < 0x100 ? "\\x%02X" : "\\u%04X", c);
    out += buffer;
  }
}

// Reads a 64-bit pattern spread over four words, low word first.
uint64_t Read64(const int16_t* words) {
  uint64_t v = 0;
  for (int k = 3; k >= 0; --k) v = (v << 16) | static_cast<uint16_t>(words[k]);
  return v;
}

uint32_t Read32(const int16_t* words) {
  return static_cast<uint32_t>(static_cast<uint16_t>(words[0])) |
         (static_cast<uint32_t>(static_cast<uint16_t>(words[1])) << 16);
}

// The operands of the instruction at code[at], which lies wholly inside the code.
void AppendOperands(std::string& out, const int16_t* code, int at, const DisassemblyOptions& options) {
  const int16_t* ins = code + at;
  const uint16_t word = static_cast<uint16_t>(ins[0]);
  const Op op = static_cast<Op>(word);
  const OpcodeRecord& r = kOpcodeTable[word];
  const int n = r.count;
  switch (r.kind) {
    case kNoOperands:
      return;
    case kWords:
      for (int k = 0; k < n; ++k) {
        out += ' ';
        const int16_t v = ins[1 + k];
        int target = 0;
        if (k == 0 && GetJumpTarget(ins, &target)) {
          out += "->";
          AppendNumber(out, at + target);
        } else if (k == SymbolOperand(op) && options.ctx != nullptr && IsSymbolEntry(options.ctx, v)) {
          out.append(SymbolText(options.ctx, v), SymbolLength(options.ctx, v));
        } else {
          AppendNumber(out, v);
        }
      }
      return;
    case kPairs:
    case kInt32s:
      for (int k = 0; k < n; ++k) {
        const uint32_t v = Read32(ins + 1 + 2 * k);
        out += ' ';
        if (op == Op::PushUint32Wide)
          AppendNumber(out, v);
        else
          AppendNumber(out, static_cast<int32_t>(v));
      }
      return;
    case kInt64s:
      for (int k = 0; k < n; ++k) {
        const uint64_t v = Read64(ins + 1 + 4 * k);
        out += ' ';
        out += op == Op::PushUint64Wide ? std::to_string(v) : std::to_string(static_cast<int64_t>(v));
      }
      return;
    case kDoubles:
      for (int k = 0; k < n; ++k) {
        const uint64_t bits = Read64(ins + 1 + 4 * k);
        double x;
        std::memcpy(&x, &bits, sizeof x);
        out += ' ';
        AppendDouble(out, x);
      }
      return;
    case kBytes: {
      const int count = static_cast<uint16_t>(ins[1]);
      out += " '";
      for (int k = 0; k < count; ++k) {
        const uint16_t pair = static_cast<uint16_t>(ins[2 + k / 2]);
        AppendChar(out, (k % 2 == 0) ? (pair & 0xFF) : (pair >> 8));
      }
      out += '\'';
      return;
    }
    case kChars16: {
      const int count = static_cast<uint16_t>(ins[1]);
      out += " '";
      for (int k = 0; k < count; ++k) AppendChar(out, static_cast<uint16_t>(ins[2 + k]));
      out += '\'';
      return;
    }
  }
}

}  // namespace

std::vector<std::string> DisassembleLines(const int16_t* code, int length, const DisassemblyOptions& options) {
  std::vector<std::string> lines;
  int at = 0;
  while (at < length) {
    std::string line;
    if (options.positions) {
      AppendNumber(line, at);
      line += ": ";
    }
    const uint16_t word = static_cast<uint16_t>(code[at]);
    // Kinds 6 and 7 read a length word: it must lie inside the code first.
    const bool lengthWordMissing = word < kOpcodeCount &&
                                   (kOpcodeTable[word].kind == kBytes || kOpcodeTable[word].kind == kChars16) &&
                                   at + 1 >= length;
    const int len = lengthWordMissing ? 2 : GetInstructionLength(code + at);
    if (at + len > length) {
      line += "<truncated ";
      line += word >= kOpcodeCount ? "native" : OpcodeMnemonic(word);
      line += '>';
      lines.push_back(std::move(line));
      break;
    }
    if (word >= kOpcodeCount) {
      line += "native ";
      AppendNumber(line, word - kOpcodeCount);
      line += ' ';
      AppendNumber(line, code[at + 1]);
      line += ' ';
      AppendNumber(line, code[at + 2]);
    } else {
      line += OpcodeMnemonic(word);
      AppendOperands(line, code, at, options);
    }
    lines.push_back(std::move(line));
    at += len;
  }
  return lines;
}

std::string Disassemble(const int16_t* code, int length, const DisassemblyOptions& options) {
  std::string text;
  for (const std::string& line : DisassembleLines(code, length, options)) {
    text += line;
    text += '\n';
  }
  return text;
}
