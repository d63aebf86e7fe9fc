#include "recording/ros2_cdr.h"

#include "recording/cdr_reader.h"
#include "recording/cdr_writer.h"

namespace tx710::ros2 {

namespace {

void put(cdr::Writer& out, const Header& header)
{
    out.i32(header.stamp.sec);
    out.u32(header.stamp.nanosec);
    out.string(header.frame_id);
}

void get(cdr::Reader& in, Header& header)
{
    header.stamp.sec = in.i32();
    header.stamp.nanosec = in.u32();
    header.frame_id = in.string();
}

// Whole, and nothing after the last field but padding.
bool finished(const cdr::Reader& in)
{
    return in.ok() && in.left() < 4;
}

} // namespace

std::vector<std::uint8_t> encode(const LaserScan& scan)
{
    cdr::Writer out;
    put(out, scan.header);
    for (float value : {scan.angle_min, scan.angle_max, scan.angle_increment, scan.time_increment, scan.scan_time,
                        scan.range_min, scan.range_max})
        out.f32(value);
    out.f32Sequence(scan.ranges);
    out.f32Sequence(scan.intensities);
    return out.take();
}

bool decode(const std::uint8_t* data, std::size_t size, LaserScan& scan)
{
    cdr::Reader in(data, size);
    get(in, scan.header);
    for (float* value : {&scan.angle_min, &scan.angle_max, &scan.angle_increment, &scan.time_increment, &scan.scan_time,
                         &scan.range_min, &scan.range_max})
        *value = in.f32();
    scan.ranges = in.f32Sequence();
    scan.intensities = in.f32Sequence();
    return finished(in);
}

std::vector<std::uint8_t> encode(const PointCloud2& cloud)
{
    cdr::Writer out;
    put(out, cloud.header);
    out.u32(cloud.height);
    out.u32(cloud.width);
    out.u32(std::uint32_t(cloud.fields.size()));
    for (const PointField& field : cloud.fields) {
        out.string(field.name);
        out.u32(field.offset);
        out.u8(field.datatype);
        out.u32(field.count);
    }
    out.boolean(cloud.is_bigendian);
    out.u32(cloud.point_step);
    out.u32(cloud.row_step);
    out.u8Sequence(cloud.data);
    out.boolean(cloud.is_dense);
    return out.take();
}

bool decode(const std::uint8_t* data, std::size_t size, PointCloud2& cloud)
{
    cdr::Reader in(data, size);
    get(in, cloud.header);
    cloud.height = in.u32();
    cloud.width = in.u32();
    cloud.fields.resize(in.count(13)); // the smallest field: 4 + 1 + 4 + 1 + 4 bytes, less padding
    for (PointField& field : cloud.fields) {
        field.name = in.string();
        field.offset = in.u32();
        field.datatype = in.u8();
        field.count = in.u32();
    }
    cloud.is_bigendian = in.boolean();
    cloud.point_step = in.u32();
    cloud.row_step = in.u32();
    cloud.data = in.u8Sequence();
    cloud.is_dense = in.boolean();
    return finished(in);
}

std::vector<std::uint8_t> encode(const DiagnosticArray& diagnostics)
{
    cdr::Writer out;
    put(out, diagnostics.header);
    out.u32(std::uint32_t(diagnostics.status.size()));
    for (const DiagnosticStatus& status : diagnostics.status) {
        out.u8(status.level);
        out.string(status.name);
        out.string(status.message);
        out.string(status.hardware_id);
        out.u32(std::uint32_t(status.values.size()));
        for (const KeyValue& pair : status.values) {
            out.string(pair.key);
            out.string(pair.value);
        }
    }
    return out.take();
}

bool decode(const std::uint8_t* data, std::size_t size, DiagnosticArray& diagnostics)
{
    cdr::Reader in(data, size);
    get(in, diagnostics.header);
    diagnostics.status.resize(in.count(17));
    for (DiagnosticStatus& status : diagnostics.status) {
        status.level = in.u8();
        status.name = in.string();
        status.message = in.string();
        status.hardware_id = in.string();
        status.values.resize(in.count(10));
        for (KeyValue& pair : status.values) {
            pair.key = in.string();
            pair.value = in.string();
        }
    }
    return finished(in);
}

std::vector<std::uint8_t> encode(const TFMessage& transforms)
{
    cdr::Writer out;
    out.u32(std::uint32_t(transforms.transforms.size()));
    for (const TransformStamped& transform : transforms.transforms) {
        put(out, transform.header);
        out.string(transform.child_frame_id);
        const Transform& t = transform.transform;
        for (double value : {t.translation.x, t.translation.y, t.translation.z, t.rotation.x, t.rotation.y,
                             t.rotation.z, t.rotation.w})
            out.f64(value);
    }
    return out.take();
}

bool decode(const std::uint8_t* data, std::size_t size, TFMessage& transforms)
{
    cdr::Reader in(data, size);
    // The smallest transform: a header of 4 + 4 + 5, a child of 5, seven float64.
    transforms.transforms.resize(in.count(74));
    for (TransformStamped& transform : transforms.transforms) {
        get(in, transform.header);
        transform.child_frame_id = in.string();
        Transform& t = transform.transform;
        for (double* value : {&t.translation.x, &t.translation.y, &t.translation.z, &t.rotation.x, &t.rotation.y,
                              &t.rotation.z, &t.rotation.w})
            *value = in.f64();
    }
    return finished(in);
}

} // namespace tx710::ros2
