// `dunmarrow login add|passwd|remove|list`: manages the logins file. Passwords come from the
// terminal without echo (asked twice), or as one line of standard input when it is not a
// terminal, for scripts.
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>

#include "server/commands.h"
#include "server/logins.h"
#include "server/logins_file.h"
#include "server/password_hash.h"

namespace dunmarrow::server {
namespace {

constexpr const char kUsage[] =
    "usage: dunmarrow login add NAME [--grant PROC,...|--grant all] [--admin] [options]\n"
    "       dunmarrow login passwd NAME [options]\n"
    "       dunmarrow login remove NAME [options]\n"
    "       dunmarrow login list [options]\n"
    "options: --logins FILE (default: \"logins\" beside the drive root), --drive-root DIR,\n"
    "         --iterations N (add, passwd: PBKDF2's work factor, 1000 to 10000000;\n"
    "         default 100000)\n";

struct LoginOptions {
  std::string action;
  std::string name;
  std::optional<std::string> grants;  // --grant values joined by commas
  bool admin = false;
  std::optional<std::string> logins;
  std::string drive_root;
  uint32_t iterations = kDefaultIterations;
};

int Fail(const std::string& message) {
  std::cerr << "dunmarrow login: " << message << "\n";
  return 1;
}

// Options after the action; an error text, or empty.
std::string ParseOptions(const std::vector<std::string>& args, LoginOptions& o) {
  if (args.empty()) return "no action given";
  o.action = args[0];
  if (o.action != "add" && o.action != "passwd" && o.action != "remove" && o.action != "list")
    return "unknown action '" + o.action + "'";
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool takes_value =
        a == "--grant" || a == "--logins" || a == "--drive-root" || a == "--iterations";
    if (takes_value && i + 1 >= args.size()) return a + " needs a value";
    if (a == "--grant" && o.action == "add") {
      o.grants = o.grants ? *o.grants + "," + args[++i] : args[++i];
    } else if (a == "--admin" && o.action == "add") {
      o.admin = true;
    } else if (a == "--iterations" && (o.action == "add" || o.action == "passwd")) {
      const std::string& value = args[++i];
      char* end = nullptr;
      unsigned long long n = std::strtoull(value.c_str(), &end, 10);
      if (value.empty() || *end || !std::isdigit(static_cast<unsigned char>(value[0])) ||
          n < kMinIterations || n > kMaxIterations)
        return "--iterations takes a number from " + std::to_string(kMinIterations) + " to " +
               std::to_string(kMaxIterations);
      o.iterations = static_cast<uint32_t>(n);
    } else if (a == "--logins") {
      o.logins = args[++i];
    } else if (a == "--drive-root") {
      o.drive_root = args[++i];
    } else if (a.rfind("-", 0) == 0 || !o.name.empty() || o.action == "list") {
      return "unexpected argument '" + a + "'";
    } else {
      o.name = a;
    }
  }
  if (o.action != "list" && o.name.empty()) return "no login name given";
  return "";
}

// The --grant values as grants: "all", or procedure names.
std::string ApplyGrants(const std::string& grants, LoginEntry& entry) {
  size_t begin = 0;
  while (begin <= grants.size()) {
    size_t end = std::min(grants.find(',', begin), grants.size());
    std::string procedure = grants.substr(begin, end - begin);
    begin = end + 1;
    if (LowerCase(procedure) == "all") {
      entry.all = true;
    } else if (IsValidProcedureName(procedure)) {
      entry.procedures.insert(LowerCase(procedure));
    } else {
      return "bad procedure name '" + procedure + "' in --grant";
    }
  }
  if (entry.all) entry.procedures.clear();
  return "";
}

std::optional<std::string> ReadLine(bool echo) {
  termios saved{};
  bool terminal = !echo && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  bool got = static_cast<bool>(std::getline(std::cin, line));
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << "\n";
  }
  if (!got && line.empty()) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// The new password, or an error text in `error`.
std::optional<std::string> ReadPassword(const std::string& name, std::string& error) {
  bool terminal = isatty(STDIN_FILENO);
  if (terminal) std::cerr << "Password for " << name << ": " << std::flush;
  std::optional<std::string> password = ReadLine(!terminal);
  if (!password) {
    error = "no password given";
    return std::nullopt;
  }
  if (password->empty()) {
    error = "the password is empty";
    return std::nullopt;
  }
  if (terminal) {
    std::cerr << "Again: " << std::flush;
    std::optional<std::string> again = ReadLine(false);
    if (!again || *again != *password) {
      error = "the passwords differ";
      return std::nullopt;
    }
  }
  return password;
}

std::string DescribeGrants(const LoginEntry& entry) {
  if (entry.all) return "all";
  std::string text;
  for (const std::string& procedure : entry.procedures)
    text += (text.empty() ? "" : ",") + procedure;
  return text.empty() ? "none" : text;
}

}  // namespace

int LoginCommand(const std::vector<std::string>& args) {
  LoginOptions o;
  std::string error = ParseOptions(args, o);
  if (!error.empty()) {
    std::cerr << "dunmarrow login: " << error << "\n" << kUsage;
    return 1;
  }
  if (!o.name.empty() && !IsValidLoginName(o.name))
    return Fail("bad login name '" + o.name +
                "': use 1 to 128 letters, digits and the characters _ . @ -");
  std::string path = o.logins ? *o.logins : DefaultLoginsPath(o.drive_root);

  LoginsFile file;
  bool exists = std::filesystem::exists(path);
  if (exists || o.action != "add") {
    if (!exists)
      return Fail("no logins file at " + path + "; add a login with: dunmarrow login add NAME");
    if (!file.Read(path, error)) return Fail(error);
  }

  if (o.action == "list") {
    for (const LoginEntry& entry : file.Entries()) {
      std::cout << entry.name << "  " << DescribeGrants(entry) << (entry.admin ? "  admin" : "")
                << "\n";
    }
    return 0;
  }
  if (o.action == "remove") {
    if (!file.Remove(o.name)) return Fail("no login named '" + o.name + "' in " + path);
  } else {
    LoginEntry* existing = file.Find(o.name);
    if (o.action == "add" && existing)
      return Fail("a login named '" + existing->name + "' already exists in " + path);
    if (o.action == "passwd" && !existing)
      return Fail("no login named '" + o.name + "' in " + path);
    LoginEntry entry;
    if (o.action == "add") {
      entry.name = o.name;
      entry.admin = o.admin;
      if (o.grants) {
        error = ApplyGrants(*o.grants, entry);
        if (!error.empty()) return Fail(error);
      }
    }
    std::optional<std::string> password = ReadPassword(o.name, error);
    if (!password) return Fail(error);
    try {
      (existing ? *existing : entry).password = HashPassword(*password, o.iterations);
    } catch (const std::exception& e) {
      return Fail(e.what());
    }
    if (!existing) file.Add(std::move(entry));
    std::error_code ignored;
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
  }
  if (!file.Write(path, error)) return Fail(error);
  return 0;
}

}  // namespace dunmarrow::server
