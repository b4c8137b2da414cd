// The panes follow the model's change records. Random operations (the
// commands the panes ask for, the model's operations an update or another
// process runs) go through the panes the frame builds; after each step
// every pane must show what panes built fresh from the same model show.
#include <QCoreApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidgetItemIterator>
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <tuple>

#include "app/Commands.h"
#include "app/PaneRouter.h"
#include "app/Panes.h"
#include "model/ModelWriter.h"
#include "tests/support/FakeMainFrame.h"
#include "tests/support/TempDir.h"
#include "tests/support/UpdatePasses.h"
#include "views/ArticleTableModel.h"

namespace qb {
namespace {

using test::FakeMainFrame;

// What the tree shows: each item in pre-order with its depth, label,
// weight and (for an item with children) whether it is expanded.
using TreeRow = std::tuple<int, ObjectId, QString, bool, bool>;

std::vector<TreeRow> TreeRows(const CSourceListView& tree) {
  std::vector<TreeRow> rows;
  for (QTreeWidgetItemIterator it(const_cast<CSourceListView*>(&tree)); *it != nullptr; ++it) {
    int depth = 0;
    for (const QTreeWidgetItem* p = (*it)->parent(); p != nullptr; p = p->parent()) ++depth;
    rows.emplace_back(depth, CSourceListView::IdOf(*it), (*it)->text(0), (*it)->font(0).bold(),
                      (*it)->childCount() > 0 && (*it)->isExpanded());
  }
  return rows;
}

// What the list shows: every row's texts and weight (as a set: rows that
// sort equal may stand in either order), and the sort column's texts in
// row order.
struct ListPicture {
  std::set<std::tuple<ObjectId, QString, QString, QString, bool>> rows;
  std::vector<QString> keys;
  bool operator==(const ListPicture&) const = default;
};

ListPicture ListRows(const CFeedListView& list) {
  ListPicture picture;
  const QAbstractItemModel* m = list.model();
  const int column = std::max(list.SortColumn(), 0);
  for (int r = 0; r < m->rowCount(); ++r) {
    auto text = [&](int c) { return m->index(r, c).data().toString(); };
    picture.rows.emplace(list.ArticleModel()->IdAt(r), text(CArticleTableModel::kTitle),
                         text(CArticleTableModel::kChannel), text(CArticleTableModel::kDate),
                         m->index(r, 0).data(Qt::FontRole).value<QFont>().bold());
    picture.keys.push_back(text(column));
  }
  return picture;
}

std::string Describe(const std::vector<TreeRow>& rows) {
  std::string out;
  for (const auto& [depth, id, label, bold, expanded] : rows) {
    out += std::string(static_cast<size_t>(depth) * 2, ' ') + label.toStdString() + (bold ? " [b]" : "") +
           (expanded ? " [+]" : "") + " #" + std::to_string(id) + "\n";
  }
  return out;
}

class PaneChangesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The article pages are written to a private folder.
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(tmp.path()));
    f.model.SeedRandom(5);
    CGroup* news = f.Group(0, u"News");
    f.Group(news->m_id, u"Local");
    f.Group(0, u"Tech");
    for (ObjectId g : Groups()) {
      for (int i = 0; i < 2; ++i) {
        CFeedSource* s = f.Source(g, NewName());
        for (int a = 0; a < 3; ++a) f.Article(s, NewName(), a == 0, NewDate());
      }
    }
    f.CreateViews(true);
    f.window.show();
  }
  void TearDown() override { qunsetenv("XDG_RUNTIME_DIR"); }

  std::u16string NewName() {
    // A random first letter puts the node anywhere among its siblings; the
    // number keeps every name apart, so no two siblings sort equal.
    const std::string n = std::string(1, static_cast<char>((rng() % 2 ? 'a' : 'A') + rng() % 26)) +
                          std::to_string(++m_names);
    return std::u16string(n.begin(), n.end());
  }
  CDateTime NewDate() {
    // Every article at its own minute.
    const int m = static_cast<int>((static_cast<int64_t>(++m_dates) * 7919) % 500009);
    CDateTime d;
    d.SetDateTime(2001 + m / 483840, 1 + m / 40320 % 12, 1 + m / 1440 % 28, m / 60 % 24, m % 60, 0);
    return d;
  }
  IdList Groups() const {
    IdList ids;
    f.model.CollectGroups(ids);
    return ids;
  }
  IdList Sources() const {
    IdList ids;
    f.model.CollectSources(0, ids);
    return ids;
  }
  IdList Articles() const {
    IdList ids;
    f.model.CollectFeeds(0, ids);
    return ids;
  }
  template <typename T>
  T Pick(const std::vector<T>& from) {
    return from[rng() % from.size()];
  }
  IdList SomeOf(const IdList& from) {
    IdList some;
    for (ObjectId id : from)
      if (rng() % 4 == 0) some.push_back(id);
    return some;
  }
  // New articles in the source, as an update appends them.
  void Update(ObjectId source) {
    std::vector<ArticleCandidate> arriving(1 + rng() % 3);
    for (ArticleCandidate& a : arriving) {
      a.fields.m_title = NewName();
      a.fields.m_channel = f.model.GetFeedSource(source)->m_title;
      a.fields.m_date = NewDate();
      a.fields.m_read = rng() % 3 == 0;
    }
    DeliverArticles(f.model, source, std::move(arriving));
  }

  // What another process committed: a few rows of every kind, in one change.
  void ExternalChange() {
    f.model.ApplyExternal([&] {
      for (int k = 0; k < 3; ++k) {
        switch (rng() % 7) {
          case 0: {
            CGroup* g = CModelWriter(f.model).NewGroup();
            f.model.SetGroupFields(g->m_id, {NewName(), rng() % 2 == 0});
            const ObjectId parent = rng() % 3 == 0 ? 0 : Pick(Groups());
            f.model.PlaceGroup(g->m_id, parent, parent == 0);
            break;
          }
          case 1: {
            CFeedSource* s = CModelWriter(f.model).NewFeedSource();
            CFeedSource fields;
            fields.m_title = NewName();
            fields.m_url = u"http://example.com/" + fields.m_title;
            fields.m_sortColumn = static_cast<int32_t>(rng() % 3);
            fields.m_sortDirection = rng() % 2 ? kSortAscending : kSortDescending;
            f.model.SetSourceFields(s->m_id, fields);
            f.model.PlaceSource(s->m_id, Pick(Groups()));
            break;
          }
          case 2: {
            const IdList articles = Articles();
            if (!articles.empty()) f.model.PlaceArticle(Pick(articles), Pick(Sources()));
            break;
          }
          case 3: {
            const IdList articles = Articles();
            if (!articles.empty()) f.model.RemoveNode(Pick(articles));
            break;
          }
          case 4:
            f.model.MarkRead(SomeOf(Articles()), rng() % 2 == 0);
            break;
          case 5: {
            const ObjectId g = Pick(Groups());
            f.model.SetGroupFields(g, {rng() % 2 ? NewName() : f.model.GetGroup(g)->m_name, rng() % 2 == 0});
            break;
          }
          case 6:
            if (Sources().size() > 2) f.model.RemoveNode(Pick(Sources()));
            break;
        }
      }
    });
  }

  void RandomStep() {
    const IdList groups = Groups();
    const IdList sources = Sources();
    const IdList articles = Articles();
    CCommands& c = *f.commands;
    switch (rng() % 20) {
      case 0:
        f.model.AddSource(Pick(groups), u"http://example.com/" + NewName());
        break;
      case 1: {
        const ObjectId parent = rng() % 3 == 0 ? 0 : Pick(groups);
        f.model.AddGroup(parent, NewName());
        break;
      }
      case 2:
        if (sources.size() > 2) {
          const ObjectId s = Pick(sources);
          c.DeleteSource(s, f.model.FindGroupOfSource(s)->m_id);
        }
        break;
      case 3:
        if (groups.size() > 3) c.DeleteGroup(Pick(groups));
        break;
      case 4:
        if (!sources.empty()) c.MoveSource(Pick(sources), Pick(groups));
        break;
      case 5: {
        const ObjectId g = Pick(groups);
        const ObjectId target = rng() % 3 == 0 ? 0 : Pick(groups);
        if (f.model.CanMoveGroup(g, target)) c.MoveGroup(g, target);
        break;
      }
      case 6:
        c.Rename(rng() % 2 || sources.empty() ? Pick(groups) : Pick(sources), QString::fromStdU16String(NewName()));
        break;
      case 7:
      case 8:
        if (!sources.empty()) Update(Pick(sources));
        break;
      case 9:
        c.DeleteArticles(SomeOf(articles));
        break;
      case 10:
        // The list's own delete, of rows it shows.
        if (f.list->model()->rowCount() > 0) f.list->DeleteArticles(SomeOf(f.list->ArticleModel()->Ids()));
        break;
      case 11:
        c.MarkRead(SomeOf(articles), rng() % 2 == 0);
        break;
      case 12:
        if (!articles.empty() && !sources.empty()) f.model.PlaceArticle(Pick(articles), Pick(sources));
        break;
      case 13:
        if (!f.list->Filter().AllArticles() && f.list->model()->rowCount() > 0) {
          f.list->SortByHeader(static_cast<int>(rng() % 3));
        } else if (!sources.empty()) {
          c.SortSources({Pick(sources)}, static_cast<int>(rng() % 3), rng() % 2 == 0);
        }
        break;
      case 14: {
        const ObjectId g = Pick(groups);
        if (rng() % 2) {
          c.SetExpanded(g, !f.model.GetGroup(g)->m_expanded);
        } else if (QTreeWidgetItem* item = f.tree->FindItem(g)) {
          item->setExpanded(!item->isExpanded());  // as the user's click does
        }
        break;
      }
      case 15:
      case 16: {
        // The user selects a node, or reads an article of the list.
        if (rng() % 2) {
          const IdList nodes = rng() % 2 ? groups : sources;
          if (!nodes.empty()) f.tree->SelectItem(f.tree->FindItem(Pick(nodes)));
        } else if (f.list->model()->rowCount() > 0) {
          f.list->ReadRow(static_cast<int>(rng() % static_cast<unsigned>(f.list->model()->rowCount())));
        }
        break;
      }
      case 17: {
        static const char* const kTexts[] = {"", "", "a", "e", "1"};
        f.list->SetFilter(QString::fromLatin1(kTexts[rng() % 5]), false, rng() % 4 == 0);
        break;
      }
      case 18:
      case 19:
        // Another process wrote the library, perhaps twice in one turn.
        ExternalChange();
        if (rng() % 2) ExternalChange();
        break;
    }
  }

  // Every pane against panes built fresh from the model, showing the same
  // node through the same filter.
  void ExpectSameAsFresh() {
    test::FakeUpdater freshUpdater;
    QWidget window;
    window.resize(800, 600);
    auto fresh = std::make_unique<CPanes>(f, freshUpdater, &window, false);
    fresh->List().resize(f.list->size());
    fresh->InitialUpdate();
    const CArticleFilter& filter = f.list->Filter();
    fresh->List().SetFilter(filter.Text(), filter.UnreadOnly(), filter.AllArticles());
    const std::optional<ObjectId> shown = f.list->ShownNode();
    EXPECT_EQ(f.tree->SelectedNode(), shown);
    if (shown.has_value()) fresh->Tree().SelectItem(fresh->Tree().FindItem(*shown));
    const std::vector<TreeRow> want = TreeRows(fresh->Tree());
    const std::vector<TreeRow> got = TreeRows(*f.tree);
    EXPECT_EQ(got, want) << "shown:\n" << Describe(got) << "fresh:\n" << Describe(want);
    EXPECT_EQ(fresh->List().ShownNode(), shown);
    EXPECT_TRUE(ListRows(*f.list) == ListRows(fresh->List()));
    // The header's arrow stays as it was while the root item shows nothing.
    if (filter.AllArticles() || shown.value_or(0) != 0) {
      EXPECT_EQ(f.list->SortColumn(), fresh->List().SortColumn());
      EXPECT_EQ(f.list->SortAscending(), fresh->List().SortAscending());
    }
    // The page shows an article that is still there and still listed.
    const ObjectId page = f.view->CurrentFeedId();
    if (page != 0) {
      EXPECT_NE(f.model.GetFeed(page), nullptr);
      EXPECT_GE(f.list->FindRow(page), 0);
    }
    fresh.reset();
  }

  test::TempDir tmp;
  FakeMainFrame f;
  std::mt19937 rng{20261209};
  int m_names = 0;
  int m_dates = 0;
};

TEST_F(PaneChangesTest, RandomOperationsLeaveEveryPaneAsAFreshBuildShowsIt) {
  QSignalSpy rebuilds(f.tree, &CSourceListView::refreshed);
  for (int step = 0; step < 400; ++step) {
    SCOPED_TRACE(step);
    RandomStep();
    // Another process's rows, the column's width: a turn of the event loop.
    QCoreApplication::processEvents();
    ExpectSameAsFresh();
    if (HasFailure()) break;
  }
  // Every record found its place: the tree was never rebuilt.
  EXPECT_EQ(rebuilds.count(), 0);
}

// Rows another process committed reach the panes a turn of the event loop
// later, all changes of that turn at once, and the page lets go of an
// article that went.
TEST_F(PaneChangesTest, ExternalChangesAreAppliedOncePerTurn) {
  const ObjectId source = Sources().front();
  f.tree->SelectItem(f.tree->FindItem(source));
  f.list->ReadRow(0);
  const ObjectId read = f.view->CurrentFeedId();
  ASSERT_NE(read, 0u);
  QSignalSpy applied(f.router, &CPaneRouter::changeApplied);
  const int rows = f.list->model()->rowCount();
  CGroup* added = CModelWriter(f.model).NewGroup();
  f.model.ApplyExternal([&] {
    f.model.SetGroupFields(added->m_id, {u"From elsewhere", true});
    f.model.PlaceGroup(added->m_id, 0, true);
  });
  f.model.ApplyExternal([&] { f.model.RemoveNode(read); });
  EXPECT_TRUE(f.router->ExternalPending());
  EXPECT_EQ(f.tree->FindItem(added->m_id), nullptr);
  EXPECT_EQ(f.list->model()->rowCount(), rows);
  EXPECT_EQ(applied.count(), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return applied.count() > 0; }, 1000));
  EXPECT_EQ(applied.count(), 1);
  EXPECT_EQ(applied.front().front().toBool(), true);
  ASSERT_NE(f.tree->FindItem(added->m_id), nullptr);
  EXPECT_EQ(f.tree->FindItem(added->m_id)->text(0), QStringLiteral("From elsewhere"));
  EXPECT_EQ(f.list->model()->rowCount(), rows - 1);
  EXPECT_EQ(f.list->FindRow(read), -1);
  EXPECT_EQ(f.view->CurrentFeedId(), 0u);
  // Nothing of another process's is written back.
  EXPECT_EQ(f.saves, 0);
  ExpectSameAsFresh();
}

// An update's new rows go into their sorted places; the rows the user had
// selected and the scroll position stay.
TEST_F(PaneChangesTest, NewRowsKeepTheSelectionAndTheScrollPosition) {
  const ObjectId source = Sources().front();
  std::vector<ArticleCandidate> arriving(200);
  for (ArticleCandidate& a : arriving) {
    a.fields.m_title = u"m" + NewName();
    a.fields.m_date = NewDate();
  }
  DeliverArticles(f.model, source, std::move(arriving));
  f.tree->SelectItem(f.tree->FindItem(source));
  f.commands->SortSources({source}, CArticleTableModel::kTitle, true);
  ASSERT_EQ(f.list->SortColumn(), CArticleTableModel::kTitle);
  const int middle = f.list->model()->rowCount() / 2;
  f.list->ReadRow(middle);
  const ObjectId chosen = f.list->ArticleModel()->IdAt(middle);
  QCoreApplication::processEvents();
  const int scroll = f.list->verticalScrollBar()->value();
  ASSERT_GT(scroll, 0);
  // Titles after every shown one ("z..."), so the rows above stay.
  std::vector<ArticleCandidate> later(5);
  for (ArticleCandidate& a : later) a.fields.m_title = u"z" + NewName();
  DeliverArticles(f.model, source, std::move(later));
  EXPECT_EQ(f.list->SelectedArticles(), IdList{chosen});
  EXPECT_EQ(f.list->verticalScrollBar()->value(), scroll);
  EXPECT_EQ(f.view->CurrentFeedId(), chosen);
  ExpectSameAsFresh();
}

}  // namespace
}  // namespace qb
