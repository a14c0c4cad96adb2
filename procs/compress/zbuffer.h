// Compression buffers: in-memory byte blocks that live between calls, registered in the
// process-wide ZBufferRegistry under XpLock and named by 32-bit handles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace dunmarrow {

inline constexpr const char kStreamExpandMessage[] = "Out of memory while expanding memory stream";

class ZBuffer {
 public:
  using Bytes = std::vector<uint8_t>;
  // The content as it is at one moment. A holder keeps reading it safely while the buffer is
  // written or closed: the content is never changed in place.
  using Content = std::shared_ptr<const Bytes>;

  // Writes the bytes at offset 0, growing the buffer as needed. Raises "Out of memory while
  // expanding memory stream" when it cannot grow. Call under XpLock.
  void Write(const uint8_t* bytes, size_t length);
  // Call under XpLock.
  Content Read() const;

 private:
  Content content_;
};

// The owning list of live buffers. Every member is called under XpLock.
class ZBufferRegistry {
 public:
  struct Entry {
    int32_t handle;
    std::shared_ptr<ZBuffer> buffer;
  };

  // Creates an empty buffer and registers it under a new handle: never 0 or -1, and unique
  // among the live buffers.
  Entry Add();
  // The live buffer of a handle, or null.
  std::shared_ptr<ZBuffer> Find(int32_t handle) const;
  // Takes the buffer out of the registry and releases it; false when none has the handle.
  bool Remove(int32_t handle);
  size_t Count() const { return buffers_.size(); }

 private:
  std::map<int32_t, std::shared_ptr<ZBuffer>> buffers_;
  uint32_t next_handle_ = 1;
};

// Load and unload steps: unloading releases every buffer still registered.
void CreateZBufferRegistry();
void DestroyZBufferRegistry();

// The procedures' access to the module's registry; each takes XpLock for its work.
ZBufferRegistry::Entry RegisterZBuffer();
void WriteZBufferSeed(ZBuffer& buffer, const uint8_t* bytes, size_t length);
// The content of a live buffer; raises a failure naming the handle when none has it.
ZBuffer::Content ReadZBuffer(int32_t handle);
// Releases the buffer of the handle; a handle that names no buffer changes nothing.
void CloseZBuffer(int32_t handle);
// The number of registered buffers.
size_t ZBufferCount();

}  // namespace dunmarrow
