// xp_FileSize, xp_FileDelete and xp_FileCopy end to end through the ODS library.
#include "platform/windows.h"
#include "tests/unit/call_helpers.h"
#include "tests/unit/file_helpers.h"
#include "tests/unit/procedures.h"

namespace dunmarrow::test {
namespace {

using namespace ods::params;

const char kNotFound[] = "System Error.  Code: 2.\\r\\nThe system cannot find the file specified";
const char kPathNotFound[] =
    "System Error.  Code: 3.\\r\\nThe system cannot find the path specified";
const char kAccessDenied[] = "System Error.  Code: 5.\\r\\nAccess is denied";
const char kBadHandle[] = "System Error.  Code: 6.\\r\\nThe handle is invalid";
const char kSharing[] =
    "System Error.  Code: 32.\\r\\nThe process cannot access the file because it is being used by "
    "another process";

class FileProcTest : public DriveRootTest {
 protected:
  void SetUp() override {
    DriveRootTest::SetUp();
    std::filesystem::create_directories(c_drive_ / "d" / "sub");
    WriteBytes(c_drive_ / "d" / "five.txt", "12345");
    WriteBytes(c_drive_ / "d" / "empty.txt", "");
    WriteBytes(c_drive_ / "d" / "B.log", "bb");
    WriteBytes(c_drive_ / "d" / "a.log", "a");
  }
  std::filesystem::path D(const char* name) { return c_drive_ / "d" / name; }
};

TEST_F(FileProcTest, SizeOfFilesDirectoriesAndWildcards) {
  struct Case {
    std::string path;
    int size;
  } cases[] = {
      {"c:\\d\\five.txt", 5}, {"c:\\d\\empty.txt", 0},
      {"c:\\d\\sub", 0},      {"c:\\d\\*.LOG", 1},  // the first match in name order: a.log
      {"c:\\d\\b.*", 2},
  };
  for (const auto& c : cases) {
    for (auto param : {VarChar(c.path), NVarCharUtf8(c.path)}) {
      auto result = Call(xp_FileSize, {param});
      EXPECT_EQ(result.status, c.size) << c.path;
      EXPECT_EQ(result.Transcript(), kPlainDone) << c.path;
    }
  }
  WriteBytes(D("\xD0\xB6.txt"), "xyz");  // ж.txt
  EXPECT_EQ(Call(xp_FileSize, {NVarChar(u"c:\\d\\\u0436.txt")}).status, 3);
}

TEST_F(FileProcTest, SizesThatDoNotFitTheStatusAreARangeFailure) {
  std::filesystem::resize_file(D("five.txt"), 2147483647);  // sparse
  EXPECT_EQ(Call(xp_FileSize, {VarChar("c:\\d\\five.txt")}).status, 2147483647);
  // 2 GiB, 4 GiB and 4 GiB + 5: the whole 64-bit size is read, never its low part alone.
  for (uint64_t size : {1ull << 31, 1ull << 32, (1ull << 32) + 5}) {
    std::filesystem::resize_file(D("five.txt"), size);
    auto result = Call(xp_FileSize, {VarChar("c:\\d\\five.txt")});
    EXPECT_EQ(result.status, -1) << size;
    EXPECT_EQ(result.Transcript(), DirectFailure("xp_FileSize: Range check error")) << size;
  }
}

TEST_F(FileProcTest, SizeOfAnOpenHandle) {
  HANDLE file = CreateFileA("c:\\d\\five.txt", GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  auto value = static_cast<int32_t>(reinterpret_cast<intptr_t>(file));
  ASSERT_LT(value, 128);
  for (auto param :
       {Int(value), SmallInt(static_cast<int16_t>(value)), TinyInt(static_cast<uint8_t>(value))}) {
    auto result = Call(xp_FileSize, {param});
    EXPECT_EQ(result.status, 5);
    EXPECT_EQ(result.Transcript(), kPlainDone);
  }
  // The procedure never closes a handle it was given.
  EXPECT_EQ(Call(xp_FileSize, {Int(value)}).status, 5);
  CloseHandle(file);
  for (auto param : {Int(value), Int(-1), Int(0x7FFFFFF0), Null(SRVINTN, 4)}) {
    auto result = Call(xp_FileSize, {param});
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.Transcript(), DirectFailure(std::string("xp_FileSize: ") + kBadHandle));
  }
}

TEST_F(FileProcTest, SizeFailures) {
  EXPECT_EQ(Call(xp_FileSize, {VarChar("c:\\d\\missing")}).Transcript(),
            DirectFailure(std::string("xp_FileSize: ") + kNotFound));
  EXPECT_EQ(Call(xp_FileSize, {NVarChar(u"c:\\nodir\\x")}).Transcript(),
            DirectFailure(std::string("xp_FileSize: ") + kPathNotFound));
  EXPECT_EQ(Call(xp_FileSize, {VarChar("c:\\d\\")}).Transcript(),
            DirectFailure(std::string("xp_FileSize: ") + kNotFound));
  EXPECT_EQ(Call(xp_FileSize, {Null(SRVBIGVARCHAR, 10)}).Transcript(),
            DirectFailure(std::string("xp_FileSize: ") + kPathNotFound));
  std::vector<std::vector<ods::Param>> lists = {
      {},          {VarChar("c:\\d\\five.txt"), VarChar("x")},
      {BigInt(3)}, {VarBinary({1})},
      {Float(1)},  {VarCharMax("c:\\d\\five.txt" + std::string(8000, '\0'))},
  };
  for (const auto& list : lists) {
    auto result = Call(xp_FileSize, list);
    EXPECT_EQ(result.status, -1);
    EXPECT_EQ(result.Transcript(), DirectFailure("xp_FileSize: Invalid list of parameters."));
  }
}

TEST_F(FileProcTest, DeleteRemovesOneFileOnce) {
  auto result = Call(xp_FileDelete, {VarChar("c:\\d\\five.txt")});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.Transcript(), kPlainDone);
  EXPECT_FALSE(std::filesystem::exists(D("five.txt")));
  result = Call(xp_FileDelete, {VarChar("c:\\d\\five.txt")});
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.Transcript(), DirectFailure(std::string("xp_FileDelete: ") + kNotFound));
  WriteBytes(D("\xD0\xB6.txt"), "xyz");
  EXPECT_EQ(Call(xp_FileDelete, {NVarChar(u"c:\\d\\\u0436.txt")}).status, 1);
  EXPECT_FALSE(std::filesystem::exists(D("\xD0\xB6.txt")));
}

TEST_F(FileProcTest, DeleteFailures) {
  std::filesystem::permissions(D("a.log"), std::filesystem::perms::owner_read);
  HANDLE held = CreateFileA("c:\\d\\B.log", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  struct Case {
    std::string path;
    const char* message;
  } cases[] = {
      {"c:\\d\\sub", kAccessDenied},   {"c:\\d\\a.log", kAccessDenied}, {"c:\\d\\B.log", kSharing},
      {"c:\\nodir\\x", kPathNotFound}, {"c:\\d\\missing", kNotFound},
  };
  for (const auto& c : cases) {
    auto result = Call(xp_FileDelete, {NVarCharUtf8(c.path)});
    EXPECT_EQ(result.status, -1) << c.path;
    EXPECT_EQ(result.Transcript(), DirectFailure(std::string("xp_FileDelete: ") + c.message))
        << c.path;
  }
  CloseHandle(held);
  EXPECT_TRUE(std::filesystem::exists(D("a.log")));
  EXPECT_TRUE(std::filesystem::exists(D("B.log")));
  auto wild = Call(xp_FileDelete, {VarChar("c:\\d\\*.log")});
  EXPECT_EQ(wild.Transcript(),
            DirectFailure("xp_FileDelete: System Error.  Code: 123.\\r\\nThe filename, directory "
                          "name, or volume label syntax is incorrect"));
  for (const auto& list : std::vector<std::vector<ods::Param>>{
           {}, {Int(1)}, {VarChar("c:\\d\\B.log"), VarChar("c:\\d\\a.log")}}) {
    EXPECT_EQ(Call(xp_FileDelete, list).Transcript(),
              DirectFailure("xp_FileDelete: Invalid list of parameters."));
  }
  EXPECT_TRUE(std::filesystem::exists(D("B.log")));
}

TEST_F(FileProcTest, CopyMakesANewFile) {
  auto result = Call(xp_FileCopy, {VarChar("c:\\d\\five.txt"), VarChar("c:\\d\\copy.txt")});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.Transcript(), kPlainDone);
  EXPECT_EQ(ReadBytes(D("copy.txt")), "12345");
  // UTF-16 names become ANSI text: on Linux UTF-8, so every character survives.
  result = Call(xp_FileCopy, {NVarChar(u"c:\\d\\five.txt"), NVarChar(u"c:\\d\\\u0436.txt")});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(ReadBytes(D("\xD0\xB6.txt")), "12345");
}

TEST_F(FileProcTest, CopyReplacesOnlyWhenTheThirdParameterEndsInByteOne) {
  const std::string exists = "xp_FileCopy: System Error.  Code: 80.\\r\\nThe file exists";
  struct Case {
    std::vector<ods::Param> extra;
    bool replaces;
  } cases[] = {
      {{}, false},
      {{Bit(true)}, true},
      {{TinyInt(1)}, true},
      {{Int(1)}, true},
      {{Int(257)}, true},  // the lowest byte is 1
      {{VarBinary({0x01})}, true},
      {{Int(0)}, false},
      {{Null(SRVINTN, 4)}, false},
      {{Int(2)}, false},
      {{Int(256)}, false},
      {{VarChar("1")}, false},    // the character 1 is the byte 31
      {{Int(1), Int(1)}, false},  // four parameters never replace
  };
  for (const auto& c : cases) {
    WriteBytes(D("target.txt"), "old");
    std::vector<ods::Param> params = {VarChar("c:\\d\\five.txt"), VarChar("c:\\d\\target.txt")};
    params.insert(params.end(), c.extra.begin(), c.extra.end());
    auto result = Call(xp_FileCopy, params);
    if (c.replaces) {
      EXPECT_EQ(result.status, 1) << params.size();
      EXPECT_EQ(ReadBytes(D("target.txt")), "12345");
    } else {
      EXPECT_EQ(result.status, -1) << params.size();
      EXPECT_EQ(result.Transcript(), ContextFailure(exists));
      EXPECT_EQ(ReadBytes(D("target.txt")), "old");
    }
  }
}

TEST_F(FileProcTest, CopyFailuresComeAfterTheDoneAndOutputsGoBackUnchanged) {
  auto result = Call(xp_FileCopy, {Output(VarChar("c:\\d\\missing", 30)), VarChar("c:\\d\\x")});
  EXPECT_EQ(result.status, -1);
  EXPECT_EQ(result.Transcript(), ContextFailure(std::string("xp_FileCopy: ") + kNotFound,
                                                {"paramsetoutput 1 " + Hex("c:\\d\\missing")}));
  EXPECT_EQ(Call(xp_FileCopy, {VarChar("c:\\d\\five.txt"), VarChar("c:\\nodir\\x")}).Transcript(),
            ContextFailure(std::string("xp_FileCopy: ") + kPathNotFound));
  EXPECT_EQ(
      Call(xp_FileCopy, {VarChar("c:\\d\\five.txt"), VarChar("c:\\d\\sub"), Int(1)}).Transcript(),
      ContextFailure(std::string("xp_FileCopy: ") + kAccessDenied));
  for (const auto& list :
       std::vector<std::vector<ods::Param>>{{},
                                            {VarChar("c:\\d\\five.txt")},
                                            {Int(1), VarChar("c:\\d\\x")},
                                            {VarChar("c:\\d\\five.txt"), VarBinary({'x'})},
                                            {Null(SRVINTN, 4), VarChar("c:\\d\\x")}}) {
    EXPECT_EQ(Call(xp_FileCopy, list).Transcript(),
              ContextFailure("xp_FileCopy: Invalid list of parameters."));
  }
  EXPECT_FALSE(std::filesystem::exists(D("x")));
}

}  // namespace
}  // namespace dunmarrow::test
