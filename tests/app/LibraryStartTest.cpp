// The window on the user's library, in a private data folder: the first
// start takes in the data file and leaves it as it was, each change is on
// the disk a turn of the event loop later (no exit needed), a library that
// cannot be read is put aside and said so, the data file menu entries,
// another process on the same library at once, the update state shared with
// it, and one transaction per turn of the event loop.
#include <gtest/gtest.h>

#include <atomic>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

#include "app/Commands.h"
#include "app/MainFrame.h"
#include "app/SaveStatus.h"
#include "classic/DataFile.h"
#include "library/Library.h"
#include "library/LibraryLink.h"
#include "model/ModelWriter.h"
#include "tests/app/AppHarness.h"
#include "tests/support/FullDisk.h"
#include "tests/support/SampleModel.h"
#include "tests/support/TempDir.h"
#include "update/Validators.h"
#include "views/SourceListView.h"

namespace qb {
namespace {

using test::AppHarness;
using test::UiTestScope;

QString DataFolder(const AppHarness& h) { return h.DataHome() + QStringLiteral("/Velmorant/Quillbend"); }

// Runs the event loop until `done` (at most ten seconds); whether it came.
bool PumpUntil(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > 10000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// The library as another process reads it now.
void ReadStored(const std::string& path, CFeedsManager& into) {
  CLibrary library;
  LibraryOpenOptions options;
  options.readOnly = true;
  ASSERT_TRUE(library.Open(path, options).opened);
  ASSERT_TRUE(library.Load(into).ok);
}

size_t SourceCount(const CFeedsManager& m) {
  IdList sources;
  m.CollectSources(0, sources);
  return sources.size();
}

// A harness on the library, past the first run, with the sample model as
// the classic data file in its folder.
struct LibraryStart {
  LibraryStart() {
    h.useLibrary = true;
    UiTestScope::Store(test::kSettings, QStringLiteral("FirstRun"), 0);
    EXPECT_TRUE(QDir().mkpath(DataFolder(h)));
    test::BuildSampleModel(sample, 200);
    dataFile = (DataFolder(h) + QStringLiteral("/Feeds")).toStdString();
    EXPECT_TRUE(SaveDataFile(sample, dataFile).ok);
    dataBytes = test::ReadFile(dataFile);
  }
  std::string LibraryPath() const { return h.library->LibraryPath(); }

  AppHarness h;
  CFeedsManager sample;
  std::string dataFile;
  std::string dataBytes;
};

TEST(LibraryStartTest, TheFirstStartImportsTheDataFileOnceAndEachChangeIsOnDiskWithoutAnExit) {
  LibraryStart s;
  AppHarness& h = s.h;
  ASSERT_TRUE(h.Start());
  EXPECT_TRUE(h.scope.messages.empty());
  EXPECT_TRUE(h.Frame().StatusText().contains(QStringLiteral("was imported into the library")))
      << h.Frame().StatusText().toStdString();
  EXPECT_EQ(SourceCount(h.Model()), SourceCount(s.sample));
  EXPECT_EQ(test::ReadFile(s.dataFile), s.dataBytes) << "the data file is kept as it was";

  // Read one article as the user does; no timer, no exit: the event loop
  // alone takes it to the disk.
  IdList unread;
  for (ObjectId id : [&] { IdList all; h.Model().CollectFeeds(0, all); return all; }()) {
    if (!h.Model().GetFeed(id)->m_read) unread.push_back(id);
  }
  ASSERT_FALSE(unread.empty());
  const ObjectId article = unread.front();
  // Its texts stay in the library until the page asks for them.
  EXPECT_TRUE(h.Model().GetFeed(article)->m_description.empty());
  EXPECT_EQ(h.Model().ArticleTexts(article).description.str(), u"<p>Body \u00FC</p>\r\n\ttab");
  h.Model().MarkRead({article}, true);
  ASSERT_TRUE(PumpUntil([&] { return !h.library->HasPending(); }));
  {
    CFeedsManager stored;
    ReadStored(s.LibraryPath(), stored);
    ASSERT_NE(stored.GetFeed(article), nullptr);
    EXPECT_TRUE(stored.GetFeed(article)->m_read);
  }

  // The next start (the previous one dropped without its close sequence,
  // as if killed) finds the library: no second import, no note.
  ASSERT_TRUE(h.Start());
  EXPECT_FALSE(h.Frame().StatusText().contains(QStringLiteral("imported")));
  EXPECT_TRUE(h.scope.messages.empty());
  EXPECT_EQ(SourceCount(h.Model()), SourceCount(s.sample));
  ASSERT_NE(h.Model().GetFeed(article), nullptr);
  EXPECT_TRUE(h.Model().GetFeed(article)->m_read);
  EXPECT_EQ(test::ReadFile(s.dataFile), s.dataBytes);
}

// What the tree's commands change (a group folded, a feed's sort) reaches
// the library like any other change, and is there at the next start.
TEST(LibraryStartTest, TheCommandsChangesReachTheLibrary) {
  LibraryStart s;
  AppHarness& h = s.h;
  ASSERT_TRUE(h.Start());
  ObjectId group = 0;
  for (const auto& [id, record] : h.Model().Storage().IdIndex()) {
    if (h.Model().GetGroup(id) != nullptr) group = id;
  }
  ASSERT_NE(group, 0u);
  const bool expanded = h.Model().GetGroup(group)->m_expanded;
  IdList sources;
  h.Model().CollectSources(0, sources);
  ASSERT_FALSE(sources.empty());
  const CFeedSource* source = h.Model().GetFeedSource(sources.front());
  const int column = source->m_sortColumn == 1 ? 2 : 1;
  const bool ascending = source->m_sortDirection != kSortAscending;
  h.Frame().Commands().SetExpanded(group, !expanded);
  h.Frame().Commands().SortSources({sources.front()}, column, ascending);
  ASSERT_TRUE(PumpUntil([&] { return !h.library->HasPending(); }));

  CFeedsManager stored;
  ReadStored(s.LibraryPath(), stored);
  ASSERT_NE(stored.GetGroup(group), nullptr);
  EXPECT_EQ(stored.GetGroup(group)->m_expanded, !expanded);
  ASSERT_NE(stored.GetFeedSource(sources.front()), nullptr);
  EXPECT_EQ(stored.GetFeedSource(sources.front())->m_sortColumn, column);
  EXPECT_EQ(stored.GetFeedSource(sources.front())->m_sortDirection, ascending ? kSortAscending : kSortDescending);
}

TEST(LibraryStartTest, ALibraryThatCannotBeReadIsPutAsideAndSaidOnce) {
  AppHarness h;
  h.useLibrary = true;
  UiTestScope::Store(test::kSettings, QStringLiteral("FirstRun"), 0);
  ASSERT_TRUE(QDir().mkpath(DataFolder(h)));
  const std::string garbage(8192, 'Q');
  const std::string path = (DataFolder(h) + QStringLiteral("/Library.sqlite")).toStdString();
  test::WriteFile(path, garbage);
  ASSERT_TRUE(h.Start());
  ASSERT_EQ(h.scope.messages.size(), 1u);
  EXPECT_EQ(h.scope.messages[0].icon, MsgIcon::Critical);
  EXPECT_TRUE(h.scope.messages[0].text.contains(QStringLiteral("damaged")));
  const QStringList aside = QDir(DataFolder(h)).entryList({QStringLiteral("Library.sqlite.unreadable*")}, QDir::Files);
  ASSERT_EQ(aside.size(), 1);
  EXPECT_EQ(test::ReadFile((DataFolder(h) + u'/' + aside[0]).toStdString()), garbage) << "never written over";
  // The new library is in use: a change lands in it.
  EXPECT_EQ(h.Model().RootGroups().size(), 1u);
  const CGroup* group = h.Model().AddGroup(0, u"After the damage");
  ASSERT_NE(group, nullptr);
  const ObjectId id = group->m_id;
  ASSERT_TRUE(PumpUntil([&] { return !h.library->HasPending(); }));
  CFeedsManager stored;
  ReadStored(path, stored);
  EXPECT_NE(stored.GetGroup(id), nullptr);
  h.Frame().OnTimer(FrameTimer::Tick);
  EXPECT_EQ(h.scope.messages.size(), 1u);
}

TEST(LibraryStartTest, TheFileMenuExportsAndImportsDataFiles) {
  LibraryStart s;
  AppHarness& h = s.h;
  ASSERT_TRUE(h.Start());
  test::TempDir out;
  QString asked;
  h.Frame().SetDataFilePathAsker([&] { return asked; });

  // Export: the library as the classic file, with the window's changes.
  const CGroup* fresh = h.Model().AddGroup(0, u"Made in the window");
  ASSERT_NE(fresh, nullptr);
  asked = QString::fromStdString(out.File("Exported"));
  h.Frame().OnExportDataFile();
  ASSERT_EQ(h.scope.messages.size(), 1u);
  EXPECT_EQ(h.scope.messages.back().icon, MsgIcon::Information);
  CFeedsManager exported;
  ASSERT_TRUE(LoadDataFile(exported, out.File("Exported")).ok());
  EXPECT_EQ(SourceCount(exported), SourceCount(s.sample));
  EXPECT_NE(exported.FindRootGroupByName(u"Made in the window"), nullptr);

  // A damaged file: nothing changes, and the user is told why.
  test::WriteFile(out.File("Damaged"), s.dataBytes.substr(0, s.dataBytes.size() / 3));
  const size_t before = SourceCount(h.Model());
  const size_t rootsBefore = h.Model().RootGroups().size();
  asked = QString::fromStdString(out.File("Damaged"));
  h.Frame().OnImportDataFile();
  ASSERT_EQ(h.scope.messages.size(), 2u);
  EXPECT_EQ(h.scope.messages.back().icon, MsgIcon::Warning);
  EXPECT_TRUE(h.scope.messages.back().text.contains(QStringLiteral("Nothing was imported")));
  EXPECT_EQ(SourceCount(h.Model()), before);
  EXPECT_EQ(h.Model().RootGroups().size(), rootsBefore);

  // Another user's file: its feeds join the tree and the library.
  CFeedsManager other;
  other.FixUpAfterLoad();
  const CFeedSource* theirs = other.AddSource(other.RootGroups()[0], u"https://elsewhere.example/feed");
  ASSERT_NE(theirs, nullptr);
  ASSERT_TRUE(SaveDataFile(other, out.File("Theirs")).ok);
  asked = QString::fromStdString(out.File("Theirs"));
  h.Frame().OnImportDataFile();
  ASSERT_EQ(h.scope.messages.size(), 3u);
  EXPECT_EQ(h.scope.messages.back().icon, MsgIcon::Information);
  EXPECT_EQ(SourceCount(h.Model()), before + 1);
  EXPECT_TRUE(h.Model().HasSourceWithUrl(u"https://elsewhere.example/feed"));
  ASSERT_TRUE(PumpUntil([&] { return !h.library->HasPending(); }));
  CFeedsManager stored;
  ReadStored(s.LibraryPath(), stored);
  EXPECT_TRUE(stored.HasSourceWithUrl(u"https://elsewhere.example/feed"));
  stored.SetArticleStore(nullptr);

  // A large file comes in a few feeds a turn, the progress on screen; its
  // Cancel stops it, and what came in stays.
  CFeedsManager large;
  test::BuildLargeModel(large);
  ASSERT_TRUE(SaveDataFile(large, out.File("Large")).ok);
  asked = QString::fromStdString(out.File("Large"));
  QString shown;
  QTimer watch;
  watch.setInterval(0);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* progress = qobject_cast<QProgressDialog*>(w);
      if (progress == nullptr || !progress->isVisible() || !progress->labelText().contains(QStringLiteral("articles")))
        continue;
      shown = progress->labelText();
      progress->cancel();
      watch.stop();
    }
  });
  watch.start();
  const size_t sourcesBefore = SourceCount(h.Model());
  h.Frame().OnImportDataFile();
  watch.stop();
  EXPECT_TRUE(shown.startsWith(QStringLiteral("Importing the data file: "))) << shown.toStdString();
  const size_t came = SourceCount(h.Model()) - sourcesBefore;
  EXPECT_GT(came, 0u);
  EXPECT_LT(came, SourceCount(large));
  EXPECT_TRUE(h.scope.messages.back().text.contains(QStringLiteral("stopped before the end")))
      << h.scope.messages.back().text.toStdString();
  // Once written, the texts that came in are read from the library, and
  // the memory they took is given back.
  ASSERT_TRUE(PumpUntil([&] { return !h.library->HasPending(); }));
  IdList articles;
  h.Model().CollectFeeds(0, articles);
  size_t held = 0;
  for (ObjectId id : articles) {
    const CFeed* a = h.Model().GetFeed(id);
    held += a->m_textsStored && a->m_description.capacity() < 64 ? 0 : 1;
  }
  EXPECT_EQ(held, 0u) << "of " << articles.size();
}

TEST(LibraryStartTest, AnotherProcessAndTheWindowShareTheLibrary) {
  LibraryStart s;
  AppHarness& h = s.h;
  ASSERT_TRUE(h.Start());
  const std::string path = s.LibraryPath();

  // What a command of quillbend-cli does: its own connections and model,
  // the rows it changed written at its end.
  CLibrary cli;
  ASSERT_TRUE(cli.Open(path).opened);
  CFeedsManager cliModel;
  ASSERT_TRUE(cli.Load(cliModel).ok);
  ObjectId added = 0;
  {
    CLibraryLink sync(cliModel, cli);
    const CFeedSource* source = cliModel.AddSource(cliModel.RootGroups()[0], u"https://cli.example/feed");
    ASSERT_NE(source, nullptr);
    added = source->m_id;
    const LibraryFlushReport report = sync.FlushAndWait();
    ASSERT_FALSE(report.failure.has_value());
  }
  // The window picks it up while it runs, and the tree shows it.
  ASSERT_TRUE(PumpUntil([&] { return h.Model().GetFeedSource(added) != nullptr; }));
  h.Pump();
  EXPECT_NE(h.Frame().SourceTree()->FindItem(added), nullptr);

  // And what the window changes meanwhile reaches the other process.
  const CGroup* group = h.Model().AddGroup(0, u"From the window");
  ASSERT_NE(group, nullptr);
  const ObjectId groupId = group->m_id;
  ASSERT_TRUE(PumpUntil([&] { return !h.library->HasPending(); }));
  CFeedsManager again;
  ReadStored(path, again);
  EXPECT_NE(again.GetGroup(groupId), nullptr);
  EXPECT_NE(again.GetFeedSource(added), nullptr);
}

// The feeds' update state is the library's: what a command stored shows in
// the window, what the window's engine records reaches the library without
// any change of the model, and a restart finds both.
TEST(LibraryStartTest, TheWindowAndACommandShareTheUpdateStateAndARestartKeepsIt) {
  LibraryStart s;
  AppHarness& h = s.h;
  ASSERT_TRUE(h.Start());
  ASSERT_TRUE(PumpUntil([&] { return !h.library->HasPending(); }));
  const std::string path = s.LibraryPath();
  IdList sources;
  for (ObjectId id : [&] { IdList all; h.Model().CollectSources(0, all); return all; }()) {
    if (!h.Model().GetFeedSource(id)->m_url.empty()) sources.push_back(id);
  }
  ASSERT_GE(sources.size(), 2u);
  const ObjectId byCommand = sources[0], byWindow = sources[1];
  const std::u16string commandUrl = h.Model().GetFeedSource(byCommand)->m_url;
  const std::u16string windowUrl = h.Model().GetFeedSource(byWindow)->m_url;

  {
    // quillbend-cli's update: its own connections, model and state.
    CLibrary cli;
    ASSERT_TRUE(cli.Open(path).opened);
    CFeedsManager cliModel;
    const LibraryLoadResult load = cli.Load(cliModel);
    ASSERT_TRUE(load.ok);
    CValidatorStore state;
    CLibraryLink sync(cliModel, cli, &load);
    sync.SetUpdateStates(&state);
    SourceUpdateState& st = state.Get(byCommand, commandUrl);
    st.failures = 2;
    st.lastAttempt = 1'700'000'000;
    st.failure = u"HTTP status 404";
    ASSERT_TRUE(sync.FlushAndWait().written);
    cliModel.SetArticleStore(nullptr);
  }
  // The window sees it while it runs: the reason beside the warning mark,
  // although the model did not change.
  ASSERT_TRUE(PumpUntil([&] { return h.updater.StateOf(byCommand).failure == u"HTTP status 404"; }));
  EXPECT_EQ(h.updater.StateOf(byCommand).failures, 2u);
  h.Pump();
  const QTreeWidgetItem* commandItem = h.Frame().SourceTree()->FindItem(byCommand);
  ASSERT_NE(commandItem, nullptr);
  EXPECT_EQ(commandItem->toolTip(0), QStringLiteral("The last update failed: HTTP status 404"));

  // The window's engine records a failure; the model does not change.
  CValidatorStore* windowState = h.updater.FetchState();
  ASSERT_NE(windowState, nullptr);
  SourceUpdateState& mine = windowState->Get(byWindow, windowUrl);
  mine.failures = 1;
  mine.failure = u"did not answer in time";
  auto storedFailure = [&](ObjectId id) {
    CLibrary reader;
    LibraryOpenOptions options;
    options.readOnly = true;
    std::vector<LibraryUpdateState> states;
    if (!reader.Open(path, options).opened || !reader.ReadUpdateStates(states)) return std::u16string(u"?");
    for (const LibraryUpdateState& st : states) {
      if (st.source == id) return st.failure;
    }
    return std::u16string();
  };
  ASSERT_TRUE(PumpUntil([&] { return storedFailure(byWindow) == u"did not answer in time"; }));
  EXPECT_EQ(storedFailure(byCommand), u"HTTP status 404");

  ASSERT_TRUE(h.Start());
  EXPECT_EQ(h.updater.StateOf(byCommand).failure, u"HTTP status 404");
  EXPECT_EQ(h.updater.StateOf(byWindow).failure, u"did not answer in time");
  EXPECT_EQ(h.updater.StateOf(byWindow).failures, 1u);
}

// The first start takes over what was kept beside the data file it
// imports: the warning's reason always, the validators only when the file
// is the very one they were saved with and needed no repair (the sample
// names a source that does not exist), and the status line says why not.
TEST(LibraryStartTest, TheFirstStartTakesOverTheUpdateStateOfTheDataFile) {
  for (const bool wellFormed : {false, true}) {
    SCOPED_TRACE(wellFormed);
    LibraryStart s;
    if (wellFormed) {
      for (const auto& [id, record] : s.sample.Storage().IdIndex()) {
        if (auto* g = CModelWriter(s.sample).Group(id)) std::erase(g->m_sources, 0x00DEAD00u);
      }
      ASSERT_TRUE(SaveDataFile(s.sample, s.dataFile).ok);
    }
    IdList sources;
    s.sample.CollectSources(0, sources);
    ASSERT_FALSE(sources.empty());
    const CFeedSource* source = s.sample.GetFeedSource(sources.front());
    CValidatorStore state;
    SourceUpdateState& st = state.Get(source->m_id, source->m_url);
    st.etag = "\"e1\"";
    st.failures = 3;
    st.failure = u"host not found";
    state.SetDataFile(DataFileFingerprint::Of(s.dataFile));
    ASSERT_TRUE(state.Save(CValidatorStore::CachePathFor(s.dataFile)));

    AppHarness& h = s.h;
    ASSERT_TRUE(h.Start());
    EXPECT_EQ(h.updater.StateOf(source->m_id).failure, u"host not found");
    EXPECT_EQ(h.updater.StateOf(source->m_id).failures, 3u);
    EXPECT_EQ(h.updater.StateOf(source->m_id).etag, wellFormed ? "\"e1\"" : "");
    EXPECT_EQ(h.Frame().StatusText().contains(QStringLiteral("without validators, as the import repaired")),
              !wellFormed)
        << h.Frame().StatusText().toStdString();
  }
}

// Each turn of the event loop that changed the model is one transaction,
// on the disk a turn later: the save timer and the heartbeat are pushed out
// of reach, so only the turn's own write can bring it there.
TEST(LibraryStartTest, TheChangesOfOneTurnAreOneTransactionWrittenATurnLater) {
  LibraryStart s;
  AppHarness& h = s.h;
  ASSERT_TRUE(h.Start());
  ASSERT_TRUE(PumpUntil([&] { return !h.library->HasPending(); }));
  h.Frame().SetTimerInterval(FrameTimer::Save, 3600 * 1000);
  h.library->SetHeartbeatInterval(3600 * 1000);
  std::atomic<int> commits{0};
  ASSERT_NE(h.library->Library(), nullptr);
  h.library->Library()->SetCommitHook([&] { ++commits; });

  IdList articles;
  h.Model().CollectFeeds(0, articles);
  ASSERT_GE(articles.size(), 2u);
  const ObjectId group = h.Model().RootGroups()[0];
  const bool read0 = h.Model().GetFeed(articles[0])->m_read;
  // One turn: several operations with no event loop in between.
  h.Model().MarkRead({articles[0]}, !read0);
  h.Model().Rename(group, u"Renamed in one turn");
  const ObjectId added = h.Model().AddGroup(0, u"Added in one turn")->m_id;
  h.Model().MarkRead({articles[1]}, true);
  ASSERT_TRUE(PumpUntil([&] { return commits.load() >= 1 && !h.library->HasPending(); }));
  EXPECT_EQ(commits.load(), 1);
  {
    CFeedsManager stored;
    ReadStored(s.LibraryPath(), stored);
    EXPECT_EQ(stored.GetFeed(articles[0])->m_read, !read0);
    EXPECT_TRUE(stored.GetFeed(articles[1])->m_read);
    EXPECT_EQ(stored.GetGroup(group)->m_name, u"Renamed in one turn");
    EXPECT_NE(stored.GetGroup(added), nullptr);
  }
  // The next turn's change is the next transaction, and the only one.
  h.Model().Rename(added, u"The next turn");
  ASSERT_TRUE(PumpUntil([&] { return commits.load() >= 2 && !h.library->HasPending(); }));
  EXPECT_EQ(commits.load(), 2);
  CFeedsManager stored;
  ReadStored(s.LibraryPath(), stored);
  EXPECT_EQ(stored.GetGroup(added)->m_name, u"The next turn");
  h.library->Library()->SetCommitHook(nullptr);
}

}  // namespace
}  // namespace qb

namespace qb {
namespace {

// A full disk: said at once and for as long as it lasts; the exit neither
// freezes nor drops what is unsaved: the user waits for it, exports it, or
// goes back.
TEST(LibraryStartTest, AFullDiskIsSaidAndTheExitNeverFreezesNorDropsTheChanges) {
  LibraryStart s;
  AppHarness& h = s.h;
  UiTestScope::Store(test::kSettings, QStringLiteral("ConfirmExit"), 0);
  test::ScopedFullDisk disk;
  ASSERT_TRUE(h.Start());
  h.library->SetHeartbeatInterval(50);
  ASSERT_TRUE(PumpUntil([&] { return !h.library->HasPending(); }));
  const CSaveStatus& status = *h.Frame().SaveStatus();
  EXPECT_FALSE(status.MarkShown());

  disk.Fill();
  const ObjectId root = h.Model().RootGroups()[0];
  h.Model().AddGroup(root, u"Made while the disk was full");
  IdList all;
  h.Model().CollectFeeds(0, all);
  h.Model().MarkRead(all, true);
  ASSERT_TRUE(PumpUntil([&] { return status.MarkShown(); }));
  const QString said = QStringLiteral("Changes are not being saved: the disk is full");
  EXPECT_EQ(status.Mark()->text(), said);
  EXPECT_EQ(h.Frame().StatusText(), said);

  // Exit: the dialog names what is unsaved; going back keeps the window.
  QString asked;
  h.scope.answerDialog = [&](QDialog& dialog) {
    asked = dynamic_cast<CUnsavedChangesDlg&>(dialog).Text();
    return int(QDialog::Rejected);
  };
  QElapsedTimer clock;
  clock.start();
  h.Frame().OnExit();
  EXPECT_LT(clock.elapsed(), 3000) << "the exit does not wait for the disk";
  AppHarness::Pump();
  EXPECT_FALSE(h.Frame().IsClosed());
  EXPECT_TRUE(asked.contains(QStringLiteral(" changes are not saved: the disk is full."))) << asked.toStdString();

  // Waiting: space comes back while the dialog is open, the changes are
  // written and the program quits.
  h.scope.answerDialog = [&](QDialog& dialog) {
    auto& unsaved = dynamic_cast<CUnsavedChangesDlg&>(dialog);
    unsaved.SetRetryInterval(20);
    disk.Free();
    return unsaved.exec();
  };
  h.Frame().OnExit();
  AppHarness::Pump();
  EXPECT_TRUE(h.Frame().IsClosed());
  {
    CFeedsManager stored;
    ReadStored(s.LibraryPath(), stored);
    EXPECT_NE(stored.FindRootGroupByName(u"All Sources"), nullptr);
    IdList groups;
    stored.CollectGroups(groups);
    bool found = false;
    for (ObjectId g : groups) found = found || stored.GetGroup(g)->m_name == u"Made while the disk was full";
    EXPECT_TRUE(found);
    for (ObjectId a : all) EXPECT_TRUE(stored.GetFeed(a) != nullptr && stored.GetFeed(a)->m_read);
    stored.SetArticleStore(nullptr);
  }

  // Exporting: the data file holds what the library could not take.
  ASSERT_TRUE(h.Start());
  h.library->SetHeartbeatInterval(50);
  disk.Fill();
  h.Model().AddGroup(h.Model().RootGroups()[0], u"Only in the export");
  ASSERT_TRUE(PumpUntil([&] { return h.Frame().SaveStatus()->MarkShown(); }));
  const QString exported = h.DataHome() + QStringLiteral("/Elsewhere");
  h.Frame().SetDataFilePathAsker([&] { return exported; });
  h.scope.answerDialog = [&](QDialog& dialog) {
    auto& unsaved = dynamic_cast<CUnsavedChangesDlg&>(dialog);
    unsaved.ExportButton()->click();
    return unsaved.result();
  };
  h.Frame().OnExit();
  AppHarness::Pump();
  EXPECT_TRUE(h.Frame().IsClosed());
  CFeedsManager fromFile;
  ASSERT_TRUE(LoadDataFile(fromFile, exported.toStdString(), {}).ok());
  IdList groups;
  fromFile.CollectGroups(groups);
  bool found = false;
  for (ObjectId g : groups) found = found || fromFile.GetGroup(g)->m_name == u"Only in the export";
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace qb
