#pragma once

#include <QIcon>

// The program's icon, drawn like resources/k7_qel.svg (which the desktop uses): Qt reads SVG
// only through an optional plugin, so the window icon is painted here instead.
QIcon appIcon();
