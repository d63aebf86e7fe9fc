#pragma once

#include <QByteArray>
#include <QString>

namespace tx710test {

// A pseudo-terminal standing in for the LiDAR's serial adapter: the code
// under test opens slavePath() as its port, the test writes the device's
// bytes to the master side. The slave is set raw so bytes pass unchanged.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool isOpen() const { return master_ >= 0; }
    QString slavePath() const { return slave_path_; }

    // Writes all of `bytes` to the master side; false on error.
    bool write(const QByteArray& bytes);
    // True when the code under test wrote anything to the line within
    // `wait_ms` (the link is receive-only).
    bool masterHasInput(int wait_ms);
    // Closes the master: the slave side sees a hang-up, as when the adapter is
    // unplugged.
    void hangUp();

private:
    int master_ = -1;
    int slave_ = -1; // held open so the terminal stays configured
    QString slave_path_;
};

// Reads a serial line or pseudo-terminal slave as a raw reader until the
// other side hangs up or `timeout_ms` passes; `hung_up` tells which.
QByteArray readUntilHangUp(const QString& path, int timeout_ms, bool& hung_up);

} // namespace tx710test
