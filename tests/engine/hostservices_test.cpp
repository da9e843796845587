// Host services: charsets and the text conversions that use them, qualified
// entry names, the display settings, the pending-call queue and call blocks,
// natives called by name and class word, and named items below the data stack.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "corelib/corelib.h"
#include "engine/errors.h"
#include "engine/function.h"
#include "engine/registry.h"
#include "tests/engine/stack_fixture.h"

namespace {

std::string Bytes(const char* p, int n) { return std::string(p, p + n); }

class HostServices : public StackFixture {
 protected:
  // Runs the context's encoder once into a buffer of `size` bytes that
  // already holds `at` bytes of 'x'.
  struct Encoded {
    bool ok;
    std::string bytes;
  };
  Encoded Encode(uint16_t ch, int at, int size) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    int pos = at;
    const bool ok = ctx->charsetEncode(ch, buffer, &pos, size);
    return {ok, Bytes(buffer + at, pos - at)};
  }

  struct Decoded {
    bool ok;
    uint16_t ch;
    int position;
  };
  Decoded Decode(const std::string& text, int at) {
    uint16_t ch = 0;
    int pos = at;
    const bool ok = ctx->charsetDecode(text.data(), &ch, &pos, static_cast<int>(text.size()));
    return {ok, ch, pos};
  }

  std::string EncodeText(int mode, const std::u16string& text, int size, bool* ok) {
    std::vector<char> buffer(size + 8, '#');
    int length = -1;
    *ok = EncodeTextWithLineEnds(ctx, mode, reinterpret_cast<const uint16_t*>(text.data()),
                                 static_cast<int>(text.size()), buffer.data(), size, &length);
    EXPECT_EQ(buffer[length], 0) << "NUL after the text";
    for (int k = size; k < size + 8; ++k) EXPECT_EQ(buffer[k], '#') << "written past the size at " << k;
    return Bytes(buffer.data(), length);
  }

  // Store entries: 1 library "L", 2 library "LongLib...", then functions.
  SymbolId Intern(const std::string& name) {
    SymbolId id = 0;
    EXPECT_EQ(InternSymbol(ctx, name.data(), static_cast<int>(name.size()), 32, &id), kOk);
    return id;
  }
  int32_t AddEntry(int32_t w0, int32_t w1, int32_t w2, int32_t w3) {
    const int32_t words[] = {w0, w1, w2, w3};
    const int32_t entry = ctx->entriesInUse++;
    std::memcpy(FunctionEntryWords(ctx, entry), words, sizeof words);
    return entry;
  }
  std::string Qualified(int32_t entry, int size = 100) {
    std::vector<char> buffer(size + 4, '#');
    int length = -1;
    FormatQualifiedFunctionName(ctx, entry, buffer.data(), size, &length);
    EXPECT_EQ(buffer[length], 0);
    EXPECT_EQ(buffer[size], '#') << "written past the size";
    return Bytes(buffer.data(), length);
  }
};

// ---------------------------------------------------------------------------
// Charsets

TEST_F(HostServices, CharsetLettersInstallTheirCallbacks) {
  struct Case {
    char letter;
    bool bom, decode, encode;
  };
  const Case kCases[] = {
      {'u', true, true, true}, {'s', false, true, true}, {'G', false, true, true}, {'x', false, false, false}};
  for (const Case& c : kCases) {
    SetTextCharset(ctx, 'u');  // every letter replaces what was there
    SetTextCharset(ctx, c.letter);
    EXPECT_EQ(ctx->charsetBom != nullptr, c.bom) << c.letter;
    EXPECT_EQ(ctx->charsetDecode != nullptr, c.decode) << c.letter;
    EXPECT_EQ(ctx->charsetEncode != nullptr, c.encode) << c.letter;
  }
  SetTextCharset(ctx, 's');
  SetTextCharset(ctx, 'u');
  EXPECT_EQ(Encode(0x20AC, 0, 8).bytes, "\xE2\x82\xAC") << "'u' after 's' is UTF-8 again";
}

TEST_F(HostServices, Utf8ByteOrderMark) {
  SetTextCharset(ctx, 'u');
  struct Case {
    const char* text;
    int length;
    int want;
  };
  const Case kCases[] = {{"\xEF\xBB\xBF", 3, 3},
                         {"\xEF\xBB\xBF"
                          "abc",
                          6, 3},
                         {"\xEF\xBB", 2, 0},
                         {"\xEF\xBB\xBE", 3, 0},
                         {"abc", 3, 0},
                         {"\xEF\xBB\xBF", 2, 0}};
  for (const Case& c : kCases) EXPECT_EQ(ctx->charsetBom(c.text, c.length), c.want) << c.text << " " << c.length;
}

TEST_F(HostServices, Utf8EncoderWritesOnlyWhatFits) {
  SetTextCharset(ctx, 'u');
  struct Case {
    uint16_t ch;
    int at, size;
    bool ok;
    const char* bytes;
  };
  const Case kCases[] = {
      {'A', 0, 1, true, "A"},
      {'A', 2, 3, true, "A"},
      {'A', 3, 3, false, ""},
      {0xE9, 0, 1, false, ""},
      {0xE9, 1, 3, true, "\xC3\xA9"},
      {0x7FF, 0, 2, true, "\xDF\xBF"},
      {0x20AC, 0, 2, false, ""},
      {0x20AC, 1, 3, false, ""},
      {0x20AC, 5, 8, true, "\xE2\x82\xAC"},
      {0xFFFF, 0, 3, true, "\xEF\xBF\xBF"},
  };
  for (const Case& c : kCases) {
    const Encoded e = Encode(c.ch, c.at, c.size);
    EXPECT_EQ(e.ok, c.ok) << std::hex << c.ch << " at " << c.at << " of " << c.size;
    EXPECT_EQ(e.bytes, c.bytes) << std::hex << c.ch << " at " << c.at << " of " << c.size;
  }
}

TEST_F(HostServices, DecodersAlwaysConsume) {
  struct Case {
    char charset;
    std::string text;
    int at;
    bool ok;
    uint16_t ch;
    int position;
  };
  const Case kCases[] = {
      {'u', "A", 0, true, 'A', 1},
      {'u', "x\xC3\xA9", 1, true, 0xE9, 3},
      {'u', "\xE2\x82\xAC", 0, true, 0x20AC, 3},
      {'u', "\xF0\x9F", 0, false, 0, 1},  // a four-byte lead goes alone
      {'u', "\xF0\x9F", 1, false, 0, 2},
      {'u', "\xC3", 0, false, 0, 1},  // truncated
      {'u', "ab", 2, false, 0, 3},    // at the end it still moves on
      {'s', "A", 0, true, 'A', 1},
      {'s', "\x81\x40z", 0, true, 0x8140, 2},
      {'s', "a\xE0\xFF", 1, true, 0xE0FF, 3},
      {'s', "a\x81", 1, false, 0, 2},  // a high byte in the last position is skipped
  };
  for (const Case& c : kCases) {
    SetTextCharset(ctx, c.charset);
    const Decoded d = Decode(c.text, c.at);
    EXPECT_EQ(d.ok, c.ok) << c.charset << " case at " << c.at << " of " << c.text.size();
    if (c.ok) {
      EXPECT_EQ(d.ch, c.ch) << c.charset;
    }
    EXPECT_EQ(d.position, c.position) << c.charset << " case at " << c.at;
  }
}

TEST_F(HostServices, DoubleByteEncoderWritesWholeCharactersOnly) {
  SetTextCharset(ctx, 'G');
  struct Case {
    uint16_t ch;
    int at, size;
    bool ok;
    const char* bytes;
  };
  const Case kCases[] = {{'A', 0, 1, true, "A"},
                         {'A', 1, 1, false, ""},
                         {0x8140, 0, 2, true, "\x81\x40"},
                         {0x8140, 1, 2, false, ""},
                         {0xE9, 1, 2, false, ""}};
  for (const Case& c : kCases) {
    const Encoded e = Encode(c.ch, c.at, c.size);
    EXPECT_EQ(e.ok, c.ok) << std::hex << c.ch;
    EXPECT_EQ(e.bytes, c.bytes) << std::hex << c.ch;
  }
  EXPECT_EQ(Encode(0xE9, 0, 2).bytes, std::string("\0\xE9", 2)) << "high byte then low byte";
}

// The value-stack conversions size their output exactly, so the last
// character of a text is encoded with only its own bytes of room left.
TEST_F(HostServices, CharsetRoundTripThroughCharacterArrays) {
  struct Case {
    char charset;
    std::string encoded;
    std::u16string text;
  };
  const Case kCases[] = {
      {'u',
       "a\xC3\xA9\xE2\x82\xAC"
       "b",
       u"a\u00E9\u20ACb"},
      {'s',
       "a\x81\x40"
       "b",
       u"a\u8140b"},
      {'x',
       "a\xE9"
       "b",
       u"a\u00E9b"},
  };
  for (const Case& c : kCases) {
    SetTextCharset(ctx, c.charset);
    ASSERT_EQ(PushStringFromCharsetText(ctx, static_cast<int64_t>(c.encoded.size()), c.encoded.data()), kOk);
    const ArrayView a = ReadArray(TopData(ctx));
    ASSERT_EQ(a.count, static_cast<int64_t>(c.text.size())) << c.charset;
    EXPECT_EQ(std::memcmp(a.data, c.text.data(), 2 * c.text.size()), 0) << c.charset;

    uint8_t* data = nullptr;
    int64_t length = 0;
    ASSERT_EQ(EncodeCharArg(ctx, 0, false, &data, &length), kOk);
    EXPECT_EQ(Bytes(reinterpret_cast<char*>(data), static_cast<int>(length)), c.encoded) << c.charset;
    PopValue(ctx);
  }
}

// ---------------------------------------------------------------------------
// Text with line ends

TEST_F(HostServices, LineEndModes) {
  struct Case {
    char charset;
    int mode;
    std::u16string text;
    const char* want;
  };
  const Case kCases[] = {
      {'x', kLineEndCr, u"a\nb", "a\rb"},
      {'x', kLineEndLf, u"a\nb", "a\nb"},
      {'x', kLineEndCrLf, u"a\nb", "a\r\nb"},
      {'x', kLineEndCrLf, u"\x0141\n", "A\r\n"},  // low bytes without an encoder
      {'u', kLineEndCr, u"\u00E9\n", "\xC3\xA9\r"},
      {'u', kLineEndCrLf, u"a\nb", "a\r\nb"},
      {'s', kLineEndLf, u"\u8140\n", "\x81\x40\n"},
  };
  for (const Case& c : kCases) {
    SetTextCharset(ctx, c.charset);
    bool ok = false;
    EXPECT_EQ(EncodeText(c.mode, c.text, 32, &ok), c.want) << c.charset << " mode " << c.mode;
    EXPECT_TRUE(ok);
  }
}

TEST_F(HostServices, LineEndConversionStopsAtTheBufferEnd) {
  struct Case {
    char charset;
    int mode;
    std::u16string text;
    int size;
    const char* want;
    bool ok;
  };
  const Case kCases[] = {
      // Without an encoder each byte needs one more for the NUL.
      {'x', kLineEndLf, u"abc", 4, "abc", true},
      {'x', kLineEndLf, u"abc", 3, "ab", false},
      {'x', kLineEndCrLf, u"a\n", 3, "a", false},  // CR LF goes whole or not at all
      {'x', kLineEndCrLf, u"a\n", 4, "a\r\n", true},
      {'x', kLineEndLf, u"", 1, "", true},
      // With an encoder four bytes must stay before each character.
      {'u', kLineEndLf, u"abc", 8, "abc", true},
      {'u', kLineEndLf, u"abcde", 8, "abcd", false},
      {'u', kLineEndLf, u"\u20AC\u20AC", 7, "\xE2\x82\xAC", false},
      {'u', kLineEndLf, u"\u20AC\u20AC", 8, "\xE2\x82\xAC\xE2\x82\xAC", true},
      {'u', kLineEndLf, u"a", 4, "", false},
  };
  for (const Case& c : kCases) {
    SetTextCharset(ctx, c.charset);
    bool ok = !c.ok;
    EXPECT_EQ(EncodeText(c.mode, c.text, c.size, &ok), c.want) << c.charset << " size " << c.size;
    EXPECT_EQ(ok, c.ok) << c.charset << " size " << c.size;
  }
  int length = -1;
  char none[1];
  EXPECT_FALSE(EncodeTextWithLineEnds(ctx, kLineEndLf, nullptr, 0, none, 0, &length)) << "no room for the NUL";
  EXPECT_EQ(length, 0);
}

TEST_F(HostServices, LineEndConversionInTheSameBuffer) {
  struct Case {
    char charset;
    int mode;
    std::u16string text;
    int size;  // bytes of the shared buffer
    const char* want;
    bool ok;
  };
  const Case kCases[] = {
      {'x', kLineEndCrLf, u"a\n\n\nb", 12, "a\r\n\r\n\r\nb", true},
      {'u', kLineEndCrLf, u"a\n\u00E9\u20ACb", 32,
       "a\r\n\xC3\xA9\xE2\x82\xAC"
       "b",
       true},
      {'s', kLineEndCr, u"\u8140\u8140\n", 32, "\x81\x40\x81\x40\r", true},
      // 2 x 6 + 5 reaches 16: only 16 / 2 - 5 = 3 characters are converted.
      {'u', kLineEndLf, u"abcdef", 16, "abc", false},
      // Three-byte characters catch up with the text still to be read.
      {'u', kLineEndLf, u"\u20AC\u20AC\u20AC\u20AC\u20AC\u20AC\u20AC\u20AC", 22, "\xE2\x82\xAC\xE2\x82\xAC", false},
  };
  for (const Case& c : kCases) {
    SetTextCharset(ctx, c.charset);
    std::vector<uint16_t> shared(c.size / 2 + 4, 0x2323);
    std::memcpy(shared.data(), c.text.data(), 2 * c.text.size());
    auto* buffer = reinterpret_cast<char*>(shared.data());
    int length = -1;
    const bool ok =
        EncodeTextWithLineEnds(ctx, c.mode, shared.data(), static_cast<int>(c.text.size()), buffer, c.size, &length);
    EXPECT_EQ(ok, c.ok) << c.charset << " " << c.size;
    ASSERT_GE(length, 0);
    EXPECT_EQ(Bytes(buffer, length), c.want) << c.charset << " " << c.size;
    EXPECT_EQ(buffer[length], 0);
    EXPECT_EQ(shared[c.size / 2], 0x2323) << "written past the size";
  }
}

// ---------------------------------------------------------------------------
// Names of entries

TEST_F(HostServices, EntryNames) {
  const SymbolId lib = Intern("L"), q = Intern("Q"), f = Intern("f"), g = Intern("g"), v = Intern("counter");
  const int32_t library = AddEntry(kEntryLibrary, lib, 0, 0);
  const auto priv = static_cast<int32_t>(kLibraryPrivate);
  struct Case {
    int32_t entry;
    const char* name;
    const char* qualified;
  };
  const Case kCases[] = {
      {AddEntry(f, library | priv, 0, q), "f", "L/.Q::f"},
      {AddEntry(f, library, 0, 0), "f", "L/f"},
      {AddEntry(g, 0, 0, q), "g", "Q::g"},
      {AddEntry(g, 0, 0, 0), "g", "g"},
      {AddEntry(kEntryVariable, v, 3, 0), "counter", "counter"},
      {library, "L", "L"},
      {0, "(base)", "(base)"},
      {-1, "(none)", "(none)"},
      {ctx->entriesInUse + 5, "(none)", "(none)"},
  };
  for (const Case& c : kCases) {
    const char* text = nullptr;
    int length = 0;
    GetFunctionNameByIndex(ctx, c.entry, &text, &length);
    EXPECT_EQ(Bytes(text, length), c.name) << c.entry;
    EXPECT_EQ(Qualified(c.entry), c.qualified) << c.entry;
  }
}

TEST_F(HostServices, QualifiedNamesStayInsideTheBuffer) {
  const std::string name31(31, 'n'), lib31(31, 'l'), q31(31, 'q');
  const int32_t library = AddEntry(kEntryLibrary, Intern(lib31), 0, 0);
  const int32_t entry = AddEntry(Intern(name31), library | static_cast<int32_t>(kLibraryPrivate), 0, Intern(q31));
  EXPECT_EQ(Qualified(entry), lib31 + "/." + q31 + "::" + name31) << "three longest names fit in 100 bytes";

  // A short buffer gets the beginning of the name: the library keeps two
  // bytes free, the qualifier three, the name one for the NUL.
  const int32_t plain = AddEntry(Intern("fun"), library, 0, Intern("Q"));
  const std::string full = lib31 + "/Q::fun";
  EXPECT_EQ(Qualified(plain), full);
  struct Case {
    int size;
    std::string want;
  };
  const Case kCases[] = {{1, ""},
                         {3, "l"},
                         {32, std::string(30, 'l')},
                         {33, lib31 + "/"},
                         {35, lib31 + "/"},
                         {36, lib31 + "/Q::"},
                         {38, lib31 + "/Q::fu"},
                         {39, full}};
  for (const Case& c : kCases) EXPECT_EQ(Qualified(plain, c.size), c.want) << c.size;
  for (int size = 1; size <= 40; ++size) {
    const std::string got = Qualified(plain, size);
    EXPECT_EQ(full.compare(0, got.size(), got), 0) << size << ": " << got;
  }
  int length = -1;
  FormatQualifiedFunctionName(ctx, plain, nullptr, 0, &length);
  EXPECT_EQ(length, 0);
}

// ---------------------------------------------------------------------------
// Display settings

TEST_F(HostServices, DisplayFormat) {
  char format = 0, unit = 0;
  int32_t digits = 0, word = 0;
  bool loose = true, flag = true;
  GetEngineDisplayFormat(ctx, &format, &digits, &unit, &loose, &word, &flag);
  EXPECT_EQ(format, 'g');
  EXPECT_EQ(digits, 4);
  EXPECT_EQ(unit, 'j');
  EXPECT_FALSE(loose);
  EXPECT_EQ(word, 24);
  EXPECT_FALSE(flag) << "the host flag starts off";

  SetEngineDisplayFormat(ctx, 'e', 10, 'i', true, 77, true);
  EXPECT_EQ(ctx->display.hostWords[1], 0) << "on is stored as 0";
  GetEngineDisplayFormat(ctx, &format, &digits, &unit, &loose, &word, &flag);
  EXPECT_EQ(format, 'e');
  EXPECT_EQ(digits, 10);
  EXPECT_EQ(unit, 'i');
  EXPECT_TRUE(loose);
  EXPECT_EQ(word, 77);
  EXPECT_TRUE(flag);
  SetEngineDisplayFormat(ctx, 'f', 2, 'j', false, 0, false);
  EXPECT_EQ(ctx->display.hostWords[1], -1) << "off is stored as -1";
  GetEngineDisplayFormat(ctx, nullptr, &digits, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(digits, 2);
}

// ---------------------------------------------------------------------------
// Pending calls

void HostCallback(EngineContext*, void*) {}
void OtherCallback(EngineContext*, void*) {}

struct HostRecord {
  EngineContext* current;
};
EngineContext* Resolve(void* target) { return static_cast<HostRecord*>(target)->current; }

TEST_F(HostServices, QueueHoldsSixteenAndDropsNothing) {
  PendingCallAccess access{};
  GetServiceTable(ctx)->GetPendingCallAccess(ctx, &access);
  EXPECT_EQ(access.resolver, nullptr);
  EXPECT_EQ(access.target, ctx) << "without a resolver the target is the context";
  ASSERT_NE(access.postCall, nullptr);
  ASSERT_NE(access.postEvent, nullptr);

  EXPECT_FALSE(access.postCall(access, nullptr, nullptr)) << "a null function would read as a call block";
  EXPECT_FALSE(access.postEvent(access, nullptr));
  std::vector<double> blocks(16);
  for (int k = 0; k < 16; ++k) {
    const bool ok = k % 2 == 0 ? access.postCall(access, HostCallback, reinterpret_cast<void*>(intptr_t{k + 1}))
                               : access.postEvent(access, &blocks[k]);
    ASSERT_TRUE(ok) << k;
  }
  EXPECT_FALSE(access.postCall(access, OtherCallback, nullptr)) << "the seventeenth";
  EXPECT_FALSE(access.postEvent(access, &blocks[0]));
  ASSERT_EQ(ctx->pendingCount, 16);
  for (int k = 0; k < 16; ++k) {
    if (k % 2 == 0) {
      EXPECT_EQ(ctx->pendingCalls[k].function, HostCallback) << k;
      EXPECT_EQ(ctx->pendingCalls[k].argument, reinterpret_cast<void*>(intptr_t{k + 1})) << k;
    } else {
      EXPECT_EQ(ctx->pendingCalls[k].function, nullptr) << k;
      EXPECT_EQ(ctx->pendingCalls[k].argument, &blocks[k]) << k;
    }
  }
}

TEST_F(HostServices, ResolverFindsTheContextWhereItIsNow) {
  std::vector<uint64_t> other(16 * 1024);
  EngineContext* moved = nullptr;
  StartEngine(other, &moved);

  HostRecord host{ctx};
  SetPendingCallResolver(ctx, Resolve, &host);
  PendingCallAccess access{};
  GetPendingCallAccess(ctx, &access);
  EXPECT_EQ(access.resolver, Resolve);
  EXPECT_EQ(access.target, &host);
  ASSERT_TRUE(PostPendingCall(access, HostCallback, nullptr));
  EXPECT_EQ(ctx->pendingCount, 1);

  host.current = moved;  // as after the host moved its block
  ASSERT_TRUE(PostPendingCall(access, OtherCallback, nullptr));
  EXPECT_EQ(ctx->pendingCount, 1);
  ASSERT_EQ(moved->pendingCount, 1);
  EXPECT_EQ(moved->pendingCalls[0].function, OtherCallback);

  host.current = nullptr;
  EXPECT_FALSE(PostPendingCall(access, HostCallback, nullptr));
}

TEST_F(HostServices, CallBlockOfAFunctionAndItsArguments) {
  ASSERT_EQ(PushRealScalar(ctx, 99), kOk);  // below the call: not copied
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "fn"), kOk);
  ASSERT_EQ(PushRealScalar(ctx, 1), kOk);
  PushRow({2, 3, 4});
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "abc"), kOk);
  const Snapshot before = Take();

  int64_t cells = 0;
  for (int p = 0; p < 4; ++p) cells += At(p).cells + 3;
  int64_t size = 0;
  ASSERT_EQ(GetServiceTable(ctx)->SumArgumentValueSizes(ctx, 3, 3, &size), kOk);
  EXPECT_EQ(size, 32 * cells);
  ASSERT_GE(size, 8 + 8 * cells) << "room for n and the copies";

  std::vector<double> call(size / 8 + 1, -7.0);
  PendingCallAccess access{};
  ASSERT_EQ(GetServiceTable(ctx)->CopyArgumentValuesOut(ctx, 3, 3, &access, call.data()), kOk);
  EXPECT_EQ(access.target, ctx);
  EXPECT_EQ(Take(), before) << "copying leaves the stack alone";
  EXPECT_EQ(call[0], 3.0);
  EXPECT_EQ(call[1 + cells], -7.0) << "nothing written after the last copy";

  // Pushed back in block order: the function, then the arguments in their order.
  const double* copy = call.data() + 1;
  for (int k = 0; k < 4; ++k) {
    ASSERT_EQ(PushCopiedValue(ctx, copy), kOk);
    copy += static_cast<int64_t>(copy[1]) + 3;
  }
  EXPECT_EQ(TopString(), "abc");
  EXPECT_EQ(At(1).cells, 3);
  double one = 0;
  EXPECT_EQ(GetRealScalarArg(ctx, 2, &one), kOk);
  EXPECT_EQ(one, 1.0);
  EXPECT_TRUE(IsCharArg(ctx, 3));
  for (int p = 0; p < 4; ++p) {
    const ValueDescriptor a = At(p), b = At(p + 4);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << p;
    EXPECT_EQ(std::memcmp(DataAt(ctx, p), DataAt(ctx, p + 4), a.cells * sizeof(Cell)), 0) << p;
  }

  ASSERT_TRUE(access.postEvent(access, call.data()));
  EXPECT_EQ(ctx->pendingCalls[0].function, nullptr);
  EXPECT_EQ(ctx->pendingCalls[0].argument, call.data());

  // Positions beyond the values on the stack.
  const int values = ctx->descLength / 3;
  EXPECT_EQ(SumArgumentValueSizes(ctx, values, 0, &size), kBadArg);
  EXPECT_EQ(SumArgumentValueSizes(ctx, 0, values + 1, &size), kBadArg);
  EXPECT_EQ(SumArgumentValueSizes(ctx, -1, 0, &size), kBadArg);
  EXPECT_EQ(CopyArgumentValuesOut(ctx, values, 1, nullptr, call.data()), kBadArg);
  ASSERT_EQ(SumArgumentValueSizes(ctx, 0, 0, &size), kOk);
  EXPECT_EQ(size, 32 * (At(0).cells + 3)) << "the function alone";
}

// ---------------------------------------------------------------------------
// Natives by name and class word

struct Seen {
  void* argument = nullptr;
  void* userData = nullptr;
  int32_t runningClass = 0;
  int calls = 0;
};
Seen seen;

[[nodiscard]] StatusCode Kinded(EngineContext* ctx, void* argument, void* userData) {
  seen.argument = argument;
  seen.userData = userData;
  seen.runningClass = ctx->runningNativeClass;
  ++seen.calls;
  return 42;
}

[[nodiscard]] StatusCode Other(EngineContext*, void*, void*) { return 7; }

NativeFunctionRecord KindRecord(const char* name, int32_t kind, KindedNativeHandler handler, void* userData) {
  NativeFunctionRecord r{};
  r.handler = handler ? AsNativeHandler(handler) : nullptr;
  r.userData = userData;
  r.kind = kind;
  std::strncpy(r.name, name, sizeof r.name - 1);
  return r;
}

TEST_F(HostServices, CallsTheFirstNativeOfThatNameAndKind) {
  const auto call = GetServiceTable(ctx)->CallNativeByNameAndKind;
  int own = 0, fallback = 0;
  SetNativeDefaultUserData(ctx, &fallback);
  const NativeFunctionRecord first[] = {KindRecord("@lib", 0, nullptr, nullptr), KindRecord("open", 0, Other, nullptr),
                                        KindRecord("open", 3, nullptr, nullptr), NativeFunctionRecord{}};
  const NativeFunctionRecord second[] = {KindRecord("open", 3, Kinded, &own), KindRecord("open", 3, Other, nullptr),
                                         KindRecord("close", -3, Kinded, nullptr), NativeFunctionRecord{}};
  ASSERT_EQ(InstallNativeLibrary(ctx, first, false), kOk);
  ASSERT_EQ(InstallNativeLibrary(ctx, second, false), kOk);

  ctx->runningNativeClass = 99;
  int argument = 0;
  seen = {};
  EXPECT_EQ(call(ctx, "open", 3, &argument), 42) << "the record without a handler is passed over";
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.argument, &argument);
  EXPECT_EQ(seen.userData, &own);
  EXPECT_EQ(seen.runningClass, NativeClassIdOf(1, 3));
  EXPECT_EQ(ctx->runningNativeClass, 99) << "the caller's class comes back";

  EXPECT_EQ(call(ctx, "open", 0, nullptr), 7);
  EXPECT_EQ(call(ctx, "close", -3, nullptr), 42);
  EXPECT_EQ(seen.userData, &fallback) << "a record without user data gets the default";
  EXPECT_EQ(call(ctx, "open", 5, nullptr), kUnknownFun);
  EXPECT_EQ(call(ctx, "close", 3, nullptr), kUnknownFun);
  EXPECT_EQ(call(ctx, "Open", 3, nullptr), kUnknownFun);
  EXPECT_EQ(call(ctx, nullptr, 3, nullptr), kUnknownFun);
}

// ---------------------------------------------------------------------------
// Named items

class NamedItems : public HostServices {
 protected:
  int32_t Find(const char* name) { return GetServiceTable(ctx)->FindNamedItem(ctx, name); }
  // The layout below the data stack: items and data where the offsets say.
  void ExpectLayout() {
    const int libs = ctx->libraryCount, items = ctx->namedItemCount;
    EXPECT_EQ(reinterpret_cast<uint8_t*>(ctx->dataBase), RegionStart(ctx) + DataStackOffset(libs, items));
    if (items > 0) {
      EXPECT_EQ(reinterpret_cast<uint8_t*>(ctx->namedItems), RegionStart(ctx) + NamedItemsOffset(libs));
    }
    EXPECT_EQ(reinterpret_cast<Cell*>(ctx->heapBase) - ctx->dataBase, ctx->dataCapacity);
  }
};

TEST_F(NamedItems, DefineAndFind) {
  EXPECT_EQ(Find("instance"), 0);
  ASSERT_EQ(DefineNamedItem(ctx, "instance", 4096), kOk);
  ASSERT_EQ(DefineNamedItem(ctx, "window", -5), kOk);
  EXPECT_EQ(DefineNamedItem(ctx, "instance", 1), kInitError) << "defined before";
  EXPECT_EQ(DefineNamedItem(ctx, "zero", 0), kOk);
  EXPECT_EQ(DefineNamedItem(ctx, nullptr, 3), kNullName);

  struct Case {
    const char* name;
    int32_t want;
  };
  const Case kCases[] = {{"instance", 4096}, {"window", -5}, {"Window", 0}, {"zero", 0}, {"inst", 0}, {"", 0}};
  for (const Case& c : kCases) EXPECT_EQ(Find(c.name), c.want) << c.name;
  EXPECT_EQ(Find(nullptr), 0);
  EXPECT_EQ(ctx->namedItemCount, 2) << "value 0 stores nothing";
  ExpectLayout();
}

TEST_F(NamedItems, TakeRoomFromTheDataStack) {
  const int32_t capacity = ctx->dataCapacity;
  ASSERT_EQ(PushRealScalar(ctx, 5), kOk);
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "kept"), kOk);
  const Snapshot before = Take();

  ASSERT_EQ(DefineNamedItem(ctx, "a", 1), kOk);
  EXPECT_EQ(ctx->dataCapacity, capacity - 4) << "a cell, the item, a cell";
  ASSERT_EQ(DefineNamedItem(ctx, "b", 2), kOk);
  EXPECT_EQ(ctx->dataCapacity, capacity - 6);
  EXPECT_EQ(Take(), before) << "values move up with the base";
  EXPECT_EQ(TopString(), "kept");
  ExpectLayout();

  // No room: refused, nothing changes.
  FillData(2);
  const Snapshot full = Take();
  const Cell* base = ctx->dataBase;
  EXPECT_EQ(DefineNamedItem(ctx, "c", 3), kDataStackFull);
  EXPECT_EQ(ctx->namedItemCount, 2);
  EXPECT_EQ(ctx->dataBase, base);
  EXPECT_EQ(Take(), full);
}

TEST_F(NamedItems, MoveWithLibrariesInstalledLater) {
  static const NativeFunctionRecord lib1[] = {KindRecord("one", 0, Kinded, nullptr), NativeFunctionRecord{}};
  static const NativeFunctionRecord lib2[] = {KindRecord("two", 0, Kinded, nullptr), NativeFunctionRecord{}};
  static const NativeFunctionRecord lib3[] = {KindRecord("three", 0, Kinded, nullptr), NativeFunctionRecord{}};
  ASSERT_EQ(InstallNativeLibrary(ctx, lib1, false), kOk);
  ASSERT_EQ(DefineNamedItem(ctx, "first", 11), kOk);
  ASSERT_EQ(DefineNamedItem(ctx, "second", 22), kOk);
  ExpectLayout();
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "data"), kOk);
  const Snapshot before = Take();

  ASSERT_EQ(InstallNativeLibrary(ctx, lib2, false), kOk);
  ASSERT_EQ(InstallNativeLibrary(ctx, lib3, true), kOk);
  ExpectLayout();
  EXPECT_EQ(Find("first"), 11);
  EXPECT_EQ(Find("second"), 22);
  EXPECT_EQ(Take(), before);
  EXPECT_STREQ(GetNativeRecordByIndex(ctx, 0)->name, "three") << "the libraries themselves are intact";
  EXPECT_STREQ(GetNativeRecordByIndex(ctx, 2)->name, "two");

  ASSERT_EQ(DefineNamedItem(ctx, "third", 33), kOk);
  ExpectLayout();
  EXPECT_EQ(Find("first"), 11);
  EXPECT_EQ(Find("third"), 33);
  EXPECT_EQ(Take(), before);
}

TEST_F(NamedItems, DefiningUnwindsRunningCode) {
  ctx->pc.space = kCodeArea;
  ASSERT_EQ(DefineNamedItem(ctx, "a", 1), kOk);
  EXPECT_EQ(ctx->pc.space, kNoCode);
}

}  // namespace
