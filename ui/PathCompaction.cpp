#include "ui/PathCompaction.h"

#include <QList>

namespace {

const QList<uint> kEllipsis{'.', '.', '.'};

bool isSeparator(uint c) {
    return c == '/' || c == '\\';
}

QString fromCodePoints(const QList<uint>& chars, qsizetype count) {
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(chars.constData()), count);
}

// Start of the last component; a trailing separator belongs to it.
qsizetype lastComponentStart(const QList<uint>& chars) {
    for (qsizetype i = chars.size() - 2; i >= 0; --i) {
        if (isSeparator(chars[i]))
            return i;
    }
    return 0;
}

} // namespace

QString compactPath(const QString& path, int maxVisible) {
    // Whole code points, so that no character is cut in half.
    const QList<uint> chars = path.toUcs4();
    if (chars.size() <= maxVisible)
        return path;
    if (maxVisible <= kEllipsis.size())
        return fromCodePoints(chars, maxVisible);

    const qsizetype keep = maxVisible - kEllipsis.size();
    const qsizetype tailStart = lastComponentStart(chars);
    const qsizetype tailLength = chars.size() - tailStart;
    QList<uint> result;
    if (tailStart > 0 && tailLength <= keep) {
        result = chars.first(keep - tailLength) + kEllipsis + chars.sliced(tailStart);
    } else {
        result = chars.first(keep) + kEllipsis;
    }
    return fromCodePoints(result, result.size());
}
