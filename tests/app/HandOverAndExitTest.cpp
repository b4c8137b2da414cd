// The window's side of two things that used to go wrong only at run time:
// a second start handing over a feed while the "Add New Feed" dialog it
// opens runs its own event loop (the socket it came on is freed meanwhile),
// and the exit while the add-feed search and the site icons wait for a
// server that never answers. Built from Qt Widgets alone (no web engine),
// so the sanitizer build runs it too (quillbend_widget_tests).
#include <gtest/gtest.h>

#include <QDialog>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "app/AddNewFeedDlg.h"
#include "app/QtExecutor.h"
#include "app/SingleInstance.h"
#include "app/SiteIconProvider.h"
#include "model/FeedsManager.h"
#include "model/ModelWriter.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/HttpServer.h"

namespace qb {
namespace {

using namespace std::chrono_literals;

const char kFeed[] = "<rss version=\"2.0\"><channel><title>Handed</title>"
                     "<item><title>One</title><guid>1</guid></item></channel></rss>";

// A private runtime folder, so the test never meets a real running program.
class RuntimeFolder {
 public:
  RuntimeFolder() : m_old(qgetenv("XDG_RUNTIME_DIR")) {
    qputenv("XDG_RUNTIME_DIR", m_dir.path().toLocal8Bit());
  }
  ~RuntimeFolder() { qputenv("XDG_RUNTIME_DIR", m_old); }

 private:
  QTemporaryDir m_dir;
  QByteArray m_old;
};

// The crash of a second start: the running program got the feed's address
// and opened the dialog from inside the socket's handler; the dialog ran
// while the later start hung up and its socket was freed, and accepting it
// returned into the freed socket. Here the dialog's event loop runs until
// the socket is gone, then OK is pressed and the search runs; the program
// must come out of it whole (AddressSanitizer checks the memory).
TEST(SecondStartTest, TheAddFeedDialogOfAHandedOverAddressIsAcceptedSafely) {
  test::BypassProxyForLoopback();
  test::HttpServer server;
  server.Set("/feed.xml", test::HttpResponse::Ok(kFeed));
  const QString address = QString::fromStdString(server.Url("/feed.xml"));
  RuntimeFolder runtime;
  const QString path = CSingleInstance::DefaultServerPath();
  ASSERT_FALSE(path.isEmpty());
  CSingleInstance first(path);
  ASSERT_EQ(first.ClaimOrHandOver({}), CSingleInstance::Claim::Primary);

  CQtExecutor executor;
  CDownloadPool downloads;
  CFeedsManager model;
  model.FixUpAfterLoad();
  test::FakeDesktop desktop;
  std::atomic<bool> secondEnded{false};
  std::atomic<int> claim{-1};
  int received = 0;
  int dialogResult = -1;
  QString subscribed;
  bool socketFreedMeanwhile = false;
  bool fetchedOnce = false;
  QObject::connect(&first, &CSingleInstance::commandLineReceived, [&](const QStringList& arguments) {
    ++received;
    ASSERT_EQ(arguments, QStringList{address});
    CAddNewFeedDlg dlg(desktop, model, model.RootGroups().front(),
                       std::make_unique<CFeedDiscovery>(downloads, executor));
    dlg.m_strUrl = arguments.front();
    // What the user does: waits while the other start ends, then presses
    // Enter. Every step is driven from the dialog's own event loop.
    QTimer step;
    QObject::connect(&step, &QTimer::timeout, &dlg, [&] {
      if (!secondEnded || dlg.Searching()) return;
      if (!first.findChildren<QLocalSocket*>().isEmpty()) return;
      socketFreedMeanwhile = true;
      step.stop();
      dlg.accept();
    });
    step.start(1);
    dialogResult = dlg.exec();
    subscribed = dlg.m_strUrl;
    fetchedOnce = dlg.FetchedDocument() != nullptr;
  });

  std::thread second([&] {
    CSingleInstance later(path);
    claim = static_cast<int>(later.ClaimOrHandOver({address}, 10000));
    secondEnded = true;
  });
  const bool handled = QTest::qWaitFor([&] { return dialogResult != -1; }, 20000);
  second.join();
  ASSERT_TRUE(handled);
  EXPECT_EQ(claim, static_cast<int>(CSingleInstance::Claim::HandedOver));
  EXPECT_EQ(received, 1);
  EXPECT_TRUE(socketFreedMeanwhile);
  EXPECT_EQ(dialogResult, QDialog::Accepted);
  EXPECT_EQ(subscribed, address);
  EXPECT_TRUE(fetchedOnce) << "the search keeps the feed for the first update";
  EXPECT_EQ(server.Requests().size(), 1u);
  EXPECT_TRUE(first.IsListening());
}

// Two command lines handed over close together: the second waits until the
// handler of the first has returned, and both arrive, in order.
TEST(SecondStartTest, CommandLinesArriveOneAtATimeInOrder) {
  RuntimeFolder runtime;
  const QString path = CSingleInstance::DefaultServerPath();
  CSingleInstance first(path);
  ASSERT_EQ(first.ClaimOrHandOver({}), CSingleInstance::Claim::Primary);
  QStringList order;
  int depth = 0;
  int deepest = 0;
  std::atomic<int> ended{0};
  QObject::connect(&first, &CSingleInstance::commandLineReceived, [&](const QStringList& arguments) {
    deepest = std::max(deepest, ++depth);
    order << arguments;
    // A handler with an event loop of its own, as a dialog has.
    EXPECT_TRUE(QTest::qWaitFor([&] { return ended == 2; }, 20000));
    --depth;
  });
  std::thread starts([&] {
    for (const char* a : {"https://example.com/one", "https://example.com/two"}) {
      CSingleInstance later(path);
      later.ClaimOrHandOver({QString::fromLatin1(a)}, 10000);
      ++ended;
    }
  });
  const bool both = QTest::qWaitFor([&] { return order.size() == 2 && depth == 0; }, 20000);
  starts.join();
  ASSERT_TRUE(both);
  EXPECT_EQ(order, (QStringList{QStringLiteral("https://example.com/one"),
                                QStringLiteral("https://example.com/two")}));
  EXPECT_EQ(deepest, 1);
}

// The exit while the add-feed search and the icons wait for a server that
// never answers: each is ended in the program's order, quickly, and none of
// their answers arrives afterwards.
TEST(BackgroundExitTest, TheSearchAndTheIconsEndAtOnceWithTheProgram) {
  test::BypassProxyForLoopback();
  test::HttpServer server(2);
  test::HttpResponse silent;
  silent.neverAnswer = true;
  for (const char* p : {"/", "/page", "/favicon.ico"}) server.Set(p, silent);
  QTemporaryDir cache;
  IconCacheOptions iconOptions;
  iconOptions.folder = cache.filePath(QStringLiteral("icons")).toStdString();

  auto executor = std::make_unique<CQtExecutor>();
  auto downloads = std::make_unique<CDownloadPool>();
  auto icons = std::make_unique<CSiteIconProvider>(*downloads, *executor, iconOptions);
  auto search = std::make_unique<CFeedDiscovery>(*downloads, *executor);
  int arrived = 0;
  QObject::connect(icons.get(), &ISiteIcons::iconsArrived, [&] { ++arrived; });
  EXPECT_TRUE(icons->SiteIcon(server.Url16("/feed", 1)).isNull());
  search->Start(server.Url16("/page", 2), [&](const DiscoveryResult&) { ++arrived; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.Counts().accepted == 2; }, 10000));

  const auto start = std::chrono::steady_clock::now();
  search.reset();
  icons.reset();
  downloads.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  // What was still queued for the window's thread does nothing.
  QCoreApplication::processEvents();
  executor.reset();
  EXPECT_EQ(arrived, 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.Counts().open == 0; }, 5000));
  EXPECT_EQ(server.Counts().accepted, 2);
}

}  // namespace
}  // namespace qb
