// An exception that escapes an event handler is reported in the window, and the program and its
// project go on as they were.
#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>
#include <QTimerEvent>

#include <filesystem>
#include <system_error>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/shell/GuardedApplication.h"
#include "model/Localization.h"
#include "model/StudioError.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

// Throws from its timer handler (as a file system call on a typed path once did) and for posted
// events of the user type. (Qt, built without exceptions, skips its own clean-up in the frames an
// exception passes: a key press thrown through QApplication's key delivery keeps a small block of
// it; a timer or a posted event passes through none that need one.)
class Thrower final : public QObject {
public:
    int thrown = 0;

    void timerEvent(QTimerEvent* event) override {
        killTimer(event->timerId());
        ++thrown;
        throw std::filesystem::filesystem_error("status", std::filesystem::path("/tmp/loop/a.wav"),
                                                std::make_error_code(std::errc::too_many_symbolic_link_levels));
    }
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User) {
            ++thrown;
            throw StudioError("Сбой в обработчике");
        }
        return QObject::event(event);
    }
};

QMessageBox* shownAlert() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->objectName() == "errorAlert" && box->isVisible())
            return box;
    return nullptr;
}

}  // namespace

TEST(EventGuard, AnExceptionFromAnEventHandlerIsShownAndTheProgramRunsOn) {
    auto* app = dynamic_cast<GuardedApplication*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    StudioFixture fx;
    fx.loadDemo();
    fx.window().show();
    fx.settle();
    // The studio reports to its own store.
    const auto clips = fx.store().session().tracks.size();
    const auto steps = fx.store().undoNames();
    const bool dirty = fx.store().dirty();

    Thrower thrower;
    thrower.startTimer(0);
    QTest::qWaitFor([&] { return thrower.thrown > 0; }, 2000);
    fx.settle();
    ASSERT_EQ(thrower.thrown, 1);
    // The system's text reaches the person, in the status line and in an alert.
    const std::string loop = std::make_error_code(std::errc::too_many_symbolic_link_levels).message();
    EXPECT_NE(fx.store().status().find(L("Действие прервано: {0}", "")), std::string::npos) << fx.store().status();
    EXPECT_NE(fx.store().status().find(loop), std::string::npos) << fx.store().status();
    ASSERT_TRUE(fx.store().error().has_value());
    EXPECT_NE(fx.store().error()->find("/tmp/loop/a.wav"), std::string::npos) << *fx.store().error();
    QMessageBox* alert = shownAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->informativeText().contains(QString::fromStdString(loop))) << alert->informativeText().toStdString();
    alert->escapeButton()->click();
    fx.store().setError(std::nullopt);
    fx.settle();

    // A queued event whose handler throws one of the program's own errors: its message as it is.
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    fx.settle();
    EXPECT_EQ(thrower.thrown, 2);
    EXPECT_EQ(fx.store().error(), std::optional<std::string>("Сбой в обработчике"));
    EXPECT_EQ(fx.store().status(), L("Действие прервано: {0}", "Сбой в обработчике"));

    // The program goes on with the project as it was.
    EXPECT_EQ(fx.store().session().tracks.size(), clips);
    EXPECT_EQ(fx.store().undoNames(), steps);
    EXPECT_EQ(fx.store().dirty(), dirty);
    fx.store().setError(std::nullopt);
    fx.settle();
}
