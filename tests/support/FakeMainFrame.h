// A stand-in for the main frame: owns the model and the panes, made and
// wired by the frame's own CPanes (the real commands and pane router),
// records what the panes and commands ask of the frame, and answers message
// boxes, dialogs, menus and updates without a person or a network.
#pragma once

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "app/PaneRouter.h"
#include "app/Panes.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/FakeUpdater.h"
#include "views/FeedListView.h"
#include "views/FeedView.h"
#include "views/IMainFrame.h"
#include "views/SourceListView.h"

namespace qb::test {

class FakeMainFrame : public IMainFrame, public FakeDesktop, public FakeUpdater, private IModelObserver {
 public:
  // The panes are created by the test (CreateViews) once the model is built.
  FakeMainFrame() {
    nextAnswer = QMessageBox::Yes;
    Attach(&model);
    model.AddObserver(this);
  }

  ~FakeMainFrame() {
    panes.reset();
    model.RemoveObserver(this);
  }

  // withPage: also the article pane (starts the web engine).
  void CreateViews(bool withPage = false) {
    // The model was built by writing its lists: its links and counts are
    // made as a load makes them.
    model.RebuildIndexes();
    window.resize(800, 600);
    panes = std::make_unique<CPanes>(*this, *this, &window, withPage);
    tree = &panes->Tree();
    list = &panes->List();
    view = panes->Page();
    commands = &panes->Commands();
    router = &panes->Router();
    tree->resize(200, 400);
    panes->ListPane().resize(500, 300);
    list->resize(500, 300);
    panes->InitialUpdate();
    // What the test built before is no change of a command's.
    saves = 0;
  }

  CFeedsManager& Model() override { return model; }
  IDesktop& Desktop() override { return *this; }
  // The store's save follows each change of the model, as the frame's does.
  void OnModelChanged(const CFeedsManager&, const CModelChange& change) override {
    if (!change.external) ++saves;
  }
  void SetStatusText(const std::u16string& text) override { status.push_back(text); }
  void SetNewArticles(bool on) override { newArticles = on; }
  void PostSavePlacement() override { ++placementPosts; }
  QWidget* Window() override { return &window; }
  IReaderStore* ReaderStore() override { return readerStore; }

  // The list's mark-read delay is over, without waiting for it.
  void FireMarkRead() {
    if (list->MarkReadPending()) list->MarkPendingRead();
  }

  // --- model building
  CGroup* Group(ObjectId parent, const std::u16string& name, bool expanded = true) {
    CGroup* g = CModelWriter(model).Group(model.AddGroup(parent, name)->m_id);
    g->m_expanded = expanded;
    return g;
  }
  CFeedSource* Source(ObjectId group, const std::u16string& title) {
    CFeedSource* s = CModelWriter(model).Source(model.AddSource(group, u"http://example.com/" + title)->m_id);
    s->m_title = title;
    s->m_autoName = false;
    // As stored sources often are: by title, A to Z.
    s->m_sortColumn = 0;
    s->m_sortDirection = kSortAscending;
    return s;
  }
  CFeed* Article(CFeedSource* s, const std::u16string& title, bool read = false,
                 const CDateTime& date = CDateTime::Invalid()) {
    CFeed* a = CModelWriter(model).NewFeed();
    a->m_title = title;
    a->m_channel = s->m_title;
    a->m_read = read;
    a->m_date = date;
    a->m_link = u"http://example.com/" + title;
    s->m_articles.push_back(a->m_id);
    return a;
  }

  CFeedsManager model;
  QWidget window;
  std::unique_ptr<CPanes> panes;
  // What `panes` holds, once CreateViews has made them.
  CSourceListView* tree = nullptr;
  CFeedListView* list = nullptr;
  CFeedView* view = nullptr;
  CCommands* commands = nullptr;
  CPaneRouter* router = nullptr;

  // Where the reader view keeps its results; none unless a test sets it.
  IReaderStore* readerStore = nullptr;
  int saves = 0;
  int placementPosts = 0;
  bool newArticles = true;
  std::vector<std::u16string> status;
};

// The labels of an item's children, in order.
inline std::vector<QString> ChildLabels(const QTreeWidgetItem* item) {
  std::vector<QString> labels;
  for (int i = 0; i < item->childCount(); ++i) labels.push_back(item->child(i)->text(0));
  return labels;
}

}  // namespace qb::test
