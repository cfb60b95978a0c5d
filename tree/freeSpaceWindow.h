#pragma once

#include "net/ipv4.h"

#include <QVector>
#include <QWidget>

// The free space of one subnet, not covered by its branches, as the fewest CIDR blocks.
class freeSpaceWindow : public QWidget {
    Q_OBJECT
public:
    freeSpaceWindow(const net::Network& network, const QVector<net::Network>& blocks, QWidget* parent = nullptr);
};
