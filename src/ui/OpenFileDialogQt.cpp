#include "ui/OpenFileDialogQt.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
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
    if (folder_.isEmpty())
        folder_ = QDir::homePath();
    const QString file = QFileDialog::getOpenFileName(parent_, l10n("btn.transcribe"), folder_,
                                                      patterns.join(QLatin1Char(' ')));
    if (file.isEmpty())
        return std::nullopt;
    folder_ = QFileInfo(file).absolutePath();
    return std::filesystem::path(file.toStdString());
}

}  // namespace quenda::ui
