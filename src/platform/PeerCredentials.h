#pragma once

#include <QtGlobal>

// Whether the process at the other end of a connected local socket runs as this user. The
// socket file's permissions already keep other users out; this holds even where a folder or
// file mode was loosened. Where the system cannot tell, the answer is true.
bool peerIsThisUser(qintptr socketDescriptor);
