#include "app/menus/AboutPanel.h"

#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

#include "model/Localization.h"
#include "widgets/Fonts.h"
#include "widgets/Icons.h"
#include "widgets/Palette.h"

namespace tessoral {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

QString link(const QUrl& url, const QString& text) {
    return QStringLiteral("<a href=\"%1\" style=\"color:%2; text-decoration:none\">%3</a>")
        .arg(QString::fromUtf8(url.toEncoded()).toHtmlEscaped(), Palette::link().name(), text.toHtmlEscaped());
}

QLabel* label(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setFont(font);
    l->setAlignment(Qt::AlignHCenter);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, color);
    l->setPalette(p);
    return l;
}

}  // namespace

QString AboutPanel::credits(const HelpEndpoints& endpoints) {
    QStringList links;
    if (auto site = endpoints.siteURL()) links << link(*site, endpoints.siteDisplay());
    if (auto mail = endpoints.emailURL()) links << link(*mail, endpoints.email.trimmed());
    if (auto page = endpoints.messengerPage()) links << link(*page, endpoints.messengerDisplay());
    QString html = QStringLiteral("<div align=\"center\">") + qs(L("Локальный аудиоредактор для Linux.")).toHtmlEscaped() +
                   QStringLiteral("<br>") +
                   qs(L("Распространяется по лицензии GNU GPL версии 3 или новее.")).toHtmlEscaped();
    if (!links.isEmpty()) html += QStringLiteral("<br><br>") + links.join(QStringLiteral("<br>"));
    return html + QStringLiteral("</div>");
}

AboutPanel::AboutPanel(const HelpEndpoints& endpoints, const QString& version,
                       std::function<void(const QUrl&)> openLink, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("aboutPanel"));
    setWindowTitle(qs(L("О программе Tessoral")));
    setFixedWidth(300);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 22, 24, 22);
    column->setSpacing(6);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    const QIcon appIcon = QIcon::fromTheme(QStringLiteral("tessoral"), Icons::icon(QStringLiteral("waveform"), Palette::accent(), 64));
    icon->setPixmap(appIcon.pixmap(64, 64));
    icon->setAlignment(Qt::AlignHCenter);
    column->addWidget(icon);
    column->addSpacing(4);
    column->addWidget(label(QStringLiteral("Tessoral"), Fonts::ui(15, QFont::DemiBold), Palette::primaryText(), this));
    auto* versionLabel = label(qs(L("Версия {0}", version.toStdString())), Fonts::ui(11), Palette::secondaryText(), this);
    versionLabel->setObjectName(QStringLiteral("aboutVersion"));
    column->addWidget(versionLabel);
    column->addSpacing(10);

    credits_ = label(QString(), Fonts::ui(11), Palette::primaryText(), this);
    credits_->setObjectName(QStringLiteral("aboutCredits"));
    credits_->setTextFormat(Qt::RichText);
    credits_->setWordWrap(true);
    credits_->setText(credits(endpoints));
    credits_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    credits_->setOpenExternalLinks(false);
    connect(credits_, &QLabel::linkActivated, this, [openLink = std::move(openLink)](const QString& href) {
        if (openLink) openLink(QUrl::fromEncoded(href.toUtf8()));
    });
    column->addWidget(credits_);
}

}  // namespace tessoral
