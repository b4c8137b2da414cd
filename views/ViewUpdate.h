// The update request that the source tree and the article list both accept:
// ApplyUpdate(code, position, request). Views hold identifiers, never records.
#pragma once

#include "model/RSSObject.h"

class QTreeWidgetItem;

namespace qb {

enum class UpdateCode : int {
  AddItem = 1,      // add an item under the position (tree) / at the row (list)
  RemoveItem = 2,   // delete the position's item with its subtree / the row
  SelectItem = 3,   // select the position's item / add the row to the selection
  RefreshAll = 4,   // bring the whole view in line with the model
  CopySubtree = 5,  // tree only: copy the request's item under the position's item
};

struct ViewUpdate {
  ObjectId article = 0;
  ObjectId source = 0;
  ObjectId group = 0;
  QTreeWidgetItem* treeItem = nullptr;
  int row = -1;
};

// The tree uses the item, the list the row index.
struct ViewPosition {
  QTreeWidgetItem* item = nullptr;
  int row = -1;
};

}  // namespace qb
