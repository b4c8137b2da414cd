// Writes records directly, past the operations: for the stores that build a
// model from what they read (the classic data file, the library, the
// command-line tool's JSON form) and for tests and benchmarks that build one
// by hand. Nothing written so is reported or counted; whoever writes loads
// the model whole (FixUpAfterLoad) or calls RebuildIndexes afterwards. The
// program's own changes go through the manager's operations, and the layer
// check keeps this header out of every folder but the stores'.
#pragma once

#include "model/FeedsManager.h"

namespace qb {

class CModelWriter {
 public:
  explicit CModelWriter(CFeedsManager& model) : m_model(model) {}

  CFeed* Feed(ObjectId id) const { return m_model.EditFeed(id); }
  CFeedSource* Source(ObjectId id) const { return m_model.EditSource(id); }
  CGroup* Group(ObjectId id) const { return m_model.EditGroup(id); }

  // A record with a fresh identifier, registered but linked into no list;
  // the caller appends its identifier where it belongs.
  CFeed* NewFeed() const { return m_model.NewFeed(); }
  CFeedSource* NewFeedSource() const { return m_model.NewFeedSource(); }
  CGroup* NewGroup() const { return m_model.NewGroup(); }

  IdList& RootGroups() const { return m_model.m_rootGroups; }
  CObjectStorage& Storage() const { return m_model.m_storage; }

 private:
  CFeedsManager& m_model;
};

}  // namespace qb
