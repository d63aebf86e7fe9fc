#pragma once

// How ROS 2 finds its way onto DDS: the domain and the discovery range from
// the environment, a node namespace, and the DDS topic name of a ROS 2 topic
// ("rt" + the fully qualified name). Qt-free and free of any DDS library, so
// a build without DDS checks the same inputs.

#include <cstdint>
#include <string>

namespace tx710::ros2 {

struct DdsEnvironment {
    std::uint32_t domain = 0;
    bool localhost_only = false;
};

// Reads ROS_DOMAIN_ID (0 when unset or empty, else a whole number from 0 to
// kMaxDomain), ROS_AUTOMATIC_DISCOVERY_RANGE (LOCALHOST or OFF keep the
// traffic on this machine) and, when that is unset, ROS_LOCALHOST_ONLY=1.
// False with a one-line reason for a bad value.
bool readEnvironment(DdsEnvironment& environment, std::string& error);

// The highest domain DDS maps to UDP ports (7400 + 250 * domain + 1 < 65536).
constexpr std::uint32_t kMaxDomain = 232;

// A ROS 2 namespace ("robot1", "/robot1", "/a/b"): names of letters, digits
// and '_' not starting with a digit, joined by '/'. Returns it fully qualified
// ("/robot1"; "" for none) or false with a one-line reason.
bool qualifyNamespace(const std::string& ros_namespace, std::string& qualified, std::string& error);

// The DDS topic of the ROS 2 topic `name` ("scan", "tx710/points") in the
// qualified namespace: "rt/robot1/scan".
std::string ddsTopicName(const std::string& qualified_namespace, const std::string& name);

// A piece of a bad value fit for an error line: at most 40 characters, with
// anything not printable ASCII escaped.
std::string quoted(const std::string& value);

} // namespace tx710::ros2
