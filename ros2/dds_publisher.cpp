// The publisher on Cyclone DDS's C API, with the types idlc generates from
// ros2/idl. The C samples point into the queued messages' own buffers: the
// write serializes them before it returns, so nothing is copied twice.

#include "ros2/dds_publisher.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <variant>

#include <dds/dds.h>

#include "diagnostic_msgs/msg/DiagnosticArray.h"
#include "ros2/dds_names.h"
#include "sensor_msgs/msg/LaserScan.h"
#include "sensor_msgs/msg/PointCloud2.h"
#include "tf2_msgs/msg/TFMessage.h"

namespace tx710::ros2 {

namespace {

// Room for a second of rounds of each device; a stalled writer loses the
// oldest first.
constexpr std::size_t kQueueLimitPerDevice = 32;
constexpr std::int32_t kHistoryDepth = 10;

// Keeps discovery on this machine: the loopback interface, no multicast, and
// the other participants found by unicast on 127.0.0.1.
const char kLocalhostConfig[] = "<CycloneDDS><Domain Id=\"any\"><General><Interfaces>"
                                "<NetworkInterface address=\"127.0.0.1\"/></Interfaces>"
                                "<AllowMulticast>false</AllowMulticast></General><Discovery>"
                                "<ParticipantIndex>auto</ParticipantIndex>"
                                "<MaxAutoParticipantIndex>32</MaxAutoParticipantIndex>"
                                "<Peers><Peer address=\"127.0.0.1\"/></Peers></Discovery></Domain></CycloneDDS>";

using Message = std::variant<LaserScan, PointCloud2, DiagnosticArray>;

struct Queued {
    std::size_t device = 0; // of a scan or points
    Message message;
};

// The writers of one device's topics.
struct DeviceWriters {
    dds_entity_t scan = 0;
    dds_entity_t points = 0;
};

char* text(const std::string& value)
{
    return const_cast<char*>(value.c_str());
}

template <typename Sequence, typename Element> void borrow(Sequence& sequence, const std::vector<Element>& values)
{
    sequence._maximum = sequence._length = std::uint32_t(values.size());
    sequence._buffer = const_cast<Element*>(values.data());
    sequence._release = false;
}

std_msgs_msg_dds__Header_ header(const Header& from)
{
    return {{from.stamp.sec, from.stamp.nanosec}, text(from.frame_id)};
}

// The last message Cyclone logs while the domain is joined: the reason of a
// failure, in our one line instead of its own; bounded, control bytes escaped
// (it may quote the user's settings).
void keepLastMessage(void* last, const dds_log_data_t* data)
{
    constexpr std::size_t kLongest = 160;
    std::string message(data->message, data->size);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    if (message.empty())
        return;
    std::string& kept = *static_cast<std::string*>(last);
    kept.clear();
    for (std::size_t i = 0; i < message.size() && i < kLongest; ++i)
        kept += (message[i] >= 0x20 && message[i] < 0x7f) ? message[i] : '?';
    if (message.size() > kLongest)
        kept += "...";
}

} // namespace

struct DdsPublisher::Impl {
    dds_entity_t domain = 0;
    dds_entity_t participant = 0;
    std::vector<DeviceWriters> device_writers;
    dds_entity_t diagnostics_writer = 0;

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Queued> queue;
    std::size_t queue_limit = kQueueLimitPerDevice;
    std::uint64_t dropped = 0;
    bool stopping = false;
    std::thread thread;

    ~Impl()
    {
        if (thread.joinable()) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                stopping = true;
            }
            wake.notify_one();
            thread.join();
        }
        if (domain > 0)
            dds_delete(domain);
        else if (participant > 0)
            dds_delete(participant);
    }

    bool start(const std::string& qualified_namespace, const std::vector<std::string>& device_prefixes,
               const TFMessage* static_transforms, std::string& error);
    bool joinDomain(std::string& error);
    dds_entity_t createWriter(const dds_topic_descriptor_t* descriptor, const std::string& name, bool latched,
                              std::string& error);
    bool writeStatic(const TFMessage& transforms, std::string& error);
    void push(Queued queued);
    void run();
    dds_return_t write(const Queued& queued);
};

bool DdsPublisher::Impl::joinDomain(std::string& error)
{
    DdsEnvironment environment;
    if (!readEnvironment(environment, error))
        return false;

    std::string last_message;
    dds_set_log_sink(keepLastMessage, &last_message);
    dds_qos_t* participant_qos = dds_create_qos();
    // The participant user data ROS 2 gives its own (its security enclave).
    static const char kEnclave[] = "enclave=/;";
    dds_qset_userdata(participant_qos, kEnclave, sizeof kEnclave - 1);
    if (environment.localhost_only) {
        std::string config = kLocalhostConfig;
        if (const char* uri = std::getenv("CYCLONEDDS_URI"); uri && *uri)
            config += std::string(",") + uri; // the user's settings come last and win
        domain = dds_create_domain(environment.domain, config.c_str());
        participant = domain < 0 ? domain : dds_create_participant(environment.domain, participant_qos, nullptr);
    } else {
        participant = dds_create_participant(environment.domain, participant_qos, nullptr);
    }
    dds_delete_qos(participant_qos);
    dds_set_log_sink(nullptr, nullptr);
    if (domain < 0 || participant < 0) {
        const dds_return_t code = domain < 0 ? domain : participant;
        domain = participant = 0;
        error = "DDS cannot start on domain " + std::to_string(environment.domain) + ": "
            + (last_message.empty() ? std::string(dds_strretcode(code)) : last_message);
        return false;
    }
    return true;
}

bool DdsPublisher::Impl::start(const std::string& qualified_namespace, const std::vector<std::string>& device_prefixes,
                               const TFMessage* static_transforms, std::string& error)
{
    if (!joinDomain(error))
        return false;
    for (const std::string& prefix : device_prefixes) {
        DeviceWriters writers;
        writers.scan = createWriter(&sensor_msgs_msg_dds__LaserScan__desc,
                                    ddsTopicName(qualified_namespace + prefix, "scan"), false, error);
        writers.points = writers.scan < 0
            ? writers.scan
            : createWriter(&sensor_msgs_msg_dds__PointCloud2__desc,
                           ddsTopicName(qualified_namespace + prefix, "tx710/points"), false, error);
        if (writers.points < 0)
            return false;
        device_writers.push_back(writers);
    }
    diagnostics_writer = createWriter(&diagnostic_msgs_msg_dds__DiagnosticArray__desc,
                                      ddsTopicName(qualified_namespace, "diagnostics"), false, error);
    if (diagnostics_writer < 0 || (static_transforms && !writeStatic(*static_transforms, error)))
        return false;
    queue_limit = kQueueLimitPerDevice * std::max<std::size_t>(1, device_prefixes.size());
    thread = std::thread([this] { run(); });
    return true;
}

// Written at once, before the queue's thread runs, so that no full queue can
// ever push the transforms out; the writer's history keeps them for every
// subscriber that joins later.
bool DdsPublisher::Impl::writeStatic(const TFMessage& transforms, std::string& error)
{
    const std::string name = ddsTopicName("", "tf_static");
    const dds_entity_t writer = createWriter(&tf2_msgs_msg_dds__TFMessage__desc, name, true, error);
    if (writer < 0)
        return false;
    std::vector<geometry_msgs_msg_dds__TransformStamped_> entries;
    for (const TransformStamped& from : transforms.transforms) {
        geometry_msgs_msg_dds__TransformStamped_ entry{};
        entry.header = header(from.header);
        entry.child_frame_id = text(from.child_frame_id);
        const Transform& transform = from.transform;
        entry.transform.translation = {transform.translation.x, transform.translation.y, transform.translation.z};
        entry.transform.rotation = {transform.rotation.x, transform.rotation.y, transform.rotation.z,
                                    transform.rotation.w};
        entries.push_back(entry);
    }
    tf2_msgs_msg_dds__TFMessage_ sample{};
    borrow(sample.transforms, entries);
    const dds_return_t code = dds_write(writer, &sample);
    if (code < 0)
        error = "DDS " + name + ": " + dds_strretcode(code);
    return code >= 0;
}

// `latched`: transient-local, keep last 1, as tf2's static broadcaster;
// otherwise volatile, keep last kHistoryDepth.
dds_entity_t DdsPublisher::Impl::createWriter(const dds_topic_descriptor_t* descriptor, const std::string& name,
                                              bool latched, std::string& error)
{
    const dds_entity_t topic = dds_create_topic(participant, descriptor, name.c_str(), nullptr, nullptr);
    if (topic < 0) {
        error = "DDS topic " + name + ": " + dds_strretcode(topic);
        return topic;
    }
    dds_qos_t* qos = dds_create_qos();
    dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_MSECS(100));
    dds_qset_durability(qos, latched ? DDS_DURABILITY_TRANSIENT_LOCAL : DDS_DURABILITY_VOLATILE);
    dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, latched ? 1 : kHistoryDepth);
    const dds_entity_t writer = dds_create_writer(participant, topic, qos, nullptr);
    dds_delete_qos(qos);
    if (writer < 0)
        error = "DDS writer " + name + ": " + dds_strretcode(writer);
    return writer;
}

void DdsPublisher::Impl::push(Queued queued)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!thread.joinable() || stopping)
            return;
        if (queue.size() >= queue_limit) {
            queue.pop_front();
            ++dropped;
        }
        queue.push_back(std::move(queued));
    }
    wake.notify_one();
}

void DdsPublisher::Impl::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stopping || !queue.empty(); });
        if (queue.empty())
            return; // stopping, with everything written
        Queued queued = std::move(queue.front());
        queue.pop_front();
        lock.unlock();
        const dds_return_t code = write(queued);
        lock.lock();
        if (code < 0)
            ++dropped;
    }
}

dds_return_t DdsPublisher::Impl::write(const Queued& queued)
{
    const Message& message = queued.message;
    if (!std::holds_alternative<DiagnosticArray>(message) && queued.device >= device_writers.size())
        return DDS_RETCODE_BAD_PARAMETER;
    if (const auto* scan = std::get_if<LaserScan>(&message)) {
        sensor_msgs_msg_dds__LaserScan_ sample{};
        sample.header = header(scan->header);
        sample.angle_min = scan->angle_min;
        sample.angle_max = scan->angle_max;
        sample.angle_increment = scan->angle_increment;
        sample.time_increment = scan->time_increment;
        sample.scan_time = scan->scan_time;
        sample.range_min = scan->range_min;
        sample.range_max = scan->range_max;
        borrow(sample.ranges, scan->ranges);
        borrow(sample.intensities, scan->intensities);
        return dds_write(device_writers[queued.device].scan, &sample);
    }
    if (const auto* cloud = std::get_if<PointCloud2>(&message)) {
        std::vector<sensor_msgs_msg_dds__PointField_> fields;
        for (const PointField& field : cloud->fields)
            fields.push_back({text(field.name), field.offset, field.datatype, field.count});
        sensor_msgs_msg_dds__PointCloud2_ sample{};
        sample.header = header(cloud->header);
        sample.height = cloud->height;
        sample.width = cloud->width;
        borrow(sample.fields, fields);
        sample.is_bigendian = cloud->is_bigendian;
        sample.point_step = cloud->point_step;
        sample.row_step = cloud->row_step;
        borrow(sample.data, cloud->data);
        sample.is_dense = cloud->is_dense;
        return dds_write(device_writers[queued.device].points, &sample);
    }
    const auto& diagnostics = std::get<DiagnosticArray>(message);
    std::vector<std::vector<diagnostic_msgs_msg_dds__KeyValue_>> values;
    std::vector<diagnostic_msgs_msg_dds__DiagnosticStatus_> statuses;
    for (const DiagnosticStatus& status : diagnostics.status) {
        values.emplace_back();
        for (const KeyValue& pair : status.values)
            values.back().push_back({text(pair.key), text(pair.value)});
        diagnostic_msgs_msg_dds__DiagnosticStatus_ entry{};
        entry.level = status.level;
        entry.name = text(status.name);
        entry.message = text(status.message);
        entry.hardware_id = text(status.hardware_id);
        borrow(entry.values, values.back());
        statuses.push_back(entry);
    }
    diagnostic_msgs_msg_dds__DiagnosticArray_ sample{};
    sample.header = header(diagnostics.header);
    borrow(sample.status, statuses);
    return dds_write(diagnostics_writer, &sample);
}

DdsPublisher::DdsPublisher() = default;

DdsPublisher::~DdsPublisher() = default;

bool DdsPublisher::supported()
{
    return true;
}

bool DdsPublisher::start(const std::string& qualified_namespace, const std::vector<std::string>& device_prefixes,
                         const TFMessage* static_transforms, std::string& error)
{
    impl_ = std::make_unique<Impl>();
    if (impl_->start(qualified_namespace, device_prefixes, static_transforms, error))
        return true;
    impl_.reset();
    return false;
}

void DdsPublisher::publish(std::size_t device, LaserScan scan)
{
    if (impl_)
        impl_->push({device, std::move(scan)});
}

void DdsPublisher::publish(std::size_t device, PointCloud2 cloud)
{
    if (impl_)
        impl_->push({device, std::move(cloud)});
}

void DdsPublisher::publish(DiagnosticArray diagnostics)
{
    if (impl_)
        impl_->push({0, std::move(diagnostics)});
}

std::uint64_t DdsPublisher::dropped() const
{
    if (!impl_)
        return 0;
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->dropped;
}

void DdsPublisher::stop()
{
    impl_.reset();
}

} // namespace tx710::ros2
