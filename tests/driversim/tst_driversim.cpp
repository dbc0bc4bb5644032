// The simulated controller itself, exercised with plain system calls.

#include "driversim/DriverSim.h"

#include <QtTest>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using DriverSim::Controller;
using DriverSim::Exchange;
using DriverSim::Family;

namespace {

Family familyNamed(const QString &name)
{
    return name == QLatin1String("pravex") ? Family::Pravex : Family::Lunari;
}

QByteArray bytesOf(const char *hex)
{
    return QByteArray::fromHex(hex);
}

int fieldNamed(const Controller &c, const QString &name)
{
    if (name == QLatin1String("output"))
        return c.output;
    if (name == QLatin1String("threshold"))
        return c.threshold;
    if (name == QLatin1String("intensity"))
        return c.intensity;
    if (name == QLatin1String("calibMode"))
        return c.calibMode;
    if (name == QLatin1String("fps"))
        return c.fps;
    if (name == QLatin1String("present"))
        return c.present;
    if (name == QLatin1String("failErrno"))
        return c.failErrno;
    if (name == QLatin1String("touchCount"))
        return c.touchCount;
    if (name == QLatin1String("layoutX"))
        return c.layoutX;
    if (name == QLatin1String("calibSteps"))
        return static_cast<int>(c.calibSecondsPerTarget * 1000);
    if (name == QLatin1String("override65"))
        return c.overrides.count(65) ? static_cast<int>(c.overrides.at(65).size()) : -1;
    return -999;
}

} // namespace

class TestDriverSim : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void presence_data();
    void presence();
    void readOnlyFileOpensForReadingOnly();
    void foreignDescriptorsPassThrough();
    void queryAnswers_data();
    void queryAnswers();
    void readAwayFromStartIsEmpty();
    void commands_data();
    void commands();
    void calibrationWalk_data();
    void calibrationWalk();
    void calibrationFollowsTheClock();
    void failingTransfers_data();
    void failingTransfers();
    void shortAnswerKeepsTheRest();
    void overrideAnswersVerbatim();
    void unloadWhileOpen();
    void pravexAnimation();
    void lunariAnimation();
    void stillPictureIsDeliveredAsSet();
    void countsAtTheirLimits();
    void duplicatesShareTheOpenFile();
    void scenarioLines_data();
    void scenarioLines();
    void timedSettings();
    void controlFileIsReReadWhenChanged();
    void transcriptLines();
    void transcriptFile();
    void foreignThreadsRunAlongside();

private:
    int openDriver(Family family);
    long ask(int fd, int code, int length, QByteArray *answer);
    long tell(int fd, const QByteArray &request);

    QList<int> opened;
};

void TestDriverSim::init()
{
    DriverSim::reset();
}

void TestDriverSim::cleanup()
{
    for (int fd : opened)
        ::close(fd);
    opened.clear();
    DriverSim::setControlFile(std::string());
    DriverSim::reset();
}

int TestDriverSim::openDriver(Family family)
{
    const int fd = ::open(DriverSim::driverPath(family), O_RDWR);
    if (fd >= 0)
        opened.append(fd);
    return fd;
}

// Rewinds, then reads length bytes with the code in byte 0; answer gets what was delivered.
long TestDriverSim::ask(int fd, int code, int length, QByteArray *answer)
{
    ::lseek(fd, 0, SEEK_SET);
    QByteArray buffer(length, '\0');
    if (length > 0)
        buffer[0] = static_cast<char>(code);
    const long result = ::read(fd, buffer.data(), static_cast<size_t>(length));
    if (answer)
        *answer = buffer.left(result > 0 ? static_cast<int>(result) : 0);
    return result;
}

long TestDriverSim::tell(int fd, const QByteArray &request)
{
    ::lseek(fd, 0, SEEK_SET);
    return ::write(fd, request.constData(), static_cast<size_t>(request.size()));
}

void TestDriverSim::presence_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<bool>("present");
    QTest::addColumn<int>("openError");
    QTest::addColumn<int>("expectedErrno");

    QTest::newRow("pravex present") << "pravex" << true << 0 << 0;
    QTest::newRow("pravex absent") << "pravex" << false << 0 << ENOENT;
    QTest::newRow("pravex refused") << "pravex" << true << EACCES << EACCES;
    QTest::newRow("lunari present") << "lunari" << true << 0 << 0;
    QTest::newRow("lunari absent") << "lunari" << false << 0 << ENOENT;
    QTest::newRow("lunari refused") << "lunari" << true << EACCES << EACCES;
}

void TestDriverSim::presence()
{
    QFETCH(QString, family);
    QFETCH(bool, present);
    QFETCH(int, openError);
    QFETCH(int, expectedErrno);
    const Family f = familyNamed(family);
    DriverSim::controller(f).present = present;
    DriverSim::controller(f).openError = openError;
    const char *path = DriverSim::driverPath(f);

    struct stat status{};
    errno = 0;
    QCOMPARE(::stat(path, &status), present ? 0 : -1);
    QCOMPARE(::access(path, R_OK | W_OK), present ? 0 : -1);
    if (present)
        QVERIFY(S_ISREG(status.st_mode));
    else
        QCOMPARE(errno, ENOENT);

    errno = 0;
    const int fd = openDriver(f);
    QCOMPARE(fd >= 0, expectedErrno == 0);
    QCOMPARE(errno, expectedErrno);
    QCOMPARE(DriverSim::openDescriptors(f), expectedErrno == 0 ? 1 : 0);
    const std::vector<Exchange> log = DriverSim::transcript();
    QCOMPARE(log.size(), size_t(1));
    QCOMPARE(log[0].kind, expectedErrno == 0 ? Exchange::Open : Exchange::OpenFailed);
    QCOMPARE(log[0].error, expectedErrno);
    if (fd < 0)
        return;

    // A real descriptor stands behind the simulated one.
    const QString link = QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd));
    QCOMPARE(link, QStringLiteral("/dev/null"));
    QCOMPARE(::close(fd), 0);
    opened.removeAll(fd);
    QCOMPARE(DriverSim::openDescriptors(f), 0);
    QVERIFY(!QFile::exists(QStringLiteral("/proc/self/fd/%1").arg(fd)));
}

void TestDriverSim::readOnlyFileOpensForReadingOnly()
{
    DriverSim::controller(Family::Lunari).readOnly = true;
    errno = 0;
    QCOMPARE(openDriver(Family::Lunari), -1);
    QCOMPARE(errno, EACCES);
    const int fd = ::open(DriverSim::driverPath(Family::Lunari), O_RDONLY);
    QVERIFY(fd >= 0);
    opened.append(fd);
    QCOMPARE(ask(fd, 69, 32, nullptr), 32L);
    errno = 0;
    QCOMPARE(tell(fd, bytesOf("0100")), -1L);
    QCOMPARE(errno, EBADF);
}

void TestDriverSim::foreignDescriptorsPassThrough()
{
    int pipeEnds[2];
    QCOMPARE(::pipe(pipeEnds), 0);
    QCOMPARE(::write(pipeEnds[1], "abc", 3), ssize_t(3));
    char got[4] = {};
    QCOMPARE(::read(pipeEnds[0], got, 3), ssize_t(3));
    QCOMPARE(QByteArray(got), QByteArray("abc"));
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);

    QTemporaryFile file;
    QVERIFY(file.open());
    const int fd = ::open(file.fileName().toLocal8Bit().constData(), O_RDWR);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, "hello", 5), ssize_t(5));
    QCOMPARE(::lseek(fd, 1, SEEK_SET), off_t(1));
    QCOMPARE(::read(fd, got, 3), ssize_t(3));
    QCOMPARE(QByteArray(got, 3), QByteArray("ell"));
    QCOMPARE(::close(fd), 0);

    struct stat status{};
    QCOMPARE(::stat("/dev/null", &status), 0);
    QVERIFY(S_ISCHR(status.st_mode));
    QCOMPARE(::access("/no/such/driver/file", F_OK), -1);
    QVERIFY(DriverSim::transcript().empty());
}

void TestDriverSim::queryAnswers_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("length");
    QTest::addColumn<long>("result");
    QTest::addColumn<QByteArray>("answer");

    const QByteArray zeros12(12, '\0');
    QTest::newRow("pravex scan rate") << "pravex" << 99 << 5 << 5L << bytesOf("003c000000");
    QTest::newRow("pravex scan rate, larger buffer") << "pravex" << 99 << 64 << 5L << bytesOf("003c000000");
    QTest::newRow("pravex calibration idle") << "pravex" << 101 << 5 << 5L << bytesOf("0000000000");
    QTest::newRow("pravex basic status") << "pravex" << 102 << 32 << 32L
        << bytesOf("000a03010220140c08011200" "000003ff000003ff") + zeros12;
    QTest::newRow("pravex basic status, first 4") << "pravex" << 102 << 4 << 4L << bytesOf("000a0301");
    QTest::newRow("lunari scan rate") << "lunari" << 65 << 4 << 4L << bytesOf("00640000");
    QTest::newRow("lunari calibration idle") << "lunari" << 68 << 4 << 4L << bytesOf("00000000");
    QTest::newRow("lunari basic status") << "lunari" << 69 << 32 << 32L
        << bytesOf("000a02010146281e00011e00" "00000fff00000fff") + zeros12;
    QTest::newRow("pravex has no lunari codes") << "pravex" << 65 << 4 << -1L << QByteArray();
    QTest::newRow("pravex has no matrix") << "pravex" << 66 << 10 << -1L << QByteArray();
    QTest::newRow("lunari has no pravex codes") << "lunari" << 99 << 5 << -1L << QByteArray();
    QTest::newRow("lunari has no graph") << "lunari" << 100 << 128 << -1L << QByteArray();
    QTest::newRow("zero-sized read") << "lunari" << 66 << 0 << 0L << QByteArray();
}

void TestDriverSim::queryAnswers()
{
    QFETCH(QString, family);
    QFETCH(int, code);
    QFETCH(int, length);
    QFETCH(long, result);
    QFETCH(QByteArray, answer);
    const int fd = openDriver(familyNamed(family));
    QVERIFY(fd >= 0);

    QByteArray got;
    errno = 0;
    QCOMPARE(ask(fd, code, length, &got), result);
    QCOMPARE(got.toHex(), answer.toHex());
    if (result < 0)
        QCOMPARE(errno, EINVAL);
}

void TestDriverSim::readAwayFromStartIsEmpty()
{
    const int fd = openDriver(Family::Pravex);
    unsigned char buffer[5] = {99};
    QCOMPARE(::read(fd, buffer, 5), ssize_t(5));
    buffer[0] = 99;
    QCOMPARE(::read(fd, buffer, 5), ssize_t(0));
    QCOMPARE(::lseek(fd, 0, SEEK_SET), off_t(0));
    buffer[0] = 99;
    QCOMPARE(::read(fd, buffer, 5), ssize_t(5));
}

void TestDriverSim::commands_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("value");

    QTest::newRow("pravex output off") << "pravex" << bytesOf("0400") << "output" << 0;
    QTest::newRow("pravex threshold") << "pravex" << bytesOf("072c") << "threshold" << 44;
    QTest::newRow("pravex intensity") << "pravex" << bytesOf("0109") << "intensity" << 9;
    QTest::newRow("lunari output off") << "lunari" << bytesOf("0100") << "output" << 0;
    QTest::newRow("lunari threshold") << "lunari" << bytesOf("042a") << "threshold" << 42;
    QTest::newRow("lunari calibration mode") << "lunari" << bytesOf("0501") << "calibMode" << 1;
    // Refused requests: value -1 expects EINVAL and no change.
    QTest::newRow("pravex unknown code") << "pravex" << bytesOf("0901") << "output" << -1;
    QTest::newRow("pravex lunari's area record code") << "pravex" << bytesOf("0301") << "calibMode" << -1;
    QTest::newRow("lunari pravex's threshold code") << "lunari" << bytesOf("072c") << "threshold" << -1;
    QTest::newRow("lunari value byte missing") << "lunari" << bytesOf("04") << "threshold" << -1;
    QTest::newRow("pravex short area record") << "pravex" << bytesOf("0600010780") << "calibMode" << -1;
}

void TestDriverSim::commands()
{
    QFETCH(QString, family);
    QFETCH(QByteArray, request);
    QFETCH(QString, field);
    QFETCH(int, value);
    const Family f = familyNamed(family);
    const int before = fieldNamed(DriverSim::controller(f), field);
    const int fd = openDriver(f);

    errno = 0;
    const long result = tell(fd, request);
    if (value < 0) {
        QCOMPARE(result, -1L);
        QCOMPARE(errno, EINVAL);
        QCOMPARE(fieldNamed(DriverSim::controller(f), field), before);
    } else {
        QCOMPARE(result, long(request.size()));
        QCOMPARE(fieldNamed(DriverSim::controller(f), field), value);
    }
    const Exchange last = DriverSim::transcript().back();
    QCOMPARE(last.kind, Exchange::Write);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(last.bytes.data()), int(last.bytes.size())), request);
    QCOMPARE(int(last.code), int(static_cast<unsigned char>(request[0])));
}

void TestDriverSim::calibrationWalk_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("end");
    QTest::addColumn<int>("statusCode");
    QTest::addColumn<int>("statusLength");
    QTest::addColumn<QList<int>>("area");

    // Mode 1, screen 1920 x 1080, area 192..1728 x 108..972.
    const QByteArray record = bytesOf("00010780043800c006c0006c03cc");
    QTest::newRow("pravex done") << "pravex" << false << bytesOf("0500") << bytesOf("06") + record + QByteArray(17, '\0')
                                 << 101 << 5 << QList<int>{102, 921, 102, 921};
    QTest::newRow("pravex error") << "pravex" << true << bytesOf("0500") << bytesOf("06") + record + QByteArray(17, '\0')
                                  << 101 << 5 << QList<int>{102, 921, 102, 921};
    QTest::newRow("lunari done") << "lunari" << false << bytesOf("02") << bytesOf("03") + record + QByteArray(1, '\0')
                                 << 68 << 4 << QList<int>{410, 3686, 410, 3686};
    QTest::newRow("lunari error") << "lunari" << true << bytesOf("02") << bytesOf("03") + record + QByteArray(1, '\0')
                                  << 68 << 4 << QList<int>{410, 3686, 410, 3686};
}

void TestDriverSim::calibrationWalk()
{
    QFETCH(QString, family);
    QFETCH(bool, fails);
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, end);
    QFETCH(int, statusCode);
    QFETCH(int, statusLength);
    QFETCH(QList<int>, area);
    const Family f = familyNamed(family);
    Controller &c = DriverSim::controller(f);
    c.calibFails = fails;
    c.calibStep = 50;
    const int fd = openDriver(f);
    QCOMPARE(tell(fd, start), long(start.size()));

    QStringList seen;
    QByteArray answer;
    for (int i = 0; i < 14; ++i) {
        QCOMPARE(ask(fd, statusCode, statusLength, &answer), long(statusLength));
        seen << QStringLiteral("%1:%2").arg(int(static_cast<unsigned char>(answer[0])))
                    .arg((static_cast<unsigned char>(answer[1]) << 8) | static_cast<unsigned char>(answer[2]));
    }
    const QString last = fails ? QStringLiteral("5:0") : QStringLiteral("4:0");
    QCOMPARE(seen, QStringList({"1:0", "1:50", "1:100", "1:150", "2:0", "2:50", "2:100", "2:150",
                                "3:0", "3:50", "3:100", "3:150", last, last}));

    QCOMPARE(tell(fd, end), long(end.size()));
    const DriverSim::CalibrateEndRequest &request = c.lastCalibrateEnd;
    QVERIFY(request.received);
    QCOMPARE(QList<int>({request.mode, request.screenWidth, request.screenHeight,
                         request.left, request.right, request.top, request.bottom}),
             QList<int>({1, 1920, 1080, 192, 1728, 108, 972}));
    QCOMPARE(QList<int>({c.areaLeft, c.areaRight, c.areaTop, c.areaBottom}), area);
    QCOMPARE(c.calibMode, 1);
    QCOMPARE(ask(fd, statusCode, statusLength, &answer), long(statusLength));
    QCOMPARE(answer.left(3).toHex(), QByteArray("000000"));
}

void TestDriverSim::calibrationFollowsTheClock()
{
    // No progress per query: only the clock moves the calibration on.
    Controller &c = DriverSim::controller(Family::Lunari);
    c.calibSecondsPerTarget = 0.1;
    c.calibStep = 0;
    const int fd = openDriver(Family::Lunari);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(tell(fd, bytesOf("02")), 1L);
    QList<int> statuses;
    QByteArray answer;
    while (timer.elapsed() < 3000 && (statuses.isEmpty() || statuses.last() != 4)) {
        ask(fd, 68, 4, &answer);
        const int status = answer.at(0);
        if (statuses.isEmpty() || statuses.last() != status)
            statuses << status;
        QTest::qWait(20);
    }
    QCOMPARE(statuses, QList<int>({1, 2, 3, 4}));
    QVERIFY(timer.elapsed() >= 300);
}

void TestDriverSim::failingTransfers_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("pattern");   // per transfer: o = succeeds, x = fails
    QTest::addColumn<bool>("writes");

    QTest::newRow("next two reads") << "pravex.failReads = 2" << "xxooo" << false;
    QTest::newRow("next write") << "pravex.failWrites = 1" << "xoooo" << true;
    QTest::newRow("every third read") << "pravex.failEveryRead = 3" << "ooxooxo" << false;
    QTest::newRow("every second write") << "pravex.failEveryWrite = 2" << "oxoxo" << true;
    QTest::newRow("reads fault, writes do not") << "pravex.failReads = 3" << "ooo" << true;
}

void TestDriverSim::failingTransfers()
{
    QFETCH(QString, setting);
    QFETCH(QString, pattern);
    QFETCH(bool, writes);
    QVERIFY(DriverSim::loadScenario(setting.toStdString() + "\npravex.failErrno = EAGAIN"));
    const int fd = openDriver(Family::Pravex);

    QString got;
    for (int i = 0; i < pattern.size(); ++i) {
        errno = 0;
        const long result = writes ? tell(fd, bytesOf("0712")) : ask(fd, 99, 5, nullptr);
        got += result < 0 ? QLatin1Char('x') : QLatin1Char('o');
        if (result < 0)
            QCOMPARE(errno, EAGAIN);
    }
    QCOMPARE(got, pattern);
}

void TestDriverSim::shortAnswerKeepsTheRest()
{
    DriverSim::controller(Family::Lunari).shortAnswer = 3;
    const int fd = openDriver(Family::Lunari);
    unsigned char buffer[32];
    memset(buffer, 0xEE, sizeof buffer);
    buffer[0] = 69;
    QCOMPARE(::read(fd, buffer, 32), ssize_t(3));
    QCOMPARE(QByteArray(reinterpret_cast<char *>(buffer), 6).toHex(), QByteArray("000a02eeeeee"));
}

void TestDriverSim::overrideAnswersVerbatim()
{
    Controller &c = DriverSim::controller(Family::Lunari);
    c.overrides[65] = {0x01, 0x02, 0x03, 0x02, 0x09};
    const int fd = openDriver(Family::Lunari);
    QByteArray answer;
    QCOMPARE(ask(fd, 65, 4, &answer), 4L);
    QCOMPARE(answer.toHex(), QByteArray("01020302"));
    // An override may also answer a code the family does not know.
    c.overrides[200] = {7};
    QCOMPARE(ask(fd, 200, 10, &answer), 1L);
    QCOMPARE(answer.toHex(), QByteArray("07"));
}

void TestDriverSim::unloadWhileOpen()
{
    Controller &c = DriverSim::controller(Family::Pravex);
    const int fd = openDriver(Family::Pravex);
    QCOMPARE(ask(fd, 99, 5, nullptr), 5L);

    c.present = false;
    errno = 0;
    QCOMPARE(ask(fd, 99, 5, nullptr), -1L);
    QCOMPARE(errno, ENODEV);
    QCOMPARE(tell(fd, bytesOf("0401")), -1L);
    QCOMPARE(errno, ENODEV);

    // Loading the driver again does not revive a descriptor of the old one.
    c.present = true;
    QCOMPARE(ask(fd, 99, 5, nullptr), -1L);
    QCOMPARE(errno, ENODEV);
    const int fresh = openDriver(Family::Pravex);
    QVERIFY(fresh >= 0);
    QCOMPARE(ask(fresh, 99, 5, nullptr), 5L);
}

void TestDriverSim::pravexAnimation()
{
    const int fd = openDriver(Family::Pravex);
    auto run = [&](int frames) {
        QList<QByteArray> answers;
        for (int i = 0; i < frames; ++i) {
            QByteArray answer;
            ask(fd, 100, 128, &answer);
            answers << answer;
        }
        return answers;
    };
    const QList<QByteArray> first = run(40);
    DriverSim::reset();
    QCOMPARE(run(40), first);

    // 20 X and 12 Y channels: the bump's peak moves across the X channels,
    // and nothing is reported past the 32 channels.
    int previousPeak = -1;
    int moves = 0;
    for (const QByteArray &answer : first) {
        QCOMPARE(answer.size(), 128);
        QCOMPARE(answer.mid(32), QByteArray(96, '\0'));
        int peak = 0;
        for (int i = 1; i < 20; ++i) {
            if (static_cast<unsigned char>(answer[i]) > static_cast<unsigned char>(answer[peak]))
                peak = i;
        }
        if (previousPeak >= 0 && peak != previousPeak)
            ++moves;
        previousPeak = peak;
    }
    QVERIFY2(moves >= 5, qPrintable(QString::number(moves)));
}

void TestDriverSim::lunariAnimation()
{
    const int fd = openDriver(Family::Lunari);
    const int layoutX = 40;
    const int layoutY = 30;
    QByteArray previous;
    for (int frame = 0; frame < 30; ++frame) {
        QByteArray matrix;
        QByteArray touch;
        QCOMPARE(ask(fd, 66, layoutX * layoutY, &matrix), long(layoutX * layoutY));
        QCOMPARE(ask(fd, 70, 128, &touch), 128L);
        QVERIFY(matrix != previous);
        previous = matrix;

        // The touch point sits on the strongest cell of the matrix just read.
        QCOMPARE(int(touch[0]), 1);
        const int x = static_cast<unsigned char>(touch[2]) | (static_cast<unsigned char>(touch[3]) << 8);
        const int y = static_cast<unsigned char>(touch[4]) | (static_cast<unsigned char>(touch[5]) << 8);
        int strongest = 0;
        for (int cell = 1; cell < matrix.size(); ++cell) {
            if (static_cast<signed char>(matrix[cell]) > static_cast<signed char>(matrix[strongest]))
                strongest = cell;
        }
        QVERIFY(qAbs(strongest / layoutY - x * layoutX / 4096) <= 1);
        QVERIFY(qAbs(strongest % layoutY - y * layoutY / 4096) <= 1);
    }

    // The raw matrix answers for the current frame without advancing it.
    QByteArray raw1;
    QByteArray raw2;
    ask(fd, 67, layoutX * layoutY, &raw1);
    ask(fd, 67, layoutX * layoutY, &raw2);
    QCOMPARE(raw1, raw2);
    QCOMPARE(DriverSim::controller(Family::Lunari).frame, 30);
}

void TestDriverSim::stillPictureIsDeliveredAsSet()
{
    QVERIFY(DriverSim::loadScenario("pravex.animate = 0\npravex.samples = 1 2 255\n"
                                    "lunari.animate = 0\nlunari.layoutX = 2\nlunari.layoutY = 3\n"
                                    "lunari.matrix66 = 1 2 3 -1 -2 -3\nlunari.matrix67 = 9\n"
                                    "lunari.touch = 4095 0 1 258"));
    const int pravex = openDriver(Family::Pravex);
    const int lunari = openDriver(Family::Lunari);
    QByteArray answer;
    ask(pravex, 100, 128, &answer);
    QCOMPARE(answer, bytesOf("0102ff") + QByteArray(125, '\0'));
    QCOMPARE(ask(lunari, 66, 6, &answer), 6L);
    QCOMPARE(answer.toHex(), QByteArray("010203fffefd"));
    ask(lunari, 67, 6, &answer);
    QCOMPARE(answer.toHex(), QByteArray("090909090909"));
    ask(lunari, 70, 128, &answer);
    QCOMPARE(answer.left(10).toHex(), QByteArray("0200ff0f000001000201"));
}

void TestDriverSim::countsAtTheirLimits()
{
    // More touch points than the block has room for: the count says so, 31 are filled.
    Controller &lunari = DriverSim::controller(Family::Lunari);
    lunari.touchCount = 40;
    lunari.layoutX = 255;
    lunari.layoutY = 255;
    const int lunariFd = openDriver(Family::Lunari);
    QByteArray answer;
    QCOMPARE(ask(lunariFd, 66, 255 * 255, &answer), long(255 * 255));
    QCOMPARE(ask(lunariFd, 70, 128, &answer), 128L);
    QCOMPARE(int(static_cast<unsigned char>(answer[0])), 40);
    QVERIFY(answer.mid(2 + 4 * 30, 4) != QByteArray(4, '\0'));
    QCOMPARE(answer.mid(126), QByteArray(2, '\0'));

    // Channels beyond the 128 samples are dropped, Y channels first.
    Controller &pravex = DriverSim::controller(Family::Pravex);
    pravex.layoutX = 100;
    pravex.layoutY = 100;
    pravex.frame = 10;
    const int pravexFd = openDriver(Family::Pravex);
    QCOMPARE(ask(pravexFd, 100, 128, &answer), 128L);
    for (int i = 0; i < 128; ++i)
        QVERIFY(static_cast<unsigned char>(answer[i]) >= 8);
}

void TestDriverSim::duplicatesShareTheOpenFile()
{
    const int fd = openDriver(Family::Lunari);
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
    QVERIFY(copy >= 10);
    opened.append(copy);
    const int other = ::dup(fd);
    QVERIFY(other >= 0);
    opened.append(other);
    QCOMPARE(DriverSim::openDescriptors(Family::Lunari), 3);

    // One open file: reading on one descriptor moves the others too.
    QByteArray answer;
    QCOMPARE(ask(copy, 65, 4, &answer), 4L);
    unsigned char buffer[4] = {65};
    QCOMPARE(::read(other, buffer, 4), ssize_t(0));
    QCOMPARE(::lseek(other, 0, SEEK_SET), off_t(0));
    buffer[0] = 65;
    QCOMPARE(::read(fd, buffer, 4), ssize_t(4));

    QCOMPARE(::close(copy), 0);
    opened.removeAll(copy);
    QCOMPARE(DriverSim::openDescriptors(Family::Lunari), 2);
    QCOMPARE(ask(other, 65, 4, nullptr), 4L);

    // dup2 over a simulated descriptor makes it an ordinary one.
    const int nullFd = ::open("/dev/null", O_RDONLY);
    QCOMPARE(::dup2(nullFd, other), other);
    ::close(nullFd);
    QCOMPARE(DriverSim::openDescriptors(Family::Lunari), 1);
    QCOMPARE(::read(other, buffer, 4), ssize_t(0));
}

void TestDriverSim::scenarioLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("family");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("errors");

    QTest::newRow("number") << "pravex.fps = 75" << "pravex" << "fps" << 75 << "";
    QTest::newRow("hex, comments, blanks") << "# rates\n\n  lunari.threshold=0x28   # raised\n"
                                           << "lunari" << "threshold" << 40 << "";
    QTest::newRow("switch off") << "lunari.present = no" << "lunari" << "present" << 0 << "";
    QTest::newRow("errno by name") << "pravex.failErrno = EAGAIN" << "pravex" << "failErrno" << EAGAIN << "";
    QTest::newRow("raw answer") << "lunari.override.65 = 0 60 0 2" << "lunari" << "override65" << 4 << "";
    QTest::newRow("touch points") << "lunari.touch = 1 2 3 4 5 6" << "lunari" << "touchCount" << 3 << "";
    QTest::newRow("seconds") << "lunari.calibSecondsPerTarget = 1.5" << "lunari" << "calibSteps" << 1500 << "";
    QTest::newRow("timed in the past") << "at 0 pravex.layoutX = 7" << "pravex" << "layoutX" << 7 << "";
    QTest::newRow("unknown key, rest applied") << "pravex.speed = 3\npravex.fps = 61" << "pravex" << "fps" << 61
                                               << "line 1: unknown key speed\n";
    QTest::newRow("no family") << "fps = 3" << "pravex" << "fps" << 60
                               << "line 1: key must start with pravex. or lunari.: fps\n";
    QTest::newRow("no value") << "\npravex.fps" << "pravex" << "fps" << 60 << "line 2: expected key = value\n";
    QTest::newRow("bad number") << "pravex.fps = fast" << "pravex" << "fps" << 60
                                << "line 1: 'fast' is not a number for fps\n";
    QTest::newRow("bad switch") << "lunari.present = maybe" << "lunari" << "present" << 1
                                << "line 1: 'maybe' is not 0/1/true/false for present\n";
    QTest::newRow("bad time") << "at soon pravex.fps = 1" << "pravex" << "fps" << 60
                              << "line 1: 'soon' is not a time in seconds\n";
    QTest::newRow("odd touch list") << "lunari.touch = 1 2 3" << "lunari" << "touchCount" << 1
                                    << "line 1: touch takes up to 31 pairs of x y coordinates\n";
}

void TestDriverSim::scenarioLines()
{
    QFETCH(QString, text);
    QFETCH(QString, family);
    QFETCH(QString, field);
    QFETCH(int, value);
    QFETCH(QString, errors);
    std::string messages;
    QCOMPARE(DriverSim::loadScenario(text.toStdString(), &messages), errors.isEmpty());
    QCOMPARE(QString::fromStdString(messages), errors);
    QCOMPARE(fieldNamed(DriverSim::controller(familyNamed(family)), field), value);
}

void TestDriverSim::timedSettings()
{
    const double first = DriverSim::elapsedSeconds() + 0.1;
    const double second = first + 0.1;
    const std::string text = "at " + std::to_string(second) + " pravex.fps = 77\n"
                             "at " + std::to_string(first) + " pravex.fps = 66\n";
    QVERIFY(DriverSim::loadScenario(text));
    const int fd = openDriver(Family::Pravex);

    // Each query is judged by the clock around it; a busy machine may make one undecidable.
    int decided = 0;
    for (int i = 0; i < 3; ++i) {
        const double before = DriverSim::elapsedSeconds();
        QByteArray answer;
        ask(fd, 99, 5, &answer);
        const double after = DriverSim::elapsedSeconds();
        const int fps = (static_cast<unsigned char>(answer[0]) << 8) | static_cast<unsigned char>(answer[1]);
        if (after < first) {
            QCOMPARE(fps, 60);
            ++decided;
        } else if (before >= first && after < second) {
            QCOMPARE(fps, 66);
            ++decided;
        } else if (before >= second) {
            QCOMPARE(fps, 77);
            ++decided;
        }
        QTest::qWait(100);
    }
    QVERIFY(decided >= 2);
    QCOMPARE(DriverSim::controller(Family::Pravex).fps, 77);
}

void TestDriverSim::controlFileIsReReadWhenChanged()
{
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("control"));
    auto writeControl = [&path](const QByteArray &text) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    };
    writeControl("pravex.fps = 90\n");
    DriverSim::setControlFile(path.toStdString());

    // The first call on a driver path reads it.
    const int fd = openDriver(Family::Pravex);
    QVERIFY(fd >= 0);
    QCOMPARE(DriverSim::controller(Family::Pravex).fps, 90);

    // Unchanged, it is not applied again.
    DriverSim::controller(Family::Pravex).fps = 10;
    QTest::qWait(70);
    ask(fd, 99, 5, nullptr);
    QCOMPARE(DriverSim::controller(Family::Pravex).fps, 10);

    // Changed, it is applied at the next call after the 50 ms check interval.
    writeControl("pravex.fps = 91\npravex.present = 0\n");
    ask(fd, 99, 5, nullptr);
    QTest::qWait(70);
    errno = 0;
    QCOMPARE(ask(fd, 99, 5, nullptr), -1L);
    QCOMPARE(errno, ENODEV);
    QCOMPARE(DriverSim::controller(Family::Pravex).fps, 91);
    QCOMPARE(::access(DriverSim::driverPath(Family::Pravex), F_OK), -1);
}

void TestDriverSim::transcriptLines()
{
    Exchange exchange;
    exchange.kind = Exchange::Read;
    exchange.family = Family::Lunari;
    exchange.fd = 7;
    exchange.length = 4;
    exchange.result = 4;
    exchange.code = 65;
    exchange.bytes = {0x00, 0x3c, 0x00, 0x01};
    const std::string line = DriverSim::formatExchange(exchange);
    QCOMPARE(QString::fromStdString(line),
             QStringLiteral("family=lunari kind=read fd=7 len=4 code=65 result=4 errno=0 bytes=003c0001"));

    Exchange parsed;
    QVERIFY(DriverSim::parseExchange("pid=12 t=0.250 " + line, &parsed));
    QCOMPARE(DriverSim::formatExchange(parsed), line);

    Exchange failed;
    QVERIFY(DriverSim::parseExchange("family=pravex kind=openfailed fd=-1 len=0 code=0 result=-1 errno=2 bytes=", &failed));
    QCOMPARE(failed.kind, Exchange::OpenFailed);
    QCOMPARE(failed.family, Family::Pravex);
    QCOMPARE(failed.error, 2);
    QCOMPARE(failed.result, -1L);

    QVERIFY(!DriverSim::parseExchange("family=pravex kind=peek fd=3", &parsed));
    QVERIFY(!DriverSim::parseExchange("kind=read fd=3", &parsed));
    QVERIFY(!DriverSim::parseExchange("family=pravex kind=read bytes=abc", &parsed));
    QVERIFY(!DriverSim::parseExchange("family=pravex kind=read fd=x", &parsed));
}

void TestDriverSim::transcriptFile()
{
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("transcript"));
    DriverSim::setTranscriptFile(path.toStdString());
    const int fd = openDriver(Family::Pravex);
    ask(fd, 102, 32, nullptr);
    tell(fd, bytesOf("0400"));
    ::close(fd);
    opened.removeAll(fd);
    DriverSim::controller(Family::Pravex).present = false;
    openDriver(Family::Pravex);
    DriverSim::setTranscriptFile(std::string());

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    const std::vector<Exchange> expected = DriverSim::transcript();
    QCOMPARE(lines.size(), int(expected.size()) + 1);
    QVERIFY(lines.last().isEmpty());
    for (int i = 0; i < int(expected.size()); ++i) {
        QVERIFY(lines[i].startsWith("pid=" + QByteArray::number(::getpid()) + " t="));
        Exchange parsed;
        QVERIFY(DriverSim::parseExchange(lines[i].toStdString(), &parsed));
        QCOMPARE(DriverSim::formatExchange(parsed), DriverSim::formatExchange(expected[size_t(i)]));
    }
    QCOMPARE(expected.back().kind, Exchange::OpenFailed);
}

void TestDriverSim::foreignThreadsRunAlongside()
{
    int pipeEnds[2];
    QCOMPARE(::pipe(pipeEnds), 0);
    std::atomic<int> mismatches{0};
    std::thread echo([&] {
        for (int i = 0; i < 5000; ++i) {
            const unsigned char sent = static_cast<unsigned char>(i);
            unsigned char got = 0;
            if (::write(pipeEnds[1], &sent, 1) != 1 || ::read(pipeEnds[0], &got, 1) != 1 || got != sent)
                ++mismatches;
        }
    });
    const int fd = openDriver(Family::Pravex);
    int answered = 0;
    for (int i = 0; i < 2000; ++i)
        answered += ask(fd, 99, 5, nullptr) == 5 ? 1 : 0;
    echo.join();
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    QCOMPARE(mismatches.load(), 0);
    QCOMPARE(answered, 2000);
}

QTEST_GUILESS_MAIN(TestDriverSim)
#include "tst_driversim.moc"
