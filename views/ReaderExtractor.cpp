#include "views/ReaderExtractor.h"

#include <QBuffer>
#include <QJsonArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonValue>
#include <QTimer>
#include <QVariantMap>
#include <QWebEnginePage>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>

#include "base/Text.h"
#include "formats/TextDecoding.h"

namespace qb {

namespace {

// The engine loads a page handed over in memory as a data: address, which
// it refuses beyond this length once percent-encoded.
constexpr qsizetype kMaxInMemoryUrl = qsizetype{2} * 1024 * 1024;

// The length of the data: address the engine would make of the bytes.
qsizetype DataUrlLength(const QByteArray& bytes, const QByteArray& mimeType) {
  qsizetype length = mimeType.size() + 6;  // "data:" and ","
  for (const char c : bytes) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '.' || c == '_' || c == '~';
    length += plain ? 1 : 3;
  }
  return length;
}

bool IsToken(const QByteArray& s) {
  if (s.isEmpty() || s.size() > 40) return false;
  for (const char c : s) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.'))
      return false;
  }
  return true;
}

// What the engine is told the bytes are: XHTML as XHTML, everything else
// the fetch let through as HTML, with the server's charset when it named a
// plain one. Without one, bytes that are well-formed UTF-8 are read as
// UTF-8 (bytes of any other encoding beyond ASCII hardly ever are), and
// for the rest the engine reads the page's own declaration or guesses.
QByteArray EngineMimeType(const QString& contentType, const QByteArray& bytes) {
  const QByteArray value = contentType.toLatin1().toLower();
  const QByteArray type = value.left(value.indexOf(';')).trimmed();
  QByteArray mime = type == "application/xhtml+xml" ? type : QByteArray("text/html");
  const QByteArray charset = QByteArray::fromStdString(CharsetFromContentType(value.toStdString()));
  if (IsToken(charset)) {
    mime += ";charset=" + charset;
  } else if (IsValidUtf8(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())))) {
    mime += ";charset=utf-8";
  }
  return mime;
}

// Readability and its quick check, read once from the program's resources.
const QString& LibrarySource() {
  static const QString source = [] {
    QString text;
    for (const char* name : {":/readability/Readability.js", ":/readability/Readability-readerable.js"}) {
      QFile file(QString::fromLatin1(name));
      if (file.open(QIODevice::ReadOnly)) text += QString::fromUtf8(file.readAll()) + QLatin1Char('\n');
    }
    return text;
  }();
  return source;
}

// Runs in the page's own world of the program, never in the page's: it
// sees the page's document as parsed, and nothing the page defines.
// `served`: the page came through the scheme, so its base is set to the
// article's address, or to its own <base> resolved against that address.
const char kExtractScript[] = R"JS(
(function (address, served) {
  "use strict";
  if (typeof Readability !== "function") return { broken: "the extraction library is missing" };
  if (served) {
    var base = document.querySelector("base[href]");
    var href = address;
    if (base) {
      try { href = new URL(base.getAttribute("href"), address).href; } catch (e) {}
    } else {
      base = document.createElement("base");
      (document.head || document.documentElement).prepend(base);
    }
    base.setAttribute("href", href);
  }
  var readerable = false;
  try { readerable = isProbablyReaderable(document); } catch (e) {}
  var article = null;
  // What is kept of the page is shown later as an article is, scripts off;
  // its handlers and scripts are not kept at all.
  var serializer = function (element) {
    var all = element.querySelectorAll("*");
    for (var i = 0; i < all.length; i++) {
      var attributes = all[i].attributes;
      for (var j = attributes.length - 1; j >= 0; j--) {
        if (/^on/i.test(attributes[j].name)) all[i].removeAttribute(attributes[j].name);
      }
    }
    element.querySelectorAll("script").forEach(function (s) { s.remove(); });
    return element.innerHTML;
  };
  try { article = new Readability(document, { serializer: serializer }).parse(); } catch (e) {
    return { broken: String(e && e.message || e) };
  }
  if (!article) return { readerable: readerable, empty: true };
  var text = article.textContent || "";
  return {
    readerable: readerable,
    title: article.title || "",
    byline: article.byline || "",
    siteName: article.siteName || "",
    excerpt: article.excerpt || "",
    lang: article.lang || "",
    dir: article.dir || "",
    publishedTime: article.publishedTime || "",
    content: article.content || "",
    text: text,
    length: text.length
  };
})
)JS";

QString JsonString(const QString& s) {
  return QString::fromUtf8(QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
}

// A page that says next to nothing and does not look like an article (a
// page that needs its scripts to show anything, an error page) has no
// readable article. Readability's quick check asks for this much text.
constexpr qsizetype kShortestUnlikelyArticle = 140;

}  // namespace

// The hidden page: only its own load goes ahead; a refresh, a link, a form
// or a script's navigation is refused.
class CReaderExtractor::CPage : public QWebEnginePage {
 public:
  CPage(CReaderExtractor& owner, QWebEngineProfile* profile) : QWebEnginePage(profile, &owner), m_owner(owner) {}

 protected:
  bool acceptNavigationRequest(const QUrl&, NavigationType type, bool isMainFrame) override {
    if (!isMainFrame) return false;
    if (type != NavigationTypeTyped || !m_owner.m_loadAllowed) return false;
    m_owner.m_loadAllowed = false;
    return true;
  }
  // Nothing the page says reaches the program's output.
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int, const QString&) override {}

 private:
  CReaderExtractor& m_owner;
};

// Every request of the hidden page passes here: only the main frame's load
// of the page being extracted, in memory or through the scheme, goes ahead.
class CReaderExtractor::CRequestGuard : public QWebEngineUrlRequestInterceptor {
 public:
  explicit CRequestGuard(CReaderExtractor& owner) : QWebEngineUrlRequestInterceptor(&owner), m_owner(owner) {}

  void interceptRequest(QWebEngineUrlRequestInfo& info) override {
    const bool mainFrame = info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMainFrame;
    const QUrl url = info.requestUrl();
    const bool own = m_owner.m_running.ticket != 0 &&
                     (m_owner.m_served ? url == m_owner.ServedUrl() : url.scheme() == QLatin1String("data"));
    if (!(mainFrame && own)) info.block(true);
  }

 private:
  CReaderExtractor& m_owner;
};

// Serves the bytes of the page being extracted, and nothing else.
class CReaderExtractor::CSchemeHandler : public QWebEngineUrlSchemeHandler {
 public:
  explicit CSchemeHandler(CReaderExtractor& owner) : QWebEngineUrlSchemeHandler(&owner), m_owner(owner) {}

  void requestStarted(QWebEngineUrlRequestJob* job) override {
    if (m_owner.m_running.ticket == 0 || !m_owner.m_served || job->requestUrl() != m_owner.ServedUrl()) {
      job->fail(QWebEngineUrlRequestJob::UrlNotFound);
      return;
    }
    auto* buffer = new QBuffer(job);
    buffer->setData(m_owner.m_running.bytes);
    buffer->open(QIODevice::ReadOnly);
    job->reply(m_owner.m_running.mimeType, buffer);
  }

 private:
  CReaderExtractor& m_owner;
};

void CReaderExtractor::RegisterScheme() {
  QWebEngineUrlScheme scheme(kReaderScheme);
  scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
  // Nothing on the web may reach it, and it reaches nothing local.
  scheme.setFlags(QWebEngineUrlScheme::NoAccessAllowed);
  QWebEngineUrlScheme::registerScheme(scheme);
}

CReaderExtractor::CReaderExtractor(QObject* parent) : QObject(parent) {
  // Without a storage name the profile is off the record: nothing of it
  // is written to disk.
  m_profile = new QWebEngineProfile(this);
  m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
  m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
  m_profile->setSpellCheckEnabled(false);
  m_guard = new CRequestGuard(*this);
  m_profile->setUrlRequestInterceptor(m_guard);
  m_scheme = new CSchemeHandler(*this);
  m_profile->installUrlSchemeHandler(kReaderScheme, m_scheme);

  QWebEngineScript library;
  library.setName(QStringLiteral("readability"));
  library.setWorldId(QWebEngineScript::ApplicationWorld);
  library.setInjectionPoint(QWebEngineScript::DocumentCreation);
  library.setRunsOnSubFrames(false);
  library.setSourceCode(LibrarySource());
  m_profile->scripts()->insert(library);

  m_timer = new QTimer(this);
  m_timer->setSingleShot(true);
  connect(m_timer, &QTimer::timeout, this, [this] {
    const uint64_t ticket = m_running.ticket;
    if (ticket == 0) return;
    ReplacePage();
    Finish(ticket, {ReaderProblem::kExtractionFailed,
                    QString::fromStdU16String(
                        ReaderProblemText(ReaderProblem::kExtractionFailed, u"it took too long")),
                    {}});
  });
  ReplacePage();
}

CReaderExtractor::~CReaderExtractor() {
  *m_alive = false;
  m_queue.clear();
  m_running = Job();
  // The pages (a replaced one may still wait for its deletion) go before
  // their profile.
  for (QWebEnginePage* page : findChildren<QWebEnginePage*>(Qt::FindDirectChildrenOnly)) delete page;
}

void CReaderExtractor::ReplacePage() {
  if (m_page) {
    m_page->disconnect(this);
    m_page->deleteLater();
  }
  CPage* page = new CPage(*this, m_profile);
  QWebEngineSettings* settings = page->settings();
  settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
  settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
  settings->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  settings->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
  settings->setAttribute(QWebEngineSettings::AutoLoadImages, false);
  settings->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
  settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
  settings->setAttribute(QWebEngineSettings::WebGLEnabled, false);
  settings->setAttribute(QWebEngineSettings::Accelerated2dCanvasEnabled, false);
  settings->setAttribute(QWebEngineSettings::HyperlinkAuditingEnabled, false);
  settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
  settings->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
  settings->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
  page->setAudioMuted(true);
  connect(page, &QWebEnginePage::loadingChanged, this, &CReaderExtractor::LoadingChanged);
  connect(page, &QWebEnginePage::renderProcessTerminated, this, [this] {
    const uint64_t ticket = m_running.ticket;
    if (ticket == 0) return;
    ReplacePage();
    Finish(ticket, {ReaderProblem::kExtractionFailed,
                    QString::fromStdU16String(
                        ReaderProblemText(ReaderProblem::kExtractionFailed, u"the page engine stopped")),
                    {}});
  });
  // Nothing the page asks for is granted.
  connect(page, &QWebEnginePage::featurePermissionRequested, page,
          [page](const QUrl& origin, QWebEnginePage::Feature feature) {
            page->setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
          });
  m_page = page;
}

uint64_t CReaderExtractor::Extract(QByteArray page, const QString& contentType, const QUrl& address,
                                   Done done) {
  const uint64_t ticket = m_nextTicket++;
  const QString scheme = address.scheme().toLower();
  if (!address.isValid() || address.host().isEmpty() ||
      (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
    Deliver(std::move(done), {ReaderProblem::kNoLink,
                              QString::fromStdU16String(ReaderProblemText(ReaderProblem::kNoLink)), {}});
    return ticket;
  }
  if (static_cast<size_t>(page.size()) > kReaderPageMaxBytes) {
    Deliver(std::move(done), {ReaderProblem::kTooLarge,
                              QString::fromStdU16String(ReaderProblemText(ReaderProblem::kTooLarge)), {}});
    return ticket;
  }
  Job job;
  job.ticket = ticket;
  job.bytes = std::move(page);
  job.mimeType = EngineMimeType(contentType, job.bytes);
  job.address = address;
  job.done = std::move(done);
  m_queue.push_back(std::move(job));
  // Never from within Extract.
  QMetaObject::invokeMethod(this, &CReaderExtractor::StartNext, Qt::QueuedConnection);
  return ticket;
}

void CReaderExtractor::Deliver(Done done, ReaderOutcome outcome) {
  QMetaObject::invokeMethod(
      this,
      [done = std::move(done), outcome = std::move(outcome)] {
        if (done) done(outcome);
      },
      Qt::QueuedConnection);
}

void CReaderExtractor::Cancel(uint64_t ticket) {
  if (ticket == 0) return;
  if (m_running.ticket == ticket) {
    // Left to finish: a new load now would mix its events with this one's.
    m_running.done = nullptr;
    return;
  }
  for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
    if (it->ticket == ticket) {
      m_queue.erase(it);
      return;
    }
  }
}

QUrl CReaderExtractor::ServedUrl() const {
  return QUrl(QStringLiteral("%1:page/%2").arg(QLatin1String(kReaderScheme)).arg(m_running.ticket));
}

void CReaderExtractor::StartNext() {
  if (m_running.ticket != 0 || m_queue.empty()) return;
  m_running = std::move(m_queue.front());
  m_queue.pop_front();
  m_served = DataUrlLength(m_running.bytes, m_running.mimeType) > kMaxInMemoryUrl;
  m_loadAllowed = true;
  m_timer->start(m_timeLimit);
  if (m_served) {
    m_page->load(ServedUrl());
  } else {
    m_page->setContent(m_running.bytes, QString::fromLatin1(m_running.mimeType), m_running.address);
  }
}

void CReaderExtractor::LoadingChanged(const QWebEngineLoadingInfo& info) {
  const uint64_t ticket = m_running.ticket;
  if (ticket == 0 || m_extracting) return;
  // A navigation the page was refused (a refresh, say) starts and fails
  // under its own address; only the page's own load counts. It is handed
  // over as a data: address, or served under the scheme, and succeeds under
  // the page's address; every other navigation is refused, so whatever
  // else succeeds is it too.
  const QUrl url = info.url();
  const bool own = m_served ? url == ServedUrl() : url.scheme() == QLatin1String("data") || url == m_running.address;
  if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus && own) {
    Finish(ticket, {ReaderProblem::kExtractionFailed,
                    QString::fromStdU16String(
                        ReaderProblemText(ReaderProblem::kExtractionFailed, u"the page engine could not load it")),
                    {}});
    return;
  }
  if (info.status() != QWebEngineLoadingInfo::LoadSucceededStatus || url.scheme() == QLatin1String("data")) return;
  if (m_served && !own) return;
  m_extracting = true;
  const QString call = QString::fromLatin1(kExtractScript) +
                       QStringLiteral("(%1, %2)").arg(JsonString(m_running.address.toString(QUrl::FullyEncoded)),
                                                      m_served ? QStringLiteral("true") : QStringLiteral("false"));
  m_page->runJavaScript(call, QWebEngineScript::ApplicationWorld, [this, alive = m_alive, ticket](const QVariant& v) {
    if (!*alive || ticket != m_running.ticket) return;
    const QVariantMap r = v.toMap();
    if (r.isEmpty() || r.contains(QStringLiteral("broken"))) {
      const QString why = r.isEmpty() ? QStringLiteral("the extraction did not answer")
                                      : r.value(QStringLiteral("broken")).toString().left(200);
      Finish(ticket, {ReaderProblem::kExtractionFailed,
                      QString::fromStdU16String(ReaderProblemText(ReaderProblem::kExtractionFailed, why.toStdU16String())),
                      {}});
      return;
    }
    ReaderArticle a;
    a.probablyReaderable = r.value(QStringLiteral("readerable")).toBool();
    a.title = r.value(QStringLiteral("title")).toString();
    a.byline = r.value(QStringLiteral("byline")).toString();
    a.siteName = r.value(QStringLiteral("siteName")).toString();
    a.excerpt = r.value(QStringLiteral("excerpt")).toString();
    a.language = r.value(QStringLiteral("lang")).toString();
    a.direction = r.value(QStringLiteral("dir")).toString();
    a.publishedTime = r.value(QStringLiteral("publishedTime")).toString();
    a.contentHtml = r.value(QStringLiteral("content")).toString();
    a.text = r.value(QStringLiteral("text")).toString();
    a.textLength = a.text.size();
    a.address = m_running.address;
    const qsizetype said = a.text.trimmed().size();
    if (said == 0 || (!a.probablyReaderable && said < kShortestUnlikelyArticle)) {
      Finish(ticket, {ReaderProblem::kNotReadable,
                      QString::fromStdU16String(ReaderProblemText(ReaderProblem::kNotReadable)), {}});
      return;
    }
    Finish(ticket, {ReaderProblem::kNone, QString(), std::move(a)});
  });
}

void CReaderExtractor::Finish(uint64_t ticket, ReaderOutcome outcome) {
  if (ticket != m_running.ticket) return;
  m_timer->stop();
  Done done = std::move(m_running.done);
  m_running = Job();
  m_served = false;
  m_loadAllowed = false;
  m_extracting = false;
  // The next page starts after this one's answer, from the event loop.
  if (done) Deliver(std::move(done), std::move(outcome));
  QMetaObject::invokeMethod(this, &CReaderExtractor::StartNext, Qt::QueuedConnection);
}

}  // namespace qb
