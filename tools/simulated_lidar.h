#pragma once

// A simulated TX710 in a rectangular room: produces the same scan frames the
// device sends, for the simulator program, the tests and the benchmarks.

#include <cstdint>
#include <random>
#include <vector>

#include "SerialPort/frame_protocol.h"
#include "recording/data_file.h"

namespace tx710 {

class SimulatedLidar
{
public:
    static constexpr double kDevicePointsPerSecond = 4500.0;
    static constexpr double kDeviceRevolutionsPerSecond = 10.0;
    // Degrees per second as carried in the speed field (10 rev/s).
    static constexpr std::uint16_t kDeviceSpeedField = 3600;

    // points_per_second sets the angular step between points: at 10 rev/s and
    // 4500 points/s a round holds 450 points, 0.8 degree apart, 37.5 frames.
    // The same seed gives the same stream.
    explicit SimulatedLidar(double points_per_second = kDevicePointsPerSecond, std::uint32_t seed = 1);

    // The next intact frame of the scene (correct header, count and CRC).
    FrameBytes nextFrame();
    // The field values of the next frame, for callers that want to alter it.
    ScanFrameFields nextFrameFields();

    double pointsPerSecond() const { return points_per_second_; }
    // Time the device needs for one frame at the configured point rate.
    double secondsPerFrame() const { return kPointsPerFrame / points_per_second_; }
    double degreesPerPoint() const { return degrees_per_point_; }
    std::uint64_t framesMade() const { return frames_made_; }
    // Simulated time (seconds) of the first point of the next frame.
    double sceneTime() const { return frames_made_ * secondsPerFrame(); }

    // Range (mm, 0 = no return) and intensity the device sees at `angle`
    // (degrees, the scan-plane convention: 0 straight down, clockwise) at
    // simulated time `seconds`, without the random drop-outs.
    ScanPoint measure(double angle, double seconds) const;

private:
    double points_per_second_;
    double degrees_per_point_;
    double next_angle_ = 0.0; // degrees, first point of the next frame
    std::uint64_t frames_made_ = 0;
    std::mt19937 random_;
};

// Packs recorded rounds into frames of twelve, round by round, in file order.
// A round's last frame is filled up with no-return points continuing the
// angular step. Angles and values are clamped to what the fields can carry.
std::vector<FrameBytes> framesFromRecordedRounds(const std::vector<datafile::RecordedRound>& rounds,
                                                 std::uint16_t speed = SimulatedLidar::kDeviceSpeedField);

} // namespace tx710
