#include "app/Hyperlink.h"

#include <QEnterEvent>
#include <QMouseEvent>

#include "views/ArticlePage.h"
#include "views/Desktop.h"

namespace qb {

QUrl LinkTargetUrl(const QString& target) {
  QUrl url(target);
  // A one-letter scheme is a drive letter, not a scheme.
  if (url.scheme().isEmpty() || url.scheme().size() == 1) url = QUrl::fromUserInput(target);
  return url;
}

CHyperlink::CHyperlink(IDesktop& desktop, const QString& text, QWidget* parent)
    : QLabel(text, parent), m_desktop(desktop) {
  setCursor(Qt::PointingHandCursor);
  setTextFormat(Qt::PlainText);
  setWordWrap(true);
  setMouseTracking(true);
  ApplyLook();
}

void CHyperlink::SetLinkTarget(const QString& target) {
  m_target = target;
  update();
}

void CHyperlink::SetHoverStyle(int style) {
  m_hoverStyle = style;
  ApplyLook();
}

void CHyperlink::SetHAlign(HAlign align) {
  m_align = align;
  ApplyLook();
}

void CHyperlink::SetWordWrap(bool wrap) { setWordWrap(wrap); }

QString CHyperlink::ResolvedTarget() const {
  if (!m_target.isEmpty()) return m_target;
  const QString label = text();
  if (!label.isEmpty() && label.contains(u'@') &&
      !label.startsWith(QLatin1String("mailto:"), Qt::CaseSensitive)) {
    return QStringLiteral("mailto:") + label;
  }
  return label;
}

void CHyperlink::FollowLink() { m_desktop.OpenUrl(LinkTargetUrl(ResolvedTarget())); }

void CHyperlink::enterEvent(QEnterEvent* event) {
  SetHover(true);
  QLabel::enterEvent(event);
}

void CHyperlink::leaveEvent(QEvent* event) {
  SetHover(false);
  QLabel::leaveEvent(event);
}

void CHyperlink::mouseMoveEvent(QMouseEvent* event) {
  SetHover(rect().contains(event->position().toPoint()));
  QLabel::mouseMoveEvent(event);
}

void CHyperlink::mousePressEvent(QMouseEvent* event) {
  if (m_hover || rect().contains(event->position().toPoint())) {
    if (event->button() == Qt::LeftButton) {
      SetHover(false);
      FollowLink();
    } else if (event->button() == Qt::RightButton) {
      SetHover(false);
      OnRightClickLink();
    }
  }
  QLabel::mousePressEvent(event);
}

QColor CHyperlink::CurrentColour() const {
  return ReadableOn(m_hover ? kHoverColour : kNormalColour, palette().color(QPalette::Window));
}

void CHyperlink::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::PaletteChange && palette().color(QPalette::WindowText) != CurrentColour()) {
    ApplyLook();
  }
}

void CHyperlink::SetHover(bool hover) {
  if (hover == m_hover) return;
  m_hover = hover;
  ApplyLook();
}

void CHyperlink::ApplyLook() {
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, CurrentColour());
  setPalette(pal);
  QFont f = font();
  f.setUnderline(IsUnderlined());
  setFont(f);
  Qt::Alignment h = Qt::AlignHCenter;
  if (m_align == HAlign::Left) h = Qt::AlignLeft;
  if (m_align == HAlign::Right) h = Qt::AlignRight;
  setAlignment(h | Qt::AlignTop);
  update();
}

}  // namespace qb
