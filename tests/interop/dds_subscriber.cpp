// A ROS 2 style subscriber on Fast DDS with types fastddsgen makes from ros2/idl. It joins the domain
// of ROS_DOMAIN_ID (discovery settings from FASTRTPS_DEFAULT_PROFILES_FILE) and takes rt/<ns>/scan,
// rt/<ns>/tx710/points and rt/<ns>/diagnostics. A sample the generated types cannot decode is never
// delivered; the bytes of the others go into OUT_DIR/<topic>.bin (4-byte little-endian length, then
// the sample), the discovered writers' topic and type names into writers.txt. It ends on SIGTERM,
// SIGINT or after SECONDS and prints the counts.
// Usage: dds_subscriber OUT_DIR SECONDS [NAMESPACE]

#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/domain/DomainParticipantFactory.hpp>
#include <fastdds/dds/domain/DomainParticipantListener.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>
#include <fastdds/dds/subscriber/SampleInfo.hpp>
#include <fastdds/dds/subscriber/Subscriber.hpp>
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

// A generated type that keeps beside the decoded message the bytes it came as.
template <typename Generated> struct Capturing : Generated {
    struct Sample {
        std::vector<unsigned char> bytes;
        typename Generated::type message;
    };
    bool deserialize(SerializedPayload_t* payload, void* data) override
    {
        auto* sample = static_cast<Sample*>(data);
        sample->bytes.assign(payload->data, payload->data + payload->length);
        return Generated::deserialize(payload, &sample->message);
    }
    void* createData() override { return new Sample(); }
    void deleteData(void* data) override { delete static_cast<Sample*>(data); }
};

// Takes every sample of one topic and writes it out.
template <typename Generated> struct Reception : DataReaderListener {
    using Type = Capturing<Generated>;
    std::atomic<int> count{0};
    std::ofstream bytes;
    Reception(const std::string& dir, const std::string& file) : bytes(dir + "/" + file + ".bin") {}

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
            bytes.write(reinterpret_cast<const char*>(length), 4);
            bytes.write(reinterpret_cast<const char*>(sample.bytes.data()), size);
            ++count;
        }
    }
};

struct Writers : DomainParticipantListener {
    std::mutex mutex;
    std::ofstream out;
    explicit Writers(const std::string& path) : out(path) {}
    void on_publisher_discovery(DomainParticipant*, eprosima::fastrtps::rtps::WriterDiscoveryInfo&& info) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        out << info.info.topicName() << ' ' << info.info.typeName() << std::endl;
    }
};

template <typename T>
DataReader* subscribe(DomainParticipant* participant, Subscriber* subscriber, const std::string& name, T& topic)
{
    TypeSupport type(new typename T::Type());
    type.register_type(participant);
    DataReaderQos qos = DATAREADER_QOS_DEFAULT;
    qos.reliability().kind = RELIABLE_RELIABILITY_QOS;
    qos.durability().kind = VOLATILE_DURABILITY_QOS;
    qos.history().kind = KEEP_LAST_HISTORY_QOS;
    qos.history().depth = 100;
    return subscriber->create_datareader(participant->create_topic(name, type.get_type_name(), TOPIC_QOS_DEFAULT), qos,
                                         &topic);
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
    for (const int signal_number : {SIGTERM, SIGINT})
        std::signal(signal_number, [](int) { stop_asked = 1; });
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
    Reception<sensor_msgs::msg::dds_::LaserScan_PubSubType> scan(dir, "scan");
    Reception<sensor_msgs::msg::dds_::PointCloud2_PubSubType> points(dir, "points");
    Reception<diagnostic_msgs::msg::dds_::DiagnosticArray_PubSubType> diagnostics(dir, "diagnostics");
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
