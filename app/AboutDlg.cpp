#include "app/AboutDlg.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "app/Hyperlink.h"
#include "views/Desktop.h"

namespace qb {

CAboutDlg::CAboutDlg(IDesktop& desktop, QWidget* parent) : QDialog(parent, kDialogWindowFlags) {
  setWindowTitle(QStringLiteral("About Quillbend"));
  auto* layout = new QGridLayout(this);
  // A dialog keeps the size its controls need: nothing to resize or maximise.
  layout->setSizeConstraint(QLayout::SetFixedSize);
  auto* icon = new QLabel(this);
  icon->setPixmap(QApplication::windowIcon().pixmap(32));
  layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  // The version the program gives on its command line.
  auto* name = new QLabel(QStringLiteral("Quillbend " QB_VERSION), this);
  name->setTextFormat(Qt::PlainText);
  layout->addWidget(name, 0, 1, 1, 2);
  layout->addWidget(new QLabel(QStringLiteral("A feed reader"), this), 1, 1);
  // No target of its own: a click opens the text it shows.
  m_link = new CHyperlink(desktop, QString::fromLatin1(kHomePage), this);
  m_link->SetHAlign(CHyperlink::HAlign::Right);
  m_link->SetHoverStyle(0);
  // An address broken over two lines reads as two.
  m_link->SetWordWrap(false);
  layout->addWidget(m_link, 1, 2);

  auto* picture = new QLabel(this);
  picture->setMinimumSize(480, 120);
  picture->setAlignment(Qt::AlignCenter);
  picture->setText(QStringLiteral("Read the web's news in one place."));
  picture->setFrameShape(QFrame::StyledPanel);
  layout->addWidget(picture, 2, 0, 1, 3);
  auto* buttons = new QDialogButtonBox(Qt::Horizontal, this);
  buttons->addButton(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons, 3, 0, 1, 3);
}

}  // namespace qb
