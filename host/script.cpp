// The command-line host's script reader: batches ended by GO lines, with their repeat counts.
#include "host/script.h"

#include "tsql/text.h"

namespace dunmarrow::host {

int GoCount(const std::string& line) {
  size_t start = line.find_first_not_of(" \t\r");
  if (start == std::string::npos || line.size() < start + 2) return 0;
  if (!tsql::EqualsNoCase(line.substr(start, 2), "go")) return 0;
  size_t rest = line.find_first_not_of(" \t\r", start + 2);
  if (rest == std::string::npos) return 1;
  if (rest == start + 2) return 0;  // "goal" is no GO line
  size_t end = line.find_last_not_of(" \t\r");
  std::string count = line.substr(rest, end - rest + 1);
  if (count.size() > 9 || count.find_first_not_of("0123456789") != std::string::npos) return 0;
  int n = std::stoi(count);
  return n > 0 ? n : 0;
}

bool BatchReader::Feed(const std::string& line) {
  if (stopped_) return false;
  int count = GoCount(line);
  if (count == 0) {
    batch_ += line;
    batch_ += '\n';
    return true;
  }
  std::string text;
  text.swap(batch_);
  if (!runner_(text, line, count)) stopped_ = true;
  return !stopped_;
}

bool BatchReader::Finish() {
  if (stopped_) return false;
  std::string text;
  text.swap(batch_);
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return true;
  if (!runner_(text, "", 1)) stopped_ = true;
  return !stopped_;
}

}  // namespace dunmarrow::host
