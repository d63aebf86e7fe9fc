#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <functional>

namespace tx710test {

// What a modal message box showed before the watcher dismissed it.
struct SeenMessageBox {
    QString title;
    QString text;
    QStringList buttons;   // button texts
    bool warning_icon = false;
    bool had_parent = false;
};

// Polls for application-modal message boxes (which block the code under
// test in their own event loop), records them and presses their Ok button.
class ModalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit ModalWatcher(int poll_ms = 50);

    const QVector<SeenMessageBox>& boxes() const { return boxes_; }
    // Called for each box while it is still shown.
    void setOnBox(std::function<void(const SeenMessageBox&)> on_box) { on_box_ = std::move(on_box); }
    void clear() { boxes_.clear(); }

private:
    void poll();

    QTimer timer_;
    QVector<SeenMessageBox> boxes_;
    std::function<void(const SeenMessageBox&)> on_box_;
};

// Collects the text of every Qt debug message while alive.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const;
    bool contains(const QString& fragment) const;
};

} // namespace tx710test
