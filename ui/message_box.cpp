#include "ui/message_box.h"

#include "texts/texts.h"
#include "ui/ui_text.h"

#include <QMessageBox>

void ShowMessageBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, Text(texts::kProgramName), text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);  // texts carry servers' words: never markup or links
    box.exec();
}
