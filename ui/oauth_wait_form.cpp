#include "ui/oauth_wait_form.h"

#include "texts/texts.h"
#include "ui/app_font.h"
#include "ui/ui_text.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <cstdlib>

OAuthWaitForm::OAuthWaitForm(QWidget* owner, const QString& note)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("OAuthWaitForm"));
    setWindowTitle(Text(texts::signin::kWaitTitle));
    setFont(AppFont());

    auto* layout = new QVBoxLayout(this);
    if (!note.isEmpty()) {
        auto* noteLabel = new QLabel(note, this);
        noteLabel->setObjectName(QStringLiteral("NoteLabel"));
        noteLabel->setTextFormat(Qt::PlainText);
        noteLabel->setWordWrap(true);
        layout->addWidget(noteLabel);
    }
    auto* prompt = new QLabel(Text(texts::signin::kWaitPrompt), this);
    prompt->setObjectName(QStringLiteral("PromptLabel"));
    prompt->setAlignment(Qt::AlignCenter);
    prompt->setMinimumWidth(300);
    layout->addWidget(prompt);

    auto* cancel = new QPushButton(Text(texts::signin::kCancel), this);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    cancel->setDefault(true);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    layout->addWidget(cancel, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    limit_ = new QTimer(this);
    limit_->setSingleShot(true);
    limit_->setInterval(5 * MinuteLength());
    connect(limit_, &QTimer::timeout, this, [this] { done(kTimedOut); });
    limit_->start();
}

std::chrono::milliseconds OAuthWaitForm::MinuteLength() {
    if (const char* text = std::getenv("BOXSWEEPER_MINUTE_SECONDS")) {
        char* end = nullptr;
        const double seconds = std::strtod(text, &end);
        if (end != text && *end == '\0' && std::isfinite(seconds) && seconds > 0 && seconds <= 3600)
            return std::chrono::milliseconds(static_cast<long long>(std::ceil(seconds * 1000)));
    }
    return std::chrono::minutes(1);
}
