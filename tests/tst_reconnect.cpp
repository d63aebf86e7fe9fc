// Riding out a lost link: which device is followed, the rounds kept at a loss,
// the simulator unplugged and plugged in again behind a stable name, the
// recorder (of one LiDAR and of two) and the viewer on it, and the recorder's
// service unit.

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <QtWidgets>

#include <algorithm>
#include <map>
#include <memory>

#include "SerialPort/port_identity.h"
#include "SerialPort/serial_data.h"
#include "SerialPort/serial_logic.h"
#include "app/app_settings.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "panels/notice_widget.h"
#include "recording/data_file.h"
#include "recording/mcap_reader.h"
#include "support/fixtures.h"
#include "view/lidar_gl_widget.h"

using namespace tx710;
using namespace tx710test;

namespace {

// "location serial vid:pid usb-path" each, '-' for none.
std::vector<PortRecord> records(const QStringList& lines)
{
    std::vector<PortRecord> ports;
    for (const QString& line : lines) {
        const QStringList f = line.split(QLatin1Char(' '));
        const auto field = [&f](int i) { return f.value(i) == QLatin1String("-") ? QString() : f.value(i); };
        const QStringList ids = field(2).split(QLatin1Char(':'));
        ports.push_back({field(0), field(1), ids.size() == 2 ? ids[0].toInt(nullptr, 16) : -1,
                         ids.size() == 2 ? ids[1].toInt(nullptr, 16) : -1, field(3)});
    }
    return ports;
}

constexpr int kMarkedRounds = 50;
constexpr int kPointsPerMarkedRound = 432; // 36 whole frames

// A data file whose round r lies at 1000 + r mm all round, so that every round recorded from it tells
// which one it was; -1 for a round that is not one whole round of it.
QString writeMarkedRounds(const QString& path, int base = 1000)
{
    QByteArray text = datafile::headerLine();
    for (int r = 0; r < kMarkedRounds; ++r) {
        std::vector<PointRecord> points;
        for (int i = 0; i < kPointsPerMarkedRound; ++i)
            points.push_back({100, float(base + r), float((i + 0.5) * 360.0 / kPointsPerMarkedRound)});
        datafile::appendRound(text, r + 1, points);
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() ? path : QString();
}

int markOf(const std::vector<PointRecord>& points, int base = 1000)
{
    const float distance = points.empty() ? 0 : points.front().distance;
    for (const PointRecord& point : points)
        if (point.distance != distance)
            return -1;
    const int mark = int(distance) - base;
    return int(points.size()) == kPointsPerMarkedRound && mark >= 0 && mark < kMarkedRounds ? mark : -1;
}

// Frames `from` to `to` - 1 of the 30 of a revolution (as scanRevolutions).
QByteArray turnFrames(int from, int to)
{
    QByteArray frames;
    for (int n = from; n < to; ++n)
        frames += scanFrame(n * 1200, n * 1200 + 1100);
    return frames;
}

// Rounds lost between marks recorded in a row (the marked file repeats).
int lostMarks(const QVector<int>& marks)
{
    int lost = 0;
    for (int i = 1; i < marks.size(); ++i)
        lost += (marks[i] - marks[i - 1] - 1 + kMarkedRounds) % kMarkedRounds;
    return lost;
}

// Pixels of the view as bright as an undimmed point, outside the panels drawn over it.
int brightPixels(LidarGLWidget* view)
{
    const QImage image = view->grabFramebuffer();
    QRegion panels;
    for (const QWidget* panel : view->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (panel->isVisible() && panel->geometry() != view->rect()) // not the scene's own window
            panels += panel->geometry();
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qGray(image.pixel(x, y)) > 200 && !panels.contains(QPoint(x, y));
    return count;
}

} // namespace

class TestReconnect : public QObject
{
    Q_OBJECT

    QProcess sim_;
    QProcess sim2_; // a second LiDAR, without a link
    QTemporaryDir dir_;
    QString link_ = dir_.filePath(QStringLiteral("lidar"));

    // The simulator behind link_, unplugged after `hangup` s and back `replug` s later (< 0: never).
    bool startSim(double hangup, double replug, QStringList arguments = {})
    {
        arguments << "--link" << link_ << "--hangup-after" << QString::number(hangup);
        if (replug >= 0)
            arguments << "--replug-after" << QString::number(replug);
        return !startSimulator(sim_, arguments).isEmpty() && QFileInfo(link_).isSymLink();
    }

private slots:
    void cleanup()
    {
        for (QProcess* sim : {&sim_, &sim2_})
            QVERIFY(sim->state() == QProcess::NotRunning || (sim->terminate(), sim->waitForFinished(5000)));
        QVERIFY(!QFileInfo(link_).isSymLink() || !QFileInfo(link_).exists()); // the simulator removed its link
    }

    void followedDevice_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QStringList>("before"); // the ports when it was opened
        QTest::addColumn<QStringList>("after");  // the ports when it is looked for
        QTest::addColumn<QString>("found");
        const QString usb0 = "/dev/ttyUSB0 A1 10c4:ea60 1-1";
        const QString bare = "/dev/ttyUSB0 - 1a86:7523 1-1.2";
        QTest::newRow("stable name, there")
            << "/dev/serial/by-id/usb-x" << QStringList{usb0} << QStringList{usb0} << "/dev/serial/by-id/usb-x";
        QTest::newRow("stable name, gone") << "/dev/serial/by-id/gone" << QStringList{usb0} << QStringList{usb0} << "";
        QTest::newRow("serial number, renamed")
            << "ttyUSB0" << QStringList{usb0} << QStringList{"/dev/ttyUSB1 A1 10c4:ea60 1-2"} << "/dev/ttyUSB1";
        QTest::newRow("another adapter took the name")
            << "/dev/ttyUSB0" << QStringList{usb0} << QStringList{"/dev/ttyUSB0 B2 10c4:ea60 1-1"} << "";
        QTest::newRow("same serial number, other ids")
            << "/dev/ttyUSB0" << QStringList{usb0} << QStringList{"/dev/ttyUSB1 A1 0403:6001 1-1"} << "";
        QTest::newRow("serial number twice, the old name first")
            << "/dev/ttyUSB0" << QStringList{usb0}
            << QStringList{"/dev/ttyUSB2 A1 10c4:ea60 1-3", "/dev/ttyUSB0 A1 10c4:ea60 1-1"} << "/dev/ttyUSB0";
        QTest::newRow("no serial number, same USB path")
            << "/dev/ttyUSB0" << QStringList{bare} << QStringList{"/dev/ttyUSB1 - 1a86:7523 1-1.2"} << "/dev/ttyUSB1";
        QTest::newRow("no serial number, other USB path")
            << "/dev/ttyUSB0" << QStringList{bare} << QStringList{"/dev/ttyUSB0 - 1a86:7523 1-1.3"} << "";
        QTest::newRow("not listed (a pseudo-terminal), by name")
            << "/dev/pts/3" << QStringList{usb0} << QStringList{} << "/dev/pts/3";
    }

    void followedDevice()
    {
        QFETCH(QString, port);
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(QString, found);
        const PortIdentity identity = PortIdentity::of(port, port.startsWith("/dev/serial/"), records(before));
        QCOMPARE(identity.find(records(after), [](const QString& path) { return !path.endsWith("gone"); }), found);
    }

    void roundsAtALoss_data()
    {
        QTest::addColumn<QByteArray>("before"); // the frames before the line is lost
        QTest::addColumn<QByteArray>("after");  // and after it is back
        QTest::addColumn<int>("at_loss");       // rounds handed on at the loss
        QTest::addColumn<int>("rounds_after");
        // The stream starts at the second revolution's start; a revolution ends with its frame 29.
        QTest::newRow("lost after a revolution's last frame, back mid-revolution")
            << scanRevolutions(3) << turnFrames(15, 30) + scanRevolutions(2) << 1 << 1;
        QTest::newRow("lost mid-revolution, back at a revolution's start")
            << scanRevolutions(2) + turnFrames(0, 10) << scanRevolutions(2) << 0 << 1;
        QTest::newRow("lost before a revolution's last frame")
            << scanRevolutions(2) + turnFrames(0, 29) << turnFrames(29, 30) + scanRevolutions(1) << 0 << 0;
    }

    // The stream's whole rounds, and only those, around a lost line.
    void roundsAtALoss()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(int, at_loss);
        QFETCH(int, rounds_after);
        const std::unique_ptr<SerialData> decoder = SerialData::create();
        QVector<int> sizes;
        QVERIFY(decoder->startRoundStream([&sizes](std::vector<PointRecord> round) { sizes << int(round.size()); }));
        decoder->findFrame(before);
        const int rounds_before = sizes.size();
        decoder->dropRoundInProgress();
        QCOMPARE(sizes.size() - rounds_before, at_loss);
        decoder->findFrame(after);
        QCOMPARE(sizes.size() - rounds_before - at_loss, rounds_after);
        QCOMPARE(sizes.count(360), sizes.size()); // whole revolutions only
    }

    // The viewer with reconnect: the waiting line, the last round dimmed, a save cut with its whole
    // rounds and saying so, then live rounds again from the device behind the same name.
    void viewerWaitsForTheDevice()
    {
        const FolderCleanup data(programPath("data"));
        QVERIFY(startSim(5, 2)); // time for a slow (sanitized) start before the loss
        SerialLogic::instance()->setReconnect(true);
        auto session = std::make_unique<StartupSession>(link_);
        QTRY_VERIFY_WITH_TIMEOUT(session->mainWindow(), 10000);
        auto* view = session->mainWindow()->findChild<LidarGLWidget*>("openGLWidget");
        const auto* line = view->findChild<QLabel*>("health_line");
        for (int i = 0; i < 6; ++i) // the whole room
            view->zoomOut();
        QTRY_VERIFY_WITH_TIMEOUT(brightPixels(view) > 200, 5000);
        session->mainWindow()->findChild<QToolButton*>("save_button")->click();
        QTRY_VERIFY_WITH_TIMEOUT(line->text().startsWith("link lost: "), 10000);
        QVERIFY(line->styleSheet().contains("rgb(255, 150, 40)")); // orange
        const QRegularExpression waiting("^link lost: waiting for " + QRegularExpression::escape(link_)
                                         + R"( \([1-9]\d* s\)$)");
        QTRY_VERIFY_WITH_TIMEOUT(waiting.match(line->text()).hasMatch(), 3000); // counting the seconds
        QCOMPARE(brightPixels(view), 0);                                        // the last round, dimmed
        QTRY_VERIFY_WITH_TIMEOUT(!SerialData::instance()->saveRunning(), 10000);
        const SaveOutcome outcome = SerialData::instance()->lastSaveOutcome();
        datafile::Contents saved;
        datafile::ReadError error;
        QVERIFY(datafile::readFile(outcome.path, saved, error) && outcome.rounds > 0);
        QCOMPARE(int(saved.rounds.size()), outcome.rounds);
        const QString notice =
            QString("Saved %1 rounds to %2\nThe link was lost").arg(outcome.rounds).arg(outcome.path);
        QTRY_VERIFY_WITH_TIMEOUT(view->findChild<NoticeWidget*>()->text().startsWith(notice), 3000);
        QFile::remove(outcome.path);
        QTRY_VERIFY_WITH_TIMEOUT(line->text().contains("RPM"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(brightPixels(view) > 200, 5000);                  // live rounds again
        session->mainWindow()->findChild<QAction*>("reconnect_action")->trigger(); // off, and remembered so
        QCOMPARE(tx710::setting(tx710::kReconnectKey), QVariant(false));
        QCOMPARE(SerialLogic::instance()->reconnect(), false);
        session.reset();
    }

    void recorderRidesOutTheLoss_data()
    {
        QTest::addColumn<int>("lidars");    // the first behind the link
        QTest::addColumn<double>("hangup"); // of the first, s
        QTest::addColumn<double>("replug"); // after the hang-up, s; < 0: never
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exit_code");
        QTest::addColumn<QString>("stderr"); // a pattern
        QTest::addColumn<int>("rounds");     // of each; -1: some
        const QString stamp = R"(tx710-record: \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )";
        const QString lost = stamp + "link lost on %1: .*the device hung up; waiting for it\n";
        const QString back = stamp + R"(link back on %1 after ([2-9]|\d\d+)\.\d s\n)";
        QTest::newRow("a dropout of 2 s")
            << 1 << 4.0 << 2.0 << QStringList{"--reconnect", "--rounds", "100"} << 0 << lost + back << 100;
        QTest::newRow("no device within the timeout")
            << 1 << 4.0 << -1.0 << QStringList{"--reconnect", "--reconnect-timeout", "1.5"} << 1
            << lost + "tx710-record: %1: no device for 1.5 s after the link was lost: .*hung up\n"
            << -1;
        QTest::newRow("one of two lost ends both")
            << 2 << 3.0 << -1.0 << QStringList{} << 1 << "tx710-record: %1: link lost: .*the device hung up\n"
            << -1;
        QTest::newRow("one of two away, the other goes on")
            << 2 << 3.0 << 2.0 << QStringList{"--reconnect", "--rounds", "60"} << 0 << lost + back << 60;
    }

    // Each LiDAR's files hold its own whole rounds, numbered on through a loss, the round under way at the loss
    // dropped; one lost for good ends the recording of all.
    void recorderRidesOutTheLoss()
    {
        QFETCH(int, lidars);
        QFETCH(double, hangup);
        QFETCH(double, replug);
        QFETCH(QStringList, options);
        QFETCH(int, exit_code);
        QFETCH(QString, stderr);
        QFETCH(int, rounds);
        QVERIFY(startSim(hangup, replug, {"--replay", writeMarkedRounds(dir_.filePath("a.txt"), 1000)}));
        QStringList arguments{"--quiet", "--port", link_, "--frame-id", "a"};
        if (lidars == 2)
            arguments << "--port"
                      << startSimulator(sim2_, {"--replay", writeMarkedRounds(dir_.filePath("b.txt"), 2000)})
                      << "--frame-id"
                      << "b";
        QVERIFY(!arguments.contains(QString()));
        const QTemporaryDir out;
        QProcess recorder;
        recorder.start(programPath("tx710-record"),
                       arguments + options
                           + QStringList{"--out", out.filePath("a.mcap"), "--out", out.filePath("{device}.txt"),
                                         "--out", out.filePath("{device}.csv")});
        QVERIFY(recorder.waitForFinished(40000));
        QCOMPARE(recorder.exitCode(), exit_code);
        const QString errors = QString::fromLocal8Bit(recorder.readAllStandardError());
        QVERIFY2(QRegularExpression("^" + stderr.replace("%1", QRegularExpression::escape(link_)) + "$")
                     .match(errors)
                     .hasMatch(),
                 qPrintable(errors));
        mcap::Contents recorded;
        QString mcap_error;
        QVERIFY(mcap::readFile(out.filePath("a.mcap"), recorded, mcap_error) && recorded.complete);
        // A status every second, while a link is down too.
        std::int64_t longest_ns = 0;
        for (std::size_t i = 1; i < recorded.speeds.size(); ++i)
            longest_ns = std::max(longest_ns, recorded.speeds[i].time_ns - recorded.speeds[i - 1].time_ns);
        QVERIFY2(recorded.speeds.size() > 1 && longest_ns < 1500000000, qPrintable(QString::number(longest_ns)));
        std::map<QString, QVector<double>> times; // of each round, from the CSV file
        for (const QString& device : QStringList{"a", "b"}.mid(0, lidars)) {
            datafile::Contents text;
            datafile::ReadError error;
            QVERIFY(datafile::readFile(out.filePath(device + ".txt"), text, error));
            QVector<int> marks, mcap_marks;
            int misnumbered = 0;
            for (const datafile::RecordedRound& round : text.rounds)
                misnumbered += round.number != (marks << markOf(round.points, device == "a" ? 1000 : 2000)).size();
            QCOMPARE(marks.count(-1), 0); // its own whole rounds only
            QCOMPARE(misnumbered, 0);
            QVERIFY(rounds < 0 ? marks.size() >= 5 : marks.size() == rounds);
            // The simulator goes on after its return where it stopped: only the round it was sending is lost.
            QVERIFY2(lostMarks(marks) <= 1, qPrintable(QString::number(lostMarks(marks))));
            for (const ScanRound& round : recorded.rounds)
                mcap_marks << markOf(round.points);
            if (lidars == 1)
                QCOMPARE(mcap_marks, marks);
            for (const QString& line : fileLines(out.filePath(device + ".csv")).mid(1))
                if (line.section(',', 0, 0).toInt() > times[device].size())
                    times[device] << line.section(',', 1, 1).toDouble();
            QCOMPARE(times[device].size(), marks.size());
        }
        // While the first was away the second went on.
        const QVector<double>& a = times["a"];
        int longest = 1;
        for (int i = 2; i < a.size(); ++i)
            longest = a[i] - a[i - 1] > a[longest] - a[longest - 1] ? i : longest;
        const double from = a.value(longest - 1), to = a.value(longest);
        const auto during =
            std::count_if(times["b"].begin(), times["b"].end(), [&](double t) { return t > from && t < to; });
        QCOMPARE(during >= 10, lidars == 2 && replug > 0);
    }

    void simulatorLinkKeepsAFile()
    {
        QFile file(link_);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("kept") == 4 && file.flush());
        QCOMPARE(startSimulator(sim_, {"--link", link_}), QString()); // refused, no port
        QCOMPARE(QFileInfo(link_).isSymLink(), false);                // before reading: a terminal would not end
        QCOMPARE(fileBytes(link_), QByteArray("kept"));
        QVERIFY(file.remove());
    }

    // The unit as systemd reads it, and its command as systemd would run it, on the simulator.
    void serviceUnitRecords()
    {
        const QByteArray text =
            fileBytes(TX710_UNIT_TEMPLATE).replace("@TX710_RECORD_PATH@", programPath("tx710-record").toUtf8());
        const QString unit = dir_.filePath("tx710-record@lidar.service");
        QFile file(unit);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.flush());
        QProcess verify;
        verify.start("systemd-analyze", {"verify", unit});
        QVERIFY(verify.waitForFinished(30000));
        QCOMPARE(verify.readAllStandardError(), QByteArray());
        QCOMPARE(verify.exitCode(), 0);

        // /dev/%I names the link: /dev/../tmp/...
        QString command = QString::fromUtf8(text).section("ExecStart=/bin/sh -c '", 1).section("'\n", 0, 0);
        command.replace("%I", ".." + link_).replace("%%", "%").replace("$$", "$");
        QVERIFY(startSim(60, -1));
        const QTemporaryDir state;
        QProcess service;
        service.start("/bin/sh",
                      {"-c", "STATE_DIRECTORY=" + state.path() + " TX710_RECORD_OPTIONS='--rounds 5'; " + command});
        QVERIFY(service.waitForFinished(20000));
        QCOMPARE(service.exitCode(), 0);
        const QStringList files = QDir(state.path()).entryList(QDir::Files);
        QVERIFY2(
            files.size() == 1
                && QRegularExpression(R"(^\d{4}(-\d\d){2}_\d\d(-\d\d){2}\.mcap$)").match(files.value(0)).hasMatch(),
            qPrintable(files.join(' ')));
        mcap::Contents recorded;
        QString error;
        QVERIFY(mcap::readFile(state.filePath(files.value(0)), recorded, error));
        QCOMPARE(int(recorded.rounds.size()), 5);
    }
};

QTEST_MAIN(TestReconnect)
#include "tst_reconnect.moc"
