#include "app/ReaderCommand.h"

#include <QByteArray>
#include <QUrl>
#include <ctime>

#include "app/FeedUpdater.h"
#include "net/ReaderPage.h"
#include "model/FeedsManager.h"
#include "views/FeedView.h"
#include "views/IMainFrame.h"
#include "views/ReaderExtractor.h"
#include "views/ViewText.h"

namespace qb {

namespace {

constexpr char16_t kWorkingLine[] = u"Reading the article\u2019s page\u2026";

}  // namespace

ReaderPagePart ReaderPartOf(const ReaderText& text) {
  ReaderPagePart part;
  part.state = ReaderPagePart::State::kShown;
  part.title = text.title;
  part.byline = text.byline;
  part.siteName = text.siteName;
  part.address = text.address;
  part.language = text.language;
  part.direction = text.direction;
  part.content = text.content;
  return part;
}

CReaderCommand::CReaderCommand(IMainFrame& frame, IFeedUpdater& updater, CFeedView& page, QObject* parent)
    : QObject(parent), m_frame(frame), m_updater(updater), m_page(page) {
  connect(&m_page, &CFeedView::articleShown, this, &CReaderCommand::OnArticleShown);
  connect(&m_page, &CFeedView::readerLinkFollowed, this, &CReaderCommand::OnLink);
  // A web page reached from the article has no reader view; the article's
  // page again has.
  connect(&m_page, &QWebEngineView::urlChanged, this, &CReaderCommand::stateChanged);
}

CReaderCommand::~CReaderCommand() { Abandon(); }

IReaderStore* CReaderCommand::Store() const { return m_frame.ReaderStore(); }

bool CReaderCommand::Available() const { return m_page.CurrentFeedId() != 0 && m_page.ShowsArticlePage(); }

bool CReaderCommand::Active() const {
  const ReaderPagePart::State state = m_page.ReaderPart().state;
  return Available() && (state == ReaderPagePart::State::kWorking || state == ReaderPagePart::State::kShown);
}

void CReaderCommand::Toggle() {
  if (!Available()) return;
  const ObjectId article = m_page.CurrentFeedId();
  if (Active()) {
    Abandon();
    Show(article, ReaderPagePart{});
    SetFeedChoice(article, false);
  } else {
    SetFeedChoice(article, true);
    Start(article, false);
  }
}

void CReaderCommand::Reload() {
  if (Available()) Start(m_page.CurrentFeedId(), true);
}

void CReaderCommand::SetFeedChoice(ObjectId article, bool on) {
  CFeedsManager& model = m_frame.Model();
  if (const CFeedSource* source = model.FindSourceOfFeed(article)) model.SetSourceFullArticle(source->m_id, on);
}

void CReaderCommand::OnArticleShown(ObjectId article) {
  Abandon();
  emit stateChanged();
  const CFeedsManager& model = m_frame.Model();
  const CFeedSource* source = article != 0 ? model.FindSourceOfFeed(article) : nullptr;
  if (source != nullptr && source->m_fullArticle) Start(article, false);
}

void CReaderCommand::OnLink(ObjectId article, PageLink link) {
  if (article != m_page.CurrentFeedId()) return;
  switch (link) {
    case PageLink::kReaderView:
      if (!Active()) Toggle();
      break;
    case PageLink::kFeedText:
      if (Active()) Toggle();
      break;
    case PageLink::kReload: Reload(); break;
    default: break;
  }
}

void CReaderCommand::Start(ObjectId article, bool fetch) {
  Abandon();
  const CFeedsManager& model = m_frame.Model();
  const CFeed* a = model.GetFeed(article);
  if (a == nullptr) return;
  m_article = article;
  // A classic data file keeps nothing: the last result of this session
  // stands in for the store.
  if (IReaderStore* store = Store()) {
    ReaderText found;
    m_haveStored = store->FindReaderText(article, found);
    if (m_haveStored) m_stored = std::move(found);
  } else {
    m_haveStored = m_stored.article == article;
  }
  if (m_haveStored && !fetch) {
    Show(article, ReaderPartOf(m_stored));
    return;
  }
  const std::u16string link = ArticleLinkOf(model, *a);
  if (!IsReaderPageAddress(link)) {
    Failed(article, ReaderProblemText(ReaderProblem::kNoLink));
    return;
  }
  if (!m_fetch) m_fetch = m_updater.NewArticlePageFetch();
  if (!m_fetch) {
    Failed(article, ReaderProblemText(ReaderProblem::kFetchFailed, u"nothing can be downloaded"));
    return;
  }
  ReaderPagePart working;
  if (m_haveStored) working = ReaderPartOf(m_stored);
  working.state = m_haveStored ? ReaderPagePart::State::kShown : ReaderPagePart::State::kWorking;
  working.line = kWorkingLine;
  Show(article, std::move(working));
  m_fetch->Start(link, [this, article](FetchedArticlePage page) {
    if (article != m_article) return;
    if (page.problem != ReaderProblem::kNone) {
      Failed(article, page.message);
      return;
    }
    if (m_extractor == nullptr) m_extractor = new CReaderExtractor(this);
    QByteArray bytes(page.body.data(), static_cast<qsizetype>(page.body.size()));
    std::string().swap(page.body);
    m_ticket = m_extractor->Extract(std::move(bytes), QString::fromStdString(page.contentType),
                                    QUrl(QString::fromStdString(page.address)),
                                    [this, article](const ReaderOutcome& outcome) {
                                      m_ticket = 0;
                                      Extracted(article, outcome);
                                    });
  });
}

void CReaderCommand::Extracted(ObjectId article, const ReaderOutcome& outcome) {
  if (article != m_article) return;
  if (!outcome.ok()) {
    Failed(article, FromQString(outcome.message));
    return;
  }
  const CFeed* a = m_frame.Model().GetFeed(article);
  if (a == nullptr) return;
  const ReaderArticle& found = outcome.article;
  ReaderText text;
  text.article = article;
  text.address = FromQString(found.address.toString());
  text.fetched = static_cast<int64_t>(::time(nullptr));
  text.title = FromQString(found.title);
  text.byline = FromQString(found.byline);
  text.siteName = FromQString(found.siteName);
  text.excerpt = FromQString(found.excerpt);
  text.language = FromQString(found.language);
  text.direction = FromQString(found.direction);
  text.content = FromQString(found.contentHtml);
  if (IReaderStore* store = Store()) store->KeepReaderText(text, a->m_title, a->m_channel);
  m_stored = std::move(text);
  m_haveStored = true;
  m_article = 0;
  Show(article, ReaderPartOf(m_stored));
}

void CReaderCommand::Failed(ObjectId article, const std::u16string& line) {
  m_article = 0;
  ReaderPagePart part;
  if (m_haveStored && m_stored.article == article) {
    part = ReaderPartOf(m_stored);
  } else {
    part.state = ReaderPagePart::State::kProblem;
  }
  part.line = line;
  Show(article, std::move(part));
}

void CReaderCommand::Show(ObjectId article, ReaderPagePart part) {
  m_page.ShowReaderPart(article, std::move(part));
  emit stateChanged();
}

void CReaderCommand::Abandon() {
  if (m_fetch) m_fetch->Cancel();
  if (m_ticket != 0 && m_extractor != nullptr) m_extractor->Cancel(m_ticket);
  m_ticket = 0;
  m_article = 0;
}

}  // namespace qb
