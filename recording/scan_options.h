#pragma once

// How a round becomes a ROS 2 scan and point cloud: the beam count, the range
// limits, the masked sectors and the mounting of the LiDAR. One parser for
// the options of tx710-record and of TX710Viewer --serve. Qt-free.
//
// Angles: the device measures clockwise seen from above, 0 forward. Bearings
// (REP 103) are counter-clockwise in radians, 0 forward along x. Masks are
// given in the device's own angles, before the mounting applies.

#include <string>
#include <vector>

namespace tx710 {

struct ScanOptions {
    static constexpr int kMinBeams = 90;
    static constexpr int kMaxBeams = 3600;
    // The distance field is an unsigned 16-bit count of millimetres in which
    // 0 means "no return": 1 mm to 65.535 m is what a frame can carry.
    static constexpr double kSensorRangeMin = 0.001;
    static constexpr double kSensorRangeMax = 65.535;

    struct Sector {
        double from_deg = 0; // device angle where the sector starts
        double to_deg = 0;   // ... and ends, clockwise; below from_deg: wraps past 360
    };
    enum class Profile { Ros2, Foxglove };

    int beams = 450;
    double range_min = kSensorRangeMin; // metres
    double range_max = kSensorRangeMax;
    std::vector<Sector> masks;
    bool upside_down = false;
    double yaw_deg = 0; // the LiDAR's 0 turned by this much counter-clockwise
    std::string frame_id = "tx710";
    Profile profile = Profile::Ros2;

    // Where the LiDAR sits on the robot (--mount X,Y,Z,YAW): metres, and
    // degrees counter-clockwise, in the robot's frame base_frame.
    struct Mount {
        double x = 0;
        double y = 0;
        double z = 0;
        double yaw_deg = 0;
    };
    Mount mount;
    bool mounted = false;
    std::string base_frame = "base_link";
};

// The LiDARs of one recording in the order of their --port, each with its own
// scan options; a single LiDAR is a list of one.
using DeviceScans = std::vector<ScanOptions>;

// The prefix of a device's topics: "" with one device (/scan), "/<frame id>"
// with several (/front/scan).
std::string topicPrefix(const DeviceScans& devices, std::size_t device);
// Whether the recording carries /tf_static: several devices, or one mounted.
bool hasTransforms(const DeviceScans& devices);

// The option names taken by parseScanOption (without "--"); "upside-down"
// takes no value.
const std::vector<std::string>& scanOptionNames();
bool scanOptionTakesValue(const std::string& name);

// Applies one option. On a malformed value returns false with one line in
// `error` naming the option and a short, escaped piece of the value.
bool parseScanOption(const std::string& name, const char* value, ScanOptions& options, std::string& error);
// What can only be checked with every option given (range_min < range_max).
bool checkScanOptions(const ScanOptions& options, std::string& error);

// The usage lines of these options, for the programs' help texts.
const char* scanOptionsUsage();

// The bearing (radians, counter-clockwise) of a device angle (degrees,
// clockwise), after the mounting; and back, in [0, 360).
double bearingOf(const ScanOptions& options, double device_angle_deg);
double deviceAngleOf(const ScanOptions& options, double bearing_rad);
// True when the device angle lies in one of the masked sectors.
bool isMasked(const ScanOptions& options, double device_angle_deg);

// At most ~40 characters of `text`, anything unprintable as \xNN.
std::string shortEscaped(const std::string& text);

} // namespace tx710
