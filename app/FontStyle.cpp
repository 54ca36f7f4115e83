// The style of a family the font dialog starts on.
#include "app/FontStyle.h"

#include <QFontDatabase>
#include <QStringList>
#include <cstdlib>

QString StyleToOffer(const QString& family, bool italic, int weight)
{
    QString best;
    int bestDistance = 0;
    for (const QString& style : QFontDatabase::styles(family)) {
        // Oblique styles do not count as italic to the database's own test, but slant all the same.
        const bool slanted = QFontDatabase::font(family, style, 10).style() != QFont::StyleNormal;
        const int distance = std::abs(QFontDatabase::weight(family, style) - weight) + (slanted == italic ? 0 : 10000);
        if (best.isEmpty() || distance < bestDistance) {
            best = style;
            bestDistance = distance;
        }
    }
    return best;
}
