#pragma once

#include <QStringList>
#include <QTimer>

namespace tx710test {

// How seen() lists the link's two warnings: titled "Error", with a warning icon.
inline const QString kNoLidarBox =
    "Error|No Lidar detected. please check the connection and restart the software.|warning";
inline const QString kLinkLostBox = "Error|Lidar connection fail,please check the connection|warning";

// Polls for application-modal message boxes (which block the code under test
// in their own event loop), records them and presses their Ok button.
class ModalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit ModalWatcher(int poll_ms = 50);
    const QStringList& seen() const { return seen_; }       // "title|text|icon" each
    const QStringList& details() const { return details_; } // each box's detailed text

private:
    QTimer timer_;
    QStringList seen_;
    QStringList details_;
};

// Collects the text of every Qt message while alive; not nestable.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    QStringList lines() const;
};

// A log line's stamp as a regular expression.
inline const QString kLogStamp = QStringLiteral(R"("\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3}")");

} // namespace tx710test
