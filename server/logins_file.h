// The logins file: who may log in to `dunmarrow serve`, with what password hash, which
// procedures each login may execute and whether it is an administrator. A text file, mode
// 0600, rewritten whole through a temporary file and a rename, so a reader never sees half of
// it:
//
//   dunmarrow-logins 1
//   NAME GRANTS ADMIN pbkdf2-sha256:ITERATIONS:SALT:HASH
//
// GRANTS is "all", "-" (none) or procedure names joined by commas (lower case); ADMIN is
// "admin" or "-"; SALT and HASH are hexadecimal. Lines starting with '#' and empty lines are
// left out.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "server/password_hash.h"

namespace dunmarrow::server {

inline constexpr const char kLoginsFileTag[] = "dunmarrow-logins 1";

struct LoginEntry {
  std::string name;
  bool all = false;                  // EXECUTE on every procedure
  std::set<std::string> procedures;  // granted names, lower case (when not all)
  bool admin = false;
  PasswordHash password;
};

// 1 to 128 characters: letters, digits and _ . @ -. Login names match in any case, as the
// server's default collation compares them.
bool IsValidLoginName(std::string_view name);
// 1 to 128 characters: letters, digits and _ @ # $, not starting with a digit.
bool IsValidProcedureName(std::string_view name);
// ASCII lower case, as grants are kept.
std::string LowerCase(std::string_view text);

class LoginsFile {
 public:
  // Reads and checks the whole file; false with a message naming the path (and the line) when
  // it cannot be read or is not a logins file of this version.
  bool Read(const std::string& path, std::string& error);
  // Writes the file whole: a temporary file beside it (mode 0600), flushed, then renamed over
  // it. False with a message when any step fails; the old file is then unchanged.
  bool Write(const std::string& path, std::string& error) const;

  const std::vector<LoginEntry>& Entries() const { return entries_; }
  // The login of a name, matched in any case; null when there is none.
  const LoginEntry* Find(std::string_view name) const;
  LoginEntry* Find(std::string_view name);
  // False when a login of that name (in any case) is already there.
  bool Add(LoginEntry entry);
  // False when there is no such login.
  bool Remove(std::string_view name);

 private:
  std::vector<LoginEntry> entries_;
};

}  // namespace dunmarrow::server
