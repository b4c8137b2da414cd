// A text label that draws itself as a link (dark blue; blue and underlined
// while the mouse is over it) and opens its target with the desktop when
// clicked.
#pragma once

#include <QColor>
#include <QLabel>
#include <QString>
#include <functional>

namespace qb {

// Opens a link target (URL, mailto: address or local file). The default opens
// it through QDesktopServices; tests replace it. An empty function restores
// the default. Failures are not reported.
using LinkOpener = std::function<void(const QString& target)>;
void SetLinkOpener(LinkOpener opener);
void OpenLinkTarget(const QString& target);

class CHyperlink : public QLabel {
  Q_OBJECT
 public:
  enum class HAlign { Left = 0, Centre = 1, Right = 2 };
  // 1 means "never underline"; every other style underlines while hovered.
  static constexpr int kHoverNoUnderline = 1;

  static inline const QColor kNormalColour{0, 0, 128};
  static inline const QColor kHoverColour{0, 0, 255};

  explicit CHyperlink(const QString& text = QString(), QWidget* parent = nullptr);

  void SetLinkTarget(const QString& target);
  const QString& LinkTarget() const { return m_target; }
  void SetHoverStyle(int style);
  void SetHAlign(HAlign align);
  void SetWordWrap(bool wrap);

  bool IsHovering() const { return m_hover; }
  // The colour and underline the text is drawn with right now.
  QColor CurrentColour() const { return m_hover ? kHoverColour : kNormalColour; }
  bool IsUnderlined() const { return m_hover && m_hoverStyle != kHoverNoUnderline; }

  // What a click opens: the target, or else the text, with "mailto:" put in
  // front of a text that holds "@" and does not already start with it.
  QString ResolvedTarget() const;

  virtual void OnRightClickLink() {}
  virtual void FollowLink();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void SetHover(bool hover);
  void ApplyLook();

  QString m_target;
  int m_hoverStyle = 2;
  HAlign m_align = HAlign::Centre;
  bool m_hover = false;
};

}  // namespace qb
