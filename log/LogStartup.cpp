// The module's logging start-up object: constructed during the module's
// static initialisation, destroyed during its static clean-up.
#include "StaticInit.h"

namespace {
CStaticInit g_staticInit;
}  // namespace
