#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QTest>
#include <QWebEnginePage>

#include "app/DesktopScheme.h"
#include "app/OptionsDlg.h"
#include "tests/app/AppHarness.h"
#include "views/FeedView.h"

namespace qb {
namespace {

using test::AppHarness;
using test::kSettings;
using test::UiTestScope;

// The whole program on a desktop without a preference (no portal, no
// GTK_THEME, no settings files): the choice in Options recolours every
// window when OK is pressed, Cancel leaves the colours, and the next start
// comes up in the stored choice.
TEST(AppearanceTest, OptionsRecoloursAtOnceAndTheNextStartKeepsIt) {
  const QByteArray oldTheme = qgetenv("GTK_THEME");
  qunsetenv("GTK_THEME");
  const QPalette original = QApplication::palette();
  ASSERT_FALSE(IsDarkPalette(original));
  const QColor darkBase = DarkPalette().color(QPalette::Base);
  {
    // Outlives the program, as in main().
    CDesktopColorScheme scheme(Appearance::System, nullptr, QStringLiteral("qbtest-no-bus"));
    AppHarness h;
    h.colorScheme = &scheme;
    UiTestScope::Store(kSettings, QStringLiteral("FirstRun"), 0);
    ASSERT_TRUE(h.Start());
    EXPECT_EQ(QApplication::palette(), original);

    // Each widget takes up the application's palette from its event queue.
    const auto articleBase = [&h](const QColor& wanted) {
      CFeedView* view = h.Frame().ArticleView();
      return QTest::qWaitFor(
          [&] { return view->palette().color(QPalette::Base) == wanted && view->page()->backgroundColor() == wanted; },
          5000);
    };
    const auto choose = [&h](Appearance choice, bool ok) {
      bool shownWithFocus = false;
      h.scope.answerDialog = [&](QDialog& dialog) {
        auto* options = qobject_cast<COptionsDlg*>(&dialog);
        EXPECT_NE(options, nullptr);
        if (options == nullptr) return int(QDialog::Rejected);
        options->show();
        shownWithFocus = options->testAttribute(Qt::WA_KeyboardFocusChange);
        QComboBox* box = options->AppearanceBox();
        box->setCurrentIndex(box->findData(static_cast<int>(choice)));
        ok ? options->accept() : options->reject();
        return options->result();
      };
      h.Frame().OnOptions();
      EXPECT_TRUE(shownWithFocus) << "the program shows the focus in its dialogs";
    };
    choose(Appearance::Dark, true);
    EXPECT_EQ(QApplication::palette(), DarkPalette());
    EXPECT_TRUE(articleBase(darkBase)) << "the article page follows";
    EXPECT_EQ(UiTestScope::Stored(kSettings, setting::kAppearance).toInt(), 2);

    choose(Appearance::Light, false);
    EXPECT_EQ(QApplication::palette(), DarkPalette()) << "Cancel changes nothing";
    EXPECT_EQ(UiTestScope::Stored(kSettings, setting::kAppearance).toInt(), 2);

    choose(Appearance::Light, true);
    EXPECT_EQ(QApplication::palette(), original);
    EXPECT_TRUE(articleBase(original.color(QPalette::Base)));
    EXPECT_EQ(UiTestScope::Stored(kSettings, setting::kAppearance).toInt(), 1);

    UiTestScope::Store(kSettings, setting::kAppearance, 2);
    ASSERT_TRUE(h.Start());
    EXPECT_EQ(QApplication::palette(), DarkPalette());
    EXPECT_TRUE(articleBase(darkBase));
  }
  QApplication::setPalette(original);
  if (!oldTheme.isNull()) qputenv("GTK_THEME", oldTheme);
}

}  // namespace
}  // namespace qb
