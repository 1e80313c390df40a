// A small window with one focused text field, for the keyboard tests. It writes what it sees
// into the folder given as its argument:
//   text   the field's whole text (replaced atomically on every change)
//   keys   one line per key press it receives: "<Qt key> <Qt modifiers>"
//   ready  created once the field has the keyboard focus
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSaveFile>
#include <QTimer>

namespace {

class KeyLog : public QObject {
  public:
    explicit KeyLog(const QString& path) : file_(path) {
        file_.open(QIODevice::WriteOnly | QIODevice::Append);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
            const auto* key = static_cast<QKeyEvent*>(event);
            file_.write(QByteArray::number(key->key()) + ' ' +
                        QByteArray::number(key->modifiers().toInt()) + '\n');
            file_.flush();
        }
        return false;
    }

  private:
    QFile file_;
};

void writeText(const QString& path, const QString& text) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(text.toUtf8());
        file.commit();
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QDir folder(QString::fromLocal8Bit(argv[1]));

    KeyLog keyLog(folder.filePath("keys"));
    app.installEventFilter(&keyLog);

    QLineEdit field;
    field.setWindowTitle("quenda-test-window " + folder.dirName());
    field.resize(400, 40);
    QObject::connect(&field, &QLineEdit::textChanged,
                     [&](const QString& text) { writeText(folder.filePath("text"), text); });
    writeText(folder.filePath("text"), {});
    field.show();
    field.activateWindow();
    field.setFocus();

    // Without a window manager the focus arrives a little after showing; report it once it
    // is really there.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (field.hasFocus() && field.isActiveWindow()) {
            writeText(folder.filePath("ready"), QString::number(field.winId()));
            poll.stop();
        } else {
            field.activateWindow();
        }
    });
    poll.start(20);
    return app.exec();
}
