#include "widgets/NumberField.h"

#include <QEvent>
#include <QFocusEvent>
#include <QLocale>

#include <algorithm>
#include <cmath>

#include "model/Localization.h"
#include "widgets/Fonts.h"

namespace tessoral {

namespace {

bool same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

NumberField::NumberField(double value, std::function<void(double)> commit, QWidget* parent)
    : QLineEdit(parent), value_(value), draft_(value), commit_(std::move(commit)) {
    setPlaceholderText(QString::fromStdString(L("Секунды")));
    setFont(Fonts::mono(11));
    show(draft_);
    connect(this, &QLineEdit::returnPressed, this, &NumberField::submit);
}

QLocale NumberField::locale() {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

QString NumberField::format(double value, int decimals) {
    if (!std::isfinite(value)) return {};
    return locale().toString(value, 'f', decimals);
}

void NumberField::setDecimals(int decimals) {
    decimals_ = std::max(0, decimals);
    if (!hasFocus()) show(draft_);
}

std::optional<double> NumberField::parse(const QString& text) {
    bool ok = false;
    const double v = locale().toDouble(text.trimmed(), &ok);
    if (!ok) return std::nullopt;
    return v;
}

void NumberField::show(double value) {
    const QString text = format(value, decimals_);
    if (this->text() != text) setText(text);
}

void NumberField::setValue(double value) {
    if (same(value, value_)) return;
    value_ = value;
    draft_ = value;
    // Typed text stays while the user is in the field; the next submit reads it.
    if (!hasFocus()) show(draft_);
}

void NumberField::submit() {
    if (const auto typed = parse(text())) draft_ = *typed;
    if (!std::isfinite(draft_) || (integral_ && draft_ != std::trunc(draft_))) {
        // "nan" and "inf" read as numbers but are none the model can hold.
        draft_ = value_;
    } else if (draft_ != value_) {
        if (commit_) commit_(draft_);
        // The field reads back what the host holds now: the new value it gave during the commit,
        // or the old one where its limits left that unchanged (or it refused the number).
        draft_ = value_;
    }
    show(draft_);
}

void NumberField::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // A popup (the context menu) takes focus only for a moment: that is no leaving of the field.
    if (event->reason() != Qt::PopupFocusReason) submit();
}

void NumberField::changeEvent(QEvent* event) {
    // The user's locale changed: show the draft in its separators.
    if (event->type() == QEvent::LocaleChange && !hasFocus()) show(draft_);
    QLineEdit::changeEvent(event);
}

}  // namespace tessoral
