#include "app/AddNewFeedDlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/DialogButtons.h"
#include "app/PickFeedDlg.h"
#include "base/WebAddress.h"
#include "model/FeedsManager.h"
#include "views/Desktop.h"
#include "views/ViewText.h"

namespace qb {

namespace {
const QString kTitle = QStringLiteral("Add New Feed");
}

CAddNewFeedDlg::CAddNewFeedDlg(IDesktop& desktop, const CFeedsManager& model, ObjectId group,
                               std::unique_ptr<CFeedDiscovery> discovery, QWidget* parent)
    : QDialog(parent, kDialogWindowFlags),
      m_desktop(desktop),
      m_model(model),
      m_group(group),
      m_discovery(std::move(discovery)) {
  setWindowTitle(kTitle);
  auto* layout = new QGridLayout(this);
  // A dialog keeps the size its controls need: nothing to resize or maximise.
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addWidget(new QLabel(QStringLiteral("URL of the new feed: "), this), 0, 0);
  m_urlEdit = new QLineEdit(this);
  m_urlEdit->setMinimumWidth(480);
  m_urlEdit->setPlaceholderText(QStringLiteral("The address of a feed or of a web site"));
  layout->addWidget(m_urlEdit, 1, 0);
  // Keeps its height while empty, so the dialog does not jump when a search
  // starts.
  m_busyLabel = new QLabel(this);
  m_busyLabel->setMinimumHeight(m_busyLabel->fontMetrics().height());
  layout->addWidget(m_busyLabel, 2, 0);
  QDialogButtonBox* buttons = NewOkCancelBox(this);
  m_okButton = buttons->button(QDialogButtonBox::Ok);
  layout->addWidget(buttons, 3, 0);
}

CAddNewFeedDlg::~CAddNewFeedDlg() {
  // Before the widgets go: after this no answer is delivered or running.
  m_discovery.reset();
}

void CAddNewFeedDlg::InitDialog() {
  m_initialised = true;
  m_urlEdit->setText(m_strUrl);
  setWindowTitle(m_strGroupName.isEmpty() ? kTitle
                                          : kTitle + QStringLiteral(" to '") + m_strGroupName + u'\'');
  m_urlEdit->setFocus();
}

void CAddNewFeedDlg::showEvent(QShowEvent* event) {
  if (!m_initialised) InitDialog();
  QDialog::showEvent(event);
}

void CAddNewFeedDlg::SetSearching(bool on) {
  m_searching = on;
  m_okButton->setEnabled(!on);
  m_urlEdit->setReadOnly(on);
  m_busyLabel->setText(on ? QStringLiteral("Looking for the feed...") : QString());
  if (on) {
    setCursor(Qt::BusyCursor);
  } else {
    unsetCursor();
  }
}

void CAddNewFeedDlg::Refuse(MsgIcon icon, const QString& message) {
  m_desktop.ShowMessage(this, icon, message);
  m_urlEdit->setFocus();
}

void CAddNewFeedDlg::accept() {
  if (m_searching) return;
  m_strUrl = m_urlEdit->text();
  const std::u16string cleaned = CFeedsManager::CleanUrl(ViewOf(m_strUrl));
  if (cleaned.empty()) return;
  const CheckedAddress checked = CheckFeedAddress(cleaned);
  if (!checked.ok()) {
    Refuse(MsgIcon::Warning, ToQString(AddressProblemText(checked.problem)));
    return;
  }
  // An address that is subscribed as typed needs no search.
  if (m_model.CheckNewSourceUrl(m_group, cleaned) == CFeedsManager::AddSourceStatus::Duplicate) {
    Refuse(MsgIcon::Information, ToQString(kDuplicateSourceMessage));
    return;
  }
  SetSearching(true);
  const uint64_t request = ++m_request;
  // The answer comes on this thread, from the event loop; the search (and
  // any answer still on its way) ends with the dialog.
  m_discovery->Start(cleaned, [this, request](const DiscoveryResult& result) {
    OnDiscovered(request, result);
  });
}

const DownloadResult* CAddNewFeedDlg::FetchedDocument() const {
  if (result() != QDialog::Accepted || !m_found.addressIsFeed || m_found.feeds.size() != 1 ||
      ToQString(m_found.feeds.front().url) != m_strUrl) {
    return nullptr;
  }
  return &m_found.document;
}

void CAddNewFeedDlg::reject() {
  if (m_searching) {
    m_discovery->Cancel();
    SetSearching(false);
    emit searchFinished();
  }
  QDialog::reject();
}

void CAddNewFeedDlg::OnDiscovered(uint64_t request, const DiscoveryResult& result) {
  if (!m_searching || request != m_request) return;
  SetSearching(false);
  m_found = DiscoveryResult{};
  if (result.status != DiscoveryStatus::kFound || result.feeds.empty()) {
    const QString message = result.message.empty() ? ToQString(kNoFeedFoundMessage)
                                                   : ToQString(result.message);
    Refuse(MsgIcon::Warning, message);
    emit searchFinished();
    return;
  }
  if (result.feeds.size() == 1) {
    m_found = result;
    Choose(result.feeds.front().url);
    emit searchFinished();
    return;
  }
  CPickFeedDlg pick(this);
  pick.m_feeds = result.feeds;
  const bool picked = m_desktop.RunDialog(pick) == QDialog::Accepted && pick.m_chosen >= 0 &&
                      pick.m_chosen < static_cast<int>(result.feeds.size());
  if (picked) {
    Choose(result.feeds[static_cast<size_t>(pick.m_chosen)].url);
  } else {
    // Back to the address, to try another or cancel.
    m_urlEdit->setFocus();
  }
  emit searchFinished();
}

void CAddNewFeedDlg::Choose(const std::u16string& url) {
  switch (m_model.CheckNewSourceUrl(m_group, url)) {
    case CFeedsManager::AddSourceStatus::EmptyUrl:
      m_urlEdit->setFocus();
      return;
    case CFeedsManager::AddSourceStatus::Duplicate:
      Refuse(MsgIcon::Information, ToQString(kDuplicateSourceMessage));
      return;
    case CFeedsManager::AddSourceStatus::Added:
    case CFeedsManager::AddSourceStatus::NotAGroup:
      break;
  }
  m_strUrl = ToQString(url);
  QDialog::accept();
}

}  // namespace qb
