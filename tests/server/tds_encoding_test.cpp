// The byte-exact encodings of the protocol's worked examples: the PRELOGIN reply, the login
// response's tokens, values of every kind in rows and parameters, and their decoding.
#include <gtest/gtest.h>

#include "memory_stream.h"
#include "server/tds/login7.h"
#include "server/tds/packet.h"
#include "server/tds/prelogin.h"
#include "server/tds/requests.h"
#include "server/tds/tokens.h"
#include "server/tds/type_decoding.h"
#include "server/tds/type_encoding.h"
#include "tds_client.h"

namespace dunmarrow::server::tds {
namespace {

using testing::Bytes;
using tsql::TypeId;
using tsql::TypeOf;
using tsql::Value;

const TdsVersion k74{TdsVersion::k74};
const TdsVersion k71{TdsVersion::k71};

Bytes Encoded(const Value& value, TdsVersion version = k74, bool in_row = true) {
  Writer out;
  WireType wire = ChooseWireType(value.type, 0, version);
  WriteValue(out, wire, value, in_row);
  return out.Bytes();
}

Bytes TypeInfo(const tsql::SqlType& type, uint32_t code_page, TdsVersion version = k74) {
  Writer out;
  WriteTypeInfo(out, ChooseWireType(type, code_page, version), version, false);
  return out.Bytes();
}

tsql::Decimal DecimalOf(const char* text) {
  return *tsql::Decimal::Parse(text);
}

TEST(TdsEncoding, PreloginReplyPacket) {
  testing::StreamPair pair;
  PacketWriter writer(pair.server, 0x33);
  writer.Send(packet::kReply, PreloginReply(encrypt::kNotSupported));
  testing::TdsClient client(pair.client);
  testing::Reply reply = client.Read();
  Bytes expected = {0x04, 0x01, 0x00, 0x2B, 0x00, 0x33, 0x01, 0x00, 0x00, 0x00, 0x1A,
                    0x00, 0x06, 0x01, 0x00, 0x20, 0x00, 0x01, 0x02, 0x00, 0x21, 0x00,
                    0x01, 0x03, 0x00, 0x22, 0x00, 0x00, 0x04, 0x00, 0x22, 0x00, 0x01,
                    0xFF, 0x10, 0x00, 0x03, 0xE8, 0x00, 0x00, 0x02, 0x00, 0x00};
  Bytes got = reply.headers[0];
  got.insert(got.end(), reply.payload.begin(), reply.payload.end());
  EXPECT_EQ(got, expected);
}

// Counts the writes that reach the stream below it.
class CountingStream : public ByteStream {
 public:
  explicit CountingStream(ByteStream& below) : below_(below) {}
  size_t Read(uint8_t* data, size_t size) override { return below_.Read(data, size); }
  void Write(const uint8_t* data, size_t size) override {
    ++writes;
    below_.Write(data, size);
  }
  bool ReadReady() override { return below_.ReadReady(); }
  void SetReadTimeout(std::chrono::milliseconds timeout) override {
    below_.SetReadTimeout(timeout);
  }
  int writes = 0;

 private:
  ByteStream& below_;
};

TEST(TdsEncoding, LargeReplyLeavesInFewWritesOfWholePackets) {
  testing::StreamPair pair;
  CountingStream counted(pair.server);
  PacketWriter writer(counted, 0x33);
  writer.SetPacketSize(4096);
  Bytes payload(64 * 1024);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
  writer.Begin(packet::kReply);
  for (size_t at = 0; at < payload.size(); at += 1000) {
    writer.Write(std::span(payload).subspan(at, std::min<size_t>(1000, payload.size() - at)));
  }
  writer.End();
  // 17 packets of at most 4096 bytes, sent 32 KiB at a time: three writes.
  EXPECT_EQ(counted.writes, 3);
  testing::TdsClient client(pair.client);
  testing::Reply reply = client.Read();
  ASSERT_EQ(reply.headers.size(), 17u);
  for (size_t i = 0; i < reply.headers.size(); ++i) {
    EXPECT_EQ(reply.headers[i][6], i + 1);                                  // PacketID
    EXPECT_EQ(reply.headers[i][1], i + 1 == reply.headers.size() ? 1 : 0);  // EOM on the last
  }
  EXPECT_EQ(reply.payload, payload);
}

TEST(TdsEncoding, LoginResponseTokens) {
  Writer out;
  WriteLoginResponse(out, k74, 4096, {kFeatureUtf8Support}, u"");
  WriteDone(out, token::kDone, 0, 0, 0, k74);
  Bytes database = {0xE3, 0x1B, 0x00, 0x01, 0x06, 'm', 0, 'a', 0, 's', 0, 't', 0, 'e', 0,
                    'r',  0,    0x06, 'm',  0,    'a', 0, 's', 0, 't', 0, 'e', 0, 'r', 0};
  Bytes collation = {0xE3, 0x08, 0x00, 0x07, 0x05, 0x09, 0x04, 0xD0, 0x00, 0x34, 0x00};
  Bytes language = {0xE3, 0x17, 0x00, 0x02, 0x0A, 'u', 0,   's', 0,   '_', 0,   'e', 0,
                    'n',  0,    'g',  0,    'l',  0,   'i', 0,   's', 0,   'h', 0,   0x00};
  Bytes packet_size = {0xE3, 0x13, 0x00, 0x04, 0x04, '4', 0, '0', 0, '9', 0,
                       '6',  0,    0x04, '4',  0,    '0', 0, '9', 0, '6', 0};
  Bytes login_ack = {0xAD, 0x32, 0x00, 0x01, 0x74, 0x00, 0x00, 0x04, 0x14};
  for (char c : std::string("Microsoft SQL Server")) {
    login_ack.push_back(static_cast<uint8_t>(c));
    login_ack.push_back(0);
  }
  login_ack.insert(login_ack.end(), {0x10, 0x00, 0x03, 0xE8});
  Bytes info_5701 = {0xAB, 0x58, 0x00, 0x45, 0x16, 0x00, 0x00, 0x02, 0x00, 0x25, 0x00};
  Bytes feature_ack = {0xAE, 0x0A, 0x01, 0x00, 0x00, 0x00, 0x00, 0xFF};
  Bytes done = {0xFD, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (const Bytes& part : {database, collation, language, packet_size, login_ack, info_5701}) {
    EXPECT_TRUE(testing::Contains(out.Bytes(), part));
  }
  Bytes tail = login_ack;
  tail.insert(tail.end(), packet_size.begin(), packet_size.end());
  tail.insert(tail.end(), feature_ack.begin(), feature_ack.end());
  tail.insert(tail.end(), done.begin(), done.end());
  EXPECT_TRUE(std::equal(tail.rbegin(), tail.rend(), out.Bytes().rbegin()));
}

TEST(TdsEncoding, FixedSizeValues) {
  EXPECT_EQ(Encoded(Value::Integer(1)), (Bytes{0x04, 0x01, 0, 0, 0}));
  EXPECT_EQ(Encoded(Value::Money(123456)),
            (Bytes{0x08, 0x00, 0x00, 0x00, 0x00, 0x40, 0xE2, 0x01, 0x00}));
  EXPECT_EQ(Encoded(Value::Money(-10000)),
            (Bytes{0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0, 0xD8, 0xFF, 0xFF}));
  tsql::DateTimeValue instant{static_cast<int32_t>(tsql::DaysFromCivil(2024, 1, 2)),
                              (3 * 3600 + 4 * 60 + 5) * tsql::kTicksPerSecond};
  EXPECT_EQ(Encoded(Value::Date(instant)),
            (Bytes{0x08, 0xEB, 0xB0, 0x00, 0x00, 0x5C, 0x8F, 0x32, 0x00}));
  EXPECT_EQ(Encoded(Value::Date(tsql::RoundToMinute(instant), TypeId::SmallDateTime)),
            (Bytes{0x04, 0xEB, 0xB0, 0xB8, 0x00}));
  EXPECT_EQ(Encoded(Value::Guid({0xFF, 0x19, 0x96, 0x6F, 0x86, 0x8B, 0x11, 0xD0, 0xB4, 0x2D, 0x00,
                                 0xC0, 0x4F, 0xC9, 0x64, 0xFF})),
            (Bytes{0x10, 0xFF, 0x19, 0x96, 0x6F, 0x86, 0x8B, 0x11, 0xD0, 0xB4, 0x2D, 0x00, 0xC0,
                   0x4F, 0xC9, 0x64, 0xFF}));
  EXPECT_EQ(Encoded(Value::Float(1.5)), (Bytes{0x08, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F}));
  EXPECT_EQ(Encoded(Value::Null(TypeOf(TypeId::Int))), (Bytes{0x00}));
}

TEST(TdsEncoding, Decimal) {
  Value v = Value::Exact(DecimalOf("123.45"), 10, TypeId::Decimal);
  EXPECT_EQ(TypeInfo(v.type, 0), (Bytes{0x6A, 0x09, 0x0A, 0x02}));
  EXPECT_EQ(Encoded(v), (Bytes{0x09, 0x01, 0x39, 0x30, 0, 0, 0, 0, 0, 0}));
  Bytes wire = {0x6A, 0x09, 0x0A, 0x02, 0x09, 0x01, 0x39, 0x30, 0, 0, 0, 0, 0, 0};
  Reader in(wire);
  Value back = ReadTypedValue(in);
  EXPECT_EQ(back.type, tsql::DecimalType(10, 2, TypeId::Decimal));
  EXPECT_EQ(back.decimal.ToString(), "123.45");
}

TEST(TdsEncoding, MaxTypesArePlpFrom72AndLobsBefore) {
  Value ab = Value::WideChars(u"ab", TypeOf(TypeId::NVarChar, tsql::kMaxLength));
  EXPECT_EQ(Encoded(ab),
            (Bytes{0x04, 0, 0, 0, 0, 0, 0, 0, 0x04, 0, 0, 0, 'a', 0, 'b', 0, 0, 0, 0, 0}));
  EXPECT_EQ(Encoded(Value::Null(ab.type)), Bytes(8, 0xFF));
  EXPECT_EQ(TypeInfo(ab.type, 0, k71),
            (Bytes{0x63, 0xFE, 0xFF, 0xFF, 0x7F, 0x09, 0x04, 0xD0, 0x00, 0x34}));
  // In a 7.1 row: a 16-byte text pointer and an 8-byte timestamp before the length.
  Bytes row = Encoded(ab, k71);
  ASSERT_EQ(row.size(), 1 + 24 + 4 + 4u);
  EXPECT_EQ(row[0], 0x10);
  EXPECT_EQ(Bytes(row.begin() + 25, row.end()), (Bytes{4, 0, 0, 0, 'a', 0, 'b', 0}));
  // As a parameter value: no text pointer.
  EXPECT_EQ(Encoded(ab, k71, false), (Bytes{4, 0, 0, 0, 'a', 0, 'b', 0}));
}

TEST(TdsEncoding, EightBitTextOutsideCodePage1252GoesAsUnicode) {
  Value v = Value::Chars("\xC3\xA9t\xC3\xA9", TypeOf(TypeId::VarChar, 10));
  EXPECT_EQ(TypeInfo(v.type, 65001), (Bytes{0xE7, 20, 0, 0x09, 0x04, 0xD0, 0x00, 0x34}));
  Writer out;
  WriteValue(out, ChooseWireType(v.type, 65001, k74), v, true);
  EXPECT_EQ(out.Bytes(), (Bytes{6, 0, 0xE9, 0, 't', 0, 0xE9, 0}));
  EXPECT_EQ(TypeInfo(v.type, 1252), (Bytes{0xA7, 10, 0, 0x09, 0x04, 0xD0, 0x00, 0x34}));
}

TEST(TdsEncoding, ColumnsAndRow) {
  // SELECT 1 AS n, N'abc' AS s
  std::vector<tsql::Column> columns = {{"n", TypeOf(TypeId::Int), false, 0},
                                       {"s", TypeOf(TypeId::NVarChar, 3), true, 0}};
  std::vector<WireType> wires = {ChooseWireType(columns[0].type, 0, k74),
                                 ChooseWireType(columns[1].type, 0, k74)};
  Writer out;
  WriteColumns(out, columns, wires, k74);
  EXPECT_EQ(out.Bytes(), (Bytes{0x81, 0x02, 0x00, 0,    0,    0,    0,    0,   0, 0x26, 0x04,
                                0x01, 'n',  0,    0,    0,    0,    0,    1,   0, 0xE7, 0x06,
                                0x00, 0x09, 0x04, 0xD0, 0x00, 0x34, 0x01, 's', 0}));
}

TEST(TdsEncoding, ReturnValue) {
  Writer out;
  WriteReturnValue(out, {1, "@o", TypeOf(TypeId::Int), 0, Value::Integer(42)}, k74);
  EXPECT_EQ(out.Bytes(), (Bytes{0xAC, 0x01, 0x00, 0x02, '@',  0x00, 'o',  0x00, 0x01, 0, 0,
                                0,    0,    0,    0,    0x26, 0x04, 0x04, 0x2A, 0,    0, 0}));
}

TEST(TdsEncoding, DoneWidths) {
  Writer wide, narrow;
  WriteDone(wide, token::kDone, done::kCount, done::kCmdSelect, 1, k74);
  WriteDone(narrow, token::kDone, done::kCount, done::kCmdSelect, 1, k71);
  EXPECT_EQ(wide.Bytes(), (Bytes{0xFD, 0x10, 0, 0xC1, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(narrow.Bytes(), (Bytes{0xFD, 0x10, 0, 0xC1, 0, 1, 0, 0, 0}));
}

TEST(TdsEncoding, LoginPasswordIsUnscrambled) {
  Login7 login = ParseLogin7(testing::TdsClient::Login7(TdsVersion::k74, u"sa", u"Passw0rd"));
  EXPECT_EQ(login.user, u"sa");
  EXPECT_EQ(login.password, u"Passw0rd");
  EXPECT_EQ(login.features, (std::vector<uint8_t>{kFeatureUtf8Support}));
  Bytes scrambled = {0xA0, 0xA5, 0xB3, 0xA5, 0x92, 0xA5, 0x92, 0xA5,
                     0xD2, 0xA5, 0xA6, 0xA5, 0x82, 0xA5, 0xE3, 0xA5};
  EXPECT_TRUE(testing::Contains(testing::TdsClient::Login7(TdsVersion::k74, u"sa", u"Passw0rd"),
                                scrambled));
}

TEST(TdsEncoding, RpcParameters) {
  // A call of foo3 with one unnamed default smallint NULL, after ALL_HEADERS.
  Bytes message = {0x16, 0,    0,    0,    0x12, 0,    0,    0,    0x02, 0,    0,    0,    0,
                   0,    0,    0,    0,    0,    1,    0,    0,    0,    0x04, 0x00, 0x66, 0x00,
                   0x6F, 0x00, 0x6F, 0x00, 0x33, 0x00, 0x00, 0x00, 0x00, 0x02, 0x26, 0x02, 0x00};
  std::vector<RpcCall> calls = ParseRpc(message, k74);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].name, "foo3");
  ASSERT_EQ(calls[0].params.size(), 1u);
  EXPECT_TRUE(calls[0].params[0].value.null);
  EXPECT_EQ(calls[0].params[0].value.type.id, TypeId::SmallInt);
}

TEST(TdsEncoding, ParameterTypesClientsSend) {
  auto read = [](Bytes bytes) {
    Reader in(bytes);
    Value v = ReadTypedValue(in);
    EXPECT_TRUE(in.AtEnd());
    return v;
  };
  // varchar in code page 1252: the engine's text is UTF-8.
  Value text = read({0xA7, 0x0A, 0x00, 0x09, 0x04, 0xD0, 0x00, 0x34, 0x02, 0x00, 0xE9, 0x80});
  EXPECT_EQ(text.text, "\xC3\xA9\xE2\x82\xAC");
  // nvarchar(max) in chunks of unknown total length, as tedious sends it.
  Value plp = read({0xE7, 0xFF, 0xFF, 0x09, 0x04, 0xD0, 0x00, 0x34, 0xFE, 0xFF, 0xFF,
                    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0,    0,    0,    'a',  0,
                    0x02, 0,    0,    0,    'b',  0,    0,    0,    0,    0});
  EXPECT_EQ(plp.wide, u"ab");
  EXPECT_TRUE(plp.type.IsMax());
  // ntext in its RPC form, as FreeTDS sends sp_executesql's statement.
  Value ntext =
      read({0x63, 0xFF, 0xFF, 0xFF, 0x7F, 0x09, 0x04, 0xD0, 0x00, 0x34, 0x02, 0, 0, 0, 'x', 0});
  EXPECT_EQ(ntext.wide, u"x");
  EXPECT_EQ(ntext.type.id, TypeId::NText);
  // datetime2(7) 2024-01-02 03:04:05.5 reaches the engine as datetime.
  uint64_t time = (3 * 3600 + 4 * 60 + 5) * 10000000ull + 5000000;
  int64_t days = tsql::DaysFromCivil(2024, 1, 2) - tsql::DaysFromCivil(1, 1, 1);
  Bytes dt2 = {0x2A, 7, 8};
  for (int i = 0; i < 5; ++i) dt2.push_back(static_cast<uint8_t>(time >> (8 * i)));
  for (int i = 0; i < 3; ++i) dt2.push_back(static_cast<uint8_t>(days >> (8 * i)));
  Value when = read(dt2);
  EXPECT_EQ(when.type.id, TypeId::DateTime);
  EXPECT_EQ(when.datetime.days, tsql::DaysFromCivil(2024, 1, 2));
  EXPECT_EQ(when.datetime.ticks, (3 * 3600 + 4 * 60 + 5) * 300u + 150u);
  EXPECT_THROW(read({0x2A, 7, 8, 0, 0, 0, 0, 0, 0, 0, 0}), RequestError);  // year 1
  // Fixed-length types and money's two halves.
  EXPECT_EQ(read({0x38, 0xFE, 0xFF, 0xFF, 0xFF}).integer, -2);
  EXPECT_EQ(read({0x6E, 0x08, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0, 0xD8, 0xFF, 0xFF}).integer,
            -10000);
  EXPECT_EQ(DeclarationsForEngine(u"@P1 DATETIME2(7),@P2 date, @time time (3)"),
            u"@P1 datetime,@P2 datetime, @time datetime");
  EXPECT_THROW(read({0x62, 0x49, 0x1F, 0, 0}), RequestError);
  EXPECT_THROW(read({0x99}), ProtocolError);
}

}  // namespace
}  // namespace dunmarrow::server::tds
