#pragma once

#include <QLabel>
#include <QString>

#include "SerialPort/link_health.h"

// One line over the bottom-left corner of the view: the link's health, or
// during a replay the file and the position in it.
class HealthLine : public QLabel
{
    Q_OBJECT
public:
    explicit HealthLine(QWidget* parent = nullptr);

    void showHealth(const tx710::LinkHealth& health);
    void showReplay(const QString& text);
    // A line in the warning colour in place of the figures.
    void showWarning(const QString& text);
    // With no port open there is no health to show: the line says so.
    void setNoPort(bool no_port) { no_port_ = no_port; }

    // The line's text for `health`: figures, or how long no data has come.
    static QString healthText(const tx710::LinkHealth& health);

private:
    enum class Kind { Figures, Warning, Replay };
    void showLine(const QString& text, Kind kind);

    Kind kind_ = Kind::Figures;
    bool no_port_ = false;
};
