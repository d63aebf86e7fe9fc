#pragma once

#include <QFont>
#include <QString>

#include <memory>

#include "SerialPort/serial_dialog.h"

class MainWindow;

namespace tx710 {

// Resource path of the user-interface font.
inline const char* const kApplicationFontResource = ":/Font/HK-Grotesk/HKGrotesk-Regular-9.otf";

// Adds the font resource to the font database and makes its first family the
// application font. Returns that font, or the unchanged default font when the
// resource yields no family.
QFont installApplicationFont(const QString& resource = QString::fromLatin1(kApplicationFontResource));

// The running session behind main(): the application font, the port dialog
// (shown at once, with the result callback installed) and, once a port is
// open, the main window. Needs a QApplication. Members are destroyed main
// window first, then the dialog, then the font; the serial port is closed on
// every way out, so that no lock file of it stays behind.
class StartupSession
{
public:
    StartupSession();
    // Opens `port` (a name or a device path) once the event loop runs, with
    // the same detection and boxes as the dialog's Ok, and no dialog.
    explicit StartupSession(const QString& port);
    // Shows the main window at once with the recording at `path`, opening no
    // port and showing no dialog; a recording that cannot be read is named in
    // a box over the window, which stays.
    static std::unique_ptr<StartupSession> forRecording(const QString& path);
    ~StartupSession();
    StartupSession(const StartupSession&) = delete;
    StartupSession& operator=(const StartupSession&) = delete;

    // The port dialog's result: true swaps the dialog for the main window,
    // false ends the application with exit code 0.
    void handlePortResult(bool opened);

    // A quit asked for by a signal: lets the data writer finish the round it
    // holds, closes the port and ends the application with exit code 0.
    void quitForSignal(int signal_number);

    SerialDialog& dialog() { return dialog_; }
    const std::shared_ptr<MainWindow>& mainWindow() const { return main_window_; }
    const QFont& font() const { return font_; }

private:
    struct RecordingTag {
    };
    StartupSession(RecordingTag, const QString& path);

    QFont font_;
    SerialDialog dialog_;
    std::shared_ptr<MainWindow> main_window_;
};

} // namespace tx710
