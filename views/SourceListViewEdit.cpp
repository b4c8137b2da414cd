// Renaming a group or source in place: the edit box starts with the node's
// name (not the label with its counts); when the edit ends the tree asks for
// the rename, and follows the model once it is made.
#include <QLineEdit>
#include <QStyledItemDelegate>

#include "base/Text.h"
#include "model/FeedsManager.h"
#include "views/SourceListView.h"
#include "views/SourceTreeItem.h"
#include "views/ViewText.h"

namespace qb {

// The committed text goes to the view, which asks for the rename.
class CLabelDelegate : public QStyledItemDelegate {
 public:
  explicit CLabelDelegate(CSourceListView& view) : QStyledItemDelegate(&view), m_view(view) {}

  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    auto* edit = qobject_cast<QLineEdit*>(editor);
    if (edit == nullptr) return;
    const ObjectId id = index.data(CSourceTreeItem::kIdRole).toUInt();
    edit->setText(ToQString(m_view.NameOf(id)));
    edit->selectAll();
  }
  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex&) const override {
    if (auto* edit = qobject_cast<QLineEdit*>(editor)) m_view.m_committedText = edit->text();
  }

 private:
  CSourceListView& m_view;
};

QAbstractItemDelegate* CSourceListView::NewLabelDelegate() { return new CLabelDelegate(*this); }

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
  if (item == nullptr) return;
  // A cancelled edit, or one left empty, changes no name: a source keeps its
  // automatic naming too. The request is made all the same, so the tree is
  // brought in line with the model as after any edit.
  QString name = text.has_value() ? ToQString(Trim(FromQString(*text))) : QString();
  if (!name.isEmpty() && FromQString(name) == NameOf(IdOf(item))) name.clear();
  emit renameRequested(IdOf(item), name);
}

}  // namespace qb
