#include "tools/screenshots/MeterPanelShots.h"

#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QImage>

#include <cstdio>

#include "app/shell/MainWindow.h"
#include "tools/screenshots/ShotSupport.h"
#include "app/shell/Studio.h"
#include "model/Defaults.h"
#include "panels/LiveMeter.h"
#include "panels/Settings.h"
#include "store/StudioStore.h"
#include "transport/NullAudioBackend.h"
#include "widgets/Palette.h"

namespace tessoral {

namespace {

using tessoral::shots::pump;
using tessoral::shots::save;

// The live meter as the transport bar shows it: on the panel colour, with a margin.
QImage meterShot(LiveMeterPanel& meter) {
    QWidget frame;
    frame.setAutoFillBackground(true);
    QPalette pal = frame.palette();
    pal.setColor(QPalette::Window, Palette::panel());
    frame.setPalette(pal);
    auto* row = new QHBoxLayout(&frame);
    row->setContentsMargins(12, 8, 12, 8);
    meter.setParent(&frame);
    row->addWidget(&meter);
    frame.resize(LiveMeterPanel::kWidth + 24, 44);
    frame.show();
    pump();
    QImage image = frame.grab().toImage();
    row->removeWidget(&meter);
    meter.setParent(nullptr);
    return image;
}

}  // namespace

bool renderMeterPanelShots(Studio& studio, const std::function<void(double)>& advance, const QString& folder,
                           const QString& lang) {
    bool ok = true;
    StudioStore& store = studio.store();
    MainWindow& window = studio.window();

    // The analysis strip under the multitrack page with the first demo clip analysed.
    store.loadDemo();
    advance(0.0);
    store.setEditorMode(EditorMode::multitrack);
    if (!store.session().tracks.empty()) store.setSelectedID(Uuid(store.session().tracks.front().id));
    store.setShowAnalysis(true);
    pump();
    advance(0.2);
    pump();
    ok &= save(window.grab().toImage(), folder, QStringLiteral("analysis-report"), lang);
    store.setShowAnalysis(false);
    pump();

    {
        LiveMeterPanel meter(nullptr);
        meter.setLoudness(-8.4, -14.25);
        meter.setCorrelation(0.62);
        ok &= save(meterShot(meter), folder, QStringLiteral("live-meter"), lang);
        meter.setCorrelation(-0.35);
        meter.setLoudness(-23.0, std::nullopt);
        ok &= save(meterShot(meter), folder, QStringLiteral("live-meter-phase"), lang);
        meter.setRecording(true);
        meter.setOverdubbing(true);
        meter.setMonitoring(true);
        ok &= save(meterShot(meter), folder, QStringLiteral("live-meter-recording"), lang);
    }

    {
        // A stored microphone that is not plugged in.
        auto* backend = dynamic_cast<NullAudioBackend*>(store.services().backend);
        if (backend) {
            BackendDevice builtIn;
            builtIn.id = 1;
            builtIn.uid = "ALSA/default";
            builtIn.name = "default";
            builtIn.inputChannels = 2;
            builtIn.outputChannels = 2;
            backend->setDevices({builtIn});
        }
        store.services().defaults->set("input.device.uid", std::string("ALSA/USB Podcast Mic"));
        store.services().defaults->set("record.monitor", true);
        SettingsView settings(store);
        settings.setAttribute(Qt::WA_DontShowOnScreen);
        settings.show();
        pump();
        settings.resize(settings.sizeHint());  // adjustSize would keep it inside the small offscreen screen
        pump();
        ok &= save(settings.grab().toImage(), folder, QStringLiteral("settings-mic-warning"), lang);
        store.services().defaults->remove("input.device.uid");
        store.services().defaults->remove("record.monitor");
    }
    return ok;
}

}  // namespace tessoral
