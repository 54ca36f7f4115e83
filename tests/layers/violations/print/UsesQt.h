// Deliberate violation: Qt in the print layout.
#include <QString>
#include "platform/TextUtil.h"
