// What a server host sets in the platform layer: the allowed roots every file function checks
// before touching a path, the user GetUserNameW answers per thread, and the buffer cap the job
// query answers.
#include "platform/linux/server_policy.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "platform/windows.h"
#include "tests/unit/call_helpers.h"
#include "tests/unit/file_helpers.h"

namespace dunmarrow::test {
namespace {

namespace fs = std::filesystem;

// Drive C: holds data\ (the allowed root) and secret\ (outside it); data\out is a symbolic
// link to secret, data\dangling one to a file not yet in secret.
class AllowedRootsTest : public DriveRootTest {
 protected:
  void SetUp() override {
    DriveRootTest::SetUp();
    fs::create_directories(c_drive_ / "data");
    fs::create_directories(c_drive_ / "secret");
    WriteBytes(c_drive_ / "data" / "in.txt", "in");
    WriteBytes(c_drive_ / "secret" / "s.txt", "secret");
    fs::create_directory_symlink(c_drive_ / "secret", c_drive_ / "data" / "out");
    fs::create_symlink(c_drive_ / "secret" / "made.txt", c_drive_ / "data" / "dangling");
    winplatform::SetAllowedRoots({(c_drive_ / "data").string()});
  }
  void TearDown() override {
    winplatform::SetAllowedRoots({});
    DriveRootTest::TearDown();
  }
  static bool Denied(DWORD attributes) {
    return attributes == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_ACCESS_DENIED;
  }
  static HANDLE Create(const char* path, DWORD disposition) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
};

TEST_F(AllowedRootsTest, PathsInsideTheRootWork) {
  EXPECT_NE(GetFileAttributesA("c:\\data\\in.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA("C:\\DATA\\IN.TXT"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA("c:\\data\\out\\..\\in.txt"), INVALID_FILE_ATTRIBUTES);
  HANDLE file = Create("c:\\data\\new.txt", CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_TRUE(DeleteFileA("c:\\data\\new.txt"));
  EXPECT_EQ(GetFileAttributesA("c:\\data\\no\\such.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);  // not there: the usual answer
}

TEST_F(AllowedRootsTest, ParentStepsOutOfTheRootAreDenied) {
  EXPECT_TRUE(Denied(GetFileAttributesA("c:\\data\\..\\secret\\s.txt")));
  EXPECT_TRUE(Denied(GetFileAttributesA("c:\\data\\..\\secret\\nothing.txt")));
  EXPECT_TRUE(Denied(GetFileAttributesA("c:\\")));
  EXPECT_TRUE(Denied(GetFileAttributesA("/etc/passwd")));
  std::string relative(fs::relative(c_drive_ / "secret" / "s.txt").string());
  EXPECT_TRUE(Denied(GetFileAttributesA(relative.c_str())));
  EXPECT_FALSE(DeleteFileA("c:\\data\\..\\secret\\s.txt"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(fs::exists(c_drive_ / "secret" / "s.txt"));
}

TEST_F(AllowedRootsTest, SymbolicLinksOutOfTheRootAreDenied) {
  EXPECT_TRUE(Denied(GetFileAttributesA("c:\\data\\out\\s.txt")));
  EXPECT_TRUE(Denied(GetFileAttributesA("c:\\data\\out")));
  EXPECT_EQ(Create("c:\\data\\out\\made.txt", CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Create("c:\\data\\dangling", CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(fs::exists(c_drive_ / "secret" / "made.txt"));
  EXPECT_FALSE(CopyFileA("c:\\data\\out\\s.txt", "c:\\data\\copy.txt", FALSE));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(CopyFileA("c:\\data\\in.txt", "c:\\data\\out\\copy.txt", FALSE));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  WIN32_FIND_DATAA found;
  EXPECT_EQ(FindFirstFileA("c:\\data\\out\\*", &found), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  char name[MAX_PATH];
  EXPECT_EQ(GetTempFileNameA("c:\\data\\out", "x", 0, name), 0u);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  char value[16];
  GetPrivateProfileStringA("s", "k", "none", value, sizeof value, "c:\\data\\out\\a.ini");
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "v", "c:\\data\\out\\a.ini"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(std::distance(fs::directory_iterator(c_drive_ / "secret"), {}), 1);
}

TEST_F(AllowedRootsTest, TheDiagnosticLogIsStillWritten) {
  HANDLE log = CreateFileA("c:\\Wexcombe.log", GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(log, INVALID_HANDLE_VALUE);
  CloseHandle(log);
  EXPECT_TRUE(Denied(GetFileAttributesA("c:\\Wexcombe.txt")));
}

std::u16string UserName() {
  WCHAR name[300];
  DWORD size = 300;
  if (!GetUserNameW(name, &size)) return u"<failed>";
  return std::u16string(name, size - 1);
}

TEST(ThreadUserTest, GetUserNameAnswersEachThreadsUser) {
  std::u16string own = UserName();
  EXPECT_FALSE(own.empty());
  std::u16string first, second;
  std::thread a([&] {
    winplatform::SetThreadUser("alice");
    first = UserName();
  });
  std::thread b([&] {
    winplatform::SetThreadUser("b\xC3\xB6rje");
    second = UserName();
  });
  a.join(), b.join();
  EXPECT_EQ(first, u"alice");
  EXPECT_EQ(second, u"b\u00F6rje");
  EXPECT_EQ(UserName(), own);

  WCHAR small[2];
  DWORD size = 2;
  winplatform::SetThreadUser("alice");
  EXPECT_FALSE(GetUserNameW(small, &size));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, 6u);
  winplatform::SetThreadUser("");
}

TEST(BufferLimitTest, TheJobQueryAnswersTheLimit) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION info;
  ASSERT_TRUE(QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &info,
                                        sizeof info, nullptr));
  EXPECT_EQ(info.BasicLimitInformation.LimitFlags & JOB_OBJECT_LIMIT_JOB_MEMORY, 0u);
  winplatform::SetUserBufferLimit(4096);
  ASSERT_TRUE(QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &info,
                                        sizeof info, nullptr));
  EXPECT_NE(info.BasicLimitInformation.LimitFlags & JOB_OBJECT_LIMIT_JOB_MEMORY, 0u);
  EXPECT_EQ(info.JobMemoryLimit, 4096u);
  winplatform::SetUserBufferLimit(0);
}

}  // namespace
}  // namespace dunmarrow::test
