#include "res/Resources.h"

#include <QtGlobal>

// Outside any namespace, as the resource initialiser requires. Calling it
// also keeps the compiled-in images from being dropped by the linker.
void LoadApplicationImages() {
    Q_INIT_RESOURCE(resources);
}
