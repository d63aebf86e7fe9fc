#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <functional>

namespace tx710test {

struct SeenMessageBox {
    QString title;
    QString text;
};

// How seen() shows a warning from the link: titled "Error", with a warning icon.
inline QString warningBox(const QString& text) { return QStringLiteral("Error|%1|warning").arg(text); }

// Polls for application-modal message boxes (which block the code under test
// in their own event loop), records them and presses their Ok button.
class ModalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit ModalWatcher(int poll_ms = 50);
    const QVector<SeenMessageBox>& boxes() const { return boxes_; }
    const QStringList& seen() const { return seen_; } // "title|text|icon" of each box
    std::function<void()> on_box; // called while the box is still shown

private:
    QTimer timer_;
    QVector<SeenMessageBox> boxes_;
    QStringList seen_;
};

// Collects the text of every Qt message while alive.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    QStringList lines() const;
    bool contains(const QString& fragment) const { return lines().join('\n').contains(fragment); }
};

// A log line's stamp, as a regular expression.
inline const QString kLogStamp = QStringLiteral(R"("\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3}")");

} // namespace tx710test
