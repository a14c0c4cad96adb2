// The command-line host's options, parsed in the manner of sqlcmd (host/options.h).
#include "host/options.h"

namespace dunmarrow::host {

const char* Usage() {
  return "usage: dunmarrow [options]\n"
         "Runs T-SQL batches against the extended procedures of a module.\n"
         "\n"
         "  -Q \"text\"         run the batches of the text, then exit\n"
         "  -i file[,file]    run the batches of the files (the option may repeat)\n"
         "                    (neither: the batches come from standard input)\n"
         "  -o file           write the output to the file\n"
         "  -b                stop at the first batch with an error; exit status 1\n"
         "  -e                echo each batch before its output\n"
         "  -W                remove trailing blanks; columns are not padded\n"
         "  -y width          width of (max), text, ntext and image columns (default 256)\n"
         "  -Y width          largest width of the other text columns (default: none)\n"
         "  -m, --module path the module to load (default: the built Dunmarrow module)\n"
         "  --trace           print every ODS event of every call, in order\n"
         "  --drive-root dir  the folder under which drive letters are mapped\n"
         "  -?, --help        this text\n"
         "\n"
         "GO on a line of its own ends a batch; GO n runs it n times.\n";
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args,
                                    const std::string& default_module, std::string& error) {
  Options o;
  o.module = default_module;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        error = "option " + a + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    auto width = [&](uint32_t& out) {
      std::string text;
      if (!value(text)) return false;
      if (text.empty() || text.size() > 7 ||
          text.find_first_not_of("0123456789") != std::string::npos) {
        error = "option " + a + " needs a width from 0 to 9999999, not '" + text + "'";
        return false;
      }
      out = static_cast<uint32_t>(std::stoul(text));
      return true;
    };
    std::string text;
    if (a == "-Q") {
      if (!value(text)) return std::nullopt;
      o.query = text;
    } else if (a == "-i") {
      if (!value(text)) return std::nullopt;
      size_t start = 0;
      for (;;) {
        size_t comma = text.find(',', start);
        std::string name =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!name.empty()) o.inputs.push_back(name);
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
    } else if (a == "-o") {
      if (!value(text)) return std::nullopt;
      o.output = text;
    } else if (a == "-m" || a == "--module") {
      if (!value(o.module)) return std::nullopt;
    } else if (a == "--drive-root") {
      if (!value(text)) return std::nullopt;
      o.drive_root = text;
    } else if (a == "-b") {
      o.stop_on_error = true;
    } else if (a == "-e") {
      o.echo = true;
    } else if (a == "-W") {
      o.output_options.trim = true;
    } else if (a == "-y") {
      if (!width(o.output_options.max_var_width)) return std::nullopt;
    } else if (a == "-Y") {
      if (!width(o.output_options.max_fixed_width)) return std::nullopt;
    } else if (a == "--trace") {
      o.trace = true;
    } else if (a == "-?" || a == "-h" || a == "--help") {
      o.help = true;
    } else {
      error = "unknown option '" + a + "'";
      return std::nullopt;
    }
  }
  if (o.query && !o.inputs.empty()) {
    error = "the -Q and -i options are mutually exclusive";
    return std::nullopt;
  }
  return o;
}

}  // namespace dunmarrow::host
