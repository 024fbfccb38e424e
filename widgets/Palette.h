#pragma once

#include <QColor>
#include <QString>

#include <vector>

class QApplication;

namespace tessoral {

// The one table of colours of the interface: dark surfaces, the accent, hairlines and the eight
// track colours with their names.
namespace Palette {

QColor background();  // window background; icon colour of an active tool button
QColor panel();       // header, tools, selection bar, right panel and footer
QColor raised();      // surfaces raised above a panel
QColor accent();      // tint, active toggles, drop highlight, first track colour
QColor line();        // white at 0.09: hairlines

// Text levels over the dark surfaces: white at 0.9, 0.55, 0.25 and 0.10.
QColor primaryText();
QColor secondaryText();
QColor tertiaryText();
QColor quaternaryText();

// The desktop's red (recording, clipping), grey and link colours.
QColor red();
QColor grey();
QColor link();

// The eight track colours and their display names (resolved once, at first use).
const std::vector<QColor>& colors();
const std::vector<QString>& colorNames();
// colors()[((index % 8) + 8) % 8]: every integer maps to a colour.
QColor track(long long index);
int trackIndex(long long index);

// Fusion with the dark palette, the tint and the default proportional font.
void applyTheme(QApplication& app);

}  // namespace Palette

}  // namespace tessoral
