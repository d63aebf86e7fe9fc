// How --ros2 reads the ROS 2 environment and names its DDS topics, what the
// recorder does when DDS cannot start or a scan option is refused, and what a
// subscriber on the other DDS implementation gets from several devices.

#include <QtTest>

#include "ros2/dds_names.h"
#include "ros2/dds_publisher.h"
#include "ros2/ros2_sink.h"
#include "support/fixtures.h"

using namespace tx710::ros2;

namespace {

// What the environment may say about DDS; the tests start with none of it.
const char* const kDdsVariables[] = {"ROS_DOMAIN_ID", "ROS_AUTOMATIC_DISCOVERY_RANGE", "ROS_LOCALHOST_ONLY",
                                     "CYCLONEDDS_URI"};

} // namespace

class TestRos2 : public QObject
{
    Q_OBJECT

private slots:
    void environment_data()
    {
        QTest::addColumn<QStringList>("variables"); // NAME=VALUE
        QTest::addColumn<QString>("outcome");       // the domain and "localhost" or "any", or the error
        const auto refused = [](const char* value) {
            return QStringLiteral("ROS_DOMAIN_ID must be a whole number from 0 to 232: '%1'").arg(value);
        };
        QTest::newRow("nothing set") << QStringList() << "0 any";
        QTest::newRow("empty domain") << QStringList{"ROS_DOMAIN_ID="} << "0 any";
        QTest::newRow("domain 42") << QStringList{"ROS_DOMAIN_ID=42"} << "42 any";
        QTest::newRow("highest domain") << QStringList{"ROS_DOMAIN_ID=232"} << "232 any";
        QTest::newRow("domain past the ports") << QStringList{"ROS_DOMAIN_ID=233"} << refused("233");
        QTest::newRow("negative domain") << QStringList{"ROS_DOMAIN_ID=-1"} << refused("-1");
        QTest::newRow("domain not a number") << QStringList{"ROS_DOMAIN_ID=7x"} << refused("7x");
        QTest::newRow("domain with a blank") << QStringList{"ROS_DOMAIN_ID= 7"} << refused(" 7");
        QTest::newRow("range LOCALHOST") << QStringList{"ROS_AUTOMATIC_DISCOVERY_RANGE=LOCALHOST"} << "0 localhost";
        QTest::newRow("range OFF") << QStringList{"ROS_AUTOMATIC_DISCOVERY_RANGE=OFF"} << "0 localhost";
        QTest::newRow("range SUBNET wins")
            << QStringList{"ROS_AUTOMATIC_DISCOVERY_RANGE=SUBNET", "ROS_LOCALHOST_ONLY=1"} << "0 any";
        QTest::newRow("older LOCALHOST_ONLY") << QStringList{"ROS_LOCALHOST_ONLY=1"} << "0 localhost";
        QTest::newRow("LOCALHOST_ONLY=0") << QStringList{"ROS_LOCALHOST_ONLY=0"} << "0 any";
    }
    void environment()
    {
        QFETCH(QStringList, variables);
        for (const char* name : kDdsVariables)
            qunsetenv(name);
        for (const QString& variable : variables)
            qputenv(qPrintable(variable.section('=', 0, 0)), variable.section('=', 1, -1).toUtf8());
        DdsEnvironment environment;
        std::string error;
        const bool read = readEnvironment(environment, error);
        QTEST(
            read ? QStringLiteral("%1 %2").arg(environment.domain).arg(environment.localhost_only ? "localhost" : "any")
                 : QString::fromStdString(error),
            "outcome");
    }

    void topicNames_data()
    {
        QTest::addColumn<QString>("ros_namespace");
        QTest::addColumn<QString>("expected"); // the scan's DDS topic, or the quoted value of the error
        QTest::newRow("none") << QString() << "rt/scan";
        QTest::newRow("root") << QString("/") << "rt/scan";
        QTest::newRow("relative") << QString("robot1") << "rt/robot1/scan";
        QTest::newRow("absolute, nested") << QString("/fleet/robot_2") << "rt/fleet/robot_2/scan";
        QTest::newRow("starts with a digit") << QString("9x") << "'9x'";
        QTest::newRow("empty name") << QString("a//b") << "'a//b'";
        QTest::newRow("trailing slash") << QString("a/") << "'a/'";
        QTest::newRow("hyphen") << QString("a-b") << "'a-b'";
        QTest::newRow("control bytes, cut at 40")
            << QString("\x01" + QString(50, 'a')) << QString("'\\x01" + QString(39, 'a') + "...'");
    }

    void topicNames()
    {
        QFETCH(QString, ros_namespace);
        QFETCH(QString, expected);
        std::string qualified;
        std::string error;
        if (qualifyNamespace(ros_namespace.toStdString(), qualified, error))
            QCOMPARE(QString::fromStdString(ddsTopicName(qualified, "scan")), expected);
        else
            QCOMPARE(QString::fromStdString(error).section(QStringLiteral(": "), 1), expected);
    }

    // Refused before any file is opened (DDS starts first): an existing output stays as it was.
    void recorderRefuses_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("variable"); // NAME=VALUE set for the recorder alone
        QTest::addColumn<int>("exit_code");    // 2: a usage error, the usage follows
        QTest::addColumn<QString>("line");
        const QStringList ros2{"--ros2"};
        QTest::newRow("bad domain") << ros2 << "ROS_DOMAIN_ID=abc" << 1
                                    << "ROS_DOMAIN_ID must be a whole number from 0 to 232: 'abc'";
        QTest::newRow("no such interface")
            << ros2 << R"(CYCLONEDDS_URI=<General><Interfaces><NetworkInterface name="nope0"/></Interfaces></General>)"
            << 1 << "DDS cannot start on domain 0: nope0: does not match an available interface.";
        QTest::newRow("malformed scan option") << QStringList{"--beams", "many"} << QString() << 2
                                               << "--beams needs a whole number of beams from 90 to 3600: 'many'";
        QTest::newRow("range limits crossed") << QStringList{"--range-min", "5", "--range-max", "2"} << QString() << 2
                                              << "--range-min (5 m) must be below --range-max (2 m)";
    }
    void recorderRefuses()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, variable);
        QFETCH(int, exit_code);
        QFETCH(QString, line);
        QTemporaryDir dir;
        const QString kept = dir.filePath(QStringLiteral("kept.txt"));
        QFile file(kept);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("earlier\n") == 8);
        file.close();
        QProcess recorder;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : kDdsVariables)
            environment.remove(QString::fromLatin1(name));
        if (!variable.isEmpty())
            environment.insert(variable.section('=', 0, 0), variable.section('=', 1, -1));
        recorder.setProcessEnvironment(environment);
        recorder.start(tx710test::programPath("tx710-record"),
                       QStringList{"--replay", tx710test::fixturePath(QStringLiteral("data_file_two_saves.txt")),
                                   "--overwrite", "--out", kept}
                           + arguments);
        QVERIFY(recorder.waitForFinished(60000));
        QCOMPARE(recorder.exitCode(), exit_code);
        const QString error = QString::fromUtf8(recorder.readAllStandardError());
        const QString first = error.section('\n', 0, 0);
        if (exit_code == 1 && !DdsPublisher::supported())
            QVERIFY2(first.startsWith("tx710-record: --ros2: "), qPrintable(error));
        else
            QCOMPARE(first, "tx710-record: " + line);
        QCOMPARE(error.mid(first.size() + 1).section('\n', 0, 0),
                 exit_code == 2 ? "Usage: tx710-record (--port PATH | --replay FILE) [--rounds N | --duration SECONDS]"
                                : QString());
        QCOMPARE(tx710test::fileBytes(kept), QByteArray("earlier\n"));
    }

    // Data of a device the sink was not given is refused, never indexed.
    void unknownDevice_data()
    {
        QTest::addColumn<bool>("status");
        QTest::addColumn<int>("device");
        QTest::newRow("round past the last") << false << 2;
        QTest::newRow("round before the first") << false << -1;
        QTest::newRow("status past the last") << true << 2;
    }
    void unknownDevice()
    {
        QFETCH(bool, status);
        QFETCH(int, device);
        tx710::Ros2Sink sink({tx710::ScanOptions(), tx710::ScanOptions()});
        ScanRound round;
        round.device = device;
        tx710::status::Sample sample;
        sample.device = device;
        QVERIFY(!(status ? sink.writeStatus(sample) : sink.writeRound(round)));
        QCOMPARE(sink.errorString(), QString("--ros2: data of device %1, but the recording has 2").arg(device));
    }

    // The sink's topics heard by a Fast DDS subscriber that joins after
    // /tf_static was written (dds_publish_devices waits for it to match):
    // every device's topics, and the transforms when there are any.
    void lateSubscriber_data()
    {
        QTest::addColumn<QString>("ros_namespace");
        QTest::addColumn<QStringList>("devices");  // FRAME[:X,Y,Z,YAW] for the publisher
        QTest::addColumn<QStringList>("prefixes"); // the subscriber's device topics
        QTest::addColumn<QString>("counts");       // what it received
        const QStringList two{"front:0.2,0,0.3,0", "rear:-0.2,0,0.3,180"};
        const QString both = "front/scan 5 front/points 5 rear/scan 5 rear/points 5 diagnostics 2 tf_static 1";
        QTest::newRow("two devices") << QString() << two << QStringList{"front", "rear"} << both;
        // rt/robot1/front/scan, rt/robot1/diagnostics, and rt/tf_static as tf2 has it.
        QTest::newRow("two in a namespace") << QString("robot1") << two << QStringList{"front", "rear"} << both;
        QTest::newRow("one mounted") << QString() << QStringList{"laser:0,0,0.1,90"} << QStringList()
                                     << "scan 5 points 5 diagnostics 1 tf_static 1";
        QTest::newRow("one, no mount") << QString() << QStringList{"laser"} << QStringList()
                                       << "scan 5 points 5 diagnostics 1 tf_static 0";
    }
    void lateSubscriber()
    {
#ifndef TX710_INTEROP_DIR
        QSKIP("built without Fast DDS: no subscriber of the other implementation");
#else
        QFETCH(QString, ros_namespace);
        QFETCH(QStringList, devices);
        QFETCH(QStringList, prefixes);
        QFETCH(QString, counts);
        QTemporaryDir dir;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ROS_DOMAIN_ID", QString::number(QCoreApplication::applicationPid() % 200 + 20));
        environment.insert("CYCLONEDDS_URI", "file://" TX710_INTEROP_DIR "/cyclonedds-loopback.xml");
        environment.insert("FASTRTPS_DEFAULT_PROFILES_FILE", TX710_INTEROP_DIR "/fastdds-loopback.xml");
        QProcess publisher;
        QProcess subscriber;
        for (QProcess* process : {&publisher, &subscriber})
            process->setProcessEnvironment(environment);
        publisher.start(tx710test::programPath("dds_publish_devices"),
                        QStringList{dir.path(), "5", ros_namespace} + devices);
        QVERIFY(publisher.waitForReadyRead(60000));
        QVERIFY(QDir(dir.path()).mkdir("sub"));
        subscriber.start(tx710test::programPath("dds_subscriber"),
                         QStringList{dir.filePath("sub"), "120", ros_namespace} + prefixes);
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += subscriber.readAll()).contains("matched"), 30000);
        QFile go(dir.filePath("go"));
        QVERIFY(go.open(QIODevice::WriteOnly));
        QVERIFY(publisher.waitForFinished(60000));
        QTRY_COMPARE_WITH_TIMEOUT((said += subscriber.readAll()).trimmed().split('\n').last(), counts.toUtf8(), 20000);
        subscriber.terminate();
        QVERIFY(subscriber.waitForFinished(60000));
#endif
    }
};

QTEST_GUILESS_MAIN(TestRos2)
#include "tst_ros2.moc"
