// The views on a large model: 100,000 articles in 200 sources under 10
// groups (one root group holding nine sub-groups). Runs on Qt's offscreen
// platform. The reference is the model walk that lists the articles, which
// any refresh of the list has to do.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidgetItemIterator>
#include <QWidget>
#include <memory>

#include "app/Commands.h"
#include "app/FeedUpdater.h"
#include "app/Notifier.h"
#include "app/PaneRouter.h"
#include "app/Panes.h"
#include "bench/EventLoopGap.h"
#include "bench/QuietDesktop.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "update/UpdateEngine.h"
#include "views/ArticleTableModel.h"
#include "views/Desktop.h"
#include "views/FeedListView.h"
#include "views/IMainFrame.h"
#include "views/SourceListView.h"

namespace qb {
namespace {

constexpr int kGroups = 10;
constexpr int kSources = 200;
constexpr int kArticlesPerSource = 500;

constexpr const char16_t* kWords[] = {
    u"Markets", u"weather", u"Election", u"science", u"Review", u"update", u"Sports",
    u"budget",  u"Health",  u"travel",   u"Opinion", u"music",  u"Energy", u"space",
    u"Local",   u"culture", u"Tech",     u"books",   u"Film",   u"schools"};
constexpr int kWordCount = sizeof(kWords) / sizeof(kWords[0]);

class BenchUpdater : public IFeedUpdater {
 public:
  void Attach(CFeedsManager*) override {}
  void SetListener(Listener l) override { listener = std::move(l); }
  bool UpdateAll(bool) override { return false; }
  bool UpdateSources(const IdList&, bool) override { return false; }
  bool UpdateSourceFrom(ObjectId, const std::u16string&, const DownloadResult&) override { return false; }
  std::unique_ptr<CFeedDiscovery> NewDiscovery() override { return nullptr; }
  std::unique_ptr<CArticlePageFetch> NewArticlePageFetch() override { return nullptr; }
  bool Busy() const override { return false; }
  SourceUpdateState StateOf(ObjectId) const override { return {}; }
  void SourcesRemoved() override {}
  void ForgetSource(ObjectId) override {}
  void Cancel() override {}
  CValidatorStore* FetchState() override { return nullptr; }

  // What the commands listen with: the benchmark plays the update pass.
  Listener listener;
};

class BenchFrame : public IMainFrame {
 public:
  // withText: each article also gets a description of about 700 characters
  // of HTML, as feeds deliver summaries. By default 200 sources of 500
  // articles under 10 groups.
  explicit BenchFrame(bool withText = false, int sourceCount = kSources,
                      int articlesPerSource = kArticlesPerSource, int groupCount = kGroups) {
    model.SeedRandom(42);
    const CGroup* all = model.AddGroup(0, u"All");
    allId = all->m_id;
    std::vector<ObjectId> groups{allId};
    for (int g = 1; g < groupCount; ++g)
      groups.push_back(model.AddGroup(allId, u"Group " + Num(g))->m_id);
    for (int s = 0; s < sourceCount; ++s) {
      CFeedSource* source = CModelWriter(model).Source(
          model.AddSource(groups[static_cast<size_t>(s % groupCount)], u"http://x/" + Num(s))->m_id);
      source->m_title = u"Source " + Num(s);
      // The sort the stored sources have kept: by title.
      source->m_sortColumn = 0;
      source->m_sortDirection = kSortAscending;
      for (int a = 0; a < articlesPerSource; ++a) {
        CFeed* article = CModelWriter(model).NewFeed();
        // Titles start with different words, as real ones do; one in ten
        // carries an entity to decode.
        const int n = (a * 7919 + s * 104729) % 100000;
        article->m_title = std::u16string(kWords[n % kWordCount]) + u" " +
                           kWords[(n / kWordCount) % kWordCount] + u" " + Num(n) +
                           (n % 10 == 0 ? u" &amp; more" : u"");
        article->m_channel = source->m_title;
        article->m_date.SetDateTime(2000 + a % 20, 1 + a % 12, 1 + a % 28, a % 24, a % 60, 0);
        article->m_read = a % 3 == 0;
        if (withText) article->m_description = Description(n);
        source->m_articles.push_back(article->m_id);
      }
    }
    window.resize(1000, 700);
    panes = std::make_unique<CPanes>(*this, updater, &window, false);
    tree = &panes->Tree();
    list = &panes->List();
    router = &panes->Router();
    tree->resize(200, 700);
    panes->ListPane().setGeometry(200, 0, 800, 400);
    list->resize(800, 400);
    panes->InitialUpdate();
    window.show();
  }
  ~BenchFrame() { panes.reset(); }

  static std::u16string Description(int n) {
    std::u16string text = u"<p>";
    for (int w = 0; w < 80; ++w) {
      const int k = (n * 31 + w * 17) % kWordCount;
      if (w % 20 == 7) {
        text += u"<a href=\"http://example.com/" + Num(n) + u"\">" + kWords[k] + u"</a> ";
      } else if (w % 20 == 13) {
        text += u"&amp; <b>" + std::u16string(kWords[k]) + u"</b> ";
      } else {
        text += std::u16string(kWords[k]) + (w % 10 == 9 ? u".</p><p>" : u" ");
      }
    }
    return text + Num(n) + u"</p>";
  }
  static std::u16string Num(int n) {
    const std::string s = std::to_string(n);
    return std::u16string(s.begin(), s.end());
  }
  void Select(ObjectId id) { tree->SelectItem(tree->FindItem(id)); }

  CFeedsManager& Model() override { return model; }
  IDesktop& Desktop() override { return desktop; }
  void SetStatusText(const std::u16string&) override {}
  void SetNewArticles(bool) override {}
  void PostSavePlacement() override {}
  QWidget* Window() override { return &window; }

  CFeedsManager model;
  ObjectId allId = 0;
  bench::QuietDesktop desktop;
  BenchUpdater updater;
  QWidget window;
  std::unique_ptr<CPanes> panes;
  CSourceListView* tree = nullptr;
  CFeedListView* list = nullptr;
  CPaneRouter* router = nullptr;
};

void BM_Reference_CollectFeeds(benchmark::State& state) {
  BenchFrame frame;
  for (auto _ : state) {
    IdList ids;
    frame.model.CollectFeeds(frame.allId, ids);
    benchmark::DoNotOptimize(ids.data());
  }
}
BENCHMARK(BM_Reference_CollectFeeds)->Unit(benchmark::kMillisecond);

// The tray tip's unread count, taken after each change from the counts the
// model keeps.
void BM_TrayTipUnreadCount(benchmark::State& state) {
  BenchFrame frame;
  frame.model.RebuildIndexes();
  for (auto _ : state) benchmark::DoNotOptimize(TrayToolTip(false, CountUnreadArticles(frame.model)));
}
BENCHMARK(BM_TrayTipUnreadCount)->Unit(benchmark::kMillisecond);

// From the root item (empty list) to the group holding every article: rows
// added and sorted by title.
void BM_SelectGroupShowsSortedList(benchmark::State& state) {
  BenchFrame frame;
  for (auto _ : state) {
    state.PauseTiming();
    frame.Select(0);
    QCoreApplication::processEvents();
    state.ResumeTiming();
    frame.Select(frame.allId);
    QCoreApplication::processEvents();  // the view lays out and paints
  }
  if (frame.list->model()->rowCount() != kSources * kArticlesPerSource) state.SkipWithError("rows");
}
BENCHMARK(BM_SelectGroupShowsSortedList)->Unit(benchmark::kMillisecond)->Iterations(5);

// The mark-read timer fires for one article of the 100,000 shown: the list
// and the tree are refreshed.
void BM_MarkOneArticleRead(benchmark::State& state) {
  BenchFrame frame;
  frame.Select(frame.allId);
  CArticleTableModel* rows = frame.list->ArticleModel();
  int row = 0;
  for (auto _ : state) {
    state.PauseTiming();
    row = (row + 7) % rows->rowCount();
    frame.list->selectionModel()->clearSelection();
    frame.list->SelectRow(row);
    CModelWriter(frame.model).Feed(rows->IdAt(row))->m_read = false;
    QCoreApplication::processEvents();
    state.ResumeTiming();
    frame.list->MarkPendingRead();
    QCoreApplication::processEvents();
  }
}
BENCHMARK(BM_MarkOneArticleRead)->Unit(benchmark::kMillisecond)->Iterations(20);

// 10,000 of the 100,000 rows selected (every tenth row) and deleted.
void BM_Delete10000SelectedArticles(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto frame = std::make_unique<BenchFrame>();
    frame->Select(frame->allId);
    QItemSelection selection;
    QAbstractItemModel* m = frame->list->model();
    for (int r = 0; r < m->rowCount(); r += 10) selection.select(m->index(r, 0), m->index(r, 2));
    frame->list->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    QCoreApplication::processEvents();
    state.ResumeTiming();
    frame->list->DeleteSelected();
    QCoreApplication::processEvents();
    state.PauseTiming();
    if (m->rowCount() != 90000) state.SkipWithError("rows");
    frame.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Delete10000SelectedArticles)->Unit(benchmark::kMillisecond)->Iterations(3);

// The filter above the list, as the user types into it with the group of
// all 100,000 articles selected: each keystroke narrows (or widens) the list.
// The model has no article store here: the search reads the texts in memory.
void BM_FilterKeystroke(benchmark::State& state) {
  BenchFrame frame(true);
  frame.Select(frame.allId);
  const QString typed[] = {QStringLiteral("w"),        QStringLiteral("we"),
                           QStringLiteral("wea"),      QStringLiteral("weat"),
                           QStringLiteral("weath"),    QStringLiteral("weathe"),
                           QStringLiteral("weather"),  QStringLiteral("weather "),
                           QStringLiteral("weather s"), QStringLiteral("weather sp"),
                           QStringLiteral("weather spa"), QStringLiteral("weather spac"),
                           QStringLiteral("weather space"), QStringLiteral("weather space 7"),
                           QStringLiteral("weather space 71")};
  size_t k = 0;
  int rows = 0;
  for (auto _ : state) {
    frame.list->SetFilter(typed[k], false);
    QCoreApplication::processEvents();
    rows = frame.list->model()->rowCount();
    // Typing goes on; after the last word the text is selected and typed again.
    k = (k + 1) % std::size(typed);
  }
  state.counters["rows_last"] = rows;
}
BENCHMARK(BM_FilterKeystroke)->Unit(benchmark::kMillisecond)->Iterations(60);

// The costliest keystroke: from a word in no article to one in nearly all
// of them and back, every row removed or added and sorted again.
void BM_FilterKeystrokeAllOrNothing(benchmark::State& state) {
  BenchFrame frame(true);
  frame.Select(frame.allId);
  frame.list->SetFilter(QStringLiteral("zq"), false);
  bool all = true;
  for (auto _ : state) {
    frame.list->SetFilter(all ? QStringLiteral("e") : QStringLiteral("zq"), false);
    QCoreApplication::processEvents();
    all = !all;
  }
}
BENCHMARK(BM_FilterKeystrokeAllOrNothing)->Unit(benchmark::kMillisecond)->Iterations(20);

// N with only the last of the 200 sources (in the tree's order) holding
// unread articles, from the first source: every source is looked at, then
// the last is selected and its first unread row shown.
void BM_NextUnreadAcross200Sources(benchmark::State& state) {
  BenchFrame frame;
  std::vector<QTreeWidgetItem*> sources;
  for (QTreeWidgetItemIterator it(frame.tree); *it != nullptr; ++it)
    if (frame.tree->KindOf(*it) == CSourceListView::NodeKind::Source) sources.push_back(*it);
  if (sources.size() != kSources) state.SkipWithError("sources");
  const ObjectId first = CSourceListView::IdOf(sources.front());
  const ObjectId last = CSourceListView::IdOf(sources.back());
  IdList all;
  frame.model.CollectFeeds(0, all);
  frame.model.MarkRead(all, true);
  CModelWriter(frame.model).Feed(CModelWriter(frame.model).Source(last)->m_articles.back())->m_read = false;
  for (auto _ : state) {
    state.PauseTiming();
    frame.Select(first);
    frame.list->ReadRow(0);
    QCoreApplication::processEvents();
    state.ResumeTiming();
    frame.router->GoToUnread(true);
    QCoreApplication::processEvents();
  }
  if (frame.tree->SelectedNode() != std::optional<ObjectId>(last) ||
      frame.list->SelectedArticles().size() != 1)
    state.SkipWithError("did not reach the last source");
}
BENCHMARK(BM_NextUnreadAcross200Sources)->Unit(benchmark::kMillisecond)->Iterations(20);

// An update pass applies 30 sources, 20 new articles each, one per turn of
// the event loop as the engine hands them over, while the group of all
// 60,000 of their articles is selected: the longest the window waits
// (target: under 50 ms), and how long the pass takes to be shown.
void BM_GapWhile30SourcesApplyToASelectedGroup(benchmark::State& state) {
  constexpr int kPassSources = 30;
  constexpr int kNewPerSource = 20;
  BenchFrame frame(false, kPassSources, 2000, 1);
  frame.Select(frame.allId);
  QCoreApplication::processEvents();
  IdList sources;
  frame.model.CollectSources(frame.allId, sources);
  int pass = 0;
  double gap = 0;
  for (auto _ : state) {
    ++pass;
    size_t next = 0;
    bool over = false;
    PassReport report;
    std::function<void()> applyNext = [&] {
      if (next == sources.size()) {
        report.news = true;
        frame.updater.listener.passFinished(report);
        over = true;
        return;
      }
      // What the engine does to the model for one source, then its report.
      const CFeedSource* source = frame.model.GetFeedSource(sources[next++]);
      FeedReading reading;
      reading.understood = true;
      for (int a = 0; a < kNewPerSource; ++a) {
        ArticleCandidate& article = reading.articles.emplace_back();
        const int n = pass * 1000 + a;
        article.fields.m_title = std::u16string(kWords[n % kWordCount]) + u" news " + BenchFrame::Num(n);
        article.fields.m_key = article.fields.m_title;
        article.fields.m_channel = source->m_title;
        article.fields.m_date.SetDateTime(2024, 1 + pass % 12, 1 + a % 28, a % 24, 0, 0);
      }
      frame.model.MergeArticles(source->m_id, std::move(reading), 1);
      SourceReport applied;
      applied.source = source->m_id;
      applied.title = source->m_title;
      applied.added = kNewPerSource;
      report.added += kNewPerSource;
      report.sources.push_back({source->m_id, source->m_title, kNewPerSource});
      frame.updater.listener.sourceApplied(applied);
      QTimer::singleShot(0, applyNext);
    };
    gap = bench::LongestGap([&](const bench::Spin& spin) {
      QTimer::singleShot(0, applyNext);
      spin([&] { return over; });
    });
  }
  state.counters["longest_gap_ms"] = gap;
  state.counters["rows"] = frame.list->model()->rowCount();
}
BENCHMARK(BM_GapWhile30SourcesApplyToASelectedGroup)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
}  // namespace qb

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
