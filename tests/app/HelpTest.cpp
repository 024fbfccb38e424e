// The Help menu and the About panel over a recording opener: which guide opens, the support
// mail's address and subject, the licence, the credits with and without the build settings, and
// what the status line says when nothing on the desktop opens an entry.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/menus/AboutPanel.h"
#include "app/menus/HelpOpener.h"
#include "app/shell/Footer.h"
#include "app/menus/MenuBar.h"
#include "app/shell/Surface.h"
#include "model/Localization.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

class RecordingOpener final : public UrlOpener {
public:
    std::vector<QUrl> opened;
    void open(const QUrl& url, const std::string&) override { opened.push_back(url); }
};

void touch(const std::filesystem::path& path, const char* text = "<html></html>") {
    QFile f(QString::fromStdString(path.string()));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

HelpEndpoints allSet() {
    return {QStringLiteral("https://tessoral.example/"), QStringLiteral("help@tessoral.example"),
            QStringLiteral("tessoral"), QStringLiteral("https://messenger.example/tessoral")};
}

struct Language {
    explicit Language(AppLanguage language) {
        const auto folder = std::filesystem::path(TESSORAL_SOURCE_DIR) / "resources" / "Localization";
        Localization::use(language, Localization::table(language, folder));
    }
    ~Language() { Localization::use(AppLanguage::russian, {}); }
};

}  // namespace

TEST(Help, TheGuideOfTheLanguageElseTheRussianOneElseNothing) {
    TemporaryFolder folder;
    RecordingOpener opener;
    HelpActions help(opener, folder.path(), {}, QStringLiteral("1.2"), QStringLiteral("Linux"));
    help.openGuide();
    EXPECT_TRUE(opener.opened.empty());

    touch(folder.path() / "Guide.html");
    {
        Language english(AppLanguage::english);
        help.openGuide();
    }
    ASSERT_EQ(opener.opened.size(), 1u);
    EXPECT_EQ(opener.opened[0], QUrl::fromLocalFile(QString::fromStdString((folder.path() / "Guide.html").string())));

    touch(folder.path() / "Guide.en.html");
    {
        Language english(AppLanguage::english);
        help.openGuide();
    }
    help.openGuide();
    ASSERT_EQ(opener.opened.size(), 3u);
    EXPECT_TRUE(opener.opened[1].toLocalFile().endsWith(QStringLiteral("/Guide.en.html")));
    EXPECT_TRUE(opener.opened[2].toLocalFile().endsWith(QStringLiteral("/Guide.html")));
}

TEST(Help, SupportMailNamesTheVersionAndTheSystem) {
    const auto url = HelpActions::supportMail(QStringLiteral("a@b.c"), QStringLiteral("1.2"),
                                              QStringLiteral("Debian GNU/Linux 12 (bookworm)"));
    ASSERT_TRUE(url);
    EXPECT_EQ(QString::fromLatin1(url->toEncoded()),
              QStringLiteral("mailto:a@b.c?subject=Tessoral%201.2%20%E2%80%94%20Debian%20GNU/Linux%2012%20(bookworm)"));
    // Without a version the product name is followed directly by the separator.
    EXPECT_EQ(HelpActions::supportSubject(QString(), QStringLiteral("X")), QStringLiteral("Tessoral  \u2014 X"));
    // A system name cannot start a second field of the mail.
    const auto odd = HelpActions::supportMail(QStringLiteral("a@b.c"), QStringLiteral("1"), QStringLiteral("A&cc=x"));
    ASSERT_TRUE(odd);
    EXPECT_EQ(QUrlQuery(*odd).queryItems().size(), 1);
    // Empty or unparsable addresses open nothing.
    for (const char* bad : {"", "   ", "nobody", "a@b.c?cc=x", "a b@c.d"})
        EXPECT_FALSE(HelpActions::supportMail(QString::fromLatin1(bad), QStringLiteral("1"), QStringLiteral("X"))) << bad;

    RecordingOpener opener;
    HelpEndpoints endpoints;
    HelpActions none(opener, std::nullopt, endpoints, QStringLiteral("1.2"), QStringLiteral("X"));
    none.openSupportEmail();
    none.openSite();
    EXPECT_TRUE(opener.opened.empty());
    endpoints.email = QStringLiteral("a@b.c");
    HelpActions some(opener, std::nullopt, endpoints, QStringLiteral("1.2"), QStringLiteral("X"));
    some.openSupportEmail();
    ASSERT_EQ(opener.opened.size(), 1u);
    EXPECT_EQ(opener.opened[0].scheme(), QStringLiteral("mailto"));
}

TEST(Help, LicenceOpensOnlyWhenThere) {
    TemporaryFolder folder;
    RecordingOpener opener;
    HelpActions help(opener, folder.path(), {}, QStringLiteral("1"), QStringLiteral("X"));
    help.openLicense();
    EXPECT_TRUE(opener.opened.empty());
    touch(folder.path() / "LICENSE.txt", "GPL");
    help.openLicense();
    ASSERT_EQ(opener.opened.size(), 1u);
    EXPECT_TRUE(opener.opened[0].toLocalFile().endsWith(QStringLiteral("/LICENSE.txt")));
}

TEST(Help, TheShippedGuidesAndLicenceAreInTheResources) {
    const std::filesystem::path resources = std::filesystem::path(TESSORAL_SOURCE_DIR) / "resources";
    EXPECT_EQ(HelpActions::guideFile(resources, AppLanguage::russian), resources / "Guide.html");
    EXPECT_EQ(HelpActions::guideFile(resources, AppLanguage::english), resources / "Guide.en.html");
    const auto license = HelpActions::licenseFile(resources);
    ASSERT_TRUE(license);
    QFile f(QString::fromStdString(license->string()));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("GNU GENERAL PUBLIC LICENSE"));
}

TEST(Help, MenuEntriesFollowTheEndpoints) {
    const auto shown = [](const HelpEndpoints& endpoints) {
        RecordingOpener opener;
        HelpActions help(opener, std::nullopt, endpoints, QStringLiteral("1"), QStringLiteral("X"));
        QMenu menu;
        Menus::helpMenu(&menu, help, {});
        QStringList out;
        for (QAction* a : menu.actions()) out << (a->isSeparator() ? QStringLiteral("----") : shownText(a->text()));
        return out;
    };
    const QString guide = qs(L("Руководство Tessoral")), licence = qs(L("Лицензия")), about = qs(L("О программе Tessoral"));
    EXPECT_EQ(shown({}), QStringList({guide, QStringLiteral("----"), licence, QStringLiteral("----"), about}));
    HelpEndpoints bad{QStringLiteral("not a url"), QStringLiteral("nobody"), QString(), QString()};
    EXPECT_EQ(shown(bad), shown({}));
    EXPECT_EQ(shown(allSet()), QStringList({guide, QStringLiteral("----"), qs(L("Сайт Tessoral")),
                                            qs(L("Написать в поддержку…")), licence, QStringLiteral("----"), about}));
}

TEST(Help, AboutShowsTaglineLicenceAndTheLinksThatAreSet) {
    std::vector<QUrl> clicked;
    AboutPanel full(allSet(), QStringLiteral("1.2"), [&](const QUrl& u) { clicked.push_back(u); });
    const QString credits = full.creditsLabel()->text();
    EXPECT_TRUE(credits.contains(qs(L("Локальный аудиоредактор для Linux."))));
    EXPECT_TRUE(credits.contains(qs(L("Распространяется по лицензии GNU GPL версии 3 или новее."))));
    EXPECT_EQ(credits.count(QStringLiteral("<a href")), 3);
    EXPECT_TRUE(credits.contains(QStringLiteral(">tessoral.example</a>")));
    EXPECT_TRUE(credits.contains(QStringLiteral(">help@tessoral.example</a>")));
    EXPECT_TRUE(credits.contains(QStringLiteral(">@tessoral</a>")));
    EXPECT_TRUE(credits.contains(QStringLiteral("href=\"mailto:help@tessoral.example\"")));
    // Tagline, licence line, a blank line, then one link a line.
    EXPECT_EQ(credits.count(QStringLiteral("<br>")), 5);
    emit full.creditsLabel()->linkActivated(QStringLiteral("https://tessoral.example/"));
    ASSERT_EQ(clicked.size(), 1u);
    EXPECT_EQ(clicked[0], QUrl(QStringLiteral("https://tessoral.example/")));
    EXPECT_EQ(full.findChild<QLabel*>(QStringLiteral("aboutVersion"))->text(), qs(L("Версия {0}", "1.2")));

    AboutPanel bare(HelpEndpoints{}, QStringLiteral("1.2"), {});
    EXPECT_EQ(bare.creditsLabel()->text().count(QStringLiteral("<a href")), 0);
    EXPECT_TRUE(bare.creditsLabel()->text().contains(qs(L("Распространяется по лицензии GNU GPL версии 3 или новее."))));
}

TEST(Help, AboutEntryOpensOnePanelOverTheWindow) {
    StudioFixture fx;
    MenuBar& bar = *fx.window().findChild<MenuBar*>();
    QAction* about = nullptr;
    for (QMenu* m : bar.menus())
        for (QAction* a : m->actions())
            if (shownText(a->text()) == qs(L("О программе Tessoral"))) about = a;
    ASSERT_NE(about, nullptr);
    about->trigger();
    about->trigger();
    pump();
    ASSERT_NE(bar.aboutPanel(), nullptr);
    EXPECT_TRUE(bar.aboutPanel()->isVisible());
    EXPECT_EQ(fx.window().findChildren<AboutPanel*>().size(), 1);
    bar.aboutPanel()->close();
}

// ---- a desktop that opens nothing ----

namespace {

QAction* entry(const QList<QMenu*>& menus, const std::string& title) {
    for (QMenu* m : menus)
        for (QAction* a : m->actions())
            if (shownText(a->text()) == qs(title)) return a;
    return nullptr;
}

}  // namespace

TEST(Help, EntriesNothingCanOpenSayWhyInTheStatusLine) {
    StudioFixture fx;
    fx.window().show();
    pump();
    FakeShell& shell = fx.services.shell;
    StudioStore& store = fx.store();
    const ElidedLabel* line = fx.view().footer()->statusLabel();
    const auto said = [&](const std::string& text) {
        EXPECT_EQ(store.status(), text);
        EXPECT_EQ(line->text(), qs(text));
    };
    const std::filesystem::path resources = std::filesystem::path(TESSORAL_SOURCE_DIR) / "resources";

    // The window's own menu: the guide and the licence from the resources.
    MenuBar& bar = *fx.window().findChild<MenuBar*>();
    shell.failing = true;
    QAction* guide = entry(bar.menus(), L("Руководство Tessoral"));
    ASSERT_NE(guide, nullptr);
    guide->trigger();
    ASSERT_EQ(shell.opened.size(), 1u);
    EXPECT_EQ(QUrl::fromEncoded(QByteArray::fromStdString(shell.opened[0])).scheme(), QStringLiteral("file"));
    said(L("Не удалось открыть руководство: не найдена программа для просмотра. Файл: {0}",
           (resources / "Guide.html").string()));
    entry(bar.menus(), L("Лицензия"))->trigger();
    said(L("Не удалось открыть лицензию: не найдена программа для просмотра. Файл: {0}",
           (resources / "LICENSE.txt").string()));

    // The site and the mail, with the contact points set.
    StoreUrlOpener opener(store);
    HelpActions help(opener, resources, allSet(), QStringLiteral("1.2"), QStringLiteral("Linux"));
    QMenu menu;
    Menus::helpMenu(&menu, help, {});
    entry({&menu}, L("Сайт Tessoral"))->trigger();
    said(L("Не удалось открыть страницу: не найден браузер. Адрес: {0}", "https://tessoral.example/"));
    entry({&menu}, L("Написать в поддержку…"))->trigger();
    EXPECT_TRUE(shell.opened.back().starts_with("mailto:help@tessoral.example?subject="));
    said(L("Не удалось создать письмо: не найдена почтовая программа. Адрес поддержки: {0}",
           "help@tessoral.example"));
    // The About panel's links go the same way.
    AboutPanel about(help.endpoints(), QStringLiteral("1.2"), [&help](const QUrl& url) { help.openLink(url); });
    store.setStatus("");
    emit about.creditsLabel()->linkActivated(QStringLiteral("https://messenger.example/tessoral"));
    said(L("Не удалось открыть страницу: не найден браузер. Адрес: {0}", "https://messenger.example/tessoral"));
    emit about.creditsLabel()->linkActivated(QStringLiteral("mailto:help@tessoral.example"));
    said(L("Не удалось создать письмо: не найдена почтовая программа. Адрес поддержки: {0}",
           "help@tessoral.example"));
    EXPECT_EQ(shell.opened.size(), 6u);

    // Where the desktop opens them, the status line is left alone.
    shell.failing = false;
    store.setStatus("Готово");
    guide->trigger();
    entry({&menu}, L("Написать в поддержку…"))->trigger();
    said("Готово");
    EXPECT_EQ(shell.opened.size(), 8u);
}
