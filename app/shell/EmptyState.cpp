#include "app/shell/EmptyState.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/shell/AppConfig.h"
#include "app/menus/HelpOpener.h"
#include "model/Localization.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"
#include "widgets/Fonts.h"
#include "widgets/Icons.h"
#include "widgets/Palette.h"

namespace tessoral {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

QPushButton* linkButton(const QString& text, int pixelSize, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setFlat(true);
    b->setCursor(Qt::PointingHandCursor);
    b->setFont(Fonts::ui(pixelSize));
    b->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 2px; color: %1; }"
                                    "QPushButton:disabled { color: %2; }")
                         .arg(Palette::accent().name(), Palette::tertiaryText().name(QColor::HexArgb)));
    return b;
}

}  // namespace

EmptyState::EmptyState(ViewContext context, QWidget* parent) : QWidget(parent), ctx_(context) {
    setObjectName(QStringLiteral("emptyState"));
    auto* column = new QVBoxLayout(this);
    column->setSpacing(22);
    column->addStretch(1);

    QColor markColor = Palette::accent();
    markColor.setAlphaF(0.75f);
    auto* mark = new QLabel(this);
    mark->setPixmap(Icons::pixmap(QStringLiteral("waveform.path"), markColor, 72, devicePixelRatioF()));
    column->addWidget(mark, 0, Qt::AlignHCenter);

    auto* title = new QLabel(qs(L("Новый проект")), this);
    title->setFont(Fonts::ui(22, QFont::Medium));
    column->addWidget(title, 0, Qt::AlignHCenter);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    open_ = new QPushButton(Icons::icon(QStringLiteral("folder"), Palette::background(), 14), qs(L("Открыть аудио")),
                            this);
    open_->setObjectName(QStringLiteral("openAudio"));
    open_->setDefault(true);
    open_->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 6px;"
                                        " padding: 5px 12px; }"
                                        "QPushButton:pressed { background: %3; }"
                                        "QPushButton:disabled { background: %4; }")
                             .arg(Palette::accent().name(), Palette::background().name(),
                                  Palette::accent().darker(120).name(), Palette::grey().name()));
    record_ = new QPushButton(Icons::icon(QStringLiteral("mic"), Palette::primaryText(), 14), qs(L("Записать")), this);
    record_->setObjectName(QStringLiteral("recordAudio"));
    StudioStore* store = ctx_.store;
    connect(open_, &QPushButton::clicked, this, [store] { store->openPanel(); });
    connect(record_, &QPushButton::clicked, this, [store] { store->record(); });
    buttons->addStretch(1);
    buttons->addWidget(open_);
    buttons->addWidget(record_);
    buttons->addStretch(1);
    column->addLayout(buttons);

    demo_ = linkButton(qs(L("Демо-проект")), 12, this);
    demo_->setObjectName(QStringLiteral("demoProject"));
    connect(demo_, &QPushButton::clicked, this, [store] { store->loadDemo(); });
    column->addWidget(demo_, 0, Qt::AlignHCenter);

    // The support contacts; an empty product setting leaves its link out.
    const QString handle = AppConfig::messengerHandle(), page = AppConfig::messengerURL();
    const QString email = AppConfig::supportEmail();
    const bool hasMessenger = !handle.isEmpty() && QUrl(page, QUrl::StrictMode).isValid() && !page.isEmpty();
    const bool hasEmail = !email.isEmpty() && email.contains(QLatin1Char('@'));
    if (hasMessenger || hasEmail) {
        auto* contacts = new QHBoxLayout;
        contacts->setSpacing(12);
        contacts->addStretch(1);
        if (hasMessenger) {
            auto* b = linkButton(handle, 12, this);
            connect(b, &QPushButton::clicked, this, [store, page] {
                StoreUrlOpener opener(*store);
                HelpActions::openLink(opener, QUrl(page));
            });
            contacts->addWidget(b);
        }
        if (hasMessenger && hasEmail) {
            auto* dotLabel = new QLabel(QStringLiteral("\u00B7"), this);
            dotLabel->setFont(Fonts::ui(12));
            QPalette p = dotLabel->palette();
            p.setColor(QPalette::WindowText, Palette::secondaryText());
            dotLabel->setPalette(p);
            contacts->addWidget(dotLabel);
        }
        if (hasEmail) {
            auto* b = linkButton(email, 12, this);
            connect(b, &QPushButton::clicked, this, [store, email] {
                StoreUrlOpener opener(*store);
                HelpActions::openLink(opener, QUrl(QStringLiteral("mailto:") + email));
            });
            contacts->addWidget(b);
        }
        contacts->addStretch(1);
        column->addLayout(contacts);
    }
    column->addStretch(1);

    const auto refreshLocked = [this] { setEnabled(!ctx_.store->locked()); };
    connect(store, &StudioStore::busyChanged, this, refreshLocked);
    connect(ctx_.transport, &TransportSignals::recordingChanged, this, refreshLocked);
    refreshLocked();
}

}  // namespace tessoral
