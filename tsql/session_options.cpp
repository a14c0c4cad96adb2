// SET of the session options, USE and the transaction statements, applied to the session's
// state.
#include "tsql/session_options.h"

#include "platform/windows.h"
#include "tsql/errors.h"
#include "tsql/text.h"

namespace dunmarrow::tsql {

std::string SessionState::DefaultCollation() {
  return GetACP() == 65001 ? "Latin1_General_100_CI_AS_SC_UTF8" : "SQL_Latin1_General_CP1_CI_AS";
}

namespace {

void SetSwitch(const std::string& name, bool on, SessionState& state) {
  struct Switch {
    const char* name;
    bool SessionState::*field;
  };
  static const Switch kSwitches[] = {
      {"NOCOUNT", &SessionState::nocount},
      {"ANSI_NULLS", &SessionState::ansi_nulls},
      {"ANSI_WARNINGS", &SessionState::ansi_warnings},
      {"ANSI_PADDING", &SessionState::ansi_padding},
      {"ANSI_NULL_DFLT_ON", &SessionState::ansi_null_dflt_on},
      {"CONCAT_NULL_YIELDS_NULL", &SessionState::concat_null_yields_null},
      {"QUOTED_IDENTIFIER", &SessionState::quoted_identifier},
      {"ARITHABORT", &SessionState::arithabort},
      {"ARITHIGNORE", &SessionState::arithignore},
      {"NUMERIC_ROUNDABORT", &SessionState::numeric_roundabort},
      {"XACT_ABORT", &SessionState::xact_abort},
      {"IMPLICIT_TRANSACTIONS", &SessionState::implicit_transactions},
      {"CURSOR_CLOSE_ON_COMMIT", &SessionState::cursor_close_on_commit},
  };
  if (name == "ANSI_NULL_DFLT_OFF") {
    state.ansi_null_dflt_on = !on;
    return;
  }
  for (const Switch& s : kSwitches) {
    if (name == s.name) state.*s.field = on;
  }
}

}  // namespace

void ApplySetOption(const Statement& s, SessionState& state, Emitter& out) {
  const std::string& name = s.option;
  if (name == "TEXTSIZE") {
    // 0 is the server's default of 4 KB; a negative size is no limit.
    state.textsize = s.option_number == 0  ? 4096
                     : s.option_number < 0 ? 2147483647
                                           : s.option_number;
  } else if (name == "DATEFIRST") {
    if (s.option_number < 1 || s.option_number > 7) {
      throw SqlError(2742, 16, 1,
                     "SET DATEFIRST " + std::to_string(s.option_number) + " is out of range.");
    }
    state.datefirst = static_cast<int>(s.option_number);
  } else if (name == "LOCK_TIMEOUT") {
    state.lock_timeout = s.option_number;
  } else if (name == "DEADLOCK_PRIORITY") {
    state.deadlock_priority = static_cast<int>(s.option_number);
  } else if (name == "TRANSACTION") {
    state.isolation_level = s.option_value;
  } else if (name == "LANGUAGE") {
    // us_english is the only language: its messages and date names are the engine's.
    if (!EqualsNoCase(s.option_value, "us_english") && !EqualsNoCase(s.option_value, "English")) {
      throw SqlError(2732, 16, 1,
                     "Error setting language '" + s.option_value +
                         "': the only language of this server is us_english.");
    }
    state.language = "us_english";
    out.Message(5703, 0, 1, "", s.line, "Changed language setting to us_english.");
  } else if (name == "DATEFORMAT") {
    // Dates in text are read month first; another order is refused rather than misread.
    if (!EqualsNoCase(s.option_value, "mdy")) {
      throw SqlError(2741, 16, 1,
                     "SET DATEFORMAT date order '" + s.option_value +
                         "' is not supported: dates are read in the order mdy.");
    }
    state.dateformat = "mdy";
  } else {
    SetSwitch(name, s.option_on, state);
    for (const std::string& more : s.more_options) SetSwitch(more, s.option_on, state);
  }
}

void UseDatabase(const Statement& s, SessionState& state, Emitter& out) {
  if (!EqualsNoCase(s.option_value, "master")) {
    throw SqlError(911, 16, 1,
                   "Database '" + s.option_value +
                       "' does not exist. Make sure that the name is entered correctly.");
  }
  state.database = "master";
  out.DatabaseChanged(state.database);
  out.Message(5701, 0, 2, "", s.line, "Changed database context to 'master'.");
}

void RunTransaction(const Statement& s, SessionState& state) {
  if (s.option_value == "BEGIN") {
    ++state.trancount;
  } else if (state.trancount == 0) {
    bool commit = s.option_value == "COMMIT";
    throw SqlError(commit ? 3902 : 3903, 16, 1,
                   std::string("The ") + (commit ? "COMMIT" : "ROLLBACK") +
                       " TRANSACTION request has no corresponding BEGIN TRANSACTION.");
  } else if (s.option_value == "COMMIT") {
    --state.trancount;
  } else {
    state.trancount = 0;
  }
}

}  // namespace dunmarrow::tsql
