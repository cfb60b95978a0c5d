#pragma once

#include <QHostAddress>
#include <QStringList>
#include <QTcpServer>

#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

// 127.0.0.`from` to 127.0.0.`to`.
inline QStringList loopback(int from, int to)
{
    QStringList out;
    for (int i = from; i <= to; ++i)
        out << QStringLiteral("127.0.0.%1").arg(i);
    return out;
}

// TCP listeners on chosen loopback addresses, all on one port that was free on each of them.
// A "silent" address gets a listener whose accept queue is full: the kernel drops further
// SYNs there, so a connection attempt hears nothing until its time-out, without root.
class LoopbackListeners {
public:
    ~LoopbackListeners() { closeAll(); }

    bool listen(const QStringList& answering, const QStringList& silent = {})
    {
        for (int attempt = 0; attempt < 20; ++attempt) {
            closeAll();
            QTcpServer first; // finds a port that is free on the first address
            if (!first.listen(QHostAddress(answering.first()), 0))
                continue;
            chosenPort = first.serverPort();
            first.close();
            if (listenAll(answering, silent))
                return true;
        }
        closeAll();
        return false;
    }
    quint16 port() const { return chosenPort; }

private:
    bool listenAll(const QStringList& answering, const QStringList& silent)
    {
        for (const QString& address : answering) {
            servers.push_back(std::make_unique<QTcpServer>());
            if (!servers.back()->listen(QHostAddress(address), chosenPort))
                return false;
        }
        for (const QString& address : silent)
            if (!listenFull(address))
                return false;
        return true;
    }

    bool listenFull(const QString& address)
    {
        sockaddr_in at {};
        at.sin_family = AF_INET;
        at.sin_port = htons(chosenPort);
        at.sin_addr.s_addr = htonl(QHostAddress(address).toIPv4Address());
        const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        fds.push_back(listener);
        if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0
            || ::listen(listener, 0) != 0)
            return false;
        // One connection that is never accepted fills a queue of length 0.
        const int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        fds.push_back(filler);
        return filler >= 0 && ::connect(filler, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
    }

    void closeAll()
    {
        servers.clear();
        for (int fd : fds)
            if (fd >= 0)
                ::close(fd);
        fds.clear();
    }

    quint16 chosenPort = 0;
    std::vector<std::unique_ptr<QTcpServer>> servers;
    std::vector<int> fds;
};
