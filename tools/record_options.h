// The command line of tx710-record: its options, their checks and the usage
// text.

#pragma once

#include <QString>
#include <QStringList>

#include "recording/scan_options.h"
#include "streaming/foxglove_server.h"

namespace tx710 {

struct Options {
    QStringList ports; // the LiDARs, in the order of their --port
    QString replay;
    long long rounds = 0; // 0: no limit
    double duration = 0;  // 0: no limit
    QStringList outputs;
    QString serve; // [HOST:]PORT of the live server, empty: none
    long long max_clients = FoxgloveServer::kDefaultMaxClients;
    bool quiet = false;
    bool realtime = false;
    bool overwrite = false;
    bool reconnect = false;
    double reconnect_timeout = 0; // 0: wait until interrupted
    DeviceScans devices;          // one per port (a replay: one)
    bool ros2 = false;
    QString ros2_namespace;
};

// Returns -1 to go on, or the exit status when parsing ends the program.
int parseOptions(int argc, char** argv, Options& options);

} // namespace tx710
