// The reader view as the user drives it: the command shows the article's
// readable text in place of the feed's, says what it is doing and why it
// cannot, remembers the choice for the feed, keeps the result and shows a
// kept one without fetching. The article's page comes from an offline
// downloader; the extraction runs in the real web engine.
#include <QCheckBox>
#include <QTest>
#include <QWebEngineSettings>
#include <gtest/gtest.h>

#include <map>

#include "app/FeedPropertiesDlg.h"
#include "app/ReaderCommand.h"
#include "tests/support/FakeDownloader.h"
#include "tests/support/FakeMainFrame.h"

namespace qb {
namespace {

using State = ReaderPagePart::State;

bool WaitFor(const std::function<bool()>& done, int ms = 30000) {
  return QTest::qWaitFor(done, ms);
}

class MemoryReaderStore final : public IReaderStore {
 public:
  bool FindReaderText(ObjectId article, ReaderText& out) override {
    ++finds;
    auto it = texts.find(article);
    if (it == texts.end()) return false;
    out = it->second;
    return true;
  }
  void KeepReaderText(ReaderText text, std::u16string articleTitle, std::u16string) override {
    titles[text.article] = std::move(articleTitle);
    texts[text.article] = std::move(text);
  }
  std::map<ObjectId, ReaderText> texts;
  std::map<ObjectId, std::u16string> titles;
  int finds = 0;
};

DownloadResult Page(std::string body, std::string type = "text/html; charset=utf-8") {
  DownloadResult r = test::FakeDownloader::Body(std::move(body));
  r.contentType = std::move(type);
  r.finalUrl = "http://example.com/story/full";
  return r;
}

std::string ArticleHtml() {
  std::string paragraphs;
  for (int i = 0; i < 8; ++i) {
    paragraphs += "<p>The whole story goes on in its own words, paragraph " + std::to_string(i) +
                  ", with enough text in it that a reader view takes it for the article itself and "
                  "not for a menu, a footer or an advertisement beside it.</p>";
  }
  return "<html><head><title>The Whole Story</title><meta name=\"author\" content=\"Ann Writer\">"
         "<meta property=\"og:site_name\" content=\"Example News\"></head><body><nav><a href=\"/\">Home</a></nav>"
         "<article><h1>The Whole Story</h1>" + paragraphs + "<img src=\"/pictures/one.jpg\"></article></body></html>";
}

class ReaderViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    f.pageDownloader = &downloader;
    f.readerStore = &store;
    CFeedSource* s = f.Source(f.Group(0, u"G")->m_id, u"S");
    source = s->m_id;
    CFeed* a = f.Article(s, u"a1");
    a->m_link = u"http://example.com/story";
    a->m_description = u"<p>Only the summary.</p>";
    a1 = a->m_id;
    CFeed* b = f.Article(s, u"a2");
    b->m_link.clear();
    b->m_description = u"<p>Summary without a link.</p>";
    a2 = b->m_id;
    f.CreateViews(true);
    f.tree->SelectItem(f.tree->FindItem(source));
    reader = f.panes->Reader();
    ASSERT_NE(reader, nullptr);
  }
  void Show(ObjectId article) { f.list->ReadRow(f.list->FindRow(article)); }
  State Shown() const { return f.view->ReaderPart().state; }
  std::string Bytes() const { return f.view->PageBytes().toStdString(); }
  bool Has(const std::string& text) const { return Bytes().find(text) != std::string::npos; }

  // Before the frame: its panes ask them until they go.
  test::FakeDownloader downloader;
  MemoryReaderStore store;
  test::FakeMainFrame f;
  CReaderCommand* reader = nullptr;
  ObjectId source = 0, a1 = 0, a2 = 0;
};

TEST_F(ReaderViewTest, SaysWhyOverTheFeedsTextWhateverGoesWrong) {
  Show(a1);
  ASSERT_EQ(f.view->CurrentFeedId(), a1);
  EXPECT_TRUE(Has("Reader view")) << "the page offers it";
  reader->Toggle();
  EXPECT_TRUE(f.model.GetFeedSource(source)->m_fullArticle) << "remembered for the feed";
  ASSERT_EQ(downloader.StartedCount(), 1u);
  EXPECT_EQ(downloader.Request(0).url, "http://example.com/story");
  EXPECT_EQ(Shown(), State::kWorking);
  EXPECT_TRUE(reader->Active());
  EXPECT_TRUE(Has("Reading the article")) << Bytes();
  EXPECT_TRUE(Has("Only the summary.")) << "the feed's text stays while it works";

  struct Case {
    DownloadResult answer;
    std::string line;
  };
  DownloadResult notFound = Page("<html>gone</html>");
  notFound.httpStatus = 404;
  const Case cases[] = {
      {test::FakeDownloader::Failure(DownloadError::HostNotFound), "The article's page could not be fetched: "},
      {notFound, "The article's page could not be fetched: HTTP status 404."},
      {Page("%PDF-1.4 ...", "application/pdf"), "The article's link is not a web page (application/pdf)."},
      {test::FakeDownloader::Failure(DownloadError::TooLarge), "The article's page is too large for the reader view"},
      {Page("<html><body><p>Hi.</p></body></html>"), "No readable article was found on the article's page."},
  };
  size_t started = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    if (started > 0) {
      // Once it failed, the command tries again.
      EXPECT_FALSE(reader->Active());
      reader->Toggle();
    }
    ASSERT_EQ(downloader.StartedCount(), started + 1);
    downloader.Complete(started++, c.answer);
    ASSERT_TRUE(WaitFor([&] { return Shown() == State::kProblem; }));
    EXPECT_EQ(f.view->ReaderPart().line.find(std::u16string(c.line.begin(), c.line.end())), 0u)
        << Bytes();
    EXPECT_TRUE(Has("Only the summary.")) << "never an empty page";
  }
  EXPECT_TRUE(store.texts.empty()) << "no result, nothing kept";

  // Another article of the feed opens in the reader view at once; without
  // a link it says so, and fetches nothing.
  Show(a2);
  EXPECT_EQ(Shown(), State::kProblem);
  EXPECT_EQ(f.view->ReaderPart().line, u"The article has no link to a web page.");
  EXPECT_TRUE(Has("Summary without a link."));
  EXPECT_EQ(downloader.StartedCount(), started);
}

TEST_F(ReaderViewTest, ShowsTheArticleKeepsItAndShowsItAgainWithoutFetching) {
  Show(a1);
  reader->Toggle();
  ASSERT_EQ(downloader.StartedCount(), 1u);
  downloader.Complete(0, Page(ArticleHtml()));
  ASSERT_TRUE(WaitFor([&] { return Shown() == State::kShown; }));
  EXPECT_TRUE(Has("paragraph 7")) << Bytes();
  EXPECT_FALSE(Has("Only the summary.")) << "in place of the feed's text";
  EXPECT_TRUE(Has("Ann Writer"));
  EXPECT_TRUE(Has("Example News"));
  EXPECT_TRUE(Has(std::string("href=\"") + kFeedTextUrl + "\""));
  EXPECT_TRUE(Has(std::string("href=\"") + kReloadReaderUrl + "\""));
  EXPECT_TRUE(Has("http://example.com/pictures/one.jpg")) << "pictures resolve on the page's site";
  EXPECT_FALSE(f.view->page()->settings()->testAttribute(QWebEngineSettings::JavascriptEnabled));
  ASSERT_EQ(store.texts.count(a1), 1u);
  EXPECT_EQ(store.texts[a1].address, u"http://example.com/story/full");
  EXPECT_EQ(store.texts[a1].byline, u"Ann Writer");
  EXPECT_EQ(store.titles[a1], u"a1");

  // Away and back: the kept result, at once, with no fetch.
  Show(a2);
  Show(a1);
  EXPECT_EQ(Shown(), State::kShown);
  EXPECT_TRUE(Has("paragraph 7"));
  EXPECT_EQ(downloader.StartedCount(), 1u);

  // Reload fetches again; offline, the kept text stays with the reason.
  reader->Reload();
  ASSERT_EQ(downloader.StartedCount(), 2u);
  EXPECT_EQ(Shown(), State::kShown);
  downloader.Complete(1, test::FakeDownloader::Failure(DownloadError::Refused));
  ASSERT_TRUE(WaitFor([&] { return !f.view->ReaderPart().line.empty() &&
                                   f.view->ReaderPart().line.find(u"could not be fetched") != std::u16string::npos; }));
  EXPECT_EQ(Shown(), State::kShown);
  EXPECT_TRUE(Has("paragraph 7"));

  // The page's link back to the feed's text: off, for the feed too.
  auto* page = static_cast<CArticleWebPage*>(f.view->page());
  EXPECT_FALSE(page->HandleNavigation(QUrl(QString::fromLatin1(kFeedTextUrl)), true)) << "never leaves the page";
  EXPECT_EQ(Shown(), State::kOff);
  EXPECT_TRUE(Has("Only the summary."));
  EXPECT_FALSE(f.model.GetFeedSource(source)->m_fullArticle);
  Show(a2);
  Show(a1);
  EXPECT_EQ(Shown(), State::kOff) << "the feed opens its articles as the feed's text again";

  // Feed Properties shows the choice and sets it; the feed's articles then
  // open in the reader view at once, from what was kept.
  bool shownChecked = true;
  f.answerDialog = [&](QDialog& dialog) {
    auto& dlg = dynamic_cast<CFeedPropertiesDlg&>(dialog);
    dlg.InitDialog();
    shownChecked = dlg.FullArticleBox()->isChecked();
    dlg.FullArticleBox()->setChecked(true);
    dlg.accept();
    return dlg.result();
  };
  f.tree->ShowProperties();
  EXPECT_FALSE(shownChecked) << "off as the command left it";
  EXPECT_TRUE(f.model.GetFeedSource(source)->m_fullArticle);
  Show(a2);
  Show(a1);
  EXPECT_EQ(Shown(), State::kShown);
  EXPECT_EQ(downloader.StartedCount(), 2u);
}

}  // namespace
}  // namespace qb
