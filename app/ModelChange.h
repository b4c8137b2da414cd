// The one notice of a change to the model. Every command that changes the
// model sends exactly one, naming what changed; its handling (CPaneRouter)
// schedules the save and brings each pane in line with the model once.
#pragma once

#include <optional>

#include "model/RSSObject.h"

namespace qb {

struct ModelChange {
  enum class Scope {
    // Anything may have changed: every pane is brought in line.
    Everything,
    // Only `article`'s read flag changed: its row, and the counts of its
    // source and the groups above it, are drawn again.
    ArticleRead,
    // Only what the panes already show changed (a group's expanded flag, the
    // sort stored on the shown sources): nothing is drawn again.
    Shown,
    // An update applied `source`: `articlesAdded` are new in it, its title
    // and status may have changed. The tree relabels the source and the
    // groups above it; the list, when it shows the source, inserts the new
    // rows; the page keeps its article.
    SourceUpdated,
  };

  Scope scope = Scope::Everything;
  ObjectId article = 0;
  ObjectId source = 0;
  // The articles an update added to `source`.
  IdList articlesAdded;
  // Afterwards the tree selects this node...
  std::optional<ObjectId> selectNode;
  // ...and the list this article's row.
  ObjectId selectArticle = 0;
  // Whether the data file is to be written (after the usual delay).
  bool save = true;
};

}  // namespace qb
