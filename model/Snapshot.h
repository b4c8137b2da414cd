// An immutable copy of the feed model, taken on the owner's thread and
// written to disk on another. Records are copied; the feed texts the
// articles carry are shared with the live model (they never change), so a
// snapshot of a model of thousands of articles costs little memory.
#pragma once

#include <cstdint>
#include <memory>

#include "model/FeedsManager.h"

namespace qb {

class CModelSnapshot {
 public:
  // An empty snapshot: no model.
  CModelSnapshot() = default;

  // Copies every record of the store and the root list. The copy serialises
  // to exactly the bytes the model would.
  static CModelSnapshot Take(const CFeedsManager& manager);

  bool empty() const { return m_model == nullptr; }
  // REQUIRES: !empty().
  const CFeedsManager& Model() const { return *m_model; }
  // The manager's change count when the snapshot was taken.
  uint64_t ChangeCount() const { return m_changeCount; }

 private:
  std::shared_ptr<const CFeedsManager> m_model;
  uint64_t m_changeCount = 0;
};

}  // namespace qb
