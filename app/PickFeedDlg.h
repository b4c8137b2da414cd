// "Choose a Feed": a web page announces several feeds and the user picks the
// one to subscribe to. The caller fills m_feeds, runs the dialog and reads
// m_chosen (an index into m_feeds) after it was accepted. The first feed is
// chosen until the user picks another, as the page lists its main feed first.
#pragma once

#include <QDialog>
#include <vector>

#include "net/Discovery.h"

class QTreeWidget;

namespace qb {

class CPickFeedDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CPickFeedDlg(QWidget* parent = nullptr);

  std::vector<DiscoveredFeed> m_feeds;
  int m_chosen = 0;

  // Shows the feeds (title and address, one row each); runs once, when
  // first shown.
  void InitDialog();
  QTreeWidget* FeedList() const { return m_list; }

  // OK takes the selected row; with none selected the dialog stays open.
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QTreeWidget* m_list = nullptr;
  bool m_initialised = false;
};

// The row's title: the page's name for the feed, else its address.
QString FeedChoiceTitle(const DiscoveredFeed& feed);

}  // namespace qb
