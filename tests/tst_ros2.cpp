// How --ros2 reads the ROS 2 environment and names its DDS topics, and what
// the recorder does when DDS cannot start.

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "ros2/dds_names.h"
#include "ros2/dds_publisher.h"
#include "support/fixtures.h"

using namespace tx710::ros2;

class TestRos2 : public QObject
{
    Q_OBJECT

    static void setOrUnset(const char* name, const QByteArray& value)
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }

private slots:
    void environment_data()
    {
        QTest::addColumn<QByteArray>("domain");
        QTest::addColumn<QByteArray>("range");
        QTest::addColumn<QByteArray>("localhost_only");
        QTest::addColumn<int>("expected_domain"); // -1: refused
        QTest::addColumn<bool>("expected_localhost");
        const QByteArray unset;
        QTest::newRow("nothing set") << unset << unset << unset << 0 << false;
        QTest::newRow("empty domain") << QByteArray("") << unset << unset << 0 << false;
        QTest::newRow("domain 42") << QByteArray("42") << unset << unset << 42 << false;
        QTest::newRow("highest domain") << QByteArray("232") << unset << unset << 232 << false;
        QTest::newRow("domain past the ports") << QByteArray("233") << unset << unset << -1 << false;
        QTest::newRow("negative domain") << QByteArray("-1") << unset << unset << -1 << false;
        QTest::newRow("domain not a number") << QByteArray("7x") << unset << unset << -1 << false;
        QTest::newRow("domain with a blank") << QByteArray(" 7") << unset << unset << -1 << false;
        QTest::newRow("range LOCALHOST") << unset << QByteArray("LOCALHOST") << unset << 0 << true;
        QTest::newRow("range OFF") << unset << QByteArray("OFF") << unset << 0 << true;
        QTest::newRow("range SUBNET wins") << unset << QByteArray("SUBNET") << QByteArray("1") << 0 << false;
        QTest::newRow("older LOCALHOST_ONLY") << unset << unset << QByteArray("1") << 0 << true;
        QTest::newRow("LOCALHOST_ONLY=0") << unset << unset << QByteArray("0") << 0 << false;
    }

    void environment()
    {
        QFETCH(QByteArray, domain);
        QFETCH(QByteArray, range);
        QFETCH(QByteArray, localhost_only);
        QFETCH(int, expected_domain);
        QFETCH(bool, expected_localhost);
        setOrUnset("ROS_DOMAIN_ID", domain);
        setOrUnset("ROS_AUTOMATIC_DISCOVERY_RANGE", range);
        setOrUnset("ROS_LOCALHOST_ONLY", localhost_only);
        DdsEnvironment environment;
        std::string error;
        const bool read = readEnvironment(environment, error);
        QCOMPARE(read ? int(environment.domain) : -1, expected_domain);
        if (read)
            QCOMPARE(environment.localhost_only, expected_localhost);
        else
            QCOMPARE(QString::fromStdString(error),
                     QStringLiteral("ROS_DOMAIN_ID must be a whole number from 0 to 232: '%1'")
                         .arg(QString::fromLatin1(domain)));
    }

    void topicNames_data()
    {
        QTest::addColumn<QString>("ros_namespace");
        QTest::addColumn<QString>("expected"); // the scan's DDS topic, or the quoted value of the error
        QTest::newRow("none") << QString() << "rt/scan";
        QTest::newRow("root") << "/"
                              << "rt/scan";
        QTest::newRow("relative") << "robot1"
                                  << "rt/robot1/scan";
        QTest::newRow("absolute, nested") << "/fleet/robot_2"
                                          << "rt/fleet/robot_2/scan";
        QTest::newRow("starts with a digit") << "9x"
                                             << "'9x'";
        QTest::newRow("empty name") << "a//b"
                                    << "'a//b'";
        QTest::newRow("trailing slash") << "a/"
                                        << "'a/'";
        QTest::newRow("hyphen") << "a-b"
                                << "'a-b'";
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

    void recorderRefused_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("bad domain") << "ROS_DOMAIN_ID"
                                    << "abc" << QByteArray("ROS_DOMAIN_ID must be a whole number from 0 to 232: 'abc'");
        QTest::newRow("no such interface")
            << "CYCLONEDDS_URI"
            << "<General><Interfaces><NetworkInterface name=\"nope0\"/></Interfaces></General>"
            << QByteArray("DDS cannot start on domain 0: nope0: does not match an available interface.");
    }

    // DDS is started before any file is opened: a refusal leaves them alone.
    void recorderRefused()
    {
        QFETCH(QString, variable);
        QFETCH(QString, value);
        QFETCH(QByteArray, line);
        QTemporaryDir dir;
        const QString kept = dir.filePath(QStringLiteral("kept.txt"));
        QFile file(kept);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("earlier\n") == 8);
        file.close();
        QProcess recorder;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"ROS_DOMAIN_ID", "ROS_AUTOMATIC_DISCOVERY_RANGE", "ROS_LOCALHOST_ONLY", "CYCLONEDDS_URI"})
            environment.remove(QString::fromLatin1(name));
        environment.insert(variable, value);
        recorder.setProcessEnvironment(environment);
        recorder.start(tx710test::programPath("tx710-record"),
                       {"--replay", tx710test::fixturePath(QStringLiteral("data_file_two_saves.txt")), "--ros2",
                        "--overwrite", "--out", kept});
        QVERIFY(recorder.waitForFinished(10000));
        QCOMPARE(recorder.exitCode(), 1);
        const QByteArray error = recorder.readAllStandardError();
        if (DdsPublisher::supported())
            QCOMPARE(error, "tx710-record: " + line + "\n");
        else
            QVERIFY2(error.startsWith("tx710-record: --ros2: ") && error.count('\n') == 1, error.constData());
        QCOMPARE(tx710test::fileBytes(kept), QByteArray("earlier\n"));
    }
};

QTEST_GUILESS_MAIN(TestRos2)
#include "tst_ros2.moc"
