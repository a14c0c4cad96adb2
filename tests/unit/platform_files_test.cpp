// The Linux stand-ins for the kernel32 file functions: find, file information, delete, copy,
// share modes (also between processes) and the drive mask.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/windows.h"
#include "tests/unit/call_helpers.h"
#include "tests/unit/held_file.h"

namespace dunmarrow::test {
namespace {

class PlatformFilesTest : public DriveRootTest {
 protected:
  void SetUp() override {
    DriveRootTest::SetUp();
    std::filesystem::create_directories(c_drive_ / "dir" / "sub");
    Write("dir/b.txt", "bb");
    Write("dir/A.txt", "a");
    Write("dir/c.TXT", "ccc");
    Write("dir/readme", "12345");
  }
  void Write(const std::string& relative, const std::string& bytes) {
    std::ofstream(c_drive_ / relative, std::ios::binary) << bytes;
  }
  std::string Read(const std::string& relative) {
    std::ifstream in(c_drive_ / relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The first entry's name, or "error N".
  static std::string First(const char* path, WIN32_FIND_DATAA* data = nullptr) {
    WIN32_FIND_DATAA local;
    if (!data) data = &local;
    SetLastError(0);
    HANDLE search = FindFirstFileA(path, data);
    if (search == INVALID_HANDLE_VALUE) return "error " + std::to_string(GetLastError());
    EXPECT_TRUE(FindClose(search));
    return data->cFileName;
  }
  static std::string ErrorOf(BOOL ok) {
    return ok ? "ok" : "error " + std::to_string(GetLastError());
  }
};

TEST_F(PlatformFilesTest, FindGivesTheEntryOfAPathWithoutWildcards) {
  WIN32_FIND_DATAA data;
  EXPECT_EQ(First("c:\\dir\\readme", &data), "readme");
  EXPECT_EQ(data.nFileSizeLow, 5u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(First("c:\\dir\\sub", &data), "sub");
  EXPECT_EQ(data.nFileSizeLow, 0u);
  EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(PlatformFilesTest, FindMatchesWildcardsWithoutCaseInNameOrder) {
  EXPECT_EQ(First("c:\\dir\\*.txt"), "A.txt");
  EXPECT_EQ(First("c:\\dir\\?.TXT"), "A.txt");
  EXPECT_EQ(First("c:\\dir\\C*"), "c.TXT");
  EXPECT_EQ(First("c:\\dir\\re*"), "readme");
  EXPECT_EQ(First("c:\\dir\\readm?"), "readme");
  EXPECT_EQ(First("c:\\dir\\read?"), "error 2");  // ? is exactly one character
  EXPECT_EQ(First("c:\\dir\\*me.*"), "readme");   // ".*" also matches no extension
  // A directory's listing starts with "." and "..", a drive root's does not.
  EXPECT_EQ(First("c:\\dir\\*"), ".");
  EXPECT_EQ(First("c:\\dir\\*.*"), ".");
  EXPECT_EQ(First("c:\\*"), "dir");
  WIN32_FIND_DATAA data;
  EXPECT_EQ(First("c:\\dir\\b*", &data), "b.txt");
  EXPECT_EQ(data.nFileSizeLow, 2u);
}

TEST_F(PlatformFilesTest, FindFailsWithTheWindowsCodes) {
  EXPECT_EQ(First("c:\\dir\\readme\\"), "error 2");  // a trailing separator always fails
  EXPECT_EQ(First("c:\\dir\\"), "error 2");
  EXPECT_EQ(First("c:\\"), "error 2");
  EXPECT_EQ(First("c:\\dir\\missing"), "error 2");
  EXPECT_EQ(First("c:\\dir\\zz*"), "error 2");
  EXPECT_EQ(First("c:\\nodir\\x"), "error 3");
  EXPECT_EQ(First("c:\\nodir\\*"), "error 3");
  EXPECT_EQ(First("c:\\dir\\readme\\*"), "error 267");
  EXPECT_EQ(First("c:\\dir\\readme\\x"), "error 267");
  EXPECT_EQ(First("c:\\d*\\readme"), "error 123");
  EXPECT_EQ(First(""), "error 3");
  // Characters no name holds: invalid on the way; in the last element a pattern that matches
  // nothing, as long as the directory is there.
  EXPECT_EQ(First("c:\\d|r\\readme"), "error 123");
  EXPECT_EQ(First("c:\\dir\\a<b"), "error 2");
  EXPECT_EQ(First("c:\\dir\\*|*"), "error 2");
  EXPECT_EQ(First("c:\\nodir\\a\"b"), "error 3");
  EXPECT_EQ(First("c:\\dir\\readme\\a>b"), "error 267");
}

TEST_F(PlatformFilesTest, FindWideReadsNamesOutsideAnsi) {
  Write("dir/\xD0\xB6.txt", "xyz");  // "ж.txt"
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(u"c:\\dir\\\u0416*", &data);  // upper-case Zhe
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(data.cFileName), u"\u0436.txt");
  EXPECT_EQ(data.nFileSizeLow, 3u);
  EXPECT_TRUE(FindClose(search));
  SetLastError(0);
  EXPECT_FALSE(FindClose(search));  // closed already
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(PlatformFilesTest, SizesBeyond32BitsKeepTheirHighPart) {
  std::filesystem::resize_file(c_drive_ / "dir" / "readme", (5ull << 30) + 7);  // sparse
  WIN32_FIND_DATAA data;
  First("c:\\dir\\readme", &data);
  EXPECT_EQ(data.nFileSizeHigh, 1u);
  EXPECT_EQ(data.nFileSizeLow, (1u << 30) + 7);
  HANDLE file = CreateFileA("c:\\dir\\readme", GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  BY_HANDLE_FILE_INFORMATION info;
  ASSERT_TRUE(GetFileInformationByHandle(file, &info));
  EXPECT_EQ(info.nFileSizeHigh, 1u);
  EXPECT_EQ(info.nFileSizeLow, (1u << 30) + 7);
  CloseHandle(file);
  SetLastError(0);
  EXPECT_FALSE(GetFileInformationByHandle(file, &info));  // closed
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(GetFileInformationByHandle(nullptr, &info));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(GetFileInformationByHandle(INVALID_HANDLE_VALUE, &info));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(PlatformFilesTest, DeleteFollowsTheWindowsRules) {
  SetLastError(1234);
  EXPECT_EQ(ErrorOf(DeleteFileA("c:\\dir\\readme")), "ok");
  EXPECT_EQ(GetLastError(), 1234u);  // success leaves the last error alone
  EXPECT_FALSE(std::filesystem::exists(c_drive_ / "dir" / "readme"));
  EXPECT_EQ(ErrorOf(DeleteFileA("c:\\dir\\readme")), "error 2");
  EXPECT_EQ(ErrorOf(DeleteFileA("c:\\nodir\\readme")), "error 3");
  EXPECT_EQ(ErrorOf(DeleteFileA("c:\\dir\\sub")), "error 5");
  EXPECT_EQ(ErrorOf(DeleteFileA("c:\\dir\\*.txt")), "error 123");
  EXPECT_EQ(ErrorOf(DeleteFileA("")), "error 3");
  std::filesystem::permissions(c_drive_ / "dir" / "A.txt", std::filesystem::perms::owner_read |
                                                               std::filesystem::perms::group_read);
  EXPECT_EQ(ErrorOf(DeleteFileA("c:\\dir\\A.txt")), "error 5");  // read-only, even for root
  EXPECT_TRUE(std::filesystem::exists(c_drive_ / "dir" / "A.txt"));
  EXPECT_EQ(ErrorOf(DeleteFileW(u"c:\\dir\\b.txt")), "ok");
}

TEST_F(PlatformFilesTest, DeleteRespectsDeleteSharing) {
  HANDLE held = CreateFileA("c:\\dir\\readme", GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ErrorOf(DeleteFileA("c:\\dir\\readme")), "error 32");
  CloseHandle(held);
  held = CreateFileA("c:\\dir\\readme", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(ErrorOf(DeleteFileA("c:\\dir\\readme")), "ok");
  CloseHandle(held);
}

TEST_F(PlatformFilesTest, CopyFollowsTheWindowsRules) {
  struct Case {
    const char *source, *target;
    BOOL fail_if_exists;
    std::string result;
  } cases[] = {
      {"c:\\dir\\missing", "c:\\dir\\new", FALSE, "error 2"},
      {"c:\\nodir\\x", "c:\\dir\\new", FALSE, "error 3"},
      {"c:\\dir\\readme", "c:\\dir\\b.txt", TRUE, "error 80"},
      {"c:\\dir\\readme", "c:\\nodir\\new", FALSE, "error 3"},
      {"c:\\dir\\readme", "c:\\dir\\sub", FALSE, "error 5"},
      {"c:\\dir\\readme", "c:\\dir\\sub", TRUE, "error 80"},
      {"c:\\dir\\sub", "c:\\dir\\new", FALSE, "error 5"},
      {"c:\\dir\\readme", "c:\\dir\\readme", FALSE, "error 32"},
      {"c:\\dir\\readme", "c:\\dir\\readme", TRUE, "error 80"},
      {"c:\\dir\\*", "c:\\dir\\new", FALSE, "error 123"},
      {"", "c:\\dir\\new", FALSE, "error 3"},
      {"c:\\dir\\readme", "", FALSE, "error 3"},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(ErrorOf(CopyFileA(c.source, c.target, c.fail_if_exists)), c.result)
        << c.source << " -> " << c.target;
  }
  EXPECT_FALSE(std::filesystem::exists(c_drive_ / "dir" / "new"));
  EXPECT_EQ(Read("dir/b.txt"), "bb");
  EXPECT_EQ(Read("dir/readme"), "12345");
}

TEST_F(PlatformFilesTest, CopyCarriesBytesAttributesAndWriteTime) {
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  Write("dir/big.bin", big);
  auto when =
      std::filesystem::last_write_time(c_drive_ / "dir" / "big.bin") - std::chrono::hours(30);
  std::filesystem::last_write_time(c_drive_ / "dir" / "big.bin", when);
  std::filesystem::permissions(c_drive_ / "dir" / "big.bin", std::filesystem::perms::owner_read);
  ASSERT_EQ(ErrorOf(CopyFileA("c:\\dir\\big.bin", "c:\\dir\\copy.bin", TRUE)), "ok");
  EXPECT_EQ(Read("dir/copy.bin"), big);
  EXPECT_EQ(std::filesystem::last_write_time(c_drive_ / "dir" / "copy.bin"), when);
  EXPECT_EQ(GetFileAttributesA("c:\\dir\\copy.bin"),
            FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
  // A read-only target is not replaced; a writable one is, whole.
  EXPECT_EQ(ErrorOf(CopyFileA("c:\\dir\\readme", "c:\\dir\\copy.bin", FALSE)), "error 5");
  EXPECT_EQ(ErrorOf(CopyFileA("c:\\dir\\readme", "c:\\dir\\A.txt", FALSE)), "ok");
  EXPECT_EQ(Read("dir/A.txt"), "12345");
  // Nothing but the files themselves is left in the directory.
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(c_drive_ / "dir")) {
    (void)entry;
    ++count;
  }
  EXPECT_EQ(count, 7);  // sub, A, b, c, readme, big.bin, copy.bin
}

TEST_F(PlatformFilesTest, CopyRespectsOpensOfSourceAndTarget) {
  HANDLE writer = CreateFileA("c:\\dir\\readme", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ErrorOf(CopyFileA("c:\\dir\\readme", "c:\\dir\\new", FALSE)), "error 32");
  EXPECT_EQ(ErrorOf(CopyFileA("c:\\dir\\b.txt", "c:\\dir\\readme", FALSE)), "error 32");
  CloseHandle(writer);
  HANDLE reader = CreateFileA("c:\\dir\\readme", GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(ErrorOf(CopyFileA("c:\\dir\\readme", "c:\\dir\\new", FALSE)), "ok");
  EXPECT_EQ(ErrorOf(CopyFileA("c:\\dir\\b.txt", "c:\\dir\\readme", FALSE)), "error 32");
  CloseHandle(reader);
  EXPECT_EQ(Read("dir/readme"), "12345");
}

// Whether an open with the access and share mode succeeds while another is held.
std::string Conflict(DWORD held_access, DWORD held_share, DWORD access, DWORD share) {
  HANDLE held = CreateFileA("c:\\dir\\readme", held_access, held_share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return "held open failed";
  SetLastError(0);
  HANDLE second = CreateFileA("c:\\dir\\readme", access, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  std::string result =
      second == INVALID_HANDLE_VALUE ? "error " + std::to_string(GetLastError()) : "ok";
  if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
  CloseHandle(held);
  return result;
}

TEST_F(PlatformFilesTest, ShareModesDecideBetweenOpensOfOneProcess) {
  const DWORD R = GENERIC_READ, W = GENERIC_WRITE, SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE;
  EXPECT_EQ(Conflict(R | W, SR, R, SR | SW), "ok");
  EXPECT_EQ(Conflict(R | W, SR, R, SR), "error 32");  // the new open denies the held writer
  EXPECT_EQ(Conflict(R | W, SR, W, SR | SW), "error 32");
  EXPECT_EQ(Conflict(R | W, 0, R, SR | SW), "error 32");
  EXPECT_EQ(Conflict(R, SR | SW, W, SR | SW), "ok");
  EXPECT_EQ(Conflict(R, SR, W, SR | SW), "error 32");
  EXPECT_EQ(Conflict(R | W, 0, 0, 0), "ok");  // attributes only: no conflict
  EXPECT_EQ(Conflict(0, 0, R | W, 0), "ok");
}

TEST_F(PlatformFilesTest, ShareModesHoldBetweenProcesses) {
  // The other process holds the file open for writing, others may only read.
  FileHeldByOtherProcess held("c:\\dir\\readme");
  ASSERT_TRUE(held.Opened());
  auto open = [](DWORD access, DWORD share) {
    SetLastError(0);
    HANDLE file = CreateFileA("c:\\dir\\readme", access, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "error " + std::to_string(GetLastError());
    CloseHandle(file);
    return std::string("ok");
  };
  EXPECT_EQ(open(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ), "error 32");
  EXPECT_EQ(open(GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE), "error 32");
  EXPECT_EQ(open(GENERIC_READ, FILE_SHARE_READ), "error 32");
  EXPECT_EQ(open(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE), "ok");
  EXPECT_EQ(ErrorOf(DeleteFileA("c:\\dir\\readme")), "error 32");
  EXPECT_EQ(held.Release(), 0);
  EXPECT_EQ(open(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ), "ok");
}

TEST_F(PlatformFilesTest, WriteOnlyOpensTakePartInShareModes) {
  EXPECT_EQ(
      Conflict(GENERIC_WRITE, FILE_SHARE_READ, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE),
      "error 32");
  EXPECT_EQ(
      Conflict(GENERIC_WRITE, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE),
      "ok");
}

TEST_F(PlatformFilesTest, OpeningAReadOnlyFileForWritingIsDenied) {
  std::filesystem::permissions(c_drive_ / "dir" / "readme", std::filesystem::perms::owner_read);
  SetLastError(0);
  EXPECT_EQ(CreateFileA("c:\\dir\\readme", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(PlatformFilesTest, PointerAndWritesFollowTheHandle) {
  HANDLE file = CreateFileA("c:\\dir\\readme", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(SetFilePointer(file, 2, nullptr, FILE_BEGIN), 2u);
  // Before the start: refused, and the pointer stays.
  SetLastError(0);
  EXPECT_EQ(SetFilePointer(file, -3, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  LONG high = -1;
  EXPECT_EQ(SetFilePointer(file, -6, &high, FILE_END), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 2u);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, "X", 1, &written, nullptr));
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(Read("dir/readme"), "12X45");

  // A handle opened for reading only cannot write.
  HANDLE reader = CreateFileA("c:\\dir\\readme", GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  written = 7;
  SetLastError(0);
  EXPECT_FALSE(WriteFile(reader, "Y", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(CloseHandle(reader));
  EXPECT_EQ(Read("dir/readme"), "12X45");
}

// What is not a file is refused at once with ERROR_OPEN_FAILED, never opened in a way that
// blocks (a FIFO without a writer) or read without end (/dev/zero): copies from and onto it,
// opens for reading and writing, deletes.
TEST_F(PlatformFilesTest, FifosSocketsAndDevicesAreRefusedAtOnce) {
  std::string fifo = (c_drive_ / "dir" / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  std::string socket_path = (c_drive_ / "dir" / "socket").string();
  ASSERT_EQ(mknod(socket_path.c_str(), S_IFSOCK | 0666, 0), 0);
  for (const char* path : {"c:\\dir\\fifo", "c:\\dir\\socket", "/dev/zero", "/dev/null"}) {
    SCOPED_TRACE(path);
    // (Not /dev/zero: a copy of it would fill the disk where this is not mended.)
    if (std::string(path) != "/dev/zero") {
      EXPECT_EQ(ErrorOf(CopyFileA(path, "c:\\dir\\copy", FALSE)), "error 110");
    }
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 110u);
  }
  // Those in a drive folder are not written to either.
  for (const char* path : {"c:\\dir\\fifo", "c:\\dir\\socket"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(ErrorOf(CopyFileA("c:\\dir\\b.txt", path, FALSE)), "error 110");
    for (DWORD access : {GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE}) {
      HANDLE file = CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
      EXPECT_EQ(file, INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), 110u);
    }
  }
  EXPECT_EQ(ErrorOf(DeleteFileA("c:\\dir\\fifo")), "error 110");
  EXPECT_FALSE(std::filesystem::exists(c_drive_ / "dir" / "copy"));
}

// Windows path forms without a Linux meaning: a path rooted with a backslash is on the current
// drive, c:; a UNC path names a share that does not exist; device names are no files to write.
TEST_F(PlatformFilesTest, RootedUncAndDevicePathsAreNotGuessedAt) {
  EXPECT_EQ(First("\\dir\\readme"), "readme");
  EXPECT_EQ(GetFileAttributesA("\\dir\\sub\\"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(ErrorOf(CopyFileA("\\dir\\b.txt", "\\dir\\copy.txt", TRUE)), "ok");
  EXPECT_EQ(Read("dir/copy.txt"), "bb");
  // A path starting with "/" stays a Linux path.
  EXPECT_EQ(GetFileAttributesA((c_drive_ / "dir" / "readme").string().c_str()),
            FILE_ATTRIBUTE_ARCHIVE);

  for (const char* unc : {"\\\\server\\share\\f.txt", "\\\\?\\c:\\dir\\readme", "\\/x"}) {
    SCOPED_TRACE(unc);
    EXPECT_EQ(GetFileAttributesA(unc), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), 53u);
    EXPECT_EQ(First(unc), "error 53");
    EXPECT_EQ(ErrorOf(CopyFileA("c:\\dir\\b.txt", unc, FALSE)), "error 53");
    EXPECT_EQ(ErrorOf(DeleteFileA(unc)), "error 53");
  }

  for (const char* device : {"c:\\dir\\NUL", "c:\\dir\\con.txt", "c:\\dir\\Aux",
                             "c:\\dir\\prn .log", "c:\\dir\\COM1", "c:\\dir\\lpt9.x.y"}) {
    SCOPED_TRACE(device);
    EXPECT_EQ(ErrorOf(CopyFileA("c:\\dir\\b.txt", device, FALSE)), "error 110");
    HANDLE file = CreateFileA(device, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 110u);
  }
  // Names that only begin like one are files.
  for (const char* name :
       {"c:\\dir\\COM0", "c:\\dir\\LPT10", "c:\\dir\\nullable", "c:\\dir\\x.con"}) {
    EXPECT_EQ(ErrorOf(CopyFileA("c:\\dir\\b.txt", name, FALSE)), "ok") << name;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(c_drive_ / "dir"),
                          std::filesystem::directory_iterator{}),
            10);
}

TEST_F(PlatformFilesTest, AWriteBeyondTheSizeLimitReportsFileTooLarge) {
  HANDLE file = CreateFileA("c:\\dir\\big", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  // Run in a child, whose file-size limit is one byte less than the write needs.
  pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4, 4};
    setrlimit(RLIMIT_FSIZE, &limit);
    DWORD written = 0;
    BOOL ok = WriteFile(file, "12345", 5, &written, nullptr);
    bool too_large = !ok && GetLastError() == 223;
    // A short write first (4 bytes), then the refusal: either way, 223 must come.
    if (ok && written < 5)
      too_large = !WriteFile(file, "5", 1, &written, nullptr) && GetLastError() == 223;
    _exit(too_large ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  CloseHandle(file);
}

TEST_F(PlatformFilesTest, LogicalDrivesAreTheMappedLetters) {
  EXPECT_EQ(GetLogicalDrives(), 1u << 2);
  std::filesystem::create_directories(root_ / "d");
  std::filesystem::create_directories(root_ / "z");
  std::ofstream(root_ / "e") << "a file, not a drive";
  std::filesystem::create_directories(root_ / "dd");
  EXPECT_EQ(GetLogicalDrives(), (1u << 2) | (1u << 3) | (1u << 25));
}

}  // namespace
}  // namespace dunmarrow::test
