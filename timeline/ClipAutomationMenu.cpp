#include "timeline/ClipAutomationMenu.h"

#include <QAction>
#include <QMenu>

#include "model/Localization.h"
#include "store/StudioStore.h"

namespace tessoral::ClipAutomationMenu {

namespace {
QString qs(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

QString curveTitle(FadeCurve curve) {
    switch (curve) {
        case FadeCurve::linear: return qs(L("Линейная"));
        case FadeCurve::logarithmic: return qs(L("Логарифмическая"));
        case FadeCurve::cosine: return qs(L("S-образная"));
    }
    return {};
}

void addItems(QMenu* menu, StudioStore& store, const Track& clip) {
    StudioStore* s = &store;
    const Uuid id = clip.id;
    for (const bool fadeIn : {true, false}) {
        QMenu* shapes = menu->addMenu(qs(fadeIn ? L("Форма нарастания") : L("Форма затухания")));
        const FadeCurve current = fadeIn ? clip.fadeInCurve : clip.fadeOutCurve;
        for (const FadeCurve curve : {FadeCurve::linear, FadeCurve::logarithmic, FadeCurve::cosine}) {
            const QString title = curve == current ? QStringLiteral("✓ ") + curveTitle(curve) : curveTitle(curve);
            shapes->addAction(title, menu, [s, id, fadeIn, curve] { s->setFadeCurve(id, fadeIn, curve); });
        }
    }
    QAction* fades = menu->addAction(qs(L("Убрать фейды")), menu, [s, id] { s->removeFades(id); });
    fades->setEnabled(!(clip.fadeIn == 0.0 && clip.fadeOut == 0.0));
    QAction* envelopes = menu->addAction(qs(L("Очистить огибающие")), menu, [s, id] { s->clearEnvelopes(id); });
    envelopes->setEnabled(!(clip.volumeEnvelope.empty() && clip.panEnvelope.empty()));
    QAction* duck = menu->addAction(qs(L("Автоприглушение под речью…")), menu, [s, id] {
        s->setSelectedID(id);
        s->setShowAutoDuck(true);
    });
    duck->setEnabled(store.session().tracks.size() >= 2);
}

}  // namespace tessoral::ClipAutomationMenu
