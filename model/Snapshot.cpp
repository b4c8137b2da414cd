#include "model/Snapshot.h"

#include "model/Feed.h"
#include "model/FeedSource.h"
#include "model/Group.h"

namespace qb {

namespace {

std::unique_ptr<RSSObject> CopyRecord(const RSSObject& r) {
  switch (r.Type()) {
    case RecordType::Feed: return std::make_unique<CFeed>(static_cast<const CFeed&>(r));
    case RecordType::FeedSource:
      return std::make_unique<CFeedSource>(static_cast<const CFeedSource&>(r));
    case RecordType::Group: return std::make_unique<CGroup>(static_cast<const CGroup&>(r));
  }
  return nullptr;
}

}  // namespace

CModelSnapshot CModelSnapshot::Take(const CFeedsManager& manager) {
  auto copy = std::make_shared<CFeedsManager>();
  copy->SetClock(manager.Clock());
  copy->m_rootGroups = manager.m_rootGroups;
  // A save of the copy must refuse what a save of the model refuses.
  copy->m_unreplaceableFile = manager.m_unreplaceableFile;
  for (const auto& [id, record] : manager.m_storage.IdIndex()) {
    if (std::unique_ptr<RSSObject> r = CopyRecord(*record)) copy->m_storage.Register(std::move(r), id);
  }
  CModelSnapshot snapshot;
  snapshot.m_model = std::move(copy);
  snapshot.m_changeCount = manager.ChangeCount();
  return snapshot;
}

}  // namespace qb
