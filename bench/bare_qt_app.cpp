// The reference for the launcher's start-up cost: a Qt Widgets program that creates its application
// object, enters the event loop and quits at once.
#include <QApplication>
#include <QTimer>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QTimer::singleShot(0, &app, &QCoreApplication::quit);
  return QApplication::exec();
}
