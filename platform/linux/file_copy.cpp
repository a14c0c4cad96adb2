// CopyFileA: a copy is written beside its target and takes the target's name in one step, so
// that a failed copy never leaves a cut target or destroys the old one.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>

#include "platform/linux/drives.h"
#include "platform/linux/errno_map.h"
#include "platform/linux/errors.h"
#include "platform/linux/file_table.h"

using namespace winplatform;

namespace {

// Copies the bytes of one descriptor to another from their current positions.
bool CopyBytes(int from, int to) {
  char buffer[65536];
  for (;;) {
    ssize_t n = read(from, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(to, buffer + done, static_cast<size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      done += w;
    }
  }
}

// A new, empty file next to the target; its name is returned in *name.
int CreateSiblingFile(const std::string& target, std::string* name) {
  static thread_local std::mt19937_64 random(std::random_device{}());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".copy-%012llx",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    *name = target + suffix;
    int fd = open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

BOOL CopyPath(std::string_view windows_source, std::string_view windows_target,
              bool fail_if_exists) {
  std::string source, target;
  if (!HostPathOf(windows_source, &source) || !HostPathOf(windows_target, &target)) return FALSE;
  int in = OpenHostFile(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
  if (in < 0) return FALSE;
  struct stat from;
  fstat(in, &from);

  // The target is opened for writing without sharing: any other open of it conflicts.
  int held = -1;
  struct stat to;
  if (IsDeviceName(target)) {
    CloseRegistered(in);
    SetLastError(ERROR_OPEN_FAILED);
    return FALSE;
  }
  if (stat(target.c_str(), &to) == 0) {
    DWORD error = ERROR_SUCCESS;
    if (!S_ISREG(to.st_mode) && !S_ISDIR(to.st_mode)) {
      error = ERROR_OPEN_FAILED;  // a FIFO, socket or device is never written to
    } else if (fail_if_exists) {
      error = ERROR_FILE_EXISTS;
    } else if (S_ISDIR(to.st_mode) || IsReadOnly(to)) {
      error = ERROR_ACCESS_DENIED;
    } else if (to.st_dev == from.st_dev && to.st_ino == from.st_ino) {
      error = ERROR_SHARING_VIOLATION;
    } else {
      held = open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
      if (held >= 0 && !RegisterOpenFile(held, GENERIC_WRITE | DELETE, 0)) {
        close(held);
        held = -1;
        error = ERROR_SHARING_VIOLATION;
      }
    }
    if (error != ERROR_SUCCESS) {
      CloseRegistered(in);
      SetLastError(error);
      return FALSE;
    }
  } else if (errno != ENOENT || !ParentDirectoryExists(target)) {
    SetLastErrorFromErrno(errno, target);
    CloseRegistered(in);
    return FALSE;
  }

  // The copy is written next to the target and then takes its name in one step, so that a
  // copy that fails half-way never leaves a cut target or destroys the old one.
  std::string temporary;
  int out = CreateSiblingFile(target, &temporary);
  int error = out < 0 ? errno : 0;
  bool done = out >= 0 && CopyBytes(in, out);
  if (out >= 0 && !done) error = errno;
  if (done) {
    // The attributes (the read-only bit) and the last-write time go with the copy.
    struct timespec times[2] = {from.st_atim, from.st_mtim};
    fchmod(out, from.st_mode & 07777);
    futimens(out, times);
    if (close(out) != 0) {
      done = false;
      error = errno;
    }
    out = -1;
  }
  if (done) {
    int renamed;
    if (fail_if_exists) {
      // A target that appeared meanwhile is not replaced.
      renamed = renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
      if (renamed != 0 && (errno == EINVAL || errno == ENOSYS)) {
        renamed = link(temporary.c_str(), target.c_str());
        if (renamed == 0) unlink(temporary.c_str());
      }
    } else {
      renamed = rename(temporary.c_str(), target.c_str());
    }
    if (renamed != 0) {
      done = false;
      error = errno;
    }
  }
  if (out >= 0) close(out);
  if (!done && !temporary.empty()) unlink(temporary.c_str());
  if (held >= 0) CloseRegistered(held);
  CloseRegistered(in);
  if (!done) {
    if (error == EEXIST) {
      SetLastError(fail_if_exists ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
    } else {
      SetLastErrorFromErrno(error, target);
    }
    return FALSE;
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

}  // namespace

extern "C" {

BOOL CopyFileA(LPCSTR source, LPCSTR target, BOOL fail_if_exists) {
  if (!source || !target) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return CopyPath(source, target, fail_if_exists != FALSE);
}

}  // extern "C"
