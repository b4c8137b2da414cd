// A stand-in for the main frame: owns the model and the views, records what
// the views ask of the frame, and answers message boxes, dialogs and menus
// without a person.
#pragma once

#include <QAction>
#include <QDialog>
#include <QMenu>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/Modal.h"
#include "model/FeedsManager.h"
#include "views/FeedListView.h"
#include "views/FeedView.h"
#include "views/IMainFrame.h"
#include "views/Shell.h"
#include "views/SourceListView.h"

namespace qb::test {

struct MessageRecord {
  MsgIcon icon;
  QString text;
  QMessageBox::StandardButtons buttons;
};

struct MenuRecord {
  QString title;
  std::vector<QString> texts;  // "-" for a separator
  std::vector<bool> enabled;
};

class FakeMainFrame : public IMainFrame {
 public:
  // The views are created by the test (CreateViews) once the model is built.
  FakeMainFrame() {
    SetMessagePresenter([this](MsgIcon icon, const QString& text, QMessageBox::StandardButtons b) {
      messages.push_back({icon, text, b});
      return nextAnswer;
    });
    SetDialogPresenter([this](QDialog& dialog) {
      ++dialogs;
      return answerDialog ? answerDialog(dialog) : int(QDialog::Rejected);
    });
    SetMenuPresenter([this](QMenu& menu, const QPoint&) -> QAction* {
      MenuRecord record;
      record.title = menu.title();
      for (QAction* a : menu.actions()) {
        record.texts.push_back(a->isSeparator() ? QStringLiteral("-") : a->text());
        record.enabled.push_back(a->isEnabled());
      }
      menus.push_back(record);
      for (QAction* a : menu.actions())
        if (a->text() == chooseInMenu) return a;
      return nullptr;
    });
    SetShellOpener([this](const QUrl& url) {
      opened.push_back(url);
      return shellSucceeds;
    });
  }

  ~FakeMainFrame() {
    view.reset();
    list.reset();
    tree.reset();
    SetMessagePresenter(nullptr);
    SetDialogPresenter(nullptr);
    SetMenuPresenter(nullptr);
    SetShellOpener(nullptr);
  }

  // withPage: also the article pane (starts the web engine).
  void CreateViews(bool withPage = false) {
    window.resize(800, 600);
    tree = std::make_unique<CSourceListView>(*this, &window);
    list = std::make_unique<CFeedListView>(*this, &window);
    if (withPage) view = std::make_unique<CFeedView>(*this, &window);
    tree->SetUpdateFunctions(
        [this](CFeedsManager&, bool force) {
          updateAllCalls.push_back(force);
          return updateAllResult;
        },
        [this](CFeedsManager&, CFeedSource& s, bool force) {
          updateSourceCalls.push_back({s.m_id, force});
          return false;
        });
    tree->resize(200, 400);
    list->resize(500, 300);
    list->InitialUpdate();
    tree->InitialUpdate();
  }

  CFeedsManager& Model() override { return model; }
  void ScheduleSave() override { ++saves; }
  void SetStatusText(const std::u16string& text) override { status.push_back(text); }
  void StartFrameTimer(FrameTimer timer) override {
    active.insert(timer);
    ++starts[timer];
  }
  void StopFrameTimer(FrameTimer timer) override { active.erase(timer); }
  bool IsFrameTimerActive(FrameTimer timer) const override { return active.count(timer) != 0; }
  void SetNewArticles(bool on) override { newArticles = on; }
  void PostSavePlacement() override { ++placementPosts; }
  CSourceListView* SourceTree() override { return tree.get(); }
  CFeedListView* ArticleList() override { return list.get(); }
  CFeedView* ArticleView() override { return view.get(); }
  QWidget* Window() override { return &window; }

  // What the frame does when a timer fires.
  void Fire(FrameTimer timer) {
    if (!IsFrameTimerActive(timer)) return;
    if (timer == FrameTimer::MarkRead) list->MarkPendingRead();
  }

  // --- model building
  CGroup* Group(ObjectId parent, const std::u16string& name, bool expanded = true) {
    CGroup* g = model.AddGroup(parent, name);
    g->m_expanded = expanded;
    return g;
  }
  CFeedSource* Source(ObjectId group, const std::u16string& title) {
    CFeedSource* s = model.AddSource(group, u"http://example.com/" + title);
    s->m_title = title;
    s->m_autoName = false;
    return s;
  }
  CFeed* Article(CFeedSource* s, const std::u16string& title, bool read = false,
                 const CDateTime& date = CDateTime::Invalid()) {
    CFeed* a = model.NewFeed();
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
  std::unique_ptr<CSourceListView> tree;
  std::unique_ptr<CFeedListView> list;
  std::unique_ptr<CFeedView> view;

  int saves = 0;
  int placementPosts = 0;
  bool newArticles = true;
  std::vector<std::u16string> status;
  std::set<FrameTimer> active;
  std::map<FrameTimer, int> starts;

  QMessageBox::StandardButton nextAnswer = QMessageBox::Yes;
  std::vector<MessageRecord> messages;
  int dialogs = 0;
  std::function<int(QDialog&)> answerDialog;
  std::vector<MenuRecord> menus;
  QString chooseInMenu;
  std::vector<QUrl> opened;
  bool shellSucceeds = true;
  std::vector<bool> updateAllCalls;
  std::vector<std::pair<ObjectId, bool>> updateSourceCalls;
  bool updateAllResult = false;
};

// The labels of an item's children, in order.
inline std::vector<QString> ChildLabels(const QTreeWidgetItem* item) {
  std::vector<QString> labels;
  for (int i = 0; i < item->childCount(); ++i) labels.push_back(item->child(i)->text(0));
  return labels;
}

}  // namespace qb::test
