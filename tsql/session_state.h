// The state of one engine session that outlives its batches: the SET options, the open
// transactions, the session id and what the session reports about itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "dunmarrow_version.h"
#include "tsql/permissions.h"

namespace dunmarrow::tsql {

struct SessionState {
  bool trace = false;  // report every ODS event of a call as a Trace line
  int spid = 0;        // @@SPID; 0: the session takes the next one

  // SET options, as a session starts in the server under the ODBC and OLE DB drivers.
  bool nocount = false;
  bool ansi_nulls = true;
  bool ansi_warnings = true;
  bool ansi_padding = true;
  bool ansi_null_dflt_on = true;
  bool concat_null_yields_null = true;
  bool quoted_identifier = true;
  bool arithabort = true;
  bool arithignore = false;
  bool numeric_roundabort = false;
  bool xact_abort = false;
  bool implicit_transactions = false;
  bool cursor_close_on_commit = false;
  int64_t textsize = 2147483647;  // bytes of text, ntext, image and (max) values in results
  std::string language = "us_english";
  std::string dateformat = "mdy";
  int datefirst = 7;
  int64_t lock_timeout = -1;
  int deadlock_priority = 0;
  std::string isolation_level = "READ COMMITTED";

  // BEGIN TRAN nests, COMMIT unnests, ROLLBACK ends them all. Nothing is kept in them: the
  // engine has no tables, and what a procedure did is done.
  int trancount = 0;
  std::string database = "master";

  // What the session reports about its server and login (a host may set them).
  std::string login = "sa";
  std::string server_name = "DUNMARROW";
  std::string version = "Dunmarrow " DUNMARROW_VERSION
                        " - T-SQL engine for extended stored procedures (compatible with "
                        "Microsoft SQL Server 8.00.2039, Open Data Services 7.0)";
  std::string product_version = "8.00.2039";
  std::string product_level = "SP4";
  std::string edition = "Dunmarrow";
  int engine_edition = 3;
  std::string collation = DefaultCollation();

  // What the login may execute; null: everything.
  std::shared_ptr<const ExecutePermissions> permissions;

  // Asked before each statement of a batch: true when the client cancelled the request, and
  // the rest of the batch does not run (a running procedure cannot be stopped). Null: never.
  std::function<bool()> cancelled;

  // The collation of 8-bit text in the ANSI code page: UTF-8 on Linux, 1252 on Windows.
  static std::string DefaultCollation();
};

}  // namespace dunmarrow::tsql
