#include "cli/ScanCommand.h"

#include "ports/PortScanner.h"

int runScanCommand(QTextStream& out) {
    for (const PortResult& result : PortScanner::scanPortsBlocking())
        out << "localhost:" << result.port << '\n';
    out.flush();
    return 0;
}
