// The compiled-in resources the widgets and the link controller rely on.
#include <QtTest>

#include <QFile>
#include <QFontDatabase>
#include <QImage>

class ResourcesTest : public QObject
{
    Q_OBJECT
private slots:
    void iconsHaveTheSizesTheLayoutsExpect_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        for (const char* name : {"pause", "play", "save", "zoom_in", "zoom_out", "origin", "about"})
            QTest::newRow(name) << QStringLiteral(":/Image/%1.png").arg(QLatin1String(name)) << QSize(64, 64);
        QTest::newRow("intercept") << QStringLiteral(":/Image/intercept.png") << QSize(32, 32);
        QTest::newRow("logo") << QStringLiteral(":/Image/logo-03.png") << QSize(3156, 449);
    }
    void iconsHaveTheSizesTheLayoutsExpect()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        const QImage image(path);
        QVERIFY2(!image.isNull(), qPrintable(path));
        QCOMPARE(image.size(), size);
    }

    void toolBarIconsAreDrawnOnTransparency()
    {
        const QImage icon(QStringLiteral(":/Image/save.png"));
        QVERIFY(icon.hasAlphaChannel());
        QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
    }

    void applicationFontHasAFamily()
    {
        const int id = QFontDatabase::addApplicationFont(QStringLiteral(":/Font/HK-Grotesk/HKGrotesk-Regular-9.otf"));
        QVERIFY(id >= 0);
        QVERIFY(!QFontDatabase::applicationFontFamilies(id).isEmpty());
    }

    void warningSoundIsStereo16Bit44100()
    {
        QFile wav(QStringLiteral(":/Sound/Windows Ding.wav"));
        QVERIFY(wav.open(QIODevice::ReadOnly));
        const QByteArray header = wav.read(44);
        QCOMPARE(header.left(4), QByteArray("RIFF"));
        QCOMPARE(header.mid(8, 4), QByteArray("WAVE"));
        const auto u16 = [&](int at) { return quint8(header[at]) | quint8(header[at + 1]) << 8; };
        const auto u32 = [&](int at) { return quint32(u16(at)) | quint32(u16(at + 2)) << 16; };
        QCOMPARE(u16(20), 1);          // PCM
        QCOMPARE(u16(22), 2);          // channels
        QCOMPARE(u32(24), 44100u);     // sample rate
        QCOMPARE(u16(34), 16);         // bits per sample
    }

    void shaderSourcesDeclareTheirVersion()
    {
        for (const char* path : {":/Shader/lider.vert", ":/Shader/lider.frag"}) {
            QFile source(QString::fromLatin1(path));
            QVERIFY(source.open(QIODevice::ReadOnly));
            QVERIFY2(source.readLine().startsWith("#version 410"), path);
        }
    }
};

QTEST_MAIN(ResourcesTest)
#include "tst_resources.moc"
