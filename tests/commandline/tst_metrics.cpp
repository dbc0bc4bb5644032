// The command-line programs' Prometheus output, checked by Prometheus' own
// tools: promtool accepts it, and node_exporter's textfile collector serves it.
// Exits 77 (skipped) where the tools are not installed.

#include "app/Product.h"
#include "tests/support/PreloadedRun.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const int SkipExit = 77;

QString promtool()
{
    return QStandardPaths::findExecutable(QStringLiteral("promtool"));
}

QString nodeExporter()
{
    return QStandardPaths::findExecutable(QStringLiteral("prometheus-node-exporter"));
}

// A loopback port nobody listens on just now.
int freePort()
{
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(probe, reinterpret_cast<sockaddr *>(&address), size) == 0
        && ::getsockname(probe, reinterpret_cast<sockaddr *>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(probe);
    return port;
}

// The body of GET path on the loopback port, or empty when nothing answers.
QByteArray httpGet(int port, const char *path)
{
    const int connection = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QByteArray reply;
    if (::connect(connection, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
        const QByteArray request = QByteArray("GET ") + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (::write(connection, request.constData(), size_t(request.size())) == request.size()) {
            char chunk[65536];
            ssize_t count = 0;
            while ((count = ::read(connection, chunk, sizeof chunk)) > 0)
                reply.append(chunk, int(count));
        }
    }
    ::close(connection);
    const int body = reply.indexOf("\r\n\r\n");
    return body < 0 ? QByteArray() : reply.mid(body + 4);
}

} // namespace

class TestMetrics : public QObject
{
    Q_OBJECT

private slots:
    void checkedByPrometheusTools_data();
    void checkedByPrometheusTools();
};

void TestMetrics::checkedByPrometheusTools_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("served");   // lines node_exporter must serve

    QTest::newRow("pravex") << "pravexctl" << QByteArray("pravex.threshold = 40\npravex.areaRight = 512\n") << 0
                            << QStringList{"pravex_up{driver_file=\"/proc/zazevizuve/communication\"} 1",
                                           "pravex_threshold 40", "pravex_intensity 8",
                                           "pravex_calibration_area_ratio{edge=\"right\"} 0.500489"};
    QTest::newRow("lunari") << "lunarictl" << QByteArray("lunari.output = 0\n") << 0
                            << QStringList{"lunari_output_enabled 0", "lunari_scan_rate_hertz 100",
                                           "lunari_info{driver_file=\"/proc/rodurirede/communication\","
                                           "driver_version=\"1.1\",firmware_version=\"2\"} 1"};
    // The file tells of the driver's failure: the run itself succeeded.
    QTest::newRow("lunari busy") << "lunarictl" << QByteArray("lunari.openError = EBUSY\n") << 0
                                 << QStringList{"lunari_up{driver_file=\"/proc/rodurirede/communication\"} 0",
                                                "lunari_error_info{driver_file=\"/proc/rodurirede/communication\","
                                                "error=\"busy\",reason=\"in use by another program (Device or "
                                                "resource busy)\"} 1"};
    QTest::newRow("pravex hung") << "pravexctl" << QByteArray("pravex.stuck = 1\n") << 0
                                 << QStringList{"pravex_up{driver_file=\"/proc/zazevizuve/communication\"} 0",
                                                "pravex_error_info{driver_file=\"/proc/zazevizuve/communication\","
                                                "error=\"timeout\",reason=\"no answer to the scan-rate query within "
                                                "0.5 s (timeout)\"} 1"};
}

void TestMetrics::checkedByPrometheusTools()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, scenario);
    QFETCH(int, exitCode);
    QFETCH(QStringList, served);

    PreloadedRun preloaded;
    preloaded.setScenario(scenario);
    const QString folder = preloaded.path(QStringLiteral("textfile"));
    QVERIFY(QDir().mkpath(folder));
    const QString file = folder + QLatin1Char('/') + program + QStringLiteral(".prom");
    const PreloadedRun::Result run = preloaded.run(
        TestSupport::toolProgram(program == QLatin1String("pravexctl") ? Product::pravex : Product::lunari),
        {QStringLiteral("status"), QStringLiteral("--format=prometheus"), QStringLiteral("--output"), file,
         QStringLiteral("--timeout"), QStringLiteral("0.5")});
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY(run.output.isEmpty());

    QProcess check;
    check.setStandardInputFile(file);
    check.start(promtool(), {QStringLiteral("check"), QStringLiteral("metrics")});
    QVERIFY(check.waitForFinished(30000));
    const QByteArray said = check.readAllStandardOutput() + check.readAllStandardError();
    QVERIFY2(check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0, said.constData());
    QVERIFY2(said.trimmed().isEmpty(), said.constData());

    const int port = freePort();
    QVERIFY(port > 0);
    QProcess exporter;
    exporter.start(nodeExporter(), {QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port),
                                    QStringLiteral("--collector.disable-defaults"),
                                    QStringLiteral("--collector.textfile"),
                                    QStringLiteral("--collector.textfile.directory=") + folder});
    QVERIFY(exporter.waitForStarted(10000));
    QByteArray metrics;
    QTRY_VERIFY_WITH_TIMEOUT(!(metrics = httpGet(port, "/metrics")).isEmpty(), 15000);
    exporter.terminate();
    exporter.waitForFinished(5000);
    QVERIFY2(metrics.contains("node_textfile_scrape_error 0"), metrics.constData());
    const QList<QByteArray> lines = metrics.split('\n');
    for (const QString &line : served)
        QVERIFY2(lines.contains(line.toUtf8()), qPrintable(line + QStringLiteral(" not in\n") + metrics));
}

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (promtool().isEmpty() || nodeExporter().isEmpty()) {
        std::printf("promtool or prometheus-node-exporter is missing (Debian packages prometheus, "
                    "prometheus-node-exporter)\n");
        return SkipExit;
    }
    TestMetrics test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_metrics.moc"
