// Windows share modes on Linux: the table of this process's opens, and the byte-range locks
// that carry the same share modes to other processes. An open is registered once it is made
// and forgotten in the same step as its descriptor is closed.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/linux/file_table.h"

namespace winplatform {

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

}  // namespace

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

}  // namespace winplatform
