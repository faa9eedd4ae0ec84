#pragma once

#include <QString>
#include <vector>

class TunnelInstance;

// The tray icon's tooltip: every running tunnel with its public URL (and whether it asks for a
// password, never the password), one a line, or that none runs.
namespace TrayToolTip {

// Longer URLs are shortened in the middle: tray hosts show tooltips in a narrow box.
constexpr int maxUrlLength = 60;

QString text(const std::vector<TunnelInstance*>& instances);

} // namespace TrayToolTip
