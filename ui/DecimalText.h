#pragma once

#include <QString>

// The integer at the start of a text: an optional minus sign and decimal digits; 0 when the
// text does not begin with a number. Values beyond int are held at its limits.
int strToInt(const QString& text);
