// A ROS 2 style subscriber on Fast DDS, the other DDS implementation, with
// types fastddsgen generates from ros2/idl: it joins the domain of
// ROS_DOMAIN_ID (discovery settings from FASTRTPS_DEFAULT_PROFILES_FILE) and
// takes rt/<ns>/scan, rt/<ns>/tx710/points and rt/<ns>/diagnostics.
// For each topic it writes into OUT_DIR the received bytes as they came
// (<topic>.bin: 4-byte little-endian length, then the serialized sample) and
// what Fast DDS decoded of them (<topic>.jsonl, one JSON object a line); the
// topic and type names of the writers it discovered go to writers.txt.
// It ends on SIGTERM or SIGINT, or after SECONDS; prints the counts.
//
// Usage: dds_subscriber OUT_DIR SECONDS [NAMESPACE]

#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/domain/DomainParticipantFactory.hpp>
#include <fastdds/dds/domain/DomainParticipantListener.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>
#include <fastdds/dds/subscriber/SampleInfo.hpp>
#include <fastdds/dds/subscriber/Subscriber.hpp>
#include <fastdds/dds/topic/TopicDataType.hpp>
#include <fastdds/dds/topic/TypeSupport.hpp>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "diagnostic_msgs/msg/DiagnosticArrayPubSubTypes.h"
#include "sensor_msgs/msg/LaserScanPubSubTypes.h"
#include "sensor_msgs/msg/PointCloud2PubSubTypes.h"

using namespace eprosima::fastdds::dds;
using eprosima::fastrtps::rtps::SerializedPayload_t;

namespace {

volatile std::sig_atomic_t stop_asked = 0;

// The generated type, keeping beside the decoded message the bytes it came as.
template <typename Message, typename Generated> class Capturing : public TopicDataType
{
public:
    struct Sample {
        std::vector<unsigned char> bytes;
        Message message;
    };
    Capturing()
    {
        setName(generated_.getName());
        m_typeSize = generated_.m_typeSize;
        m_isGetKeyDefined = false;
    }
    bool serialize(void*, SerializedPayload_t*) override { return false; }
    bool deserialize(SerializedPayload_t* payload, void* data) override
    {
        auto* sample = static_cast<Sample*>(data);
        sample->bytes.assign(payload->data, payload->data + payload->length);
        return generated_.deserialize(payload, &sample->message);
    }
    std::function<uint32_t()> getSerializedSizeProvider(void*) override
    {
        return [] { return 0u; };
    }
    void* createData() override { return new Sample(); }
    void deleteData(void* data) override { delete static_cast<Sample*>(data); }
    bool getKey(void*, eprosima::fastrtps::rtps::InstanceHandle_t*, bool) override { return false; }

private:
    Generated generated_;
};

std::string number(double value)
{
    if (std::isnan(value))
        return "\"NaN\"";
    if (std::isinf(value))
        return value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

template <typename Values> std::string array(const Values& values)
{
    std::string out = "[";
    for (const auto& value : values)
        out += (out.size() > 1 ? "," : "") + number(value);
    return out + "]";
}

std::string header(const std_msgs::msg::dds_::Header_& header)
{
    return "\"header\":{\"stamp\":{\"sec\":" + std::to_string(header.stamp().sec()) + ",\"nanosec\":"
        + std::to_string(header.stamp().nanosec()) + "},\"frame_id\":" + quoted(header.frame_id()) + "}";
}

std::string json(const sensor_msgs::msg::dds_::LaserScan_& m)
{
    return "{" + header(m.header()) + ",\"angle_min\":" + number(m.angle_min())
        + ",\"angle_max\":" + number(m.angle_max()) + ",\"angle_increment\":" + number(m.angle_increment())
        + ",\"time_increment\":" + number(m.time_increment()) + ",\"scan_time\":" + number(m.scan_time())
        + ",\"range_min\":" + number(m.range_min()) + ",\"range_max\":" + number(m.range_max())
        + ",\"ranges\":" + array(m.ranges()) + ",\"intensities\":" + array(m.intensities()) + "}";
}

std::string json(const sensor_msgs::msg::dds_::PointCloud2_& m)
{
    std::string fields;
    for (const auto& f : m.fields())
        fields += std::string(fields.empty() ? "" : ",") + "{\"name\":" + quoted(f.name())
            + ",\"offset\":" + std::to_string(f.offset()) + ",\"datatype\":" + std::to_string(f.datatype())
            + ",\"count\":" + std::to_string(f.count()) + "}";
    return "{" + header(m.header()) + ",\"height\":" + std::to_string(m.height())
        + ",\"width\":" + std::to_string(m.width()) + ",\"fields\":[" + fields
        + "],\"is_bigendian\":" + (m.is_bigendian() ? "true" : "false")
        + ",\"point_step\":" + std::to_string(m.point_step()) + ",\"row_step\":" + std::to_string(m.row_step())
        + ",\"data\":" + array(m.data()) + ",\"is_dense\":" + (m.is_dense() ? "true" : "false") + "}";
}

std::string json(const diagnostic_msgs::msg::dds_::DiagnosticArray_& m)
{
    std::string statuses;
    for (const auto& s : m.status()) {
        std::string values;
        for (const auto& v : s.values())
            values += std::string(values.empty() ? "" : ",") + "{\"key\":" + quoted(v.key())
                + ",\"value\":" + quoted(v.value()) + "}";
        statuses += std::string(statuses.empty() ? "" : ",") + "{\"level\":" + std::to_string(s.level())
            + ",\"name\":" + quoted(s.name()) + ",\"message\":" + quoted(s.message())
            + ",\"hardware_id\":" + quoted(s.hardware_id()) + ",\"values\":[" + values + "]}";
    }
    return "{" + header(m.header()) + ",\"status\":[" + statuses + "]}";
}

// Takes every sample of one topic and writes it out.
template <typename Message, typename Generated> class Reception : public DataReaderListener
{
public:
    using Type = Capturing<Message, Generated>;
    Reception(const std::string& dir, const std::string& file)
        : bytes_(dir + "/" + file + ".bin"), json_(dir + "/" + file + ".jsonl")
    {}

    void on_data_available(DataReader* reader) override
    {
        typename Type::Sample sample;
        SampleInfo info;
        while (reader->take_next_sample(&sample, &info) == ReturnCode_t::RETCODE_OK) {
            if (!info.valid_data)
                continue;
            const auto size = uint32_t(sample.bytes.size());
            const unsigned char length[4] = {uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16),
                                             uint8_t(size >> 24)};
            bytes_.write(reinterpret_cast<const char*>(length), 4);
            bytes_.write(reinterpret_cast<const char*>(sample.bytes.data()), size);
            json_ << json(sample.message) << '\n';
            ++count;
        }
    }

    std::atomic<int> count{0};

private:
    std::ofstream bytes_;
    std::ofstream json_;
};

class Writers : public DomainParticipantListener
{
public:
    explicit Writers(const std::string& path) : out_(path) {}
    void on_publisher_discovery(DomainParticipant*, eprosima::fastrtps::rtps::WriterDiscoveryInfo&& info) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        out_ << info.info.topicName() << ' ' << info.info.typeName() << std::endl;
    }

private:
    std::mutex mutex_;
    std::ofstream out_;
};

template <typename T>
DataReader* subscribe(DomainParticipant* participant, Subscriber* subscriber, const std::string& name, T& topic)
{
    TypeSupport type(new typename T::Type());
    type.register_type(participant);
    Topic* dds_topic = participant->create_topic(name, type.get_type_name(), TOPIC_QOS_DEFAULT);
    DataReaderQos qos = DATAREADER_QOS_DEFAULT;
    qos.reliability().kind = RELIABLE_RELIABILITY_QOS;
    qos.durability().kind = VOLATILE_DURABILITY_QOS;
    qos.history().kind = KEEP_LAST_HISTORY_QOS;
    qos.history().depth = 100;
    return subscriber->create_datareader(dds_topic, qos, &topic);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: dds_subscriber OUT_DIR SECONDS [NAMESPACE]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[2]));
    const std::string prefix = std::string("rt") + (argc > 3 ? std::string("/") + argv[3] : std::string());
    std::signal(SIGTERM, [](int) { stop_asked = 1; });
    std::signal(SIGINT, [](int) { stop_asked = 1; });
    const char* domain = std::getenv("ROS_DOMAIN_ID");

    Writers writers(dir + "/writers.txt");
    // No status of the participant's listener: it would take the readers'
    // data events away from them. Discovery reaches it all the same.
    DomainParticipant* participant = DomainParticipantFactory::get_instance()->create_participant(
        domain ? std::atoi(domain) : 0, PARTICIPANT_QOS_DEFAULT, &writers, StatusMask::none());
    if (!participant) {
        std::fprintf(stderr, "dds_subscriber: cannot join the domain\n");
        return 1;
    }
    Subscriber* subscriber = participant->create_subscriber(SUBSCRIBER_QOS_DEFAULT);
    Reception<sensor_msgs::msg::dds_::LaserScan_, sensor_msgs::msg::dds_::LaserScan_PubSubType> scan(dir, "scan");
    Reception<sensor_msgs::msg::dds_::PointCloud2_, sensor_msgs::msg::dds_::PointCloud2_PubSubType> points(dir,
                                                                                                           "points");
    Reception<diagnostic_msgs::msg::dds_::DiagnosticArray_, diagnostic_msgs::msg::dds_::DiagnosticArray_PubSubType>
        diagnostics(dir, "diagnostics");
    if (!subscribe(participant, subscriber, prefix + "/scan", scan)
        || !subscribe(participant, subscriber, prefix + "/tx710/points", points)
        || !subscribe(participant, subscriber, prefix + "/diagnostics", diagnostics)) {
        std::fprintf(stderr, "dds_subscriber: cannot create the readers\n");
        return 1;
    }
    std::printf("subscribed\n");
    std::fflush(stdout);
    while (!stop_asked && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    participant->delete_contained_entities();
    DomainParticipantFactory::get_instance()->delete_participant(participant);
    std::printf("scan %d points %d diagnostics %d\n", scan.count.load(), points.count.load(), diagnostics.count.load());
    return 0;
}
