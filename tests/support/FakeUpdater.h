// An updater for window tests: records every update asked for and answers
// with the test's function, or passes the call on to another updater (the
// real one, for tests against a loopback server).
#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "app/CoreBridge.h"

namespace qb::test {

class FakeUpdater : public IFeedUpdater {
 public:
  explicit FakeUpdater(IFeedUpdater* passOn = nullptr) : m_passOn(passOn) {}

  bool UpdateAll(CFeedsManager& model, bool force) override {
    updateAllCalls.push_back(force);
    if (updateAll) return updateAll(model, force);
    return m_passOn != nullptr ? m_passOn->UpdateAll(model, force) : updateAllResult;
  }
  bool UpdateSource(CFeedsManager& model, ObjectId source, bool force) override {
    updateSourceCalls.push_back({source, force});
    if (updateSource) return updateSource(model, source, force);
    return m_passOn != nullptr && m_passOn->UpdateSource(model, source, force);
  }

  std::function<bool(CFeedsManager&, bool force)> updateAll;
  std::function<bool(CFeedsManager&, ObjectId source, bool force)> updateSource;
  bool updateAllResult = false;
  std::vector<bool> updateAllCalls;
  std::vector<std::pair<ObjectId, bool>> updateSourceCalls;

 private:
  IFeedUpdater* m_passOn;
};

}  // namespace qb::test
