#include "ui/window_state.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

constexpr int kFormat = 1;
constexpr int kMaxColumnWidth = 10000;

}  // namespace

QString WindowStatePath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!base.startsWith(QLatin1Char('/'))) base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/kirabo/Boxsweeper/window.ini");
}

std::optional<WindowState> LoadWindowState(const QString& path) {
    const QFileInfo file(path);
    if (!file.isFile() || !file.isReadable()) return std::nullopt;
    QSettings ini(path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError || ini.value(QStringLiteral("format")).toInt() != kFormat)
        return std::nullopt;
    WindowState state;
    ini.beginGroup(QStringLiteral("MainForm"));
    state.geometry = ini.value(QStringLiteral("geometry")).toByteArray();
    state.listSplitter = ini.value(QStringLiteral("listSplitter")).toByteArray();
    state.logSplitter = ini.value(QStringLiteral("logSplitter")).toByteArray();
    bool ok = true;
    state.tab = ini.value(QStringLiteral("tab"), 0).toInt(&ok);
    if (!ok || state.tab < 0) return std::nullopt;
    for (const QString& text : ini.value(QStringLiteral("columnWidths")).toStringList()) {
        const int width = text.toInt(&ok);
        if (!ok || width <= 0 || width > kMaxColumnWidth) return std::nullopt;
        state.columnWidths.push_back(width);
    }
    return state;
}

bool SaveWindowState(const QString& path, const WindowState& state) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
    QSettings ini(path, QSettings::IniFormat);
    ini.clear();
    ini.setValue(QStringLiteral("format"), kFormat);
    ini.beginGroup(QStringLiteral("MainForm"));
    ini.setValue(QStringLiteral("geometry"), state.geometry);
    ini.setValue(QStringLiteral("listSplitter"), state.listSplitter);
    ini.setValue(QStringLiteral("logSplitter"), state.logSplitter);
    QStringList widths;
    for (int width : state.columnWidths) widths.push_back(QString::number(width));
    ini.setValue(QStringLiteral("columnWidths"), widths);
    ini.setValue(QStringLiteral("tab"), state.tab);
    ini.endGroup();
    ini.sync();
    return ini.status() == QSettings::NoError;
}
