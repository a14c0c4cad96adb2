// The DB-Library calls behind TdsClient.
#include "bench/tds_client.h"

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sybdb.h>
#include <sys/socket.h>

#include <mutex>
#include <string>

#include "bench/served_drive.h"

namespace tds_bench {

namespace {

std::mutex last_error_mutex;
std::string last_error;

void Remember(const std::string& text) {
  std::lock_guard<std::mutex> lock(last_error_mutex);
  last_error = text;
}

int OnError(DBPROCESS*, int, int, int, char* text, char* os_text) {
  Remember(std::string(text ? text : "") + (os_text ? std::string(" (") + os_text + ")" : ""));
  return INT_CANCEL;
}

int OnMessage(DBPROCESS*, DBINT number, int, int severity, char* text, char*, char*, int) {
  if (severity > 10) Remember("Msg " + std::to_string(number) + ": " + (text ? text : ""));
  return 0;
}

// DB-Library is set up once for the process.
void InitOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    dbinit();
    dberrhandle(OnError);
    dbmsghandle(OnMessage);
    dbsetlogintime(10);
  });
}

}  // namespace

std::string LastDbLibError() {
  std::lock_guard<std::mutex> lock(last_error_mutex);
  return last_error;
}

TdsClient::~TdsClient() {
  Close();
}

bool TdsClient::Open(int port, bool tls, std::string& error) {
  InitOnce();
  LOGINREC* login = dblogin();
  if (!login) {
    error = "dblogin failed";
    return false;
  }
  DBSETLUSER(login, kLogin);
  DBSETLPWD(login, kPassword);
  DBSETLAPP(login, "dunmarrow-bench");
  DBSETLENCRYPT(login, tls ? TRUE : FALSE);
  dbsetlversion(login, DBVERSION_74);
  std::string server = "127.0.0.1:" + std::to_string(port);
  process_ = dbopen(login, server.c_str());
  dbloginfree(login);
  if (!process_) error = "dbopen failed: " + LastDbLibError();
  return process_ != nullptr;
}

void TdsClient::Close() {
  if (process_) dbclose(process_);
  process_ = nullptr;
}

int TdsClient::Finish(size_t* value_size) {
  if (dbrpcsend(process_) != SUCCEED || dbsqlok(process_) != SUCCEED) return -2;
  RETCODE result;
  while ((result = dbresults(process_)) != NO_MORE_RESULTS) {
    if (result == FAIL) return -2;
    while (dbnextrow(process_) != NO_MORE_ROWS) {
      if (value_size) *value_size = static_cast<size_t>(dbdatlen(process_, 1));
    }
  }
  return dbhasretstat(process_) ? dbretstatus(process_) : -2;
}

bool TdsClient::FileExists(const std::string& path) {
  dbrpcinit(process_, "xp_FileExists", 0);
  dbrpcparam(process_, nullptr, 0, SYBVARCHAR, -1, static_cast<DBINT>(path.size()),
             reinterpret_cast<BYTE*>(const_cast<char*>(path.data())));
  return Finish(nullptr) == 1;
}

int TdsClient::ZCreate(const std::vector<uint8_t>& bytes) {
  dbrpcinit(process_, "xp_ZCreate", 0);
  dbrpcparam(process_, nullptr, 0, SYBIMAGE, -1, static_cast<DBINT>(bytes.size()),
             const_cast<BYTE*>(bytes.data()));
  int status = Finish(nullptr);
  return status == -2 ? -1 : status;
}

size_t TdsClient::ZCompress(int handle) {
  DBINT value = handle;
  dbrpcinit(process_, "xp_ZCompress", 0);
  dbrpcparam(process_, nullptr, 0, SYBINT4, -1, -1, reinterpret_cast<BYTE*>(&value));
  size_t size = 0;
  return Finish(&size) == 1 ? size : 0;
}

WireBytes TdsClient::Bytes() const {
  tcp_info info{};
  socklen_t length = sizeof info;
  if (!process_ || getsockopt(dbiordesc(process_), IPPROTO_TCP, TCP_INFO, &info, &length) != 0) {
    return {};
  }
  return {info.tcpi_bytes_acked, info.tcpi_bytes_received};
}

}  // namespace tds_bench
