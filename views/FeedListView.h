// The upper right pane: the articles of the node selected in the tree.
#pragma once

#include <QTreeView>

#include "model/RSSObject.h"
#include "views/IMainFrame.h"
#include "views/ViewUpdate.h"

namespace qb {

class CFeedListView : public QTreeView {
  Q_OBJECT
 public:
  explicit CFeedListView(IMainFrame& frame, QWidget* parent = nullptr);

  // Inserts the three columns.
  void InitialUpdate();

  ViewPosition ApplyUpdate(UpdateCode code, ViewPosition position, const ViewUpdate& request);

  // Deletes the articles from the model and the list, keeping a sensible selection.
  void DeleteArticles(const IdList& articles);

  // The mark-read timer fired: the pending article becomes read.
  void MarkPendingRead();

  // The first row showing the article, or -1.
  int FindRow(ObjectId article) const;

 private:
  IMainFrame& m_frame;
};

}  // namespace qb
