#pragma once

// Where the program writes its files: the named folder beside the executable
// when it can be written there, else the same folder in the user's
// application data location.

#include <QString>

namespace tx710 {

struct OutputFolder {
    QString path;          // the folder to write in; empty when none can be used
    bool fallback = false; // path is in the user's data location
    QString reason;        // why the preferred folder (and the fallback) cannot be used
};

// `name` is "data" or "Screenshots".
QString besideExecutable(const QString& name);
QString userDataFolder(const QString& name);

// Makes `preferred` (or else the user's data folder `name`) and proves it
// writable by creating a file in it; logs when the fallback is taken.
OutputFolder prepareOutputFolder(const QString& preferred, const QString& name);

} // namespace tx710
