// Linux stand-ins: the thread's last-error code, the mapping of errno values to Windows error
// codes, and FormatMessage with the system's English texts.
#include "platform/linux/errors.h"

#include <errno.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "platform/linux/codepage.h"
#include "platform/linux/drives.h"
#include "platform/linux/errno_map.h"

namespace {

thread_local DWORD last_error = 0;

struct SystemText {
  DWORD code;
  const char* text;
};

// Windows' English texts for the codes the module can meet.
constexpr SystemText kSystemTexts[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {15, "The system cannot find the drive specified."},
    {18, "There are no more files."},
    {19, "The media is write protected."},
    {32, "The process cannot access the file because it is being used by another process."},
    {39, "The disk is full."},
    {53, "The network path was not found."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {110, "The system cannot open the device or file specified."},
    {111, "The file name is too long."},
    {112, "There is not enough space on the disk."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {131, "An attempt was made to move the file pointer before the beginning of the file."},
    {145, "The directory is not empty."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {223, "The file size exceeds the limit allowed and cannot be saved."},
    {234, "More data is available."},
    {267, "The directory name is invalid."},
    {1004, "Invalid flags."},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page."},
    {0x80090001u, "Bad UID."},
    {0x80090002u, "Bad Hash."},
    {0x80090003u, "Bad Key."},
    {0x80090004u, "Bad Length."},
    {0x80090005u, "Bad Data."},
    {0x80090008u, "Invalid algorithm specified."},
    {0x80090009u, "Invalid flags specified."},
    {0x8009000Au, "Invalid type specified."},
    {0x8009000Cu, "Hash not valid for use in specified state."},
    {0x8009000Fu, "Object already exists."},
    {0x80090014u, "Invalid provider type specified."},
    {0x80090016u, "Keyset does not exist"},
    {0x80090017u, "Provider type not defined."},
    {0x80090019u, "The keyset is not defined."},
    {0x8009001Bu, "Provider type does not match registered value."},
};

const char* FindSystemText(DWORD code) {
  for (const SystemText& entry : kSystemTexts) {
    if (entry.code == code) return entry.text;
  }
  return nullptr;
}

}  // namespace

namespace winplatform {

// A drive that is not mapped is a missing path, not a missing file.
bool IsDriveDirectory(const std::string& host_path) {
  std::string path = host_path;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  std::string root = GetDriveRoot() + "/";
  return path.size() == root.size() + 1 && path.compare(0, root.size(), root) == 0;
}

bool ParentDirectoryExists(const std::string& host_path) {
  std::string path = host_path;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  size_t slash = path.rfind('/');
  std::string parent =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  struct stat st;
  return stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

DWORD ErrorFromErrno(int error, const std::string& host_path) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      if (!host_path.empty() &&
          (IsDriveDirectory(host_path) || !ParentDirectoryExists(host_path))) {
        return ERROR_PATH_NOT_FOUND;
      }
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EFBIG:
      return ERROR_FILE_TOO_LARGE;
    case ENXIO:  // a FIFO without a reader, a device that is not there
      return ERROR_OPEN_FAILED;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EBUSY:
    case ETXTBSY:
      return ERROR_SHARING_VIOLATION;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EILSEQ:
      return ERROR_INVALID_NAME;
    default:
      return ERROR_INVALID_FUNCTION;
  }
}

DWORD SetLastErrorFromErrno(int error, const std::string& host_path) {
  DWORD code = ErrorFromErrno(error, host_path);
  last_error = code;
  return code;
}

}  // namespace winplatform

extern "C" {

DWORD GetLastError() {
  return last_error;
}

void SetLastError(DWORD code) {
  last_error = code;
}

DWORD FormatMessageA(DWORD flags, LPCVOID, DWORD message_id, DWORD, LPSTR buffer, DWORD size,
                     void* args) {
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || !buffer || args) {
    last_error = ERROR_INVALID_PARAMETER;
    return 0;
  }
  const char* text = FindSystemText(message_id);
  if (!text) {
    last_error = ERROR_MR_MID_NOT_FOUND;
    return 0;
  }
  std::string message = std::string(text) + "\r\n";
  if (message.size() + 1 > size) {
    last_error = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  std::memcpy(buffer, message.c_str(), message.size() + 1);
  return static_cast<DWORD>(message.size());
}

DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id,
                     LPWSTR buffer, DWORD size, void* args) {
  char narrow[512];
  DWORD length =
      FormatMessageA(flags, source, message_id, language_id, narrow, sizeof narrow, args);
  if (length == 0) return 0;
  // The texts are ASCII: one unit per byte.
  if (length + 1 > size) {
    last_error = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  for (DWORD i = 0; i <= length; ++i) buffer[i] = static_cast<WCHAR>(narrow[i]);
  return length;
}

}  // extern "C"
