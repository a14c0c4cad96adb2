// Starting, watching and stopping the server under test.
#include "server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace dunmarrow::load {

namespace fs = std::filesystem;

namespace {

// In a forked child: becomes the program args[0] with args; exits 127 where it cannot.
[[noreturn]] void Exec(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

// Runs a program to its end with `input` on its standard input; its exit status.
int RunWithInput(const std::vector<std::string>& args, const std::string& input) {
  int in[2];
  if (pipe(in) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    close(in[0]);
    close(in[1]);
    Exec(args);
  }
  close(in[0]);
  [[maybe_unused]] ssize_t written = write(in[1], input.data(), input.size());
  close(in[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

size_t CountEntries(const fs::path& dir) {
  size_t n = 0;
  std::error_code error;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) ++n;
  return n;
}

}  // namespace

ServerProcess::ServerProcess(const std::string& dunmarrow, const std::string& module,
                             const fs::path& work, const std::string& user,
                             const std::string& password,
                             const std::vector<std::string>& extra_args) {
  fs::remove_all(work);
  drive_root_ = work / "drives";
  fs::create_directories(drive_root_ / "c");
  fs::path logins = work / "logins";
  log_ = work / "server.log";
  if (RunWithInput({dunmarrow, "login", "add", user, "--grant", "all", "--iterations", "1000",
                    "--logins", logins.string()},
                   password + "\n") != 0) {
    throw std::runtime_error("dunmarrow login add failed");
  }
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> args = {
      dunmarrow,  "serve",         "-m",       module,        "--drive-root", drive_root_.string(),
      "--logins", logins.string(), "--listen", "127.0.0.1:0", "--log",        log_.string()};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], 1);
    int err = open((work / "server.stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (err >= 0) dup2(err, 2);
    Exec(args);
  }
  close(out[1]);
  // "listening on 127.0.0.1:PORT", within a minute (a sanitizer's build starts slowly).
  std::string text;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (text.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd entry{out[0], POLLIN, 0};
    if (poll(&entry, 1, 1000) <= 0) continue;
    char buffer[256];
    ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  const std::string prefix = "listening on 127.0.0.1:";
  if (text.rfind(prefix, 0) != 0) {
    int status = Stop(5);
    throw std::runtime_error("the server did not start (status " + std::to_string(status) +
                             "); it printed: " + text);
  }
  port_ = std::stoi(text.substr(prefix.size()));
}

ServerProcess::~ServerProcess() {
  if (pid_ > 0) Stop(10);
}

ProcessCounts ServerProcess::Counts() const {
  ProcessCounts counts;
  fs::path proc = "/proc/" + std::to_string(pid_);
  std::ifstream status(proc / "status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) counts.rss_kib = std::stol(line.substr(6));
  }
  counts.threads = CountEntries(proc / "task");
  counts.fds = CountEntries(proc / "fd");
  return counts;
}

std::vector<std::string> ServerProcess::LogLines() const {
  std::vector<std::string> lines;
  std::ifstream in(log_);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

int ServerProcess::Stop(int grace_seconds) {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(grace_seconds);
  pid_t done = 0;
  while ((done = waitpid(pid_, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (done == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace dunmarrow::load
