// "Add New Feed": asks for the address of a new feed source in a group. The
// caller sets the group name, runs the dialog and reads m_strUrl after it was
// accepted: the address of the feed to subscribe to. Nothing in the model
// changes here.
//
// The user may type the feed's own address, the address of a web page that
// announces its feeds, or either without "http://": OK checks the text
// (refused text gets a message at once and never touches the network), then
// looks for the feed in the background (CFeedDiscovery, on the program's
// download pool) while the dialog stays responsive, shows that it is
// looking and keeps OK disabled. When the address is the feed itself, the
// document the search fetched is kept for the first update. A page
// announcing several feeds lets the user pick one (CPickFeedDlg). When
// nothing usable is found the dialog says why and stays open with the text
// as typed. The duplicate test applies to the address finally chosen, as
// the model will take it (CFeedsManager::CheckNewSourceUrl).
#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>

#include "model/RSSObject.h"
#include "net/Discovery.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace qb {

class CFeedsManager;
class IDesktop;
enum class MsgIcon;

class CAddNewFeedDlg : public QDialog {
  Q_OBJECT
 public:
  // `discovery` runs the searches (IFeedUpdater::NewDiscovery).
  CAddNewFeedDlg(IDesktop& desktop, const CFeedsManager& model, ObjectId group,
                 std::unique_ptr<CFeedDiscovery> discovery, QWidget* parent = nullptr);
  // Abandons a search that is still running; its result is dropped.
  ~CAddNewFeedDlg() override;

  QString m_strUrl;
  QString m_strGroupName;

  // Shows the members in the controls; runs once, when first shown.
  void InitDialog();
  QLineEdit* UrlEdit() const { return m_urlEdit; }
  QLabel* BusyLabel() const { return m_busyLabel; }
  QPushButton* OkButton() const { return m_okButton; }
  // A search started by OK is running.
  bool Searching() const { return m_searching; }
  // After the dialog was accepted: the document the search fetched from
  // m_strUrl when that address is the feed itself (null when the search
  // read a page that announced it, or the text was changed since).
  const DownloadResult* FetchedDocument() const;

  // OK: an empty address (once cleaned) keeps the dialog open silently;
  // text that cannot be an address, or an address that is already
  // subscribed (exactly and case-sensitive, after the same cleaning), keeps
  // it open with a message. Otherwise the search starts; the dialog closes
  // when it has found the feed to subscribe to.
  void accept() override;
  // Cancel also abandons a running search.
  void reject() override;

 signals:
  // A search has ended, whatever its outcome.
  void searchFinished();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void SetSearching(bool on);
  void OnDiscovered(uint64_t request, const DiscoveryResult& result);
  // Accepts `url` unless it is already subscribed.
  void Choose(const std::u16string& url);
  void Refuse(MsgIcon icon, const QString& message);

  IDesktop& m_desktop;
  const CFeedsManager& m_model;
  ObjectId m_group;
  QLineEdit* m_urlEdit = nullptr;
  QLabel* m_busyLabel = nullptr;
  QPushButton* m_okButton = nullptr;
  bool m_initialised = false;
  bool m_searching = false;
  // Numbers the searches, so that a late answer to an abandoned one is
  // recognised and dropped.
  uint64_t m_request = 0;
  DiscoveryResult m_found;  // of the search that closed the dialog
  std::unique_ptr<CFeedDiscovery> m_discovery;
};

}  // namespace qb
