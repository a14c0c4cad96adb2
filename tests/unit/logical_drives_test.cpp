// xp_GetLogicalDrives end to end through the ODS library: the drive letters mapped below the
// drive root.
#include "tests/unit/call_helpers.h"
#include "tests/unit/file_helpers.h"
#include "tests/unit/procedures.h"

namespace dunmarrow::test {
namespace {

using namespace ods::params;

class LogicalDrivesTest : public DriveRootTest {};

TEST_F(LogicalDrivesTest, LogicalDrivesAreTheMappedLetters) {
  auto result = Call(xp_GetLogicalDrives);
  EXPECT_EQ(result.status, 4);  // C:
  EXPECT_EQ(result.Transcript(), kPlainDone);
  std::filesystem::create_directories(root_ / "d");
  // Any parameters are accepted and ignored; OUTPUT ones go back as they came.
  result = Call(xp_GetLogicalDrives, {Int(7), Output(VarChar("x", 3))});
  EXPECT_EQ(result.status, 12);  // C: and D:
  EXPECT_EQ(result.Transcript(), (std::vector<std::string>{"senddone status=0x0001 info=0 count=0",
                                                           "paramsetoutput 2 0x78"}));
  // No drive at all: the system call has no answer, which is 0 and no failure.
  std::filesystem::remove_all(root_);
  result = Call(xp_GetLogicalDrives);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.Transcript(), kPlainDone);
}

}  // namespace
}  // namespace dunmarrow::test
