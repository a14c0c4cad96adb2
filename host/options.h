// The command line, in the manner of sqlcmd where the options fit.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/sqlcmd_output.h"

namespace dunmarrow::host {

struct Options {
  std::optional<std::string> query;       // -Q
  std::vector<std::string> inputs;        // -i, in order; none: standard input
  std::optional<std::string> output;      // -o
  std::string module;                     // -m / --module
  std::optional<std::string> drive_root;  // --drive-root
  bool stop_on_error = false;             // -b
  bool echo = false;                      // -e
  bool trace = false;                     // --trace
  bool help = false;                      // -? / --help
  OutputOptions output_options;           // -W, -y, -Y
};

// Parses the arguments after the program name; on a bad command line returns nullopt and
// sets `error`.
std::optional<Options> ParseOptions(const std::vector<std::string>& args,
                                    const std::string& default_module, std::string& error);

const char* Usage();

}  // namespace dunmarrow::host
