// How the hash and encryption procedures answer in the bad-input sweep, and a sweep of their
// own over algorithm names, passwords and damaged cipher bytes.
#include "tests/unit/crypt_helpers.h"
#include "tests/unit/procedures.h"
#include "tests/unit/sweep.h"

namespace {

using dunmarrow::ods::Param;
using dunmarrow::test::SweepFrame;

// 1 when a digest was stored; -1 without a message for an empty source.
bool HashStatus(int status, const std::vector<Param>& params) {
  return status == 1 && (params.size() == 2 || params.size() == 3);
}

bool CompareStatus(int status, const std::vector<Param>& params) {
  return (status == 0 || status == 1) && (params.size() == 2 || params.size() == 3);
}

bool SymmetricStatus(int status, const std::vector<Param>& params) {
  return status == 1 && params.size() == 4;
}

}  // namespace

SWEEP_RULE("xp_sha_quick", {SweepFrame::kContext, "xp_sha_quick: ", HashStatus, {}});
SWEEP_RULE("xp_sha_quick_compare",
           {SweepFrame::kContext, "xp_sha_quick_compare: ", CompareStatus, {}});
SWEEP_RULE("xp_symmetric_quick_encode",
           {SweepFrame::kContext, "xp_quick_symmetric_encode: ", SymmetricStatus, {}});
SWEEP_RULE("xp_symmetric_quick_decode",
           {SweepFrame::kContext, "xp_quick_symmetric_decode: ", SymmetricStatus, {}});

namespace dunmarrow::test {
namespace {

using namespace ods::params;

class CryptSweepTest : public CryptTest {};

// Every combination ends in status 1 with the result in parameter 4, or in -1 with one of
// the documented messages after the DONE; never a crash, never a garbage success.
TEST_F(CryptSweepTest, EncryptionSurvivesBadAlgorithmsPasswordsAndCipherBytes) {
  const std::string cipher = OracleEncrypt("RC2", "pw", "twenty-one bytes long");
  const std::vector<Param> algorithms = {
      VarChar("RC2"), NVarChar(u"rc4"),       VarChar("DES"), VarChar(" RC4"),
      VarChar(""),    Null(SRVBIGVARCHAR, 3), Int(2),         VarBinary(BytesOf("RC2"))};
  const std::vector<Param> passwords = {VarChar("pw"),
                                        NVarChar(u"pw"),
                                        VarChar(""),
                                        Null(SRVNVARCHAR, 4),
                                        VarBinary({1, 2}),
                                        Int(7),
                                        VarCharMax(std::string(9000, 'p'))};
  const std::vector<Param> sources = {
      VarBinary(BytesOf(cipher)),                      // whole
      VarBinary(BytesOf(cipher.substr(0, 16))),        // the padding block cut off
      VarBinary(BytesOf(cipher.substr(0, 23))),        // not a multiple of the block
      VarBinary(BytesOf(cipher.substr(0, 3))),         // shorter than a block
      VarBinary(BytesOf(cipher + std::string(8, 0))),  // a zero block appended: bad padding
      VarChar(""),
      Null(SRVBIGVARBINARY, 8),
      Int(-1),
      VarBinaryMax(ods::Bytes(8001, 0x5A))};
  const std::vector<Param> outputs = {Output(VarBinaryMax({})), Output(VarChar("old", 5)),
                                      Output(NVarChar(u"old", 4)), Output(Null(SRVINTN, 4)),
                                      VarBinary({})};
  // An int OUTPUT parameter cannot take the cipher bytes: the parameter-list failure.
  const std::string known[] = {"Invalid algorithm (1st param)",
                               "Empty password (2nd param)",
                               "Empty source (3rd param)",
                               "Invalid list of parameters.",
                               "Range check error",
                               "System Error.  Code: -2146893819.\r\nBad Data"};
  int calls = 0;
  for (bool encode : {true, false}) {
    const std::string prefix =
        encode ? "xp_quick_symmetric_encode: " : "xp_quick_symmetric_decode: ";
    for (const Param& algorithm : algorithms) {
      for (const Param& password : passwords) {
        for (const Param& source : sources) {
          for (const Param& output : outputs) {
            std::vector<Param> params = {algorithm, password, source, output};
            ++calls;
            CallResult result =
                Call(encode ? xp_symmetric_quick_encode : xp_symmetric_quick_decode, params);
            const auto& events = result.events;
            ASSERT_FALSE(events.empty());
            ASSERT_EQ(ods::DescribeEvent(events[0]), "senddone status=0x0001 info=0 count=0");
            size_t messages = 0;
            for (const auto& e : events) {
              if (e.kind != ods::EventKind::SendMsg) continue;
              ++messages;
              bool documented = false;
              for (const std::string& message : known) {
                documented |= e.text.rfind(prefix + message + " (Runtime Addr: $", 0) == 0;
              }
              EXPECT_TRUE(documented) << e.text;
            }
            EXPECT_EQ(messages, result.status == -1 ? 1u : 0u);
            EXPECT_TRUE(result.status == 1 || result.status == -1);
          }
        }
      }
    }
  }
  EXPECT_EQ(calls, 2 * 8 * 7 * 9 * 5);
}

}  // namespace
}  // namespace dunmarrow::test
