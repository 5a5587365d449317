// The application's entry point.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Pelliro");
  QApplication::setApplicationName("Vortely");
  QMainWindow window;
  window.setWindowTitle("Vortely");
  window.resize(1200, 730);
  window.show();
  return app.exec();
}
