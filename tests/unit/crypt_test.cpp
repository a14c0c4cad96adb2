// The hash and encryption procedures end to end through the ODS library: digests and their
// forms, comparisons, round trips, the password's reach into the key, and every failure.
#include "tests/unit/crypt_helpers.h"
#include "tests/unit/procedures.h"

namespace dunmarrow::test {
namespace {

using namespace ods::params;

const std::string kAbcHex = "a9993e364706816aba3e25717850c26c9cd0d89d";

std::vector<std::string> Stored(int n, const std::string& bytes) {
  return {kDone, "paramsetoutput " + std::to_string(n) + " " + Hex(bytes)};
}

class CryptProcTest : public CryptTest {
 protected:
  // The bytes a successful call wrote into parameter 4, after checking the transcript.
  static std::string Run(ods::ProcEntry proc, const ods::Param& algorithm,
                         const ods::Param& password, const ods::Param& source) {
    CallResult result = Call(proc, {algorithm, password, source, Output(VarBinaryMax({}))});
    EXPECT_EQ(result.status, 1);
    if (result.events.size() != 2 || result.events[1].kind != ods::EventKind::ParamSetOutput) {
      ADD_FAILURE() << "transcript: " << ::testing::PrintToString(result.Transcript());
      return "<none>";
    }
    return std::string(result.events[1].data.begin(), result.events[1].data.end());
  }
  static std::string Encode(const std::string& algorithm, const ods::Param& password,
                            const std::string& source) {
    return Run(xp_symmetric_quick_encode, VarChar(algorithm), password,
               VarBinaryMax(BytesOf(source)));
  }
  static std::string Decode(const std::string& algorithm, const ods::Param& password,
                            const std::string& cipher) {
    return Run(xp_symmetric_quick_decode, VarChar(algorithm), password,
               VarBinaryMax(BytesOf(cipher)));
  }
};

TEST_F(CryptProcTest, ShaQuickStoresTheDigestInTheChosenForm) {
  CallResult result = Call(xp_sha_quick, {VarChar("abc"), Output(VarChar("", 40))});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.Transcript(), Stored(2, kAbcHex));
  const std::string raw = Sha1Of("abc");
  for (const ods::Param& form :
       {VarChar("bin"), VarChar("BIN"), VarChar("0"), NVarChar(u"bin"), NVarChar(u"0"), Int(0),
        Int(2), Int(-1), TinyInt(0), Null(SRVINTN, 4), VarBinary({0x00, 0x01})}) {
    result = Call(xp_sha_quick, {VarChar("abc"), Output(VarBinary({}, 20)), form});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.Transcript(), Stored(2, raw)) << "form type " << int(form.type);
  }
  for (const ods::Param& form : {VarChar("hex"), VarChar("1"), VarChar("xyz"), VarChar(""),
                                 Null(SRVBIGVARCHAR, 3), Int(1), Int(257), Bit(false), Float(0)}) {
    result = Call(xp_sha_quick, {VarChar("abc"), Output(VarChar("", 40)), form});
    EXPECT_EQ(result.Transcript(), Stored(2, kAbcHex)) << "form type " << int(form.type);
  }
}

TEST_F(CryptProcTest, ShaQuickHashesTheValueAsPassed) {
  // 16-bit text hashes its UTF-16 units; numbers and binaries their stored bytes.
  CallResult result = Call(xp_sha_quick, {NVarChar(u"abc"), Output(VarChar("", 40))});
  EXPECT_EQ(result.Transcript(), Stored(2, LowerHex(Sha1Of(std::string("a\0b\0c\0", 6)))));
  result = Call(xp_sha_quick, {Int(1), Output(VarChar("", 40))});
  EXPECT_EQ(result.Transcript(), Stored(2, LowerHex(Sha1Of(std::string("\1\0\0\0", 4)))));
  // A value beyond 8000 bytes is hashed whole.
  std::string big(20000, 'b');
  big[19999] = 'e';
  result = Call(xp_sha_quick, {VarCharMax(big), Output(VarChar("", 40))});
  EXPECT_EQ(result.Transcript(), Stored(2, LowerHex(Sha1Of(big))));
  // The output parameter's own length cuts the text; its kind decides how it is written.
  result = Call(xp_sha_quick, {VarChar("abc"), Output(VarChar("", 10))});
  EXPECT_EQ(result.Transcript(), Stored(2, kAbcHex.substr(0, 10)));
  result = Call(xp_sha_quick, {VarChar("abc"), Output(VarBinaryMax({}))});
  EXPECT_EQ(result.Transcript(), Stored(2, kAbcHex));
  // Not passed as OUTPUT: the work is done and nothing comes back.
  result = Call(xp_sha_quick, {VarChar("abc"), VarChar("", 40)});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.Transcript(), std::vector<std::string>{kDone});
}

TEST_F(CryptProcTest, EmptySourceGivesMinusOneWithoutMessage) {
  for (const ods::Param& source : {VarChar(""), Null(SRVBIGVARCHAR, 10), VarBinary({})}) {
    CallResult result = Call(xp_sha_quick, {source, Output(VarChar("old", 40))});
    EXPECT_EQ(result.status, -1);
    // The output parameter goes back with the value it came with.
    EXPECT_EQ(result.Transcript(), Stored(2, "old"));
    result = Call(xp_sha_quick_compare, {source, VarChar(kAbcHex)});
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.Transcript(), std::vector<std::string>{kDone});
  }
}

TEST_F(CryptProcTest, CompareMatchesTheDigestsLeadingBytes) {
  auto compare = [](std::vector<ods::Param> params) {
    return Call(xp_sha_quick_compare, params).status;
  };
  std::string upper = kAbcHex;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(compare({VarChar("abc"), VarChar(kAbcHex)}), 1);
  EXPECT_EQ(compare({VarChar("abc"), VarChar(upper)}), 0);
  EXPECT_EQ(compare({VarChar("abc"), VarChar(kAbcHex + "trailing")}), 1);
  EXPECT_EQ(compare({VarChar("abc"), VarChar(kAbcHex.substr(0, 39))}), 0);
  EXPECT_EQ(compare({VarChar("abd"), VarChar(kAbcHex)}), 0);
  const ods::Param raw = VarBinary(BytesOf(Sha1Of("abc")));
  EXPECT_EQ(compare({VarChar("abc"), raw, VarChar("bin")}), 1);
  EXPECT_EQ(compare({VarChar("abc"), raw, VarChar("BiN")}), 1);
  EXPECT_EQ(compare({VarChar("abc"), raw, VarChar("0")}), 1);
  EXPECT_EQ(compare({VarChar("abc"), raw, NVarChar(u"0")}), 1);
  EXPECT_EQ(compare({VarChar("abc"), raw, Int(0)}), 1);
  EXPECT_EQ(compare({VarChar("abc"), raw, Null(SRVINTN, 4)}), 1);
  EXPECT_EQ(compare({VarChar("abc"), raw}), 0);
  // The direct reading of 16-bit 'bin' does not select the raw form here.
  EXPECT_EQ(compare({VarChar("abc"), raw, NVarChar(u"bin")}), 0);
  EXPECT_EQ(compare({VarChar("abc"), VarChar(kAbcHex), NVarChar(u"bin")}), 1);
  EXPECT_EQ(compare({VarChar("abc"), VarChar(kAbcHex), VarChar("binary")}), 1);
}

TEST_F(CryptProcTest, HashFailuresCarryTheRoutineName) {
  CallResult result = Call(xp_sha_quick, {VarChar("abc")});
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.Transcript(),
            ContextFailure("xp_sha_quick: Invalid list of parameters. (_xpHashQuick)"));
  result = Call(xp_sha_quick_compare, {VarChar("a"), VarChar("b"), Int(1), Int(1)});
  EXPECT_EQ(result.Transcript(), ContextFailure("xp_sha_quick_compare: Invalid list of "
                                                "parameters. (_xpHashQuickCompare)"));
  result = Call(xp_sha_quick_compare, {VarChar("abc"), Null(SRVBIGVARCHAR, 40)});
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.Transcript(),
            ContextFailure("xp_sha_quick_compare: Range check error (_xpHashQuickCompare)"));
  // The report reaches the diagnostic log too.
  EXPECT_NE(ReadLog().find("] xp_sha_quick_compare: Range check error (_xpHashQuickCompare) "
                           "(Runtime Addr: $"),
            std::string::npos);
}

TEST_F(CryptProcTest, EachAlgorithmRoundTrips) {
  const std::string source = "The quick brown fox jumps over the lazy dog";
  for (const std::string algorithm : {"RC2", "RC4", "DES", "rc4", "Rc2", "des"}) {
    std::string cipher = Encode(algorithm, VarChar("p@ssw0rd"), source);
    EXPECT_NE(cipher, source);
    std::string upper = algorithm;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(cipher, OracleEncrypt(upper, "p@ssw0rd", source)) << algorithm;
    EXPECT_EQ(cipher.size(), upper == "RC4" ? source.size() : (source.size() / 8 + 1) * 8);
    EXPECT_EQ(Decode(algorithm, VarChar("p@ssw0rd"), cipher), source) << algorithm;
    // The same source and password give the same bytes again.
    EXPECT_EQ(Encode(algorithm, VarChar("p@ssw0rd"), source), cipher);
  }
  // Sources of every kind and length round-trip, also beyond 8000 bytes.
  std::string big(9000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  for (const std::string algorithm : {"RC2", "RC4", "DES"}) {
    std::string cipher = Encode(algorithm, VarChar("k"), big);
    EXPECT_EQ(cipher.size(), algorithm == "RC4" ? 9000u : 9008u);
    EXPECT_EQ(Decode(algorithm, VarChar("k"), cipher), big);
  }
  std::string from_int = Run(xp_symmetric_quick_encode, VarChar("RC4"), VarChar("k"), Int(258));
  EXPECT_EQ(from_int, OracleEncrypt("RC4", "k", std::string("\2\1\0\0", 4)));
}

TEST_F(CryptProcTest, OnlyThePasswordsLastBytesReachTheKey) {
  // The key is made from the MD5 hash of nothing; the password fills the IV (8 bytes) and the
  // salt (11 bytes) from its end, so passwords that share their last 11 bytes are the same key.
  const std::string tail = "-shared-end";
  ASSERT_EQ(tail.size(), 11u);
  for (const std::string algorithm : {"RC2", "RC4", "DES"}) {
    EXPECT_EQ(Encode(algorithm, VarChar("first" + tail), "message"),
              Encode(algorithm, VarChar("a much longer second" + tail), "message"));
    EXPECT_NE(Encode(algorithm, VarChar("x" + tail), "message"),
              Encode(algorithm, VarChar("x" + tail + "!"), "message"));
  }
  // 16-bit text is converted to 8-bit: the same key as the 8-bit password.
  EXPECT_EQ(Encode("RC2", NVarChar(u"Secret"), "message"),
            Encode("RC2", VarChar("Secret"), "message"));
  EXPECT_EQ(Encode("RC4", NChar(u"Secret"), "message"), Encode("RC4", Char("Secret"), "message"));
  EXPECT_NE(Encode("RC4", VarChar("Secret"), "message"),
            Encode("RC4", VarChar("secret"), "message"));
}

TEST_F(CryptProcTest, EncryptionFailuresReportUnderTheirOwnNames) {
  struct Case {
    std::vector<ods::Param> params;
    std::string message;
  };
  const ods::Param out = Output(VarBinaryMax({}));
  const std::vector<Case> cases = {
      {{VarChar("RC4"), VarChar("pw"), VarChar("src")}, "Invalid list of parameters."},
      {{VarChar(" RC4"), VarChar("pw"), VarChar("src"), out}, "Invalid algorithm (1st param)"},
      {{VarChar("RC4 "), VarChar("pw"), VarChar("src"), out}, "Invalid algorithm (1st param)"},
      {{VarChar("AES"), VarChar("pw"), VarChar("src"), out}, "Invalid algorithm (1st param)"},
      {{Null(SRVBIGVARCHAR, 3), VarChar("pw"), VarChar("src"), out},
       "Invalid algorithm (1st param)"},
      {{VarBinary(BytesOf("RC4")), VarChar("pw"), VarChar("src"), out},
       "Invalid algorithm (1st param)"},
      {{VarChar("xx"), VarChar(""), VarChar(""), out}, "Invalid algorithm (1st param)"},
      {{VarChar("RC4"), VarChar(""), VarChar("src"), out}, "Empty password (2nd param)"},
      {{VarChar("RC4"), Null(SRVBIGVARCHAR, 3), VarChar(""), out}, "Empty password (2nd param)"},
      {{VarChar("RC4"), VarChar("pw"), VarChar(""), out}, "Empty source (3rd param)"},
      {{VarChar("DES"), VarChar("pw"), VarBinary({}), out}, "Empty source (3rd param)"},
      // Passwords that are not text have no bytes for the IV or the salt.
      {{VarChar("RC2"), VarBinary({1, 2, 3}), VarChar("src"), out}, "Range check error"},
      {{VarChar("RC4"), Int(12345), VarChar("src"), out}, "Range check error"},
      {{VarChar("DES"), Int(12345), VarChar("src"), out}, "Range check error"},
  };
  for (const Case& c : cases) {
    for (bool encode : {true, false}) {
      CallResult result =
          Call(encode ? xp_symmetric_quick_encode : xp_symmetric_quick_decode, c.params);
      EXPECT_EQ(result.status, -1);
      std::string name = encode ? "xp_quick_symmetric_encode: " : "xp_quick_symmetric_decode: ";
      std::vector<std::string> expected = ContextFailure(name + c.message);
      // The OUTPUT parameter goes back as it came (NULL).
      if (c.params.size() == 4) expected.insert(expected.begin() + 1, "paramset 4 NULL");
      EXPECT_EQ(result.Transcript(), expected) << c.message;
    }
  }
}

TEST_F(CryptProcTest, DecodingDamagedCipherBytesFails) {
  const std::string bad_data =
      "xp_quick_symmetric_decode: System Error.  Code: -2146893819.\\r\\nBad Data";
  const ods::Param out = Output(VarBinaryMax(BytesOf("kept")));
  for (const std::string algorithm : {"RC2", "DES"}) {
    std::string cipher = Encode(algorithm, VarChar("pw"), "sixteen byte msg");
    ASSERT_EQ(cipher.size(), 24u);
    for (std::string damaged : {cipher.substr(0, 23), cipher.substr(0, 1), cipher + "x"}) {
      CallResult result = Call(xp_symmetric_quick_decode, {VarChar(algorithm), VarChar("pw"),
                                                           VarBinary(BytesOf(damaged)), out});
      EXPECT_EQ(result.status, -1);
      // No output parameter is changed by a failed call.
      std::vector<std::string> expected = ContextFailure(bad_data);
      expected.insert(expected.begin() + 1, "paramsetoutput 4 " + Hex("kept"));
      EXPECT_EQ(result.Transcript(), expected) << algorithm << " " << damaged.size();
    }
    // Cut off the padding block: the last block's padding is the message's own bytes.
    CallResult result =
        Call(xp_symmetric_quick_decode,
             {VarChar(algorithm), VarChar("pw"), VarBinary(BytesOf(cipher.substr(0, 16))), out});
    EXPECT_EQ(result.status, -1) << algorithm;
  }
  // RC2 keys the password's salt into the cipher: a wrong password fails the padding check
  // (or, about once in 256, yields other bytes), never the source.
  std::string rc2 = Encode("RC2", VarChar("pw"), "sixteen byte msg");
  int failed = 0;
  for (int i = 0; i < 20; ++i) {
    CallResult result =
        Call(xp_symmetric_quick_decode, {VarChar("RC2"), VarChar("wrong" + std::to_string(i)),
                                         VarBinary(BytesOf(rc2)), Output(VarBinaryMax({}))});
    if (result.status == -1) ++failed;
    if (result.status == 1) {
      EXPECT_NE(result.events[1].data, BytesOf("sixteen byte msg"));
    }
  }
  EXPECT_GE(failed, 15);
  // DES has no salt: the password is only its IV, which reaches the first block alone.
  std::string des = Encode("DES", VarChar("pw"), "sixteen byte msg");
  std::string wrong = Decode("DES", VarChar("wrong"), des);
  EXPECT_NE(wrong.substr(0, 8), "sixteen ");
  EXPECT_EQ(wrong.substr(8), "byte msg");
}

TEST_F(CryptProcTest, ResultsGoOnlyToAnOutputParameter) {
  // Not passed as OUTPUT: status 1, nothing comes back.
  CallResult result = Call(xp_symmetric_quick_encode,
                           {VarChar("RC4"), VarChar("pw"), VarChar("abc"), VarBinary({}, 10)});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.Transcript(), std::vector<std::string>{kDone});
  // A plain text consisting of padding only decodes to nothing: parameter 4 keeps its value.
  std::string only_padding = OracleEncrypt("RC2", "pw", "");
  result = Call(xp_symmetric_quick_decode,
                {VarChar("RC2"), VarChar("pw"), VarBinary(BytesOf(only_padding)),
                 Output(VarBinary(BytesOf("old"), 10))});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.Transcript(), Stored(4, "old"));
}

}  // namespace
}  // namespace dunmarrow::test
