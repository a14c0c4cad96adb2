// Helpers for the unit tests: calling a procedure through the ODS library with an in-process
// session, and a fresh drive root for each test.
#include "tests/unit/call_helpers.h"

#include <fstream>
#include <sstream>

#include "platform/linux/drives.h"

namespace dunmarrow::test {

void DriveRootTest::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  root_ =
      std::filesystem::temp_directory_path() / ("dunmarrow-test-" + std::to_string(::getpid()) +
                                                "-" + info->test_suite_name() + "-" + info->name());
  std::filesystem::remove_all(root_);
  c_drive_ = root_ / "c";
  std::filesystem::create_directories(c_drive_);
  winplatform::SetDriveRoot(root_.string());
}

void DriveRootTest::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string DriveRootTest::ReadLog() const {
  std::ifstream in(c_drive_ / "Wexcombe.log", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace dunmarrow::test
