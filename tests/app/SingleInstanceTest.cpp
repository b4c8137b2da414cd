#include "app/SingleInstance.h"
#include "app/StartRequests.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "app/AddNewFeedDlg.h"
#include "app/SettingsExport.h"
#include "tests/app/AppHarness.h"
#include "views/SourceListView.h"

namespace qb {

void PrintTo(const StartRequest& r, std::ostream* os) {
  *os << "{" << static_cast<int>(r.kind) << ", \"" << r.value.toStdString() << "\"}";
}

namespace {

using test::AppHarness;
using test::UiTestScope;
using Kind = StartRequest::Kind;

TEST(StartRequestTest, ArgumentsAreClassified) {
  const QString cwd = QDir::currentPath();
  struct Case {
    const char* argument;
    StartRequest expected;
  };
  const Case cases[] = {
      {"https://example.com/feed.xml", {Kind::AddFeed, "https://example.com/feed.xml"}},
      {"HTTP://Example.com/rss?a=1&b=2", {Kind::AddFeed, "HTTP://Example.com/rss?a=1&b=2"}},
      {"feed:https://example.com/a", {Kind::AddFeed, "https://example.com/a"}},
      {"feed:HTTP://example.com/a", {Kind::AddFeed, "HTTP://example.com/a"}},
      {"feed://example.com/a", {Kind::AddFeed, "http://example.com/a"}},
      {"FEED://example.com/a", {Kind::AddFeed, "http://example.com/a"}},
      {"feed:example.com/a", {Kind::AddFeed, "http://example.com/a"}},
      {"/home/u/saved.REG", {Kind::ImportSettings, "/home/u/saved.REG"}},
      {"file:///home/u/my%20settings.reg", {Kind::ImportSettings, "/home/u/my settings.reg"}},
      {"/home/u/news.xml", {Kind::FeedDocument, "/home/u/news.xml"}},
      {"file:///home/u/news.atom", {Kind::FeedDocument, "/home/u/news.atom"}},
      {"saved.reg", {Kind::ImportSettings, cwd + "/saved.reg"}},
      // Nothing a feed can be subscribed from.
      {"", {Kind::Unusable, ""}},
      {"feed:", {Kind::Unusable, "feed:"}},
      {"feed:ftp://example.com/a", {Kind::Unusable, "feed:ftp://example.com/a"}},
      {"feed://", {Kind::Unusable, "feed://"}},
      {"http://", {Kind::Unusable, "http://"}},
      {"https:///nohost", {Kind::Unusable, "https:///nohost"}},
      {"javascript:alert(1)", {Kind::Unusable, "javascript:alert(1)"}},
      {"mailto:a@example.com", {Kind::Unusable, "mailto:a@example.com"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyArgument(QString::fromUtf8(c.argument)), c.expected) << c.argument;
  }
}

TEST(StartRequestTest, RelativePathsAreResolvedForTheOtherProcess) {
  const QStringList given{"saved.reg",   "../up/news.xml", "/abs/x.reg", "https://example.com/a",
                          "feed://b/c", ""};
  const QStringList expected{"/work/dir/saved.reg", "/work/up/news.xml", "/abs/x.reg",
                             "https://example.com/a", "feed://b/c", ""};
  EXPECT_EQ(ResolveArguments(given, QStringLiteral("/work/dir")), expected);
}

TEST(StartRequestTest, FeedDocumentsGiveTheirOwnAddress) {
  struct Case {
    const char* document;
    const char* address;
  };
  const Case cases[] = {
      {"<?xml version=\"1.0\"?><feed xmlns=\"http://www.w3.org/2005/Atom\">"
       "<link rel=\"alternate\" href=\"https://example.com/\"/>"
       "<link rel=\"self\" href=\"https://example.com/atom.xml\"/></feed>",
       "https://example.com/atom.xml"},
      {"<rss version=\"2.0\"><channel><title>T</title>"
       "<atom:link href=\"http://example.com/rss?a=1&amp;b=2\" rel=\"self\" type=\"application/rss+xml\"/>"
       "</channel></rss>",
       "http://example.com/rss?a=1&b=2"},
      {"<rss><channel><atom10:link rel=\"self\" href=\" https://example.com/x \"/></channel></rss>",
       "https://example.com/x"},
      // No address of its own, or none that can be fetched.
      {"<feed><link rel=\"alternate\" href=\"https://example.com/\"/></feed>", ""},
      {"<feed><link rel=\"self\" href=\"file:///etc/passwd\"/></feed>", ""},
      {"<feed><link rel=\"self\" href=\"javascript:x\"/></feed>", ""},
      {"<rss><channel><item><atom:link rel=\"self\" href=\"https://example.com/item\"/></item></channel></rss>",
       ""},
      {"<feed><link rel=\"self\" href=\"https://example.com/a\"", ""},
      {"", ""},
      {"\xff\xfe garbage <<<>>>", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FeedSelfAddress(QByteArray(c.document)), QString::fromUtf8(c.address)) << c.document;
  }
  // Every cut of a good document gives the address or nothing, never another.
  const QByteArray good(cases[0].document);
  for (qsizetype n = 0; n <= good.size(); ++n) {
    const QString address = FeedSelfAddress(good.left(n));
    EXPECT_TRUE(address.isEmpty() || address == QStringLiteral("https://example.com/atom.xml")) << n;
  }
}

// A private runtime folder, so the tests never meet a real running program.
class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_runtime.isValid());
    m_oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
    m_path = CSingleInstance::DefaultServerPath();
    ASSERT_FALSE(m_path.isEmpty());
  }
  void TearDown() override { qputenv("XDG_RUNTIME_DIR", m_oldRuntime); }

  static QString Program() { return QCoreApplication::applicationDirPath() + QStringLiteral("/quillbend"); }

  // Starts the real program as a later start would; returns its exit code
  // (-1 when it did not end). The event loop runs meanwhile, so a server in
  // this process can answer.
  int StartSecond(const QStringList& arguments, const QString& workingDirectory) {
    EXPECT_TRUE(QFile::exists(Program())) << Program().toStdString();
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(workingDirectory);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(Program(), arguments);
    if (!finished.wait(30000)) {
      process.kill();
      process.waitForFinished();
      return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  }

  // A socket file at the path as a crashed program leaves it: bound, then
  // closed without being removed. With `listen`, it accepts connections into
  // its backlog but never answers, like a program that hangs.
  int PlantSocket(bool listen) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(m_path);
    std::memcpy(addr.sun_path, native.constData(), static_cast<size_t>(native.size()) + 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    if (listen) {
      EXPECT_EQ(::listen(fd, 4), 0);
      return fd;
    }
    ::close(fd);
    return -1;
  }

  QTemporaryDir m_runtime;
  QByteArray m_oldRuntime;
  QString m_path;
};

TEST_F(SingleInstanceTest, ASecondStartHandsItsCommandLineToTheFirst) {
  CSingleInstance first(m_path);
  ASSERT_EQ(first.ClaimOrHandOver({}), CSingleInstance::Claim::Primary);
  ASSERT_TRUE(first.IsListening());
  EXPECT_EQ(QFileInfo(m_path).dir().path(), m_runtime.path() + QStringLiteral("/quillbend"));
  QSignalSpy received(&first, &CSingleInstance::commandLineReceived);

  QTemporaryDir work;
  EXPECT_EQ(StartSecond({QStringLiteral("feed:https://example.com/news"), QStringLiteral("saved.reg")},
                        work.path()),
            0);
  ASSERT_EQ(received.size(), 1);
  EXPECT_EQ(received[0][0].toStringList(),
            (QStringList{QStringLiteral("feed:https://example.com/news"), work.filePath(QStringLiteral("saved.reg"))}));

  // Without arguments: the first is asked to come to the front.
  EXPECT_EQ(StartSecond({}, work.path()), 0);
  ASSERT_EQ(received.size(), 2);
  EXPECT_TRUE(received[1][0].toStringList().isEmpty());
  EXPECT_TRUE(first.IsListening());
}

TEST_F(SingleInstanceTest, AStaleSocketFromACrashNeverBlocksTheNextStart) {
  PlantSocket(false);
  ASSERT_TRUE(QFileInfo::exists(m_path));
  CSingleInstance next(m_path);
  EXPECT_EQ(next.ClaimOrHandOver({QStringLiteral("x")}, 2000), CSingleInstance::Claim::Primary);
  ASSERT_TRUE(next.IsListening());
  // The replaced socket works: a later start reaches this one.
  QSignalSpy received(&next, &CSingleInstance::commandLineReceived);
  EXPECT_EQ(StartSecond({QStringLiteral("https://example.com/a")}, m_runtime.path()), 0);
  ASSERT_EQ(received.size(), 1);
  EXPECT_EQ(received[0][0].toStringList(), QStringList{QStringLiteral("https://example.com/a")});
}

TEST_F(SingleInstanceTest, AProgramThatDoesNotAnswerIsNotJoinedByASecondWindow) {
  const int fd = PlantSocket(true);
  CSingleInstance next(m_path);
  EXPECT_EQ(next.ClaimOrHandOver({}, 100), CSingleInstance::Claim::NoAnswer);
  EXPECT_FALSE(next.IsListening());
  EXPECT_TRUE(QFileInfo::exists(m_path));
  ::close(fd);
}

TEST_F(SingleInstanceTest, MessagesThatAreNotOursAreDropped) {
  CSingleInstance first(m_path);
  ASSERT_EQ(first.ClaimOrHandOver({}), CSingleInstance::Claim::Primary);
  QSignalSpy received(&first, &CSingleInstance::commandLineReceived);
  const QByteArray bad[] = {
      QByteArray::fromHex("7fffffff") + QByteArray(64, 'x'),  // a length beyond any command line
      QByteArray::fromHex("00000008") + QByteArray("notours!"),  // not our message
  };
  for (const QByteArray& bytes : bad) {
    QLocalSocket socket;
    socket.connectToServer(m_path);
    ASSERT_TRUE(socket.waitForConnected(2000));
    socket.write(bytes);
    socket.flush();
    // The program hangs up on it without answering.
    QSignalSpy closed(&socket, &QLocalSocket::disconnected);
    EXPECT_TRUE(closed.wait(5000));
    EXPECT_EQ(socket.bytesAvailable(), 0);
  }
  EXPECT_EQ(received.size(), 0);
  EXPECT_TRUE(first.IsListening());
}

// What the running window does with a handed-over command line.
class HandOverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UiTestScope::Store(test::kSettings, QStringLiteral("FirstRun"), 0);
    h.scope.answerDialog = [this](QDialog& dialog) {
      auto* add = qobject_cast<CAddNewFeedDlg*>(&dialog);
      shown.push_back(add != nullptr ? add->m_strUrl : QStringLiteral("<other dialog>"));
      groups.push_back(add != nullptr ? add->m_strGroupName : QString());
      return int(QDialog::Rejected);
    };
    // Nothing is fetched.
    h.updater.updateAll = [](CFeedsManager&, bool) { return false; };
    h.updater.updateSource = [](CFeedsManager&, ObjectId, bool) { return false; };
  }
  void Start(const QStringList& arguments = {}) {
    ASSERT_TRUE(h.Start(arguments));
  }
  QString WriteFile(const QString& name, const QByteArray& bytes) {
    const QString path = m_dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
  }

  AppHarness h;
  QTemporaryDir m_dir;
  QStringList shown;
  QStringList groups;
};

TEST_F(HandOverTest, AFeedAddressOpensTheAddFeedDialogFilledIn) {
  Start();
  h.Frame().hide();
  h.app->HandleCommandLine({QStringLiteral("feed://example.com/rss")});
  EXPECT_EQ(shown, QStringList{QStringLiteral("http://example.com/rss")});
  // In the first group, for want of a selected one; the window came back.
  EXPECT_EQ(groups, QStringList{QStringLiteral("All Sources")});
  EXPECT_TRUE(h.Frame().isVisible());

  // Accepted as filled in, the feed is added.
  h.scope.answerDialog = [](QDialog& dialog) {
    return int(qobject_cast<CAddNewFeedDlg*>(&dialog) != nullptr ? QDialog::Accepted : QDialog::Rejected);
  };
  h.app->HandleCommandLine({QStringLiteral("https://example.com/atom")});
  IdList sources;
  h.Model().CollectSources(0, sources);
  ASSERT_EQ(sources.size(), 1u);
  EXPECT_EQ(h.Model().GetFeedSource(sources[0])->m_url, u"https://example.com/atom");
}

TEST_F(HandOverTest, NoArgumentsBringTheHiddenWindowBack) {
  Start();
  h.Frame().hide();
  h.app->HandleCommandLine({});
  EXPECT_TRUE(h.Frame().isVisible());
  EXPECT_TRUE(shown.isEmpty());
  EXPECT_TRUE(h.scope.messages.empty());
}

TEST_F(HandOverTest, FeedDocumentsAndUnusableArgumentsAreReported) {
  Start();
  const QString withAddress = WriteFile(
      QStringLiteral("saved.atom"),
      "<feed><link rel=\"self\" href=\"https://example.com/self.xml\"/><title>x</title></feed>");
  const QString without = WriteFile(QStringLiteral("plain.xml"), "<feed><title>x</title></feed>");
  h.app->HandleCommandLine({withAddress, without, m_dir.filePath(QStringLiteral("missing.xml")),
                            QStringLiteral("ftp://example.com/x")});
  EXPECT_EQ(shown, QStringList{QStringLiteral("https://example.com/self.xml")});
  ASSERT_EQ(h.scope.messages.size(), 3u);
  EXPECT_EQ(h.scope.messages[0].text,
            QStringLiteral("'plain.xml' does not say where the feed is published. Add the feed by its "
                           "web address instead."));
  EXPECT_EQ(h.scope.messages[1].text, QStringLiteral("The file 'missing.xml' could not be read."));
  EXPECT_EQ(h.scope.messages[2].text, QStringLiteral("Quillbend cannot open 'ftp://example.com/x'."));
  for (const test::MessageRecord& m : h.scope.messages) EXPECT_EQ(m.icon, MsgIcon::Warning);
}

TEST_F(HandOverTest, ASettingsFileIsImportedAndUsedAtOnce) {
  Start();
  ASSERT_TRUE(h.Doc().m_settingsManager.Setting(setting::kMinimizeToSysTray));
  const QString path = m_dir.filePath(QStringLiteral("other.reg"));
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(FormatSettingsFile({{QStringLiteral("Settings"), QStringLiteral("MinimizeToSysTray"), 0},
                                   {QStringLiteral("WindowSettings"), QStringLiteral("MainFrameLeft"), 33}})
                   .toUtf8());
  }
  h.scope.SetAnswer(QMessageBox::Yes);
  h.app->HandleCommandLine({path});
  ASSERT_EQ(h.scope.messages.size(), 2u);
  EXPECT_EQ(h.scope.messages[0].icon, MsgIcon::Question);
  EXPECT_EQ(h.scope.messages[1].text, QStringLiteral("The settings in 'other.reg' have been imported."));
  // In memory too, so the exit does not write the old value back over it.
  EXPECT_FALSE(h.Doc().m_settingsManager.Setting(setting::kMinimizeToSysTray));
  h.Doc().m_settingsManager.LoadSave(false);
  EXPECT_EQ(UiTestScope::Stored(test::kSettings, QStringLiteral("MinimizeToSysTray")).toInt(), 0);
  EXPECT_TRUE(h.Frame().geometry().x() == 33 || h.Frame().frameGeometry().x() == 33);
}

TEST_F(HandOverTest, AnAddressGivenAtStartUpWaitsForTheWindow) {
  UiTestScope::Store(test::kSettings, QStringLiteral("FirstRun"), 1);
  ASSERT_TRUE(h.Start({QStringLiteral("feed:https://example.com/first")}));
  EXPECT_EQ(shown, QStringList{QStringLiteral("https://example.com/first")});
  // The welcome source came first; its group was chosen for the new feed.
  EXPECT_EQ(groups, QStringList{QStringLiteral("All Sources")});
  IdList sources;
  h.Model().CollectSources(0, sources);
  EXPECT_EQ(sources.size(), 1u);
}

}  // namespace
}  // namespace qb
