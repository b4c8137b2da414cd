#include "views/SourceListView.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>
#include <map>
#include <unordered_set>

#include "base/Text.h"
#include "model/FeedsManager.h"
#include "model/TreeOrder.h"
#include "update/UpdateCycle.h"
#include "views/Desktop.h"
#include "views/ReadingKeys.h"
#include "views/SourceTreeItem.h"
#include "views/ViewText.h"

namespace qb {

namespace {

// Groups nested deeper than this are not shown; only a damaged file whose
// lists form a cycle gets there.
constexpr int kMaxDepth = 256;

QIcon NodeIcon(CSourceListView::NodeKind kind) {
  switch (kind) {
    case CSourceListView::NodeKind::Root: return QIcon(QStringLiteral(":/icons/root.png"));
    case CSourceListView::NodeKind::Group: return QIcon(QStringLiteral(":/icons/group.png"));
    case CSourceListView::NodeKind::Starred: return QIcon(QStringLiteral(":/icons/starred.png"));
    default: return QIcon(QStringLiteral(":/icons/source.png"));
  }
}

}  // namespace

CSourceListView::CSourceListView(const CFeedsManager& model, IDesktop& desktop, QWidget* parent)
    : QTreeWidget(parent), m_model(model), m_desktop(desktop) {
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setItemDelegate(NewLabelDelegate());
  setDragEnabled(true);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDropIndicatorShown(false);
  setDragDropMode(QAbstractItemView::DragDrop);
  setIconSize(QSize(16, 16));
  // The one column is as wide as the longest label: the tree scrolls
  // sideways rather than cut a label short.
  header()->setStretchLastSection(false);
  header()->setSectionResizeMode(QHeaderView::Fixed);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  connect(this, &QTreeWidget::itemSelectionChanged, this, &CSourceListView::OnSelectionChanged);
  connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
    OnExpandedChanged(item, true);
    FitColumn();
  });
  connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
    OnExpandedChanged(item, false);
    FitColumn();
  });
}

CSourceListView::~CSourceListView() {
  disconnect(this, nullptr, this, nullptr);
  blockSignals(true);
}

const CFeedsManager& CSourceListView::Model() const { return m_model; }

void CSourceListView::SetSourceStates(SourceStateLookup states) {
  m_sourceStates = std::move(states);
  UpdateAllDecorations();
}

ObjectId CSourceListView::IdOf(const QTreeWidgetItem* item) {
  return item == nullptr ? 0 : item->data(0, CSourceTreeItem::kIdRole).toUInt();
}

CSourceListView::NodeKind CSourceListView::KindOf(const QTreeWidgetItem* item) const {
  if (item == nullptr) return NodeKind::None;
  if (item == m_root) return NodeKind::Root;
  const ObjectId id = IdOf(item);
  if (Model().GetGroup(id) != nullptr) return NodeKind::Group;
  if (Model().GetFeedSource(id) != nullptr) return NodeKind::Source;
  if (id == kStarredNode && item->parent() == m_root) return NodeKind::Starred;
  return NodeKind::None;
}

std::u16string CSourceListView::NameOf(ObjectId id) const {
  if (const CGroup* g = Model().GetGroup(id)) return g->m_name;
  if (const CFeedSource* s = Model().GetFeedSource(id)) return s->m_title;
  if (id == kStarredNode) return kStarredName;
  return std::u16string();
}

void CSourceListView::InitialUpdate() { Fill(); }

QTreeWidgetItem* CSourceListView::SelectedItem() const {
  const QList<QTreeWidgetItem*> items = selectedItems();
  return items.isEmpty() ? nullptr : items.front();
}

std::optional<ObjectId> CSourceListView::SelectedNode() const {
  const QTreeWidgetItem* item = SelectedItem();
  if (item == nullptr) return std::nullopt;
  return IdOf(item);
}

QTreeWidgetItem* CSourceListView::FindItem(ObjectId id) const {
  if (auto it = m_itemById.find(id); it != m_itemById.end()) return it->second;
  std::vector<QTreeWidgetItem*> stack;
  for (int i = topLevelItemCount() - 1; i >= 0; --i) stack.push_back(topLevelItem(i));
  while (!stack.empty()) {
    QTreeWidgetItem* item = stack.back();
    stack.pop_back();
    if (IdOf(item) == id) {
      m_itemById[id] = item;
      return item;
    }
    for (int i = item->childCount() - 1; i >= 0; --i) stack.push_back(item->child(i));
  }
  return nullptr;
}

// --- filling and refreshing

QTreeWidgetItem* CSourceListView::NewItem(QTreeWidgetItem* parent, ObjectId id, NodeKind kind) {
  auto* item = new CSourceTreeItem(Model(), id, NodeIcon(kind));
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (kind == NodeKind::Group || kind == NodeKind::Source)
    flags |= Qt::ItemIsEditable | Qt::ItemIsDragEnabled;
  if (kind == NodeKind::Group || kind == NodeKind::Root) flags |= Qt::ItemIsDropEnabled;
  item->setFlags(flags);
  m_itemById[id] = item;
  if (parent != nullptr) {
    parent->addChild(item);
  } else {
    addTopLevelItem(item);
  }
  return item;
}

std::pair<int, int> CSourceListView::CountsOf(ObjectId id) const {
  std::pair<int, int> counts;
  if (m_counts == nullptr || id == kStarredNode) {
    // The counts the model's operations keep for every node.
    const FeedCounts kept = Model().Counts(id);
    counts = {kept.unread, kept.read};
  } else if (auto it = m_counts->find(id); it != m_counts->end()) {
    counts = it->second;
  }
  return counts;
}

CSourceListView::Counts CSourceListView::ModelCounts() const {
  Counts counts;
  for (const auto& [id, c] : Model().CountAll()) counts.emplace(id, std::make_pair(c.unread, c.read));
  return counts;
}

void CSourceListView::UpdateAppearance(QTreeWidgetItem* item) {
  const NodeKind kind = KindOf(item);
  if (kind != NodeKind::Group && kind != NodeKind::Source && kind != NodeKind::Starred) return;
  const ObjectId id = IdOf(item);
  const auto [unread, read] = CountsOf(id);
  const QString label = NodeLabel(NameOf(id), unread, read);
  if (item->text(0) != label) item->setText(0, label);
  const bool bold = unread > 0;
  if (item->font(0).bold() != bold) {
    QFont font = item->font(0);
    font.setBold(bold);
    item->setFont(0, font);
  }
  if (kind == NodeKind::Source || kind == NodeKind::Group) UpdateDecoration(item);
}

void CSourceListView::ApplyExpansion(QTreeWidgetItem* item) {
  bool expand = true;
  if (item != m_root) {
    const CGroup* g = Model().GetGroup(IdOf(item));
    if (g == nullptr) return;
    expand = g->m_expanded;
  }
  if (item->isExpanded() == expand) return;
  m_settingExpansion = true;
  item->setExpanded(expand);
  m_settingExpansion = false;
}

void CSourceListView::SortChildren(QTreeWidgetItem* item) {
  if (item->childCount() > 1) item->sortChildren(0, Qt::AscendingOrder);
}

void CSourceListView::Fill() {
  QTreeWidgetItem* selected = SelectedItem();
  const ObjectId selectedId = IdOf(selected);
  const ObjectId parentId = selected != nullptr ? IdOf(selected->parent()) : 0;
  {
    const QSignalBlocker blocker(this);
    clear();
    m_itemById.clear();
    m_root = nullptr;
  }
  m_root = NewItem(nullptr, 0, NodeKind::Root);
  m_root->setText(0, QStringLiteral("Feed Sources"));
  // The model's walk in display order makes the items already sorted.
  std::vector<QTreeWidgetItem*> open{m_root};
  TreeVisitor visitor;
  visitor.enterGroup = [&](const CGroup& g, size_t depth) {
    // A damaged file's groups nested deeper than this are not shown.
    QTreeWidgetItem* parent = depth < static_cast<size_t>(kMaxDepth) ? open.back() : nullptr;
    QTreeWidgetItem* item = parent != nullptr ? NewItem(parent, g.m_id, NodeKind::Group) : nullptr;
    if (item != nullptr) UpdateAppearance(item);
    open.push_back(item);
  };
  visitor.source = [&](const CFeedSource& s, size_t) {
    if (open.back() != nullptr) UpdateAppearance(NewItem(open.back(), s.m_id, NodeKind::Source));
  };
  visitor.leaveGroup = [&](const CGroup&, size_t) {
    if (QTreeWidgetItem* item = open.back()) ApplyExpansion(item);
    open.pop_back();
  };
  VisitInDisplayOrder(Model(), visitor);
  UpdateAppearance(NewItem(m_root, kStarredNode, NodeKind::Starred));
  ApplyExpansion(m_root);
  QTreeWidgetItem* target = FindItem(selectedId);
  if (target == nullptr) target = FindItem(parentId);
  if (target == nullptr) target = m_root;
  SelectItem(target);
  RefreshAll();
}

QTreeWidgetItem* CSourceListView::AddItem(QTreeWidgetItem* parent, ObjectId id, NodeKind kind) {
  const NodeKind parentKind = KindOf(parent);
  QTreeWidgetItem* item = nullptr;
  if (kind == NodeKind::Group && (parentKind == NodeKind::Group || parentKind == NodeKind::Root)) {
    if (Model().GetGroup(id) != nullptr) item = NewItem(parent, id, NodeKind::Group);
  } else if (kind == NodeKind::Source && parentKind == NodeKind::Group) {
    if (Model().GetFeedSource(id) != nullptr) item = NewItem(parent, id, NodeKind::Source);
  }
  if (item == nullptr) return nullptr;
  // The label carries the counts; the weight is the full refresh's to set.
  const auto [unread, read] = CountsOf(IdOf(item));
  item->setText(0, NodeLabel(NameOf(IdOf(item)), unread, read));
  SortChildren(parent);
  ApplyExpansion(parent);
  return item;
}

void CSourceListView::RefreshAll() {
  if (m_root == nullptr) return;
  const Counts counts = ModelCounts();
  m_counts = &counts;
  RefreshLevel(m_root, Model().RootGroups(), {}, 0);
  SortChildren(m_root);
  RemoveStaleItems();
  m_counts = nullptr;
  FitColumn();
  emit refreshed();
}

void CSourceListView::FitColumn() {
  // At least the viewport's width, so a selected item is highlighted across.
  setColumnWidth(0, std::max(viewport()->width(), sizeHintForColumn(0)));
}

bool CSourceListView::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::Resize) FitColumn();
  return QTreeWidget::viewportEvent(event);
}

void CSourceListView::RefreshLevel(QTreeWidgetItem* item, const IdList& groups,
                                   const IdList& sources, int depth) {
  if (depth > kMaxDepth) return;
  std::map<ObjectId, QTreeWidgetItem*> children;
  for (int i = 0; i < item->childCount(); ++i) children.emplace(IdOf(item->child(i)), item->child(i));
  bool added = false;
  for (ObjectId gid : groups) {
    if (Model().GetGroup(gid) == nullptr || children.count(gid) != 0) continue;
    if (QTreeWidgetItem* child = AddItem(item, gid, NodeKind::Group)) {
      children.emplace(gid, child);
      added = true;
    }
  }
  for (ObjectId sid : sources) {
    if (Model().GetFeedSource(sid) == nullptr || children.count(sid) != 0) continue;
    if (QTreeWidgetItem* child = AddItem(item, sid, NodeKind::Source)) {
      children.emplace(sid, child);
      added = true;
    }
  }
  if (added) ApplyExpansion(item);
  for (const auto& [id, child] : children) {
    const NodeKind kind = KindOf(child);
    if (kind == NodeKind::Group) {
      const CGroup* g = Model().GetGroup(id);
      UpdateAppearance(child);
      ApplyExpansion(child);
      RefreshLevel(child, g->m_childGroups, g->m_sources, depth + 1);
      SortChildren(child);
    } else if (kind == NodeKind::Source || kind == NodeKind::Starred) {
      UpdateAppearance(child);
    }
  }
}

void CSourceListView::RemoveStaleItems() {
  // An item goes when its record has left the model, or when it no longer
  // belongs where it stands (the model moved it), so no node shows twice.
  const CFeedsManager& model = Model();
  std::vector<QTreeWidgetItem*> stale;
  std::vector<QTreeWidgetItem*> stack{m_root};
  while (!stack.empty()) {
    QTreeWidgetItem* item = stack.back();
    stack.pop_back();
    const ObjectId parentId = IdOf(item);
    const CGroup* parentGroup = item == m_root ? nullptr : model.GetGroup(parentId);
    // Sets, so a group of many children is checked in linear time.
    const IdList noGroups;
    const IdList& groupList =
        item == m_root ? model.RootGroups() : (parentGroup ? parentGroup->m_childGroups : noGroups);
    const std::unordered_set<ObjectId> groups(groupList.begin(), groupList.end());
    std::unordered_set<ObjectId> sources;
    if (parentGroup != nullptr) sources.insert(parentGroup->m_sources.begin(), parentGroup->m_sources.end());
    for (int i = 0; i < item->childCount(); ++i) {
      QTreeWidgetItem* child = item->child(i);
      const ObjectId id = IdOf(child);
      bool belongs = item == m_root && id == kStarredNode;
      if (model.GetGroup(id) != nullptr) {
        belongs = groups.count(id) != 0;
      } else if (model.GetFeedSource(id) != nullptr && parentGroup != nullptr) {
        belongs = sources.count(id) != 0;
      }
      if (belongs) {
        stack.push_back(child);
      } else {
        stale.push_back(child);
      }
    }
  }
  for (QTreeWidgetItem* item : stale) RemoveItem(item);
}

void CSourceListView::RemoveItem(QTreeWidgetItem* item) {
  if (item == nullptr || item == m_root) return;
  // Forget remembered items that go with this subtree.
  auto inside = [item](QTreeWidgetItem* p) {
    for (; p != nullptr; p = p->parent())
      if (p == item) return true;
    return false;
  };
  if (inside(m_dragItem)) m_dragItem = nullptr;
  if (inside(m_editItem)) m_editItem = nullptr;
  const bool hadSelection = inside(SelectedItem());
  std::vector<QTreeWidgetItem*> stack{item};
  while (!stack.empty()) {
    QTreeWidgetItem* gone = stack.back();
    stack.pop_back();
    if (auto it = m_itemById.find(IdOf(gone)); it != m_itemById.end() && it->second == gone) m_itemById.erase(it);
    for (int i = 0; i < gone->childCount(); ++i) stack.push_back(gone->child(i));
  }
  delete item;
  // Another item takes the selection, so the list does not go on showing
  // articles of a node that has gone.
  if (hadSelection) SelectItem(currentItem() != nullptr ? currentItem() : m_root);
}

void CSourceListView::SelectItem(QTreeWidgetItem* item) {
  if (item == nullptr) return;
  setCurrentItem(item);
  if (!item->isSelected()) item->setSelected(true);
}

// --- selection, expansion, focus

void CSourceListView::OnSelectionChanged() {
  if (SelectedItem() != nullptr) emit nodeSelected();
}

void CSourceListView::OnExpandedChanged(QTreeWidgetItem* item, bool expanded) {
  if (m_settingExpansion || item == m_root) return;
  const CGroup* g = Model().GetGroup(IdOf(item));
  if (g == nullptr || g->m_expanded == expanded) return;
  emit expansionChanged(g->m_id, expanded);
}

void CSourceListView::focusInEvent(QFocusEvent* event) {
  QTreeWidget::focusInEvent(event);
  emit focusReceived();
}

// --- keyboard and context menus

void CSourceListView::keyPressEvent(QKeyEvent* event) {
  if (!m_editing) {
    // The reading keys work wherever the focus is, as F5 does; the tree
    // gives up finding an item by those three first letters for them.
    const ReadingKey key = ReadingKeyOf(*event);
    if (key != ReadingKey::None) {
      if (key == ReadingKey::ReadOn) {
        emit readOnRequested();
      } else {
        emit unreadRequested(key == ReadingKey::NextUnread);
      }
      event->accept();
      return;
    }
    switch (event->key()) {
      case Qt::Key_F5:
        UpdateAllFeeds();
        event->accept();
        return;
      case Qt::Key_Delete: {
        const NodeKind kind = KindOf(SelectedItem());
        if (kind == NodeKind::Group) {
          DeleteGroup();
        } else if (kind == NodeKind::Source) {
          DeleteFeed();
        }
        event->accept();
        return;
      }
      case Qt::Key_F2:
        StartRename();
        break;
      default:
        break;
    }
  }
  QTreeWidget::keyPressEvent(event);
}

void CSourceListView::contextMenuEvent(QContextMenuEvent* event) {
  if (event->reason() == QContextMenuEvent::Mouse) {
    if (QTreeWidgetItem* item = itemAt(event->pos())) SelectItem(item);
    ShowMenuFor(event->globalPos());
  } else if (QTreeWidgetItem* item = SelectedItem()) {
    ShowMenuFor(viewport()->mapToGlobal(visualItemRect(item).bottomLeft()));
  }
}

void CSourceListView::ShowMenuFor(const QPoint& globalPos) {
  const NodeKind kind = KindOf(SelectedItem());
  QMenu menu(this);
  std::vector<std::pair<QAction*, void (CSourceListView::*)()>> actions;
  // What the model says may be done to the node, here or by asking its
  // account's server, decides what is offered.
  const ObjectId node = SelectedNode().value_or(0);
  const uint32_t offered = m_model.CapabilitiesOf(node) | m_model.ServerEditsOf(node);
  auto add = [&](const char* text, void (CSourceListView::*command)(), uint32_t needs = 0) {
    QAction* action = menu.addAction(QString::fromLatin1(text));
    action->setEnabled((offered & needs) == needs);
    actions.emplace_back(action, command);
  };
  switch (kind) {
    case NodeKind::Root:
      menu.setTitle(QStringLiteral("For Root"));
      add("&Update all feeds", &CSourceListView::UpdateAllFeeds);
      menu.addSeparator();
      add("&Add group", &CSourceListView::AddGroup);
      break;
    case NodeKind::Group:
      if (const CGroup* group = m_model.GetGroup(node); group != nullptr && group->m_account) {
        // Its folders and feeds are the server's: the account itself is
        // synced, shown and removed.
        menu.setTitle(QStringLiteral("For Accounts"));
        add("&Add new feed", &CSourceListView::AddFeed, CFeedsManager::kCanAddInto);
        menu.addSeparator();
        add("&Mark all as read", &CSourceListView::MarkAllRead);
        add("&Sync this account", &CSourceListView::UpdateSelected);
        menu.addSeparator();
        add("&Remove this account", &CSourceListView::RemoveAccount);
        menu.addSeparator();
        add("&Properties", &CSourceListView::ShowProperties);
        break;
      }
      menu.setTitle(QStringLiteral("For Groups"));
      add("&Add new feed", &CSourceListView::AddFeed, CFeedsManager::kCanAddInto);
      menu.addSeparator();
      add("Add new &sub-group", &CSourceListView::AddGroup, CFeedsManager::kCanAddInto);
      // An account's folders are the server's labels, which hold no folders.
      if (m_model.ServerEditsOf(node) != 0) actions.back().first->setEnabled(false);
      menu.addSeparator();
      add("&Rename this group", &CSourceListView::StartRename, CFeedsManager::kCanRename);
      add("&Delete this group", &CSourceListView::DeleteGroup, CFeedsManager::kCanDelete);
      menu.addSeparator();
      add("&Mark all as read", &CSourceListView::MarkAllRead);
      add("&Update this group", &CSourceListView::UpdateSelected);
      break;
    case NodeKind::Source:
      menu.setTitle(QStringLiteral("For Sources"));
      add("&Rename this feed", &CSourceListView::StartRename, CFeedsManager::kCanRename);
      add("&Delete this feed", &CSourceListView::DeleteFeed, CFeedsManager::kCanDelete);
      menu.addSeparator();
      add("&Clear history for this feed", &CSourceListView::ClearHistory, CFeedsManager::kCanClearHistory);
      menu.addSeparator();
      add("&Properties", &CSourceListView::ShowProperties);
      menu.addSeparator();
      add("&Mark all as read", &CSourceListView::MarkAllRead);
      add("&Update this feed", &CSourceListView::UpdateSelected, CFeedsManager::kCanFetch);
      break;
    case NodeKind::Starred:
      menu.setTitle(QStringLiteral("For Starred"));
      add("&Mark all as read", &CSourceListView::MarkAllRead);
      break;
    case NodeKind::None:
      return;
  }
  QAction* chosen = m_desktop.RunPopupMenu(menu, globalPos);
  for (const auto& [action, command] : actions) {
    if (action == chosen) {
      (this->*command)();
      break;
    }
  }
}

// --- the user's gestures

void CSourceListView::UpdateAllFeeds() { emit updateAllRequested(); }

void CSourceListView::AddGroup() {
  QTreeWidgetItem* parent = SelectedItem();
  const NodeKind kind = KindOf(parent);
  if (kind == NodeKind::Root) emit addGroupRequested(0);
  if (kind == NodeKind::Group) emit addGroupRequested(IdOf(parent));
}

void CSourceListView::AddFeed() {
  QTreeWidgetItem* item = SelectedItem();
  if (KindOf(item) == NodeKind::Group) emit addFeedRequested(IdOf(item));
}

void CSourceListView::DeleteFeed() {
  QTreeWidgetItem* item = SelectedItem();
  if (KindOf(item) != NodeKind::Source || KindOf(item->parent()) != NodeKind::Group) return;
  emit deleteSourceRequested(IdOf(item), IdOf(item->parent()));
}

void CSourceListView::DeleteGroup() {
  QTreeWidgetItem* item = SelectedItem();
  if (KindOf(item) != NodeKind::Group || item->parent() == nullptr) return;
  if (const CGroup* group = m_model.GetGroup(IdOf(item)); group != nullptr && group->m_account) {
    emit removeAccountRequested(group->m_id);
    return;
  }
  emit deleteGroupRequested(IdOf(item));
}

void CSourceListView::RemoveAccount() {
  const CGroup* group = m_model.GetGroup(IdOf(SelectedItem()));
  if (KindOf(SelectedItem()) == NodeKind::Group && group != nullptr && group->m_account)
    emit removeAccountRequested(group->m_id);
}

void CSourceListView::ShowProperties() {
  QTreeWidgetItem* item = SelectedItem();
  if (KindOf(item) == NodeKind::Source) emit propertiesRequested(IdOf(item));
  if (KindOf(item) != NodeKind::Group) return;
  if (const CGroup* group = m_model.GetGroup(IdOf(item)); group != nullptr && group->m_account)
    emit accountPropertiesRequested(group->m_id);
}

void CSourceListView::ClearHistory() {
  QTreeWidgetItem* item = SelectedItem();
  if (KindOf(item) == NodeKind::Source) emit clearHistoryRequested(IdOf(item));
}

}  // namespace qb
