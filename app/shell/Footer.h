#pragma once

#include <cstdint>

#include "app/shell/Surface.h"
#include "app/shell/ViewContext.h"

class QLabel;

namespace tessoral {

class Dot;
class Spinner;

// The bottom row: the activity indicator, the status line, the project's decoded size and "Локально".
class Footer : public Surface {
    Q_OBJECT
public:
    static constexpr int kHeight = 27;
    explicit Footer(ViewContext context, QWidget* parent = nullptr);

    // "{0} МБ" with the whole mebibytes of `bytes` (the fraction dropped; negative counts as 0).
    static QString sizeText(std::int64_t bytes);

    Spinner* spinner() const { return spinner_; }
    Dot* dot() const { return dot_; }
    ElidedLabel* statusLabel() const { return status_; }
    QLabel* sizeLabel() const { return size_; }

private:
    void refreshIndicator();

    ViewContext ctx_;
    Spinner* spinner_;
    Dot* dot_;
    ElidedLabel* status_;
    QLabel* size_;
};

}  // namespace tessoral
