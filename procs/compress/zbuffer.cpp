#include "procs/compress/zbuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

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

ZBufferRegistry::Entry ZBufferRegistry::Add() {
  auto buffer = std::make_shared<ZBuffer>();
  // Handles count up from 1; after a wrap-around those still in use, 0 and -1 are skipped.
  int32_t handle;
  do {
    handle = static_cast<int32_t>(next_handle_++);
  } while (handle == 0 || handle == -1 || buffers_.count(handle) != 0);
  buffers_.emplace(handle, buffer);
  return {handle, std::move(buffer)};
}

std::shared_ptr<ZBuffer> ZBufferRegistry::Find(int32_t handle) const {
  auto found = buffers_.find(handle);
  return found == buffers_.end() ? nullptr : found->second;
}

bool ZBufferRegistry::Remove(int32_t handle) {
  return buffers_.erase(handle) != 0;
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

ZBufferRegistry::Entry RegisterZBuffer() {
  XpLockGuard guard;
  return Registry().Add();
}

void WriteZBufferSeed(ZBuffer& buffer, const uint8_t* bytes, size_t length) {
  XpLockGuard guard;
  buffer.Write(bytes, length);
}

ZBuffer::Content ReadZBuffer(int32_t handle) {
  XpLockGuard guard;
  std::shared_ptr<ZBuffer> buffer = Registry().Find(handle);
  if (!buffer) throw Exception("No compression buffer has the handle " + std::to_string(handle));
  return buffer->Read();
}

void CloseZBuffer(int32_t handle) {
  std::shared_ptr<ZBuffer> closed;
  {
    XpLockGuard guard;
    closed = Registry().Find(handle);
    Registry().Remove(handle);
  }
  // The buffer is released here, after the lock: readers that hold its content keep it.
}

size_t ZBufferCount() {
  XpLockGuard guard;
  return registry ? registry->Count() : 0;
}

}  // namespace dunmarrow
