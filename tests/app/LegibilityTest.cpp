// Every text reads whole or ends in "…", and no button or picker is squeezed below the size it asks
// for: the three modes, the four inspector pages, the spectral tools and the settings window, at the
// smallest window, 1024 × 700 and 1366 × 768, in Russian and in English, in the interface font the
// layouts are measured with (a missing font fails: the walk means nothing in another one).
#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <cstdlib>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/shell/SettingsWindow.h"
#include "panels/Mixer.h"
#include "panels/Settings.h"
#include "model/Localization.h"
#include "widgets/Eliding.h"
#include "widgets/Fonts.h"
#include "panels/WorkspaceBrowser.h"
#include "widgets/SegmentedControl.h"
#include "widgets/WrappingCheckBox.h"

using namespace tessoral;
using namespace tessoral::test;

namespace {

// The part of `w` that is not cut away by its ancestors, up to the window or to the viewport of a
// scroll area (whose content may scroll out of sight on purpose).
QRect unclipped(const QWidget* w) {
    QRect r = w->rect();
    QPoint offset;
    for (const QWidget* child = w; child && !child->isWindow(); child = child->parentWidget()) {
        const QWidget* parent = child->parentWidget();
        if (!parent) break;
        offset += child->pos();
        if (qobject_cast<const QAbstractScrollArea*>(parent->parentWidget()) &&
            static_cast<const QAbstractScrollArea*>(parent->parentWidget())->viewport() == parent)
            break;
        r &= parent->rect().translated(-offset);
    }
    return r;
}

// The widest line of a label's text.
int textWidth(const QFontMetrics& metrics, const QString& text) {
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest;
}

QString describe(const QWidget* w, const QString& text) {
    return QStringLiteral("%1 %2 \"%3\"").arg(QString::fromLatin1(w->metaObject()->className()), w->objectName(), text);
}

// What a person would see cut or squeezed among the visible widgets of `root`.
QStringList faults(QWidget* root) {
    QStringList found;
    QList<QWidget*> all = root->findChildren<QWidget*>();
    all.prepend(root);
    for (QWidget* w : all) {
        if (!w->isVisibleTo(root) || (w != root && !w->isVisible())) continue;
        const int visible = unclipped(w).width();
        const QFontMetrics metrics(w->font());
        auto fault = [&](const QString& text, int need) {
            found << QStringLiteral("%1: %2 of %3 px").arg(describe(w, text)).arg(visible).arg(need);
        };
        if (auto* label = qobject_cast<QLabel*>(w)) {
            const QString text = label->text();
            if (text.isEmpty() || label->wordWrap() || Qt::mightBeRichText(text) || label->textFormat() == Qt::RichText)
                continue;
            const QMargins m = label->contentsMargins();
            const int need = textWidth(metrics, text) + m.left() + m.right() + 2 * std::max(0, label->margin());
            if (text.endsWith(QStringLiteral("…"))) continue;
            if (std::min(visible, label->width()) < need) fault(text, need);
        } else if (auto* elided = qobject_cast<ElidedLabel*>(w)) {
            const QString shown = elided->displayedText();
            if (elided->text().isEmpty()) continue;
            if (shown != elided->text() && !shown.endsWith(QStringLiteral("…"))) fault(shown, 0);
            // Shortened although it has all the room it asked for.
            if (shown != elided->text() && elided->width() >= elided->sizeHint().width())
                fault(shown, elided->sizeHint().width());
            // Shortened while a flexible spacer in its row keeps room it could have had.
            if (shown != elided->text() && elided->parentWidget() && elided->parentWidget()->layout()) {
                QLayout* row = elided->parentWidget()->layout();
                for (int i = 0; i < row->count(); ++i)
                    if (QSpacerItem* spacer = row->itemAt(i)->spacerItem();
                        spacer && (spacer->sizePolicy().horizontalPolicy() & QSizePolicy::GrowFlag) &&
                        spacer->geometry().width() > 0)
                        fault(shown, elided->width() + spacer->geometry().width());
            }
            if (visible < std::min(elided->width(), metrics.horizontalAdvance(shown))) fault(shown, elided->width());
        } else if (auto* wrapping = qobject_cast<WrappingCheckBox*>(w)) {
            // Its lines need the height they ask for at the width it has.
            const int need = wrapping->minimumSizeHint().width();
            if (std::min(visible, wrapping->width()) < need) fault(wrapping->text(), need);
            const int box = wrapping->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, wrapping) +
                            wrapping->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, wrapping);
            const int lines = metrics.boundingRect(QRect(0, 0, wrapping->width() - box, 10000),
                                                   Qt::TextWordWrap | Qt::AlignLeft, wrapping->text()).height();
            if (wrapping->height() < lines) fault(wrapping->text(), lines);
        } else if (auto* button = qobject_cast<QAbstractButton*>(w);
                   button && button->objectName() == QStringLiteral("stripName")) {
            // A mixer strip's name: two lines at most, each within the strip, the whole name or "…".
            const QStringList lines = MixerStrip::nameLines(button->text(), button->font(), button->width());
            for (const QString& line : lines)
                if (metrics.horizontalAdvance(line) > button->width() || lines.size() > 2 ||
                    (button->height() < int(lines.size()) * metrics.height()))
                    fault(line, metrics.horizontalAdvance(line));
            if (lines.join(QLatin1Char(' ')).simplified() != button->text().simplified() &&
                !lines.last().endsWith(QStringLiteral("…")))
                fault(lines.join(QLatin1Char('|')), 0);
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            if (button->text().isEmpty() && button->icon().isNull()) continue;
            // A text needs all it asks for; an icon button its own size where a fixed one is set.
            const int need = button->text().isEmpty() ? std::min(button->sizeHint().width(), button->maximumWidth())
                                                      : button->sizeHint().width();
            if (std::min(visible, button->width()) < need) fault(button->text(), need);
        } else if (auto* segments = qobject_cast<SegmentedControl*>(w)) {
            QStringList texts;
            for (int i = 0; i < segments->count(); ++i) texts << segments->segmentText(i);
            // Squeezed below what it asks for, or a text wider than its share of the width.
            const int need = std::min(segments->minimumSizeHint().width(), segments->maximumWidth());
            if (std::min(visible, segments->width()) < need) fault(texts.join(QStringLiteral(" | ")), need);
            // Each text keeps 4 px from the dividers on either side.
            for (int i = 0; i < segments->count(); ++i)
                if (segments->segmentRect(i).width() - 8 < metrics.horizontalAdvance(texts[i]))
                    fault(texts[i], metrics.horizontalAdvance(texts[i]) + 8);
        } else if (auto* field = qobject_cast<ElidingLineEdit*>(w)) {
            // Without the focus a long text shows from its start and ends in "…".
            const QString shown = field->displayedText();
            if (!field->hasFocus() && shown != field->text() && (!shown.endsWith(QStringLiteral("…")) ||
                                                                 !field->text().startsWith(shown.chopped(1))))
                fault(shown, 0);
        } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            // A plain field cuts a long text at an edge, with no "…": names belong in eliding ones.
            const int room = edit->width() - edit->textMargins().left() - edit->textMargins().right() - 6;
            if (!edit->hasFocus() && metrics.horizontalAdvance(edit->text()) > room)
                fault(edit->text(), metrics.horizontalAdvance(edit->text()) + 6);
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            if (auto* eliding = qobject_cast<ElidingComboBox*>(combo)) {
                const QString shown = eliding->displayedText();
                if (shown != combo->currentText() && !shown.endsWith(QStringLiteral("…"))) fault(shown, 0);
            } else {
                QStyleOptionComboBox option;
                option.initFrom(combo);
                const QRect field =
                    combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
                const int need = metrics.horizontalAdvance(combo->currentText());
                if (std::min(visible, field.width()) < need) fault(combo->currentText(), need);
            }
            if (visible < std::min(combo->width(), combo->minimumSizeHint().width())) fault(combo->currentText(), combo->width());
        }
    }
    return found;
}

// Walks the window's states at one size and gathers what is cut, each with the state it showed in.
QStringList walk(StudioFixture& fx, QSize size) {
    QStringList found;
    MainWindow& window = fx.window();
    StudioStore& s = fx.store();
    window.show();
    window.resize(size);
    pump();
    const auto check = [&](const QString& state) {
        // Once the state's layout has settled: the window gives back what an earlier state needed.
        pump();
        window.resize(size);
        pump();
        // The window keeps the smallest size in every state, the spectral ones included.
        auto* view = window.findChild<StudioView*>();
        const QSize least = view ? view->minimumSizeHint() : QSize();
        if (!view || least.width() > StudioView::kMinimumWidth || least.height() > StudioView::kMinimumHeight ||
            window.width() != size.width())
            found << QStringLiteral("%1×%2 %3: the window needs %4×%5, is %6 wide")
                         .arg(size.width()).arg(size.height()).arg(state).arg(least.width()).arg(least.height()).arg(window.width());
        // The brush size slider at its full 80 px, none of it cut away.
        if (auto* brush = window.findChild<QWidget*>(QStringLiteral("brushSizeSlider"));
            s.spectralView() && s.spectralTool() == SpectralTool::brush && s.editorMode() != EditorMode::mixer &&
            (!brush || !brush->isVisible() || brush->width() != 80 || unclipped(brush).width() != 80))
            found << QStringLiteral("%1×%2 %3: the brush size slider is %4 px, %5 of it shown")
                         .arg(size.width()).arg(size.height()).arg(state).arg(brush ? brush->width() : 0)
                         .arg(brush ? unclipped(brush).width() : 0);
        for (const QString& f : faults(&window))
            found << QStringLiteral("%1×%2 %3: %4").arg(size.width()).arg(size.height()).arg(state, f);
    };
    // The browser shows its markers, the long name among them.
    if (auto* browser = window.findChild<WorkspaceBrowser*>()) browser->setTab(1);
    for (EditorMode mode : {EditorMode::waveform, EditorMode::multitrack, EditorMode::mixer}) {
        s.setEditorMode(mode);
        s.setSpectralView(false);
        check(QStringLiteral("mode %1").arg(int(mode)));
        if (mode == EditorMode::mixer) continue;
        s.setSpectralView(true);
        for (SpectralTool tool : {SpectralTool::rectangle, SpectralTool::brush, SpectralTool::lasso}) {
            s.setSpectralTool(tool);
            check(QStringLiteral("mode %1, spectral tool %2").arg(int(mode)).arg(int(tool)));
        }
        s.setSpectralView(false);
    }
    s.setEditorMode(EditorMode::multitrack);
    for (int tab = 0; tab < 4; ++tab) {
        s.setInspectorTab(tab);
        check(QStringLiteral("inspector tab %1").arg(tab));
        // The page's title beside the four buttons reads whole, not just ends in "…".
        auto* title = window.findChild<ElidedLabel*>(QStringLiteral("tabTitle"));
        if (!title || title->text().isEmpty() || title->displayedText() != title->text())
            found << QStringLiteral("%1×%2 inspector tab %3: its title is cut: \"%4\"")
                         .arg(size.width()).arg(size.height()).arg(tab).arg(title ? title->displayedText() : QString());
    }
    return found;
}

// The interface font is the one the layouts are measured with, in every weight the views use.
void requireTheInterfaceFont() {
    for (const QFont::Weight weight : {QFont::Light, QFont::Normal, QFont::Medium, QFont::DemiBold, QFont::Bold}) {
        const QFontInfo info(Fonts::ui(11, weight));
        ASSERT_EQ(info.family(), QStringLiteral("Inter")) << "weight " << weight << ": install fonts-inter (scripts/setup-deps.sh)";
        EXPECT_EQ(info.weight(), weight) << info.styleName().toStdString();
    }
    ASSERT_EQ(QFontInfo(QApplication::font()).family(), QStringLiteral("Inter"));
}

void checkEverything() {
    ASSERT_NO_FATAL_FAILURE(requireTheInterfaceFont());
    for (QSize size : {QSize(StudioView::kMinimumWidth, StudioView::kMinimumHeight), QSize(1024, 700), QSize(1366, 768)}) {
        StudioFixture fx;
        // Devices with long names, as USB interfaces have them.
        BackendDevice device;
        device.id = 1;
        device.uid = "ALSA/usb";
        device.name = "USB Audio Interface with a Very Long Descriptive Name, Analog Stereo Duplex";
        device.inputChannels = 2;
        device.outputChannels = 2;
        fx.services.backend.setDevices({device});
        fx.loadDemo();
        fx.store().setSelectedID(fx.store().session().tracks[0].id);
        // A long marker name, as a person types one.
        fx.store().setCursor(1.0);
        fx.store().addMarker();
        const auto& markers = fx.store().session().markers;
        ASSERT_FALSE(markers.empty());
        fx.store().renameMarker(markers.back().id, "Intro - Workshop Hour with a very long guest list");
        // A row named after a long file name, in its header and on its mixer strip.
        fx.store().renameLane(fx.store().session().lanes[0].id, "Drums_120_24b48k_overheads_room_final_take.wav");
        // A rack whose preset has a long title.
        fx.store().addRackEffect(EffectPreset::parametricEQ);
        fx.settle();
        const QStringList found = walk(fx, size);
        EXPECT_TRUE(found.isEmpty()) << found.join(QLatin1Char('\n')).toStdString();

        fx.window().showSettings();
        pump();
        SettingsWindow* settings = fx.window().settingsWindow();
        ASSERT_NE(settings, nullptr);
        // The long device chosen.
        auto* microphone = settings->findChild<QComboBox*>(QStringLiteral("microphonePicker"));
        ASSERT_NE(microphone, nullptr);
        microphone->setCurrentIndex(microphone->count() - 1);
        pump();
        const QStringList inSettings = faults(settings);
        EXPECT_TRUE(inSettings.isEmpty()) << inSettings.join(QLatin1Char('\n')).toStdString();
        // The form keeps its width; its texts wrap instead.
        EXPECT_EQ(settings->form()->width(), 440);
        // A heading names its section: in English the playback heading is not the playback status.
        if (Localization::current() == AppLanguage::english)
            for (const QGroupBox* section : settings->findChildren<QGroupBox*>())
                EXPECT_NE(section->title(), qs(L("Воспроизведение")));
        settings->close();
    }
}

}  // namespace

TEST(Legibility, RussianWindowsShowWholeTextsAndUnsqueezedControls) { checkEverything(); }

// In a child process: the interface language is chosen once per run.
TEST(Legibility, EnglishWindowsShowWholeTextsAndUnsqueezedControls) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TESSORAL_LEGIBILITY_IN_ENGLISH"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=Legibility.EnglishInThisProcess")});
    ASSERT_TRUE(child.waitForFinished(120000));
    const QString output = QString::fromUtf8(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output.toStdString();
}

TEST(Legibility, EnglishInThisProcess) {
    if (!std::getenv("TESSORAL_LEGIBILITY_IN_ENGLISH")) GTEST_SKIP() << "run by Legibility.English…";
    const auto folder = std::filesystem::path(TESSORAL_SOURCE_DIR) / "resources" / "Localization";
    Localization::use(AppLanguage::english, Localization::table(AppLanguage::english, folder));
    ASSERT_EQ(Localization::current(), AppLanguage::english);
    checkEverything();
    Localization::use(AppLanguage::russian, {});
}

TEST(SettingsWindow, FitsTheScreenOpensOverTheWindowAndClosesWithEscapeAndCtrlW) {
    // A form taller than a 1366 × 768 screen scrolls in a window that fits; a short one is not cut.
    const QRect laptop(0, 0, 1366, 768 - 32);  // less the desktop's panel
    const QSize frame(2, 32);
    EXPECT_EQ(SettingsWindow::fittedSize(QSize(440, 1000), laptop, frame, 14), QSize(454, 768 - 32 - 32));
    EXPECT_EQ(SettingsWindow::fittedSize(QSize(440, 600), laptop, frame, 14), QSize(440, 600));
    // Centred over its window, but never off the screen.
    EXPECT_EQ(SettingsWindow::centredOver(QRect(100, 50, 1000, 700), QSize(440, 600), laptop), QPoint(380, 100));
    EXPECT_EQ(SettingsWindow::centredOver(QRect(1000, 500, 300, 200), QSize(440, 600), laptop), QPoint(926, 136));
    EXPECT_EQ(SettingsWindow::centredOver(QRect(-500, -300, 300, 200), QSize(440, 600), laptop), QPoint(0, 0));

    StudioFixture fx;
    MainWindow& window = fx.window();
    window.show();
    const QRect screen = window.screen()->availableGeometry();
    window.setGeometry(QRect(screen.topLeft() + QPoint(40, 30), QSize(700, 500)));
    pump();
    window.showSettings();
    pump();
    SettingsWindow* settings = window.settingsWindow();
    ASSERT_NE(settings, nullptr);
    ASSERT_TRUE(settings->isVisible());
    // Within the screen; the form scrolls where the screen is shorter than it.
    EXPECT_LE(settings->frameGeometry().height(), screen.height());
    const int formHeight = settings->form()->sizeHint().height();
    if (formHeight > screen.height() - 32) {
        EXPECT_GT(settings->scrollArea()->verticalScrollBar()->maximum(), 0);
        EXPECT_EQ(settings->form()->width(), SettingsView::kWidth);
    }
    EXPECT_LT((settings->frameGeometry().center() - window.frameGeometry().center()).manhattanLength(),
              std::max(4, settings->height() - window.height() + 4) * 2)
        << settings->frameGeometry().center().x() << "," << settings->frameGeometry().center().y();

    for (const QKeySequence keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        window.showSettings();
        pump();
        ASSERT_TRUE(settings->isVisible());
        QApplication::setActiveWindow(settings);
        QTest::keySequence(settings, keys);
        pump();
        EXPECT_FALSE(settings->isVisible()) << keys.toString().toStdString();
    }
}
