#pragma once

// The ROS 2 messages the recordings and the live outputs carry, as plain
// structs with the official definitions' fields in their order and types
// (builtin_interfaces, std_msgs, sensor_msgs, diagnostic_msgs, geometry_msgs,
// tf2_msgs). Qt-free: the CDR encoder, the MCAP profile and the DDS publisher
// all fill or read these.

#include <cstdint>
#include <string>
#include <vector>

namespace tx710::ros2 {

// builtin_interfaces/msg/Time
struct Time {
    std::int32_t sec = 0;
    std::uint32_t nanosec = 0;
};

// std_msgs/msg/Header
struct Header {
    Time stamp;
    std::string frame_id;
};

// sensor_msgs/msg/LaserScan
struct LaserScan {
    Header header;
    float angle_min = 0;
    float angle_max = 0;
    float angle_increment = 0;
    float time_increment = 0;
    float scan_time = 0;
    float range_min = 0;
    float range_max = 0;
    std::vector<float> ranges;
    std::vector<float> intensities;
};

// sensor_msgs/msg/PointField
struct PointField {
    enum DataType : std::uint8_t {
        INT8 = 1,
        UINT8 = 2,
        INT16 = 3,
        UINT16 = 4,
        INT32 = 5,
        UINT32 = 6,
        FLOAT32 = 7,
        FLOAT64 = 8
    };
    std::string name;
    std::uint32_t offset = 0;
    std::uint8_t datatype = 0;
    std::uint32_t count = 0;
};

// sensor_msgs/msg/PointCloud2
struct PointCloud2 {
    Header header;
    std::uint32_t height = 0;
    std::uint32_t width = 0;
    std::vector<PointField> fields;
    bool is_bigendian = false;
    std::uint32_t point_step = 0;
    std::uint32_t row_step = 0;
    std::vector<std::uint8_t> data;
    bool is_dense = false;
};

// diagnostic_msgs/msg/KeyValue
struct KeyValue {
    std::string key;
    std::string value;
};

// diagnostic_msgs/msg/DiagnosticStatus
struct DiagnosticStatus {
    enum Level : std::uint8_t { OK = 0, WARN = 1, ERROR = 2, STALE = 3 };
    std::uint8_t level = OK;
    std::string name;
    std::string message;
    std::string hardware_id;
    std::vector<KeyValue> values;
};

// diagnostic_msgs/msg/DiagnosticArray
struct DiagnosticArray {
    Header header;
    std::vector<DiagnosticStatus> status;
};

// geometry_msgs/msg/Vector3
struct Vector3 {
    double x = 0;
    double y = 0;
    double z = 0;
};

// geometry_msgs/msg/Quaternion
struct Quaternion {
    double x = 0;
    double y = 0;
    double z = 0;
    double w = 1;
};

// geometry_msgs/msg/Transform
struct Transform {
    Vector3 translation;
    Quaternion rotation;
};

// geometry_msgs/msg/TransformStamped
struct TransformStamped {
    Header header;
    std::string child_frame_id;
    Transform transform;
};

// tf2_msgs/msg/TFMessage
struct TFMessage {
    std::vector<TransformStamped> transforms;
};

} // namespace tx710::ros2
