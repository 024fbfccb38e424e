#pragma once

#include <QDialog>
#include <QString>

#include <functional>

#include "app/menus/HelpOpener.h"

class QLabel;

namespace tessoral {

// "О программе Tessoral": the program's icon, name and version over the credits — the tagline,
// the licence line, then the site, support address and messenger contact as links, each on its own
// centred line (a contact that is not set is left out). Links open through `openLink`.
class AboutPanel : public QDialog {
    Q_OBJECT
public:
    AboutPanel(const HelpEndpoints& endpoints, const QString& version, std::function<void(const QUrl&)> openLink,
               QWidget* parent = nullptr);

    // The credits as rich text (also what the panel shows).
    static QString credits(const HelpEndpoints& endpoints);
    QLabel* creditsLabel() const { return credits_; }

private:
    QLabel* credits_;
};

}  // namespace tessoral
