#include "ui/mail_list.h"

#include "mime/display_text.h"
#include "mime/mail_date.h"
#include "texts/texts.h"
#include "ui/ui_text.h"

#include <QHeaderView>
#include <QKeyEvent>

#include <algorithm>
#include <numeric>

MailListModel::MailListModel(QObject* parent) : QAbstractTableModel(parent) {}

int MailListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int MailListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant MailListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Row_& row = rows_[static_cast<std::size_t>(index.row())];
    const MailEntry& entry = row.entry;
    if (index.column() == 2 && row.when) {
        if (role == Qt::DisplayRole) return QString::fromStdString(row.shownDate);
        if (role == Qt::ToolTipRole) return QString::fromStdString(entry.subItems[1]);
        return {};
    }
    if (role != Qt::DisplayRole) return {};
    // The texts are UTF-8 already: the text library converted them once.
    if (index.column() == 0) return QString::fromStdString(entry.number);
    const std::size_t sub = static_cast<std::size_t>(index.column() - 1);
    if (sub >= entry.subItems.size()) return {};
    return QString::fromStdString(entry.subItems[sub]);
}

QVariant MailListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static constexpr std::string_view kHeaders[kColumns] = {texts::mail_list::kNumber, texts::mail_list::kSize,
                                                            texts::mail_list::kDate, texts::mail_list::kSubject,
                                                            texts::mail_list::kFrom};
    if (section < 0 || section >= kColumns) return {};
    return Text(kHeaders[section]);
}

void MailListModel::AppendRow(const std::string& caption, const std::string& size) {
    const int row = rowCount();
    beginInsertRows({}, row, row);
    rows_.push_back(Row_{MailEntry{caption, {size}}, std::nullopt, {}});
    endInsertRows();
}

void MailListModel::RemoveRow(int row) {
    if (row < 0 || row >= rowCount()) return;
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
}

void MailListModel::RemoveAllRows() {
    if (rows_.empty()) return;
    beginResetModel();
    rows_.clear();
    endResetModel();
}

void MailListModel::FillRow(int row, const std::string& text, bool decodeMime, bool localDates) {
    if (row < 0 || row >= rowCount()) return;
    Row_& target = rows_[static_cast<std::size_t>(row)];
    FillDisplayRow(target.entry, text, decodeMime);
    target.when = localDates ? ParseMailDate(target.entry.subItems[1]) : std::nullopt;
    target.shownDate = target.when ? LocalDateText(*target.when) : std::string();
    // Cell by cell: a view repaints the whole viewport for a changed range,
    // but only the cell itself, if shown, for a single index.
    for (int column = 2; column < kColumns; ++column)
        emit dataChanged(index(row, column), index(row, column), {Qt::DisplayRole});
}

namespace {

// Rows without a date first (as in the text sort), then parsed dates by
// time, then the dates that did not parse.
int DateRank(const MailEntry& entry, const std::optional<std::int64_t>& when) {
    if (entry.subItems.size() < 2) return 0;
    return when ? 1 : 2;
}

}  // namespace

void MailListModel::Sort(int sortTag, bool localDates) {
    std::vector<int> order(rows_.size());
    std::iota(order.begin(), order.end(), 0);
    auto goesFirst = [&](int a, int b) {
        const Row_& x = rows_[static_cast<std::size_t>(a)];
        const Row_& y = rows_[static_cast<std::size_t>(b)];
        if (sortTag == 2 && localDates) {
            const int rx = DateRank(x.entry, x.when), ry = DateRank(y.entry, y.when);
            if (rx != ry) return rx < ry;
            return rx == 1 && *x.when < *y.when;
        }
        return CompareDisplayRows(x.entry, y.entry, sortTag) < 0;
    };
    std::stable_sort(order.begin(), order.end(), goesFirst);

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(rows_.size());
    std::vector<Row_> sorted;
    sorted.reserve(rows_.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        newRowOf[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
        sorted.push_back(std::move(rows_[static_cast<std::size_t>(order[i])]));
    }
    rows_ = std::move(sorted);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& old : before)
        after.push_back(index(newRowOf[static_cast<std::size_t>(old.row())], old.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

MailListView::MailListView(QWidget* parent) : QTableView(parent) {
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setTabKeyNavigation(false);
    setSortingEnabled(false);
    verticalHeader()->hide();
    // A fixed row height keeps appending thousands of rows cheap.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void MailListView::keyPressEvent(QKeyEvent* event) {
    if (keyHook && keyHook(event)) {
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void MailListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTableView::mouseDoubleClickEvent(event);
    if (doubleClickHook) doubleClickHook();
}

QItemSelectionModel::SelectionFlags MailListView::selectionCommand(const QModelIndex& index,
                                                                   const QEvent* event) const {
    if (userMaySelect && !userMaySelect()) return QItemSelectionModel::NoUpdate;
    return QTableView::selectionCommand(index, event);
}
