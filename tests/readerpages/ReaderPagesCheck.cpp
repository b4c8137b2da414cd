// The reader view on real web pages: every folder of the corpus holds a page
// as a site served it (source.html) and what Readability itself extracts from
// it at the address http://fakehost/test/page.html (expected.html and
// expected-metadata.json). Each page is served from a loopback server,
// fetched through the download pool and extracted as the reader view does,
// at that address; the extracted text is compared with the expected one
// (white space aside), the title and byline exactly, and the pictures'
// addresses in order. Prints how often each comes out right and every page
// that does not, and fails below the floors.
//
//   quillbend_readerpages [FOLDER]
// The corpus is $QB_READERPAGES, else FOLDER. Exit status 77 (skipped)
// when it is missing. With $QB_READERPAGES_OUT set, the content extracted
// from each page is written there as NAME.html, to look at a difference.
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/QtExecutor.h"
#include "net/ReaderPage.h"
#include "tests/support/HttpServer.h"
#include "views/ReaderExtractor.h"

namespace {

using namespace qb;

// Below these shares of pages the check fails.
constexpr double kTextFloor = 0.95;
constexpr double kTitleFloor = 0.95;
// A page's text counts as right within this similarity of the expected.
constexpr double kSimilar = 0.95;
const char kAddress[] = "http://fakehost/test/page.html";

bool RunUntil(const std::function<bool()>& done, int ms) {
  if (done()) return true;
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  poll.start(5);
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
  return done();
}

QString DecodeEntities(const QString& text) {
  static const QRegularExpression entity(QStringLiteral("&(#[0-9]+|#[xX][0-9a-fA-F]+|amp|lt|gt|quot|apos|nbsp);"));
  QString out;
  qsizetype last = 0;
  for (auto it = entity.globalMatch(text); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    out += QStringView(text).mid(last, m.capturedStart() - last);
    const QString name = m.captured(1);
    if (name.startsWith(QLatin1Char('#'))) {
      bool ok = false;
      const uint cp = name.at(1).toLower() == QLatin1Char('x') ? name.mid(2).toUInt(&ok, 16) : name.mid(1).toUInt(&ok);
      out += ok ? QString::fromUcs4(reinterpret_cast<const char32_t*>(&cp), 1) : m.captured(0);
    } else {
      static const QHash<QString, QString> named{{QStringLiteral("amp"), QStringLiteral("&")},
                                                 {QStringLiteral("lt"), QStringLiteral("<")},
                                                 {QStringLiteral("gt"), QStringLiteral(">")},
                                                 {QStringLiteral("quot"), QStringLiteral("\"")},
                                                 {QStringLiteral("apos"), QStringLiteral("'")},
                                                 {QStringLiteral("nbsp"), QString(QChar(0xA0))}};
      out += named.value(name);
    }
    last = m.capturedEnd();
  }
  out += QStringView(text).mid(last);
  return out;
}

// The words of an HTML fragment's text: markup and comments dropped,
// references decoded, split at white space (no-break spaces included).
std::vector<QString> Words(const QString& html) {
  static const QRegularExpression comments(QStringLiteral("<!--.*?-->"),
                                           QRegularExpression::DotMatchesEverythingOption);
  // A tag ends at the first ">" outside its quoted attribute values.
  static const QRegularExpression tags(QStringLiteral("<(?:[^>\"']|\"[^\"]*\"|'[^']*')*>"));
  QString text = html;
  text.remove(comments);
  text.replace(tags, QStringLiteral(" "));
  text = DecodeEntities(text);
  std::vector<QString> words;
  for (const QString& w : text.split(QRegularExpression(QStringLiteral("[\\s\\x{00A0}\\x{200B}]+")),
                                     Qt::SkipEmptyParts))
    words.push_back(w);
  return words;
}

// 1 - D / (n + m), with D the fewest words to insert and delete to turn
// one text into the other (Myers' diff); below `floor` the search stops
// and the answer is only "less than floor".
double Similarity(const std::vector<QString>& a, const std::vector<QString>& b, double floor, bool& below) {
  const long n = static_cast<long>(a.size()), m = static_cast<long>(b.size());
  below = false;
  if (n + m == 0) return 1;
  const long maxD = static_cast<long>((1 - floor) * static_cast<double>(n + m)) + 1;
  std::vector<long> v(2 * maxD + 3, 0);
  const long off = maxD + 1;
  for (long d = 0; d <= maxD; ++d) {
    for (long k = -d; k <= d; k += 2) {
      long x = (k == -d || (k != d && v[off + k - 1] < v[off + k + 1])) ? v[off + k + 1] : v[off + k - 1] + 1;
      long y = x - k;
      while (x < n && y < m && a[x] == b[y]) ++x, ++y;
      v[off + k] = x;
      if (x >= n && y >= m) return 1 - static_cast<double>(d) / static_cast<double>(n + m);
    }
  }
  below = true;
  return floor;
}

std::vector<QString> Pictures(const QString& html) {
  static const QRegularExpression img(QStringLiteral("<img\\b(?:[^>\"']|\"[^\"]*\"|'[^']*')*?\\ssrc=\"([^\"]*)\""),
                                      QRegularExpression::CaseInsensitiveOption);
  std::vector<QString> out;
  for (auto it = img.globalMatch(html); it.hasNext();) out.push_back(DecodeEntities(it.next().captured(1)));
  return out;
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString Quoted(const QString& s) { return QLatin1Char('"') + s.left(70) + QLatin1Char('"'); }

struct Share {
  int right = 0, of = 0;
  void Add(bool ok) { right += ok ? 1 : 0, of += 1; }
  double Value() const { return of == 0 ? 1 : static_cast<double>(right) / of; }
  void Print(const char* what, double floor = 0) const {
    std::printf("  %-34s %3d of %3d (%5.1f %%)", what, right, of, 100 * Value());
    if (floor > 0) std::printf(", floor %.0f %%", 100 * floor);
    std::printf("\n");
  }
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox");
  QString corpus = qEnvironmentVariable("QB_READERPAGES");
  if (corpus.isEmpty() && argc > 1) corpus = QString::fromLocal8Bit(argv[1]);
  if (corpus.isEmpty() || !QDir(corpus).exists()) {
    std::printf("readerpages: skipped, no corpus at '%s' (set QB_READERPAGES)\n", qPrintable(corpus));
    return 77;
  }
  QStringList pages;
  for (const QString& name : QDir(corpus).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
    if (QFile::exists(corpus + QLatin1Char('/') + name + QStringLiteral("/source.html"))) pages << name;
  }
  if (pages.isEmpty()) {
    std::printf("readerpages: skipped, no pages in '%s'\n", qPrintable(corpus));
    return 77;
  }

  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  CReaderExtractor::RegisterScheme();
  QApplication app(argc, argv);
  test::HttpServer server;
  test::BypassProxyForLoopback();
  CDownloadPool pool;
  CQtExecutor executor;
  CArticlePageFetch fetch(pool, executor);
  CReaderExtractor extractor;

  Share text, title, byline, pictures, readerable;
  QStringList below;
  for (const QString& name : pages) {
    const QString folder = corpus + QLatin1Char('/') + name + QLatin1Char('/');
    server.Set("/test/page.html", test::HttpResponse::Ok(ReadAll(folder + QStringLiteral("source.html")).toStdString(),
                                                         "text/html"));
    std::optional<ReaderOutcome> outcome;
    fetch.Start(server.Url16("/test/page.html"), [&](FetchedArticlePage page) {
      if (page.problem != ReaderProblem::kNone) {
        outcome = ReaderOutcome{page.problem, QString::fromStdU16String(page.message), {}};
        return;
      }
      // Served from the loopback server, read at the address the
      // expected results were made with.
      extractor.Extract(QByteArray::fromStdString(page.body), QString::fromStdString(page.contentType),
                        QUrl(QString::fromLatin1(kAddress)), [&](const ReaderOutcome& o) { outcome = o; });
    });
    if (!RunUntil([&] { return outcome.has_value(); }, 120000)) outcome = ReaderOutcome{};

    const QJsonObject meta = QJsonDocument::fromJson(ReadAll(folder + QStringLiteral("expected-metadata.json"))).object();
    const QString expectedHtml = QString::fromUtf8(ReadAll(folder + QStringLiteral("expected.html")));
    const ReaderArticle& a = outcome->article;
    if (!qEnvironmentVariableIsEmpty("QB_READERPAGES_OUT")) {
      QFile out(qEnvironmentVariable("QB_READERPAGES_OUT") + QLatin1Char('/') + name + QStringLiteral(".html"));
      if (out.open(QIODevice::WriteOnly)) out.write(a.contentHtml.toUtf8());
    }
    QStringList why;
    if (!outcome->ok()) why << (outcome->message.isEmpty() ? QStringLiteral("no answer") : outcome->message);

    bool cut = false;
    const double similarity = Similarity(Words(a.contentHtml), Words(expectedHtml), 0.5, cut);
    text.Add(similarity >= kSimilar);
    if (similarity < kSimilar)
      why << QStringLiteral("text %1%2").arg(cut ? QStringLiteral("< ") : QString()).arg(similarity, 0, 'f', 3);
    const QString expectedTitle = meta.value(QStringLiteral("title")).toString();
    title.Add(a.title == expectedTitle);
    if (a.title != expectedTitle) why << QStringLiteral("title %1, expected %2").arg(Quoted(a.title), Quoted(expectedTitle));
    const QString expectedByline = meta.value(QStringLiteral("byline")).toString();
    byline.Add(a.byline == expectedByline);
    if (a.byline != expectedByline)
      why << QStringLiteral("byline %1, expected %2").arg(Quoted(a.byline), Quoted(expectedByline));
    const std::vector<QString> found = Pictures(a.contentHtml), expected = Pictures(expectedHtml);
    pictures.Add(found == expected);
    if (found != expected) {
      qsizetype first = 0;
      while (first < qsizetype(std::min(found.size(), expected.size())) && found[first] == expected[first]) ++first;
      why << QStringLiteral("pictures %1, expected %2 (first difference: %3 / %4)")
                 .arg(found.size())
                 .arg(expected.size())
                 .arg(first < qsizetype(found.size()) ? found[first].left(80) : QStringLiteral("none"),
                      first < qsizetype(expected.size()) ? expected[first].left(80) : QStringLiteral("none"));
    }
    if (meta.contains(QStringLiteral("readerable"))) {
      const bool want = meta.value(QStringLiteral("readerable")).toBool();
      readerable.Add(a.probablyReaderable == want);
      if (outcome->ok() && a.probablyReaderable != want) why << QStringLiteral("readerable %1").arg(a.probablyReaderable);
    }
    if (!why.isEmpty()) below << name + QStringLiteral(": ") + why.join(QStringLiteral("; "));
  }

  std::printf("readerpages: %lld pages from %s\n", static_cast<long long>(pages.size()), qPrintable(corpus));
  text.Print("text within 0.95 of the expected", kTextFloor);
  title.Print("title exactly as expected", kTitleFloor);
  byline.Print("byline exactly as expected");
  pictures.Print("pictures' addresses as expected");
  readerable.Print("readerable as expected");
  if (!below.isEmpty()) {
    std::printf("pages with a difference:\n");
    for (const QString& line : below) std::printf("  %s\n", qPrintable(line));
  }
  const bool pass = text.Value() >= kTextFloor && title.Value() >= kTitleFloor;
  std::printf("readerpages: %s\n", pass ? "passed" : "FAILED: below a floor");
  return pass ? 0 : 1;
}
