// A small window with one focused text field, for the keyboard tests. It writes what it sees
// into the folder given as its argument, each file replaced atomically:
//   text   the field's whole text
//   keys   one line per key press it receives: "<Qt key> <Qt modifiers>"
//   ready  created once the field has the keyboard focus
#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSaveFile>
#include <QTimer>

namespace {

class Field : public QLineEdit {
  public:
    explicit Field(const QString& folder) : folder_(folder) {
        connect(this, &QLineEdit::textChanged,
                [this](const QString& text) { save("text", text.toUtf8()); });
    }
    void save(const QString& name, const QByteArray& bytes) {
        QSaveFile file(folder_.filePath(name));
        if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
            file.commit();
    }

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        keys_ += QByteArray::number(event->key()) + ' ' +
                 QByteArray::number(event->modifiers().toInt()) + '\n';
        save("keys", keys_);
        QLineEdit::keyPressEvent(event);
    }

  private:
    QDir folder_;
    QByteArray keys_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    Field field(QString::fromLocal8Bit(argv[1]));
    field.setWindowTitle("quenda-test-window");
    field.resize(400, 40);
    field.show();
    field.setFocus();
    // Without a window manager the focus arrives a little after showing; report it once it
    // is really there.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (field.hasFocus() && field.isActiveWindow()) {
            field.save("ready", {});
            poll.stop();
        } else {
            field.activateWindow();
        }
    });
    poll.start(20);
    return app.exec();
}
