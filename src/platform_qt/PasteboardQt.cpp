#include "platform_qt/PasteboardQt.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace quenda {

void PasteboardQt::setString(const std::string& text) {
    // New mime data with plain text only replaces every format the clipboard held before.
    auto* data = new QMimeData;
    data->setText(QString::fromStdString(text));
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}

std::optional<std::string> PasteboardQt::string() const {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text().toStdString();
}

}  // namespace quenda
