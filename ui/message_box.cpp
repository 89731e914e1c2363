#include "ui/message_box.h"

#include <QMessageBox>

void ShowMessageBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Boxsweeper"), text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);  // texts carry servers' words: never markup or links
    box.exec();
}
