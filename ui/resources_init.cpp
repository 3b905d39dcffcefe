#include "ui/resources_init.h"

#include <QtGlobal>

// The compiled resources live in a static library: nothing would pull their
// registration in, so the program asks for it by name (outside any namespace).
static void InitCompiledResources() {
    Q_INIT_RESOURCE(resources);
}

namespace tandril {

void InitResources() {
    InitCompiledResources();
}

}  // namespace tandril
