#pragma once

#include "net/ipv4.h"

#include <QObject>

#include <memory>

// Probes the host addresses of a subnet, without widgets, on the thread that owns it:
// ICMP by child processes "ping -c 2 ADDR > /dev/null 2>&1" run through /bin/sh, or TCP by
// non-blocking connection attempts to one port, each with its own time-out.
// Only addresses of the range it is given ever reach a command line or a socket.
// Probes in flight are capped, and the cap is held below the free file descriptors.
// ICMP may also run by fping instead (FpingSweep): one process per batch, answers in ascending order.
// Destroying the prober aborts its sweep: children killed and reaped, sockets closed.
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

    // How the probes of the last sweep ended. ping exits with 0 (answered) or 1 (no answer);
    // any other status, and a probe that could not be started at all, is a failure of the probe.
    struct Tally {
        quint64 answered = 0;
        quint64 silent = 0;
        quint64 failed = 0;
        // The first failure: the exit status of the shell (128 + the signal when killed), or
        // minus the errno when the child or the socket could not be created.
        int failure = 0;
        // fping only: why it did not run to its end, in its own words where it gave any.
        QString reason;
        // Nothing was probed and no probe could even tell answered from silent.
        bool nothingRan() const { return failed > 0 && answered == 0 && silent == 0; }
    };

    explicit SubnetProber(QObject* parent = nullptr);
    ~SubnetProber() override;

    void setIcmpCap(int limit);
    void setTcpCap(int limit);
    void setFpingBatch(quint64 addresses); // addresses per fping process
    int icmpCap() const;
    int tcpCap() const;

    // Start a sweep and return at once; `finished` follows when every address is settled,
    // at once for an empty range. A sweep still running is aborted first.
    void startPing(const net::HostRange& hosts);
    void startConnect(const net::HostRange& hosts, quint16 port, int timeoutMs = 100);
    void startFping(const net::HostRange& hosts);
    // The same, returning when the sweep is over. The wait runs an event loop of its own that
    // repaints but takes no user input.
    void pingAll(const net::HostRange& hosts);
    void connectAll(const net::HostRange& hosts, quint16 port, int timeoutMs = 100);
    void fpingAll(const net::HostRange& hosts);
    // Kills the children and closes the sockets still in flight; reports nothing more.
    void abort();

    int inFlight() const;
    int peakInFlight() const; // since the last start
    int sweepCap() const; // the cap the last sweep ran with: its own cap, or less for want of descriptors
    const Tally& tally() const; // of the last sweep, so far

signals:
    // An address that answered: ICMP in the order the probes end, TCP and fping in ascending order.
    void answered(quint32 address);
    // Every probed address once, right after `answered` when it answered; TCP and fping in ascending order.
    void settled(quint32 address);
    void finished();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
