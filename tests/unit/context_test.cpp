// The procedure context: parameter items, their views and setters, result sets and the order
// of DONE, messages and OUTPUT write-back, end to end through the ODS library.
#include "runtime/context.h"

#include <functional>

#include "runtime/failure.h"
#include "tests/unit/call_helpers.h"

namespace dunmarrow::test {
namespace {

using namespace ods::params;

// A procedure whose work is given by the test.
std::function<int(TXProc&)> work;

int TestProc(SRV_PROC* srvproc) {
  return RunContextFrame(srvproc, "xp_Test: ", work);
}

CallResult RunWork(std::vector<ods::Param> params, std::function<int(TXProc&)> body) {
  work = std::move(body);
  return Call(TestProc, std::move(params));
}

TEST(ContextTest, NoParametersEndsWithPlainDone) {
  int count = -1;
  auto result = RunWork({}, [&](TXProc& proc) {
    count = proc.Params().Count();
    EXPECT_EQ(proc.Params().Items(0), nullptr);
    EXPECT_EQ(proc.Params().Items(-1), nullptr);
    return 1;
  });
  EXPECT_EQ(count, 0);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.Transcript(), std::vector<std::string>{kDone});
}

TEST(ContextTest, EmptyTextIsNullToEveryViewAndWrittenBackAsNull) {
  auto result = RunWork({Output(VarChar("", 10))}, [](TXProc& proc) {
    TxpItem* item = proc.Params().Items(0);
    EXPECT_TRUE(item->IsNull());
    EXPECT_EQ(item->AsString(), "");
    EXPECT_EQ(item->AsInteger(), 0);
    EXPECT_EQ(item->AsFloat(), 0.0);
    EXPECT_FALSE(item->AsBoolean());
    return 1;
  });
  EXPECT_EQ(result.Transcript(), (std::vector<std::string>{kDone, "paramset 1 NULL"}));
}

TEST(ContextTest, OutputWriteBackConvertsAndCutsToTheParameter) {
  struct Case {
    ods::Param param;
    std::function<void(TxpItem*)> set;
    std::string written;
  } cases[] = {
      // nvarchar(10) set with 4 characters of 8-bit text: 8 bytes of UTF-16.
      {NVarChar(u"", 10), [](TxpItem* i) { i->SetAsString("abcd"); }, "0x6100620063006400"},
      // varchar(5) set with 10 characters: its first 5 bytes.
      {VarChar("x", 5), [](TxpItem* i) { i->SetAsString("abcdefghij"); }, "0x6162636465"},
      // varchar(5) set with 16-bit text: converted, then cut to 5 bytes.
      {VarChar("x", 5), [](TxpItem* i) { i->SetAsWideString(u"abcdefghij"); }, "0x6162636465"},
      // nvarchar(3) set with 16-bit text: 3 units.
      {NVarChar(u"x", 3), [](TxpItem* i) { i->SetAsWideString(u"abcdef"); }, "0x610062006300"},
      // varchar(4) with "aé€": the euro sign (3 bytes) does not fit and is not cut in half.
      {VarChar("x", 4), [](TxpItem* i) { i->SetAsWideString(u"a\u00E9\u20AC"); }, "0x61C3A9"},
      // nvarchar(2) with a character outside the BMP after "a": the pair is not cut.
      {NVarChar(u"x", 2), [](TxpItem* i) { i->SetAsString("a\xF0\x9F\x98\x80"); }, "0x6100"},
      {Int(0), [](TxpItem* i) { i->SetAsInteger(-2); }, "0xFEFFFFFF"},
      {Money(0), [](TxpItem* i) { i->SetAsCurrency(15000); }, "0x00000000983A0000"},
  };
  for (auto& c : cases) {
    auto result = RunWork({Output(c.param)}, [&](TXProc& proc) {
      c.set(proc.Params().Items(0));
      return 1;
    });
    EXPECT_EQ(result.Transcript(),
              (std::vector<std::string>{kDone, "paramsetoutput 1 " + c.written}));
  }
}

TEST(ContextTest, BlobAndMemoOutputsKeepTheServerValue) {
  auto result = RunWork({Output(VarBinary({1}, 4)), Output(VarChar("a", 4))}, [](TXProc& proc) {
    proc.Params().Items(0)->SetData("xy", 2, dkBlob);
    proc.Params().Items(1)->SetAsMemo("memo");
    return 1;
  });
  EXPECT_EQ(result.Transcript(), std::vector<std::string>{kDone});
}

TEST(ContextTest, ViewsWidenShortValuesWithoutReadingPastThem) {
  RunWork({TinyInt(255), SmallInt(-2), Real(-1.5f), SmallMoney(-1), BigInt(-5000000000LL),
           Bit(true), Int(7), Decimal(12.34, 10, 2), Money(-15000)},
          [](TXProc& proc) {
            auto& p = proc.Params();
            EXPECT_EQ(p.Items(0)->AsInteger(), 255);
            EXPECT_EQ(p.Items(1)->AsInteger(), -2);
            EXPECT_EQ(p.Items(2)->AsFloat(), -1.5);
            EXPECT_EQ(p.Items(3)->AsCurrency(), -1);
            EXPECT_EQ(p.Items(4)->AsFloat(), -5000000000.0);
            EXPECT_EQ(p.Items(5)->AsString(), "True");
            EXPECT_EQ(p.Items(5)->AsWideString(), u"True");
            EXPECT_EQ(p.Items(6)->AsString(), "");
            EXPECT_NE(p.Items(6)->AsFloat(), 7.0);  // the bytes of an int are no double
            EXPECT_DOUBLE_EQ(p.Items(7)->AsFloat(), 12.34);
            EXPECT_EQ(p.Items(8)->AsCurrency(), -15000);
            EXPECT_EQ(p.Items(7)->Kind(), dkBCD);
            return 1;
          });
}

TEST(ContextTest, NamesPositionsAndLookup) {
  RunWork({VarChar("a"), Named("@MinTime", Int(5)), Int(3)}, [](TXProc& proc) {
    auto& p = proc.Params();
    EXPECT_EQ(p.Items(0)->DisplayName(), "1");
    EXPECT_EQ(p.Items(2)->DisplayName(), "3");
    EXPECT_EQ(p.ItemByName("@mintime"), p.Items(1));
    EXPECT_EQ(p.ItemByName("3"), p.Items(2));
    EXPECT_EQ(p.ItemByName("@Other"), nullptr);
    EXPECT_EQ(p.IndexOf(p.Items(1)), 1);
    return 1;
  });
}

TEST(ContextTest, SettersFixKindAndEmptyValuesAreNull) {
  RunWork({}, [](TXProc& proc) {
    TxpItem* item = proc.Fields().Items(0);
    item->SetAsString("");
    EXPECT_TRUE(item->IsNull());
    EXPECT_EQ(item->Kind(), dkString);
    EXPECT_EQ(item->Data(), nullptr);
    item->SetAsBCD(3.25);
    EXPECT_EQ(item->DataLen(), 19u);
    EXPECT_DOUBLE_EQ(item->AsFloat(), 3.25);
    item->SetAsDateTime(2.5);
    EXPECT_EQ(item->AsBytes(), (ByteString{0, 0, 0, 0, 0x00, 0xC1, 0xC5, 0x00}));
    EXPECT_THROW(item->SetAsDateTime(1e12), Exception);
    EXPECT_EQ(item->Kind(), dkDateTime);
    EXPECT_TRUE(item->IsNull());
    proc.Fields().Clear();
    return 1;
  });
}

TEST(ContextTest, EffectiveSizeByKindAndSize) {
  RunWork({VarChar("abc", 30)}, [](TXProc& proc) {
    TxpItem* param = proc.Params().Items(0);
    EXPECT_EQ(param->EffectiveSize(), 0u);  // a parameter's is its Size
    auto& f = proc.Fields();
    struct Case {
      TxpDataKind kind;
      uint32_t size, expected;
    } cases[] = {{dkString, 0, 8000},     {dkString, 70, 70},  {dkString, 9000, 8000},
                 {dkWideString, 0, 4000}, {dkBytes, 0, 8000},  {dkBlob, 0, 2147483647},
                 {dkMemo, 100, 100},      {dkInteger, 100, 4}, {dkGuid, 0, 16}};
    for (const auto& c : cases) {
      TxpItem* column = f.DefineField(0, c.kind, "c");
      column->SetSize(c.size);
      static const uint8_t guid[16] = {};
      if (c.kind == dkInteger) column->SetAsInteger(1);
      if (c.kind == dkGuid) column->SetAsGuid(guid);
      EXPECT_EQ(column->EffectiveSize(), c.expected) << int(c.kind) << " " << c.size;
    }
    f.Clear();
    return 1;
  });
}

TEST(ContextTest, ResultSetDescribesOnceAndEndsWithCountedDone) {
  auto result = RunWork({}, [](TXProc& proc) {
    auto& f = proc.Fields();
    f.DefineField(0, dkString, "Address")->SetSize(70);
    f.DefineField(1, dkInteger, "Time");
    f.DefineField(2, dkInteger, "");
    f.Items(0)->SetAsString(std::string(40, 'a'));
    f.Items(1)->SetAsInteger(10);
    f.SendRow();
    f.Items(1)->SetAsInteger(20);  // address left NULL in the second row
    f.Items(2)->SetAsInteger(64);
    f.SendRow();
    return 1;
  });
  std::string address = "0x";
  for (int i = 0; i < 35; ++i) address += "6100";
  std::string shown = address.substr(0, 2 + 128) + "... (70 bytes)";
  EXPECT_EQ(result.Transcript(),
            (std::vector<std::string>{
                "describe 1 \"Address\" type=0xE7 len=70 srctype=0xE7 srclen=0",
                "describe 2 \"Time\" type=0x26 len=4 srctype=0x26 srclen=0",
                "describe 3 \"3\" type=0x26 len=4 srctype=0x26 srclen=0", "setcollen 1 70",
                "setcoldata 1 " + shown, "setcollen 2 4", "setcoldata 2 0x0A000000",
                "setcollen 3 0", "setcoldata 3 none", "sendrow " + shown + " 0x0A000000 NULL",
                "setcollen 1 0", "setcoldata 1 none", "setcollen 2 4", "setcoldata 2 0x14000000",
                "setcollen 3 4", "setcoldata 3 0x40000000", "sendrow NULL 0x14000000 0x40000000",
                "senddone status=0x0011 info=0 count=2"}));
}

TEST(ContextTest, BlobColumnCarriesItsWholeValue) {
  auto result = RunWork({}, [](TXProc& proc) {
    auto& f = proc.Fields();
    f.DefineField(0, dkBlob, "Data");
    ByteString big(100000, 0x5A);
    f.Items(0)->SetData(big.data(), static_cast<uint32_t>(big.size()), dkBlob);
    f.SendDone();
    return 1;
  });
  auto lines = result.Transcript();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "describe 1 \"Data\" type=0x22 len=2147483647 srctype=0x22 srclen=0");
  EXPECT_EQ(lines[1], "setcollen 1 100000");
  EXPECT_EQ(result.events[3].row.at(0)->size(), 100000u);
  EXPECT_EQ(lines[4], "senddone status=0x0011 info=0 count=1");
  EXPECT_EQ(lines[5], kDone);  // the context's own DONE after SendDone
}

TEST(ContextTest, SendDoneWithoutColumnsSendsNothing) {
  auto result = RunWork({}, [](TXProc& proc) {
    proc.Fields().SendDone();
    return 1;
  });
  EXPECT_EQ(result.Transcript(), std::vector<std::string>{kDone});
}

TEST(ContextTest, ValuesSetButNotSentAreDroppedAtTheEnd) {
  auto result = RunWork({}, [](TXProc& proc) {
    proc.Fields().DefineField(0, dkInteger, "n")->SetAsInteger(1);
    return 1;
  });
  EXPECT_EQ(result.Transcript(), std::vector<std::string>{kDone});
}

TEST(ContextTest, FailureSendsDoneThenOutputsThenReport) {
  auto result = RunWork({Output(Int(1))}, [](TXProc& proc) -> int {
    proc.Fields().DefineField(0, dkInteger, "n");
    proc.Params().Items(0)->SetAsInteger(9);
    RaiseRangeError();
  });
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.Transcript(),
            (std::vector<std::string>{
                kDone, "paramsetoutput 1 0x09000000",
                "sendmsg type=1 number=0 severity=0 state=0 line=0 \"xp_Test: Range check error "
                "(Runtime Addr: $XXXXXXXX)\""}));
}

TEST(ContextTest, FailureAfterRowsEndsWithTheirCount) {
  auto result = RunWork({}, [](TXProc& proc) -> int {
    proc.Fields().DefineField(0, dkInteger, "n")->SetAsInteger(1);
    proc.Fields().SendRow();
    RaiseOverflow();
  });
  auto lines = result.Transcript();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[4], "senddone status=0x0011 info=0 count=1");
  EXPECT_NE(lines[5].find("xp_Test: Integer overflow"), std::string::npos);
}

TEST(ContextTest, SendMessageIsAnErrorMessageOnLineOne) {
  auto result = RunWork({}, [](TXProc& proc) {
    proc.SendMessage("xp_Test: no such host", 50000, 11, 1);
    EXPECT_THROW(proc.SendMessage("x", 1, 256, 1), Exception);
    EXPECT_THROW(proc.SendMessage("x", 1, -1, 1), Exception);
    return -1;
  });
  EXPECT_EQ(result.Transcript(),
            (std::vector<std::string>{
                "sendmsg type=2 number=50000 severity=11 state=1 line=1 \"xp_Test: no such host\"",
                kDone}));
}

TEST(ContextTest, LongValuesAreReadWhole) {
  std::string long_text(20000, 'q');
  long_text.back() = 'z';
  size_t length = 0;
  char last = 0;
  RunWork({VarCharMax(long_text), NVarCharMax(std::u16string(9000, u'w'))}, [&](TXProc& proc) {
    std::string text = proc.Params().Items(0)->AsString();
    length = text.size();
    last = text.back();
    EXPECT_EQ(proc.Params().Items(1)->AsWideString().size(), 9000u);
    return 1;
  });
  EXPECT_EQ(length, 20000u);
  EXPECT_EQ(last, 'z');
}

// Only the frame ends a call: a context that is dropped without it sends no DONE and writes
// no OUTPUT parameter back.
TEST(ContextTest, DroppingAContextSendsNothing) {
  auto result = Call(
      [](SRV_PROC* srvproc) {
        TXProc dropped(srvproc);
        dropped.Params().Items(0)->SetAsInteger(9);
        dropped.Fields().DefineField(0, dkInteger, "n")->SetAsInteger(1);
        return 7;
      },
      {Output(Int(1))});
  EXPECT_EQ(result.status, 7);
  EXPECT_EQ(result.Transcript(), std::vector<std::string>{});
}

}  // namespace
}  // namespace dunmarrow::test
