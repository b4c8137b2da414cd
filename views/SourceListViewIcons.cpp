// The sources' icons and tooltips: a source whose last update failed shows
// the style's warning mark, with the reason in its tooltip; otherwise its
// site's icon once that has arrived, else the standard source icon. Both
// follow every refresh of the tree, so they change as sources are applied.
// An account whose last sync failed shows the same mark, with the reason.
#include <QStyle>

#include "model/FeedsManager.h"
#include "views/SiteIcons.h"
#include "views/SourceListView.h"
#include "views/ViewText.h"

namespace qb {

QIcon CSourceListView::FailureIcon() {
  if (m_failureIcon.isNull()) m_failureIcon = style()->standardIcon(QStyle::SP_MessageBoxWarning);
  return m_failureIcon;
}

void CSourceListView::SetSiteIcons(ISiteIcons* icons) {
  if (m_siteIcons != nullptr) disconnect(m_siteIcons, nullptr, this, nullptr);
  m_siteIcons = icons;
  if (icons != nullptr)
    connect(icons, &ISiteIcons::iconsArrived, this, &CSourceListView::UpdateAllDecorations);
  UpdateAllDecorations();
}

void CSourceListView::SetAccountProblems(AccountProblemLookup problems) {
  m_accountProblems = std::move(problems);
  UpdateAllDecorations();
}

void CSourceListView::UpdateAllDecorations() {
  for (QTreeWidgetItemIterator it(this); *it != nullptr; ++it) {
    const NodeKind kind = KindOf(*it);
    if (kind == NodeKind::Source || kind == NodeKind::Group) UpdateDecoration(*it);
  }
}

void CSourceListView::UpdateDecoration(QTreeWidgetItem* item) {
  const ObjectId id = IdOf(item);
  if (const CGroup* group = Model().GetGroup(id)) {
    if (!group->m_account && item->toolTip(0).isEmpty()) return;  // a plain group keeps its icon
    if (m_groupIcon.isNull()) m_groupIcon = QIcon(QStringLiteral(":/icons/group.png"));
    const std::u16string problem = group->m_account && m_accountProblems ? m_accountProblems(id) : std::u16string();
    const QIcon icon = problem.empty() ? m_groupIcon : FailureIcon();
    const QString tip = problem.empty() ? QString() : QStringLiteral("The last sync failed: ") + ToQString(problem);
    if (item->icon(0).cacheKey() != icon.cacheKey()) item->setIcon(0, icon);
    if (item->toolTip(0) != tip) item->setToolTip(0, tip);
    return;
  }
  const CFeedSource* source = Model().GetFeedSource(id);
  if (source == nullptr) return;
  if (m_sourceIcon.isNull()) m_sourceIcon = QIcon(QStringLiteral(":/icons/source.png"));
  const SourceUpdateState state = m_sourceStates ? m_sourceStates(id) : SourceUpdateState{};
  QIcon icon;
  QString tip;
  if (!state.failure.empty()) {
    icon = FailureIcon();
    tip = QStringLiteral("The last update failed: ") + ToQString(state.failure);
  } else if (m_siteIcons != nullptr) {
    icon = m_siteIcons->SiteIcon(source->m_url);
  }
  if (icon.isNull()) icon = m_sourceIcon;
  // Setting an icon repaints the item: only a different one is set.
  if (item->icon(0).cacheKey() != icon.cacheKey()) item->setIcon(0, icon);
  if (item->toolTip(0) != tip) item->setToolTip(0, tip);
}

}  // namespace qb
