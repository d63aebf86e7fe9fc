#include "support/pty.h"

#include <QFileInfo>

#include <pty.h>
#include <unistd.h>

#include "SerialPort/serial_logic.h"

namespace tx710test {

PseudoTerminal::PseudoTerminal()
{
    char name[128] = {};
    termios raw{};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        master_ = slave_ = -1;
        return;
    }
    tcgetattr(slave_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);
    slave_path_ = QString::fromLocal8Bit(name);
}

PseudoTerminal::~PseudoTerminal()
{
    hangUp();
    if (slave_ >= 0)
        ::close(slave_);
}

bool PseudoTerminal::write(const QByteArray& bytes)
{
    // A blocking write to a terminal returns once all of it is queued.
    return master_ >= 0 && ::write(master_, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

void PseudoTerminal::hangUp()
{
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

QByteArray frameBytes(tx710::SimulatedLidar& lidar)
{
    const tx710::FrameBytes frame = lidar.nextFrame();
    return QByteArray(reinterpret_cast<const char*>(frame.data()), int(frame.size()));
}

QStringList serialLockFiles(const QString& device_path)
{
    QString name = device_path;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    QStringList found;
    for (const char* folder : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp", "/var/tmp",
                               "/var/lock/lockdev", "/run/lock"}) {
        const QString path = QString::fromLatin1(folder) + QStringLiteral("/LCK..") + name;
        if (QFileInfo::exists(path))
            found << QFileInfo(path).canonicalFilePath();
    }
    found.removeDuplicates(); // /var/lock is often /run/lock
    return found;
}

void detachLink()
{
    if (auto port = SerialLogic::instance()->serialPort()) {
        QObject::disconnect(port.get(), nullptr, SerialLogic::instance(), nullptr);
        port->close();
    }
}

} // namespace tx710test
