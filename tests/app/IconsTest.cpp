// The window's icons come in one drawing per device-pixel ratio, so nothing
// is scaled up (and blurred) on a screen at 200 or 300 percent.
#include <QDir>
#include <QImage>
#include <gtest/gtest.h>

#include "app/RSSReaderApp.h"

namespace qb {
namespace {

TEST(IconsTest, EveryIconHasItsSharperVariants) {
  InitResources();
  const QStringList names = QDir(QStringLiteral(":/icons")).entryList({QStringLiteral("*.png")});
  QStringList bases;
  for (const QString& name : names) {
    if (!name.contains(u'@')) bases << name.chopped(4);
  }
  // The tree's four, the tray's two and the program's own.
  EXPECT_EQ(bases.size(), 7) << bases.join(u' ').toStdString();
  for (const QString& base : bases) {
    const QImage one(QStringLiteral(":/icons/%1.png").arg(base));
    ASSERT_FALSE(one.isNull()) << base.toStdString();
    EXPECT_EQ(one.width(), one.height()) << base.toStdString();
    for (int ratio : {2, 3}) {
      const QImage sharp(QStringLiteral(":/icons/%1@%2x.png").arg(base).arg(ratio));
      ASSERT_FALSE(sharp.isNull()) << base.toStdString() << " @" << ratio << "x";
      EXPECT_EQ(sharp.size(), one.size() * ratio) << base.toStdString() << " @" << ratio << "x";
    }
  }
}

}  // namespace
}  // namespace qb
