#include <QApplication>
#include <QLabel>
#include <QObject>

#include <limits>
#include <memory>

#include <gtest/gtest.h>

#include "panels/PanelSupport.h"
#include "store/StudioStore.h"
#include "support/store/StoreFixture.h"

namespace tessoral {
namespace {

using panels::fixedText;
using panels::signedFixedText;

TEST(PanelNumbers, MinusSignReplacesEveryHyphen) {
    EXPECT_EQ(fixedText(-0.04, 1), QString::fromUtf8("\u22120.0"));
    EXPECT_EQ(fixedText(-5.8, 1), QString::fromUtf8("\u22125.8"));
    EXPECT_EQ(signedFixedText(0.0, 1), QStringLiteral("+0.0"));
    EXPECT_EQ(signedFixedText(3.0, 1), QStringLiteral("+3.0"));
    EXPECT_EQ(signedFixedText(-34.0, 1), QString::fromUtf8("\u221234.0"));
    EXPECT_EQ(signedFixedText(-std::numeric_limits<double>::infinity(), 1), QString::fromUtf8("\u2212inf"));
    EXPECT_EQ(fixedText(-1.0, 0) + QStringLiteral(" dBTP"), QString::fromUtf8("\u22121 dBTP"));
}

TEST(PanelNumbers, DecimalPointUnderACommaLocale) {
    // QApplication took LC_NUMERIC from the environment; the texts keep their full stop anyway.
    EXPECT_EQ(fixedText(12.5, 1), QStringLiteral("12.5"));
}

struct Owner : QObject {
    std::unique_ptr<panels::PanelWork> work;
};

TEST(PanelWork, ResultReachesOnlyTheLivingCurrentPanel) {
    test::StoreFixture fx;
    auto owner = std::make_unique<Owner>();
    owner->work = std::make_unique<panels::PanelWork>(owner.get(), fx.tasks);
    int delivered = 0;
    owner->work->run([] { return 7; }, [&](TaskResult<int> r) { delivered += r.value(); });
    fx.tasks.runAll();
    EXPECT_EQ(delivered, 7);

    // Started, then its inputs changed: the old result is dropped.
    owner->work->run([] { return 1; }, [&](TaskResult<int> r) { delivered += r.value(); });
    owner->work->invalidate();
    fx.tasks.runAll();
    EXPECT_EQ(delivered, 7);

    // Started, then the panel went away.
    owner->work->run([] { return 1; }, [&](TaskResult<int> r) { delivered += r.value(); });
    owner.reset();
    fx.tasks.runAll();
    EXPECT_EQ(delivered, 7);
}

TEST(SheetErrorText, FollowsTheStoresError) {
    test::StoreFixture fx;
    auto store = fx.make<StudioStore>();
    QWidget host;
    auto* text = new panels::SheetErrorText(*store, &host);
    host.show();
    EXPECT_FALSE(text->isVisible());
    store->setError(std::string("Что-то пошло не так"));
    EXPECT_TRUE(text->isVisible());
    EXPECT_EQ(text->label()->text(), QString::fromUtf8("Что-то пошло не так"));
    store->setError(std::nullopt);
    EXPECT_FALSE(text->isVisible());
}

TEST(Popover, HidingRunsItsCloseHook) {
    QWidget anchor;
    anchor.resize(40, 20);
    anchor.show();
    panels::Popover popover(&anchor);
    int closed = 0;
    popover.setOnClosed([&] { ++closed; });
    popover.setContent(new QLabel(QStringLiteral("x")));
    popover.showBelow(&anchor);
    EXPECT_TRUE(popover.isVisible());
    popover.hide();
    EXPECT_EQ(closed, 1);
}

}  // namespace
}  // namespace tessoral
