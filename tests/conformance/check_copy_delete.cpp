// CopyFileA and DeleteFileA/W: the result, the last error and the bytes left behind, for
// copies onto new and existing targets (with and without failing if the target exists),
// read-only files, directories, missing names, a file copied onto itself and files held open
// by another handle of the process.
#include <fstream>
#include <iterator>
#include <string>

#include "tests/conformance/conformance.h"

using namespace conformance;

namespace {

const char kReadOnlyTarget[] =
    "Wine's CopyFile (run as root here) replaces a read-only target; Windows refuses it with "
    "ERROR_ACCESS_DENIED";
const char kSourceSharing[] =
    "Wine's CopyFile opens the source sharing writes and copies a file open for writing; "
    "Windows shares reads and deletes only and fails with ERROR_SHARING_VIOLATION";

const Workspace* workspace = nullptr;

std::filesystem::path Host(const std::string& name) {
  return workspace->Host(workspace->dir + "\\" + name);
}

std::string Full(const std::string& name) {
  return workspace->dir + "\\" + name;
}

void WriteBytes(const std::string& name, const std::string& bytes) {
  std::ofstream(Host(name), std::ios::binary) << bytes;
}

void MakeReadOnly(const std::string& name) {
  std::filesystem::permissions(Host(name),
                               std::filesystem::perms::owner_write |
                                   std::filesystem::perms::group_write |
                                   std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
}

// What a name holds now: its bytes (long contents by size and a checksum), a directory, or
// nothing.
std::string State(const std::string& name) {
  std::error_code error;
  std::filesystem::path path = Host(name);
  if (std::filesystem::is_directory(path, error)) return "directory";
  if (!std::filesystem::exists(path, error)) return "missing";
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string out;
  if (bytes.size() <= 32) {
    out = Quote(bytes);
  } else {
    uint32_t sum = 2166136261u;
    for (char c : bytes) sum = (sum ^ static_cast<unsigned char>(c)) * 16777619u;
    out = std::to_string(bytes.size()) + " bytes, FNV-1a " + Hex(sum);
  }
  DWORD attributes = GetFileAttributesA(Full(name).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    out += " read-only";
  }
  return out;
}

std::string Result(BOOL ok, const std::string& error) {
  return (ok ? "TRUE " : "FALSE ") + error;
}

void Copy(const std::string& source, const std::string& target, BOOL fail_if_exists,
          const char* wine_differs = nullptr) {
  ResetLastError();
  BOOL ok = CopyFileA(source.c_str(), target.c_str(), fail_if_exists);
  std::string result = Result(ok, LastErrorText());
  std::string input = "CopyFileA(" + Quote(source) + ", " + Quote(target) + ", " +
                      (fail_if_exists ? "TRUE" : "FALSE") + ")";
  if (wine_differs) {
    WineDiffers(wine_differs, input, result);
  } else {
    Check(input, result);
  }
}

// A copy between names in the workspace, and what both names hold afterwards.
void CopyIn(const std::string& source, const std::string& target, BOOL fail_if_exists,
            const char* wine_differs = nullptr) {
  Copy(Full(source), Full(target), fail_if_exists, wine_differs);
  for (const std::string& name : {source, target}) {
    if (wine_differs) {
      WineDiffers(wine_differs, "  then " + Quote(name), State(name));
    } else {
      Check("  then " + Quote(name), State(name));
    }
  }
}

void Delete(const std::string& path) {
  ResetLastError();
  BOOL ok = DeleteFileA(path.c_str());
  Check("DeleteFileA(" + Quote(path) + ")", Result(ok, LastErrorText()));
}

void DeleteWide(const std::string& path) {
  WideString wide = Widen(path);
  ResetLastError();
  BOOL ok = DeleteFileW(wide.c_str());
  Check("DeleteFileW(" + QuoteWide(wide.data(), wide.size()) + ")", Result(ok, LastErrorText()));
}

HANDLE Open(const std::string& name, DWORD access, DWORD share) {
  return CreateFileA(Full(name).c_str(), access, share, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

void RunChecks(const Workspace& ws) {
  workspace = &ws;
  std::string big;
  for (size_t i = 0; i < 200000; ++i) big += static_cast<char>((i * 7919) % 251);
  WriteBytes("source.txt", "source bytes\r\n");
  WriteBytes("big.bin", big);
  WriteBytes("empty.txt", "");
  WriteBytes("longer.txt", "a longer file than the source, to be replaced");
  WriteBytes("readonly.txt", "read-only");
  MakeReadOnly("readonly.txt");
  WriteBytes("target-ro.txt", "read-only target");
  MakeReadOnly("target-ro.txt");
  WriteBytes("target-ro2.txt", "read-only target");
  MakeReadOnly("target-ro2.txt");
  WriteBytes("held.txt", "held open");
  std::filesystem::create_directory(Host("dir"));
  std::filesystem::create_directory(Host("dir\\taken"));
  WriteBytes("dir\\inner.txt", "inner");

  // Copies onto new names, onto existing ones, and their failures.
  CopyIn("source.txt", "copy1.txt", FALSE);
  CopyIn("source.txt", "copy2.txt", TRUE);
  CopyIn("big.bin", "big-copy.bin", TRUE);
  CopyIn("empty.txt", "empty-copy.txt", FALSE);
  CopyIn("source.txt", "longer.txt", TRUE);
  CopyIn("source.txt", "longer.txt", FALSE);
  CopyIn("big.bin", "copy1.txt", FALSE);
  CopyIn("readonly.txt", "ro-copy.txt", FALSE);
  CopyIn("source.txt", "target-ro.txt", FALSE, kReadOnlyTarget);
  CopyIn("source.txt", "target-ro2.txt", TRUE);
  CopyIn("source.txt", "source.txt", FALSE);
  CopyIn("source.txt", "SOURCE.TXT", TRUE);
  CopyIn("missing.txt", "copy3.txt", FALSE);
  CopyIn("missing\\a.txt", "copy3.txt", FALSE);
  CopyIn("source.txt", "missing\\copy.txt", FALSE);
  CopyIn("source.txt", "dir\\taken", FALSE);
  CopyIn("source.txt", "dir\\taken", TRUE);
  CopyIn("dir", "dircopy", FALSE);
  CopyIn("source.txt", "dir\\inner.txt", FALSE);
  CopyIn("source.txt", "source.txt\\x", FALSE);
  Copy("source.txt", "relative.txt", TRUE);
  Check("  then \"relative.txt\"", State("relative.txt"));
  Copy(Full("source.txt"), "", FALSE);
  Copy("", Full("copy4.txt"), FALSE);
  Copy(Full("*.txt"), Full("copy5.txt"), FALSE);
  Copy(Full("source.txt"), Full("copy?.txt"), FALSE);

  // The copy keeps the source's last-write time.
  std::filesystem::last_write_time(
      Host("source.txt"),
      std::filesystem::last_write_time(Host("source.txt")) - std::chrono::hours(50));
  Copy(Full("source.txt"), Full("timed.txt"), FALSE);
  Check("  last-write time of the copy", std::filesystem::last_write_time(Host("source.txt")) ==
                                                 std::filesystem::last_write_time(Host("timed.txt"))
                                             ? "the source's"
                                             : "another");

  // Files held open by another handle of this process: the modes the procedures use.
  HANDLE writer = Open("source.txt", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
  Check("open source.txt for writing, sharing reads", writer != INVALID_HANDLE_VALUE ? "ok" : "no");
  Copy(Full("source.txt"), Full("while-open.txt"), FALSE, kSourceSharing);
  Copy(Full("big.bin"), Full("source.txt"), FALSE);
  CloseHandle(writer);
  WineDiffers(kSourceSharing, "  then \"while-open.txt\"", State("while-open.txt"));
  Check("  then \"source.txt\"", State("source.txt"));
  // The bytes of a file held open without sharing cannot be read until it is closed.
  HANDLE exclusive = Open("copy2.txt", GENERIC_READ | GENERIC_WRITE, 0);
  Check("open copy2.txt sharing nothing", exclusive != INVALID_HANDLE_VALUE ? "ok" : "no");
  Copy(Full("copy2.txt"), Full("copy6.txt"), FALSE);
  Copy(Full("source.txt"), Full("copy2.txt"), FALSE);
  Delete(Full("copy2.txt"));
  CloseHandle(exclusive);
  Check("  then \"copy2.txt\"", State("copy2.txt"));
  Check("  then \"copy6.txt\"", State("copy6.txt"));

  // Deleting: success leaves the last error alone.
  Delete(Full("copy1.txt"));
  Check("  then \"copy1.txt\"", State("copy1.txt"));
  DeleteWide(Full("empty-copy.txt"));
  Check("  then \"empty-copy.txt\"", State("empty-copy.txt"));
  Delete(Full("copy1.txt"));
  DeleteWide(Full("copy1.txt"));
  Delete(Full("missing\\copy1.txt"));
  DeleteWide(Full("missing\\copy1.txt"));
  Delete(Full("dir"));
  DeleteWide(Full("dir\\taken"));
  Delete(Full("readonly.txt"));
  Check("  then \"readonly.txt\"", State("readonly.txt"));
  DeleteWide(Full("target-ro.txt"));
  Delete(Full("source.txt\\x"));
  Delete(Full("*.txt"));
  DeleteWide(Full("big?.bin"));
  Delete("relative.txt");
  Check("  then \"relative.txt\"", State("relative.txt"));
  Delete(Full("BIG-COPY.BIN"));
  Check("  then \"big-copy.bin\"", State("big-copy.bin"));
  WriteBytes("\xC3\xBCml\xC3\xA4ut.txt", "x");
  DeleteWide(Full("\xC3\xBCml\xC3\xA4ut.txt"));
  Check("  then \"\\xC3\\xBCml\\xC3\\xA4ut.txt\"", State("\xC3\xBCml\xC3\xA4ut.txt"));

  // Held open: reading with read sharing only blocks a delete; so does writing.
  HANDLE reader = Open("held.txt", GENERIC_READ, FILE_SHARE_READ);
  Delete(Full("held.txt"));
  CloseHandle(reader);
  Check("  then \"held.txt\"", State("held.txt"));
  writer = Open("held.txt", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  DeleteWide(Full("held.txt"));
  CloseHandle(writer);
  Check("  then \"held.txt\"", State("held.txt"));
}
