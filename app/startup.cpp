#include "app/startup.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QStringList>

#include "app/log.h"
#include "app/main_window.h"

namespace tx710 {

QFont installApplicationFont(const QString& resource)
{
    const int id = QFontDatabase::addApplicationFont(resource);
    const QStringList families = id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty()) {
        TX_LOG << "font" << resource << "not loaded, keeping the default font";
        return QApplication::font();
    }
    const QFont font(families.first(), -1, -1, false);
    QApplication::setFont(font);
    return font;
}

StartupSession::StartupSession() : font_(installApplicationFont())
{
    dialog_.show();
    dialog_.setCallback([this](bool opened) { handlePortResult(opened); });
}

StartupSession::~StartupSession()
{
    main_window_.reset();
}

void StartupSession::handlePortResult(bool opened)
{
    if (opened) {
        main_window_ = std::make_shared<MainWindow>(nullptr);
        dialog_.hide();
        main_window_->show();
        return;
    }
    TX_LOG;
    main_window_.reset();
    QCoreApplication::exit(0);
}

} // namespace tx710
