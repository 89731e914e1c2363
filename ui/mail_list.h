#pragma once

#include "core/mailbox.h"
#include "mime/mail_entry.h"

#include <QAbstractTableModel>
#include <QTableView>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// The mail list: the session's mailbox in view order. Row i of the model
// is row i on screen; rows move only when Sort runs, and appending and
// filling never reorder them. The window forwards the mailbox's notices.
class MailListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The five columns of every account; kStateColumn follows them while
    // marks are shown.
    static constexpr int kColumns = 5;
    static constexpr int kStateColumn = 5;
    static constexpr int kStateSortTag = 5;

    MailListModel(const Mailbox& box, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The mailbox's changes. With localDates a filled entry's date cell
    // shows a Date that parses in local time, the header's text in its
    // tool-tip.
    void EntriesAdded(std::size_t first, std::size_t count);
    void EntryFilled(std::size_t index, bool localDates);
    void EntryRemoved(std::size_t index);
    void EntriesCleared();
    void EntriesMarked(std::size_t first, std::size_t count);

    // The 状態 column and the rows' bold and muted looks, while the account
    // marks new mail or applies rules.
    void SetMarksShown(bool shown);
    bool MarksShown() const { return marksShown_; }
    // Names a junk rule (UTF-8) for the 状態 column; empty by default.
    void SetRuleNames(std::function<std::string(std::uint32_t rule)> names);
    // Rows marked new, and rows a sweep would delete (junk, not friend).
    std::size_t NewCount() const { return newCount_; }
    std::size_t JunkCount() const { return junkCount_; }

    // The message number shown in a row, or 0.
    std::int32_t NumberAt(int row) const;
    // A row as number and sub-items (size, then date, subject and sender
    // once filled).
    MailEntry Row(int row) const;

    // Sorts ascending by CompareDisplayRows for the tag (0 number .. 4
    // sender; 5 the 状態 text, rows without one last); equal rows keep their order. With localDates the date sort
    // goes by the point in time, dates that do not parse after all others.
    // Selection and current row follow their rows.
    void Sort(int sortTag, bool localDates = false);

private:
    struct Row_ {
        std::size_t index = 0;             // in the mailbox
        std::optional<std::int64_t> when;  // the parsed Date, filled with localDates only
        std::string shownDate;             // its local text
        std::uint8_t marks = 0;            // the entry's flags as last told
    };
    void Reindex();  // rowOf_ from rows_
    // Sort's order for the date (as text), subject and sender columns.
    void SortByText(int sortTag, std::vector<int>& order) const;
    // Moves the rows into this order (new row i is old row order[i]).
    void ApplyOrder(const std::vector<int>& order);
    void Count(std::uint8_t marks, int sign);
    // The 状態 text of an entry, made once per combination of marks and rule.
    const QString& StateText(std::size_t index) const;

    const Mailbox& box_;
    std::vector<Row_> rows_;
    std::vector<int> rowOf_;  // mailbox index -> row
    bool marksShown_ = false;
    std::size_t newCount_ = 0;
    std::size_t junkCount_ = 0;
    std::function<std::string(std::uint32_t)> ruleNames_;
    mutable std::unordered_map<std::uint64_t, QString> stateTexts_;
    QVariant boldFont_;
    QVariant mutedText_;
};

// The list view: keys, double click and selection changes are offered to
// the window's hooks first.
class MailListView : public QTableView {
    Q_OBJECT
public:
    explicit MailListView(QWidget* parent = nullptr);

    // True when the hook consumed the key.
    std::function<bool(QKeyEvent*)> keyHook;
    std::function<void()> doubleClickHook;
    // While this answers false, clicks and keys do not change the selection.
    std::function<bool()> userMaySelect;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
};
