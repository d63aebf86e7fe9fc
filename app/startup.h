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
// window first, then the dialog, then the font.
class StartupSession
{
public:
    StartupSession();
    ~StartupSession();
    StartupSession(const StartupSession&) = delete;
    StartupSession& operator=(const StartupSession&) = delete;

    // The port dialog's result: true swaps the dialog for the main window,
    // false ends the application with exit code 0.
    void handlePortResult(bool opened);

    SerialDialog& dialog() { return dialog_; }
    const std::shared_ptr<MainWindow>& mainWindow() const { return main_window_; }
    const QFont& font() const { return font_; }

private:
    QFont font_;
    SerialDialog dialog_;
    std::shared_ptr<MainWindow> main_window_;
};

} // namespace tx710
