#include <QApplication>

#include "app/RSSReaderApp.h"

int main(int argc, char** argv) {
  // The article view's web engine shares the OpenGL contexts of the widgets.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication application(argc, argv);
  int status = 1;
  {
    qb::CRSSReaderApp app;
    if (app.InitInstance(QApplication::arguments().mid(1))) status = QApplication::exec();
  }
  return status;
}
