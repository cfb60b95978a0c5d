#pragma once

#include "net/ipv4.h"

#include <QElapsedTimer>
#include <QObject>

#include <deque>
#include <sys/types.h>
#include <utility>
#include <vector>

class QEventLoop;
class QSocketNotifier;
class QTimer;

// Probes the host addresses of a subnet, without widgets, on the thread that owns it:
// ICMP by child processes "ping -c 2 ADDR > /dev/null 2>&1" run through /bin/sh (exit 0 means
// alive), or TCP by non-blocking connection attempts to one port, each with its own time-out.
// Only addresses of the range it is given ever reach a command line or a socket.
// Probes in flight are capped, and the cap is held below the free file descriptors.
class SubnetProber : public QObject {
    Q_OBJECT
public:
    // From the scan benchmark on 2 cores. ICMP: starting sh and ping costs 10-18 ms of CPU here,
    // which holds a sweep near 170 children whatever the cap; 1024 lets a machine with cheaper
    // starts go faster while staying within the raised descriptor limit.
    // TCP: a silent /16 takes 65534 / cap * 0.1 s, 13 s with 512; more in flight only doubles
    // the burst of SYNs and half-open neighbour entries on a real network.
    static constexpr int defaultIcmpCap = 1024;
    static constexpr int defaultTcpCap = 512;

    explicit SubnetProber(QObject* parent = nullptr);
    ~SubnetProber() override;

    void setIcmpCap(int limit) { icmpLimit = qMax(1, limit); }
    void setTcpCap(int limit) { tcpLimit = qMax(1, limit); }
    int icmpCap() const { return icmpLimit; }
    int tcpCap() const { return tcpLimit; }

    // Start a sweep and return at once; `finished` follows when every address is settled,
    // at once for an empty range. A sweep still running is aborted first.
    void startPing(const net::HostRange& hosts);
    void startConnect(const net::HostRange& hosts, quint16 port, int timeoutMs = 100);
    // The same, returning when the sweep is over. The wait runs an event loop of its own that
    // repaints but takes no user input.
    void pingAll(const net::HostRange& hosts);
    void connectAll(const net::HostRange& hosts, quint16 port, int timeoutMs = 100);
    // Kills the children and closes the sockets still in flight; reports nothing more.
    void abort();

    bool isRunning() const { return running; }
    int inFlight() const { return flying; }
    int peakInFlight() const { return peak; } // since the last start
    int effectiveCap() const { return cap; } // the cap the last sweep ran with

signals:
    // An address that answered: ICMP in the order the probes end, TCP in ascending order.
    void answered(quint32 address);
    // Every probed address once, right after `answered` when it answered; TCP in ascending order.
    void settled(quint32 address);
    void finished();

private:
    enum State : quint8 { Pending, Alive, Silent };
    enum class Outcome { Flying, Alive, Silent, Busy };
    struct Probe {
        bool used = false;
        int fd = -1; // pidfd of the child or the connecting socket; -1 when unwatched
        pid_t pid = -1; // ICMP child
        quint64 index = 0;
        qint64 deadline = 0; // TCP, in ns of `clock`
    };
    struct Result {
        quint64 index;
        bool alive;
    };

    void begin(bool tcp, const net::HostRange& hosts);
    void waitForEnd();
    void service();
    void fill(std::vector<Result>& results);
    Outcome spawnPing(quint64 index);
    Outcome startAttempt(quint64 index);
    bool watch(int fd, quint32 events, int slot);
    int takeSlot(quint64 index);
    void release(int slot);
    void collectReady(std::vector<Result>& results);
    void reap(int slot, std::vector<Result>& results);
    void reapUnwatched(std::vector<Result>& results);
    void endAttempt(int slot, std::vector<Result>& results);
    void expireAttempts(std::vector<Result>& results);
    void armTick();
    void settle(quint64 index, bool alive);
    void report(quint64 index, bool alive);
    void finishIfDone();

    int icmpLimit = defaultIcmpCap;
    int tcpLimit = defaultTcpCap;

    bool tcp = false;
    bool running = false;
    net::HostRange range;
    quint16 port = 0;
    qint64 timeoutNs = 100'000'000;
    int cap = 0;
    int flying = 0;
    int peak = 0;
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
};
