#include "ui/mail_list.h"

#include "core/mail_marks.h"
#include "mime/display_text.h"
#include "mime/mail_date.h"
#include "platform/locale_compare.h"
#include "texts/texts.h"
#include "ui/ui_text.h"

#include <QFont>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPalette>

#include <algorithm>
#include <numeric>

MailListModel::MailListModel(const Mailbox& box, QObject* parent) : QAbstractTableModel(parent), box_(box) {
    // Made once: data() hands out shared copies.
    QFont bold;
    bold.setBold(true);
    boldFont_ = bold;
    mutedText_ = QGuiApplication::palette().brush(QPalette::Disabled, QPalette::WindowText);
}

int MailListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int MailListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns + (marksShown_ ? 1 : 0);
}

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QVariant MailListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Row_& row = rows_[static_cast<std::size_t>(index.row())];
    const std::size_t at = row.index;
    if (marksShown_ && row.marks != 0) {
        if (role == Qt::FontRole && (row.marks & kMarkNew)) return boldFont_;
        if (role == Qt::ForegroundRole && (row.marks & kMarkJunk)) return mutedText_;
    }
    if (index.column() == kStateColumn) return role == Qt::DisplayRole ? QVariant(StateText(at)) : QVariant();
    if (index.column() == 2 && row.when) {
        if (role == Qt::DisplayRole) return QString::fromStdString(row.shownDate);
        if (role == Qt::ToolTipRole) return FromUtf8(box_.Date(at));
        return {};
    }
    if (role != Qt::DisplayRole) return {};
    // The texts are UTF-8 already: the text library converted them once.
    switch (index.column()) {
        case 0:
            return QString::number(box_.Number(at));
        case 1:
            return QString::number(box_.Size(at));
        default:
            break;
    }
    if (!box_.Filled(at)) return {};
    switch (index.column()) {
        case 2:
            return FromUtf8(box_.Date(at));
        case 3:
            return FromUtf8(box_.Subject(at));
        case 4:
            return FromUtf8(box_.Sender(at));
        default:
            return {};
    }
}

QVariant MailListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static constexpr std::string_view kHeaders[kColumns] = {texts::mail_list::kNumber, texts::mail_list::kSize,
                                                            texts::mail_list::kDate, texts::mail_list::kSubject,
                                                            texts::mail_list::kFrom};
    if (section == kStateColumn && marksShown_) return Text(texts::mail_list::kState);
    if (section < 0 || section >= kColumns) return {};
    return Text(kHeaders[section]);
}

void MailListModel::EntriesAdded(std::size_t first, std::size_t count) {
    if (count == 0) return;
    const int row = rowCount();
    beginInsertRows({}, row, row + static_cast<int>(count) - 1);
    rows_.reserve(rows_.size() + count);
    for (std::size_t i = first; i < first + count; ++i) {
        rowOf_.resize(std::max(rowOf_.size(), i + 1), -1);
        rowOf_[i] = static_cast<int>(rows_.size());
        rows_.push_back(Row_{i, std::nullopt, {}, box_.Flags(i)});
        Count(box_.Flags(i), 1);
    }
    endInsertRows();
}

void MailListModel::EntryFilled(std::size_t index, bool localDates) {
    if (index >= rowOf_.size() || rowOf_[index] < 0) return;
    const int row = rowOf_[index];
    Row_& target = rows_[static_cast<std::size_t>(row)];
    target.when = localDates ? ParseMailDate(std::string(box_.Date(index))) : std::nullopt;
    target.shownDate = target.when ? LocalDateText(*target.when) : std::string();
    // Cell by cell: a view repaints the whole viewport for a changed range,
    // but only the cell itself, if shown, for a single index.
    for (int column = 2; column < kColumns; ++column)
        emit dataChanged(this->index(row, column), this->index(row, column), {Qt::DisplayRole});
}

void MailListModel::EntryRemoved(std::size_t index) {
    if (index >= rowOf_.size() || rowOf_[index] < 0) return;
    const int row = rowOf_[index];
    beginRemoveRows({}, row, row);
    Count(rows_[static_cast<std::size_t>(row)].marks, -1);
    rows_.erase(rows_.begin() + row);
    rowOf_.erase(rowOf_.begin() + static_cast<std::ptrdiff_t>(index));
    for (Row_& r : rows_)
        if (r.index > index) --r.index;
    for (std::size_t i = static_cast<std::size_t>(row); i < rows_.size(); ++i)
        rowOf_[rows_[i].index] = static_cast<int>(i);
    endRemoveRows();
}

void MailListModel::EntriesCleared() {
    if (rows_.empty()) return;
    beginResetModel();
    rows_.clear();
    rowOf_.clear();
    newCount_ = junkCount_ = 0;
    endResetModel();
}

void MailListModel::Count(std::uint8_t marks, int sign) {
    if (marks & kMarkNew) newCount_ += static_cast<std::size_t>(sign);
    if ((marks & kMarkJunk) && !(marks & kMarkFriend)) junkCount_ += static_cast<std::size_t>(sign);
}

void MailListModel::EntriesMarked(std::size_t first, std::size_t count) {
    int top = rowCount(), bottom = -1;
    for (std::size_t i = first; i < first + count && i < rowOf_.size() && i < box_.Count(); ++i) {
        if (rowOf_[i] < 0) continue;
        Row_& row = rows_[static_cast<std::size_t>(rowOf_[i])];
        if (row.marks == box_.Flags(i)) continue;
        Count(row.marks, -1);
        row.marks = box_.Flags(i);
        Count(row.marks, 1);
        top = std::min(top, rowOf_[i]);
        bottom = std::max(bottom, rowOf_[i]);
    }
    // One range over the rows that changed: every cell's look may have.
    if (bottom >= top) emit dataChanged(index(top, 0), index(bottom, columnCount() - 1));
}

void MailListModel::SetMarksShown(bool shown) {
    if (shown == marksShown_) return;
    if (shown) {
        beginInsertColumns({}, kStateColumn, kStateColumn);
        marksShown_ = true;
        endInsertColumns();
    } else {
        beginRemoveColumns({}, kStateColumn, kStateColumn);
        marksShown_ = false;
        endRemoveColumns();
    }
}

void MailListModel::SetRuleNames(std::function<std::string(std::uint32_t rule)> names) {
    ruleNames_ = std::move(names);
    stateTexts_.clear();
    if (marksShown_ && rowCount() > 0) emit dataChanged(index(0, kStateColumn), index(rowCount() - 1, kStateColumn));
}

const QString& MailListModel::StateText(std::size_t index) const {
    const std::uint8_t flags = box_.Flags(index);
    const std::uint32_t rule = (flags & kMarkJunk) ? box_.JunkRule(index) : Mailbox::kNoRule;
    const std::uint64_t key = (std::uint64_t{rule} << 8) | flags;
    auto it = stateTexts_.find(key);
    if (it == stateTexts_.end()) {
        const std::string name = (flags & kMarkJunk) && ruleNames_ && rule != Mailbox::kNoRule ? ruleNames_(rule) : "";
        it = stateTexts_.emplace(key, QString::fromStdString(MarkText(flags, name))).first;
    }
    return it->second;
}

std::int32_t MailListModel::NumberAt(int row) const {
    if (row < 0 || row >= rowCount()) return 0;
    return box_.Number(rows_[static_cast<std::size_t>(row)].index);
}

MailEntry MailListModel::Row(int row) const {
    MailEntry entry;
    if (row < 0 || row >= rowCount()) return entry;
    const std::size_t at = rows_[static_cast<std::size_t>(row)].index;
    entry.number = std::to_string(box_.Number(at));
    entry.subItems.push_back(std::to_string(box_.Size(at)));
    if (box_.Filled(at)) {
        entry.subItems.emplace_back(box_.Date(at));
        entry.subItems.emplace_back(box_.Subject(at));
        entry.subItems.emplace_back(box_.Sender(at));
    }
    return entry;
}

void MailListModel::Reindex() {
    rowOf_.assign(rowOf_.size(), -1);
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const std::size_t at = rows_[i].index;
        if (at >= rowOf_.size()) rowOf_.resize(at + 1, -1);
        rowOf_[at] = static_cast<int>(i);
    }
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
    if (sortTag == kStateSortTag) {
        std::vector<std::string> states;
        states.reserve(rows_.size());
        for (const Row_& row : rows_) states.push_back(StateText(row.index).toStdString());
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            const std::string& x = states[static_cast<std::size_t>(a)];
            const std::string& y = states[static_cast<std::size_t>(b)];
            if (x.empty() || y.empty()) return !x.empty() && y.empty();
            return LocaleCompareUtf8(x, y) < 0;
        });
        ApplyOrder(order);
        return;
    }
    if (sortTag >= 2 && sortTag <= 4 && !(sortTag == 2 && localDates)) {
        SortByText(sortTag, order);
    } else {
        // The rows as the comparison reads them, made once rather than per comparison.
        std::vector<MailEntry> entries;
        entries.reserve(rows_.size());
        for (int i = 0; i < rowCount(); ++i) entries.push_back(Row(i));
        auto goesFirst = [&](int a, int b) {
            const Row_& x = rows_[static_cast<std::size_t>(a)];
            const Row_& y = rows_[static_cast<std::size_t>(b)];
            const MailEntry& ex = entries[static_cast<std::size_t>(a)];
            const MailEntry& ey = entries[static_cast<std::size_t>(b)];
            if (sortTag == 2 && localDates) {
                const int rx = DateRank(ex, x.when), ry = DateRank(ey, y.when);
                if (rx != ry) return rx < ry;
                return rx == 1 && *x.when < *y.when;
            }
            return CompareDisplayRows(ex, ey, sortTag) < 0;
        };
        std::stable_sort(order.begin(), order.end(), goesFirst);
    }
    ApplyOrder(order);
}

void MailListModel::ApplyOrder(const std::vector<int>& order) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(rows_.size());
    std::vector<Row_> sorted;
    sorted.reserve(rows_.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        newRowOf[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
        sorted.push_back(std::move(rows_[static_cast<std::size_t>(order[i])]));
    }
    rows_ = std::move(sorted);
    Reindex();
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& old : before)
        after.push_back(index(newRowOf[static_cast<std::size_t>(old.row())], old.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void MailListModel::SortByText(int sortTag, std::vector<int>& order) const {
    // CompareDisplayRows' order (rows not filled first, then the user's
    // collation, equal collation by the bytes), with each row's collation
    // key made once: converting both texts at every comparison made a
    // sort of 100,000 rows take seconds.
    struct Key {
        bool filled = false;
        std::string_view text;
        std::wstring key;
    };
    std::vector<Key> keys(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const std::size_t at = rows_[i].index;
        if (!box_.Filled(at)) continue;
        const std::string_view text = sortTag == 2 ? box_.Date(at) : sortTag == 3 ? box_.Subject(at) : box_.Sender(at);
        keys[i] = Key{true, text, LocaleSortKeyUtf8(text)};
    }
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const Key& x = keys[static_cast<std::size_t>(a)];
        const Key& y = keys[static_cast<std::size_t>(b)];
        if (x.filled != y.filled) return !x.filled;
        if (!x.filled) return false;
        const int byKey = x.key.compare(y.key);
        return byKey != 0 ? byKey < 0 : x.text < y.text;
    });
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
