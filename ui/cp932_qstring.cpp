#include "ui/cp932_qstring.h"

#include "platform/cp932.h"

#include <QList>

QString FromCp932(std::string_view bytes) {
    return QString::fromStdString(Cp932ToUtf8(bytes));
}

std::string ToCp932(const QString& text) {
    return Utf8ToCp932(text.toStdString());
}

bool IsCp932Storable(const QString& text) {
    for (const char32_t cp : text.toUcs4()) {
        if (cp < 0x20 || cp == 0x7F) {
            return false;
        }
        if (cp < 0x80) {
            continue;
        }
        // The converter writes '?' for what CP932 cannot hold.
        if (ToCp932(QString::fromUcs4(&cp, 1)) == "?") {
            return false;
        }
    }
    return true;
}
