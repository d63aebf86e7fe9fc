// A ROS 2 style subscriber on Fast DDS with types fastddsgen makes from ros2/idl. It joins the domain
// of ROS_DOMAIN_ID (discovery settings from FASTRTPS_DEFAULT_PROFILES_FILE) and takes, per DEVICE
// (none: one device, unprefixed), rt/<ns>[/<device>]/scan and .../tx710/points, and
// rt/<ns>/diagnostics and rt/tf_static, the last transient-local as tf2's static listener, so that
// joining late still gets it. A sample the generated types cannot decode is never delivered; the
// bytes of the others go into OUT_DIR/[<device>/]scan.bin, points.bin, diagnostics.bin and
// tf_static.bin (4-byte little-endian length, then the sample), the DDS topic of each file into
// topics.txt, the discovered writers' topic and type names into writers.txt. It prints "subscribed",
// then "matched" once a writer of every device topic and of the diagnostics is found, and the counts
// whenever they change ("scan 5 points 5 ..."); it ends on SIGTERM, SIGINT or after SECONDS.
// Usage: dds_subscriber OUT_DIR SECONDS [NAMESPACE [DEVICE...]]

#include <fastdds/dds/domain/DomainParticipant.hpp>
#include <fastdds/dds/domain/DomainParticipantFactory.hpp>
#include <fastdds/dds/domain/DomainParticipantListener.hpp>
#include <fastdds/dds/subscriber/DataReader.hpp>
#include <fastdds/dds/subscriber/SampleInfo.hpp>
#include <fastdds/dds/subscriber/Subscriber.hpp>
#include <fastdds/dds/topic/TypeSupport.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "diagnostic_msgs/msg/DiagnosticArrayPubSubTypes.h"
#include "sensor_msgs/msg/LaserScanPubSubTypes.h"
#include "sensor_msgs/msg/PointCloud2PubSubTypes.h"
#include "tf2_msgs/msg/TFMessagePubSubTypes.h"

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

struct Counted : DataReaderListener {
    std::atomic<int> count{0};
    std::string file;
    DataReader* reader = nullptr;
};

// Takes every sample of one topic and writes it out.
template <typename Generated> struct Reception : Counted {
    using Type = Capturing<Generated>;
    std::ofstream bytes;
    Reception(const std::string& dir, const std::string& name) : bytes(dir + "/" + name + ".bin") { file = name; }

    void on_data_available(DataReader* reader) override
    {
        typename Type::Sample sample;
        SampleInfo info;
        while (reader->take_next_sample(&sample, &info) == ReturnCode_t::RETCODE_OK) {
            if (!info.valid_data)
                continue;
            const auto size = uint32_t(sample.bytes.size()); // little-endian, as the hosts we run on
            bytes.write(reinterpret_cast<const char*>(&size), 4);
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

// The readers, each of one topic into OUT_DIR/<file>.bin, /tf_static transient-local.
struct Readers {
    DomainParticipant* participant;
    Subscriber* subscriber;
    std::string dir;
    std::ofstream list;
    std::vector<std::unique_ptr<Counted>> topics;
    Readers(DomainParticipant* p, const std::string& out_dir)
        : participant(p), subscriber(p->create_subscriber(SUBSCRIBER_QOS_DEFAULT)), dir(out_dir),
          list(out_dir + "/topics.txt")
    {}

    template <typename Generated> void add(const std::string& file, const std::string& name)
    {
        auto* topic = new Reception<Generated>(dir, file);
        topics.emplace_back(topic);
        TypeSupport type(new typename Reception<Generated>::Type());
        type.register_type(participant);
        DataReaderQos qos = DATAREADER_QOS_DEFAULT;
        qos.reliability().kind = RELIABLE_RELIABILITY_QOS;
        qos.durability().kind = file == "tf_static" ? TRANSIENT_LOCAL_DURABILITY_QOS : VOLATILE_DURABILITY_QOS;
        qos.history().kind = KEEP_LAST_HISTORY_QOS;
        qos.history().depth = 100;
        Topic* dds_topic = participant->create_topic(name, type.get_type_name(), TOPIC_QOS_DEFAULT);
        topic->reader = dds_topic ? subscriber->create_datareader(dds_topic, qos, topic) : nullptr;
        list << file << ' ' << name << std::endl;
    }
    bool matched() const
    {
        return std::all_of(topics.begin(), topics.end(), [](const std::unique_ptr<Counted>& topic) {
            SubscriptionMatchedStatus status;
            return topic->file == "tf_static"
                || (topic->reader->get_subscription_matched_status(status) == ReturnCode_t::RETCODE_OK
                    && status.current_count > 0);
        });
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: dds_subscriber OUT_DIR SECONDS [NAMESPACE [DEVICE...]]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[2]));
    const std::string prefix = std::string("rt") + (argc > 3 && *argv[3] ? std::string("/") + argv[3] : std::string());
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
    Readers readers(participant, dir);
    for (const std::string& device :
         argc > 4 ? std::vector<std::string>(argv + 4, argv + argc) : std::vector<std::string>{std::string()}) {
        const std::string folder = device.empty() ? std::string() : device + "/";
        if (!device.empty())
            mkdir((dir + "/" + device).c_str(), 0755);
        readers.add<sensor_msgs::msg::dds_::LaserScan_PubSubType>(folder + "scan", prefix + "/" + folder + "scan");
        readers.add<sensor_msgs::msg::dds_::PointCloud2_PubSubType>(folder + "points",
                                                                    prefix + "/" + folder + "tx710/points");
    }
    readers.add<diagnostic_msgs::msg::dds_::DiagnosticArray_PubSubType>("diagnostics", prefix + "/diagnostics");
    readers.add<tf2_msgs::msg::dds_::TFMessage_PubSubType>("tf_static", "rt/tf_static");
    const auto& topics = readers.topics;
    for (const auto& topic : topics) {
        if (!topic->reader) {
            std::fprintf(stderr, "dds_subscriber: cannot create the reader of %s\n", topic->file.c_str());
            return 1;
        }
    }
    std::printf("subscribed\n");
    std::fflush(stdout);
    bool all_matched = false;
    std::string printed;
    for (bool last = false; !last; std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
        last = stop_asked || std::chrono::steady_clock::now() >= deadline;
        if (!all_matched && (all_matched = readers.matched()))
            std::printf("matched\n");
        std::string counts;
        for (const auto& topic : topics)
            counts += (counts.empty() ? "" : " ") + topic->file + ' ' + std::to_string(topic->count.load());
        if (counts != printed || last)
            std::printf("%s\n", (printed = counts).c_str());
        std::fflush(stdout);
    }
    participant->delete_contained_entities();
    DomainParticipantFactory::get_instance()->delete_participant(participant);
    return 0;
}
