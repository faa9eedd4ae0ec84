#pragma once

#include <QLatin1StringView>

// Every persisted key in one place. The values are part of the stored format.
namespace SettingsKeys {
inline constexpr QLatin1StringView tunnelConfigs{"tunnelConfigs"};
// An unreadable "tunnelConfigs" value is kept here before it is overwritten.
inline constexpr QLatin1StringView tunnelConfigsUnreadable{"tunnelConfigs.unreadable"};
// The single port of the one-tunnel setting of earlier versions; migrated once.
inline constexpr QLatin1StringView legacyTunnelPort{"tunnelPort"};
} // namespace SettingsKeys
