#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// What the main window keeps between runs, apart from the accounts: its
// place and size, both splitters, the mail list's column widths and the
// selected tab.
struct WindowState {
    QByteArray geometry;      // QWidget::saveGeometry
    QByteArray listSplitter;  // between the mail list and the body pane
    QByteArray logSplitter;   // between the tabs and the log pane
    QList<int> columnWidths;
    int tab = 0;
};

// ${XDG_CONFIG_HOME:-$HOME/.config}/kirabo/Boxsweeper/window.ini
QString WindowStatePath();

// Nothing when the file is missing, unreadable or not what SaveWindowState
// writes; a value that makes no sense (a negative tab, an absurd width)
// also discards the whole file, so the window starts as on a first run.
std::optional<WindowState> LoadWindowState(const QString& path);
// False when the file could not be written.
bool SaveWindowState(const QString& path, const WindowState& state);
