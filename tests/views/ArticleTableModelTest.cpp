#include "views/ArticleTableModel.h"

#include <QAbstractItemModelTester>
#include <gtest/gtest.h>

#include <random>

#include "model/FeedsManager.h"
#include "model/ModelWriter.h"

namespace qb {
namespace {

// Rows sorted into place one batch at a time end in the order a sort of
// every row gives, whatever the column and direction: equal keys, undated
// articles, entities and a row whose article has gone included.
TEST(ArticleTableModelTest, SortedInsertionEqualsASortOfEveryRow) {
  const std::u16string titles[] = {u"beta", u"Alpha", u"BETA", u"&amp; more", u"zulu", u"alpha", u"Mid"};
  const std::u16string channels[] = {u"One", u"two", u"ONE"};
  std::mt19937 random(7);
  for (int column : {int(CArticleTableModel::kTitle), int(CArticleTableModel::kChannel), int(CArticleTableModel::kDate)}) {
    for (bool ascending : {true, false}) {
      SCOPED_TRACE(testing::Message() << "column " << column << (ascending ? " ascending" : " descending"));
      CFeedsManager model;
      auto article = [&](int n) {
        CFeed* a = CModelWriter(model).NewFeed();
        a->m_title = titles[random() % std::size(titles)];
        a->m_channel = channels[random() % std::size(channels)];
        if (n % 5 != 0) a->m_date.SetDateTime(2020, 1 + static_cast<int>(random() % 3), 1, 0, 0, 0);
        else a->m_date = CDateTime::Invalid();
        return a->m_id;
      };
      IdList first;
      for (int n = 0; n < 40; ++n) first.push_back(article(n));
      CArticleTableModel inserted(model);
      QAbstractItemModelTester tester(&inserted, QAbstractItemModelTester::FailureReportingMode::Fatal);
      inserted.AppendRows(first);
      inserted.SortRows(column, ascending);
      CArticleTableModel sorted(model);
      sorted.AppendRows(first);
      sorted.SortRows(column, ascending);
      for (int batch = 0; batch < 6; ++batch) {
        IdList more;
        for (int n = 0; n < 7; ++n) more.push_back(article(n));
        more.push_back(more.front());  // twice: one row
        more.push_back(first.front());  // has a row already: left alone
        inserted.InsertSorted(more, column, ascending);
        sorted.AppendRows(more);
        sorted.SortRows(column, ascending);
        ASSERT_EQ(inserted.Ids(), sorted.Ids());
        for (ObjectId id : more) EXPECT_EQ(inserted.FindRow(id), sorted.FindRow(id));
      }
    }
  }
}

}  // namespace
}  // namespace qb
