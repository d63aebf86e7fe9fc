#pragma once

#include <QString>
#include <QVariant>

namespace tx710 {

// The name the window manager (WM_CLASS), the menu entry
// (resources/tx710viewer.desktop) and the settings file know the program by.
inline const char* const kApplicationName = "TX710Viewer";
inline const char* const kOrganizationName = "TX710";
inline const char* const kWindowIconResource = ":/tx710viewer.png";

// What the program remembers between runs, in the user's
// $XDG_CONFIG_HOME/TX710/TX710Viewer.conf.
inline const char* const kGeometryKey = "mainWindow/geometry";
inline const char* const kLastPortKey = "port/last";
inline const char* const kDecayRoundsKey = "view/decayRounds";
inline const char* const kLastRecordingFolderKey = "replay/lastFolder";
inline const char* const kReconnectKey = "port/reconnect";

QVariant setting(const char* key, const QVariant& fallback = QVariant());
void setSetting(const char* key, const QVariant& value);

// Sets the application name and the window icon of every window. The
// organisation is named only in the settings: set on the application it
// would move the user's data folder (~/.local/share/TX710Viewer). The display
// name is left unset too: it would be appended to the platform title of
// every box ("Error — ..."), and it follows the application name anyway.
void setApplicationIdentity();

} // namespace tx710
