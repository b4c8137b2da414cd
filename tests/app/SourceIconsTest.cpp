// What a source shows beside its name: the warning mark and the reason
// while its last update has failed, and its site's icon once that has been
// fetched (by the window's provider, off the window's thread).
#include <QBuffer>
#include <QImage>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>

#include "app/QtExecutor.h"
#include "app/RSSReaderApp.h"
#include "app/SiteIconProvider.h"
#include "tests/support/FakeMainFrame.h"
#include "tests/support/HttpServer.h"
#include "tests/support/TempDir.h"

namespace qb {
namespace {

using test::HttpResponse;

QImage Picture(const QIcon& icon) { return icon.pixmap(QSize(16, 16)).toImage().convertToFormat(QImage::Format_ARGB32); }

std::string PngBytes(QColor color, int size = 16) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(color);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes.toStdString();
}

class SourceIconsTest : public ::testing::Test {
 protected:
  SourceIconsTest() {
    InitResources();
    g = f.Group(0, u"G");
    s = f.Source(g->m_id, u"S");
    other = f.Source(g->m_id, u"T");
  }

  QTreeWidgetItem* Item(ObjectId id) { return f.tree->FindItem(id); }
  // An update of the source that ends in `failure` (empty: success).
  void Update(ObjectId source, const std::u16string& failure) {
    f.states[source].failure = failure;
    f.updateSource = [](CFeedsManager&, ObjectId, bool) { return false; };
    f.commands->UpdateSources({source});
  }

  test::FakeMainFrame f;
  CGroup* g = nullptr;
  CFeedSource* s = nullptr;
  CFeedSource* other = nullptr;
};

TEST_F(SourceIconsTest, AFailedUpdateShowsTheWarningMarkAndItsReasonUntilOneSucceeds) {
  f.CreateViews();
  const QImage standard = Picture(Item(s->m_id)->icon(0));
  const QImage warning = Picture(f.tree->FailureIcon());
  ASSERT_FALSE(warning.isNull());
  ASSERT_NE(standard, warning);
  EXPECT_EQ(Item(s->m_id)->toolTip(0), QString());

  Update(s->m_id, u"host not found");
  EXPECT_EQ(Picture(Item(s->m_id)->icon(0)), warning);
  EXPECT_EQ(Item(s->m_id)->toolTip(0), QStringLiteral("The last update failed: host not found"));
  EXPECT_EQ(Item(s->m_id)->data(0, Qt::ToolTipRole).toString(),
            QStringLiteral("The last update failed: host not found"));
  // Only that source, and not the group above it.
  EXPECT_EQ(Picture(Item(other->m_id)->icon(0)), standard);
  EXPECT_EQ(Item(other->m_id)->toolTip(0), QString());
  EXPECT_NE(Picture(Item(g->m_id)->icon(0)), warning);

  // Another reason replaces the first; the mark stays through a refresh of the whole tree.
  Update(s->m_id, u"HTTP status 404");
  f.tree->RefreshAll();
  EXPECT_EQ(Item(s->m_id)->toolTip(0), QStringLiteral("The last update failed: HTTP status 404"));
  EXPECT_EQ(Picture(Item(s->m_id)->icon(0)), warning);

  Update(s->m_id, u"");
  EXPECT_EQ(Picture(Item(s->m_id)->icon(0)), standard);
  EXPECT_EQ(Item(s->m_id)->toolTip(0), QString());
}

TEST_F(SourceIconsTest, AFailureKnownAtStartIsShownAtOnce) {
  f.states[other->m_id].failure = u"not a feed";
  f.CreateViews();
  EXPECT_EQ(Picture(Item(other->m_id)->icon(0)), Picture(f.tree->FailureIcon()));
  EXPECT_EQ(Item(other->m_id)->toolTip(0), QStringLiteral("The last update failed: not a feed"));
}

// The picture is decoded as the server sent it, every size of an ICO file.
TEST(SiteIconDecodeTest, PicturesOrNothing) {
  EXPECT_TRUE(CSiteIconProvider::DecodeIcon("").empty());
  EXPECT_TRUE(CSiteIconProvider::DecodeIcon("<html>not found</html>").empty());
  const std::vector<QImage> png = CSiteIconProvider::DecodeIcon(PngBytes(Qt::red, 32));
  ASSERT_EQ(png.size(), 1u);
  EXPECT_EQ(png[0].size(), QSize(32, 32));
  EXPECT_TRUE(CSiteIconProvider::DecodeIcon(PngBytes(Qt::red).substr(0, 20)).empty());
}

class SiteIconTreeTest : public SourceIconsTest {
 protected:
  SiteIconTreeTest() {
    options.folder = cache.File("icons");
    s->m_url = server.Url16("/feed.xml");
    other->m_url = u"not an address";
  }

  test::TempDir cache;
  test::HttpServer server;
  IconCacheOptions options;
  CQtExecutor executor;
  CDownloadPool pool;
};

TEST_F(SiteIconTreeTest, TheSitesIconIsShownOnceFetchedWithoutWaitingForIt) {
  // The site answers late: the tree must be up, with the standard icon, long before.
  HttpResponse icon = HttpResponse::Ok(PngBytes(Qt::blue), "image/png");
  icon.delay = std::chrono::milliseconds(400);
  server.Set("/favicon.ico", icon);
  f.CreateViews();
  const QImage standard = Picture(Item(s->m_id)->icon(0));
  CSiteIconProvider provider(pool, executor, options);
  QSignalSpy arrived(&provider, &ISiteIcons::iconsArrived);
  f.tree->SetSiteIcons(&provider);
  EXPECT_EQ(Picture(Item(s->m_id)->icon(0)), standard);
  EXPECT_EQ(arrived.count(), 0);

  ASSERT_TRUE(arrived.wait(10000));
  const QImage shown = Picture(Item(s->m_id)->icon(0));
  EXPECT_EQ(shown.pixelColor(8, 8), QColor(Qt::blue));
  EXPECT_EQ(Picture(Item(other->m_id)->icon(0)), standard);  // no site, no icon
  EXPECT_TRUE(std::filesystem::exists(options.folder));

  // Asked once however often the tree is refreshed.
  f.tree->RefreshAll();
  f.tree->RefreshAll();
  auto asked = [&] {
    int n = 0;
    for (const test::HttpRequest& r : server.Requests()) n += r.path == "/favicon.ico";
    return n;
  };
  EXPECT_FALSE(QTest::qWaitFor([&] { return asked() > 1; }, 1000));
  EXPECT_EQ(asked(), 1);

  // A failed update puts the warning mark in its place, success brings it back.
  Update(s->m_id, u"timed out");
  EXPECT_EQ(Picture(Item(s->m_id)->icon(0)), Picture(f.tree->FailureIcon()));
  Update(s->m_id, u"");
  EXPECT_EQ(Picture(Item(s->m_id)->icon(0)).pixelColor(8, 8), QColor(Qt::blue));
}

TEST_F(SiteIconTreeTest, ASiteWithoutAnIconKeepsTheStandardOne) {
  server.Set("/favicon.ico", HttpResponse::Ok("<html>no icon here</html>", "image/x-icon"));
  f.CreateViews();
  const QImage standard = Picture(Item(s->m_id)->icon(0));
  CSiteIconProvider provider(pool, executor, options);
  QSignalSpy arrived(&provider, &ISiteIcons::iconsArrived);
  f.tree->SetSiteIcons(&provider);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !server.Requests().empty(); }, 10000));
  EXPECT_FALSE(arrived.wait(1000));
  EXPECT_EQ(Picture(Item(s->m_id)->icon(0)), standard);
  EXPECT_TRUE(provider.SiteIcon(s->m_url).isNull());
}

// The provider goes before the tree: the tree shows the standard icons and
// asks nothing more.
TEST_F(SiteIconTreeTest, TheTreeOutlivesItsProvider) {
  server.Set("/favicon.ico", HttpResponse::Ok(PngBytes(Qt::green), "image/png"));
  f.CreateViews();
  {
    CSiteIconProvider provider(pool, executor, options);
    f.tree->SetSiteIcons(&provider);
  }
  f.tree->RefreshAll();
  // Whatever the gone provider had posted is delivered (or dropped) now.
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  EXPECT_NE(Picture(Item(s->m_id)->icon(0)).pixelColor(8, 8), QColor(Qt::green));
}

}  // namespace
}  // namespace qb
