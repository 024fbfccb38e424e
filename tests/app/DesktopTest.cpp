// Command line, single instance over the local socket, and the recently-used list.
#include <QDomDocument>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QTreeView>
#include <QScreen>
#include <QGuiApplication>
#include <QPointer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QAbstractButton>
#include <QAccessible>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QMessageBox>
#include <QSettings>
#include <QTest>
#include <QElapsedTimer>
#include <QTimer>
#include <QTemporaryDir>
#include <QUrl>
#include <QProcess>

#include <csignal>
#include <optional>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "support/views/Contrast.h"
#include "app/shell/CommandLine.h"
#include "app/shell/FileNames.h"
#include "app/shell/OldSettings.h"
#include "app/shell/QtPrompts.h"
#include "app/shell/RecentlyUsed.h"
#include "app/shell/SingleInstance.h"
#include "model/Localization.h"

using namespace tessoral;
using namespace tessoral::test;

TEST(CommandLine, OptionsFilesAndRefusals) {
    auto run = parseCommandLine({"tessoral", "--demo", "a.wav", "/x/b.tessoral"}, "/home/u");
    EXPECT_EQ(run.action, LaunchRequest::Action::run);
    EXPECT_TRUE(run.demo);
    EXPECT_EQ(run.files, (std::vector<std::filesystem::path>{"/home/u/a.wav", "/x/b.tessoral"}));

    auto version = parseCommandLine({"tessoral", "--version"}, "/");
    EXPECT_EQ(version.action, LaunchRequest::Action::exit);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.output.startsWith("Tessoral "));

    auto help = parseCommandLine({"tessoral", "--help"}, "/");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.output.contains("--demo"));
    EXPECT_TRUE(help.output.contains("tessoral"));

    for (const char* bad : {"--bogus", "-x"}) {
        auto refused = parseCommandLine({"tessoral", bad, "a.wav"}, "/");
        EXPECT_EQ(refused.action, LaunchRequest::Action::exit) << bad;
        EXPECT_EQ(refused.exitCode, 2) << bad;
        EXPECT_TRUE(refused.errorOutput.contains("--demo")) << bad;  // the usage follows the error
        EXPECT_TRUE(refused.output.isEmpty());
    }
    // After "--" a name that looks like an option is a file.
    auto dashed = parseCommandLine({"tessoral", "--", "--odd.wav"}, "/d");
    EXPECT_EQ(dashed.files, std::vector<std::filesystem::path>{"/d/--odd.wav"});
}

TEST(CommandLine, FileNamesKeepTheirBytesAndLocalUrisGiveTheirFiles) {
    // Bytes that are no UTF-8, in a relative name, an absolute one and the working folder itself.
    const std::string odd = "\xff\xfe";
    auto run = parseCommandLine({"tessoral", "take" + odd + ".wav", "/m/" + odd + "/./p.tessoral", "--demo"},
                                "/home/" + odd);
    EXPECT_TRUE(run.demo);
    EXPECT_EQ(run.files, (std::vector<std::filesystem::path>{"/home/" + odd + "/take" + odd + ".wav",
                                                             "/m/" + odd + "/p.tessoral"}));
    // The desktop's recent list starts "tessoral %u": a file URI, its escapes decoded as bytes.
    auto uri = parseCommandLine({"tessoral", "file:///a/%FF%FEb%20c.tessoral", "file://localhost/x.wav",
                                 "file://host/y.wav"},
                                "/w");
    EXPECT_EQ(uri.files, (std::vector<std::filesystem::path>{"/a/" + odd + "b c.tessoral", "/x.wav",
                                                             "/w/file:/host/y.wav"}));
}

namespace {

// Hands files over from another thread while this one runs the primary's event loop.
// `silentMs` > 0: the primary does not answer meanwhile (stopped), and the start waits that long.
bool handOver(const QString& path, const QByteArrayList& files, SingleInstance::Role* role, int silentMs = 0,
              QString* error = nullptr) {
    std::atomic<bool> done{false};
    std::thread client([&] {
        SingleInstance second(path);
        *role = second.start(files, silentMs > 0 ? silentMs : 3000);
        if (error) *error = second.errorText();
        done = true;
    });
    if (silentMs > 0) client.join();
    while (!done) QApplication::processEvents(QEventLoop::AllEvents, 10);
    if (client.joinable()) client.join();
    return *role == SingleInstance::Role::handedOver;
}

// Confirms every hand-over `first` receives (as the program does once it can open them), or
// refuses them (as it does when it quits); `answers` records what each confirmation said.
void decide(SingleInstance& first, std::vector<bool>& answers, bool open = true) {
    QObject::connect(&first, &SingleInstance::filesReceived, &first, [&first, &answers, open](auto&&, auto&&, quint64 r) {
        if (open) answers.push_back(first.confirm(r));
        else first.refuse(r);
    });
}

}  // namespace

TEST(SingleInstance, ASecondStartHandsItsFilesToTheFirst) {
    QTemporaryDir dir;
    const QString path = dir.filePath("tessoral.socket");
    SingleInstance first(path);
    ASSERT_EQ(first.start({}), SingleInstance::Role::primary);
    QSignalSpy received(&first, &SingleInstance::filesReceived);
    std::vector<bool> answers;
    decide(first, answers);
    SingleInstance::Role role{};
    // Names are bytes: UTF-8 or not, they arrive as they were sent.
    const QByteArrayList files{"/music/other.wav", "/music/Ёлка.wav", "/music/\xff\xfe.wav"};
    // The start's activation token goes along (its window may come forward on Wayland), whole.
    const QByteArray token = "kwin-3f6c2a0e-9b1d-4e57-a8c4-71d2e9f0b635_TIME1234567";
    qputenv("XDG_ACTIVATION_TOKEN", token);
    ASSERT_TRUE(handOver(path, files, &role));
    qunsetenv("XDG_ACTIVATION_TOKEN");
    pump();
    ASSERT_EQ(received.count(), 1);
    EXPECT_EQ(received.at(0).at(0).value<QByteArrayList>(), files);
    EXPECT_EQ(received.at(0).at(1).toByteArray(), token);
    // Kept for Qt's Wayland plugin only.
    SingleInstance::adoptActivationToken("token-1", QStringLiteral("xcb"));
    EXPECT_FALSE(qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"));
    SingleInstance::adoptActivationToken("token-1", QStringLiteral("wayland"));
    EXPECT_EQ(qgetenv("XDG_ACTIVATION_TOKEN"), QByteArray("token-1"));
    qunsetenv("XDG_ACTIVATION_TOKEN");
    // A start without files still reaches the first (to bring its window forward); without a
    // token its message is the one earlier versions send.
    ASSERT_TRUE(handOver(path, {}, &role));
    pump();
    EXPECT_EQ(received.count(), 2);
    EXPECT_TRUE(received.at(1).at(1).toByteArray().isEmpty());
    EXPECT_EQ(answers, (std::vector<bool>{true, true}));
    EXPECT_EQ(first.waiting(), 0u);

    // A first program stopped past the start's wait: the start says so in the interface language
    // and fails; woken, the program finds the start gone and does not open the file.
    QString error;
    EXPECT_FALSE(handOver(path, {"/a.wav"}, &role, 300, &error));
    EXPECT_EQ(error, SingleInstance::notOpenedText(SingleInstance::Delivery::noAnswer, 1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return received.count() == 3; }));
    EXPECT_EQ(answers, (std::vector<bool>{true, true, false}));
    // A program holding the files (a question waits) is heard from every second: the start waits
    // past its own limit of silence for the decision.
    SingleInstance holding(dir.filePath("holding.socket"));
    ASSERT_EQ(holding.start({}), SingleInstance::Role::primary);
    std::optional<quint64> held;
    QObject::connect(&holding, &SingleInstance::filesReceived, &holding, [&](auto&&, auto&&, quint64 r) { held = r; });
    std::thread waiting([&] { role = SingleInstance(holding.socketPath()).start({"/a.wav"}, 3000); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return held.has_value(); }));
    QTest::qWait(4000);
    EXPECT_TRUE(holding.confirm(*held));
    waiting.join();
    EXPECT_EQ(role, SingleInstance::Role::handedOver);
    // A program that quits before it could open them refuses them; the start says so.
    SingleInstance quitting(dir.filePath("quitting.socket"));
    ASSERT_EQ(quitting.start({}), SingleInstance::Role::primary);
    decide(quitting, answers, false);
    EXPECT_FALSE(handOver(quitting.socketPath(), {"/a.wav", "/b.wav"}, &role, 0, &error));
    EXPECT_EQ(error, SingleInstance::notOpenedText(SingleInstance::Delivery::refused, 2));
    EXPECT_EQ(error, qs(L("Запущенный Tessoral завершает работу: {0}",
                          LP(2, "{0} файл не открыт|{0} файла не открыты|{0} файлов не открыто"))));
}

// The start stopped between the program's "about to open" and its own last word: the program
// gives the files up after a while, and the start, woken, learns that they were not opened.
TEST(SingleInstance, AStartStoppedBeforeItsLastWordLeavesTheFilesUnopened) {
    QTemporaryDir dir;
    const QString path = dir.filePath("tessoral.socket");
    SingleInstance first(path);
    ASSERT_EQ(first.start({}), SingleInstance::Role::primary);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TESSORAL_HANDOVER_SOCKET"), path);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    std::optional<bool> confirmed;
    QObject::connect(&first, &SingleInstance::filesReceived, &first, [&](auto&&, auto&&, quint64 request) {
        ::kill(pid_t(child.processId()), SIGSTOP);
        confirmed = first.confirm(request);
        ::kill(pid_t(child.processId()), SIGCONT);
    });
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=SingleInstanceChild.*")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return confirmed.has_value(); }, 60000));
    ASSERT_TRUE(child.waitForFinished(60000));
    const QString output = QString::fromUtf8(child.readAll());
    EXPECT_FALSE(*confirmed);
    EXPECT_TRUE(output.contains(QStringLiteral("delivery 1\n"))) << output.toStdString();  // refused
}

TEST(SingleInstanceChild, HandsAFileOver) {
    const QString path = qEnvironmentVariable("TESSORAL_HANDOVER_SOCKET");
    if (path.isEmpty()) GTEST_SKIP() << "run by SingleInstance.AStartStoppedBeforeItsLastWord…";
    std::printf("delivery %d\n", int(SingleInstance::send(path, {"/a.wav"})));
}

TEST(SingleInstance, AStaleSocketFromAKilledProgramIsTakenOver) {
    QTemporaryDir dir;
    const QString path = dir.filePath("tessoral.socket");
    // What a killed program leaves: a bound socket file nobody listens on.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path);
    std::memcpy(addr.sun_path, native.constData(), size_t(native.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(path));

    SingleInstance instance(path);
    EXPECT_EQ(instance.start({"/a.wav"}), SingleInstance::Role::primary);
    std::vector<bool> answers;
    decide(instance, answers);
    SingleInstance::Role role{};
    EXPECT_TRUE(handOver(path, {"/b.wav"}, &role));
}

TEST(SingleInstance, GarbageOnTheSocketIsIgnored) {
    QTemporaryDir dir;
    const QString path = dir.filePath("tessoral.socket");
    SingleInstance first(path);
    ASSERT_EQ(first.start({}), SingleInstance::Role::primary);
    QSignalSpy received(&first, &SingleInstance::filesReceived);
    std::vector<bool> answers;
    decide(first, answers);
    std::atomic<bool> done{false};
    std::thread client([&] {
        // Plain garbage, and the right magic with an absurd file count that must not be reserved.
        for (const QByteArray& junk : {QByteArray("\x00\x00\x00\x08garbage!", 12),
                                       QByteArray("\x00\x00\x00\x08TSS1\xff\xff\xff\xf0", 12)}) {
            QLocalSocket s;
            s.connectToServer(path);
            if (!s.waitForConnected(2000)) break;
            s.write(junk);
            s.waitForBytesWritten(2000);
            s.waitForDisconnected(500);
        }
        done = true;
    });
    while (!done) QApplication::processEvents(QEventLoop::AllEvents, 10);
    client.join();
    pump();
    EXPECT_EQ(received.count(), 0);
    SingleInstance::Role role{};
    EXPECT_TRUE(handOver(path, {"/ok.wav"}, &role));  // still serving
}

TEST(RecentlyUsed, AddsThenRefreshesOneBookmarkAndKeepsOthers) {
    QTemporaryDir dir;
    const QString list = dir.filePath("recently-used.xbel");
    {
        QFile f(list);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(R"(<?xml version="1.0" encoding="UTF-8"?>
<xbel version="1.0" xmlns:bookmark="http://www.freedesktop.org/standards/desktop-bookmarks" xmlns:mime="http://www.freedesktop.org/standards/shared-mime-info">
  <bookmark href="file:///other/doc.txt" added="2020-01-01T00:00:00.000000Z" modified="2020-01-01T00:00:00.000000Z" visited="2020-01-01T00:00:00.000000Z">
    <info><metadata owner="http://freedesktop.org"><mime:mime-type type="text/plain"/>
      <bookmark:applications><bookmark:application name="gedit" exec="'gedit %u'" modified="2020-01-01T00:00:00Z" count="3"/></bookmark:applications>
    </metadata></info>
  </bookmark>
</xbel>
)");
    }
    const QString file = "/home/u/Мой проект & co.tessoral";
    const std::filesystem::path filePath(file.toStdString());
    const QDateTime t0 = QDateTime::fromString("2026-01-02T03:04:05Z", Qt::ISODate);
    ASSERT_TRUE(RecentlyUsed::note(list, filePath, "application/x-tessoral-project", "Tessoral", "'tessoral %u'", t0));
    ASSERT_TRUE(RecentlyUsed::note(list, filePath, "application/x-tessoral-project", "Tessoral", "'tessoral %u'",
                                   t0.addSecs(60)));

    QFile f(list);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QDomDocument doc;
    ASSERT_TRUE(doc.setContent(&f, true));
    const QDomNodeList bookmarks = doc.documentElement().elementsByTagName("bookmark");
    ASSERT_EQ(bookmarks.size(), 2);
    const QDomElement ours = bookmarks.at(1).toElement();
    EXPECT_EQ(QUrl::fromEncoded(ours.attribute("href").toUtf8()).toLocalFile(), file);
    EXPECT_EQ(ours.attribute("added"), "2026-01-02T03:04:05.000000Z");
    EXPECT_EQ(ours.attribute("modified"), "2026-01-02T03:05:05.000000Z");
    const QDomNodeList apps =
        ours.elementsByTagNameNS("http://www.freedesktop.org/standards/desktop-bookmarks", "application");
    ASSERT_EQ(apps.size(), 1);
    EXPECT_EQ(apps.at(0).toElement().attribute("count"), "2");
    EXPECT_EQ(apps.at(0).toElement().attribute("name"), "Tessoral");
    const QDomNodeList mime = ours.elementsByTagNameNS("http://www.freedesktop.org/standards/shared-mime-info", "mime-type");
    ASSERT_EQ(mime.size(), 1);
    EXPECT_EQ(mime.at(0).toElement().attribute("type"), "application/x-tessoral-project");
    // The other program's entry is untouched.
    const QDomElement other = bookmarks.at(0).toElement();
    EXPECT_EQ(other.attribute("href"), "file:///other/doc.txt");
    EXPECT_EQ(other.elementsByTagNameNS("http://www.freedesktop.org/standards/desktop-bookmarks", "application")
                  .at(0).toElement().attribute("count"),
              "3");
}

TEST(FileNames, ANameThatIsNoUtf8ShowsReadablyAndComesBackFromItsDisplayForm) {
    QTemporaryDir dir;
    const std::filesystem::path folder = dir.path().toStdString() + "/\xff\xfe folder";
    std::filesystem::create_directory(folder);
    const std::filesystem::path file = folder / "take\xfe.wav";
    writeTone(file);
    const QString shown = FileNames::display(file);
    EXPECT_TRUE(shown.endsWith(QStringLiteral("/\uFFFD\uFFFD folder/take\uFFFD.wav"))) << shown.toStdString();
    // What a file dialog gives back is the display form; it finds the file on disk again.
    EXPECT_EQ(FileNames::native(shown), file);
    EXPECT_EQ(FileNames::native(dir.path() + "/plain.wav"), std::filesystem::path(dir.path().toStdString()) / "plain.wav");
    // Two names that read the same cannot be told apart: that part stays as written.
    writeTone(folder / "take\xff.wav");
    EXPECT_EQ(FileNames::native(shown), folder / "take\xef\xbf\xbd.wav");
    std::filesystem::remove(folder / "take\xff.wav");

    // The recent list holds the exact bytes, and the command line the desktop runs from it
    // ("tessoral %u") opens that very file.
    const QString list = dir.filePath("recently-used.xbel");
    ASSERT_TRUE(RecentlyUsed::note(list, file, "audio/x-wav", "Tessoral", "'tessoral %u'"));
    QFile f(list);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QDomDocument doc;
    ASSERT_TRUE(doc.setContent(&f, true));
    const QString href = doc.documentElement().elementsByTagName("bookmark").at(0).toElement().attribute("href");
    EXPECT_TRUE(href.endsWith("/%FF%FE%20folder/take%FE.wav")) << href.toStdString();
    const auto run = parseCommandLine({"tessoral", href.toStdString()}, "/");
    EXPECT_EQ(run.files, std::vector<std::filesystem::path>{file});
    std::filesystem::remove_all(folder);  // QTemporaryDir cannot remove a name that is no UTF-8
}

namespace {

// The visible file dialog, or none.
QFileDialog* openFileDialog() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible()) return d;
    return nullptr;
}

// Types `name` into the next file dialog as a person would and accepts it; `then` answers what
// follows (it runs once the accept has returned to the event loop). Whatever is still open a few
// seconds later is closed and counts as a failure.
void typeIntoFileDialog(const QString& name, std::function<void(QPointer<QFileDialog>)> then,
                        std::function<void(QFileDialog*)> alsoSelect = nullptr) {
    QTimer::singleShot(0, [name, then, alsoSelect] {
        QFileDialog* dialog = openFileDialog();
        if (!dialog) {
            ADD_FAILURE() << "no file dialog";
            return;
        }
        const QPointer<QFileDialog> guard(dialog);
        if (then) QTimer::singleShot(0, [then, guard] { then(guard); });
        QTimer::singleShot(3000, [guard] {
            if (!guard || !guard->isVisible()) return;
            ADD_FAILURE() << "the file dialog is still open";
            while (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->reject();
        });
        dialog->selectFile(name);
        if (alsoSelect) alsoSelect(dialog);
        const auto take = dialog->findChild<QDialogButtonBox*>()->button(dialog->acceptMode() == QFileDialog::AcceptSave ? QDialogButtonBox::Save : QDialogButtonBox::Open);
        EXPECT_TRUE(!take->isEnabled() || test::accentFilled(take));  // in the default look once Qt takes the name
        static_cast<QDialog*>(dialog)->accept();
    });
}

// Answers the next file dialog with `name`. A question that follows is answered with `confirm`
// (Yes or No), its text read into `read` as a screen reader reads it; after No the dialog is cancelled.
void answerFileDialog(const QString& name, std::optional<bool> confirm = std::nullopt, QString* read = nullptr) {
    if (!confirm) {
        typeIntoFileDialog(name, nullptr);
        return;
    }
    typeIntoFileDialog(name, [yes = *confirm, read](QPointer<QFileDialog> guard) {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            ADD_FAILURE() << "no question";
            return;
        }
        if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label")); label && read)
            *read = QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
        EXPECT_TRUE(box->defaultButton() == box->button(QMessageBox::No) && test::accentFilled(box->defaultButton()));
        yes ? box->button(QMessageBox::Yes)->click() : QTest::keyClick(box, Qt::Key_Return);  // No is Return's
        if (!yes) QTimer::singleShot(0, [guard] { if (guard) guard->reject(); });
    });
}

}  // namespace

TEST(QtPrompts, TheFileDialogsOpenAndReplaceNamesThatAreNoUtf8) {
    // Qt's own dialog lists such a name with U+FFFD, which is what a person picks or types.
    QTemporaryDir dir;
    const std::filesystem::path folder = dir.path().toStdString();
    const auto file = writeTone(folder / "take\xfe.wav");
    const auto odd = folder / "\xff\xfe";
    std::filesystem::create_directory(odd);
    QtPrompts prompts([] { return nullptr; });

    OpenRequest open;
    open.title = "Открыть аудио или проект";
    open.folder = folder;
    answerFileDialog(FileNames::display(file.filename()));
    EXPECT_EQ(prompts.chooseFilesToOpen(open), std::vector<std::filesystem::path>{file});
    // The type filter names each pattern once, and a name in capitals still passes it.
    const QStringList types = QtPrompts::nameFilters({{"Аудио", {"wav", "aiff"}}});
    EXPECT_EQ(types, QStringList{QString::fromUtf8("Аудио (*.wav *.aiff)")});
    writeTone(folder / "TAKE.WAV");
    QFileDialog typed(nullptr, QString(), dir.path(), types.front());
    typed.setOption(QFileDialog::DontUseNativeDialog, true);
    auto* listing = typed.findChild<QFileSystemModel*>();
    ASSERT_NE(listing, nullptr);
    auto listed = [&] {
        QStringList names;
        const QModelIndex root = listing->index(dir.path());
        for (int i = 0; i < listing->rowCount(root); ++i) names << listing->index(i, 0, root).data().toString();
        return names;
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed().contains("TAKE.WAV"); })) << listed().join(' ').toStdString();

    FolderRequest chooseFolder;
    chooseFolder.folder = folder;
    answerFileDialog(FileNames::display(odd.filename()));
    EXPECT_EQ(prompts.chooseFolder(chooseFolder), odd);

    SaveRequest save;
    save.title = "Экспорт микса";
    save.extension = "wav";
    save.folder = folder;
    // Over the existing file: asked first; No keeps the dialog, Yes gives that very file.
    answerFileDialog(FileNames::display(file.filename()), false);
    EXPECT_EQ(prompts.chooseSaveFile(save), std::nullopt);
    answerFileDialog(FileNames::display(file.filename()), true);
    EXPECT_EQ(prompts.chooseSaveFile(save), file);
    // A new name keeps its text; an ordinary name that exists is asked about the same way.
    answerFileDialog("mix.wav");
    EXPECT_EQ(prompts.chooseSaveFile(save), folder / "mix.wav");
    // A path typed through the dialog's own folder, that folder left selected in the list (as a
    // listing that changes while the path is typed may leave it): the typed name is taken.
    typeIntoFileDialog(dir.path() + "/typed.wav", nullptr, [path = dir.path()](QFileDialog* dialog) {
        dialog->findChild<QListView*>(QStringLiteral("listView"))->selectionModel()->select(
            dialog->findChild<QFileSystemModel*>()->index(path), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    });
    EXPECT_EQ(prompts.chooseSaveFile(save), folder / "typed.wav");
    writeTone(folder / "mix.wav");
    answerFileDialog("mix.wav", false);
    EXPECT_EQ(prompts.chooseSaveFile(save), std::nullopt);
    answerFileDialog("mix.wav", true);
    EXPECT_EQ(prompts.chooseSaveFile(save), folder / "mix.wav");
    // A name that looks like markup reads as it is written.
    writeTone(folder / "<b>mix.wav");
    QString question;
    answerFileDialog("<b>mix.wav", true, &question);
    EXPECT_EQ(prompts.chooseSaveFile(save), folder / "<b>mix.wav");
    EXPECT_TRUE(question.startsWith("<b>mix.wav")) << question.toStdString();
    std::filesystem::remove_all(folder);  // QTemporaryDir cannot remove a name that is no UTF-8
}

TEST(RecentlyUsed, AnUnreadableListIsLeftAlone) {
    QTemporaryDir dir;
    const QString list = dir.filePath("recently-used.xbel");
    {
        QFile f(list);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<xbel><bookmark href=");
    }
    EXPECT_FALSE(RecentlyUsed::note(list, "/a.wav", "audio/x-wav", "Tessoral", "'tessoral %u'"));
    QFile f(list);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("<xbel><bookmark href="));
    // A missing list is created.
    const QString fresh = dir.filePath("sub/recently-used.xbel");
    EXPECT_TRUE(RecentlyUsed::note(fresh, "/a.wav", "audio/x-wav", "Tessoral", "'tessoral %u'"));
    EXPECT_TRUE(QFile::exists(fresh));
}

TEST(OldSettings, ReadsThePreviousVersionsFileWithTypes) {
    const QString path = QSettings(QSettings::IniFormat, QSettings::UserScope, "local.tessoral.app").fileName();
    QFile::remove(path);
    EXPECT_FALSE(readOldSettings().has_value());
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[General]\nproject.autosave=false\nexport.default.samplerate=44100\ninterfaceLanguage=en\n"
                "recording.gain=0.5\nlist=a, b\n");
    }
    const auto read = readOldSettings();
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->at("project.autosave"), DefaultsValue(false));
    EXPECT_EQ(read->at("export.default.samplerate"), DefaultsValue(44100LL));
    EXPECT_EQ(read->at("interfaceLanguage"), DefaultsValue(std::string("en")));
    EXPECT_EQ(read->at("recording.gain"), DefaultsValue(0.5));
    EXPECT_EQ(read->at("list"), DefaultsValue(std::vector<std::string>{"a", "b"}));
    // Migrated once into settings that lack those keys.
    MemoryDefaults target;
    target.set("interfaceLanguage", std::string("ru"));
    SettingsMigration::migrateFromOldDomain(target, readOldSettings);
    EXPECT_EQ(target.boolean("project.autosave"), false);
    EXPECT_EQ(target.string("interfaceLanguage"), "ru");
    QFile::remove(path);
}

TEST(QtPrompts, AlertButtonsKeepTheirOrderEscapeIsCancelAndTheAnswerIsTheIndex) {
    AlertRequest request;
    request.message = "Сохранить изменения в проекте?";
    request.informative = "Новый <проект>";
    request.buttons = {"Сохранить", "Отмена", "Не сохранять"};
    std::vector<QAbstractButton*> buttons;
    auto box = QtPrompts::makeAlert(request, nullptr, buttons);
    ASSERT_EQ(buttons.size(), 3u);
    EXPECT_EQ(buttons[0]->text(), QString::fromUtf8("Сохранить"));
    EXPECT_EQ(static_cast<QAbstractButton*>(box->defaultButton()), buttons[0]);
    EXPECT_EQ(box->escapeButton(), buttons[1]);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    // The default in the sheets' prominent look, every button with a sheet button's room beside its text.
    box->show();
    EXPECT_TRUE(test::accentFilled(buttons[0]) && !test::accentFilled(buttons[2]));
    for (QAbstractButton* b : buttons)
        EXPECT_GE(b->width() - b->fontMetrics().horizontalAdvance(b->text()), 2 * QtPrompts::kButtonPadding);
    box->hide();

    QWidget window;
    window.show();
    QtPrompts prompts([&window] { return &window; });
    QTimer::singleShot(0, [] {
        auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!shown) return;
        for (QAbstractButton* b : shown->buttons())
            if (b->text() == QString::fromUtf8("Не сохранять")) b->click();
    });
    EXPECT_EQ(prompts.alert(request), std::optional<int>(2));
    EXPECT_EQ(QtPrompts::openDialogs(), 0);
    QTimer::singleShot(0, [] {
        if (auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            QTest::keyClick(shown, Qt::Key_Escape);
    });
    EXPECT_EQ(prompts.alert(request), std::optional<int>(1));  // Escape answers "Отмена"
    QTimer::singleShot(0, [] {
        if (auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) shown->reject();
    });
    EXPECT_EQ(prompts.alert(request), std::optional<int>(1));  // so does any other dismissal
    // Without a cancel button a dismissal gives no answer.
    request.buttons = {"Восстановить", "Удалить копию"};
    QTimer::singleShot(0, [] {
        if (auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) shown->reject();
    });
    EXPECT_EQ(prompts.alert(request), std::nullopt);

    // The keyboard comes back to the window within half a second of a question closing when the
    // window manager left it nowhere.
    QApplication::setActiveWindow(nullptr);
    QElapsedTimer back;
    back.start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &window; }, 3000));
    EXPECT_LT(back.elapsed(), 500);
}

namespace {

// Types `name` into the next file dialog and accepts it; the refusal that must follow is read into
// `refusal` and closed, then the dialog is cancelled.
void refuseInFileDialog(const QString& name, QString& refusal) {
    typeIntoFileDialog(name, [&refusal](QPointer<QFileDialog> guard) {
        // Any other message (Qt's own) is closed too and leaves `refusal` empty.
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            if (box->objectName() == "fileDialogRefusal") {
                refusal = box->text();
                EXPECT_TRUE(test::accentFilled(box->defaultButton()));
            }
            box->accept();
        }
        QTimer::singleShot(0, [guard] { if (guard) guard->reject(); });
    });
}

}  // namespace

// A name the system cannot examine (too long, a loop of links, a folder that may not be entered) is
// refused in the dialog with the system's reason; nothing throws and the dialog stays open.
TEST(QtPrompts, TheFileDialogsRefuseNamesTheSystemCannotExamine) {
    QTemporaryDir dir;
    const std::filesystem::path folder = dir.path().toStdString();
    std::filesystem::create_symlink("loop", folder / "loop");
    QtPrompts prompts([] { return nullptr; });
    const std::string tooLong = std::make_error_code(std::errc::filename_too_long).message();
    const std::string looped = std::make_error_code(std::errc::too_many_symbolic_link_levels).message();

    SaveRequest save;
    save.title = "Сохранить проект";
    save.extension = "tessoral";
    save.folder = folder;
    QString refusal;
    const std::string longName = std::string(256, 'x') + ".tessoral";
    refuseInFileDialog(QString::fromStdString(longName), refusal);
    EXPECT_EQ(prompts.chooseSaveFile(save), std::nullopt);
    // Shortened in the middle, so the reason stays in sight.
    const std::string shortened = longName.substr(0, 48) + "…" + longName.substr(longName.size() - 24);
    EXPECT_EQ(refusal.toStdString(), L("Не удалось записать файл «{0}»: {1}", shortened, tooLong));

    refusal.clear();
    refuseInFileDialog("loop/project.tessoral", refusal);
    EXPECT_EQ(prompts.chooseSaveFile(save), std::nullopt);
    EXPECT_EQ(refusal.toStdString(), L("Не удалось записать файл «{0}»: {1}", "project.tessoral", looped));

    OpenRequest open;
    open.title = "Открыть аудио или проект";
    open.folder = folder;
    refusal.clear();
    refuseInFileDialog("loop/a.wav", refusal);
    EXPECT_TRUE(prompts.chooseFilesToOpen(open).empty());
    EXPECT_EQ(refusal.toStdString(), L("Не удалось прочитать файл «{0}»: {1}", "a.wav", looped));

    FolderRequest chooseFolder;
    chooseFolder.folder = folder;
    refusal.clear();
    refuseInFileDialog("loop/inner", refusal);
    EXPECT_EQ(prompts.chooseFolder(chooseFolder), std::nullopt);
    EXPECT_EQ(refusal.toStdString(), L("Не удалось открыть папку «{0}»: {1}", "inner", looped));
}

// Qt's own dialog opens wide enough for its detailed columns, dates whole, and keeps the size a
// person gives it.
TEST(QtPrompts, TheFileDialogShowsItsColumnsWholeAndKeepsItsSize) {
    QSettings(QStringLiteral("Tessoral"), QStringLiteral("Tessoral")).remove(QStringLiteral("Tessoral.FileDialog"));
    QTemporaryDir dir;
    const std::filesystem::path folder = dir.path().toStdString();
    writeTone(folder / "take.wav");
    std::filesystem::create_directory(folder / "Записи");
    QtPrompts prompts([] { return nullptr; });
    OpenRequest open;
    open.title = "Открыть аудио или проект";
    open.folder = folder;

    QSize first;
    int dateNeeds = 0, dateHas = 0, columns = 0, room = 0;
    QTimer::singleShot(0, [&] {
        QFileDialog* dialog = openFileDialog();
        if (!dialog) {
            ADD_FAILURE() << "no file dialog";
            return;
        }
        first = dialog->size();
        dialog->setViewMode(QFileDialog::Detail);
        auto* tree = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
        if (!tree) {
            ADD_FAILURE() << "no detailed view";
            return;
        }
        QTest::qWaitFor([&] { return tree->model()->rowCount(tree->rootIndex()) >= 2; }, 3000);
        QTest::qWait(50);
        const int date = 3;
        dateNeeds = tree->header()->sectionSizeHint(date);
        for (int r = 0; r < tree->model()->rowCount(tree->rootIndex()); ++r)
            dateNeeds = std::max(dateNeeds, tree->sizeHintForIndex(tree->model()->index(r, date, tree->rootIndex())).width());
        dateHas = tree->header()->sectionSize(date);
        for (int c = 0; c < tree->header()->count(); ++c)
            if (!tree->header()->isSectionHidden(c)) columns += tree->header()->sectionSize(c);
        room = tree->viewport()->width();
        dialog->resize(760, 500);
        dialog->reject();
    });
    prompts.chooseFilesToOpen(open);
    // 920 × 560, or the whole screen where that is smaller.
    const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    EXPECT_EQ(first, QSize(std::min(920, screen.width()), std::min(560, screen.height())));
    EXPECT_GT(dateNeeds, 0);
    EXPECT_GE(dateHas, dateNeeds) << "dates are cut";
    EXPECT_LE(columns, room) << "the columns need a horizontal scroll";

    // The size given last time, even when the dialog was cancelled.
    const auto opened = [&](QtPrompts& chooser) {  // the size it opens at, cancelled at once
        QSize shown;
        QTimer::singleShot(0, [&] {
            if (QFileDialog* dialog = openFileDialog()) shown = dialog->size(), dialog->reject();
        });
        chooser.chooseFilesToOpen(open);
        return shown;
    };
    EXPECT_EQ(opened(prompts), QSize(760, 500));

    // A kept size larger than the screen: the dialog's frame, as drawn around the window it opens
    // over, fits the screen; left at that size, it does not replace the kept one.
    QSettings settings(QStringLiteral("Tessoral"), QStringLiteral("Tessoral"));
    const QSize large = screen + QSize(200, 200);
    settings.setValue(QStringLiteral("Tessoral.FileDialog/size"), large);
    QWidget window;
    window.show();
    const QSize frame = window.frameGeometry().size() - window.size();
    ASSERT_FALSE(frame.isEmpty());
    QtPrompts over([&window] { return &window; });
    EXPECT_EQ(opened(over), screen - frame);
    EXPECT_EQ(settings.value(QStringLiteral("Tessoral.FileDialog/size")).toSize(), large);
    settings.remove(QStringLiteral("Tessoral.FileDialog"));
}
