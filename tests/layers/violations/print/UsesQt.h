// Deliberate violation: Qt in the print layout.
#include "platform/TextUtil.h"
#include <QString>
