// The compression buffers and their registry: handles counted from 1, each buffer owned by
// the login that made it and counted against its limit, the registry made and freed whole.
#include "procs/compress/zbuffer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "platform/windows.h"
#include "procs/compress/zlib_block.h"
#include "runtime/failure.h"
#include "runtime/xp_lock.h"

namespace dunmarrow {

namespace {

ZBufferRegistry* registry = nullptr;

ZBufferRegistry& Registry() {
  if (!registry) throw Exception("The compression buffers are not set up");
  return *registry;
}

}  // namespace

void ZBuffer::Write(const uint8_t* bytes, size_t length) {
  if (length == 0) return;
  try {
    // The new content is built beside the old one, so that readers holding the old content
    // never see a half-written buffer.
    auto grown = std::make_shared<Bytes>();
    size_t old_size = content_ ? content_->size() : 0;
    grown->reserve(std::max(old_size, length));
    grown->assign(bytes, bytes + length);
    if (old_size > length) grown->insert(grown->end(), content_->begin() + length, content_->end());
    content_ = std::move(grown);
  } catch (const std::bad_alloc&) {
    throw Exception(kStreamExpandMessage);
  } catch (const std::length_error&) {
    throw Exception(kStreamExpandMessage);
  }
}

ZBuffer::Content ZBuffer::Read() const {
  return content_ ? content_ : std::make_shared<const Bytes>();
}

ZBufferUser CurrentZBufferUser() {
  ZBufferUser user;
  WCHAR name[257];  // the longest user name and its terminator
  DWORD size = sizeof name / sizeof name[0];
  if (GetUserNameW(name, &size) && size > 0) user.name.assign(name, name + size - 1);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION job{};
  if (QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &job, sizeof job,
                                nullptr) &&
      (job.BasicLimitInformation.LimitFlags & JOB_OBJECT_LIMIT_JOB_MEMORY)) {
    user.limit = job.JobMemoryLimit;
  }
  return user;
}

ZBufferRegistry::Entry ZBufferRegistry::Add(const std::u16string& owner) {
  auto buffer = std::make_shared<ZBuffer>();
  // Handles count up from 1; after a wrap-around those still in use, 0 and -1 are skipped.
  int32_t handle;
  do {
    handle = static_cast<int32_t>(next_handle_++);
  } while (handle == 0 || handle == -1 || buffers_.count(handle) != 0);
  buffers_.emplace(handle, Slot{buffer, owner});
  return {handle, std::move(buffer)};
}

std::shared_ptr<ZBuffer> ZBufferRegistry::Find(int32_t handle, const std::u16string& owner) const {
  auto found = buffers_.find(handle);
  if (found == buffers_.end() || found->second.owner != owner) return nullptr;
  return found->second.buffer;
}

void ZBufferRegistry::Write(int32_t handle, const ZBufferUser& user, const uint8_t* bytes,
                            size_t length) {
  std::shared_ptr<ZBuffer> buffer = Find(handle, user.name);
  if (!buffer) throw Exception("No compression buffer has the handle " + std::to_string(handle));
  uint64_t before = buffer->Size();
  uint64_t after = std::max<uint64_t>(before, length);
  uint64_t held = Held(user.name);
  if (user.limit != 0 && held - before + after > user.limit) throw Exception(kStreamExpandMessage);
  buffer->Write(bytes, length);
  if (after != before) held_[user.name] = held - before + after;
}

bool ZBufferRegistry::Remove(int32_t handle, const std::u16string& owner) {
  std::shared_ptr<ZBuffer> buffer = Find(handle, owner);
  if (!buffer) return false;
  uint64_t left = Held(owner) - buffer->Size();
  if (left == 0) {
    held_.erase(owner);
  } else {
    held_[owner] = left;
  }
  buffers_.erase(handle);
  return true;
}

uint64_t ZBufferRegistry::Held(const std::u16string& owner) const {
  auto found = held_.find(owner);
  return found == held_.end() ? 0 : found->second;
}

void CreateZBufferRegistry() {
  XpLockGuard guard;
  delete registry;
  registry = new ZBufferRegistry();
}

void DestroyZBufferRegistry() {
  XpLockGuard guard;
  delete registry;
  registry = nullptr;
}

ZBufferRegistry::Entry RegisterZBuffer(const ZBufferUser& user) {
  XpLockGuard guard;
  return Registry().Add(user.name);
}

void WriteZBufferSeed(const ZBufferUser& user, int32_t handle, const uint8_t* bytes,
                      size_t length) {
  XpLockGuard guard;
  Registry().Write(handle, user, bytes, length);
}

ZBuffer::Content ReadZBuffer(const ZBufferUser& user, int32_t handle) {
  XpLockGuard guard;
  std::shared_ptr<ZBuffer> buffer = Registry().Find(handle, user.name);
  if (!buffer) throw Exception("No compression buffer has the handle " + std::to_string(handle));
  return buffer->Read();
}

int32_t ZBufferRoom(const ZBufferUser& user) {
  if (user.limit == 0) return kMaxBlockLength;
  XpLockGuard guard;
  uint64_t held = Registry().Held(user.name);
  uint64_t room = user.limit > held ? user.limit - held : 0;
  return static_cast<int32_t>(std::min<uint64_t>(room, kMaxBlockLength));
}

void CloseZBuffer(const ZBufferUser& user, int32_t handle) {
  std::shared_ptr<ZBuffer> closed;
  {
    XpLockGuard guard;
    closed = Registry().Find(handle, user.name);
    Registry().Remove(handle, user.name);
  }
  // The buffer is released here, after the lock: readers that hold its content keep it.
}

size_t ZBufferCount() {
  XpLockGuard guard;
  return registry ? registry->Count() : 0;
}

}  // namespace dunmarrow
