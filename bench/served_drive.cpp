// Starting and stopping the server the TDS benchmarks talk to.
#include "bench/served_drive.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tds_bench {

namespace {

// Starts `args` with `input` on its standard input; its standard output is the pipe left in
// *out. The child is killed when the thread that started it ends.
pid_t Spawn(const std::vector<std::string>& args, const std::string& input, int* out) {
  int in_pipe[2], out_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0) return -1;
  if (pipe2(out_pipe, O_CLOEXEC) != 0) {
    close(in_pipe[0]);
    close(in_pipe[1]);
    return -1;
  }
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    dup2(in_pipe[0], STDIN_FILENO);
    dup2(out_pipe[1], STDOUT_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  if (pid > 0 && !input.empty()) {
    ssize_t written = write(in_pipe[1], input.data(), input.size());
    (void)written;
  }
  close(in_pipe[1]);
  *out = out_pipe[0];
  return pid;
}

bool Succeeded(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The first line of a child's output.
std::string ReadLine(int fd) {
  std::string line;
  char c;
  while (read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

}  // namespace

ServedDrive::ServedDrive(const std::string& encrypt) {
  char pattern[] = "/tmp/dunmarrow-bench-XXXXXX";
  if (!mkdtemp(pattern)) {
    error_ = std::string("mkdtemp: ") + std::strerror(errno);
    return;
  }
  dir_ = pattern;
  root_ = dir_ + "/drive";
  std::filesystem::create_directories(root_ + "/c");
  const std::string logins = dir_ + "/logins";
  int out = -1;
  pid_t add =
      Spawn({DUNMARROW_PROGRAM_PATH, "login", "add", kLogin, "--grant", "all", "--logins", logins},
            std::string(kPassword) + "\n", &out);
  if (add < 0) {
    error_ = "could not start `dunmarrow login add`";
    return;
  }
  close(out);
  if (!Succeeded(add)) {
    error_ = "`dunmarrow login add` failed";
    return;
  }
  pid_ = Spawn({DUNMARROW_PROGRAM_PATH, "serve", "--listen", "127.0.0.1:0", "--logins", logins,
                "--drive-root", root_, "--encrypt", encrypt, "--log", dir_ + "/serve.log"},
               "", &out);
  if (pid_ < 0) {
    error_ = "could not start `dunmarrow serve`";
    return;
  }
  std::string line = ReadLine(out);
  close(out);
  const std::string prefix = "listening on 127.0.0.1:";
  if (line.rfind(prefix, 0) != 0) {
    error_ = "`dunmarrow serve` did not start (see " + dir_ + "/serve.log)";
    Stop();
    return;
  }
  port_ = std::atoi(line.c_str() + prefix.size());
}

ServedDrive::~ServedDrive() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void ServedDrive::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  port_ = 0;
  if (!dir_.empty() && error_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
}

}  // namespace tds_bench

namespace tds_bench {

namespace {
std::unique_ptr<ServedDrive> shared[2];
}  // namespace

ServedDrive& SharedServer(bool tls) {
  auto& server = shared[tls ? 1 : 0];
  if (!server) server = std::make_unique<ServedDrive>(tls ? "on" : "off");
  return *server;
}

void StopSharedServers() {
  for (auto& server : shared) {
    if (server) server->Stop();
    server.reset();
  }
}

}  // namespace tds_bench
