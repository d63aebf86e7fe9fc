// The publisher of a build without DDS: it says so and publishes nothing.

#include "ros2/dds_publisher.h"

namespace tx710::ros2 {

struct DdsPublisher::Impl {
};

DdsPublisher::DdsPublisher() = default;
DdsPublisher::~DdsPublisher() = default;

bool DdsPublisher::supported()
{
    return false;
}

bool DdsPublisher::start(const std::string&, const std::vector<std::string>&, const TFMessage*, std::string& error)
{
    error = "--ros2: this build has no DDS support (Cyclone DDS was not found when it was configured)";
    return false;
}

void DdsPublisher::publish(std::size_t, LaserScan) {}
void DdsPublisher::publish(std::size_t, PointCloud2) {}
void DdsPublisher::publish(DiagnosticArray) {}

std::uint64_t DdsPublisher::dropped() const
{
    return 0;
}

void DdsPublisher::stop() {}

} // namespace tx710::ros2
