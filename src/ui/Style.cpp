#include "ui/Style.h"

namespace quenda::ui::style {

void caption(QLabel& label, bool dim) {
    QFont font = label.font();
    font.setPointSizeF(font.pointSizeF() * 0.88);
    label.setFont(font);
    label.setWordWrap(true);
    if (dim)
        label.setForegroundRole(QPalette::PlaceholderText);
}

void headline(QLabel& label) {
    QFont font = label.font();
    font.setBold(true);
    label.setFont(font);
}

QString roundedPanel(const char* objectName, const char* rgba, int radius) {
    return QStringLiteral("#%1 { background: %2; border-radius: %3px; }")
        .arg(QLatin1String(objectName), QLatin1String(rgba))
        .arg(radius);
}

}  // namespace quenda::ui::style
