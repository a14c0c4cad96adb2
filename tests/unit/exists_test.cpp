// xp_FileExists and xp_DirExists: the diagnostic log of their failures. Their answers and
// transcripts are the SQL case tests/sql/exists.sql.
#include "tests/unit/call_helpers.h"
#include "tests/unit/procedures.h"

namespace dunmarrow::test {
namespace {

using namespace ods::params;

class ExistsTest : public DriveRootTest {};

TEST_F(ExistsTest, FailureIsLoggedWithTimestamp) {
  Call(xp_FileExists, {Int(1)});
  Call(xp_DirExists, {});
  std::string log = ReadLog();
  std::regex line(
      R"(\[[0-9]{1,2}/[0-9]{1,2}/[0-9]{4}( [0-9]{1,2}:[0-9]{2}:[0-9]{2} [AP]M)?\] )"
      R"((xp_FileExists|xp_DirExists): Invalid list of parameters\. \(Runtime Addr: \$[0-9A-F]{8}\)\r\n)");
  auto begin = std::sregex_iterator(log.begin(), log.end(), line);
  EXPECT_EQ(std::distance(begin, std::sregex_iterator()), 2) << log;
}

}  // namespace
}  // namespace dunmarrow::test
