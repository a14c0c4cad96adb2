// Reads batches line by line: a line holding only GO (any case, optionally with a count)
// ends the batch, which then runs that many times.
#pragma once

#include <functional>
#include <string>

namespace dunmarrow::host {

class BatchReader {
 public:
  // Called for each batch with its text, the GO line that ended it ("" at the end of the
  // input) and the repeat count; returns false to stop reading.
  using Runner =
      std::function<bool(const std::string& text, const std::string& go_line, int count)>;

  explicit BatchReader(Runner runner) : runner_(std::move(runner)) {}

  // Feeds one line (without its line end); false once the runner asked to stop.
  bool Feed(const std::string& line);
  // Ends the input: runs what is left. False once the runner asked to stop.
  bool Finish();
  // The bytes of the batch read so far.
  size_t PendingBytes() const { return batch_.size(); }

 private:
  Runner runner_;
  std::string batch_;
  bool stopped_ = false;
};

// The count of a GO line ("GO", "go 3"), or 0 when the line is not one.
int GoCount(const std::string& line);

}  // namespace dunmarrow::host
