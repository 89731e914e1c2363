#pragma once

#include "core/rules.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// The editor of one rule: kind, name, field (with the header name for
// header:NAME), op and value. OK is refused with a message while the rule
// would not parse.
class TRuleEditForm : public QDialog {
    Q_OBJECT
public:
    TRuleEditForm(QWidget* owner, const Rule& rule);
    Rule Result() const;

private:
    void FieldChanged();
    void OKButtonClick();

    QComboBox* kind_ = nullptr;
    QLineEdit* name_ = nullptr;
    QComboBox* field_ = nullptr;
    QLineEdit* header_ = nullptr;
    QComboBox* op_ = nullptr;
    QLineEdit* value_ = nullptr;
};

// The rule list for all accounts. It works on a copy of the file; after OK
// File() is the file with the user's changes, in which only the lines that
// were added, edited or moved differ (comments and invalid lines stay
// where they were).
//   TRulesForm form(mainWindow, file);
//   if (form.exec() == QDialog::Accepted) Save(form.File());
class TRulesForm : public QDialog {
    Q_OBJECT
public:
    TRulesForm(QWidget* owner, RuleFile file);

    const RuleFile& File() const { return file_; }

    void AddButtonClick();
    void EditButtonClick();
    void RemoveButtonClick();
    void MoveButtonClick(int step);  // -1 up, +1 down

    // How a rule's kind, field and op read in the list.
    static QString KindText(RuleKind kind);
    static QString FieldText(const Rule& rule);
    static QString OpText(RuleOp op);

private:
    void Fill(int currentLine);
    // The file line of the current list row, or -1.
    int CurrentLine() const;
    void UpdateButtons();
    // Lines that the list shows: rules and invalid lines, in file order.
    std::vector<std::size_t> Shown() const;
    std::vector<std::size_t> RuleLines() const;

    RuleFile file_;
    QTreeWidget* list_ = nullptr;
    QPushButton* edit_ = nullptr;
    QPushButton* remove_ = nullptr;
    QPushButton* up_ = nullptr;
    QPushButton* down_ = nullptr;
};
