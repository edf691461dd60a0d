#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Reelvault");
    QWidget window;
    window.setWindowTitle("Reelvault");
    window.show();
    return QApplication::exec();
}
