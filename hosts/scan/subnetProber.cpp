#include "hosts/scan/subnetProber.h"

#include "hosts/scan/fpingSweep.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <csignal>
#include <deque>
#include <dirent.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace {

constexpr int batchSize = 32; // starts between two looks at the event queue
constexpr int reservedFds = 64; // kept for the database, the window system and Qt itself
constexpr int pollIntervalMs = 10; // children that could not get a pidfd
constexpr int maxEvents = 256;

// Raised once per process: the default soft limit of 1024 would hold the caps far down.
rlim_t raiseOpenFileLimit()
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
    const rlim_t limit = raiseOpenFileLimit();
    const long long total = limit == RLIM_INFINITY ? INT_MAX : static_cast<long long>(qMin<rlim_t>(limit, INT_MAX));
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

struct SubnetProber::Impl {
    enum State : quint8 { Pending, Alive, Silent };
    enum class Outcome { Flying, Alive, Silent, Failed, Busy };
    struct Probe {
        bool used = false;
        int fd = -1; // pidfd of the child or the connecting socket; -1 when unwatched
        pid_t pid = -1; // ICMP child
        quint64 index = 0;
        qint64 deadline = 0; // TCP, in ns of `clock`
    };
    struct Result {
        quint64 index;
        Outcome outcome; // Alive, Silent or Failed
        int failure; // as Tally::failure
    };

    explicit Impl(SubnetProber* owner);
    ~Impl();

    void begin(bool tcp, const net::HostRange& hosts);
    void beginFping(const net::HostRange& hosts);
    void waitForEnd();
    void abort();
    void service();
    void fill(std::vector<Result>& results);
    Outcome spawnPing(quint64 index, int* failure);
    Outcome startAttempt(quint64 index, int* failure);
    bool watch(int fd, quint32 events, int slot);
    int takeSlot(quint64 index);
    void release(int slot);
    void collectReady(std::vector<Result>& results);
    void reap(int slot, std::vector<Result>& results);
    static Result exitResult(quint64 index, int status);
    void reapUnwatched(std::vector<Result>& results);
    void endAttempt(int slot, std::vector<Result>& results);
    void expireAttempts(std::vector<Result>& results);
    void armTick();
    void count(const Result& r);
    void settle(quint64 index, bool alive);
    void report(quint64 index, bool alive);
    void finishIfDone();

    SubnetProber* q;
    int icmpLimit = defaultIcmpCap;
    int tcpLimit = defaultTcpCap;

    bool tcp = false;
    bool running = false;
    net::HostRange range;
    quint16 port = 0;
    qint64 timeoutNs = 100'000'000;
    int sweepCap = 0;
    int flying = 0;
    int peak = 0;
    Tally tally;
    quint64 next = 0; // next index to start
    quint64 reportBase = 0; // TCP: first index not yet reported
    std::deque<State> states; // TCP: states of reportBase .. next-1
    quint32 generation = 0; // tells the events of an aborted sweep from those of the next one

    std::vector<Probe> probes;
    std::vector<int> freeSlots;
    std::deque<std::pair<int, quint64>> startOrder; // TCP (slot, index) in start order, for the time-outs
    std::vector<int> unwatched; // ICMP slots whose child has no pidfd: polled
    int epollFd = -1;
    QSocketNotifier* notifier = nullptr;
    QTimer* pump = nullptr; // starts the next batch after pending events ran
    QTimer* tick = nullptr; // TCP time-outs; polling of unwatched children
    QElapsedTimer clock;
    QEventLoop* waiting = nullptr; // the blocking call's loop while it runs
    std::unique_ptr<FpingSweep> fping; // made at its first sweep
    quint64 fpingBatch = FpingSweep::defaultBatch;
};

SubnetProber::Impl::Impl(SubnetProber* owner)
    : q(owner)
    , epollFd(epoll_create1(EPOLL_CLOEXEC))
    , pump(new QTimer(owner))
    , tick(new QTimer(owner))
{
    raiseOpenFileLimit();
    if (epollFd >= 0) {
        notifier = new QSocketNotifier(epollFd, QSocketNotifier::Read, owner);
        QObject::connect(notifier, &QSocketNotifier::activated, owner, [this] { service(); });
    }
    pump->setSingleShot(true);
    pump->setInterval(0);
    QObject::connect(pump, &QTimer::timeout, owner, [this] { service(); });
    tick->setSingleShot(true);
    tick->setTimerType(Qt::PreciseTimer);
    QObject::connect(tick, &QTimer::timeout, owner, [this] { service(); });
}

SubnetProber::Impl::~Impl()
{
    abort();
    delete notifier;
    if (epollFd >= 0)
        close(epollFd);
}

SubnetProber::SubnetProber(QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Impl>(this))
{ }

SubnetProber::~SubnetProber() = default;

void SubnetProber::setIcmpCap(int limit)
{
    d->icmpLimit = qMax(1, limit);
}

void SubnetProber::setFpingBatch(quint64 addresses)
{
    d->fpingBatch = addresses;
}

void SubnetProber::setTcpCap(int limit)
{
    d->tcpLimit = qMax(1, limit);
}

int SubnetProber::icmpCap() const
{
    return d->icmpLimit;
}

int SubnetProber::tcpCap() const
{
    return d->tcpLimit;
}

int SubnetProber::inFlight() const
{
    return d->flying;
}

int SubnetProber::peakInFlight() const
{
    return d->peak;
}

int SubnetProber::sweepCap() const
{
    return d->sweepCap;
}

const SubnetProber::Tally& SubnetProber::tally() const
{
    return d->tally;
}

void SubnetProber::startPing(const net::HostRange& hosts)
{
    d->begin(false, hosts);
}

void SubnetProber::startConnect(const net::HostRange& hosts, quint16 toPort, int timeoutMs)
{
    d->port = toPort;
    d->timeoutNs = qint64(qMax(1, timeoutMs)) * 1000000;
    d->begin(true, hosts);
}

void SubnetProber::startFping(const net::HostRange& hosts)
{
    d->beginFping(hosts);
}

void SubnetProber::fpingAll(const net::HostRange& hosts)
{
    startFping(hosts);
    d->waitForEnd();
}

void SubnetProber::pingAll(const net::HostRange& hosts)
{
    startPing(hosts);
    d->waitForEnd();
}

void SubnetProber::connectAll(const net::HostRange& hosts, quint16 toPort, int timeoutMs)
{
    startConnect(hosts, toPort, timeoutMs);
    d->waitForEnd();
}

void SubnetProber::abort()
{
    d->abort();
}

void SubnetProber::Impl::waitForEnd()
{
    if (!running)
        return;
    QEventLoop loop;
    QObject::connect(q, &SubnetProber::finished, &loop, &QEventLoop::quit);
    waiting = &loop; // abort() ends the wait as well
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    waiting = nullptr;
}

void SubnetProber::Impl::begin(bool isTcp, const net::HostRange& hosts)
{
    abort();
    tcp = isTcp;
    range = hosts;
    next = reportBase = 0;
    flying = peak = 0;
    tally = Tally {};
    sweepCap = qMin(tcp ? tcpLimit : icmpLimit, fdBudget());
    running = true;
    clock.start();
    pump->start();
}

void SubnetProber::Impl::beginFping(const net::HostRange& hosts)
{
    abort();
    tcp = false;
    range = hosts;
    flying = peak = sweepCap = 0;
    tally = Tally {};
    if (!fping) {
        fping = std::make_unique<FpingSweep>();
        QObject::connect(fping.get(), &FpingSweep::answered, q, &SubnetProber::answered);
        QObject::connect(fping.get(), &FpingSweep::settled, q, &SubnetProber::settled);
        QObject::connect(fping.get(), &FpingSweep::finished, q, [this] {
            tally.answered = fping->answeredCount();
            tally.silent = fping->silentCount();
            tally.failed = fping->unsettledCount();
            tally.failure = fping->failureCode();
            tally.reason = fping->failure().value_or(QString());
            running = false;
            emit q->finished();
        });
    }
    running = true;
    fping->setBatchLimit(fpingBatch);
    fping->start(hosts);
}

void SubnetProber::Impl::abort()
{
    if (waiting)
        waiting->quit();
    if (fping)
        fping->abort();
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

void SubnetProber::Impl::service()
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
        count(r);
        settle(r.index, r.outcome == Outcome::Alive);
    }
    if (running && generation == gen)
        finishIfDone();
}

void SubnetProber::Impl::fill(std::vector<Result>& results)
{
    for (int started = 0; next < range.count && flying < sweepCap; ++started) {
        if (started == batchSize) {
            pump->start(); // let reaping and repainting run between batches
            return;
        }
        int failure = 0;
        Outcome o = tcp ? startAttempt(next, &failure) : spawnPing(next, &failure);
        if (o == Outcome::Busy && flying > 0) {
            sweepCap = flying; // the system has no room for more: wait for one in flight to end
            return;
        }
        if (o == Outcome::Busy)
            o = Outcome::Failed; // no room even with nothing of ours in flight
        const quint64 index = next++;
        if (tcp)
            states.push_back(Pending);
        if (o != Outcome::Flying)
            results.push_back({ index, o, failure });
    }
}

SubnetProber::Impl::Outcome SubnetProber::Impl::spawnPing(quint64 index, int* failure)
{
    // The command line holds nothing but an address of the range, written by toText.
    const QByteArray command = "ping -c 2 " + net::toText(range.at(index)).toLatin1() + " > /dev/null 2>&1";
    int error = 0;
    const pid_t pid = spawnShell(command, &error);
    if (pid < 0) {
        *failure = -error;
        return shortOfResources(error) ? Outcome::Busy : Outcome::Failed;
    }
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

SubnetProber::Impl::Outcome SubnetProber::Impl::startAttempt(quint64 index, int* failure)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *failure = -errno;
        return shortOfResources(errno) ? Outcome::Busy : Outcome::Failed;
    }
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

bool SubnetProber::Impl::watch(int fd, quint32 events, int slot)
{
    epoll_event e {};
    e.events = events;
    e.data.u64 = (quint64(generation) << 32) | quint32(slot);
    return epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &e) == 0;
}

int SubnetProber::Impl::takeSlot(quint64 index)
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

void SubnetProber::Impl::release(int slot)
{
    Probe& p = probes[slot];
    if (p.fd >= 0)
        close(p.fd); // also leaves the epoll set
    p = Probe {};
    freeSlots.push_back(slot);
    --flying;
}

void SubnetProber::Impl::collectReady(std::vector<Result>& results)
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

void SubnetProber::Impl::reap(int slot, std::vector<Result>& results)
{
    Probe& p = probes[slot];
    int status = 0;
    const pid_t r = waitChild(p.pid, &status, WNOHANG);
    if (r == 0)
        return; // not ended after all: its pidfd reports again
    results.push_back(exitResult(p.index, r == p.pid ? status : -1));
    release(slot);
}

// ping ends with 0 when a reply came and 1 when none did; anything else, a shell that could
// not find it (127) or a kill included, is the probe failing.
SubnetProber::Impl::Result SubnetProber::Impl::exitResult(quint64 index, int status)
{
    if (status < 0)
        return { index, Outcome::Failed, -ECHILD };
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (code == 0 || code == 1)
        return { index, code == 0 ? Outcome::Alive : Outcome::Silent, 0 };
    return { index, Outcome::Failed, code };
}

void SubnetProber::Impl::reapUnwatched(std::vector<Result>& results)
{
    const std::vector<int> polled = std::move(unwatched);
    unwatched.clear();
    for (int slot : polled) {
        reap(slot, results);
        if (probes[slot].used)
            unwatched.push_back(slot);
    }
}

void SubnetProber::Impl::endAttempt(int slot, std::vector<Result>& results)
{
    Probe& p = probes[slot];
    int error = 0;
    socklen_t length = sizeof error;
    const bool connected = getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    results.push_back({ p.index, connected ? Outcome::Alive : Outcome::Silent, 0 });
    release(slot); // an established connection is closed at once: nothing is sent
}

void SubnetProber::Impl::expireAttempts(std::vector<Result>& results)
{
    const qint64 now = clock.nsecsElapsed();
    while (!startOrder.empty()) {
        const auto [slot, index] = startOrder.front();
        const Probe& p = probes[slot];
        if (p.used && p.index == index) {
            if (p.deadline > now)
                return;
            results.push_back({ index, Outcome::Silent, 0 });
            release(slot);
        }
        startOrder.pop_front();
    }
}

void SubnetProber::Impl::armTick()
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

// A probe that could not even tell answered from silent counts neither way.
void SubnetProber::Impl::count(const Result& r)
{
    if (r.outcome == Outcome::Alive) {
        ++tally.answered;
    } else if (r.outcome == Outcome::Silent) {
        ++tally.silent;
    } else if (tally.failed++ == 0) {
        tally.failure = r.failure;
    }
}

void SubnetProber::Impl::settle(quint64 index, bool alive)
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

void SubnetProber::Impl::report(quint64 index, bool alive)
{
    const quint32 gen = generation;
    const quint32 address = range.at(index);
    if (alive)
        emit q->answered(address);
    if (running && generation == gen)
        emit q->settled(address);
}

void SubnetProber::Impl::finishIfDone()
{
    if (next < range.count || flying > 0 || (tcp && reportBase < range.count))
        return;
    running = false;
    tick->stop();
    pump->stop();
    emit q->finished();
}
