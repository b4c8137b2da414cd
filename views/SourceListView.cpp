#include "views/SourceListView.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QStyledItemDelegate>
#include <map>
#include <unordered_set>

#include "app/AddGroupDlg.h"
#include "app/AddNewFeedDlg.h"
#include "app/FeedPropertiesDlg.h"
#include "app/Modal.h"
#include "feeds/UpdateCycle.h"
#include "model/FeedsManager.h"
#include "model/Text.h"
#include "views/FeedListView.h"
#include "views/FeedView.h"
#include "views/Shell.h"
#include "views/ViewText.h"

namespace qb {

namespace {

constexpr int kIdRole = Qt::UserRole;
// The counts the label shows.
constexpr int kUnreadRole = Qt::UserRole + 1;
constexpr int kReadRole = Qt::UserRole + 2;
constexpr char kNodeMime[] = "application/x-quillbend-node";
// Groups nested deeper than this are not shown; only a damaged file whose
// lists form a cycle gets there.
constexpr int kMaxDepth = 256;

// Tree items order themselves: groups before sources, names compared with
// only A-Z folded.
class CNodeItem : public QTreeWidgetItem {
 public:
  using QTreeWidgetItem::QTreeWidgetItem;

  bool operator<(const QTreeWidgetItem& other) const override {
    const auto* view = static_cast<const CSourceListView*>(treeWidget());
    if (view == nullptr) return false;
    const CFeedsManager& model = view->Model();
    auto rank = [&](const QTreeWidgetItem& item, std::u16string& name) {
      const ObjectId id = CSourceListView::IdOf(&item);
      if (const CGroup* g = model.GetGroup(id)) {
        name = g->m_name;
        return 0;
      }
      if (const CFeedSource* s = model.GetFeedSource(id)) {
        name = s->m_title;
        return 1;
      }
      return 2;
    };
    std::u16string a;
    std::u16string b;
    const int ra = rank(*this, a);
    const int rb = rank(other, b);
    if (ra != rb) return ra < rb;
    return CompareAsciiNoCase(a, b) < 0;
  }
};

QIcon DrawIcon(CSourceListView::NodeKind kind) {
  static const char* const kResource[] = {":/icons/root.png", ":/icons/group.png", ":/icons/source.png"};
  const int index = kind == CSourceListView::NodeKind::Root    ? 0
                    : kind == CSourceListView::NodeKind::Group ? 1
                                                               : 2;
  if (QFile::exists(QLatin1String(kResource[index]))) return QIcon(QLatin1String(kResource[index]));
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  switch (index) {
    case 0:  // a globe
      p.setPen(QPen(QColor(30, 80, 160), 1.2));
      p.setBrush(QColor(120, 170, 230));
      p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
      p.drawEllipse(QRectF(5, 1.5, 6, 13));
      p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
      break;
    case 1:  // a folder
      p.setPen(QColor(150, 110, 20));
      p.setBrush(QColor(240, 200, 80));
      p.drawRect(QRectF(1.5, 4.5, 13, 9));
      p.drawRect(QRectF(1.5, 2.5, 6, 2));
      break;
    default:  // a feed
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(240, 130, 20));
      p.drawRoundedRect(QRectF(1, 1, 14, 14), 3, 3);
      p.setBrush(Qt::white);
      p.drawEllipse(QRectF(3, 10, 3, 3));
      p.setPen(QPen(Qt::white, 1.6));
      p.setBrush(Qt::NoBrush);
      p.drawArc(QRectF(-3, 4, 14, 14), 0, 90 * 16);
      p.drawArc(QRectF(-7, 0, 22, 22), 0, 90 * 16);
      break;
  }
  return QIcon(pixmap);
}

}  // namespace

// Label editing: the edit box starts with the node's name (not the label
// with its counts); the committed text goes to the view, which sets the
// name and label itself.
class CLabelDelegate : public QStyledItemDelegate {
 public:
  CLabelDelegate(CSourceListView& view) : QStyledItemDelegate(&view), m_view(view) {}

  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    auto* edit = qobject_cast<QLineEdit*>(editor);
    if (edit == nullptr) return;
    const ObjectId id = index.data(kIdRole).toUInt();
    edit->setText(ToQString(m_view.NameOf(id)));
    edit->selectAll();
  }
  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex&) const override {
    if (auto* edit = qobject_cast<QLineEdit*>(editor)) m_view.m_committedText = edit->text();
  }

 private:
  CSourceListView& m_view;
};

CSourceListView::CSourceListView(IMainFrame& frame, QWidget* parent)
    : QTreeWidget(parent),
      m_frame(frame),
      m_updateAll([](CFeedsManager& m, bool force) { return UpdateAll(m, force); }),
      m_updateSource([](CFeedsManager& m, CFeedSource& s, bool force) {
        return UpdateSource(m, s, force);
      }) {
  m_frameObject = dynamic_cast<QObject*>(&frame);
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setItemDelegate(new CLabelDelegate(*this));
  setDragEnabled(true);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDropIndicatorShown(false);
  setDragDropMode(QAbstractItemView::DragDrop);
  setIconSize(QSize(16, 16));
  connect(this, &QTreeWidget::itemSelectionChanged, this, &CSourceListView::OnSelectionChanged);
  connect(this, &QTreeWidget::itemExpanded, this,
          [this](QTreeWidgetItem* item) { OnExpandedChanged(item, true); });
  connect(this, &QTreeWidget::itemCollapsed, this,
          [this](QTreeWidgetItem* item) { OnExpandedChanged(item, false); });
}

bool CSourceListView::FrameAlive() const {
  // A frame that is a QObject is whole only while it still is an IMainFrame:
  // while its base classes are being destroyed the cast fails.
  if (m_frameObject.isNull()) return dynamic_cast<QObject*>(&m_frame) == nullptr;
  return dynamic_cast<IMainFrame*>(m_frameObject.data()) != nullptr;
}

CSourceListView::~CSourceListView() {
  disconnect(this, nullptr, this, nullptr);
  blockSignals(true);
  if (m_timersStarted && FrameAlive()) {
    m_frame.StopFrameTimer(FrameTimer::Tick);
    m_frame.StopFrameTimer(FrameTimer::Update);
  }
}

CFeedsManager& CSourceListView::Model() const { return m_frame.Model(); }

void CSourceListView::SetUpdateFunctions(UpdateAllFn updateAll, UpdateSourceFn updateSource) {
  m_updateAll = std::move(updateAll);
  m_updateSource = std::move(updateSource);
}

ObjectId CSourceListView::IdOf(const QTreeWidgetItem* item) {
  return item == nullptr ? 0 : item->data(0, kIdRole).toUInt();
}

CSourceListView::NodeKind CSourceListView::KindOf(const QTreeWidgetItem* item) const {
  if (item == nullptr) return NodeKind::None;
  if (item == m_root) return NodeKind::Root;
  const ObjectId id = IdOf(item);
  if (Model().GetGroup(id) != nullptr) return NodeKind::Group;
  if (Model().GetFeedSource(id) != nullptr) return NodeKind::Source;
  return NodeKind::None;
}

std::u16string CSourceListView::NameOf(ObjectId id) const {
  if (const CGroup* g = Model().GetGroup(id)) return g->m_name;
  if (const CFeedSource* s = Model().GetFeedSource(id)) return s->m_title;
  return std::u16string();
}

void CSourceListView::InitialUpdate() {
  Fill();
  m_frame.StartFrameTimer(FrameTimer::Update);
  m_frame.StartFrameTimer(FrameTimer::Tick);
  m_timersStarted = true;
}

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
  std::vector<QTreeWidgetItem*> stack;
  for (int i = topLevelItemCount() - 1; i >= 0; --i) stack.push_back(topLevelItem(i));
  while (!stack.empty()) {
    QTreeWidgetItem* item = stack.back();
    stack.pop_back();
    if (IdOf(item) == id) return item;
    for (int i = item->childCount() - 1; i >= 0; --i) stack.push_back(item->child(i));
  }
  return nullptr;
}

// --- filling and refreshing

QTreeWidgetItem* CSourceListView::NewItem(QTreeWidgetItem* parent, ObjectId id, NodeKind kind) {
  auto* item = new CNodeItem();
  item->setData(0, kIdRole, static_cast<uint>(id));
  item->setIcon(0, DrawIcon(kind));
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (kind == NodeKind::Group || kind == NodeKind::Source)
    flags |= Qt::ItemIsEditable | Qt::ItemIsDragEnabled;
  if (kind == NodeKind::Group || kind == NodeKind::Root) flags |= Qt::ItemIsDropEnabled;
  item->setFlags(flags);
  if (parent != nullptr) {
    parent->addChild(item);
  } else {
    addTopLevelItem(item);
  }
  return item;
}

CSourceListView::Counts CSourceListView::CountsOf(ObjectId id, NodeKind kind) const {
  if (m_countCache != nullptr) {
    auto it = m_countCache->find(id);
    if (it != m_countCache->end()) return it->second;
  }
  Counts c;
  if (kind == NodeKind::Group || kind == NodeKind::Source) Model().CountFeeds(id, c.unread, c.read);
  return c;
}

void CSourceListView::UpdateAppearance(QTreeWidgetItem* item) {
  const NodeKind kind = KindOf(item);
  if (kind != NodeKind::Group && kind != NodeKind::Source) return;
  ShowCounts(item, CountsOf(IdOf(item), kind));
}

void CSourceListView::ShowCounts(QTreeWidgetItem* item, Counts c) {
  const QString label = NodeLabel(NameOf(IdOf(item)), c.unread, c.read);
  if (item->text(0) != label) item->setText(0, label);
  item->setData(0, kUnreadRole, c.unread);
  item->setData(0, kReadRole, c.read);
  const bool bold = c.unread > 0;
  if (item->font(0).bold() != bold) {
    QFont font = item->font(0);
    font.setBold(bold);
    item->setFont(0, font);
  }
}

void CSourceListView::RefreshSourceCounts(ObjectId sourceId) {
  const CFeedSource* source = Model().GetFeedSource(sourceId);
  if (source == nullptr) return;
  Counts now;
  Model().CountFeeds(sourceId, now.unread, now.read);
  std::vector<QTreeWidgetItem*> items;
  for (QTreeWidgetItemIterator it(this); *it != nullptr; ++it) {
    if (*it != m_root && IdOf(*it) == sourceId) items.push_back(*it);
  }
  for (QTreeWidgetItem* item : items) {
    const int dUnread = now.unread - item->data(0, kUnreadRole).toInt();
    const int dRead = now.read - item->data(0, kReadRole).toInt();
    if (dUnread == 0 && dRead == 0) continue;
    ShowCounts(item, now);
    // Each group above counts this source's articles once more.
    for (QTreeWidgetItem* p = item->parent(); p != nullptr && p != m_root; p = p->parent()) {
      ShowCounts(p, {p->data(0, kUnreadRole).toInt() + dUnread, p->data(0, kReadRole).toInt() + dRead});
    }
  }
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

void CSourceListView::AddGroupItems(QTreeWidgetItem* parent, ObjectId groupId, int depth) {
  const CGroup* g = Model().GetGroup(groupId);
  if (g == nullptr || depth > kMaxDepth) return;
  QTreeWidgetItem* item = NewItem(parent, groupId, NodeKind::Group);
  UpdateAppearance(item);
  for (ObjectId child : g->m_childGroups) AddGroupItems(item, child, depth + 1);
  for (ObjectId sid : g->m_sources) {
    if (Model().GetFeedSource(sid) == nullptr) continue;
    UpdateAppearance(NewItem(item, sid, NodeKind::Source));
  }
  SortChildren(item);
  ApplyExpansion(item);
}

void CSourceListView::Fill() {
  QTreeWidgetItem* selected = SelectedItem();
  const ObjectId selectedId = IdOf(selected);
  const ObjectId parentId = selected != nullptr ? IdOf(selected->parent()) : 0;
  {
    const QSignalBlocker blocker(this);
    clear();
    m_root = nullptr;
  }
  m_root = NewItem(nullptr, 0, NodeKind::Root);
  m_root->setText(0, QStringLiteral("Feed Sources"));
  for (ObjectId gid : Model().m_rootGroups) AddGroupItems(m_root, gid, 0);
  SortChildren(m_root);
  ApplyExpansion(m_root);
  QTreeWidgetItem* target = FindItem(selectedId);
  if (target == nullptr) target = FindItem(parentId);
  if (target == nullptr) target = m_root;
  SelectItem(target);
  RefreshAll();
}

QTreeWidgetItem* CSourceListView::AddItem(QTreeWidgetItem* parent, const ViewUpdate& request) {
  const NodeKind parentKind = KindOf(parent);
  QTreeWidgetItem* item = nullptr;
  if (parentKind == NodeKind::Group || parentKind == NodeKind::Root) {
    if (request.group != 0 && Model().GetGroup(request.group) != nullptr) {
      item = NewItem(parent, request.group, NodeKind::Group);
    } else if (parentKind == NodeKind::Group && request.source != 0 &&
               Model().GetFeedSource(request.source) != nullptr) {
      item = NewItem(parent, request.source, NodeKind::Source);
    }
  }
  if (item == nullptr) return nullptr;
  const NodeKind kind = KindOf(item);
  const Counts c = CountsOf(IdOf(item), kind);
  item->setText(0, NodeLabel(NameOf(IdOf(item)), c.unread, c.read));
  item->setData(0, kUnreadRole, c.unread);
  item->setData(0, kReadRole, c.read);
  SortChildren(parent);
  ApplyExpansion(parent);
  return item;
}

void CSourceListView::RefreshAll() {
  if (m_root == nullptr) return;
  const CFeedsManager& model = Model();
  const auto all = model.CountAll();
  std::unordered_map<ObjectId, Counts> counts;
  counts.reserve(all.size());
  for (const auto& [id, c] : all) counts.emplace(id, Counts{c.unread, c.read});
  m_countCache = &counts;
  RefreshLevel(m_root, model.m_rootGroups, {}, 0);
  SortChildren(m_root);
  RemoveStaleItems();
  m_countCache = nullptr;
}

void CSourceListView::RefreshLevel(QTreeWidgetItem* item, const IdList& groups,
                                   const IdList& sources, int depth) {
  if (depth > kMaxDepth) return;
  std::map<ObjectId, QTreeWidgetItem*> children;
  for (int i = 0; i < item->childCount(); ++i) children.emplace(IdOf(item->child(i)), item->child(i));
  bool added = false;
  for (ObjectId gid : groups) {
    if (Model().GetGroup(gid) == nullptr || children.count(gid) != 0) continue;
    ViewUpdate request;
    request.group = gid;
    if (QTreeWidgetItem* child = AddItem(item, request)) {
      children.emplace(gid, child);
      added = true;
    }
  }
  for (ObjectId sid : sources) {
    if (Model().GetFeedSource(sid) == nullptr || children.count(sid) != 0) continue;
    ViewUpdate request;
    request.source = sid;
    if (QTreeWidgetItem* child = AddItem(item, request)) {
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
    } else if (kind == NodeKind::Source) {
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
    for (int i = 0; i < item->childCount(); ++i) {
      QTreeWidgetItem* child = item->child(i);
      const ObjectId id = IdOf(child);
      bool belongs = false;
      if (model.GetGroup(id) != nullptr) {
        const IdList& list = item == m_root ? model.m_rootGroups
                                            : (parentGroup ? parentGroup->m_childGroups : IdList{});
        belongs = std::find(list.begin(), list.end(), id) != list.end();
      } else if (model.GetFeedSource(id) != nullptr && parentGroup != nullptr) {
        belongs = std::find(parentGroup->m_sources.begin(), parentGroup->m_sources.end(), id) !=
                  parentGroup->m_sources.end();
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

QTreeWidgetItem* CSourceListView::CopySubtree(QTreeWidgetItem* newParent, QTreeWidgetItem* copied) {
  if (newParent == nullptr || copied == nullptr) return nullptr;
  for (QTreeWidgetItem* p = newParent; p != nullptr; p = p->parent()) {
    if (p == copied) return nullptr;
  }
  const NodeKind kind = KindOf(copied);
  if (kind != NodeKind::Group && kind != NodeKind::Source) return nullptr;
  QTreeWidgetItem* copy = NewItem(newParent, IdOf(copied), kind);
  copy->setText(0, copied->text(0));
  for (int i = 0; i < copied->childCount(); ++i) CopySubtree(copy, copied->child(i));
  return copy;
}

ViewPosition CSourceListView::ApplyUpdate(UpdateCode code, ViewPosition position,
                                          const ViewUpdate& request) {
  ViewPosition result;
  QTreeWidgetItem* item = position.item;
  switch (code) {
    case UpdateCode::AddItem:
      if (item != nullptr) result.item = AddItem(item, request);
      break;
    case UpdateCode::RemoveItem:
      RemoveItem(item);
      break;
    case UpdateCode::SelectItem:
      SelectItem(item);
      break;
    case UpdateCode::RefreshAll:
      RefreshAll();
      break;
    case UpdateCode::CopySubtree:
      if (item != nullptr) result.item = CopySubtree(item, request.treeItem);
      break;
  }
  return result;
}

// --- selection, expansion, focus

void CSourceListView::OnSelectionChanged() {
  if (SelectedItem() == nullptr) return;
  if (CFeedListView* list = m_frame.ArticleList()) list->ApplyUpdate(UpdateCode::RefreshAll, {}, {});
  ShowStatusForSelection();
  CFeedView* view = m_frame.ArticleView();
  if (view != nullptr && view->m_currentFeedId != 0) {
    view->m_currentFeedId = 0;
    view->ShowArticle();
  }
}

void CSourceListView::ShowStatusForSelection() {
  const CFeedSource* s = Model().GetFeedSource(IdOf(SelectedItem()));
  m_frame.SetStatusText(s != nullptr ? s->m_commsStatus : std::u16string(u"Ready"));
}

void CSourceListView::OnExpandedChanged(QTreeWidgetItem* item, bool expanded) {
  if (m_settingExpansion || item == m_root) return;
  CGroup* g = Model().GetGroup(IdOf(item));
  if (g == nullptr || g->m_expanded == expanded) return;
  g->m_expanded = expanded;
  m_frame.ScheduleSave();
}

void CSourceListView::focusInEvent(QFocusEvent* event) {
  QTreeWidget::focusInEvent(event);
  m_frame.SetNewArticles(false);
}

// --- keyboard and context menus

void CSourceListView::keyPressEvent(QKeyEvent* event) {
  if (!m_editing) {
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
  auto add = [&](const char* text, void (CSourceListView::*command)()) {
    actions.emplace_back(menu.addAction(QString::fromLatin1(text)), command);
  };
  switch (kind) {
    case NodeKind::Root:
      menu.setTitle(QStringLiteral("For Root"));
      add("&Update all feeds", &CSourceListView::UpdateAllFeeds);
      menu.addSeparator();
      add("&Add group", &CSourceListView::AddGroup);
      break;
    case NodeKind::Group:
      menu.setTitle(QStringLiteral("For Groups"));
      add("&Add new feed", &CSourceListView::AddFeed);
      menu.addSeparator();
      add("Add new &sub-group", &CSourceListView::AddGroup);
      menu.addSeparator();
      add("&Rename this group", &CSourceListView::StartRename);
      add("&Delete this group", &CSourceListView::DeleteGroup);
      break;
    case NodeKind::Source:
      menu.setTitle(QStringLiteral("For Sources"));
      add("&Rename this feed", &CSourceListView::StartRename);
      add("&Delete this feed", &CSourceListView::DeleteFeed);
      menu.addSeparator();
      add("&Clear history for this feed", &CSourceListView::ClearHistory);
      menu.addSeparator();
      add("&Properties", &CSourceListView::ShowProperties);
      break;
    case NodeKind::None:
      return;
  }
  QAction* chosen = ExecPopupMenu(menu, globalPos);
  for (const auto& [action, command] : actions) {
    if (action == chosen) {
      (this->*command)();
      break;
    }
  }
}

// --- commands

void CSourceListView::UpdateAllFeeds() {
  m_frame.StopFrameTimer(FrameTimer::Update);
  // The update cycle shows the wait cursor while it downloads.
  const bool changed = m_updateAll ? m_updateAll(Model(), true) : false;
  if (changed) {
    m_frame.ScheduleSave();
    RefreshAll();
    if (CFeedListView* list = m_frame.ArticleList()) list->ApplyUpdate(UpdateCode::RefreshAll, {}, {});
  }
  m_frame.StartFrameTimer(FrameTimer::Update);
  ShowStatusForSelection();
}

void CSourceListView::AddGroup() {
  QTreeWidgetItem* parent = SelectedItem();
  const NodeKind kind = KindOf(parent);
  if (kind != NodeKind::Root && kind != NodeKind::Group) return;
  CAddGroupDlg dlg(m_frame.Window());
  if (ExecDialog(dlg) != QDialog::Accepted) return;
  const std::u16string name = Trim(FromQString(dlg.m_strName));
  if (name.empty()) return;
  CGroup* group = Model().AddGroup(kind == NodeKind::Root ? 0 : IdOf(parent), name);
  if (group == nullptr) return;
  const ObjectId groupId = group->m_id;
  m_frame.ScheduleSave();
  ViewUpdate request;
  request.group = groupId;
  QTreeWidgetItem* item = AddItem(parent, request);
  RefreshAll();
  if (item != nullptr) SelectItem(FindItem(groupId));
}

void CSourceListView::AddFeed(const QString& presetUrl) {
  QTreeWidgetItem* groupItem = SelectedItem();
  if (KindOf(groupItem) != NodeKind::Group) return;
  const ObjectId groupId = IdOf(groupItem);
  CAddNewFeedDlg dlg(m_frame.Window());
  dlg.m_strUrl = presetUrl;
  QString label = groupItem->text(0);
  const qsizetype paren = label.indexOf(QLatin1Char('('));
  if (paren >= 0) label.truncate(paren);
  dlg.m_strGroupName = ToQString(Trim(FromQString(label)));
  IdList sources;
  Model().CollectSources(0, sources);
  for (ObjectId sid : sources) dlg.m_existingUrls.push_back(ToQString(Model().GetFeedSource(sid)->m_url));
  if (ExecDialog(dlg) != QDialog::Accepted) return;
  const std::u16string url = Trim(FromQString(dlg.m_strUrl));
  if (url.empty()) return;
  CFeedSource* source = Model().AddSource(groupId, url);
  if (source == nullptr) return;
  const ObjectId sourceId = source->m_id;
  m_frame.ScheduleSave();
  ViewUpdate request;
  request.source = sourceId;
  AddItem(groupItem, request);
  if (CFeedSource* s = Model().GetFeedSource(sourceId); s != nullptr && m_updateSource)
    m_updateSource(Model(), *s, true);
  RefreshAll();
  if (CFeedListView* list = m_frame.ArticleList()) list->ApplyUpdate(UpdateCode::RefreshAll, {}, {});
}

void CSourceListView::DeleteFeed() {
  QTreeWidgetItem* item = SelectedItem();
  if (KindOf(item) != NodeKind::Source || KindOf(item->parent()) != NodeKind::Group) return;
  const ObjectId sourceId = IdOf(item);
  const ObjectId groupId = IdOf(item->parent());
  const QString question = QStringLiteral("Are you sure you want to delete '%1'?")
                               .arg(ToQString(Model().GetFeedSource(sourceId)->m_title));
  if (ShowMessageBox(m_frame.Window(), MsgIcon::Question, question,
                     QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
    return;
  Model().DeleteSource(groupId, sourceId);
  item = FindItem(sourceId);
  if (item == nullptr) return;
  SelectItem(item->parent());
  m_frame.ScheduleSave();
  RemoveItem(item);
  if (CFeedListView* list = m_frame.ArticleList()) list->ApplyUpdate(UpdateCode::RefreshAll, {}, {});
}

void CSourceListView::DeleteGroup() {
  QTreeWidgetItem* item = SelectedItem();
  if (KindOf(item) != NodeKind::Group || item->parent() == nullptr) return;
  const ObjectId groupId = IdOf(item);
  const bool atRoot = KindOf(item->parent()) != NodeKind::Group;
  if (atRoot && Model().m_rootGroups.size() == 1) {
    ShowMessageBox(m_frame.Window(), MsgIcon::Information,
                   QStringLiteral("You cannot delete this; you must have at least one group at "
                                  "the root level."));
    return;
  }
  const QString question = QStringLiteral("Are you sure you want to delete '%1'?")
                               .arg(ToQString(Model().GetGroup(groupId)->m_name));
  if (ShowMessageBox(m_frame.Window(), MsgIcon::Question, question,
                     QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
    return;
  if (!Model().DeleteGroup(groupId)) return;
  item = FindItem(groupId);
  if (item == nullptr) return;
  SelectItem(KindOf(item->parent()) == NodeKind::Group ? item->parent() : m_root);
  m_frame.ScheduleSave();
  RemoveItem(item);
  if (CFeedListView* list = m_frame.ArticleList()) list->ApplyUpdate(UpdateCode::RefreshAll, {}, {});
}

void CSourceListView::StartRename() {
  QTreeWidgetItem* item = SelectedItem();
  const NodeKind kind = KindOf(item);
  if (kind != NodeKind::Group && kind != NodeKind::Source) return;
  m_committedText.reset();
  m_editItem = item;
  m_editing = true;
  editItem(item, 0);
  if (state() != QAbstractItemView::EditingState) {
    m_editing = false;
    m_editItem = nullptr;
  }
}

void CSourceListView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  QTreeWidget::closeEditor(editor, hint);
  if (!m_editing) return;
  std::optional<QString> text = m_committedText;
  m_committedText.reset();
  EndLabelEdit(m_editItem, text);
}

void CSourceListView::EndLabelEdit(QTreeWidgetItem* item, const std::optional<QString>& text) {
  m_editing = false;
  m_editItem = nullptr;
  if (item != nullptr) {
    const ObjectId id = IdOf(item);
    const NodeKind kind = KindOf(item);
    // A cancelled edit, or one left empty, changes nothing: a source keeps
    // its automatic naming too.
    std::u16string name = text.has_value() ? Trim(FromQString(*text)) : std::u16string();
    if (kind == NodeKind::Group || kind == NodeKind::Source) {
      if (!name.empty() && name != NameOf(id)) Model().Rename(id, name);
      UpdateAppearance(item);
      if (item->parent() != nullptr) SortChildren(item->parent());
    } else if (item == m_root) {
      item->setText(0, QStringLiteral("Feed Sources"));
    }
  }
  m_frame.ScheduleSave();
  RefreshAll();
}

void CSourceListView::ShowProperties() {
  QTreeWidgetItem* item = SelectedItem();
  if (KindOf(item) != NodeKind::Source) return;
  const ObjectId sourceId = IdOf(item);
  const CFeedSource* s = Model().GetFeedSource(sourceId);
  CFeedPropertiesDlg dlg(m_frame.Window());
  dlg.m_strName = ToQString(s->m_title);
  dlg.m_strUrl = ToQString(s->m_url);
  dlg.m_nRefreshRate = s->m_refreshInterval;
  dlg.m_strLastUpdate = ToQString(s->m_commsStatus);
  if (ExecDialog(dlg) != QDialog::Accepted) return;
  if (CFeedSource* source = Model().GetFeedSource(sourceId))
    source->m_refreshInterval = std::clamp(dlg.m_nRefreshRate, 1, 1440);
  m_frame.ScheduleSave();
}

void CSourceListView::ClearHistory() {
  QTreeWidgetItem* item = SelectedItem();
  if (KindOf(item) != NodeKind::Source) return;
  const ObjectId sourceId = IdOf(item);
  const QString question = QStringLiteral(
      "Clearing this feed's history will forget all articles it has ever seen. Any articles in "
      "the currently-available list that you do not still have in your list will be downloaded "
      "again. Proceed?");
  if (ShowMessageBox(m_frame.Window(), MsgIcon::Question, question,
                     QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel) != QMessageBox::Yes)
    return;
  if (CFeedSource* s = Model().GetFeedSource(sourceId)) s->ClearHistory();
  ShowMessageBox(m_frame.Window(), MsgIcon::Information, QStringLiteral("History cleared."));
}

// --- drag and drop

bool CSourceListView::BeginDrag(QTreeWidgetItem* item) {
  const NodeKind kind = KindOf(item);
  if (kind != NodeKind::Group && kind != NodeKind::Source) return false;
  m_dragItem = item;
  m_dragSource = kind == NodeKind::Source ? IdOf(item) : 0;
  m_dragGroup = kind == NodeKind::Group ? IdOf(item) : 0;
  SelectItem(item);
  m_dragging = true;
  return true;
}

QTreeWidgetItem* CSourceListView::DropTargetFor(QTreeWidgetItem* under) const {
  const NodeKind kind = KindOf(under);
  if (kind == NodeKind::Group) return under;
  if (kind == NodeKind::Root && m_dragGroup != 0) return under;
  return nullptr;
}

void CSourceListView::DragOver(QTreeWidgetItem* under) {
  if (!m_dragging) return;
  QTreeWidgetItem* target = DropTargetFor(under);
  if (target == SelectedItem() && (target != nullptr || SelectedItem() == nullptr)) return;
  if (target != nullptr) {
    SelectItem(target);
  } else {
    clearSelection();
    setCurrentItem(nullptr);
  }
}

bool CSourceListView::Drop(QTreeWidgetItem* under) {
  if (!m_dragging) return false;
  m_dragging = false;
  QTreeWidgetItem* target = DropTargetFor(under);
  bool moved = false;
  if (target != nullptr && m_dragItem != nullptr) {
    if (m_dragSource != 0) {
      moved = Model().MoveSource(m_dragSource, IdOf(target));
    } else if (m_dragGroup != 0) {
      // MoveGroup refuses the group itself, its own subtree and its current
      // parent, changing nothing.
      moved = Model().MoveGroup(m_dragGroup, target == m_root ? 0 : IdOf(target));
    }
    if (moved) {
      m_frame.ScheduleSave();
      CopySubtree(target, m_dragItem);
      RemoveItem(m_dragItem);
      RefreshAll();
    }
  }
  m_dragSource = 0;
  m_dragGroup = 0;
  m_dragItem = nullptr;
  return moved;
}

QPixmap CSourceListView::DragPixmap(QTreeWidgetItem* item) const {
  const QString label = item->text(0);
  QFont font = item->font(0);
  const QFontMetrics metrics(font);
  const QSize size(std::max(1, metrics.horizontalAdvance(label) + 4),
                   std::max(visualItemRect(item).height(), metrics.height()));
  const qreal dpr = devicePixelRatioF();
  QPixmap pixmap(size * dpr);
  pixmap.setDevicePixelRatio(dpr);
  pixmap.fill(palette().color(QPalette::Highlight));
  QPainter painter(&pixmap);
  painter.setFont(font);
  // The letters are cut out of the box, so what lies below shows through them.
  painter.setCompositionMode(QPainter::CompositionMode_DestinationOut);
  painter.setPen(palette().color(QPalette::HighlightedText));
  painter.drawText(QRect(QPoint(2, 0), size), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   label);
  return pixmap;
}

void CSourceListView::startDrag(Qt::DropActions) {
  QTreeWidgetItem* item = currentItem();
  if (!BeginDrag(item)) return;
  auto* mime = new QMimeData();
  mime->setData(QLatin1String(kNodeMime), QByteArray::number(IdOf(item)));
  auto* drag = new QDrag(this);
  drag->setMimeData(mime);
  drag->setPixmap(DragPixmap(item));
  const QRect rect = visualItemRect(item);
  drag->setHotSpot(viewport()->mapFromGlobal(QCursor::pos()) -
                   QPoint(rect.left() + iconSize().width() + 4, rect.top()));
  drag->exec(Qt::MoveAction);
  // A drag that ends outside the tree drops nothing.
  m_dragging = false;
  m_dragSource = 0;
  m_dragGroup = 0;
  m_dragItem = nullptr;
}

void CSourceListView::dragEnterEvent(QDragEnterEvent* event) {
  if (event->source() != this || !m_dragging) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  DragOver(itemAt(event->position().toPoint()));
}

void CSourceListView::dragMoveEvent(QDragMoveEvent* event) {
  if (event->source() != this || !m_dragging) {
    event->ignore();
    return;
  }
  QTreeWidgetItem* under = itemAt(event->position().toPoint());
  DragOver(under);
  if (DropTargetFor(under) != nullptr) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void CSourceListView::dropEvent(QDropEvent* event) {
  if (event->source() != this || !m_dragging) {
    event->ignore();
    return;
  }
  Drop(itemAt(event->position().toPoint()));
  // The tree was rebuilt from the model; Qt must not remove anything itself.
  event->setDropAction(Qt::IgnoreAction);
  event->accept();
}

}  // namespace qb
