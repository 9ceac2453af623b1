#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLabel label("Pellory is starting");
    label.setWindowTitle("Pellory");
    label.show();
    return app.exec();
}
