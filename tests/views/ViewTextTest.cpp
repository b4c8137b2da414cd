#include "views/ViewText.h"

#include <gtest/gtest.h>

namespace qb {
namespace {

// The tree and the list show titles as text: markup removed, entities
// decoded, the "<Untitled>" of an untitled article kept.
TEST(ViewTextTest, TitlesShowAsText) {
  const struct {
    std::u16string stored;
    QString shown;
  } cases[] = {
      {u"<b>bold?</b>", QStringLiteral("bold?")},
      {u"He said &quot;hi&quot; &#8211; it&#39;s", QString::fromUtf8("He said \"hi\" \xE2\x80\x93 it's")},
      {u"Tom &amp; Jerry &#233;", QString::fromUtf8("Tom & Jerry \xC3\xA9")},
      {u"<Untitled>", QStringLiteral("<Untitled>")},
      {u"Tech & <Science>", QStringLiteral("Tech & <Science>")},
      {u"plain", QStringLiteral("plain")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToQString(DecodeForDisplay(c.stored)), c.shown) << c.shown.toStdString();
    EXPECT_EQ(NodeLabel(c.stored, 1, 2), c.shown + QStringLiteral(" (1 / 3)"));
  }
}

}  // namespace
}  // namespace qb
