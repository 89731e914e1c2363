#pragma once

#include "mime/mail_entry.h"

#include <QAbstractTableModel>
#include <QTableView>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// The rows of the mail list, in view order: row i of the model is row i on
// screen, so the session's row indexes address both. Rows move only when
// Sort runs; appending and filling never reorder them.
class MailListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumns = 5;

    explicit MailListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void AppendRow(const std::string& caption, const std::string& size);
    void RemoveRow(int row);
    void RemoveAllRows();
    const MailEntry& Row(int row) const { return rows_[static_cast<std::size_t>(row)].entry; }
    // Fills date, subject and sender of one row (UTF-8, decoded as the
    // account's MIME bit says) and repaints it in place. With localDates
    // the date cell shows a Date that parses in local time, the header's
    // text in its tool-tip.
    void FillRow(int row, const std::string& text, bool decodeMime, bool localDates = false);

    // Sorts ascending by CompareDisplayRows for the tag (0 number .. 4
    // sender); equal rows keep their order. With localDates the date sort
    // goes by the point in time, dates that do not parse after all others.
    // Selection and current row follow their rows.
    void Sort(int sortTag, bool localDates = false);

private:
    struct Row_ {
        MailEntry entry;
        std::optional<std::int64_t> when;  // the parsed Date, filled with localDates only
        std::string shownDate;             // its local text
    };
    std::vector<Row_> rows_;
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
