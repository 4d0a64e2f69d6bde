// The dormane program's command line: help, version, usage errors, and what it says where
// there is no display.
#include <QProcess>
#include <QtTest>

class TestProgram : public QObject {
    Q_OBJECT
private slots:
    void commandLine_data();
    void commandLine();
};

void TestProgram::commandLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("display"); // whether a display is offered
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("says"); // in standard output and error together
    QTest::newRow("version") << QStringList{"--version"} << false << 0
                             << QStringList{QStringLiteral("dormane ") + DORMANE_VERSION};
    QTest::newRow("help") << QStringList{"--help"} << false << 0
                          << QStringList{"--simulate", "--firmware-base-url", "--ca-file"};
    QTest::newRow("unknown option")
        << QStringList{"--bogus"} << true << 2 << QStringList{"--bogus"};
    QTest::newRow("bad scenario") << QStringList{"--simulate=i2c-khz=0"} << true << 2
                                  << QStringList{"i2c-khz"};
    QTest::newRow("no display")
        << QStringList{"--simulate=fw=0803", "--firmware-base-url", "file:///srv/firmware"} << false
        << 1
        << QStringList{"no display", "dormane-cli --simulate=fw=0803 status",
                       "dormane-cli --simulate=fw=0803 set enable --firmware-base-url "
                       "file:///srv/firmware",
                       "dormane-cli --simulate=fw=0803 set disable --firmware-base-url "
                       "file:///srv/firmware"};
}

void TestProgram::commandLine() {
    QFETCH(QStringList, args);
    QFETCH(bool, display);
    QFETCH(int, exitCode);
    QFETCH(QStringList, says);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromUtf8(name));
    if (display)
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QTemporaryDir home;
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(DORMANE_BINARY), args);
    QVERIFY(program.waitForFinished(60000));
    const QString output = QString::fromUtf8(program.readAll());
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY2(program.exitCode() == exitCode, qPrintable(output));
    for (const QString& text : says)
        QVERIFY2(output.contains(text), qPrintable(output));
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
