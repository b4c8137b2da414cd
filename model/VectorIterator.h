// A forward iterator over an identifier list. The canonical walk:
//   for (VectorIterator<ObjectId> it(list); it.IsValid(); it.Advance()) use(it.Current());
#pragma once

#include <cstddef>
#include <vector>

namespace qb {

template <typename T>
class VectorIterator {
 public:
  // Iterates a list owned elsewhere; the list must outlive the iterator and
  // must not change during the walk.
  explicit VectorIterator(const std::vector<T>& target) : m_target(&target) {}
  // Iterates its own copy of the list.
  explicit VectorIterator(std::vector<T>&& own)
      : m_own(std::move(own)), m_target(&m_own) {}

  VectorIterator(const VectorIterator&) = delete;
  VectorIterator& operator=(const VectorIterator&) = delete;

  size_t Count() const { return m_target->size(); }
  bool IsValid() const { return m_pos < m_target->size(); }
  // The element at the position, or T{} (0 for identifiers) past the end.
  T Current() const { return IsValid() ? (*m_target)[m_pos] : T{}; }
  void Advance() {
    if (IsValid()) ++m_pos;
  }

 private:
  std::vector<T> m_own;
  const std::vector<T>* m_target;
  size_t m_pos = 0;
};

}  // namespace qb
