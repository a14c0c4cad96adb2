// Opening a host file the way CreateFileA does (access, disposition, what is not a file, the
// read-only attribute, share conflicts), and the Windows facts of a stat result.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/linux/drives.h"
#include "platform/linux/errno_map.h"
#include "platform/linux/errors.h"
#include "platform/linux/file_table.h"

namespace winplatform {

DWORD AttributesOf(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;
  if (IsReadOnly(st)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

bool IsReadOnly(const struct stat& st) {
  return !S_ISDIR(st.st_mode) && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

FILETIME FileTimeOf(const struct timespec& time) {
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
  int64_t ticks =
      (static_cast<int64_t>(time.tv_sec) + kSecondsFrom1601To1970) * 10000000 + time.tv_nsec / 100;
  if (ticks < 0) ticks = 0;
  uint64_t value = static_cast<uint64_t>(ticks);
  return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}
int OpenHostFile(const std::string& host, DWORD access, DWORD share, DWORD disposition) {
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
      (disposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (host.empty() || host.back() == '/') {
    SetLastError(ERROR_INVALID_NAME);
    return -1;
  }
  // Never blocks (a FIFO without a writer): what is not a file is refused below.
  int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  bool reads = access & GENERIC_READ, writes = access & GENERIC_WRITE;
  bool creates = disposition != OPEN_EXISTING && disposition != TRUNCATE_EXISTING;
  if ((writes || creates) && IsDeviceName(host)) {
    SetLastError(ERROR_OPEN_FAILED);
    return -1;
  }
  flags |= (reads && writes) ? O_RDWR : writes ? O_WRONLY : O_RDONLY;

  struct stat before;
  if (stat(host.c_str(), &before) == 0 && !S_ISREG(before.st_mode) && !S_ISDIR(before.st_mode)) {
    SetLastError(ERROR_OPEN_FAILED);  // a FIFO, socket or device: not opened at all
    return -1;
  }
  bool existed = true;
  int fd = -1;
  if (disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) {
    fd = open(host.c_str(), flags | O_CREAT | O_EXCL, 0666);
    if (fd >= 0) existed = false;
    if (fd < 0 && (errno != EEXIST || disposition == CREATE_NEW)) {
      SetLastErrorFromErrno(errno, host);
      return -1;
    }
  }
  if (fd < 0) fd = open(host.c_str(), flags);
  if (fd < 0) {
    // A directory cannot be opened for writing: Windows says access denied, not EISDIR.
    SetLastErrorFromErrno(errno, host);
    return -1;
  }
  // One fstat serves every check below and the table of opens: what was opened may not be
  // what the stat before the open saw, if the name was replaced in between.
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    close(fd);  // a FIFO, socket or device
    SetLastError(ERROR_OPEN_FAILED);
    return -1;
  }
  if (S_ISDIR(st.st_mode) || (existed && (access & (GENERIC_WRITE | DELETE)) && IsReadOnly(st))) {
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  if (!RegisterOpen(fd, st, reads || !writes, access, share)) {
    close(fd);
    SetLastError(ERROR_SHARING_VIOLATION);
    return -1;
  }
  // Truncate only once the open is known not to conflict with another.
  if (existed && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING)) {
    if (ftruncate(fd, 0) != 0) {
      int error = errno;
      CloseRegistered(fd);
      SetLastErrorFromErrno(error, host);
      return -1;
    }
  }
  SetLastError(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)
                   ? ERROR_ALREADY_EXISTS
                   : ERROR_SUCCESS);
  return fd;
}

void CloseHostFile(int fd) {
  CloseRegistered(fd);
}
}  // namespace winplatform
