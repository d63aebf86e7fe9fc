// Linked into every test: the process, and every program it starts, keeps
// its settings in a folder of its own, removed at exit. The user's settings
// are never read or written.

#include <QByteArray>
#include <QDir>

#include <cstdlib>

namespace {

struct IsolatedSettings {
    QString folder;
    IsolatedSettings()
    {
        QByteArray name = QDir::tempPath().toLocal8Bit() + "/tx710-settings-XXXXXX";
        if (!::mkdtemp(name.data()))
            std::abort(); // the user's settings would be used
        folder = QString::fromLocal8Bit(name);
        ::setenv("XDG_CONFIG_HOME", name.constData(), 1);
    }
    ~IsolatedSettings() { QDir(folder).removeRecursively(); }
};

const IsolatedSettings g_isolated_settings;

} // namespace
