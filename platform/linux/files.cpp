#include "platform/linux/files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>

#include "platform/linux/drives.h"
#include "platform/linux/errno_map.h"
#include "platform/linux/errors.h"
#include "platform/linux/file_table.h"
#include "platform/linux/policy.h"
#include "platform/linux/threads.h"

namespace winplatform {

bool HasInvalidNameCharacters(std::string_view path) {
  for (char c : path) {
    if ((c > 0 && c < 0x20) || c == '*' || c == '?' || c == '<' || c == '>' || c == '|' ||
        c == '"') {
      return true;
    }
  }
  // "...\" loses one dot as an element before a separator and becomes a ".." that no file
  // system accepts as a name.
  for (size_t at = path.find("..."); at != std::string_view::npos; at = path.find("...", at + 1)) {
    bool starts = at == 0 || path[at - 1] == '\\' || path[at - 1] == '/' || path[at - 1] == ':';
    bool ends = at + 3 < path.size() && (path[at + 3] == '\\' || path[at + 3] == '/');
    if (starts && ends) return true;
  }
  return false;
}

bool IsBlankPath(std::string_view path) {
  return path.find_first_not_of(' ') == std::string_view::npos;
}

bool AnsiPathTooLong(std::string_view path) {
  // UTF-16 units: one per character, two for one of four bytes.
  size_t units = 0;
  for (char c : path) {
    auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) ++units;
    if (byte >= 0xF0) ++units;
  }
  return units > MAX_PATH;
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

// Share modes between processes. Every open that asks for access takes shared locks on
// bytes far beyond any file's data: one byte for each access class it uses (read, write,
// delete: slots 0 to 2) and one for each class its share mode denies (slots 3 to 5). A new
// open conflicts when another open holds a lock on the "denies" slot of a class it uses, or
// on the "uses" slot of a class it denies. Locks belong to the open file description, so
// they are released when the descriptor is closed, also when a process dies.
constexpr off_t kShareLockBase = 0x7FFFFFFFFFFFFF00;

// Where each slot lies (uses read, write, delete; denies read, write, delete): in an order in
// which the slots an open takes, and those it tests, are one run of bytes each for the opens
// the module makes most (read and write sharing read, as lines are appended; read sharing
// read and write; read and write sharing both), so that each takes one lock call.
constexpr unsigned kSlotPlace[6] = {0, 2, 5, 4, 3, 1};

// Applies the lock command to each run of consecutive slots of mask. With F_OFD_GETLK,
// returns true when another open file description holds a lock on one of the slots; with
// F_OFD_SETLK, returns false when the locks cannot be taken.
bool ForEachSlotRun(int fd, unsigned slots, int command, short type) {
  unsigned mask = 0;
  for (unsigned slot = 0; slot < 6; ++slot) {
    if (slots & (1u << slot)) mask |= 1u << kSlotPlace[slot];
  }
  for (unsigned slot = 0; slot < 6;) {
    if (!(mask & (1u << slot))) {
      ++slot;
      continue;
    }
    unsigned end = slot;
    while (end < 6 && (mask & (1u << end))) ++end;
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = kShareLockBase + static_cast<off_t>(slot);
    lock.l_len = static_cast<off_t>(end - slot);
    if (fcntl(fd, command, &lock) != 0) return false;
    if (command == F_OFD_GETLK && lock.l_type != F_UNLCK) return true;
    slot = end;
  }
  return command != F_OFD_GETLK;
}

struct OpenFile {
  dev_t device;
  ino_t inode;
  DWORD access;  // the classes asked for: read, write, delete
  DWORD share;
  int lock_fd;  // the descriptor that holds the share-mode locks, or -1
  unsigned lock_mask;
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

// A descriptor that can hold shared locks for fd: fd itself when it was opened for reading,
// otherwise a second read-only open of the same file. -1 when there is none.
int LockDescriptorFor(int fd, bool readable) {
  if (readable) return fd;
  std::string self = "/proc/self/fd/" + std::to_string(fd);
  return open(self.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}

void ReleaseLocks(const OpenFile& file, int fd) {
  if (file.lock_fd < 0) return;
  ForEachSlotRun(file.lock_fd, file.lock_mask, F_OFD_SETLK, F_UNLCK);
  if (file.lock_fd != fd) close(file.lock_fd);
}

// Records an open of fd, whose stat result and access mode are known.
bool RegisterOpen(int fd, const struct stat& st, bool readable, DWORD access, DWORD share) {
  DWORD classes = AccessClasses(access);
  share &= 7u;
  std::lock_guard<std::mutex> lock(table_mutex);
  OpenFile entry{st.st_dev, st.st_ino, classes, share, -1, 0};
  // An open for attributes only takes part in no conflict.
  if (classes != 0) {
    for (const auto& [other_fd, other] : open_files) {
      if (other.device != st.st_dev || other.inode != st.st_ino || other.access == 0) continue;
      if ((classes & ~other.share) != 0 || (other.access & ~share) != 0) return false;
    }
    int lock_fd = LockDescriptorFor(fd, readable);
    unsigned denied = ~share & 7u;
    unsigned set_mask = classes | (denied << 3);
    unsigned test_mask = (classes << 3) | denied;
    // Where the file system keeps no locks, only this process's opens are compared.
    bool locked = lock_fd >= 0 && ForEachSlotRun(lock_fd, set_mask, F_OFD_SETLK, F_RDLCK);
    if (locked) {
      entry.lock_fd = lock_fd;
      entry.lock_mask = set_mask;
      if (ForEachSlotRun(lock_fd, test_mask, F_OFD_GETLK, F_WRLCK)) {
        ReleaseLocks(entry, fd);
        return false;
      }
    } else if (lock_fd >= 0) {
      ReleaseLocks(OpenFile{st.st_dev, st.st_ino, classes, share, lock_fd, set_mask}, fd);
    }
  }
  open_files[fd] = entry;
  return true;
}

}  // namespace

bool RegisterOpenFile(int fd, DWORD access, DWORD share) {
  struct stat st;
  int mode = fcntl(fd, F_GETFL);
  if (mode < 0 || fstat(fd, &st) != 0) return false;
  return RegisterOpen(fd, st, (mode & O_ACCMODE) != O_WRONLY, access, share);
}

void UnregisterOpenFile(int fd) {
  std::lock_guard<std::mutex> lock(table_mutex);
  auto found = open_files.find(fd);
  if (found == open_files.end()) return;
  ReleaseLocks(found->second, fd);
  open_files.erase(found);
}

namespace {

// Closes a descriptor and forgets its open in one step, so that no other open sees the
// entry gone while the locks are still held.
int CloseRegistered(int fd) {
  std::lock_guard<std::mutex> lock(table_mutex);
  auto found = open_files.find(fd);
  if (found != open_files.end()) {
    // Closing fd releases the locks it holds itself; a second descriptor is closed here.
    int lock_fd = found->second.lock_fd;
    if (lock_fd >= 0 && lock_fd != fd) close(lock_fd);
    open_files.erase(found);
  }
  return close(fd);
}

}  // namespace

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

bool HostPathOf(std::string_view windows_path, std::string* host, bool any_case) {
  if (IsBlankPath(windows_path)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (IsUncPath(windows_path)) {
    SetLastError(ERROR_BAD_NETPATH);
    return false;
  }
  if (HasInvalidNameCharacters(windows_path)) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  return MapAllowedPath(windows_path, host, any_case);
}

bool MapAllowedPath(std::string_view windows_path, std::string* host, bool any_case) {
  std::string mapped = MapPath(windows_path, any_case);
  bool allowed = IsAllowedHostPath(mapped);
  // A path not there as written may be there in another case, inside a root.
  if (!allowed && !any_case) {
    std::string other = MapPath(windows_path, true);
    if (other != mapped) {
      mapped = std::move(other);
      allowed = IsAllowedHostPath(mapped);
    }
  }
  if (!allowed) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  *host = std::move(mapped);
  return true;
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

using namespace winplatform;

namespace {

// stat of a host path, its trailing separators left out.
int StatHostPath(std::string host, struct stat* st) {
  while (host.size() > 1 && host.back() == '/') host.pop_back();
  return stat(host.c_str(), st);
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

BOOL CopyFileA(LPCSTR source, LPCSTR target, BOOL fail_if_exists) {
  if (!source || !target) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return CopyPath(source, target, fail_if_exists != FALSE);
}

}  // extern "C"
