#include "platform_qt/DefaultsQt.h"

#include <QSettings>
#include <QString>
#include <QVariant>

namespace quenda {

namespace {

QString qtKey(std::string_view key) {
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

std::optional<bool> booleanWord(const QVariant& value) {
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString word = value.toString();
        if (word == QLatin1String("true"))
            return true;
        if (word == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

}  // namespace

DefaultsQt::DefaultsQt()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                            QStringLiteral("Quenda"), QStringLiteral("Quenda"))) {}

DefaultsQt::DefaultsQt(const std::filesystem::path& file)
    : settings_(std::make_unique<QSettings>(QString::fromStdString(file.string()),
                                            QSettings::IniFormat)) {}

DefaultsQt::~DefaultsQt() = default;

std::optional<std::string> DefaultsQt::text(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const QVariant value = settings_->value(qtKey(key));
    // A boolean, in memory or as its word on disk, is no text.
    if (!value.isValid() || booleanWord(value))
        return std::nullopt;
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString().toStdString();
}

std::optional<bool> DefaultsQt::boolean(std::string_view key) const {
    std::lock_guard lock(mutex_);
    return booleanWord(settings_->value(qtKey(key)));
}

void DefaultsQt::setText(std::string_view key, std::string_view value) {
    std::lock_guard lock(mutex_);
    settings_->setValue(qtKey(key),
                        QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
    settings_->sync();
}

void DefaultsQt::setBoolean(std::string_view key, bool value) {
    std::lock_guard lock(mutex_);
    settings_->setValue(qtKey(key), value);
    settings_->sync();
}

void DefaultsQt::remove(std::string_view key) {
    std::lock_guard lock(mutex_);
    settings_->remove(qtKey(key));
    settings_->sync();
}

}  // namespace quenda
