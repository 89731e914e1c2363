#include "ui/app_font.h"

#include <QStringList>

QFont AppFont() {
    QFont font;
    font.setFamilies(QStringList{QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic")});
    font.setPointSize(9);
    return font;
}
