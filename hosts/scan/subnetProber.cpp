#include "hosts/scan/subnetProber.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <dirent.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int batchSize = 32; // starts between two looks at the event queue
constexpr int reservedFds = 64; // kept for the database, the window system and Qt itself
constexpr int pollIntervalMs = 10; // children that could not get a pidfd
constexpr int maxEvents = 256;

// Raised once per process: the default soft limit of 1024 would hold the caps far down.
rlim_t openFileLimit()
{
    static const bool raised = [] {
        rlimit r {};
        if (getrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur >= r.rlim_max)
            return false;
        r.rlim_cur = r.rlim_max;
        return setrlimit(RLIMIT_NOFILE, &r) == 0;
    }();
    Q_UNUSED(raised)
    rlimit r {};
    return getrlimit(RLIMIT_NOFILE, &r) == 0 ? r.rlim_cur : 1024;
}

int openFdCount()
{
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return reservedFds;
    int n = 0;
    while (const dirent* entry = readdir(dir))
        n += entry->d_name[0] != '.';
    closedir(dir);
    return n - 1; // the directory's own descriptor
}

int fdBudget()
{
    const rlim_t limit = openFileLimit();
    const long long total = limit == RLIM_INFINITY ? INT_MAX : qMin<long long>(limit, INT_MAX);
    return int(qMax<long long>(1, total - openFdCount() - reservedFds));
}

// Each child gets a process group of its own so that an abort reaches the ping behind the shell.
pid_t spawnShell(const QByteArray& command, int* error)
{
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    sigset_t reset;
    sigemptyset(&reset);
    for (int s : { SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGALRM, SIGCHLD })
        sigaddset(&reset, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &reset);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    QByteArray line = command;
    char* argv[] = { const_cast<char*>("sh"), const_cast<char*>("-c"), line.data(), nullptr };
    pid_t pid = -1;
    *error = posix_spawn(&pid, "/bin/sh", nullptr, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    return *error == 0 ? pid : -1;
}

bool shortOfResources(int error)
{
    return error == EAGAIN || error == ENOMEM || error == EMFILE || error == ENFILE || error == ENOBUFS
        || error == EADDRNOTAVAIL;
}

pid_t waitChild(pid_t pid, int* status, int flags)
{
    pid_t r;
    do
        r = waitpid(pid, status, flags);
    while (r < 0 && errno == EINTR);
    return r;
}

} // namespace

SubnetProber::SubnetProber(QObject* parent)
    : QObject(parent)
    , epollFd(epoll_create1(EPOLL_CLOEXEC))
    , pump(new QTimer(this))
    , tick(new QTimer(this))
{
    openFileLimit();
    if (epollFd >= 0) {
        notifier = new QSocketNotifier(epollFd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &SubnetProber::service);
    }
    pump->setSingleShot(true);
    pump->setInterval(0);
    connect(pump, &QTimer::timeout, this, &SubnetProber::service);
    tick->setSingleShot(true);
    tick->setTimerType(Qt::PreciseTimer);
    connect(tick, &QTimer::timeout, this, &SubnetProber::service);
}

SubnetProber::~SubnetProber()
{
    abort();
    delete notifier;
    if (epollFd >= 0)
        close(epollFd);
}

void SubnetProber::startPing(const net::HostRange& hosts)
{
    begin(false, hosts);
}

void SubnetProber::startConnect(const net::HostRange& hosts, quint16 toPort, int timeoutMs)
{
    port = toPort;
    timeoutNs = qint64(qMax(1, timeoutMs)) * 1000000;
    begin(true, hosts);
}

void SubnetProber::pingAll(const net::HostRange& hosts)
{
    startPing(hosts);
    waitForEnd();
}

void SubnetProber::connectAll(const net::HostRange& hosts, quint16 toPort, int timeoutMs)
{
    startConnect(hosts, toPort, timeoutMs);
    waitForEnd();
}

void SubnetProber::waitForEnd()
{
    if (!running)
        return;
    QEventLoop loop;
    connect(this, &SubnetProber::finished, &loop, &QEventLoop::quit);
    waiting = &loop; // abort() ends the wait as well
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    waiting = nullptr;
}

void SubnetProber::begin(bool isTcp, const net::HostRange& hosts)
{
    abort();
    tcp = isTcp;
    range = hosts;
    next = reportBase = 0;
    flying = peak = 0;
    cap = qMin(tcp ? tcpLimit : icmpLimit, fdBudget());
    running = true;
    clock.start();
    pump->start();
}

void SubnetProber::abort()
{
    if (waiting)
        waiting->quit();
    ++generation;
    running = false;
    pump->stop();
    tick->stop();
    for (std::size_t slot = 0; slot < probes.size(); ++slot) {
        Probe& p = probes[slot];
        if (!p.used)
            continue;
        if (p.pid > 0) {
            kill(-p.pid, SIGKILL);
            waitChild(p.pid, nullptr, 0);
        }
        release(int(slot));
    }
    flying = 0;
    states.clear();
    startOrder.clear();
    unwatched.clear();
}

void SubnetProber::service()
{
    if (!running)
        return;
    const quint32 gen = generation;
    std::vector<Result> results;
    collectReady(results);
    if (tcp)
        expireAttempts(results);
    else
        reapUnwatched(results);
    fill(results);
    armTick();
    for (const Result& r : results) {
        if (!running || generation != gen)
            return;
        settle(r.index, r.alive);
    }
    if (running && generation == gen)
        finishIfDone();
}

void SubnetProber::fill(std::vector<Result>& results)
{
    for (int started = 0; next < range.count && flying < cap; ++started) {
        if (started == batchSize) {
            pump->start(); // let reaping and repainting run between batches
            return;
        }
        const Outcome o = tcp ? startAttempt(next) : spawnPing(next);
        if (o == Outcome::Busy && flying > 0) {
            cap = flying; // the system has no room for more: wait for one in flight to end
            return;
        }
        const quint64 index = next++;
        if (tcp)
            states.push_back(Pending);
        if (o != Outcome::Flying)
            results.push_back({ index, o == Outcome::Alive });
    }
}

SubnetProber::Outcome SubnetProber::spawnPing(quint64 index)
{
    // The command line holds nothing but an address of the range, written by toText.
    const QByteArray command = "ping -c 2 " + net::toText(range.at(index)).toLatin1() + " > /dev/null 2>&1";
    int error = 0;
    const pid_t pid = spawnShell(command, &error);
    if (pid < 0)
        return shortOfResources(error) ? Outcome::Busy : Outcome::Silent;
    const int slot = takeSlot(index);
    Probe& p = probes[slot];
    p.pid = pid;
    p.fd = int(syscall(SYS_pidfd_open, pid, 0));
    if (p.fd < 0 || !watch(p.fd, EPOLLIN, slot)) {
        if (p.fd >= 0)
            close(p.fd);
        p.fd = -1;
        unwatched.push_back(slot);
    }
    return Outcome::Flying;
}

SubnetProber::Outcome SubnetProber::startAttempt(quint64 index)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return shortOfResources(errno) ? Outcome::Busy : Outcome::Silent;
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(range.at(index));
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        close(fd);
        return Outcome::Alive;
    }
    const int error = errno;
    if (error != EINPROGRESS) {
        close(fd);
        return shortOfResources(error) ? Outcome::Busy : Outcome::Silent;
    }
    const int slot = takeSlot(index);
    Probe& p = probes[slot];
    p.fd = fd;
    p.deadline = clock.nsecsElapsed() + timeoutNs;
    if (!watch(fd, EPOLLOUT, slot)) {
        release(slot);
        return Outcome::Silent;
    }
    startOrder.emplace_back(slot, index);
    return Outcome::Flying;
}

bool SubnetProber::watch(int fd, quint32 events, int slot)
{
    epoll_event e {};
    e.events = events;
    e.data.u64 = (quint64(generation) << 32) | quint32(slot);
    return epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &e) == 0;
}

int SubnetProber::takeSlot(quint64 index)
{
    int slot;
    if (freeSlots.empty()) {
        slot = int(probes.size());
        probes.emplace_back();
    } else {
        slot = freeSlots.back();
        freeSlots.pop_back();
    }
    probes[slot] = Probe {};
    probes[slot].used = true;
    probes[slot].index = index;
    peak = qMax(peak, ++flying);
    return slot;
}

void SubnetProber::release(int slot)
{
    Probe& p = probes[slot];
    if (p.fd >= 0)
        close(p.fd); // also leaves the epoll set
    p = Probe {};
    freeSlots.push_back(slot);
    --flying;
}

void SubnetProber::collectReady(std::vector<Result>& results)
{
    epoll_event events[maxEvents];
    int n;
    do
        n = epoll_wait(epollFd, events, maxEvents, 0);
    while (n < 0 && errno == EINTR);
    for (int i = 0; i < n; ++i) {
        if (quint32(events[i].data.u64 >> 32) != generation)
            continue;
        const int slot = int(quint32(events[i].data.u64));
        if (slot >= int(probes.size()) || !probes[slot].used)
            continue;
        if (tcp)
            endAttempt(slot, results);
        else
            reap(slot, results);
    }
}

void SubnetProber::reap(int slot, std::vector<Result>& results)
{
    Probe& p = probes[slot];
    int status = 0;
    const pid_t r = waitChild(p.pid, &status, WNOHANG);
    if (r == 0)
        return; // not ended after all: its pidfd reports again
    results.push_back({ p.index, r == p.pid && WIFEXITED(status) && WEXITSTATUS(status) == 0 });
    release(slot);
}

void SubnetProber::reapUnwatched(std::vector<Result>& results)
{
    const std::vector<int> polled = std::move(unwatched);
    unwatched.clear();
    for (int slot : polled) {
        reap(slot, results);
        if (probes[slot].used)
            unwatched.push_back(slot);
    }
}

void SubnetProber::endAttempt(int slot, std::vector<Result>& results)
{
    Probe& p = probes[slot];
    int error = 0;
    socklen_t length = sizeof error;
    const bool connected = getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    results.push_back({ p.index, connected });
    release(slot); // an established connection is closed at once: nothing is sent
}

void SubnetProber::expireAttempts(std::vector<Result>& results)
{
    const qint64 now = clock.nsecsElapsed();
    while (!startOrder.empty()) {
        const auto [slot, index] = startOrder.front();
        const Probe& p = probes[slot];
        if (p.used && p.index == index) {
            if (p.deadline > now)
                return;
            results.push_back({ index, false });
            release(slot);
        }
        startOrder.pop_front();
    }
}

void SubnetProber::armTick()
{
    if (!tcp) {
        if (!unwatched.empty() && !tick->isActive())
            tick->start(pollIntervalMs);
        return;
    }
    while (!startOrder.empty()) {
        const auto [slot, index] = startOrder.front();
        const Probe& p = probes[slot];
        if (p.used && p.index == index) {
            const qint64 left = p.deadline - clock.nsecsElapsed();
            tick->start(int(qMax<qint64>(0, (left + 999999) / 1000000)));
            return;
        }
        startOrder.pop_front();
    }
    tick->stop();
}

void SubnetProber::settle(quint64 index, bool alive)
{
    if (!tcp) {
        report(index, alive);
        return;
    }
    states[index - reportBase] = alive ? Alive : Silent;
    const quint32 gen = generation;
    while (!states.empty() && states.front() != Pending) {
        const bool found = states.front() == Alive;
        states.pop_front();
        report(reportBase++, found);
        if (!running || generation != gen)
            return;
    }
}

void SubnetProber::report(quint64 index, bool alive)
{
    const quint32 gen = generation;
    const quint32 address = range.at(index);
    if (alive)
        emit answered(address);
    if (running && generation == gen)
        emit settled(address);
}

void SubnetProber::finishIfDone()
{
    if (next < range.count || flying > 0 || (tcp && reportBase < range.count))
        return;
    running = false;
    tick->stop();
    pump->stop();
    emit finished();
}
