// Our ODS library answers the module's calls as the server does.
#include <cstring>
#include <functional>

#include "ods/numeric.h"
#include "tests/unit/call_helpers.h"

namespace dunmarrow::test {
namespace {

using namespace ods::params;

std::function<void(SRV_PROC*)> body;
int BodyProc(SRV_PROC* srvproc) {
  body(srvproc);
  return 0;
}
CallResult RunBody(std::vector<ods::Param> params, std::function<void(SRV_PROC*)> b) {
  body = std::move(b);
  return Call(BodyProc, std::move(params));
}

TEST(OdsTest, ParameterInformation) {
  RunBody({NVarChar(u"abc", 10), Named("@Out", Output(Null(SRVINTN, 4)))}, [](SRV_PROC* p) {
    EXPECT_EQ(srv_rpcparams(p), 2);
    uint8_t type = 0;
    uint32_t max = 0, actual = 0;
    int32_t is_null = -1;
    // A null data pointer only reports the lengths.
    EXPECT_EQ(srv_paraminfo(p, 1, &type, &max, &actual, nullptr, &is_null), SRV_SUCCEED);
    EXPECT_EQ(type, 0xE7);
    EXPECT_EQ(max, 20u);
    EXPECT_EQ(actual, 6u);
    EXPECT_EQ(is_null, 0);
    EXPECT_EQ(srv_paraminfo(p, 2, &type, &max, &actual, nullptr, &is_null), SRV_SUCCEED);
    EXPECT_EQ(is_null, 1);
    EXPECT_EQ(actual, 0u);
    EXPECT_EQ(srv_paraminfo(p, 3, &type, &max, &actual, nullptr, &is_null), SRV_FAIL);
    EXPECT_EQ(srv_paraminfo(p, 0, &type, &max, &actual, nullptr, &is_null), SRV_FAIL);
    int length = -5;
    EXPECT_STREQ(srv_paramname(p, 1, &length), "");
    EXPECT_EQ(length, 0);
    EXPECT_STREQ(srv_paramname(p, 2, &length), "@Out");
    EXPECT_EQ(length, 4);
    EXPECT_EQ(srv_paramname(p, 3, &length), nullptr);
    EXPECT_EQ(length, -1);
    EXPECT_EQ(srv_paramstatus(p, 1), 0);
    EXPECT_EQ(srv_paramstatus(p, 2), 1);
    EXPECT_EQ(srv_paramstatus(p, 9), -1);
  });
}

TEST(OdsTest, OutputValuesOnlyForOutputParameters) {
  auto result = RunBody({Int(1), Output(Int(2))}, [](SRV_PROC* p) {
    int32_t value = 7;
    EXPECT_EQ(srv_paramsetoutput(p, 1, reinterpret_cast<uint8_t*>(&value), 4, 0), SRV_FAIL);
    EXPECT_EQ(srv_paramsetoutput(p, 2, reinterpret_cast<uint8_t*>(&value), 4, 1), SRV_FAIL);
    EXPECT_EQ(srv_paramsetoutput(p, 2, reinterpret_cast<uint8_t*>(&value), 4, 0), SRV_SUCCEED);
    EXPECT_EQ(srv_paramset(p, 2, nullptr, 0), SRV_SUCCEED);
  });
  EXPECT_EQ(result.Transcript(),
            (std::vector<std::string>{"paramsetoutput 2 0x07000000", "paramset 2 NULL"}));
}

TEST(OdsTest, ColumnsAreDescribedInOrderBeforeTheFirstRow) {
  auto result = RunBody({}, [](SRV_PROC* p) {
    char name[] = "A";
    EXPECT_EQ(srv_describe(p, 2, name, SRV_NULLTERM, SRVINTN, 4, SRVINTN, 0, nullptr), 0);
    EXPECT_EQ(srv_describe(p, 1, name, SRV_NULLTERM, SRVINTN, 4, SRVINTN, 0, nullptr), 1);
    int32_t value = 5;
    EXPECT_EQ(srv_setcollen(p, 1, 5), SRV_FAIL);  // longer than described
    EXPECT_EQ(srv_setcoldata(p, 1, &value), SRV_SUCCEED);
    EXPECT_EQ(srv_sendrow(p), SRV_SUCCEED);
    EXPECT_EQ(srv_describe(p, 2, name, SRV_NULLTERM, SRVINTN, 4, SRVINTN, 0, nullptr), 0);
    srv_senddone(p, SRV_DONE_COUNT | SRV_DONE_MORE, 0, 1);
    EXPECT_EQ(srv_sendrow(p), SRV_FAIL);  // no columns after the DONE
  });
  EXPECT_EQ(result.Transcript(),
            (std::vector<std::string>{"describe 1 \"A\" type=0x26 len=4 srctype=0x26 srclen=0",
                                      "setcoldata 1 0x05000000", "sendrow 0x05000000",
                                      "senddone status=0x0011 info=0 count=1"}));
}

TEST(OdsTest, ConvertsBetweenNumericAndFloat) {
  RunBody({}, [](SRV_PROC* p) {
    for (double value : {0.0, 1.5, -12.34, 123456789.0123, 1e20}) {
      uint8_t numeric[19] = {38, 10};
      EXPECT_EQ(srv_convert(p, SRVFLTN, &value, 8, SRVNUMERICN, numeric, 19), 19);
      double back = 0;
      EXPECT_EQ(srv_convert(p, SRVNUMERICN, numeric, 19, SRVFLTN, &back, 8), 8);
      EXPECT_DOUBLE_EQ(back, value);
    }
    uint8_t numeric[19] = {38, 2};
    double value = -1.5;
    srv_convert(p, SRVFLTN, &value, 8, SRVNUMERICN, numeric, 19);
    EXPECT_EQ(numeric[2], 0);    // negative
    EXPECT_EQ(numeric[3], 150);  // 1.50 at scale 2
    double too_big = 1e40;
    EXPECT_EQ(srv_convert(p, SRVFLTN, &too_big, 8, SRVNUMERICN, numeric, 19), -1);
    EXPECT_EQ(srv_convert(p, SRVINT4, &value, 4, SRVNUMERICN, numeric, 19), -1);
  });
}

}  // namespace
}  // namespace dunmarrow::test
