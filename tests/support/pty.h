#pragma once

#include <QString>
#include <QStringList>

#include "tools/simulated_lidar.h"

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
    void hangUp();                       // as an unplugged adapter

private:
    int master_ = -1;
    int slave_ = -1; // held open so the terminal stays raw
    QString slave_path_;
};

QByteArray frameBytes(tx710::SimulatedLidar& lidar);

// The lock files Qt's serial port holds for `device_path` (/dev/pts/3 gives
// LCK..pts_3 in the first usable one of its lock folders): none once closed.
QStringList serialLockFiles(const QString& device_path);

// Detaches the serial link from its port, so that the hang-up of a test's
// pseudo-terminal cannot end the test run.
void detachLink();

} // namespace tx710test
