#include "ui/rules_form.h"

#include "texts/texts.h"
#include "ui/app_font.h"
#include "ui/message_box.h"
#include "ui/ui_text.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <iterator>

namespace {

constexpr Qt::WindowFlags kDialogFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToUtf8(const QString& text) {
    return text.toUtf8().toStdString();
}

// In the order of the enumerations, as the file's keywords are.
constexpr std::string_view kKinds[] = {texts::rules::kJunk, texts::rules::kFriend};
constexpr std::string_view kFields[] = {texts::rules::kFromAddress, texts::rules::kFrom, texts::rules::kSubject,
                                        texts::rules::kTo,          texts::rules::kCc,   texts::rules::kHeader,
                                        texts::rules::kSize};
constexpr std::string_view kOps[] = {texts::rules::kContains, texts::rules::kIs,    texts::rules::kStarts,
                                     texts::rules::kEnds,     texts::rules::kRegex, texts::rules::kOver,
                                     texts::rules::kUnder};

std::string_view ProblemText(RuleProblem problem) {
    switch (problem) {
        case RuleProblem::BadText:
        case RuleProblem::Malformed:
        case RuleProblem::UnknownKind:
            return texts::rules::kBadText;
        case RuleProblem::UnknownField:
            return texts::rules::kBadHeader;
        case RuleProblem::UnknownOp:
            return texts::rules::kBadOp;
        case RuleProblem::EmptyValue:
            return texts::rules::kEmptyValue;
        case RuleProblem::BadSize:
            return texts::rules::kBadSize;
        case RuleProblem::BadRegex:
            return texts::rules::kBadRegex;
        case RuleProblem::None:
            break;
    }
    return {};
}

QPushButton* MakeButton(QWidget* parent, const char* name, std::string_view caption) {
    auto* button = new QPushButton(Text(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

}  // namespace

// --- TRuleEditForm -------------------------------------------------------------

TRuleEditForm::TRuleEditForm(QWidget* owner, const Rule& rule) : QDialog(owner, kDialogFlags) {
    setObjectName(QStringLiteral("RuleEditForm"));
    setWindowTitle(Text(texts::rules::kEditTitle));
    setFont(AppFont());

    auto combo = [this](const char* name, const auto& captions, int current) {
        auto* box = new QComboBox(this);
        box->setObjectName(QString::fromLatin1(name));
        for (std::string_view caption : captions) box->addItem(Text(caption));
        box->setCurrentIndex(current);
        return box;
    };
    auto edit = [this](const char* name, const std::string& text) {
        auto* line = new QLineEdit(FromUtf8(text), this);
        line->setObjectName(QString::fromLatin1(name));
        line->setMinimumWidth(260);
        return line;
    };
    kind_ = combo("RuleKind", kKinds, static_cast<int>(rule.kind));
    name_ = edit("RuleName", rule.name);
    field_ = combo("RuleField", kFields, static_cast<int>(rule.field));
    header_ = edit("RuleHeader", rule.header);
    op_ = combo("RuleOp", kOps, static_cast<int>(rule.op));
    value_ = edit("RuleValue", rule.value);

    auto* form = new QFormLayout;
    form->addRow(Text(texts::rules::kKindLabel), kind_);
    form->addRow(Text(texts::rules::kNameLabel), name_);
    form->addRow(Text(texts::rules::kFieldLabel), field_);
    form->addRow(Text(texts::rules::kHeaderLabel), header_);
    form->addRow(Text(texts::rules::kOpLabel), op_);
    form->addRow(Text(texts::rules::kValueLabel), value_);

    QPushButton* ok = MakeButton(this, "OKButton", texts::rules::kOk);
    ok->setDefault(true);
    QPushButton* cancel = MakeButton(this, "CancelButton", texts::rules::kCancel);
    connect(ok, &QPushButton::clicked, this, &TRuleEditForm::OKButtonClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(field_, &QComboBox::currentIndexChanged, this, &TRuleEditForm::FieldChanged);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    FieldChanged();
}

void TRuleEditForm::FieldChanged() {
    header_->setEnabled(static_cast<RuleField>(field_->currentIndex()) == RuleField::Header);
    // Size takes its own ops; moving to or from it offers the first that fits.
    const bool size = static_cast<RuleField>(field_->currentIndex()) == RuleField::Size;
    const bool sizeOp = static_cast<RuleOp>(op_->currentIndex()) == RuleOp::Over ||
                        static_cast<RuleOp>(op_->currentIndex()) == RuleOp::Under;
    if (size != sizeOp) op_->setCurrentIndex(static_cast<int>(size ? RuleOp::Over : RuleOp::Contains));
}

Rule TRuleEditForm::Result() const {
    Rule rule;
    rule.kind = static_cast<RuleKind>(kind_->currentIndex());
    rule.name = ToUtf8(name_->text());
    rule.field = static_cast<RuleField>(field_->currentIndex());
    if (rule.field == RuleField::Header) rule.header = ToUtf8(header_->text().trimmed());
    rule.op = static_cast<RuleOp>(op_->currentIndex());
    rule.value = ToUtf8(value_->text());
    return rule;
}

void TRuleEditForm::OKButtonClick() {
    const RuleProblem problem = CheckRule(Result());
    if (problem != RuleProblem::None) {
        ShowMessageBox(this, Text(ProblemText(problem)));
        return;
    }
    accept();
}

// --- TRulesForm --------------------------------------------------------------------

TRulesForm::TRulesForm(QWidget* owner, RuleFile file) : QDialog(owner, kDialogFlags), file_(std::move(file)) {
    setObjectName(QStringLiteral("RulesForm"));
    setWindowTitle(Text(texts::rules::kTitle));
    setFont(AppFont());
    resize(640, 360);

    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("RuleList"));
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setHeaderLabels({Text(texts::rules::kKindColumn), Text(texts::rules::kNameColumn),
                            Text(texts::rules::kFieldColumn), Text(texts::rules::kOpColumn),
                            Text(texts::rules::kValueColumn)});
    list_->header()->setStretchLastSection(true);
    list_->setColumnWidth(0, 90);
    list_->setColumnWidth(1, 140);
    list_->setColumnWidth(2, 130);
    list_->setColumnWidth(3, 130);

    QPushButton* add = MakeButton(this, "AddButton", texts::rules::kAdd);
    edit_ = MakeButton(this, "EditButton", texts::rules::kEdit);
    remove_ = MakeButton(this, "RemoveButton", texts::rules::kRemove);
    up_ = MakeButton(this, "UpButton", texts::rules::kUp);
    down_ = MakeButton(this, "DownButton", texts::rules::kDown);
    QPushButton* ok = MakeButton(this, "OKButton", texts::rules::kOk);
    QPushButton* cancel = MakeButton(this, "CancelButton", texts::rules::kCancel);
    connect(add, &QPushButton::clicked, this, &TRulesForm::AddButtonClick);
    connect(edit_, &QPushButton::clicked, this, &TRulesForm::EditButtonClick);
    connect(remove_, &QPushButton::clicked, this, &TRulesForm::RemoveButtonClick);
    connect(up_, &QPushButton::clicked, this, [this] { MoveButtonClick(-1); });
    connect(down_, &QPushButton::clicked, this, [this] { MoveButtonClick(+1); });
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(list_, &QTreeWidget::currentItemChanged, this, [this] { UpdateButtons(); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { EditButtonClick(); });

    auto* side = new QVBoxLayout;
    for (QPushButton* button : {add, edit_, remove_, up_, down_}) side->addWidget(button);
    side->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(list_, 1);
    top->addLayout(side);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(ok);
    bottom->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(bottom);

    Fill(-1);
}

QString TRulesForm::KindText(RuleKind kind) {
    return Text(kKinds[static_cast<std::size_t>(kind)]);
}

QString TRulesForm::FieldText(const Rule& rule) {
    QString text = Text(kFields[static_cast<std::size_t>(rule.field)]);
    if (rule.field == RuleField::Header) text += QStringLiteral(" ") + FromUtf8(rule.header);
    return text;
}

QString TRulesForm::OpText(RuleOp op) {
    return Text(kOps[static_cast<std::size_t>(op)]);
}

std::vector<std::size_t> TRulesForm::Shown() const {
    std::vector<std::size_t> shown;
    for (std::size_t i = 0; i < file_.Lines().size(); ++i)
        if (file_.Lines()[i].type != RuleFileLine::Type::Comment) shown.push_back(i);
    return shown;
}

void TRulesForm::Fill(int currentLine) {
    list_->clear();
    QTreeWidgetItem* current = nullptr;
    for (std::size_t i : Shown()) {
        const RuleFileLine& line = file_.Lines()[i];
        auto* item = new QTreeWidgetItem(list_);
        item->setData(0, Qt::UserRole, static_cast<qulonglong>(i));
        if (line.type == RuleFileLine::Type::Rule) {
            item->setText(0, KindText(line.rule.kind));
            item->setText(1, FromUtf8(line.rule.name));
            item->setText(2, FieldText(line.rule));
            item->setText(3, OpText(line.rule.op));
            item->setText(4, FromUtf8(line.rule.value));
        } else {
            item->setText(0, Text(texts::rules::kInvalid));
            item->setText(1,
                          Text(texts::rules::kLineNumber).replace(QStringLiteral("%1"), QString::number(line.number)));
            item->setText(4, FromUtf8(line.text));
        }
        if (static_cast<int>(i) == currentLine) current = item;
    }
    if (current) list_->setCurrentItem(current);
    UpdateButtons();
}

int TRulesForm::CurrentLine() const {
    const QTreeWidgetItem* item = list_->currentItem();
    return item ? static_cast<int>(item->data(0, Qt::UserRole).toULongLong()) : -1;
}

void TRulesForm::UpdateButtons() {
    const int line = CurrentLine();
    const std::vector<std::size_t> rules = RuleLines();
    const bool any = line >= 0;
    const bool rule = any && file_.Lines()[static_cast<std::size_t>(line)].type == RuleFileLine::Type::Rule;
    edit_->setEnabled(any);
    remove_->setEnabled(any);
    up_->setEnabled(rule && static_cast<int>(rules.front()) != line);
    down_->setEnabled(rule && static_cast<int>(rules.back()) != line);
}

void TRulesForm::AddButtonClick() {
    Rule rule;
    rule.kind = RuleKind::Junk;
    rule.field = RuleField::Subject;
    rule.op = RuleOp::Contains;
    TRuleEditForm editor(this, rule);
    if (editor.exec() != QDialog::Accepted) return;
    file_.Append(editor.Result());
    Fill(static_cast<int>(file_.Lines().size()) - 1);
}

void TRulesForm::EditButtonClick() {
    const int line = CurrentLine();
    if (line < 0) return;
    const RuleFileLine& current = file_.Lines()[static_cast<std::size_t>(line)];
    // An invalid line can be written over with a rule; it starts from empty fields.
    TRuleEditForm editor(this, current.type == RuleFileLine::Type::Rule ? current.rule : Rule{});
    if (editor.exec() != QDialog::Accepted) return;
    const Rule rule = editor.Result();
    if (current.type != RuleFileLine::Type::Rule || !(rule == current.rule))
        file_.Replace(static_cast<std::size_t>(line), rule);
    Fill(line);
}

void TRulesForm::RemoveButtonClick() {
    const int line = CurrentLine();
    if (line < 0) return;
    const std::vector<std::size_t> shown = Shown();
    // The row that follows takes the place, or the one before it.
    int next = -1;
    for (std::size_t k = 0; k < shown.size(); ++k) {
        if (static_cast<int>(shown[k]) != line) continue;
        if (k + 1 < shown.size())
            next = static_cast<int>(shown[k + 1]) - 1;
        else if (k > 0)
            next = static_cast<int>(shown[k - 1]);
    }
    file_.Remove(static_cast<std::size_t>(line));
    Fill(next);
}

void TRulesForm::MoveButtonClick(int step) {
    // Rules trade places with rules only: comments and invalid lines stay.
    const int line = CurrentLine();
    const std::vector<std::size_t> rules = RuleLines();
    for (std::size_t k = 0; k < rules.size(); ++k) {
        if (static_cast<int>(rules[k]) != line) continue;
        const std::ptrdiff_t other = static_cast<std::ptrdiff_t>(k) + step;
        if (other < 0 || other >= static_cast<std::ptrdiff_t>(rules.size())) return;
        const std::size_t target = rules[static_cast<std::size_t>(other)];
        file_.Swap(rules[k], target);
        Fill(static_cast<int>(target));
        return;
    }
}

std::vector<std::size_t> TRulesForm::RuleLines() const {
    std::vector<std::size_t> rules;
    for (std::size_t i = 0; i < file_.Lines().size(); ++i)
        if (file_.Lines()[i].type == RuleFileLine::Type::Rule) rules.push_back(i);
    return rules;
}
