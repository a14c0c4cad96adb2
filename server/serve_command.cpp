// `dunmarrow serve`: loads the module, opens the logins file, prepares TLS and the platform's
// limits, listens, and serves each connection on its own thread until SIGTERM or SIGINT.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "host/drive_root.h"
#include "platform/linux/drives.h"
#include "platform/linux/server_policy.h"
#include "server/commands.h"
#include "server/connection.h"
#include "server/listener.h"
#include "server/logins.h"
#include "server/self_signed.h"
#include "server/serve_options.h"
#include "server/server_log.h"
#include "server/tls_openssl.h"
#include "tsql/errors.h"
#include "tsql/procedures.h"

namespace dunmarrow::server {

namespace {

namespace fs = std::filesystem;

// A connection refused for the connection limit gets at most this long to send its login.
constexpr std::chrono::milliseconds kRefusalTimeout{5000};

std::atomic<ConnectionServer*> running_server{nullptr};

extern "C" void OnStopSignal(int) {
  if (ConnectionServer* server = running_server.load()) server->Stop();
}

int Fail(const std::string& text) {
  std::cerr << "dunmarrow serve: " << text << "\n";
  return 1;
}

// SQL Server's message when its user connections are all taken.
std::string TooManyConnections(size_t limit) {
  return "Could not connect because the maximum number of '" + std::to_string(limit) +
         "' user connections has already been reached. The system administrator can use "
         "sp_configure to increase the maximum value. The connection has been closed.";
}

// The directories the file procedures may reach, as absolute paths without `.`, `..` or
// symbolic links; false and `error` when one is not a directory.
bool ResolveRoots(const std::vector<std::string>& paths, std::vector<std::string>& roots,
                  std::string& error) {
  for (const std::string& path : paths) {
    std::error_code status;
    fs::path resolved = fs::canonical(path, status);
    if (status || !fs::is_directory(resolved, status)) {
      error = "the allowed path " + path + " is no directory";
      return false;
    }
    roots.push_back(resolved.string());
  }
  return true;
}

// The temporary files of the procedures go where they may be written: the temporary folder of
// the environment when it lies under an allowed root, else "Temp" in the first root (the
// drive root's c:\Temp by default), made when missing. False with an error when it cannot be.
bool PlaceTemporaryFolder(const std::vector<std::string>& roots, const fs::path& drive_root,
                          std::string& error) {
  const char* tmpdir = std::getenv("TMPDIR");
  std::error_code status;
  fs::path current = fs::weakly_canonical(tmpdir && *tmpdir ? tmpdir : "/tmp", status);
  auto inside = [&](const fs::path& path) {
    for (const std::string& text : roots) {
      // One path object: the iterators of two temporaries cannot be compared.
      const fs::path root(text);
      auto [r, p] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
      if (r == root.end()) return true;
    }
    return false;
  };
  if (!status && inside(current)) return true;
  fs::path temp = drive_root / "c" / "Temp";
  if (!inside(fs::weakly_canonical(temp, status))) temp = fs::path(roots.front()) / "Temp";
  fs::create_directories(temp, status);
  if (status || !fs::is_directory(temp, status)) {
    error = "cannot make the temporary folder " + temp.string();
    return false;
  }
  setenv("TMPDIR", temp.c_str(), 1);
  LogLine("temporary files in " + temp.string());
  return true;
}

// The TLS context every encrypting listener shares: the given certificate, or the
// self-signed one kept beside the logins file.
std::unique_ptr<TlsContext> PrepareTls(const ServeOptions& options, const fs::path& logins,
                                       std::string& error) {
  CertificateFiles files;
  if (options.tls_cert) {
    files.certificate = *options.tls_cert;
    files.key = *options.tls_key;
  } else if (!EnsureSelfSignedCertificate(logins.parent_path().string(), files, error)) {
    return nullptr;
  }
  return OpenTlsContext(files.certificate, files.key, error);
}

std::string Duration(std::chrono::steady_clock::duration elapsed) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", std::chrono::duration<double>(elapsed).count());
  return text;
}

// Serves one accepted connection: its settings, its Connection, its log lines.
class ConnectionHandler {
 public:
  ConnectionHandler(const ServeOptions& options, std::vector<ListenAddress> listeners,
                    tsql::ProcedureRegistry& registry, Authenticator& authenticator,
                    TlsContext* tls)
      : options_(options),
        listeners_(std::move(listeners)),
        registry_(registry),
        authenticator_(authenticator),
        tls_(tls) {}

  void operator()(ByteStream& stream, const Accepted& accepted) const {
    ConnectionSettings settings;
    settings.registry = &registry_;
    settings.authenticator = &authenticator_;
    settings.encrypt = ListenerEncryption(options_, listeners_[accepted.listener]);
    settings.tls = settings.encrypt == EncryptMode::kOff ? nullptr : tls_;
    settings.limits = options_.limits;
    settings.spid = accepted.spid;
    settings.peer = accepted.peer;
    settings.peer_address = accepted.peer_address;
    std::string who = "spid " + std::to_string(accepted.spid) + ", peer " + accepted.peer;
    if (accepted.over_limit) {
      settings.refusal = TooManyConnections(options_.max_connections);
      settings.limits.login_timeout = std::min(settings.limits.login_timeout, kRefusalTimeout);
      LogLine("connection refused: too many connections (" +
              std::to_string(options_.max_connections) + "), " + who);
    } else {
      LogLine("connection opened: " + who + ", listener " + listeners_[accepted.listener].Text());
    }
    auto start = std::chrono::steady_clock::now();
    Connection connection(stream, std::move(settings));
    connection.Run();
    if (accepted.over_limit) return;
    const std::string& login = connection.Login();
    LogLine("connection closed: " + who + ", login " +
            (login.empty() ? "none" : "'" + login + "'") + ", " +
            std::to_string(connection.Calls()) + " calls, " +
            Duration(std::chrono::steady_clock::now() - start));
  }

 private:
  const ServeOptions& options_;
  std::vector<ListenAddress> listeners_;
  tsql::ProcedureRegistry& registry_;
  Authenticator& authenticator_;
  TlsContext* tls_;
};

}  // namespace

int ServeCommand(const std::vector<std::string>& args, const std::string& default_module) {
  std::string error;
  std::optional<ServeOptions> options = ParseServeOptions(args, default_module, error);
  if (!options) {
    return Fail(error + "\n(dunmarrow serve --help lists the options)");
  }
  if (options->help) {
    std::cout << ServeUsage();
    return 0;
  }
  if (options->log && !OpenServerLog(*options->log)) {
    return Fail("cannot write the log file " + *options->log);
  }
  // A client that goes away is an error of its connection's write, not a signal.
  signal(SIGPIPE, SIG_IGN);

  std::string warning = host::PrepareDriveRoot(options->drive_root);
  if (!warning.empty()) std::cerr << "dunmarrow serve: " << warning << "\n";
  fs::path drive_root = fs::path(winplatform::GetDriveRoot()).lexically_normal();
  if (!drive_root.has_filename()) drive_root = drive_root.parent_path();

  fs::path logins =
      options->logins ? fs::absolute(*options->logins) : drive_root.parent_path() / "logins";
  std::error_code status;
  if (!fs::exists(logins, status)) {
    std::string where = options->logins ? " --logins " + logins.string() : "";
    if (options->drive_root) where += " --drive-root " + *options->drive_root;
    return Fail("there is no logins file at " + logins.string() +
                ".\nAdd a login first; the password is asked for:\n"
                "  dunmarrow login add NAME --grant all" +
                where +
                "\n(--grant PROC,... grants some procedures only; --admin also allows "
                "sp_addextendedproc and sp_dropextendedproc)");
  }
  std::unique_ptr<Authenticator> authenticator = OpenLogins(logins.string(), error);
  if (!authenticator) return Fail(error);

  std::vector<std::string> roots;
  if (!ResolveRoots(
          options->allow_paths.empty() ? std::vector{drive_root.string()} : options->allow_paths,
          roots, error)) {
    return Fail(error);
  }

  if (!PlaceTemporaryFolder(roots, drive_root, error)) return Fail(error);

  tsql::ProcedureRegistry registry;
  try {
    registry.LoadModule(options->module);
  } catch (const tsql::SqlError& e) {
    return Fail(e.text);
  }

  std::unique_ptr<TlsContext> tls;
  for (const ListenAddress& listener : options->listen) {
    if (ListenerEncryption(*options, listener) != EncryptMode::kOff && !tls) {
      tls = PrepareTls(*options, logins, error);
      if (!tls) return Fail(error);
    }
  }

  std::vector<std::unique_ptr<Listener>> listeners;
  std::vector<ListenAddress> bound;
  for (const ListenAddress& address : options->listen) {
    listeners.push_back(Listener::Open(address, error));
    if (!listeners.back()) return Fail(error);
    bound.push_back(listeners.back()->address());
    if (!address.loopback && ListenerEncryption(*options, address) == EncryptMode::kOff) {
      LogLine("warning: " + bound.back().Text() +
              " is not a loopback address and encryption is off: passwords cross the "
              "network in clear text");
    }
  }

  winplatform::SetAllowedRoots(roots);
  winplatform::SetUserBufferLimit(options->buffer_limit);

  ConnectionServer server(std::move(listeners), options->max_connections,
                          ConnectionHandler(*options, bound, registry, *authenticator, tls.get()));
  running_server.store(&server);
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  struct sigaction previous_term {};
  struct sigaction previous_int {};
  sigaction(SIGTERM, &stop, &previous_term);
  sigaction(SIGINT, &stop, &previous_int);

  for (const ListenAddress& address : bound) std::cout << "listening on " << address.Text() << "\n";
  std::cout.flush();
  LogLine("serving " + options->module);
  server.Run();
  LogLine("stopped: every connection is closed");

  sigaction(SIGTERM, &previous_term, nullptr);
  sigaction(SIGINT, &previous_int, nullptr);
  running_server.store(nullptr);
  return 0;
}

}  // namespace dunmarrow::server
