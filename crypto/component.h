// TComponent: the component base of the CryptoAPI layer. A component may have an owner that
// destroys it with itself, and may ask another component for a notice before that one is
// destroyed.
#pragma once

#include <vector>

namespace dunmarrow {

class TComponent {
 public:
  // The owner, when given, destroys this component when it is destroyed itself.
  explicit TComponent(TComponent* owner);
  // Tells every component that asked for a notice (RemoveNotice), destroys the owned
  // components, last first, and leaves the owner.
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }

  // This component asks `other` for a notice before `other` is destroyed; RemoveFreeNotice
  // withdraws the request. Asking twice is asking once.
  void FreeNotice(TComponent* other);
  void RemoveFreeNotice(TComponent* other);

 protected:
  // Called just before `component`, from which a notice was asked, is destroyed.
  virtual void RemoveNotice(TComponent* component) { (void)component; }

 private:
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);

  TComponent* owner_;
  std::vector<TComponent*> components_;  // owned
  // Components that asked this one for a notice, and the components this one asked. Both
  // sides are kept so that neither list ever holds a destroyed component.
  std::vector<TComponent*> notified_;
  std::vector<TComponent*> watched_;
};

}  // namespace dunmarrow
