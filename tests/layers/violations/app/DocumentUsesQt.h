// Deliberate violations: the window and Qt in the plain document logic.
#include "app/DocumentText.h"
#include "app/TextPane.h"
#include <QString>
