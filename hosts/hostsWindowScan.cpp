// Filling the host table from a scan of the window subnet.
#include "hosts/hostsWindow.h"

#include "gui/messages.h"
#include "hosts/hostItemModel.h"
#include "hosts/scan/scanOutcome.h"
#include "hosts/scan/scanReport.h"
#include "hosts/scan/scanRequest.h"
#include "hosts/scanSession.h"
#include "hosts/scanSubnetWindow.h"
#include "net/ipv4.h"
#include "ui_hostsWindow.h"

#include <QCloseEvent>
#include <QPushButton>
#include <QStandardItemModel>

void hostsWindow::scanWindow()
{
    if (scan->isRunning())
        return;
    // A box of its own, as before (no parent): it opens centred on the screen, not on this window.
    scanSubnetWindow dialog;
    dialog.setWindowTitle(QStringLiteral("Параметры сканирования"));
    // Kept as is: a maximum narrower than the minimum; Qt applies the minimum, so it opens 320 by 166.
    dialog.setMinimumSize(320, 166);
    dialog.setMaximumSize(316, 166);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const std::optional<ScanRequest> request = dialog.scanParameter();
    if (!request)
        return;
    // A scan that cannot run, or that the user declines, leaves the table, the bar and the label.
    const Result<scanRequest::Plan> plan = scanRequest::plan(windowSubnet, *request);
    if (!plan.ok()) {
        messages::error(nullptr, plan.errorText);
        return;
    }
    if (scanReport::needsConfirmation(plan.value)
        && !messages::question(this, QStringLiteral("Внимание!"),
            scanReport::confirmationText(
                windowSubnet, plan.value, SubnetProber::defaultIcmpCap, SubnetProber::defaultTcpCap),
            true))
        return;
    model->removeRows(0, model->rowCount());
    startSweep(plan.value, request->port);
}

void hostsWindow::scanner(const ScanRequest& request)
{
    if (request.method != scanRequest::icmp() && request.method != scanRequest::tcp())
        return;
    const Result<scanRequest::Plan> plan = scanRequest::plan(windowSubnet, request);
    if (!plan.ok()) {
        messages::error(nullptr, plan.errorText);
        return;
    }
    startSweep(plan.value, request.port);
}

void hostsWindow::startSweep(const scanRequest::Plan& plan, const QString& portText)
{
    if (!plan.tcp) {
        scan->pingAll(plan, windowSubnet);
        return;
    }
    hosts->progressBar->show();
    hosts->labelPort->show();
    hosts->labelPort->setText(QStringLiteral("Сканирование подсети по ") + portText + QStringLiteral(" порту"));
    scan->connectAll(plan, windowSubnet, 100);
}

void hostsWindow::ping_all(const net::HostRange& addresses)
{
    scan->pingAll(scanRequest::Plan { false, false, addresses, 0 }, windowSubnet);
}

void hostsWindow::pingPort(const net::HostRange& addresses, int port, double timeout)
{
    if (port < 1 || port > 65535)
        return;
    scan->connectAll(
        scanRequest::Plan { true, false, addresses, quint16(port) }, windowSubnet, qMax(1, qRound(timeout * 1000)));
}

void hostsWindow::add_to_model(quint32 host)
{
    model->appendRow(new QStandardItem(net::toText(host)));
}

void hostsWindow::watchScan()
{
    scan = new scanSession(this, hosts->tableView, hosts->pbClose, hosts->progressBar, hosts->labelPort);
    connect(scan, &scanSession::answered, this, &hostsWindow::add_to_model);
    connect(scan, &scanSession::failed, this, [](const QString& text) { messages::error(nullptr, text); });
    connect(scan, &scanSession::ended, this, [this](const ScanOutcome& outcome) {
        scanEnded(outcome);
        messages::information(nullptr, QStringLiteral("Выполнено!"), QStringLiteral("Сканирование завершено!"));
    });
}

void hostsWindow::closeEvent(QCloseEvent* event)
{
    scan->abort();
    QWidget::closeEvent(event);
}
