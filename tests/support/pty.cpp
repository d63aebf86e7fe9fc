#include "support/pty.h"

#include <cerrno>
#include <poll.h>
#include <pty.h>
#include <thread>
#include <unistd.h>

#include "SerialPort/serial_logic.h"

namespace tx710test {

namespace {
void makeRaw(int fd)
{
    termios raw{};
    if (tcgetattr(fd, &raw) == 0)
        cfmakeraw(&raw), tcsetattr(fd, TCSANOW, &raw);
}
} // namespace

PseudoTerminal::PseudoTerminal()
{
    char name[128] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        master_ = slave_ = -1;
    else
        makeRaw(slave_), slave_path_ = QString::fromLocal8Bit(name);
}

PseudoTerminal::~PseudoTerminal()
{
    hangUp();
    if (slave_ >= 0)
        ::close(slave_);
}

bool PseudoTerminal::write(const QByteArray& bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = master_ < 0 ? -1 : ::write(master_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno != EINTR)
            return false;
        done += n > 0 ? n : 0;
    }
    return true;
}

bool PseudoTerminal::masterHasInput(int wait_ms)
{
    pollfd p{master_, POLLIN, 0};
    return master_ >= 0 && poll(&p, 1, wait_ms) > 0 && (p.revents & POLLIN);
}

void PseudoTerminal::hangUp()
{
    if (master_ >= 0)
        ::close(master_), master_ = -1;
}

QByteArray frameBytes(tx710::SimulatedLidar& lidar)
{
    const tx710::FrameBytes frame = lidar.nextFrame();
    return QByteArray(reinterpret_cast<const char*>(frame.data()), int(frame.size()));
}

void whileSending(PseudoTerminal& pty, const QByteArray& bytes, const std::function<void()>& action)
{
    std::thread device([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        pty.write(bytes);
    });
    action();
    device.join();
}

void detachLink()
{
    if (auto port = SerialLogic::instance()->serialPort()) {
        QObject::disconnect(port.get(), nullptr, SerialLogic::instance(), nullptr);
        port->close();
    }
}

} // namespace tx710test
