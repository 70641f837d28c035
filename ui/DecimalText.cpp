#include "ui/DecimalText.h"

#include <algorithm>
#include <limits>

int strToInt(const QString& text) {
    const bool negative = text.startsWith(QLatin1Char('-'));
    const long long limit = negative ? -static_cast<long long>(std::numeric_limits<int>::min())
                                     : std::numeric_limits<int>::max();
    long long magnitude = 0;
    for (qsizetype i = negative ? 1 : 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        magnitude = std::min(magnitude * 10 + (c.unicode() - '0'), limit);
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}
