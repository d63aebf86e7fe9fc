#include "recording/scan_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tx710 {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::size_t kMaxFrameId = 64;

bool number(const char* text, double& value)
{
    if (text == nullptr || *text == '\0')
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return errno == 0 && *end == '\0' && std::isfinite(value);
}

bool frameIdChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '/'
        || c == '.' || c == '-';
}

bool validFrameId(const std::string& id)
{
    if (id.empty() || id.size() > kMaxFrameId || id.front() == '/')
        return false;
    for (char c : id)
        if (!frameIdChar(c))
            return false;
    return true;
}

// "X,Y,Z,YAW": four finite numbers, the place within a kilometre.
bool parseMount(const std::string& text, ScanOptions::Mount& mount)
{
    double values[4] = {};
    std::size_t from = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t comma = i < 3 ? text.find(',', from) : text.size();
        if (comma == std::string::npos || !number(text.substr(from, comma - from).c_str(), values[i]))
            return false;
        from = comma + 1;
    }
    for (int i = 0; i < 3; ++i)
        if (std::fabs(values[i]) > 1000)
            return false;
    if (std::fabs(values[3]) > 360)
        return false;
    mount = ScanOptions::Mount{values[0], values[1], values[2], values[3]};
    return true;
}

double wrapDegrees(double degrees)
{
    const double wrapped = std::fmod(degrees, 360.0);
    return wrapped < 0 ? wrapped + 360.0 : wrapped;
}

} // namespace

const std::vector<std::string>& scanOptionNames()
{
    static const std::vector<std::string> names{"beams", "range-min", "range-max",    "mask",  "upside-down",
                                                "yaw",   "frame-id",  "mcap-profile", "mount", "base-frame"};
    return names;
}

bool scanOptionTakesValue(const std::string& name)
{
    return name != "upside-down";
}

bool parseScanOption(const std::string& name, const char* value, ScanOptions& options, std::string& error)
{
    const std::string text = value ? value : "";
    const auto fail = [&](const char* needs) {
        error = "--" + name + " needs " + needs + ": '" + shortEscaped(text) + "'";
        return false;
    };
    double x = 0;
    if (name == "beams") {
        if (!number(value, x) || x != std::floor(x) || x < ScanOptions::kMinBeams || x > ScanOptions::kMaxBeams)
            return fail("a whole number of beams from 90 to 3600");
        options.beams = int(x);
    } else if (name == "range-min") {
        if (!number(value, x) || x < 0 || x > ScanOptions::kSensorRangeMax)
            return fail("metres from 0 to 65.535");
        options.range_min = x;
    } else if (name == "range-max") {
        if (!number(value, x) || x <= 0 || x > ScanOptions::kSensorRangeMax)
            return fail("metres above 0, at most 65.535");
        options.range_max = x;
    } else if (name == "mask") {
        const std::size_t colon = text.find(':');
        double from = 0, to = 0;
        if (colon == std::string::npos || !number(text.substr(0, colon).c_str(), from)
            || !number(text.substr(colon + 1).c_str(), to) || from < 0 || from > 360 || to < 0 || to > 360
            || from == to)
            return fail("FROM:TO, two different angles from 0 to 360 degrees");
        options.masks.push_back(ScanOptions::Sector{from, to});
    } else if (name == "upside-down") {
        options.upside_down = true;
    } else if (name == "yaw") {
        if (!number(value, x) || x < -360 || x > 360)
            return fail("degrees from -360 to 360");
        options.yaw_deg = x;
    } else if (name == "frame-id") {
        if (!validFrameId(text))
            return fail("a frame name of 1 to 64 letters, digits or _ / . - (no leading /)");
        options.frame_id = text;
    } else if (name == "mount") {
        if (!parseMount(text, options.mount))
            return fail("X,Y,Z,YAW: metres from -1000 to 1000 and degrees from -360 to 360");
        options.mounted = true;
    } else if (name == "base-frame") {
        if (!validFrameId(text))
            return fail("a frame name of 1 to 64 letters, digits or _ / . - (no leading /)");
        options.base_frame = text;
    } else if (name == "mcap-profile") {
        if (text == "ros2")
            options.profile = ScanOptions::Profile::Ros2;
        else if (text == "foxglove")
            options.profile = ScanOptions::Profile::Foxglove;
        else
            return fail("ros2 or foxglove");
    } else {
        error = "unknown option --" + shortEscaped(name);
        return false;
    }
    return true;
}

bool checkScanOptions(const ScanOptions& options, std::string& error)
{
    if (options.range_min < options.range_max)
        return true;
    char line[120];
    std::snprintf(line, sizeof line, "--range-min (%g m) must be below --range-max (%g m)", options.range_min,
                  options.range_max);
    error = line;
    return false;
}

const char* scanOptionsUsage()
{
    return "  --mcap-profile NAME ros2 (default: LaserScan, PointCloud2 and diagnostics in\n"
           "                      CDR, for ROS 2 tools) or foxglove (JSON point clouds);\n"
           "                      for the .mcap files and the live stream\n"
           "  --beams N           beams of every LaserScan, 90 to 3600 (default 450)\n"
           "  --range-min M       shortest valid range in metres (default 0.001)\n"
           "  --range-max M       longest valid range in metres (default 65.535)\n"
           "  --mask FROM:TO      leave out the sector from FROM to TO degrees (the\n"
           "                      LiDAR's angles, clockwise; may wrap past 360), repeatable\n"
           "  --upside-down       the LiDAR hangs head down: mirror the bearings\n"
           "  --yaw DEG           the LiDAR's 0 degrees is turned DEG counter-clockwise\n"
           "  --frame-id ID       the frame of the scans and point clouds (default tx710)\n"
           "  --mount X,Y,Z,YAW   where the LiDAR sits on the robot: metres and degrees\n"
           "                      counter-clockwise in the base frame (/tf_static)\n"
           "  --base-frame NAME   the robot's frame for --mount (default base_link)\n";
}

double bearingOf(const ScanOptions& options, double device_angle_deg)
{
    const double turned = (options.upside_down ? device_angle_deg : -device_angle_deg) + options.yaw_deg;
    return turned * kPi / 180.0;
}

double deviceAngleOf(const ScanOptions& options, double bearing_rad)
{
    const double turned = bearing_rad * 180.0 / kPi - options.yaw_deg;
    return wrapDegrees(options.upside_down ? turned : -turned);
}

bool isMasked(const ScanOptions& options, double device_angle_deg)
{
    const double angle = wrapDegrees(device_angle_deg);
    for (const ScanOptions::Sector& sector : options.masks) {
        const double from = sector.from_deg;
        const double to = sector.to_deg;
        // A sector ending at 360 also holds 0.
        if (from < to ? (angle >= from && angle <= to) || (to == 360 && angle == 0) : (angle >= from || angle <= to))
            return true;
    }
    return false;
}

std::string topicPrefix(const DeviceScans& devices, std::size_t device)
{
    return devices.size() > 1 ? "/" + devices.at(device).frame_id : std::string();
}

bool hasTransforms(const DeviceScans& devices)
{
    return devices.size() > 1 || (devices.size() == 1 && devices.front().mounted);
}

std::string shortEscaped(const std::string& text)
{
    constexpr std::size_t kShown = 40;
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c >= 0x7f || c == '\\' || c == '\'') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += char(c);
        }
    }
    if (text.size() > kShown)
        out += "...";
    return out;
}

} // namespace tx710
