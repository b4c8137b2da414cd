// LOCAL ONLY (untracked): renders the views for a visual check.
#include <QHBoxLayout>
#include <QSignalSpy>
#include <QSplitter>
#include <QTest>
#include <gtest/gtest.h>
#include "model/Random.h"
#include "tests/views/FakeMainFrame.h"
namespace qb {
TEST(ZzScreenshot, Render) {
  if (qgetenv("QB_SHOT").isEmpty()) GTEST_SKIP();
  SeedRandom(1);
  test::FakeMainFrame f;
  CGroup* g = f.Group(0, u"All Sources");
  CGroup* sub = f.Group(g->m_id, u"Tech &amp; Science");
  CFeedSource* s = f.Source(g->m_id, u"World News");
  CFeedSource* t = f.Source(sub->m_id, u"Gadgets");
  CDateTime d; d.SetDateTime(2024, 3, 5, 14, 30, 0);
  CDateTime m; m.SetDateTime(2024, 3, 6, 0, 0, 0);
  for (int i = 0; i < 6; ++i) f.Article(s, u"Headline number " + std::u16string(1, char16_t(u'A' + i)), i % 2, i % 3 ? d : m);
  f.Article(t, u"New phone", false, d)->m_description = u"<p>Some <b>bold</b> text and caf\u00e9.</p>";
  f.CreateViews(true);
  QSplitter outer(Qt::Horizontal, &f.window);
  auto* inner = new QSplitter(Qt::Vertical);
  outer.addWidget(f.tree.get()); outer.addWidget(inner);
  inner->addWidget(f.list.get()); inner->addWidget(f.view.get());
  outer.resize(900, 600); f.window.resize(900, 600); f.window.show();
  f.tree->ApplyUpdate(UpdateCode::SelectItem, {f.tree->FindItem(g->m_id), -1}, {});
  f.list->InitialUpdate();
  QSignalSpy loaded(f.view->page(), &QWebEnginePage::loadFinished);
  f.list->ApplyUpdate(UpdateCode::SelectItem, {nullptr, 1}, {});
  f.list->setFocus();
  loaded.wait(10000);
  QTest::qWait(500);
  f.window.grab().save("/tmp/views_shot.png");
  f.tree->BeginDrag(f.tree->FindItem(t->m_id));
  f.tree->DragPixmap(f.tree->FindItem(t->m_id)).save("/tmp/views_drag.png");
  f.tree->Drop(nullptr);
  outer.setParent(nullptr);
  f.tree->setParent(&f.window); f.list->setParent(&f.window); f.view->setParent(&f.window);
}
}
