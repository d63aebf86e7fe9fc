#pragma once

// One completed revolution as the recording outputs (CSV, MCAP, live server) see it.

#include <cstdint>
#include <vector>

#include "recording/data_file.h"

struct ScanRound {
    int number = 0;                   // from 1, per device
    std::int64_t receive_time_ns = 0; // since the Unix epoch
    std::vector<PointRecord> points;
    double speed_rpm = 0; // the device's turning speed at the round's end; 0: not known
    int device = 0;       // its LiDAR's index in the recording's DeviceScans
};
