#pragma once

#include <QString>

// Shortens a path to at most maxVisible characters by putting "..." in place of the middle.
// The last component is kept whole when it fits, else its beginning is kept.
QString compactPath(const QString& path, int maxVisible);
