#include "ui/application.h"

#include "ui/app_font.h"

#include "platform/cp932.h"
#include "texts/texts.h"
#include "ui/ui_text.h"

#include <QMessageBox>

#include <cstdlib>
#include <exception>

application_detail::EventDispatcherChoice::EventDispatcherChoice() {
    ::setenv("QT_NO_GLIB", "1", 0);
}

BoxsweeperApplication::BoxsweeperApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Boxsweeper"));
    setApplicationDisplayName(QString());
    setFont(AppFont());
}

bool BoxsweeperApplication::notify(QObject* receiver, QEvent* event) {
    QString what;
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        what = QString::fromStdString(Cp932ToUtf8(e.what()));  // texts are Shift_JIS like all others
    } catch (...) {
        what = Text(texts::kUnknownError);
    }
    ++caught_;
    QMessageBox box(QMessageBox::Critical, Text(texts::kProgramName), what, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.setTextFormat(Qt::PlainText);  // an error's text may be a server's words
    box.exec();
    return false;
}
