#pragma once

#include <QLatin1String>

// The keys of the program's settings store (QSettings with the default constructor: native
// format, user scope, addressed by the organization and application names). All keys sit at
// the top level.
namespace SettingsKeys {
// Directory made current at start-up; filled in at the first start.
inline constexpr QLatin1String workingDirPath{"WorkingDirPath"};
// Start directory of the file dialogs; the user's home directory at the first start.
inline constexpr QLatin1String browseStartPath{"BrowseStartPath"};
// Interface language code ("en", "pl", or a system locale's language part).
inline constexpr QLatin1String language{"Language"};
// "basic", "client" or "server".
inline constexpr QLatin1String appMode{"AppMode"};
// Boolean: release the management hold without asking.
inline constexpr QLatin1String autoHoldRelease{"AutoHoldRelease"};
// Boolean: desktop notifications while the window is not the active window; absent means on.
inline constexpr QLatin1String notifications{"Notifications"};
// Router host name or address.
inline constexpr QLatin1String ip{"ip"};
// Router password, kept in plain text.
inline constexpr QLatin1String password{"password"};
} // namespace SettingsKeys
