// Filling the host table from a scan of the window subnet.
#include "hosts/hostsWindow.h"

#include "hosts/scan/scanOutcome.h"
#include "hosts/scan/scanRequest.h"
#include "hosts/scanSubnetWindow.h"
#include "hosts/scan/subnetProber.h"
#include "net/ipv4.h"
#include "ui_hostsWindow.h"

#include <QMessageBox>
#include <QStandardItemModel>

namespace {

void refuseScan(const QString& reason)
{
    QMessageBox::critical(nullptr, QStringLiteral("Ошибка"), reason);
}

} // namespace

void hostsWindow::scanWindow()
{
    delete newWindow;
    newWindow = new scanSubnetWindow();
    connect(this, &QObject::destroyed, newWindow, &QObject::deleteLater);
    newWindow->setWindowTitle(QStringLiteral("Параметры сканирования"));
    newWindow->setMinimumSize(320, 166);
    newWindow->setMaximumSize(316, 166);
    if (newWindow->exec() != QDialog::Accepted)
        return;
    const std::optional<ScanRequest> request = newWindow->scanParameter();
    if (!request)
        return;
    // A scan that cannot run is refused before the table, the bar or the label change.
    QString reason;
    if (!scanRequest::plan(windowSubnet, *request, &reason)) {
        refuseScan(reason);
        return;
    }
    model->removeRows(0, model->rowCount());
    scanner(*request);
}

void hostsWindow::scanner(const ScanRequest& outputdata)
{
    if (outputdata.method != scanRequest::icmp() && outputdata.method != scanRequest::tcp())
        return;
    QString reason;
    const std::optional<scanRequest::Plan> plan = scanRequest::plan(windowSubnet, outputdata, &reason);
    if (!plan) {
        refuseScan(reason);
        return;
    }
    ScanOutcome outcome { outputdata.method, plan->tcp ? plan->port : quint16(0), windowSubnet,
        QDateTime::currentDateTimeUtc(), {}, plan->hosts.count, {} };
    scanAnswers.clear();
    if (plan->tcp) {
        hosts->progressBar->show();
        hosts->labelPort->show();
        hosts->labelPort->setText(
            QStringLiteral("Сканирование подсети по ") + outputdata.port + QStringLiteral(" порту"));
        pingPort(plan->hosts, plan->port);
        hosts->progressBar->setValue(100);
    } else {
        ping_all(plan->hosts);
    }
    outcome.ended = QDateTime::currentDateTimeUtc();
    outcome.answered = scanAnswers;
    scanEnded(outcome);
    QMessageBox::information(nullptr, QStringLiteral("Выполнено!"), QStringLiteral("Сканирование завершено!"));
}

void hostsWindow::ping_all(const net::HostRange& addresses)
{
    SubnetProber prober;
    connect(&prober, &SubnetProber::answered, this, &hostsWindow::add_to_model);
    prober.pingAll(addresses);
}

void hostsWindow::ping(quint32 host)
{
    ping_all(net::HostRange { host, 1 });
}

void hostsWindow::pingPort(const net::HostRange& addresses, int port, double timeout)
{
    if (port < 1 || port > 65535)
        return;
    SubnetProber prober;
    connect(&prober, &SubnetProber::answered, this, &hostsWindow::add_to_model);
    // The bar counts the addresses settled in ascending order, one step each, as a running total.
    const double step = addresses.count ? 100.0 / double(addresses.count) : 0.0;
    double total = 0;
    connect(&prober, &SubnetProber::settled, this, [&] {
        total += step;
        hosts->progressBar->setValue(int(total));
    });
    prober.connectAll(addresses, quint16(port), qMax(1, qRound(timeout * 1000)));
}

void hostsWindow::add_to_model(quint32 host)
{
    scanAnswers.append(host);
    model->appendRow(new QStandardItem(net::toText(host)));
}
