#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyleOption>
#include <QTest>
#include <QToolButton>

#include "app/AboutDlg.h"
#include "app/AddGroupDlg.h"
#include "app/AddNewFeedDlg.h"
#include "app/ConfirmExitDlg.h"
#include "app/DialogButtons.h"
#include "app/FeedPropertiesDlg.h"
#include "app/Hyperlink.h"
#include "app/OptionsDlg.h"
#include "app/SettingsManager.h"
#include "model/FeedsManager.h"
#include "tests/app/AppTestSupport.h"
#include "views/ArticlePage.h"
#include "views/IMainFrame.h"

namespace qb {
namespace {

using test::UiTestScope;

// One group holding a source for each address.
struct SubscribedModel {
  explicit SubscribedModel(std::initializer_list<const char16_t*> urls) {
    model.SeedRandom(1);
    group = model.AddGroup(0, u"G")->m_id;
    for (const char16_t* url : urls) model.AddSource(group, url);
  }
  CFeedsManager model;
  ObjectId group = 0;
};

TEST(AddNewFeedDlgTest, TitleNamesTheGroupWhenThereIsOne) {
  UiTestScope scope;
  struct Case {
    QString group;
    QString title;
  };
  for (const Case& c : {Case{QString(), QStringLiteral("Add New Feed")},
                        Case{QStringLiteral("News"), QStringLiteral("Add New Feed to 'News'")}}) {
    SubscribedModel m({});
    CAddNewFeedDlg dlg(scope, m.model, m.group, test::NewSearch());
    dlg.m_strGroupName = c.group;
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), c.title);
  }
}

// What OK refuses without looking anything up; addresses that pass are
// searched for (AddFeedSearchTest).
TEST(AddNewFeedDlgTest, OkRefusesEmptyAndSubscribedAddressesAtOnce) {
  const QString duplicateText = QStringLiteral("A feed with that URL already exists. Choose another URL.");
  struct Case {
    QString typed;
    bool message;
  };
  const Case cases[] = {
      {QString(), false},                                  // empty: stays open silently
      {QStringLiteral("  \t "), false},                    // empty once cleaned
      {QStringLiteral("http://a.example/feed"), true},     // exact duplicate
      {QStringLiteral(" http://a.example/feed"), true},    // the same once cleaned
  };
  for (const Case& c : cases) {
    UiTestScope scope;
    SubscribedModel m({u"http://a.example/feed", u"http://c.example/"});
    CAddNewFeedDlg dlg(scope, m.model, m.group, test::NewSearch());
    dlg.show();
    dlg.UrlEdit()->setText(c.typed);
    dlg.accept();
    EXPECT_TRUE(dlg.isVisible()) << c.typed.toStdString();
    EXPECT_FALSE(dlg.Searching());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(dlg.UrlEdit()->text(), c.typed);
    ASSERT_EQ(scope.messages.size(), c.message ? 1u : 0u) << c.typed.toStdString();
    if (c.message) {
      EXPECT_EQ(scope.messages[0].icon, MsgIcon::Information);
      EXPECT_EQ(scope.messages[0].text, duplicateText);
    }
  }
}

TEST(FeedPropertiesDlgTest, ShowsTheMembers) {
  UiTestScope scope;
  CFeedPropertiesDlg dlg(scope);
  dlg.m_strName = QStringLiteral("Daily");
  dlg.m_strUrl = QStringLiteral("http://d.example/rss");
  dlg.m_nRefreshRate = 30;
  dlg.m_strLastUpdate = QStringLiteral("Comms status: OK");
  dlg.m_strLastUpdated = QStringLiteral("09/12/2026 07:30");
  dlg.m_strLastError = QStringLiteral("HTTP status 404");
  dlg.show();
  EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Feed Properties for 'Daily'"));
  EXPECT_EQ(dlg.UrlEdit()->text(), QStringLiteral("http://d.example/rss"));
  EXPECT_EQ(dlg.LastUpdatedLabel()->text(), QStringLiteral("09/12/2026 07:30"));
  EXPECT_EQ(dlg.LastErrorLabel()->text(), QStringLiteral("HTTP status 404"));
  EXPECT_EQ(dlg.RateEdit()->text(), QStringLiteral("30"));
  EXPECT_EQ(dlg.LastUpdateLabel()->text(), QStringLiteral("Comms status: OK"));
  EXPECT_EQ(dlg.Link()->text(), QStringLiteral("http://d.example/rss"));
  EXPECT_EQ(dlg.Link()->ResolvedTarget(), QStringLiteral("http://d.example/rss"));
}

TEST(FeedPropertiesDlgTest, RefreshRateValidation) {
  const QString notInteger = QStringLiteral("Please enter an integer.");
  const QString outOfRange = QStringLiteral("Please enter an integer between 1 and 1440.");
  struct Case {
    QString typed;
    QString message;  // empty: accepted
  };
  const Case cases[] = {
      {QStringLiteral("0"), outOfRange},     {QStringLiteral("1441"), outOfRange},
      {QStringLiteral("99999"), outOfRange}, {QString(), notInteger},
      {QStringLiteral("99999999999"), notInteger},
      {QStringLiteral("1"), QString()},      {QStringLiteral("1440"), QString()},
      {QStringLiteral("60"), QString()},
  };
  for (const Case& c : cases) {
    UiTestScope scope;
    CFeedPropertiesDlg dlg(scope);
    dlg.m_nRefreshRate = 15;
    dlg.show();
    dlg.RateEdit()->setText(c.typed);
    dlg.accept();
    if (c.message.isEmpty()) {
      EXPECT_EQ(dlg.result(), QDialog::Accepted) << c.typed.toStdString();
      EXPECT_EQ(dlg.m_nRefreshRate, c.typed.toInt());
      EXPECT_TRUE(scope.messages.empty());
    } else {
      EXPECT_TRUE(dlg.isVisible()) << c.typed.toStdString();
      EXPECT_EQ(dlg.m_nRefreshRate, 15);
      ASSERT_EQ(scope.messages.size(), 1u) << c.typed.toStdString();
      EXPECT_EQ(scope.messages[0].text, c.message);
      EXPECT_EQ(scope.messages[0].icon, MsgIcon::Warning);
    }
  }
}

TEST(FeedPropertiesDlgTest, UpDownStopsAtTheEnds) {
  UiTestScope scope;
  CFeedPropertiesDlg dlg(scope);
  dlg.m_nRefreshRate = 2;
  dlg.show();
  QTest::mouseClick(dlg.DownButton(), Qt::LeftButton);
  EXPECT_EQ(dlg.RateEdit()->text(), QStringLiteral("1"));
  QTest::mouseClick(dlg.DownButton(), Qt::LeftButton);
  EXPECT_EQ(dlg.RateEdit()->text(), QStringLiteral("1"));
  dlg.RateEdit()->setText(QStringLiteral("1439"));
  QTest::keyClick(dlg.RateEdit(), Qt::Key_Up);
  EXPECT_EQ(dlg.RateEdit()->text(), QStringLiteral("1440"));
  QTest::mouseClick(dlg.UpButton(), Qt::LeftButton);
  EXPECT_EQ(dlg.RateEdit()->text(), QStringLiteral("1440"));
  // Typing beyond the range and stepping brings the value back inside.
  dlg.RateEdit()->setText(QStringLiteral("5000"));
  QTest::keyClick(dlg.RateEdit(), Qt::Key_Down);
  EXPECT_EQ(dlg.RateEdit()->text(), QStringLiteral("1439"));
  // Letters cannot be typed into the rate.
  dlg.RateEdit()->clear();
  QTest::keyClicks(dlg.RateEdit(), QStringLiteral("1a2"));
  EXPECT_EQ(dlg.RateEdit()->text(), QStringLiteral("12"));
}

TEST(FeedPropertiesDlgTest, AChangedAddressIsCheckedLikeANewOne) {
  const QString shown = QStringLiteral("http://d.example/rss");
  struct Case {
    QString typed;
    QString kept;     // empty: refused
    QString message;  // with the warning or, for a duplicate, the information icon
  };
  const Case cases[] = {
      {shown, shown, QString()},
      {QStringLiteral("  http://d.example/rss \t"), shown, QString()},
      {QStringLiteral("http://d.example/atom"), QStringLiteral("http://d.example/atom"), QString()},
      {QStringLiteral("d.example/new"), QStringLiteral("https://d.example/new"), QString()},
      {QStringLiteral("feed://d.example/x"), QStringLiteral("http://d.example/x"), QString()},
      {QStringLiteral("not a url at all"), QString(), QStringLiteral("This is not a web address.")},
      {QString(), QString(), QStringLiteral("Enter the address of a feed or of a web site.")},
      {QStringLiteral("http://other.example/feed"), QString(),
       QStringLiteral("A feed with that URL already exists. Choose another URL.")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed.toStdString());
    UiTestScope scope;
    SubscribedModel m({u"http://d.example/rss", u"http://other.example/feed"});
    CFeedPropertiesDlg dlg(scope);
    dlg.m_strUrl = shown;
    dlg.m_nRefreshRate = 60;
    dlg.m_model = &m.model;
    dlg.show();
    dlg.UrlEdit()->setText(c.typed);
    dlg.accept();
    if (!c.kept.isEmpty()) {
      EXPECT_EQ(dlg.result(), QDialog::Accepted);
      EXPECT_EQ(dlg.m_strUrl, c.kept);
      EXPECT_TRUE(scope.messages.empty());
      continue;
    }
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.m_strUrl, shown);
    EXPECT_EQ(dlg.UrlEdit()->text(), c.typed);
    ASSERT_EQ(scope.messages.size(), 1u);
    EXPECT_EQ(scope.messages[0].text, c.message);
    EXPECT_EQ(scope.messages[0].icon, c.message.startsWith(QStringLiteral("A feed")) ? MsgIcon::Information
                                                                                     : MsgIcon::Warning);
  }
}

TEST(FeedPropertiesDlgTest, LastUpdatedAndLastErrorTexts) {
  const SourceUpdateState never;
  EXPECT_EQ(LastUpdatedText(never), QStringLiteral("Not since the program started"));
  EXPECT_EQ(LastErrorText(never), QStringLiteral("None"));

  SourceUpdateState failed;
  failed.failure = u"host not found";
  failed.lastAttempt = 1'800'000'000;
  failed.lastSuccess = 1'799'990'000;
  const QString error = LastErrorText(failed);
  EXPECT_TRUE(error.startsWith(QStringLiteral("host not found ("))) << error.toStdString();
  EXPECT_TRUE(error.endsWith(u')'));
  const QString updated = LastUpdatedText(failed);
  EXPECT_NE(updated, LastUpdatedText(never));
  // The two times are told apart: the success was hours before the failure.
  EXPECT_FALSE(error.contains(updated)) << updated.toStdString();
  failed.lastSuccess = failed.lastAttempt;
  EXPECT_TRUE(error.contains(LastUpdatedText(failed)));
}

TEST(HyperlinkTest, FollowLinkTarget) {
  struct Case {
    QString text;
    QString target;
    QString opened;
  };
  const Case cases[] = {
      {QStringLiteral("someone@example.org"), QString(), QStringLiteral("mailto:someone@example.org")},
      {QStringLiteral("mailto:someone@example.org"), QString(), QStringLiteral("mailto:someone@example.org")},
      {QStringLiteral("MAILTO:someone@example.org"), QString(),
       QStringLiteral("mailto:MAILTO:someone@example.org")},
      {QStringLiteral("http://example.org/"), QString(), QStringLiteral("http://example.org/")},
      {QStringLiteral("a@b"), QStringLiteral("http://t.example/"), QStringLiteral("http://t.example/")},
      {QString(), QString(), QString()},
  };
  for (const Case& c : cases) {
    UiTestScope scope;
    CHyperlink link(scope, c.text);
    link.SetLinkTarget(c.target);
    link.FollowLink();
    ASSERT_EQ(scope.opened.size(), 1u);
    EXPECT_EQ(scope.opened[0], c.opened) << c.text.toStdString();
  }
}

TEST(HyperlinkTest, HoverTurnsBlueAndUnderlinesAndClickOpens) {
  UiTestScope scope;
  CFeedPropertiesDlg dlg(scope);
  dlg.m_strUrl = QStringLiteral("http://d.example/rss");
  dlg.show();
  CHyperlink* link = dlg.Link();
  EXPECT_EQ(link->CurrentColour(), QColor(0, 0, 128));
  EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 128));
  EXPECT_FALSE(link->font().underline());
  QTest::mouseMove(link, QPoint(2, 2));
  QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), link->mapToGlobal(QPointF(2, 2)));
  QApplication::sendEvent(link, &enter);
  EXPECT_TRUE(link->IsHovering());
  EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
  EXPECT_TRUE(link->font().underline());
  EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(link, &leave);
  EXPECT_FALSE(link->IsHovering());
  EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 128));
  EXPECT_FALSE(link->font().underline());
  QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(2, 2));
  ASSERT_EQ(scope.opened.size(), 1u);
  EXPECT_EQ(scope.opened[0], QStringLiteral("http://d.example/rss"));
}

// On a dark background the dark blue and the blue are lightened until they
// read; they stay blue.
TEST(HyperlinkTest, ReadableOnADarkBackground) {
  UiTestScope scope;
  CFeedPropertiesDlg dlg(scope);
  dlg.m_strUrl = QStringLiteral("http://d.example/rss");
  const QColor grey(53, 53, 53);
  QPalette dark = dlg.palette();
  dark.setColor(QPalette::Window, grey);
  dark.setColor(QPalette::WindowText, Qt::white);
  dlg.setPalette(dark);
  dlg.show();
  CHyperlink* link = dlg.Link();
  const QColor normal = link->palette().color(QPalette::WindowText);
  QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), link->mapToGlobal(QPointF(2, 2)));
  QApplication::sendEvent(link, &enter);
  ASSERT_TRUE(link->IsHovering());
  const QColor hover = link->palette().color(QPalette::WindowText);
  for (const QColor& c : {normal, hover}) {
    EXPECT_GE(ContrastRatio(c, grey), 4.5) << c.name().toStdString();
    EXPECT_GT(c.blue(), std::max(c.red(), c.green())) << c.name().toStdString();
  }
  EXPECT_NE(normal, hover);
}

TEST(HyperlinkTest, HoverStyleOneNeverUnderlines) {
  UiTestScope scope;
  CHyperlink link(scope, QStringLiteral("x"));
  link.SetHoverStyle(CHyperlink::kHoverNoUnderline);
  QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
  QApplication::sendEvent(&link, &enter);
  EXPECT_TRUE(link.IsHovering());
  EXPECT_FALSE(link.font().underline());
  EXPECT_EQ(link.CurrentColour(), QColor(0, 0, 255));
}

TEST(OptionsDlgTest, ReReadsTheSettingsWhenOpened) {
  UiTestScope scope;
  CRSSReaderSettingsManager settings;
  settings.LoadSave(true);
  EXPECT_TRUE(settings.Setting(setting::kConfirmExit));
  // Changed outside the program while it runs.
  UiTestScope::Store(QStringLiteral("Settings"), QStringLiteral("ConfirmExit"), 0);
  UiTestScope::Store(QStringLiteral("Settings"), QStringLiteral("MinimizeToSysTray"), 0);
  COptionsDlg dlg(settings);
  dlg.show();
  EXPECT_FALSE(dlg.ConfirmBox()->isChecked());
  EXPECT_FALSE(dlg.MinimizeBox()->isChecked());
  EXPECT_TRUE(dlg.CloseBox()->isChecked());
  EXPECT_FALSE(settings.Setting(setting::kConfirmExit));
}

TEST(OptionsDlgTest, OkWritesAllFourValuesAndCancelNothing) {
  UiTestScope scope;
  CRSSReaderSettingsManager settings;
  settings.LoadSave(true);
  settings.m_settings.WriteBool(setting::kFirstRun, false);
  UiTestScope::ClearSettings();
  {
    COptionsDlg dlg(settings);
    dlg.show();
    dlg.CloseBox()->setChecked(false);
    dlg.reject();
    EXPECT_FALSE(UiTestScope::Stored(QStringLiteral("Settings"), QStringLiteral("CloseToSysTray")).isValid());
  }
  // The empty file reads as all true, but FirstRun keeps its in-memory value.
  COptionsDlg dlg(settings);
  dlg.show();
  dlg.CloseBox()->setChecked(false);
  dlg.accept();
  EXPECT_EQ(UiTestScope::Stored(QStringLiteral("Settings"), QStringLiteral("MinimizeToSysTray")).toInt(), 1);
  EXPECT_EQ(UiTestScope::Stored(QStringLiteral("Settings"), QStringLiteral("CloseToSysTray")).toInt(), 0);
  EXPECT_EQ(UiTestScope::Stored(QStringLiteral("Settings"), QStringLiteral("ConfirmExit")).toInt(), 1);
  EXPECT_EQ(UiTestScope::Stored(QStringLiteral("Settings"), QStringLiteral("FirstRun")).toInt(), 1);
  EXPECT_FALSE(settings.Setting(setting::kCloseToSysTray));
}

// What the dialog shows for the days it is given, and what OK gives back
// after the user's change: the setting's round trip through the dialog.
TEST(OptionsDlgTest, RetentionRoundTrip) {
  UiTestScope scope;
  CRSSReaderSettingsManager settings;
  settings.LoadSave(true);
  struct Case {
    int given;
    bool checked;   // as shown
    int shownDays;  // as shown
    std::optional<int> typedDays;  // the user's change: check the box and type this; none: uncheck
    int accepted;
  };
  const Case cases[] = {
      {0, false, COptionsDlg::kDefaultRetentionDays, 45, 45},
      {45, true, 45, std::nullopt, 0},
      {90, true, 90, 7, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    COptionsDlg dlg(settings);
    dlg.m_nRetentionDays = c.given;
    dlg.show();
    EXPECT_EQ(dlg.RetentionBox()->isChecked(), c.checked);
    EXPECT_EQ(dlg.RetentionDaysBox()->isEnabled(), c.checked);
    EXPECT_EQ(dlg.RetentionDaysBox()->value(), c.shownDays);
    if (c.typedDays) {
      if (!dlg.RetentionBox()->isChecked()) dlg.RetentionBox()->click();
      ASSERT_TRUE(dlg.RetentionDaysBox()->isEnabled());
      dlg.RetentionDaysBox()->selectAll();
      QTest::keyClicks(dlg.RetentionDaysBox(), QString::number(*c.typedDays));
    } else {
      dlg.RetentionBox()->setChecked(false);
    }
    dlg.accept();
    EXPECT_EQ(dlg.m_nRetentionDays, c.accepted);
  }
  COptionsDlg cancelled(settings);
  cancelled.m_nRetentionDays = 10;
  cancelled.show();
  cancelled.RetentionBox()->setChecked(false);
  cancelled.reject();
  EXPECT_EQ(cancelled.m_nRetentionDays, 10);
}

TEST(FeedPropertiesDlgTest, RetentionFollowsOptionsNeverOrOwnDays) {
  UiTestScope scope;
  struct Case {
    int given;
    int shown;  // 0: as in Options, 1: never, 2: own days
    int choose;
    int days;
    int accepted;
  };
  const Case cases[] = {
      {0, 0, 2, 14, 14}, {-1, 1, 0, 0, 0}, {21, 2, 1, 0, -1}, {21, 2, 2, 0, 21}, {0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    CFeedPropertiesDlg dlg(scope);
    dlg.m_strUrl = QStringLiteral("http://d.example/rss");
    dlg.m_nRefreshRate = 30;
    dlg.m_nRetentionDays = c.given;
    dlg.show();
    QRadioButton* buttons[] = {dlg.RetentionAsOptionsButton(), dlg.RetentionNeverButton(),
                               dlg.RetentionDaysButton()};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(buttons[i]->isChecked(), i == c.shown) << i;
    EXPECT_EQ(dlg.RetentionDaysBox()->isEnabled(), c.shown == 2);
    if (c.given > 0) {
      EXPECT_EQ(dlg.RetentionDaysBox()->value(), c.given);
    }
    buttons[c.choose]->click();
    if (c.days > 0) dlg.RetentionDaysBox()->setValue(c.days);
    dlg.accept();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.m_nRetentionDays, c.accepted);
  }
}

TEST(ConfirmExitDlgTest, YesNoAndDontAskAgain) {
  UiTestScope scope;
  {
    CConfirmExitDlg dlg;
    dlg.show();
    dlg.DontAskBox()->setChecked(true);
    QTest::mouseClick(dlg.YesButton(), Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.m_bDontAskAgain, 1);
    EXPECT_TRUE(dlg.YesButton()->isDefault());
  }
  {
    CConfirmExitDlg dlg;
    dlg.show();
    QTest::mouseClick(dlg.NoButton(), Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(dlg.m_bDontAskAgain, 0);
  }
}

TEST(AddGroupDlgTest, ReturnsTheTypedNameAndAsksForOneWhenEmpty) {
  UiTestScope scope;
  CAddGroupDlg dlg(scope);
  dlg.show();
  EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Add New Group"));
  for (const QString& typed : {QString(), QStringLiteral("   ")}) {
    dlg.NameEdit()->setText(typed);
    QTest::keyClick(dlg.NameEdit(), Qt::Key_Return);
    EXPECT_TRUE(dlg.isVisible()) << "an empty name is no group";
    ASSERT_FALSE(scope.messages.empty());
    EXPECT_EQ(scope.messages.back().icon, MsgIcon::Warning);
    EXPECT_EQ(scope.messages.back().text, QStringLiteral("Please enter a name for the new group."));
  }
  EXPECT_EQ(scope.messages.size(), 2u);
  dlg.NameEdit()->clear();
  QTest::keyClicks(dlg.NameEdit(), QStringLiteral("Science"));
  QTest::keyClick(dlg.NameEdit(), Qt::Key_Return);
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(dlg.m_strName, QStringLiteral("Science"));
}

// The version is the command line's, and the address stays on one line.
TEST(AboutDlgTest, TheProgramsVersionAndALinkOnOneLineThatOpensItsText) {
  UiTestScope scope;
  CAboutDlg dlg(scope);
  dlg.show();
  dlg.Link()->FollowLink();
  ASSERT_EQ(scope.opened.size(), 1u);
  EXPECT_EQ(scope.opened[0], dlg.Link()->text());
  QStringList texts;
  for (const QLabel* label : dlg.findChildren<QLabel*>()) texts << label->text();
  EXPECT_TRUE(texts.contains(QStringLiteral("Quillbend " QB_VERSION))) << texts.join(u'|').toStdString();
  EXPECT_LT(dlg.Link()->height(), 2 * dlg.Link()->fontMetrics().lineSpacing());
}

// Whether the style is told to draw `widget`'s focus frame: the focus and a
// window whose focus counts as moved by the keyboard.
bool FocusFrameDrawn(QWidget* widget) {
  QStyleOption option;
  option.initFrom(widget);
  return option.state.testFlag(QStyle::State_HasFocus) &&
         option.state.testFlag(QStyle::State_KeyboardFocusChange);
}

// Each dialog opens with the focus on the field it is for, and its frame
// shows before any key is pressed; a main window keeps the style's rule.
TEST(DialogFocusTest, EachDialogOpensWithItsFieldFocusedAndShown) {
  UiTestScope scope;
  ShowFocusInDialogs();
  ShowFocusInDialogs();  // once is enough, twice changes nothing
  CRSSReaderSettingsManager settings;
  SubscribedModel m({});
  CAddNewFeedDlg addFeed(scope, m.model, m.group, test::NewSearch());
  CFeedPropertiesDlg properties(scope);
  properties.m_nRefreshRate = 30;
  COptionsDlg options(settings);
  CAddGroupDlg addGroup(scope);
  CConfirmExitDlg confirm;
  QMessageBox box(QMessageBox::Question, QStringLiteral("Quillbend"), QStringLiteral("Sure?"),
                  QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::Yes);
  struct Case {
    QDialog* dialog;
    std::function<QWidget*()> field;
  };
  const Case cases[] = {
      {&addFeed, [&] { return addFeed.UrlEdit(); }},
      {&properties, [&] { return properties.RateEdit(); }},
      {&options, [&] { return options.MinimizeBox(); }},
      {&addGroup, [&] { return addGroup.NameEdit(); }},
      {&confirm, [&] { return confirm.DontAskBox(); }},
      {&box, [&] { return box.button(QMessageBox::Yes); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog->metaObject()->className());
    c.dialog->show();
    c.dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(c.dialog));
    EXPECT_EQ(QApplication::focusWidget(), c.field());
    EXPECT_TRUE(FocusFrameDrawn(c.field()));
    c.dialog->hide();
  }
  QWidget window;
  auto* edit = new QLineEdit(&window);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  edit->setFocus(Qt::MouseFocusReason);
  ASSERT_TRUE(edit->hasFocus());
  EXPECT_FALSE(FocusFrameDrawn(edit)) << "no frame after a click outside dialogs";
}

// Every dialog is a dialog to the window manager: a title and a close
// button, no minimise or maximise; its buttons sit in a button box, so they
// come in the platform's order, with the default where it belongs.
TEST(DialogFlagsTest, TitleCloseAndPlatformButtons) {
  UiTestScope scope;
  CRSSReaderSettingsManager settings;
  SubscribedModel m({});
  CAddNewFeedDlg addFeed(scope, m.model, m.group, test::NewSearch());
  CFeedPropertiesDlg properties(scope);
  COptionsDlg options(settings);
  CConfirmExitDlg confirm;
  CAboutDlg about(scope);
  CAddGroupDlg addGroup(scope);
  using Role = QDialogButtonBox::ButtonRole;
  struct Case {
    QDialog* dialog;
    Role accept;
    Role reject;  // InvalidRole: none
  };
  const Case cases[] = {
      {&addFeed, Role::AcceptRole, Role::RejectRole}, {&properties, Role::AcceptRole, Role::RejectRole},
      {&options, Role::AcceptRole, Role::RejectRole}, {&confirm, Role::YesRole, Role::NoRole},
      {&about, Role::AcceptRole, Role::InvalidRole},  {&addGroup, Role::AcceptRole, Role::RejectRole},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dialog->metaObject()->className());
    const Qt::WindowFlags flags = c.dialog->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog);
    EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    c.dialog->show();
    EXPECT_EQ(c.dialog->minimumSize(), c.dialog->maximumSize());
    auto* box = c.dialog->findChild<QDialogButtonBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->orientation(), Qt::Horizontal);
    std::vector<Role> roles;
    for (QAbstractButton* b : box->buttons()) roles.push_back(box->buttonRole(b));
    ASSERT_EQ(roles.size(), c.reject == Role::InvalidRole ? 1u : 2u);
    for (QAbstractButton* b : box->buttons()) {
      auto* push = qobject_cast<QPushButton*>(b);
      ASSERT_NE(push, nullptr);
      EXPECT_EQ(push->isDefault(), box->buttonRole(b) == c.accept);
      EXPECT_TRUE(box->buttonRole(b) == c.accept || box->buttonRole(b) == c.reject);
    }
  }
}

}  // namespace
}  // namespace qb
