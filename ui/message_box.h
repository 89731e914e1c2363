#pragma once

#include <QString>

class QWidget;

// The program's message box: caption "Boxsweeper", one OK button, no icon,
// the text shown as plain text.
// Modal; returns when the user has closed it.
void ShowMessageBox(QWidget* parent, const QString& text);
