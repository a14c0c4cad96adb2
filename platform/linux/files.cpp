// The file functions of kernel32 on descriptors: attributes, CreateFileA, reading, writing,
// seeking, closing and deleting. Path checks, share modes, the host open and copying live in
// path_checks.cpp, share_modes.cpp, host_files.cpp and file_copy.cpp.
#include "platform/linux/files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/linux/drives.h"
#include "platform/linux/errno_map.h"
#include "platform/linux/errors.h"
#include "platform/linux/file_table.h"
#include "platform/linux/threads.h"

namespace winplatform {

int HandleToDescriptor(HANDLE handle) {
  intptr_t value = reinterpret_cast<intptr_t>(handle);
  if (value < 0 || value > 0x7FFFFFFF) return -1;
  return static_cast<int>(value);
}

HANDLE DescriptorToHandle(int fd) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

}  // namespace winplatform

using namespace winplatform;

namespace {

// stat of a host path, its trailing separators left out.
int StatHostPath(const std::string& host, struct stat* st) {
  if (host.size() <= 1 || host.back() != '/') return stat(host.c_str(), st);
  std::string trimmed = host;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  return stat(trimmed.c_str(), st);
}

DWORD AttributesOfPath(std::string_view windows_path) {
  std::string host;
  if (!HostPathOf(windows_path, &host, false)) return INVALID_FILE_ATTRIBUTES;
  bool trailing_separator = host.size() > 1 && host.back() == '/';
  // A path that is there as written costs one lookup; only one that is not is looked for in
  // any case.
  struct stat st;
  int found = StatHostPath(host, &st);
  if (found != 0 && (errno == ENOENT || errno == ENOTDIR)) {
    int error = errno;
    std::string any_case;
    if (!MapAllowedPath(windows_path, &any_case)) return INVALID_FILE_ATTRIBUTES;
    if (any_case != host) {
      host = std::move(any_case);
      found = StatHostPath(host, &st);
    } else {
      errno = error;
    }
  }
  while (host.size() > 1 && host.back() == '/') host.pop_back();
  if (found != 0) {
    // A name longer than Linux allows cannot be there: Windows answers that it is not found.
    SetLastErrorFromErrno(errno == ENAMETOOLONG ? ENOENT : errno, host);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (trailing_separator && !S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(st);
}

BOOL DeletePath(std::string_view windows_path) {
  std::string host;
  if (!HostPathOf(windows_path, &host)) return FALSE;
  struct stat st;
  if (lstat(host.c_str(), &st) != 0) {
    SetLastErrorFromErrno(errno, host);
    return FALSE;
  }
  if (S_ISDIR(st.st_mode) || IsReadOnly(st)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
    SetLastError(ERROR_OPEN_FAILED);  // a FIFO, socket or device
    return FALSE;
  }
  // Deleting opens the file for delete access sharing everything: it fails while another
  // open denies delete sharing.
  int fd = open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd >= 0 &&
      !RegisterOpenFile(fd, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
    close(fd);
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  int result = unlink(host.c_str());
  int error = errno;
  if (fd >= 0) CloseRegistered(fd);
  if (result != 0) {
    SetLastErrorFromErrno(error, host);
    return FALSE;
  }
  // Success leaves the last error as it was.
  return TRUE;
}

}  // namespace

extern "C" {

DWORD GetFileAttributesA(LPCSTR path) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (AnsiPathTooLong(path)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOfPath(path);
}

DWORD GetFileAttributesW(LPCWSTR path) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOfPath(WidePathToUtf8(path));
}

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share_mode, LPSECURITY_ATTRIBUTES,
                   DWORD disposition, DWORD, HANDLE) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (AnsiPathTooLong(path)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  // An existing file is opened as written first, so that an exact name costs one lookup;
  // only a name that is not there as written is looked for in any case. A file that may be
  // created is always looked for in any case first, so that no second one appears beside it.
  bool as_written = disposition == OPEN_EXISTING;
  std::string host;
  if (!HostPathOf(path, &host, !as_written)) return INVALID_HANDLE_VALUE;
  int fd = OpenHostFile(host, access, share_mode, disposition);
  if (fd < 0 && as_written &&
      (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)) {
    DWORD error = GetLastError();
    std::string any_case;
    if (!MapAllowedPath(path, &any_case)) return INVALID_HANDLE_VALUE;
    if (any_case == host) {
      SetLastError(error);
    } else {
      fd = OpenHostFile(any_case, access, share_mode, disposition);
    }
  }
  return fd < 0 ? INVALID_HANDLE_VALUE : DescriptorToHandle(fd);
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method) {
  int fd = HandleToDescriptor(file);
  int64_t offset = distance_high
                       ? static_cast<int64_t>(
                             (static_cast<uint64_t>(static_cast<uint32_t>(*distance_high)) << 32) |
                             static_cast<uint32_t>(distance))
                       : static_cast<int64_t>(distance);
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
  if (fd < 0 || method > FILE_END) {
    SetLastError(fd < 0 ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  off_t position = lseek(fd, static_cast<off_t>(offset), whence);
  if (position < 0) {
    // With a valid method, lseek refuses only a position before the start of the file, which
    // it leaves where it was.
    SetLastError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  uint64_t unsigned_position = static_cast<uint64_t>(position);
  if (distance_high) {
    *distance_high = static_cast<LONG>(unsigned_position >> 32);
  } else if (unsigned_position > 0xFFFFFFFFu) {
    // Without a high part the position must fit 32 bits.
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  DWORD low = static_cast<DWORD>(unsigned_position);
  if (low == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
  return low;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED) {
  int fd = HandleToDescriptor(file);
  if (written) *written = 0;
  if (fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  DWORD done = 0;
  while (done < count) {
    ssize_t n = write(fd, bytes + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (written) *written = done;
      // A descriptor that is open, but for reading only: the handle lacks write access.
      bool read_only = errno == EBADF && fcntl(fd, F_GETFD) != -1;
      SetLastError(read_only        ? ERROR_ACCESS_DENIED
                   : errno == EBADF ? ERROR_INVALID_HANDLE
                                    : ErrorFromErrno(errno));
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  if (written) *written = done;
  return TRUE;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read_count, LPOVERLAPPED) {
  int fd = HandleToDescriptor(file);
  if (read_count) *read_count = 0;
  if (fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ssize_t n;
  do {
    n = read(fd, buffer, count);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  if (read_count) *read_count = static_cast<DWORD>(n);
  return TRUE;
}

BOOL SetEndOfFile(HANDLE file) {
  int fd = HandleToDescriptor(file);
  off_t position = fd < 0 ? -1 : lseek(fd, 0, SEEK_CUR);
  if (position < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (ftruncate(fd, position) != 0) {
    SetLastError(errno == EBADF || errno == EINVAL ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL CloseHandle(HANDLE object) {
  if (CloseKernelObject(object)) return TRUE;
  int fd = HandleToDescriptor(object);
  if (fd < 0 || CloseRegistered(fd) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info) {
  int fd = HandleToDescriptor(file);
  struct stat st;
  // A null handle is never valid on Windows, though descriptor 0 may be open here.
  if (fd <= 0 || fstat(fd, &st) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  uint64_t size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
  uint64_t index = static_cast<uint64_t>(st.st_ino);
  info->dwFileAttributes = AttributesOf(st);
  info->ftCreationTime = FileTimeOf(st.st_mtim);
  info->ftLastAccessTime = FileTimeOf(st.st_atim);
  info->ftLastWriteTime = FileTimeOf(st.st_mtim);
  info->dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev);
  info->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  info->nFileSizeLow = static_cast<DWORD>(size);
  info->nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
  info->nFileIndexHigh = static_cast<DWORD>(index >> 32);
  info->nFileIndexLow = static_cast<DWORD>(index);
  return TRUE;
}

BOOL DeleteFileA(LPCSTR path) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return DeletePath(path);
}

BOOL DeleteFileW(LPCWSTR path) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return DeletePath(WidePathToUtf8(path));
}

}  // extern "C"
