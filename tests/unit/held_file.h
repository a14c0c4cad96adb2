// A file held open by another process, for the share-mode tests: the child opens it for
// reading and writing, sharing reads only, and keeps it until released.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include "platform/windows.h"

namespace dunmarrow::test {

class FileHeldByOtherProcess {
 public:
  // Returns once the child has tried to open the file; Opened() tells whether it could.
  explicit FileHeldByOtherProcess(const char* path) {
    if (pipe(ready_) != 0 || pipe(done_) != 0) return;
    child_ = fork();
    if (child_ == 0) {
      HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      char byte = file == INVALID_HANDLE_VALUE ? 'x' : 'k';
      if (write(ready_[1], &byte, 1) != 1) _exit(2);
      if (read(done_[0], &byte, 1) != 1) _exit(3);
      _exit(0);  // the descriptor, and its locks, go with the process
    }
    char byte = 0;
    opened_ = child_ > 0 && read(ready_[0], &byte, 1) == 1 && byte == 'k';
  }
  ~FileHeldByOtherProcess() {
    Release();
    for (int fd : {ready_[0], ready_[1], done_[0], done_[1]}) {
      if (fd >= 0) close(fd);
    }
  }
  FileHeldByOtherProcess(const FileHeldByOtherProcess&) = delete;
  FileHeldByOtherProcess& operator=(const FileHeldByOtherProcess&) = delete;

  bool Opened() const { return opened_; }

  // Lets the child close the file and end; returns its wait status (0 for a clean end).
  int Release() {
    if (child_ <= 0) return -1;
    int status = -1;
    if (write(done_[1], "x", 1) == 1) waitpid(child_, &status, 0);
    child_ = 0;
    return status;
  }

 private:
  int ready_[2] = {-1, -1};
  int done_[2] = {-1, -1};
  pid_t child_ = -1;
  bool opened_ = false;
};

}  // namespace dunmarrow::test
