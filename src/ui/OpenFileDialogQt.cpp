#include "ui/OpenFileDialogQt.h"

#include <QFileDialog>
#include <QStringList>

#include "ui/Style.h"

namespace quenda::ui {

std::optional<std::filesystem::path> OpenFileDialogQt::chooseAudioFile(
    std::span<const std::string_view> extensions) {
    QStringList patterns;
    for (auto extension : extensions)
        patterns << QStringLiteral("*.") +
                        QString::fromLatin1(extension.data(),
                                            static_cast<qsizetype>(extension.size()));
    const QString file = QFileDialog::getOpenFileName(parent_, l10n("btn.transcribe"), QString(),
                                                      patterns.join(QLatin1Char(' ')));
    if (file.isEmpty())
        return std::nullopt;
    return std::filesystem::path(file.toStdString());
}

}  // namespace quenda::ui
