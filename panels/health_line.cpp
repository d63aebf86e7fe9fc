#include "panels/health_line.h"

#include <algorithm>

namespace {
const QString kNormalStyle = QStringLiteral("background-color: rgba(0, 0, 0, 150); color: rgb(200, 200, 200);");
const QString kWarningStyle = QStringLiteral("background-color: rgba(0, 0, 0, 150); color: rgb(255, 150, 40);");
} // namespace

HealthLine::HealthLine(QWidget* parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("health_line"));
    setMargin(3);
    setStyleSheet(kNormalStyle);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QString HealthLine::healthText(const tx710::LinkHealth& health)
{
    if (health.silent_seconds > 0)
        return tr("no data for %1 s").arg(health.silent_seconds);
    return tr("%1 RPM   %2 frames/s   %3 points/round   CRC rejects (10 s): %4 (%5 %)")
        .arg(health.rpm, 0, 'f', 1)
        .arg(health.frames_per_second, 0, 'f', 0)
        .arg(health.points_per_round)
        .arg(health.recent_rejects)
        .arg(health.recent_reject_percent, 0, 'f', 2);
}

void HealthLine::showHealth(const tx710::LinkHealth& health)
{
    if (no_port_) {
        showLine(tr("no port open: Open (Ctrl+O) shows a recording"), Kind::Warning);
        return;
    }
    showLine(healthText(health), health.silent_seconds > 0 ? Kind::Warning : Kind::Figures);
}

void HealthLine::showWarning(const QString& text)
{
    showLine(text, Kind::Warning);
}

void HealthLine::showReplay(const QString& text)
{
    showLine(text, Kind::Replay);
}

void HealthLine::showLine(const QString& text, Kind kind)
{
    const bool restyled = kind != kind_;
    if (restyled) {
        kind_ = kind;
        setStyleSheet(kind == Kind::Warning ? kWarningStyle : kNormalStyle);
    }
    if (text == this->text())
        return; // no repaint, so no new overlay image
    setText(text);
    // Figures that change each second do not make the line twitch: it only
    // grows, until its kind of text changes.
    const QSize hint = sizeHint();
    resize(restyled ? hint.width() : std::max(width(), hint.width()), hint.height());
}
