// Raising errors: message templates and their placeholders, the stored text
// with its location, identifiers, printing, and the error, warning, rethrow,
// lasterr and lasterror builtins.
#include "engine/errors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/registry.h"
#include "tests/engine/stack_fixture.h"

namespace {

class Errors : public StackFixture {
 protected:
  void SetUp() override {
    StackFixture::SetUp();
    CaptureDescriptor(2, &written);
    ASSERT_EQ(InstallNativeLibrary(ctx, kEngineMessageTables, false), kOk);
  }

  std::string Current() { return CurrentErrorText(); }
  std::string LastText(StatusCode code, bool raise) {
    char buffer[512];
    int64_t length = 0;
    GetLastErrorText(ctx, code, raise, buffer, sizeof buffer, &length);
    EXPECT_EQ(static_cast<size_t>(length), std::strlen(buffer));
    return buffer;
  }

  // A function "fun" of library "lib" running at a line, as a frame would
  // show it: store entries 1 (the library) and 2 (the function).
  void RunningIn(int32_t line, bool privateFunction = false) {
    SymbolId lib = 0, fun = 0;
    ASSERT_EQ(InternSymbol(ctx, "lib", 3, 32, &lib), kOk);
    ASSERT_EQ(InternSymbol(ctx, "fun", 3, 32, &fun), kOk);
    const int32_t library[] = {0, lib, 0, 0};
    const int32_t function[] = {fun, 1 | (privateFunction ? int32_t(0x80000000u) : 0), 0, 0};
    std::memcpy(FunctionEntryWords(ctx, 1), library, sizeof library);
    std::memcpy(FunctionEntryWords(ctx, 2), function, sizeof function);
    ctx->entriesInUse = 3;
    // A frame at the bottom of the descriptor stack, entered from the host.
    std::vector<int32_t> frame(22, 0);
    frame[2] = -1;
    frame[18] = line;
    frame[19] = 2;
    std::memcpy(ctx->descBase, frame.data(), frame.size() * sizeof(int32_t));
    ctx->descLength = 22;
    ctx->frameIndex = 0;
  }

  std::string written;
};

TEST_F(Errors, TemplatesAndPlaceholders) {
  struct Case {
    StatusCode code;
    SymbolId symbol;
    int64_t k;
    const char* t;
    const char* want;
  };
  const Case kCases[] = {
      {174, 0, 7, nullptr, "Unrecognized token 0x07"},
      {174, 0, 65, nullptr, "Unrecognized token 'A'"},
      {174, 0, 0, nullptr, "Unrecognized token 0x00"},
      {174, 0, 300, nullptr, "Unrecognized token 0x12c"},
      {174, 0, -1, nullptr, "Unrecognized token "},
      {9999, 0, -1, nullptr, "Error 9999"},
      {29, 0, 5, nullptr, "Index out of range (5) for variable "},
      {29, 0, -1, nullptr, "Index out of range for variable "},
      {121, 0, -1, "fun2(3)", "Undefined function 'fun2'"},
      {121, 0, -1, nullptr, "Undefined function "},
      {205, 0, 3, "abcdef", "Name too long 'abc'"},
      {205, 0, 0, "abcdef", "Name too long "},
      {190, 0, -1, "while", "Unbounded language construct 'while'"},
      {3, 0, -1, nullptr, "Data stack overflow"},  // a code without a detailed template
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(RaiseError(ctx, c.code, -1, c.symbol, c.k, c.t), c.code);
    EXPECT_EQ(Current(), c.want) << c.code;
    EXPECT_EQ(ctx->errorCode, c.code);
  }
  SymbolId field = 0;
  ASSERT_EQ(InternSymbol(ctx, "weight", 6, 32, &field), kOk);
  (void)RaiseError(ctx, 39, -1, field, -1, nullptr);
  EXPECT_EQ(Current(), "Undefined structure field 'weight'");
  (void)RaiseError(ctx, 39, -1, 0, -1, nullptr);
  EXPECT_EQ(Current(), "Undefined structure field ");
}

TEST_F(Errors, LocationSuffix) {
  RunningIn(7);
  (void)RaiseError(ctx, 121, -1, 0, -1, "g");
  EXPECT_EQ(Current(), "Undefined function 'g' (lib/fun;7)");
  EXPECT_EQ(ctx->errorFunction, 2);
  EXPECT_EQ(ctx->errorPosition, 7);

  RunningIn(1);
  (void)RaiseError(ctx, 121, -1, 0, -1, "g");
  EXPECT_EQ(Current(), "Undefined function 'g'") << "no suffix on line 1";

  RunningIn(12345678, true);
  (void)RaiseError(ctx, 121, -1, 0, -1, "g");
  EXPECT_EQ(Current(), "Undefined function 'g' (lib/.fun;12345678)");
  // The record holds the whole text: the next heap block starts after its NUL.
  const int32_t record = ctx->currentErrorRecord;
  const uint32_t cells = ctx->heapBase[record - 1].w[0] & kHeapCountMask;
  EXPECT_GT(int64_t{cells - 1} * 8, static_cast<int64_t>(Current().size()));

  char location[66], name[33];
  std::strcpy(ctx->failingName, "plus");
  EXPECT_EQ(GetErrorLocationText(ctx, location, sizeof location, name, sizeof name), 12345678);
  EXPECT_STREQ(location, "lib/.fun");
  EXPECT_STREQ(name, "plus");
  ctx->errorFunction = -2;
  GetErrorLocationText(ctx, location, sizeof location, nullptr, 0);
  EXPECT_STREQ(location, "(inline)");
}

TEST_F(Errors, TextsOfTheLastError) {
  EXPECT_EQ(LastText(0, true), "");
  EXPECT_EQ(LastText(43, false), "Wrong type") << "without a stored error, the table's message";
  (void)RaiseError(ctx, 29, -1, 0, 4, nullptr);
  EXPECT_EQ(ctx->lastErrorRecord, -1);
  EXPECT_EQ(LastText(29, true), "Index out of range (4) for variable ");
  EXPECT_GT(ctx->lastErrorRecord, 0) << "raising made it the last error";
  EXPECT_EQ(ctx->currentErrorRecord, -1);
  EXPECT_EQ(LastText(3, false), "Index out of range (4) for variable ");
  EXPECT_EQ(LastText(kUserError, true), "Index out of range (4) for variable ");

  // From the table, with the location and the failing operation.
  Reset();
  SetUp();
  RunningIn(9);
  ASSERT_EQ(ClearError(ctx), kOk);
  SetErrorLocation(ctx, 44, 0);
  std::strcpy(ctx->failingName, "plus");
  EXPECT_EQ(LastText(44, false), "Wrong type (lib/fun;9) 'plus'");
  GetServiceTable(ctx)->ClearError(ctx);
  EXPECT_EQ(ctx->errorCode, 0);
  EXPECT_EQ(ctx->errorFunction, -1);
  EXPECT_EQ(ctx->failingName[0], 0);
}

TEST_F(Errors, Identifiers) {
  EXPECT_EQ(FindErrorCodeByIdentifier(ctx, "RVO:", 4), 0);
  EXPECT_EQ(FindErrorCodeByIdentifier(ctx, "RVO:wrongType", 13), 43);
  EXPECT_EQ(FindErrorCodeByIdentifier(ctx, "RVO:wrongTyp", 12), 0);
  EXPECT_EQ(FindErrorCodeByIdentifier(ctx, "XYZ:wrongType", 13), 0);
  EXPECT_EQ(FindErrorCodeByIdentifier(ctx, "RVO:plotOverflow", 16), 10001) << "the second table";

  ASSERT_EQ(PushErrorIdentifier(ctx, 29), kOk);
  EXPECT_EQ(TopString(), "RVO:indexOutOfRange");
  ASSERT_EQ(PushErrorIdentifier(ctx, 0), kOk);
  EXPECT_EQ(TopString(), "");
  ASSERT_EQ(PushErrorIdentifier(ctx, 4321), kOk);
  EXPECT_EQ(TopString(), "");
  auto raise = GetServiceTable(ctx)->RaiseErrorWithIdentifier;
  const StatusCode user = raise(ctx, "my:id", -1, "boom", -1);
  EXPECT_LT(user, 0);
  EXPECT_EQ(Current(), "boom");
  ASSERT_EQ(PushErrorIdentifier(ctx, user), kOk);
  EXPECT_EQ(TopString(), "my:id");
  EXPECT_EQ(RaiseErrorWithIdentifier(ctx, "RVO:badSize", -1, nullptr, 0), 21);
  EXPECT_EQ(RaiseErrorWithIdentifier(ctx, nullptr, 0, nullptr, 0), kUserError);
}

TEST_F(Errors, PrintingWritesWholeTexts) {
  (void)RaiseError(ctx, 3, -1, 0, -1, nullptr);
  ASSERT_EQ(PrintError(ctx, 3, true), kOk);
  EXPECT_EQ(written, "Data stack overflow\n");
  EXPECT_GT(ctx->lastErrorRecord, 0);

  written.clear();
  const std::string longText(300, 'x');
  ASSERT_EQ(StoreLastErrorMessage(ctx, kUserError, longText.c_str(), -1, false, nullptr), kOk);
  ASSERT_EQ(PrintError(ctx, kUserError, true), kOk);
  EXPECT_EQ(written, longText + "\n");
  char buffer[512];
  GetLastErrorText(ctx, kUserError, false, buffer, sizeof buffer, nullptr);
  EXPECT_EQ(std::string(buffer), longText) << "stored whole as the last error";
}

TEST_F(Errors, NoScratchRoomGivesAnEmptyText) {
  FillData(0);
  EXPECT_EQ(RaiseError(ctx, 121, -1, 0, -1, "f"), 121);
  EXPECT_EQ(Current(), "");
}

TEST_F(Errors, AMessageWithoutHeapRoomFailsTheRaise) {
  // Every heap cell in use: no error record fits.
  int32_t index = 0;
  while (AllocateHeapBlock(ctx, 1, &index) == kOk) continue;
  EXPECT_EQ(RaiseErrorWithIdentifier(ctx, "RVO:badSize", -1, "too big", -1), kHeapFull);
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "RVO:badSize"), kOk);
  EXPECT_EQ(ErrorBuiltin(ctx, 1, false), kHeapFull) << "an identifier alone";
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "RVO:badSize"), kOk);
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "too big"), kOk);
  EXPECT_EQ(ErrorBuiltin(ctx, 2, false), kHeapFull) << "an identifier and a message";
}

TEST_F(Errors, ErrorAndWarningBuiltins) {
  struct Case {
    std::vector<const char*> args;
    bool warning;
    const char* message;  // stored or written; null: nothing
  };
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "RVO:badSize"), kOk);
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "too big"), kOk);
  EXPECT_EQ(ErrorBuiltin(ctx, 2, false), 21);
  EXPECT_EQ(Current(), "too big");
  EXPECT_EQ(ctx->descLength, 0) << "the arguments are gone";

  ASSERT_EQ(PushStringFromBytes(ctx, -1, "abc"), kOk);
  EXPECT_EQ(ErrorBuiltin(ctx, 1, false), kUserError);
  EXPECT_EQ(Current(), "abc");

  ASSERT_EQ(PushStringFromBytes(ctx, -1, ""), kOk);
  EXPECT_EQ(ErrorBuiltin(ctx, 1, false), kOk) << "an empty message raises nothing";

  ASSERT_EQ(PushStringFromBytes(ctx, -1, "my:id"), kOk);
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "abc"), kOk);
  const StatusCode user = ErrorBuiltin(ctx, 2, false);
  EXPECT_LT(user, 0);
  EXPECT_EQ(user, FindSymbol(ctx, "my:id", 5));
  MoveErrorToLastError(ctx);                       // as reporting or catching it does
  ASSERT_EQ(LastErrorBuiltin(ctx, 1, true), kOk);  // lasterror
  ASSERT_EQ(PushStructField(ctx, 0, "identifier", 10), kOk);
  EXPECT_EQ(TopString(), "my:id");
  PopValue(ctx);
  ASSERT_EQ(PushStructField(ctx, 0, "message", 7), kOk);
  EXPECT_EQ(TopString(), "abc");
  ctx->descLength = 0;
  ctx->dataTop = 0;

  // An identifier alone stores an empty message, never the previous text.
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "other:id"), kOk);
  EXPECT_LT(ErrorBuiltin(ctx, 1, false), 0);
  EXPECT_EQ(Current(), "");

  ASSERT_EQ(PushStringFromBytes(ctx, -1, "careful"), kOk);
  EXPECT_EQ(ErrorBuiltin(ctx, 1, true), kOk);
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "my:id"), kOk);
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "again"), kOk);
  EXPECT_EQ(ErrorBuiltin(ctx, 2, true), kOk);
  EXPECT_EQ(written, "careful\nagain\n");
  EXPECT_EQ(ctx->descLength, 0);

  // Messages are formatted as sprintf formats, a lone format too; a value
  // the format cannot take cuts the text there but the error is still raised.
  struct MessageCase {
    const char* format;
    bool withList;
    const char* want;
  };
  const MessageCase kMessages[] = {
      {"x=%d", false, "x=3"}, {"100%%", false, "100%"}, {"a%db%dc", false, "a3b"}, {"[%d] [%d]", true, "[3] ["}};
  for (const MessageCase& c : kMessages) {
    ASSERT_EQ(PushStringFromBytes(ctx, -1, c.format), kOk);
    ASSERT_EQ(PushRealScalar(ctx, 3), kOk);
    int n = 2;
    if (c.withList) {
      ASSERT_EQ(MakeListFromValues(ctx, 0, false, "", 0), kOk);
      ++n;
    }
    EXPECT_EQ(ErrorBuiltin(ctx, n, false), kUserError) << c.format;
    EXPECT_EQ(Current(), c.want) << c.format;
    EXPECT_EQ(ctx->descLength, 0) << c.format;
  }
}

TEST_F(Errors, Rethrow) {
  ASSERT_EQ(MakeListFromValues(ctx, 0, false, "", 0), kOk);
  EXPECT_EQ(RethrowBuiltin(ctx), kUndefField);

  ctx->descLength = 0;
  ctx->dataTop = 0;
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "RVO:wrongType"), kOk);
  ASSERT_EQ(MakeListFromValues(ctx, 1, false, "identifier", 10), kOk);
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "not that"), kOk);
  ASSERT_EQ(MakeListFromValues(ctx, 1, true, "message", 7), kOk);
  EXPECT_EQ(RethrowBuiltin(ctx), 43);
  EXPECT_EQ(Current(), "not that");
  EXPECT_EQ(ctx->descLength, 0);
}

TEST_F(Errors, Lasterr) {
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "RVO:badSize"), kOk);
  ASSERT_EQ(PushStringFromBytes(ctx, -1, "too big"), kOk);
  ASSERT_EQ(ErrorBuiltin(ctx, 2, false), 21);
  (void)PrintError(ctx, 21, true);
  ASSERT_EQ(LastErrorBuiltin(ctx, 2, false), kOk);
  EXPECT_EQ(TopString(), "too big") << "the message is the first output";
  PopValue(ctx);
  EXPECT_EQ(TopString(), "RVO:badSize");
}

}  // namespace
