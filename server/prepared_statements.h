// The prepared-statement procedures that ODBC drivers and tedious call by RPC (sp_prepare,
// sp_execute, sp_prepexec, sp_unprepare), on the engine's sp_executesql: a table of a
// connection's handles, each holding a statement and the declarations of its parameters.
#pragma once

#include <cstdint>
#include <map>
#include <string_view>
#include <vector>

#include "tsql/session.h"

namespace dunmarrow::server {

class PreparedStatements {
 public:
  // Runs the call when it is one of the four procedures (by name, any qualification or case);
  // false otherwise.
  bool Run(tsql::Session& session, std::string_view procedure,
           const std::vector<tsql::RpcParam>& params, tsql::Sink& sink);

 private:
  struct Statement {
    tsql::Value declarations;  // @params
    tsql::Value text;          // @stmt
  };
  void Prepare(const std::vector<tsql::RpcParam>& params, tsql::Sink& sink);
  void PrepExec(tsql::Session& session, const std::vector<tsql::RpcParam>& params,
                tsql::Sink& sink);
  void Execute(tsql::Session& session, const std::vector<tsql::RpcParam>& params, tsql::Sink& sink);
  void Unprepare(const std::vector<tsql::RpcParam>& params, tsql::Sink& sink);
  // The statement of a handle parameter, or an error reported to the sink.
  const Statement* Find(const tsql::RpcParam* handle, const char* procedure, tsql::Sink& sink);
  int32_t Add(const std::vector<tsql::RpcParam>& params);

  std::map<int32_t, Statement> statements_;
  int32_t next_handle_ = 1;
};

}  // namespace dunmarrow::server
