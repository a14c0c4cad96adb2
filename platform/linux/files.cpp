#include "platform/linux/files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/linux/drives.h"
#include "platform/linux/errno_map.h"
#include "platform/linux/errors.h"
#include "platform/linux/file_table.h"
#include "platform/linux/threads.h"

namespace winplatform {

bool HasInvalidNameCharacters(std::string_view path) {
  return path.find_first_of("*?<>|\"") != std::string_view::npos;
}

int HandleToDescriptor(HANDLE handle) {
  intptr_t value = reinterpret_cast<intptr_t>(handle);
  if (value < 0 || value > 0x7FFFFFFF) return -1;
  return static_cast<int>(value);
}

HANDLE DescriptorToHandle(int fd) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

namespace {

struct OpenFile {
  dev_t device;
  ino_t inode;
  DWORD access;  // the classes asked for: read, write, delete
  DWORD share;
};

std::mutex table_mutex;
std::map<int, OpenFile> open_files;

DWORD AccessClasses(DWORD access) {
  DWORD classes = 0;
  if (access & GENERIC_READ) classes |= FILE_SHARE_READ;
  if (access & GENERIC_WRITE) classes |= FILE_SHARE_WRITE;
  if (access & DELETE) classes |= FILE_SHARE_DELETE;
  return classes;
}

}  // namespace

bool RegisterOpenFile(int fd, DWORD access, DWORD share) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  DWORD classes = AccessClasses(access);
  std::lock_guard<std::mutex> lock(table_mutex);
  if (classes != 0) {
    for (const auto& [other_fd, other] : open_files) {
      if (other.device != st.st_dev || other.inode != st.st_ino || other.access == 0) continue;
      if ((classes & ~other.share) != 0 || (other.access & ~share) != 0) return false;
    }
  }
  open_files[fd] = OpenFile{st.st_dev, st.st_ino, classes, share & 7u};
  return true;
}

void UnregisterOpenFile(int fd) {
  std::lock_guard<std::mutex> lock(table_mutex);
  open_files.erase(fd);
}

DWORD AttributesOf(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

}  // namespace winplatform

using namespace winplatform;

namespace {

DWORD AttributesOfPath(std::string_view windows_path) {
  if (windows_path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (HasInvalidNameCharacters(windows_path)) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_FILE_ATTRIBUTES;
  }
  std::string host = MapPath(windows_path);
  bool trailing_separator = host.size() > 1 && host.back() == '/';
  while (host.size() > 1 && host.back() == '/') host.pop_back();
  struct stat st;
  if (stat(host.c_str(), &st) != 0) {
    SetLastErrorFromErrno(errno, host);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (trailing_separator && !S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(st);
}

}  // namespace

extern "C" {

DWORD GetFileAttributesA(LPCSTR path) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
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
  if (!path || disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
      (disposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string_view windows_path(path);
  if (windows_path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (HasInvalidNameCharacters(windows_path)) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  std::string host = MapPath(windows_path);
  if (host.back() == '/') {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }

  int flags = O_CLOEXEC;
  bool reads = access & GENERIC_READ, writes = access & GENERIC_WRITE;
  flags |= (reads && writes) ? O_RDWR : writes ? O_WRONLY : O_RDONLY;

  bool existed = true;
  int fd = -1;
  if (disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) {
    fd = open(host.c_str(), flags | O_CREAT | O_EXCL, 0666);
    if (fd >= 0) existed = false;
    if (fd < 0 && (errno != EEXIST || disposition == CREATE_NEW)) {
      SetLastErrorFromErrno(errno, host);
      return INVALID_HANDLE_VALUE;
    }
  }
  if (fd < 0) fd = open(host.c_str(), flags);
  if (fd < 0) {
    SetLastErrorFromErrno(errno, host);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (!RegisterOpenFile(fd, access, share_mode)) {
    close(fd);
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  // Truncate only once the open is known not to conflict with another.
  if (existed && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING)) {
    if (ftruncate(fd, 0) != 0) {
      int error = errno;
      UnregisterOpenFile(fd);
      close(fd);
      SetLastErrorFromErrno(error, host);
      return INVALID_HANDLE_VALUE;
    }
  }
  SetLastError(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)
                   ? ERROR_ALREADY_EXISTS
                   : ERROR_SUCCESS);
  return DescriptorToHandle(fd);
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
    SetLastError(errno == EINVAL ? ERROR_INVALID_PARAMETER : ErrorFromErrno(errno));
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
      SetLastErrorFromErrno(errno);
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

BOOL CloseHandle(HANDLE object) {
  if (CloseKernelObject(object)) return TRUE;
  int fd = HandleToDescriptor(object);
  if (fd < 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  UnregisterOpenFile(fd);
  if (close(fd) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
