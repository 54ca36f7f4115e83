// Deliberate violations: the layer check must reject this tree.
#include "net/http/IdGlobal.h"
#include "platform/Dialogs.h"
