// Compression buffers: in-memory byte blocks that live between calls, registered in the
// process-wide ZBufferRegistry under XpLock and named by 32-bit handles.
//
// Each buffer belongs to the user that made it, as GetUserNameW names the caller: a handle of
// another user's buffer is, to a caller, a handle of no buffer. Each user's buffers together
// may hold at most the memory limit of the caller's job, as QueryInformationJobObject answers
// it (no limit when the process runs in no job or its job sets none); the block routines'
// output counts against what is left. Where one user makes every call (SQL Server on Windows,
// the command-line program), every buffer has that one owner, as before. A server host on Linux
// sets the user of each connection's thread and the per-user cap behind these two calls.
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
  // Call under XpLock.
  size_t Size() const { return content_ ? content_->size() : 0; }

 private:
  Content content_;
};

// Who calls: the owner of the buffers it makes, and the most bytes its buffers may hold
// (0: no limit).
struct ZBufferUser {
  std::u16string name;
  uint64_t limit = 0;
};

// The calling thread's user and limit, from GetUserNameW and QueryInformationJobObject.
ZBufferUser CurrentZBufferUser();

// The owning list of live buffers. Every member is called under XpLock.
class ZBufferRegistry {
 public:
  struct Entry {
    int32_t handle;
    std::shared_ptr<ZBuffer> buffer;
  };

  // Creates an empty buffer of the owner and registers it under a new handle: never 0 or -1,
  // and unique among the live buffers.
  Entry Add(const std::u16string& owner);
  // The live buffer of a handle, when it belongs to the owner; else null.
  std::shared_ptr<ZBuffer> Find(int32_t handle, const std::u16string& owner) const;
  // Writes bytes into the user's buffer of the handle (ZBuffer::Write), first checking that
  // the user's buffers stay within the user's limit: beyond it, raises "Out of memory while
  // expanding memory stream" and changes nothing.
  void Write(int32_t handle, const ZBufferUser& user, const uint8_t* bytes, size_t length);
  // Takes the owner's buffer out of the registry and releases it; false when the owner has
  // none with the handle.
  bool Remove(int32_t handle, const std::u16string& owner);
  // The bytes the owner's buffers hold together.
  uint64_t Held(const std::u16string& owner) const;
  size_t Count() const { return buffers_.size(); }

 private:
  struct Slot {
    std::shared_ptr<ZBuffer> buffer;
    std::u16string owner;
  };
  std::map<int32_t, Slot> buffers_;
  std::map<std::u16string, uint64_t> held_;  // owners holding bytes
  uint32_t next_handle_ = 1;
};

// Load and unload steps: unloading releases every buffer still registered.
void CreateZBufferRegistry();
void DestroyZBufferRegistry();

// The procedures' access to the module's registry; each takes XpLock for its work, and sees
// only the user's own buffers.
ZBufferRegistry::Entry RegisterZBuffer(const ZBufferUser& user);
void WriteZBufferSeed(const ZBufferUser& user, int32_t handle, const uint8_t* bytes, size_t length);
// The content of a live buffer; raises a failure naming the handle when none has it.
ZBuffer::Content ReadZBuffer(const ZBufferUser& user, int32_t handle);
// The most bytes a block routine may give the user now: what the user's limit leaves beside
// the user's buffers, at most the largest block.
int32_t ZBufferRoom(const ZBufferUser& user);
// Releases the buffer of the handle; a handle that names no buffer changes nothing.
void CloseZBuffer(const ZBufferUser& user, int32_t handle);
// The number of registered buffers.
size_t ZBufferCount();

}  // namespace dunmarrow
