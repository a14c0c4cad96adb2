// The unit tests run with a temporary directory of their own (TMPDIR), which is also their
// current directory, removed at the end: the temporary files the procedures create, and the
// files that calls with relative names create, never pile up anywhere else.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

class PrivateTempDir : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* original = getenv("TMPDIR");
    if (original) original_ = original, had_original_ = true;
    dir_ = std::filesystem::temp_directory_path() / ("dunmarrow-unit-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    setenv("TMPDIR", dir_.c_str(), 1);
    original_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::current_path(original_cwd_, ignored);
    if (had_original_) {
      setenv("TMPDIR", original_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    std::filesystem::remove_all(dir_, ignored);
  }

 private:
  std::filesystem::path dir_;
  std::filesystem::path original_cwd_;
  std::string original_;
  bool had_original_ = false;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new PrivateTempDir);

}  // namespace
