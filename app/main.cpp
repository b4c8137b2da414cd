#include <QApplication>

#include "app/CoreBridge.h"
#include "app/RSSReaderApp.h"
#include "views/Desktop.h"

int main(int argc, char** argv) {
  // The article view's web engine shares the OpenGL contexts of the widgets.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication application(argc, argv);
  int status = 1;
  {
    qb::CDesktop desktop;
    qb::CDataFileIo dataFile;
    qb::CCoreUpdater updater;
    qb::CRSSReaderApp app({desktop, dataFile, updater});
    if (app.InitInstance(QApplication::arguments().mid(1))) status = QApplication::exec();
  }
  return status;
}
