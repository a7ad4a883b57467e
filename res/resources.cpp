#include "resources.h"

#include <QtGlobal>

// The resource file is compiled into a static library, which does not register
// it by itself.
void InitResources()
{
    Q_INIT_RESOURCE(res);
}
