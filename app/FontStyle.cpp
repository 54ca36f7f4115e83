#include "app/FontStyle.h"

#include <QFontDatabase>
#include <QStringList>
#include <cstdlib>

QString StyleToOffer(const QString& family, bool italic, int weight)
{
    QString best;
    int bestDistance = 0;
    for (const QString& style : QFontDatabase::styles(family)) {
        const int distance = std::abs(QFontDatabase::weight(family, style) - weight) +
                             (QFontDatabase::italic(family, style) == italic ? 0 : 10000);
        if (best.isEmpty() || distance < bestDistance) {
            best = style;
            bestDistance = distance;
        }
    }
    return best;
}
