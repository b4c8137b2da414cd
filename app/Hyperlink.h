// A text label that draws itself as a link (dark blue; blue and underlined
// while the mouse is over it; both lightened as far as a dark background
// needs to read them) and opens its target with the desktop when clicked.
#pragma once

#include <QColor>
#include <QLabel>
#include <QString>
#include <QUrl>

namespace qb {

class IDesktop;

// A link target (URL, mailto: address or local path) as the URL handed to
// the desktop: a path or an address without a scheme is made into a URL.
QUrl LinkTargetUrl(const QString& target);

class CHyperlink : public QLabel {
  Q_OBJECT
 public:
  enum class HAlign { Left = 0, Centre = 1, Right = 2 };
  // 1 means "never underline"; every other style underlines while hovered.
  static constexpr int kHoverNoUnderline = 1;

  static inline const QColor kNormalColour{0, 0, 128};
  static inline const QColor kHoverColour{0, 0, 255};

  CHyperlink(IDesktop& desktop, const QString& text, QWidget* parent = nullptr);

  void SetLinkTarget(const QString& target);
  const QString& LinkTarget() const { return m_target; }
  void SetHoverStyle(int style);
  void SetHAlign(HAlign align);
  void SetWordWrap(bool wrap);

  bool IsHovering() const { return m_hover; }
  // The colour and underline the text is drawn with right now.
  QColor CurrentColour() const;
  bool IsUnderlined() const { return m_hover && m_hoverStyle != kHoverNoUnderline; }

  // What a click opens: the target, or else the text, with "mailto:" put in
  // front of a text that holds "@" and does not already start with it.
  QString ResolvedTarget() const;

  void OnRightClickLink() {}
  // Opens the resolved target; a failure is not reported.
  void FollowLink();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  // A new background (a dark appearance chosen) gets readable colours.
  void changeEvent(QEvent* event) override;

 private:
  void SetHover(bool hover);
  void ApplyLook();

  IDesktop& m_desktop;
  QString m_target;
  int m_hoverStyle = 2;
  HAlign m_align = HAlign::Centre;
  bool m_hover = false;
};

}  // namespace qb
