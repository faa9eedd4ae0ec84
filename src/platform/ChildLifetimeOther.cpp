#include "platform/ChildLifetime.h"

// Elsewhere the children are ended by the application's own shutdown path.
void bindChildLifetimeToParent(QProcess&) {}
