// The smallest Qt Widgets program with a window: the yardstick that the start-up
// benchmark sets Tempo calculator against.
#include <QApplication>
#include <QPushButton>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QPushButton button(QStringLiteral("Hello"));
    button.show();
    return app.exec();
}
