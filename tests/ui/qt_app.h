#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

// One QApplication for the whole test program, made on first use; it lives
// until the process ends. Without a display the offscreen platform is used.
inline void EnsureQtApplication()
{
    if (QApplication::instance()) {
        return;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static int argc = 1;
    static char name[] = "test_ui";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

// While alive, answers every message box that becomes the active modal
// window with OK and records what it showed.
class MessageBoxAnswerer {
public:
    struct Box {
        QString caption, text;
        int buttons = 0;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        friend bool operator==(const Box&, const Box&) = default;
    };

    MessageBoxAnswerer()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) {
                return;
            }
            boxes.push_back({box->windowTitle(), box->text(), static_cast<int>(box->buttons().size()), box->icon()});
            box->done(QMessageBox::Ok);
        });
        timer_.start(5);
    }

    std::vector<Box> boxes;

private:
    QTimer timer_;
};
