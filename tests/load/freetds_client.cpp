// db-lib behind FreeTdsConnection. Its error and message handlers are process-wide, so each
// thread collects the texts of its own connection's errors.
#include "freetds_client.h"

#include <sybdb.h>

#include <cstdio>
#include <mutex>

namespace dunmarrow::load {

namespace {

thread_local std::string last_error;

int OnError(DBPROCESS*, int, int, int, char* text, char* os_text) {
  last_error = std::string("db-lib: ") + (text ? text : "") +
               (os_text ? std::string(" (") + os_text + ")" : "");
  return INT_CANCEL;
}

int OnMessage(DBPROCESS*, DBINT number, int, int severity, char* text, char*, char*, int) {
  if (severity > 10) last_error = "Msg " + std::to_string(number) + ": " + (text ? text : "");
  return 0;
}

std::string Hex(const BYTE* data, DBINT length) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (DBINT i = 0; i < length; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out;
}

std::string Text(DBPROCESS* process, int type, const BYTE* data, DBINT length) {
  if (!data) return "NULL";
  switch (type) {
    case SYBBINARY:
    case SYBVARBINARY:
    case SYBIMAGE:
      return Hex(data, length);
    case SYBCHAR:
    case SYBVARCHAR:
    case SYBTEXT:
      return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
    default: {
      char buffer[256];
      DBINT n = dbconvert(process, type, data, length, SYBCHAR, reinterpret_cast<BYTE*>(buffer),
                          sizeof buffer - 1);
      return n < 0 ? "?" : std::string(buffer, static_cast<size_t>(n));
    }
  }
}

}  // namespace

void InitFreeTds() {
  dbinit();
  dberrhandle(OnError);
  dbmsghandle(OnMessage);
  dbsetlogintime(30);
  dbsettime(120);
}

void EndFreeTds() {
  dbexit();
}

FreeTdsConnection::FreeTdsConnection(const std::string& server, const std::string& user,
                                     const std::string& password) {
  LOGINREC* login = dblogin();
  DBSETLUSER(login, user.c_str());
  DBSETLPWD(login, password.c_str());
  DBSETLAPP(login, "dunmarrow-load");
  last_error.clear();
  DBPROCESS* process = dbopen(login, server.c_str());
  dbloginfree(login);
  if (!process) error_ = last_error.empty() ? "login failed" : last_error;
  process_ = process;
}

FreeTdsConnection::~FreeTdsConnection() {
  if (process_) dbclose(static_cast<DBPROCESS*>(process_));
}

bool FreeTdsConnection::Results(std::vector<Row>* rows) {
  auto* process = static_cast<DBPROCESS*>(process_);
  RETCODE code;
  bool failed = false;
  while ((code = dbresults(process)) != NO_MORE_RESULTS) {
    if (code == FAIL) {
      failed = true;
      break;
    }
    int columns = dbnumcols(process);
    while ((code = dbnextrow(process)) != NO_MORE_ROWS) {
      if (code == FAIL) {
        failed = true;
        break;
      }
      Row row;
      for (int c = 1; c <= columns; ++c) {
        row.push_back(
            Text(process, dbcoltype(process, c), dbdata(process, c), dbdatlen(process, c)));
      }
      if (rows) rows->push_back(std::move(row));
    }
  }
  if (failed || !last_error.empty()) {
    error_ = last_error.empty() ? "the results failed" : last_error;
    return false;
  }
  return true;
}

bool FreeTdsConnection::Batch(const std::string& sql, std::vector<Row>& rows) {
  auto* process = static_cast<DBPROCESS*>(process_);
  last_error.clear();
  if (dbcmd(process, sql.c_str()) == FAIL || dbsqlexec(process) == FAIL) {
    error_ = last_error.empty() ? "the batch failed" : last_error;
    return false;
  }
  return Results(&rows);
}

bool FreeTdsConnection::Call(const std::string& procedure, const std::vector<std::string>& inputs,
                             int& status) {
  auto* process = static_cast<DBPROCESS*>(process_);
  last_error.clear();
  bool sent = dbrpcinit(process, procedure.c_str(), 0) == SUCCEED;
  for (const std::string& input : inputs) {
    sent = sent && dbrpcparam(process, nullptr, 0, SYBVARCHAR, -1, static_cast<DBINT>(input.size()),
                              reinterpret_cast<BYTE*>(const_cast<char*>(input.data()))) == SUCCEED;
  }
  if (!sent || dbrpcsend(process) == FAIL || dbsqlok(process) == FAIL) {
    error_ = last_error.empty() ? "the call failed" : last_error;
    return false;
  }
  if (!Results(nullptr)) return false;
  if (!dbhasretstat(process)) {
    error_ = "no return status";
    return false;
  }
  status = dbretstatus(process);
  return true;
}

}  // namespace dunmarrow::load
