#pragma once

#include <QTextStream>

// `quillby --scan`: prints the open ports of the common list, one `localhost:PORT` a line.
int runScanCommand(QTextStream& out);
