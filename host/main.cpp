// dunmarrow: runs T-SQL batches against the extended procedures of a module, with the output
// of sqlcmd.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "host/drive_root.h"
#include "host/options.h"
#include "host/script.h"
#ifdef DUNMARROW_SERVER
#include "server/commands.h"
#endif
#include "tsql/errors.h"
#include "tsql/procedures.h"
#include "tsql/session.h"
#include "tsql/text.h"

#ifndef DUNMARROW_DEFAULT_MODULE
#define DUNMARROW_DEFAULT_MODULE "Dunmarrow.dll"
#endif

namespace dunmarrow::host {
namespace {

// UTF-8 text of an input: a UTF-16LE file with its byte-order mark is converted, a UTF-8
// byte-order mark dropped.
std::string DecodeInput(std::string bytes) {
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF &&
      static_cast<uint8_t>(bytes[1]) == 0xFE) {
    std::u16string wide;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      wide += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                    (static_cast<uint8_t>(bytes[i + 1]) << 8));
    }
    return WideToUtf8(wide);
  }
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
  return bytes;
}

// A script file, a -Q text or one batch of standard input larger than this is refused: the
// host holds a batch whole in memory.
constexpr size_t kMaxScriptBytes = 64 * 1024 * 1024;

void ScriptTooLarge(const std::string& what) {
  std::cerr << "dunmarrow: " << what << " is larger than " << (kMaxScriptBytes >> 20) << " MiB\n";
}

// The bytes of an input file, at most kMaxScriptBytes of them; false after a message when it
// cannot be read (missing, a directory) or is larger.
bool ReadInputFile(const std::string& name, std::string& bytes) {
  std::error_code error;
  if (std::filesystem::is_directory(name, error)) {
    std::cerr << "dunmarrow: cannot read the input file '" << name << "'\n";
    return false;
  }
  std::ifstream in(name, std::ios::binary);
  if (!in) {
    std::cerr << "dunmarrow: cannot read the input file '" << name << "'\n";
    return false;
  }
  bytes.clear();
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    if (bytes.size() + static_cast<size_t>(in.gcount()) > kMaxScriptBytes) {
      ScriptTooLarge("the input file '" + name + "'");
      return false;
    }
    bytes.append(buffer, static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) {
    std::cerr << "dunmarrow: cannot read the input file '" << name << "'\n";
    return false;
  }
  return true;
}

// Feeds the text line by line; false once the reader stopped.
bool FeedText(BatchReader& reader, const std::string& text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string line =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!reader.Feed(line)) return false;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return reader.Finish();
}

int Run(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  std::vector<std::string> args(argv + 1, argv + argc);
#ifdef DUNMARROW_SERVER
  if (!args.empty() && (args[0] == "serve" || args[0] == "login")) {
    std::vector<std::string> rest(args.begin() + 1, args.end());
    return args[0] == "serve" ? server::ServeCommand(rest, DUNMARROW_DEFAULT_MODULE)
                              : server::LoginCommand(rest);
  }
#endif
  std::string error;
  auto options = ParseOptions(args, DUNMARROW_DEFAULT_MODULE, error);
  if (!options) {
    std::cerr << "dunmarrow: " << error << "\n" << Usage();
    return 1;
  }
  if (options->help) {
    std::cout << Usage();
    return 0;
  }
  std::string warning = PrepareDriveRoot(options->drive_root);
  if (!warning.empty()) std::cerr << "dunmarrow: " << warning << "\n";

  std::unique_ptr<std::ofstream> file;
  std::ostream* out = &std::cout;
  if (options->output) {
    file = std::make_unique<std::ofstream>(*options->output, std::ios::binary);
    if (!*file) {
      std::cerr << "dunmarrow: cannot write " << *options->output << "\n";
      return 1;
    }
    out = file.get();
  }

  ProcedureRegistry registry;
  try {
    registry.LoadModule(options->module);
  } catch (const SqlError& e) {
    std::cerr << "dunmarrow: " << e.text << "\n";
    return 1;
  }

  SqlcmdOutput output(*out, options->output_options);
  SessionState state;
  state.trace = options->trace;
  Session session(registry, state);
  bool failed = false;
  BatchReader reader([&](const std::string& text, const std::string& go_line, int count) {
    if (options->echo) {
      *out << text;
      if (!go_line.empty()) *out << go_line << "\n";
    }
    for (int i = 0; i < count; ++i) {
      if (session.RunBatch(text, output)) failed = true;
      if (failed && options->stop_on_error) return false;
    }
    out->flush();
    return true;
  });

  if (options->query) {
    if (options->query->size() > kMaxScriptBytes) {
      ScriptTooLarge("the query");
      return 1;
    }
    FeedText(reader, DecodeInput(*options->query));
  } else if (!options->inputs.empty()) {
    for (const std::string& name : options->inputs) {
      std::string bytes;
      if (!ReadInputFile(name, bytes)) return 1;
      if (!FeedText(reader, DecodeInput(std::move(bytes)))) break;
    }
  } else {
    // Standard input runs each batch as soon as its GO arrives. Lines are cut from blocks
    // read as they come, so that no line or batch grows beyond the limit.
    std::string line;
    bool first = true;
    bool going = true;
    char buffer[65536];
    auto feed_line = [&] {
      if (first && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
      first = false;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      going = reader.Feed(line);
      line.clear();
    };
    size_t read;
    while (going && (read = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
      for (size_t start = 0; going && start < read;) {
        const char* end = static_cast<const char*>(std::memchr(buffer + start, '\n', read - start));
        size_t stop = end ? static_cast<size_t>(end - buffer) : read;
        line.append(buffer + start, stop - start);
        if (line.size() + reader.PendingBytes() > kMaxScriptBytes) {
          ScriptTooLarge("a batch of standard input");
          out->flush();
          return 1;
        }
        start = stop + 1;
        if (end) feed_line();
      }
    }
    if (going && !line.empty()) feed_line();
    if (going) reader.Finish();
  }
  out->flush();
  return failed && options->stop_on_error ? 1 : 0;
}

}  // namespace
}  // namespace dunmarrow::host

int main(int argc, char** argv) {
  return dunmarrow::host::Run(argc, argv);
}
