#pragma once

#include <QLineEdit>
#include <QLocale>

#include <functional>
#include <optional>

namespace tessoral {

// A small text field for a number of seconds, in the user's locale with exactly three decimals
// ("12.500", "12,500"). The user edits a private draft; Return and leaving the field each submit
// once: a finite draft that differs from the committed value goes to `commit`; text that does not
// read as a number, and "nan" or "inf", bring the committed value back. The host limits the value
// and gives the result back through setValue() during the commit; after every submit the field
// shows the committed value, also when the host's limits left it unchanged.
class NumberField : public QLineEdit {
    Q_OBJECT
public:
    NumberField(double value, std::function<void(double)> commit, QWidget* parent = nullptr);

    // The committed value; a change resets the draft (the text follows unless the user is typing).
    void setValue(double value);
    void setCommit(std::function<void(double)> commit) { commit_ = std::move(commit); }
    double value() const { return value_; }
    double draft() const { return draft_; }

    // The value as the field shows it in the current default locale.
    static QString format(double value, int decimals = 3);
    // The interface language's number style without grouping, for every typed number field: "1,5"
    // in English is no number (never 15), and a value is never shown with separators that a reader
    // could take for a decimal sign.
    static QLocale locale();
    // The text read in the current default locale; none when it is not a number.
    static std::optional<double> parse(const QString& text);

    // Fraction digits shown (three unless set); an integral field also brings the committed
    // value back for text that is no whole number.
    void setDecimals(int decimals);
    int decimals() const { return decimals_; }
    void setIntegral(bool integral) { integral_ = integral; }

    // Reads the typed text into the draft, then submits it: what Return and focus loss do.
    void submit();

protected:
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void show(double value);

    double value_;
    double draft_;
    int decimals_ = 3;
    bool integral_ = false;
    std::function<void(double)> commit_;
};

}  // namespace tessoral
