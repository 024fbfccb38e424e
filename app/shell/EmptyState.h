#pragma once

#include <QWidget>

#include "app/shell/ViewContext.h"

class QPushButton;

namespace tessoral {

// What the editor area shows while the project has no track rows, in every mode: open, record,
// the demo project and the support contacts. Disabled while the store is locked.
class EmptyState : public QWidget {
    Q_OBJECT
public:
    explicit EmptyState(ViewContext context, QWidget* parent = nullptr);

    QPushButton* openButton() const { return open_; }
    QPushButton* recordButton() const { return record_; }
    QPushButton* demoButton() const { return demo_; }

private:
    ViewContext ctx_;
    QPushButton* open_;
    QPushButton* record_;
    QPushButton* demo_;
};

}  // namespace tessoral
