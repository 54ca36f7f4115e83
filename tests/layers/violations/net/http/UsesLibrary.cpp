// Deliberate violation: the HTTP client sees nothing of the library above it.
#include "library/DocumentCache.h"
