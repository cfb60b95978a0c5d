// Figures of the subnet prober, driven directly. bench/run.sh runs it; probes go to
// loopback or into a network namespace of the script's own.
//   bench_scan ping-one                         one "ping -c 2 127.0.0.1" through the shell
//   bench_scan icmp CIDR [CAP]                  an ICMP sweep
//   bench_scan fping CIDR                       an ICMP sweep by fping, against its interval's floor
//   bench_scan tcp CIDR ADDR,ADDR,.. [CAP] [--sequential]
//       a TCP sweep with listeners on the given addresses; --sequential also times the
//       one-after-the-other design (0.1 s blocking connect per address) and gives the ratio
#include "hosts/scan/subnetProber.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

double seconds(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e9;
}

double cpuSeconds(int who)
{
    rusage u {};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

net::HostRange rangeOf(const char* cidr)
{
    const auto network = net::parseNetwork(QString::fromLatin1(cidr));
    if (!network) {
        std::fprintf(stderr, "not a network: %s\n", cidr);
        std::exit(2);
    }
    return net::hostRange(*network);
}

int pingOne()
{
    QElapsedTimer t;
    t.start();
    const int status = std::system("ping -c 2 127.0.0.1 > /dev/null 2>&1");
    std::printf("one probe (ping -c 2 127.0.0.1 through the shell): %.3f s, status %d\n", seconds(t), status);
    return 0;
}

int icmp(const char* cidr, int cap)
{
    const net::HostRange range = rangeOf(cidr);
    SubnetProber prober;
    if (cap > 0)
        prober.setIcmpCap(cap);
    int answered = 0;
    QObject::connect(&prober, &SubnetProber::answered, [&] { ++answered; });
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    const double ownBefore = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer t;
    t.start();
    prober.pingAll(range);
    const double wall = seconds(t);
    const double cpu = cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    const double own = cpuSeconds(RUSAGE_SELF) - ownBefore;
    std::printf("ICMP %s: %llu probes, %d answered, %.3f s, peak %d children in flight (cap %d), "
                "CPU per probe: %.2f ms in the children, %.2f ms in the prober\n",
        cidr, static_cast<unsigned long long>(range.count), answered, wall, prober.peakInFlight(), prober.sweepCap(),
        range.count ? cpu * 1000 / double(range.count) : 0.0, range.count ? own * 1000 / double(range.count) : 0.0);
    return 0;
}

int fping(const char* cidr)
{
    const net::HostRange range = rangeOf(cidr);
    SubnetProber prober;
    int answered = 0;
    QObject::connect(&prober, &SubnetProber::answered, [&] { ++answered; });
    QElapsedTimer t;
    t.start();
    prober.fpingAll(range);
    const double wall = seconds(t);
    if (prober.tally().failed) {
        std::printf("ICMP by fping %s failed: %s\n", cidr, qPrintable(prober.tally().reason));
        return 1;
    }
    // One echo request per millisecond is all that fping's interval lets through.
    const double floor = double(range.count) / 1000.0;
    std::printf("ICMP by fping %s: %llu probes, %d answered, %.3f s; 1 ms per request alone: %.3f s (%.0f%%)\n", cidr,
        static_cast<unsigned long long>(range.count), answered, wall, floor, wall > 0 ? floor * 100 / wall : 0.0);
    return 0;
}

// The design the prober replaces: one blocking connect after the other, 0.1 s each at most.
std::vector<quint32> sequentialSweep(const net::HostRange& range, quint16 port)
{
    std::vector<quint32> found;
    for (quint64 i = 0; i < range.count; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(range.at(i));
        bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
        if (!connected && errno == EINPROGRESS) {
            pollfd p { fd, POLLOUT, 0 };
            int error = 0;
            socklen_t length = sizeof error;
            connected
                = poll(&p, 1, 100) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
        }
        close(fd);
        if (connected)
            found.push_back(range.at(i));
    }
    return found;
}

QString listText(const std::vector<quint32>& addresses)
{
    QStringList texts;
    for (quint32 a : addresses)
        texts << net::toText(a);
    return texts.join(QLatin1Char(' '));
}

int tcp(const char* cidr, const char* listenOn, int cap, bool sequential)
{
    const net::HostRange range = rangeOf(cidr);
    std::vector<std::unique_ptr<QTcpServer>> servers;
    quint16 port = 0;
    for (const QString& address : QString::fromLatin1(listenOn).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        servers.push_back(std::make_unique<QTcpServer>());
        if (!servers.back()->listen(QHostAddress(address), port)) {
            std::fprintf(stderr, "cannot listen on %s:%u\n", qPrintable(address), port);
            return 1;
        }
        port = servers.back()->serverPort();
    }
    SubnetProber prober;
    if (cap > 0)
        prober.setTcpCap(cap);
    std::vector<quint32> found;
    QObject::connect(&prober, &SubnetProber::answered, [&](quint32 a) { found.push_back(a); });
    QElapsedTimer t;
    t.start();
    prober.connectAll(range, port);
    const double wall = seconds(t);
    std::printf("TCP %s port %u: %llu probes, %.3f s, peak %d in flight (cap %d), found %s\n", cidr, port,
        static_cast<unsigned long long>(range.count), wall, prober.peakInFlight(), prober.sweepCap(),
        qPrintable(listText(found)));
    if (!sequential)
        return 0;
    t.start();
    const std::vector<quint32> expected = sequentialSweep(range, port);
    const double before = seconds(t);
    std::printf("TCP %s sequentially, 0.1 s each: %.3f s, found %s\n", cidr, before, qPrintable(listText(expected)));
    std::printf("ratio sequential / concurrent: %.1f; same rows in the same order: %s\n", before / wall,
        expected == found ? "yes" : "NO");
    return expected == found ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString mode = args.value(0);
    if (mode == QLatin1String("ping-one"))
        return pingOne();
    if (mode == QLatin1String("icmp") && args.size() >= 2)
        return icmp(argv[2], args.value(2).toInt());
    if (mode == QLatin1String("fping") && args.size() >= 2)
        return fping(argv[2]);
    if (mode == QLatin1String("tcp") && args.size() >= 3) {
        const bool sequential = args.contains(QStringLiteral("--sequential"));
        const int cap = args.size() >= 4 && args[3] != QLatin1String("--sequential") ? args[3].toInt() : 0;
        return tcp(argv[2], argv[3], cap, sequential);
    }
    std::fprintf(
        stderr, "usage: bench_scan ping-one | icmp CIDR [CAP] | fping CIDR | tcp CIDR ADDR,.. [CAP] [--sequential]\n");
    return 2;
}
