#pragma once

#include <QApplication>

// The application object: titled "Boxsweeper", the window font set, and an
// exception escaping any handler shown in an error box instead of ending
// the program.
class BoxsweeperApplication : public QApplication {
    Q_OBJECT
public:
    BoxsweeperApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // How many exceptions notify has caught (tests).
    int caughtExceptions() const { return caught_; }

private:
    int caught_ = 0;
};
