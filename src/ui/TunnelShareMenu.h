#pragma once

class QMenu;
class TunnelInstance;

// A tunnel's sharing choices for its options menu: "Require Password" (checkable) and the
// "Stop After" submenu (15 minutes, 1 hour, 4 hours, until stopped; only while running). The
// checks follow the instance each time the menu opens.
namespace TunnelShareMenu {

void addTo(QMenu* menu, TunnelInstance* instance);

} // namespace TunnelShareMenu
