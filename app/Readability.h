// Colours that stay readable: the contrast of two colours as screen-reading
// guidelines measure it, and a text colour moved just far enough towards
// black or white to reach a contrast on its background. GUI thread only.
#pragma once

#include <QColor>

// (L1 + 0.05) / (L2 + 0.05) of the colours' relative luminances, the
// lighter over the darker: 1 for equal colours, 21 for black on white.
[[nodiscard]] double ContrastRatio(const QColor& a, const QColor& b);

// foreground itself when it reaches minimum on background; else it mixed
// with black or white (whichever reaches further), by the least amount that
// reaches minimum, or as far as that colour goes. Example: a blue link on a
// dark blue selection turns light blue.
[[nodiscard]] QColor ReadableOn(const QColor& foreground, const QColor& background, double minimum = 4.5);
