#include "control/ShowHandler.h"

#include "control/ControlConnection.h"

void ShowHandler::execute(ControlConnection& connection, const ControlRequest&) {
    m_show();
    connection.reply();
}
