#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

#include "SerialPort/simulated_lidar.h"

namespace tx710test {

// A pseudo-terminal standing in for the LiDAR's serial adapter: the code under
// test opens slavePath(), the test writes the device's bytes to the master.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    bool isOpen() const { return master_ >= 0; }
    QString slavePath() const { return slave_path_; }
    bool write(const QByteArray& bytes); // all of them; false on error
    bool masterHasInput(int wait_ms);    // the code under test wrote to the line
    void hangUp();                       // as an unplugged adapter

private:
    int master_ = -1;
    int slave_ = -1; // held open so the terminal stays raw
    QString slave_path_;
};

QByteArray frameBytes(tx710::SimulatedLidar& lidar);

// Runs the blocking `action` (an open) while another thread writes `bytes` to
// `pty` 300 ms into it, as the LiDAR answers once its port is open.
void whileSending(PseudoTerminal& pty, const QByteArray& bytes, const std::function<void()>& action);

// Detaches the serial link from its port, so that the hang-up of a test's
// pseudo-terminal does not end the test run.
void detachLink();

} // namespace tx710test
