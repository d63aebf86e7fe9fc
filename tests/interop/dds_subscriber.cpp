// A ROS 2 style subscriber on Fast DDS, the other DDS implementation, with
// types fastddsgen generates from ros2/idl: it joins the domain of
// ROS_DOMAIN_ID (discovery settings from FASTRTPS_DEFAULT_PROFILES_FILE) and
// takes rt/<ns>/scan, rt/<ns>/tx710/points and rt/<ns>/diagnostics.
// Fast DDS decodes each sample with the generated types (a sample they cannot
// decode is never delivered); the bytes as they came go into OUT_DIR/<topic>.bin
// (4-byte little-endian length, then the serialized sample) for the official
// ROS 2 CDR reader. The topic and type names of the writers it discovered go
// to writers.txt.
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
#include <csignal>
#include <cstdio>
#include <fstream>
#include <mutex>
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

// Takes every sample of one topic and writes it out.
template <typename Message, typename Generated> class Reception : public DataReaderListener
{
public:
    using Type = Capturing<Message, Generated>;
    Reception(const std::string& dir, const std::string& file) : bytes_(dir + "/" + file + ".bin") {}

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
            ++count;
        }
    }

    std::atomic<int> count{0};

private:
    std::ofstream bytes_;
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
