// Which style of a family the font dialog starts on.
#pragma once

#include <QString>

// The installed style of family that slants (italic or oblique) exactly when italic is set
// and nearest in weight; "" when the family lists no styles. A font given
// by family and size alone would otherwise open the dialog on whatever
// style the family lists first, an oblique one in some families.
QString StyleToOffer(const QString& family, bool italic, int weight);
