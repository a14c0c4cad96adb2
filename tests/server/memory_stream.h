// Two ByteStreams joined back to back in memory, for a test client that talks to a Connection
// on another thread: what one end writes, the other reads.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "server/byte_stream.h"

namespace dunmarrow::server::testing {

class MemoryPipe {
 public:
  void Write(const uint8_t* data, size_t size) {
    std::lock_guard<std::mutex> hold(lock_);
    if (closed_) throw StreamError("the other end closed");
    bytes_.insert(bytes_.end(), data, data + size);
    ready_.notify_all();
  }
  size_t Read(uint8_t* data, size_t size, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> hold(lock_);
    auto ready = [&] { return !bytes_.empty() || closed_; };
    if (timeout.count() == 0) {
      ready_.wait(hold, ready);
    } else if (!ready_.wait_for(hold, timeout, ready)) {
      throw StreamTimeout("read timed out");
    }
    size_t n = std::min(size, bytes_.size());
    std::copy(bytes_.begin(), bytes_.begin() + static_cast<ptrdiff_t>(n), data);
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<ptrdiff_t>(n));
    return n;
  }
  bool Ready() {
    std::lock_guard<std::mutex> hold(lock_);
    return !bytes_.empty() || closed_;
  }
  void Close() {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
    ready_.notify_all();
  }

 private:
  std::mutex lock_;
  std::condition_variable ready_;
  std::deque<uint8_t> bytes_;
  bool closed_ = false;
};

// One end: reads `in`, writes `out`. Closing it ends both directions.
class MemoryStream : public ByteStream {
 public:
  MemoryStream(std::shared_ptr<MemoryPipe> in, std::shared_ptr<MemoryPipe> out)
      : in_(std::move(in)), out_(std::move(out)) {}
  size_t Read(uint8_t* data, size_t size) override { return in_->Read(data, size, timeout_); }
  void Write(const uint8_t* data, size_t size) override { out_->Write(data, size); }
  bool ReadReady() override { return in_->Ready(); }
  void SetReadTimeout(std::chrono::milliseconds timeout) override { timeout_ = timeout; }
  void Close() {
    in_->Close();
    out_->Close();
  }

 private:
  std::shared_ptr<MemoryPipe> in_, out_;
  std::chrono::milliseconds timeout_{0};
};

struct StreamPair {
  StreamPair()
      : to_server(std::make_shared<MemoryPipe>()),
        to_client(std::make_shared<MemoryPipe>()),
        server(to_server, to_client),
        client(to_client, to_server) {}
  std::shared_ptr<MemoryPipe> to_server, to_client;
  MemoryStream server, client;
};

}  // namespace dunmarrow::server::testing
