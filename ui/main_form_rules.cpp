// The main window's part of the rule list: the RulesButton, the mail list's
// items that add senders, and applying a changed list.

#include "core/rules_store.h"
#include "texts/texts.h"
#include "ui/mail_list.h"
#include "ui/main_form.h"
#include "ui/rules_form.h"
#include "ui/ui_text.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QTableView>

void TMainForm::BuildRuleControls() {
    rulesButton_->setAccessibleName(Text(texts::rules::kRulesButtonName));
    connect(rulesButton_, &QPushButton::clicked, this, &TMainForm::RulesButtonClick);
    // Reached by its mnemonic; the Tab order of the window stays as it was.
    rulesButton_->setFocusPolicy(Qt::ClickFocus);

    mailListPopup_->addSeparator();
    auto add = [this](const char* name, std::string_view caption, RuleKind kind) {
        QAction* action = mailListPopup_->addAction(Text(caption));
        action->setObjectName(QString::fromLatin1(name));
        action->setData(-1);  // not a sort key
        connect(action, &QAction::triggered, this, [this, kind] { AddSenderClick(kind); });
        return action;
    };
    addSenderToJunk_ = add("AddSenderToJunk", texts::rules::kAddSenderToJunk, RuleKind::Junk);
    addSenderToFriends_ = add("AddSenderToFriends", texts::rules::kAddSenderToFriends, RuleKind::Friend);
}

void TMainForm::UpdateRuleControls() {
    rulesButton_->setEnabled(InState(SessionState::Idle) || InState(SessionState::Ready));
    const bool chosen = InState(SessionState::Ready) && FirstSelectedRow() >= 0;
    addSenderToJunk_->setEnabled(chosen);
    addSenderToFriends_->setEnabled(chosen);
}

void TMainForm::RulesButtonClick() {
    if (!InState(SessionState::Idle) && !InState(SessionState::Ready)) return;
    TRulesForm form(this, ruleFile_);
    if (form.exec() != QDialog::Accepted) return;
    ApplyRuleFile(form.File());
}

void TMainForm::AddSenderClick(RuleKind kind) {
    if (!InState(SessionState::Ready)) return;
    std::vector<std::string> senders;
    const QItemSelectionModel* selection = mailList_->selectionModel();
    for (int row = 0, count = RowCount(); row < count; ++row) {
        if (!selection->isRowSelected(row, QModelIndex())) continue;
        const MailEntry entry = mailModel_->Row(row);
        if (entry.subItems.size() > 3) senders.push_back(entry.subItems[3]);
    }
    RuleFile file = ruleFile_;
    if (AddSenderRules(file, kind, senders) > 0) ApplyRuleFile(std::move(file));
}

void TMainForm::ApplyRuleFile(RuleFile file) {
    // The rules take effect for this run even when the file cannot be written.
    if (!SaveRuleFile(file)) ShowBox(Text(texts::rules::kNotSaved));
    ruleFile_ = std::move(file);
    ruleSet_ = RuleSet(ruleFile_);
    session_->JudgeAllEntries();
    // A renamed rule keeps its place, so its rows were not told of a change.
    mailList_->viewport()->update();
}
