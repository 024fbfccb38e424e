#include "app/shell/Footer.h"

#include <QHBoxLayout>
#include <QLabel>

#include "model/Localization.h"
#include "model/NumberFormat.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"
#include "widgets/Fonts.h"
#include "widgets/Palette.h"
#include "widgets/Spinner.h"

namespace tessoral {

namespace {
QString qs(const std::string& s) { return QString::fromStdString(s); }

QLabel* label(const QString& text, const QColor& color, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setFont(Fonts::ui(10));
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, color);
    l->setPalette(p);
    return l;
}
}  // namespace

QString Footer::sizeText(std::int64_t bytes) {
    const std::int64_t mib = bytes > 0 ? bytes / 1048576 : 0;
    return qs(L("{0} МБ", num::integer(mib)));
}

Footer::Footer(ViewContext context, QWidget* parent) : Surface(Palette::panel(), parent), ctx_(context) {
    setObjectName(QStringLiteral("footer"));
    setFixedHeight(kHeight);
    setFont(Fonts::ui(10));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 0, 16, 0);
    row->setSpacing(8);

    spinner_ = new Spinner(10, this);
    spinner_->setObjectName(QStringLiteral("activitySpinner"));
    dot_ = new Dot(5, Palette::accent(), this);
    dot_->setObjectName(QStringLiteral("statusDot"));
    row->addWidget(spinner_);
    row->addWidget(dot_);

    status_ = new ElidedLabel(this);
    status_->setObjectName(QStringLiteral("statusLine"));
    status_->setFont(Fonts::ui(10));
    row->addWidget(status_, 1);

    size_ = label({}, Palette::secondaryText(), this);
    size_->setObjectName(QStringLiteral("projectSize"));
    row->addWidget(size_);
    row->addWidget(label(QStringLiteral("\u2022"), Palette::quaternaryText(), this));
    row->addWidget(label(qs(L("Локально")), Palette::secondaryText(), this));

    StudioStore* store = ctx_.store;
    connect(store, &StudioStore::statusChanged, this, [this] { status_->setText(qs(ctx_.store->status())); });
    connect(store, &StudioStore::sessionChanged, this,
            [this] { size_->setText(sizeText(ctx_.store->session().bytes())); });
    connect(store, &StudioStore::busyChanged, this, &Footer::refreshIndicator);
    connect(ctx_.transport, &TransportSignals::recordingChanged, this, &Footer::refreshIndicator);

    status_->setText(qs(store->status()));
    size_->setText(sizeText(store->session().bytes()));
    refreshIndicator();
}

void Footer::refreshIndicator() {
    const bool busy = ctx_.store->busy();
    spinner_->setVisible(busy);
    dot_->setVisible(!busy);
    dot_->setColor(ctx_.transport->recording() ? Palette::red() : Palette::accent());
}

}  // namespace tessoral
