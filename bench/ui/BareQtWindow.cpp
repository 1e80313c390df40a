// The bare alternative the window's start-up is compared with: a Qt Widgets window with one
// line of text, started the same way.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QLabel window(QStringLiteral("Arraste o áudio aqui ou clique para escolher"));
    window.setWindowTitle(QStringLiteral("bare-qt-window"));
    window.resize(480, 760);
    window.show();
    return QApplication::exec();
}
