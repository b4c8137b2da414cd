// "About Quillbend": name and version, and a link to the project's home page.
#pragma once

#include <QDialog>

namespace qb {

class CHyperlink;
class IDesktop;

inline constexpr char kHomePage[] = "https://quillbend.example/";

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(IDesktop& desktop, QWidget* parent = nullptr);
  CHyperlink* Link() const { return m_link; }

 private:
  CHyperlink* m_link = nullptr;
};

}  // namespace qb
