// TComponent, the base of the CryptoAPI component layer (crypto/crypto.h): ownership of
// components by their owner, and the notices one component asks for before another is destroyed.
#include "crypto/component.h"

#include <algorithm>

namespace dunmarrow {

namespace {

void Erase(std::vector<TComponent*>& list, TComponent* component) {
  list.erase(std::remove(list.begin(), list.end(), component), list.end());
}

}  // namespace

TComponent::TComponent(TComponent* owner) : owner_(nullptr) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  // A notice may change the lists (the receiver unlinks itself), so take one at a time.
  while (!notified_.empty()) {
    TComponent* receiver = notified_.back();
    notified_.pop_back();
    Erase(receiver->watched_, this);
    receiver->RemoveNotice(this);
  }
  while (!watched_.empty()) {
    TComponent* other = watched_.back();
    watched_.pop_back();
    Erase(other->notified_, this);
  }
  while (!components_.empty()) {
    TComponent* owned = components_.back();
    delete owned;  // leaves components_ through RemoveComponent
  }
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::FreeNotice(TComponent* other) {
  if (!other || other == this) return;
  if (std::find(other->notified_.begin(), other->notified_.end(), this) != other->notified_.end()) {
    return;
  }
  other->notified_.push_back(this);
  watched_.push_back(other);
}

void TComponent::RemoveFreeNotice(TComponent* other) {
  if (!other) return;
  Erase(other->notified_, this);
  Erase(watched_, other);
}

void TComponent::InsertComponent(TComponent* component) {
  components_.push_back(component);
  component->owner_ = this;
}

void TComponent::RemoveComponent(TComponent* component) {
  Erase(components_, component);
  component->owner_ = nullptr;
}

}  // namespace dunmarrow
