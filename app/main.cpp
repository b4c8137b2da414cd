#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QEvent>
#include <QMetaObject>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/AccountService.h"
#include "app/DataFileIo.h"
#include "app/DesktopSecretStore.h"
#include "app/DesktopScheme.h"
#include "app/FeedUpdater.h"
#include "app/LibraryDataIo.h"
#include "app/MainFrame.h"
#include "app/QtExecutor.h"
#include "app/RSSReaderApp.h"
#include "app/SettingsManager.h"
#include "app/SingleInstance.h"
#include "app/SiteIconProvider.h"
#include "app/StartRequests.h"
#include "app/UpdateService.h"
#include "views/ArticlePage.h"
#include "views/Desktop.h"
#include "views/ReaderExtractor.h"
#include "views/SourceListView.h"

namespace {

void SetNames() {
  QCoreApplication::setOrganizationName(QString::fromLatin1(qb::kOrganisationName));
  QCoreApplication::setApplicationName(QString::fromLatin1(qb::kApplicationName));
  QCoreApplication::setApplicationVersion(QStringLiteral(QB_VERSION));
}

void Describe(QCommandLineParser& parser) {
  parser.setApplicationDescription(QStringLiteral(
      "A reader for RSS, Atom and JSON feeds.\n\n"
      "When Quillbend already runs, a new start hands its arguments to the running\n"
      "window and ends: without arguments the window comes to the front."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addOption(QCommandLineOption(
      QStringLiteral("hidden"),
      QStringLiteral("Start with the window hidden in the system tray (for starting with the "
                     "desktop session). Without a tray the window shows.")));
  parser.addPositionalArgument(
      QStringLiteral("address|file"),
      QStringLiteral("A feed's address (http:, https: or feed:) or a feed document to "
                     "subscribe to, or a settings file (.reg) to import."),
      QStringLiteral("[address|file...]"));
}

// Whether the command line asks only for text, which needs no display.
bool AsksForText(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--") == 0) return false;
    for (const char* option : {"-h", "--help", "-?", "--help-all", "-v", "--version"}) {
      if (std::strcmp(a, option) == 0) return true;
    }
  }
  return false;
}

// With QB_REPORT_FIRST_PAINT set, the window writes "tree painted" to the
// standard output once the feed tree has been painted for the first time:
// the start-up benchmark (bench/LibraryWindowBench.cpp) times the program to
// that line. Nothing else changes.
class CFirstPaintReport final : public QObject {
 public:
  explicit CFirstPaintReport(QWidget& watched) : m_watched(watched) { m_watched.installEventFilter(this); }

 private:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == &m_watched && event->type() == QEvent::Paint) {
      m_watched.removeEventFilter(this);
      // Queued: said once the paint itself has run.
      QMetaObject::invokeMethod(
          this,
          [] {
            std::fputs("tree painted\n", stdout);
            std::fflush(stdout);
          },
          Qt::QueuedConnection);
    }
    return false;
  }

  QWidget& m_watched;
};

}  // namespace

int main(int argc, char** argv) {
  if (AsksForText(argc, argv)) {
    QCoreApplication core(argc, argv);
    SetNames();
    QCommandLineParser parser;
    Describe(parser);
    parser.process(core);  // prints the help or the version and ends the program
    return 0;
  }

  // The article view's web engine shares the OpenGL contexts of the widgets;
  // it learns the scheme of the article page before it starts.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  // Before the engine starts: large pages reach the reader view's extraction
  // through a scheme of the program's own.
  qb::CReaderExtractor::RegisterScheme();
  qb::RegisterArticlePageScheme();
  QApplication application(argc, argv);
  SetNames();
  QGuiApplication::setDesktopFileName(QString::fromLatin1(qb::kDesktopAppId));
  QCommandLineParser parser;
  Describe(parser);
  parser.process(application);
  const QStringList arguments = qb::ResolveArguments(parser.positionalArguments(), QDir::currentPath());

  qb::CSingleInstance instance(qb::CSingleInstance::DefaultServerPath());
  switch (instance.ClaimOrHandOver(arguments)) {
    case qb::CSingleInstance::Claim::HandedOver:
      return 0;
    case qb::CSingleInstance::Claim::NoAnswer:
      std::fputs("quillbend: Quillbend is already running but does not answer; try again later.\n",
                 stderr);
      return 1;
    case qb::CSingleInstance::Claim::Primary:
      break;
  }

  // Before any window exists, so none shows in the wrong colours first.
  qb::CDesktopColorScheme colorScheme(qb::StoredAppearance());
  int status = 1;
  {
    // Declared in this order so that they go in the reverse one: the window,
    // then the icons and the updater (each abandons its transfers and joins
    // its threads), the saves, then the pool's worker, then the executor
    // with whatever was still queued for this thread.
    qb::CQtExecutor executor;
    // Every background fetch goes through it, under its politeness limits.
    qb::CDownloadPool downloads;
    qb::CDesktop desktop;
    // The user's library, shared with quillbend-cli.
    qb::CLibraryDataIo dataFile(executor);
    qb::CUpdateService updater(downloads, executor);
    // Accounts of feed services; their passwords in the desktop's secret
    // store, or where the user said when there is none.
    qb::CDesktopSecretStore secrets(qb::OpenDesktopKeychain(), qb::CFileSecretStore::DefaultFolder(), [&desktop] {
      const QString question = QStringLiteral(
          "No secret store of the desktop answers, so the password cannot be kept there.\n\n"
          "Keep account passwords in a file that only you can read? With No, you are asked for them again after "
          "each start.");
      return desktop.ShowMessage(QApplication::activeWindow(), qb::MsgIcon::Question, question,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    });
    qb::CAccountService accounts(downloads, executor, dataFile, secrets);
    // An account deleted from the tree takes its password with it.
    dataFile.SetAccountRemovedHook([&secrets](qb::ObjectId id) { secrets.Remove(qb::AccountSecretKey(id)); });
    // Before the window, which shows them, and gone after it.
    qb::CSiteIconProvider siteIcons(downloads, executor);
    qb::CRSSReaderApp app({desktop, dataFile, updater, &colorScheme});
    std::unique_ptr<CFirstPaintReport> firstPaint;
    if (!qEnvironmentVariableIsEmpty("QB_REPORT_FIRST_PAINT")) {
      // Before the library loads, so that no paint goes unseen.
      app.m_configureFrame = [&firstPaint](qb::CMainFrame& frame) {
        firstPaint = std::make_unique<CFirstPaintReport>(*frame.SourceTree()->viewport());
      };
    }
    const QMetaObject::Connection handOver =
        QObject::connect(&instance, &qb::CSingleInstance::commandLineReceived,
                         [&app](const QStringList& received) { app.HandleCommandLine(received); });
    if (app.InitInstance(arguments, parser.isSet(QStringLiteral("hidden")))) {
      app.Frame()->SourceTree()->SetSiteIcons(&siteIcons);
      app.Frame()->SetAccounts(&accounts);
      status = QApplication::exec();
    }
    QObject::disconnect(handOver);
  }
  return status;
}
