// Raw bytes through descriptor 7 of an in-memory file: fread's limits,
// shapes and short reads, a read without a size that fills the free data
// space, fwrite and the descriptor builtins; and the precision table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/bytecode.h"
#include "tests/engine/stack_fixture.h"

namespace {

constexpr int32_t kFile = 7;

// Descriptor 7 over a byte string. A read gives at most `chunk` bytes (all
// when 0) and answers `readAnswer` instead of 0 when that is set; a seek
// outside the bytes answers 302. Every control request is logged.
struct MemoryFile {
  std::string bytes;
  int32_t position = 0;
  int32_t chunk = 0;
  StatusCode readAnswer = kOk;
  std::string written;
  std::vector<int32_t> codes;
  std::vector<int32_t> closes;
};
MemoryFile* gFile = nullptr;

[[nodiscard]] StatusCode FileRead(EngineContext*, int32_t d, char* buffer, int32_t capacity, int32_t* count, void*) {
  if (d != kFile) return kBadFileId;
  MemoryFile& f = *gFile;
  *count = 0;
  if (f.position >= static_cast<int32_t>(f.bytes.size())) return kEof;
  int32_t n = std::min<int32_t>(capacity, static_cast<int32_t>(f.bytes.size()) - f.position);
  if (f.chunk > 0) n = std::min(n, f.chunk);
  std::memcpy(buffer, f.bytes.data() + f.position, static_cast<size_t>(n));
  f.position += n;
  *count = n;
  return f.readAnswer;
}

[[nodiscard]] StatusCode FileWrite(EngineContext*, int32_t d, const char* bytes, int32_t length, void*) {
  if (d != kFile) return kBadFileId;
  gFile->written.append(bytes, static_cast<size_t>(length));
  return kOk;
}

[[nodiscard]] StatusCode FileClose(EngineContext*, int32_t d, void*) {
  if (d != kFile && d != kAllDescriptors) return kBadFileId;
  gFile->closes.push_back(d);
  return kOk;
}

[[nodiscard]] StatusCode FileControl(EngineContext*, int32_t d, int32_t code, int32_t* value, void*) {
  if (d != kFile) return kBadFileId;
  MemoryFile& f = *gFile;
  f.codes.push_back(code);
  const auto size = static_cast<int32_t>(f.bytes.size());
  int32_t to = f.position;
  switch (code) {
    case kControlEof:
      *value = f.position >= size ? 1 : 0;
      return kOk;
    case kControlTell:
      *value = f.position;
      return kOk;
    case kControlSeekStart:
      to = *value;
      break;
    case kControlSeekCurrent:
      to = f.position + *value;
      break;
    case kControlSeekEnd:
      to = size + *value;
      break;
    default:
      return kOk;
  }
  if (to < 0 || to > size) return kIoErr;
  f.position = to;
  return kOk;
}

class RawBytes : public StackFixture {
 protected:
  RawBytes() : StackFixture({.blockCells = 64 * 1024, .messages = true}) {}

  void SetUp() override {
    StackFixture::SetUp();
    gFile = &file;
    Install();
  }

  // A fresh engine with the file's hooks and descriptor 1 captured.
  void Install() {
    Reset();
    ASSERT_EQ(ResetEngineToBaseFrame(ctx), kOk);
    CaptureDescriptor(kStdoutDescriptor, &out);
    const char* names[] = {"@memfile", "+read", "+write", "+fclose", "+iocontrol"};
    const NativeHandler handlers[] = {nullptr, AsNativeHandler(&FileRead), AsNativeHandler(&FileWrite),
                                      AsNativeHandler(&FileClose), AsNativeHandler(&FileControl)};
    for (int k = 0; k < 5; ++k) {
      hooks[k] = {};
      hooks[k].handler = handlers[k];
      std::strcpy(hooks[k].name, names[k]);
    }
    hooks[5] = {};
    ASSERT_EQ(InstallNativeLibrary(ctx, hooks, false), kOk);
  }

  // Runs a command and answers what it printed, or the failing status.
  std::string Run(const std::string& command) {
    out.clear();
    const StatusCode st = Command(command);
    if (st != kOk) return "status " + std::to_string(st);
    return out;
  }

  NativeFunctionRecord hooks[6]{};
  MemoryFile file;
  std::string out;
};

// Prints a read's shape, its elements in storage order (row by row) and the count.
const char kShow[] = "fprintf('%dx%d:', size(x)); fprintf(' %g', x); fprintf(' | %g', n)";

TEST_F(RawBytes, FreadShapesLimitsAndShortRows) {
  struct Case {
    const char* bytes;
    const char* read;
    const char* want;
  };
  const Case kCases[] = {
      {"abcdefgh", "[x, n] = fread(7, [2 3])", "2x3: 97 98 99 100 101 102 | 6"},
      {"abcdefgh", "[x, n] = fread(7, 3)", "3x1: 97 98 99 | 3"},
      {"abcdefgh", "[x, n] = fread(7)", "8x1: 97 98 99 100 101 102 103 104 | 8"},
      {"abcdefgh", "[x, n] = fread(7, [Inf 3])", "3x3: 97 98 99 100 101 102 103 104 0 | 8"},
      // The end comes inside a row: the row is completed with zeros.
      {"abcd", "[x, n] = fread(7, [2 3])", "2x3: 97 98 99 100 0 0 | 4"},
      // The bytes of a last incomplete element are dropped, not counted.
      {"\x01\x02\x03\x04\x05", "[x, n] = fread(7, [1 3], 'uint16')", "1x3: 513 1027 0 | 2"},
      {"\x01\x02\x03", "[x, n] = fread(7, [], 'uint16;b')", "1x1: 258 | 1"},
      {"\x80\xff", "[x, n] = fread(7, 2, 'char')", "2x1: -128 -1 | 2"},
      {"\x80\xff", "[x, n] = fread(7, 2, 'uchar')", "2x1: 128 255 | 2"},
      {"abc", "[x, n] = fread(7, 0)", "0x0:  | 0"},
      {"abc", "[x, n] = fread(7, [2 0])", "0x0:  | 0"},
  };
  for (const Case& c : kCases) {
    Install();
    file = {};
    file.bytes = c.bytes;
    EXPECT_EQ(Run(std::string(c.read) + "; " + kShow), c.want) << c.read;
  }
}

TEST_F(RawBytes, FreadKeepsClassesAndSendsItsControlFirst) {
  file.bytes = std::string("hi\x01\x00\x00\x00", 6);
  EXPECT_EQ(Run("x = fread(7, 2, '*char'); y = fread(7, 1, '*int32'); "
                "fprintf('%s %d %d %s %s', x, size(x, 1), y, class(x), class(y))"),
            "hi 1 1 char int32");
  // Code 7 before each read; a size of 0 reads nothing and sends nothing.
  EXPECT_EQ(file.codes, (std::vector<int32_t>{kControlBeforeRead, kControlBeforeRead}));
  file.codes.clear();
  EXPECT_EQ(Run("x = fread(7, 0);"), "");
  EXPECT_TRUE(file.codes.empty());
}

TEST_F(RawBytes, FreadAtTheEndAndWithNothingYet) {
  file.bytes = "ab";
  file.position = 2;
  EXPECT_EQ(Run("x = fread(7, 2);"), "status 305");
  EXPECT_EQ(Run("try, fread(7), catch, disp(lasterr), end"), "End of file 'fread'\n");
  // Nothing available yet is an empty read, not an error.
  Install();
  file = {};
  file.bytes = "ab";
  file.chunk = 1;
  file.readAnswer = kWouldBlock;
  EXPECT_EQ(Run(std::string("[x, n] = fread(7, 2); ") + kShow), "1x1: 97 | 1");
  EXPECT_EQ(Run("x = fread(8);"), "status 301");
}

// Without a size the read offers the whole free data space; when the bytes
// fill it the descriptor goes back where it was, so that the same bytes come
// again once there is room.
TEST_F(RawBytes, FreadWithoutSizeThatFillsTheFreeSpace) {
  for (int k = 0; k < 3000; ++k) file.bytes += static_cast<char>('a' + k % 26);
  file.position = 5;
  FillData(200);
  ASSERT_EQ(PushRealScalar(ctx, kFile), kOk);
  const Snapshot before = Take();
  const int16_t ins[] = {static_cast<int16_t>(Op::Fread), 1, 1};
  EXPECT_EQ(FreadOpcode(ctx, ins), kDataStackFull);
  EXPECT_TRUE(Take() == before);
  EXPECT_EQ(file.position, 5);
  EXPECT_EQ(file.codes, (std::vector<int32_t>{kControlBeforeRead, kControlTell, kControlSeekStart}));

  // Room again (the filler gone): every byte from 5 on, once and in order.
  PopValue(ctx);
  PopValue(ctx);
  ASSERT_EQ(PushRealScalar(ctx, kFile), kOk);
  ASSERT_EQ(FreadOpcode(ctx, ins), kOk);
  int32_t m = 0, n = 0;
  double* x = nullptr;
  ASSERT_EQ(GetDoubleMatrixArg(ctx, 0, &m, &n, &x, nullptr), kOk);
  ASSERT_EQ(m, 2995);
  ASSERT_EQ(n, 1);
  for (int k = 0; k < m; ++k) ASSERT_EQ(x[k], 'a' + (k + 5) % 26) << k;
  EXPECT_EQ(file.position, 3000);
}

// Short of room for the result, a read with a size fails before it reads or
// sends anything, so the machine can grow the block and run it again.
TEST_F(RawBytes, ReadsShortOfRoomChangeNothing) {
  file.bytes = "abcdefgh";
  FillData(16);
  ASSERT_EQ(PushStringFromBytes(ctx, 8, "abcdefgh"), kOk);
  double* size = nullptr;
  ASSERT_EQ(PushDoubleMatrix(ctx, 1, 2, &size, nullptr), kOk);
  size[0] = 8;
  size[1] = 1;
  const Snapshot before = Take();
  const int16_t sread[] = {static_cast<int16_t>(Op::Sread), 2, 1};
  EXPECT_EQ(FreadOpcode(ctx, sread), kDataStackFull);
  EXPECT_TRUE(Take() == before);
  PopValue(ctx);
  PopValue(ctx);
  ASSERT_EQ(PushRealScalar(ctx, kFile), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 30), kOk);
  const Snapshot again = Take();
  const int16_t fread[] = {static_cast<int16_t>(Op::Fread), 2, 1};
  EXPECT_EQ(FreadOpcode(ctx, fread), kDataStackFull);
  EXPECT_TRUE(Take() == again);
  EXPECT_TRUE(file.codes.empty());
  EXPECT_EQ(file.position, 0);
}

TEST_F(RawBytes, FwriteGivesTheElementCount) {
  EXPECT_EQ(Run("n = fwrite(7, [1 258], 'uint16;b'); m = fwrite(7, 'AB'); fprintf('%d %d', n, m)"), "2 2");
  EXPECT_EQ(file.written, std::string("\x00\x01\x01\x02"
                                      "AB",
                                      6));
  EXPECT_EQ(Run("fwrite(8, 1)"), "status 301");
  EXPECT_EQ(Run("fwrite(7, 1, 'int3')"), "status 108");
}

TEST_F(RawBytes, FseekOriginsAndFtell) {
  file.bytes = "0123456789";
  struct Case {
    const char* command;
    int32_t position;
    const char* want;
  };
  const Case kCases[] = {
      {"r = fseek(7, 4); fprintf('%d %d', r, ftell(7))", 4, "0 4"},
      {"r = fseek(7, 2, 'bof'); fprintf('%d', r)", 2, "0"},
      {"r = fseek(7, -1, 'cur'); fprintf('%d', r)", 1, "0"},
      {"r = fseek(7, 3, 'current'); fprintf('%d', r)", 4, "0"},
      {"r = fseek(7, -2, 'eof'); fprintf('%d', r)", 8, "0"},
      {"r = fseek(7, 5, 'e'); fprintf('%d', r)", 8, "-1"},
      {"fseek(7, 1, 'b'); x = fread(7, 1); fprintf('%d %d', x, feof(7))", 2, "49 0"},
      {"fseek(7, 0, 'e'); fprintf('%d %s', feof(7), class(feof(7)))", 10, "1 logical"},
      {"fseek(7, 99);", 10, ""},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(Run(c.command), c.want) << c.command;
    EXPECT_EQ(file.position, c.position) << c.command;
  }
  EXPECT_EQ(Run("fseek(7, 0, 'x')"), "status 108");
  EXPECT_EQ(Run("fseek(7, 0, '')"), "status 108");
  EXPECT_EQ(Run("fseek(8, 0)"), "status 301");
  EXPECT_EQ(Run("x = ftell(8);"), "status 301");
  EXPECT_EQ(Run("x = feof({7});"), "status 44");
}

TEST_F(RawBytes, FcloseFflushAndClc) {
  EXPECT_EQ(Run("fclose(7); fclose('all'); fflush(7); clc(7)"), "");
  EXPECT_EQ(file.closes, (std::vector<int32_t>{kFile, kAllDescriptors}));
  EXPECT_EQ(file.codes, (std::vector<int32_t>{kControlFlush, kControlClear}));
  EXPECT_EQ(Run("fclose('All')"), "status 108");
  EXPECT_EQ(Run("fclose('all ')"), "status 108");
  EXPECT_EQ(Run("fclose({7})"), "status 44");
  EXPECT_EQ(Run("fclose(9)"), "status 301");
  // clc without a descriptor clears 1, which nobody here controls.
  EXPECT_EQ(Run("clc"), "status 301");
}

TEST_F(RawBytes, ReadCallCounts) {
  for (Op op : {Op::Fread, Op::Sread}) {
    for (int k = 0; k < 4; ++k) ASSERT_EQ(PushRealScalar(ctx, kFile), kOk);
    const Snapshot before = Take();
    const int16_t four[] = {static_cast<int16_t>(op), 4, 1};
    EXPECT_EQ(FreadOpcode(ctx, four), kTooManyArgin);
    const int16_t three[] = {static_cast<int16_t>(op), 1, 3};
    EXPECT_EQ(FreadOpcode(ctx, three), kTooManyArgout);
    EXPECT_TRUE(Take() == before);
    for (int k = 0; k < 4; ++k) PopValue(ctx);
  }
}

TEST(PrecisionTable, EveryNameInOrder) {
  struct Want {
    const char* name;
    uint32_t size;
    bool isUnsigned, isChar, isFloat;
  };
  const Want kPlain[] = {
      {"int8", 1, false, false, false},  {"int16", 2, false, false, false}, {"int32", 4, false, false, false},
      {"int64", 8, false, false, false}, {"uint8", 1, true, false, false},  {"uint16", 2, true, false, false},
      {"uint32", 4, true, false, false}, {"uint64", 8, true, false, false}, {"char", 1, false, true, false},
      {"uchar", 1, true, true, false},   {"single", 4, false, false, true}, {"double", 8, false, false, true}};
  const PrecisionRecord* r = GetPrecisionRecords();
  const char* suffixes[] = {"", ";l", ";b"};
  for (int s = 0; s < 3; ++s)
    for (const Want& w : kPlain) {
      const std::string name = std::string(w.name) + suffixes[s];
      EXPECT_STREQ(r->name, name.c_str());
      EXPECT_EQ(r->size, w.size) << name;
      EXPECT_EQ(r->isUnsigned != 0, w.isUnsigned) << name;
      EXPECT_EQ(r->bigEndian != 0, s == 2 && w.size > 1) << name;
      EXPECT_EQ(r->isChar != 0, w.isChar) << name;
      EXPECT_EQ(r->isFloat != 0, w.isFloat) << name;
      ++r;
    }
  const PrecisionRecord end{};
  EXPECT_EQ(std::memcmp(r, &end, sizeof end), 0);
}

}  // namespace
