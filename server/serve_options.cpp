// Parsing of `dunmarrow serve`'s command line. Every value is checked here, so that the server
// never starts with a setting it would misread.
#include "server/serve_options.h"

#include <algorithm>
#include <iterator>

namespace dunmarrow::server {

namespace {

// The largest values the options take: far beyond any sensible setting, small enough that
// the conversions to milliseconds and bytes cannot overflow.
constexpr uint64_t kMaxSeconds = 1000000;
constexpr uint64_t kMaxConnections = 30000;  // spids are 16-bit and start at 51
constexpr uint64_t kMinMessage = 4096;       // a login must fit
constexpr uint64_t kMaxBytes = 1ull << 40;

// Digits, with K, M or G for KiB, MiB or GiB when `units` allows them.
std::optional<uint64_t> ParseCount(const std::string& text, bool units) {
  if (text.empty() || text.size() > 16) return std::nullopt;
  uint64_t scale = 1;
  std::string digits = text;
  if (units) {
    switch (digits.back()) {
      case 'K':
      case 'k':
        scale = 1ull << 10;
        break;
      case 'M':
      case 'm':
        scale = 1ull << 20;
        break;
      case 'G':
      case 'g':
        scale = 1ull << 30;
        break;
    }
    if (scale != 1) digits.pop_back();
  }
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  uint64_t value = std::stoull(digits);
  if (value > kMaxBytes / scale) return std::nullopt;
  return value * scale;
}

}  // namespace

EncryptMode ListenerEncryption(const ServeOptions& options, const ListenAddress& listener) {
  if (options.encrypt) return *options.encrypt;
  return listener.loopback ? EncryptMode::kOn : EncryptMode::kRequired;
}

std::optional<ServeOptions> ParseServeOptions(const std::vector<std::string>& args,
                                              const std::string& default_module,
                                              std::string& error) {
  ServeOptions o;
  o.module = default_module;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string text;
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        error = "option " + a + " needs a value";
        return false;
      }
      out = args[++i];
      if (out.empty()) {
        error = "option " + a + " needs a value, not an empty text";
        return false;
      }
      return true;
    };
    // A number from `low` to `high`; `what` names its unit in the error.
    auto number = [&](uint64_t low, uint64_t high, bool units, const char* what) {
      std::optional<uint64_t> count;
      if (value(text)) {
        count = ParseCount(text, units);
        if (!count || *count < low || *count > high) {
          error = "option " + a + " needs " + what + " from " + std::to_string(low) + " to " +
                  std::to_string(high) + ", not '" + text + "'";
          count.reset();
        }
      }
      return count;
    };
    auto seconds = [&](uint64_t low, std::chrono::milliseconds& out) {
      auto count = number(low, kMaxSeconds, false, "a number of seconds");
      if (count) out = std::chrono::milliseconds(*count * 1000);
      return count.has_value();
    };
    // The options that name a file or folder.
    const std::pair<const char*, std::optional<std::string>*> names[] = {
        {"--drive-root", &o.drive_root},
        {"--logins", &o.logins},
        {"--tls-cert", &o.tls_cert},
        {"--tls-key", &o.tls_key},
        {"--log", &o.log}};
    auto name = std::find_if(std::begin(names), std::end(names),
                             [&](const auto& option) { return a == option.first; });
    if (name != std::end(names)) {
      if (!value(text)) return std::nullopt;
      *name->second = text;
    } else if (a == "-m" || a == "--module") {
      if (!value(o.module)) return std::nullopt;
    } else if (a == "--listen") {
      if (!value(text)) return std::nullopt;
      auto listener = ParseListenAddress(text, error);
      if (!listener) {
        error = "option --listen: " + error;
        return std::nullopt;
      }
      o.listen.push_back(*listener);
    } else if (a == "--encrypt") {
      if (!value(text)) return std::nullopt;
      if (text == "off") {
        o.encrypt = EncryptMode::kOff;
      } else if (text == "on") {
        o.encrypt = EncryptMode::kOn;
      } else if (text == "required") {
        o.encrypt = EncryptMode::kRequired;
      } else {
        error = "option --encrypt needs off, on or required, not '" + text + "'";
        return std::nullopt;
      }
    } else if (a == "--allow-path") {
      if (!value(text)) return std::nullopt;
      o.allow_paths.push_back(text);
    } else if (a == "--buffer-limit") {
      auto count = number(0, kMaxBytes, true, "a number of bytes");
      if (!count) return std::nullopt;
      o.buffer_limit = *count;
    } else if (a == "--max-connections") {
      auto count = number(1, kMaxConnections, false, "a number");
      if (!count) return std::nullopt;
      o.max_connections = static_cast<size_t>(*count);
    } else if (a == "--login-timeout") {
      if (!seconds(1, o.limits.login_timeout)) return std::nullopt;
    } else if (a == "--idle-timeout") {
      if (!seconds(0, o.limits.idle_timeout)) return std::nullopt;
    } else if (a == "--max-message") {
      auto count = number(kMinMessage, kMaxBytes, true, "a number of bytes");
      if (!count) return std::nullopt;
      o.limits.max_message_bytes = static_cast<size_t>(*count);
    } else if (a == "-?" || a == "-h" || a == "--help") {
      o.help = true;
    } else {
      error = "unknown option '" + a + "'";
      return std::nullopt;
    }
  }
  if (o.tls_cert.has_value() != o.tls_key.has_value()) {
    error = "options --tls-cert and --tls-key go together";
    return std::nullopt;
  }
  if (o.listen.empty()) o.listen.push_back(*ParseListenAddress("127.0.0.1:1433", error));
  return o;
}

const char* ServeUsage() {
  return "usage: dunmarrow serve [options]\n"
         "Serves the extended procedures of a module over TDS, to SQL Server client drivers.\n"
         "\n"
         "  -m, --module path        the module to load (default: the built Dunmarrow module)\n"
         "  --drive-root dir         the folder under which drive letters are mapped\n"
         "  --logins file            the logins file (default: \"logins\" beside the drive\n"
         "                           root); add logins with `dunmarrow login add NAME`\n"
         "  --listen ADDR:PORT       where to listen, repeatable; IPv6 as [::1]:1433\n"
         "                           (default 127.0.0.1:1433; port 0: any free port)\n"
         "  --encrypt off|on|required  TLS for every listener (default: on for loopback\n"
         "                           addresses, required for any other)\n"
         "  --tls-cert file          the certificate (PEM) and its key; without them a\n"
         "  --tls-key file           self-signed one is made and kept beside the logins file\n"
         "  --allow-path dir         a folder the file procedures may reach, repeatable\n"
         "                           (default: the drive root)\n"
         "  --buffer-limit bytes     compression buffer memory per login (default 256M;\n"
         "                           K, M, G for KiB, MiB, GiB; 0: none)\n"
         "  --max-connections n      connections served at once (default 256)\n"
         "  --login-timeout seconds  time from connecting to a completed login (default 30)\n"
         "  --idle-timeout seconds   time a connection may wait between requests\n"
         "                           (default 0: no limit)\n"
         "  --max-message bytes      largest request (default 64M)\n"
         "  --log file               append the log lines to the file (default: standard error)\n"
         "  -?, --help               this text\n"
         "\n"
         "SIGTERM or SIGINT stops the server: running calls finish, then it exits.\n";
}

}  // namespace dunmarrow::server
