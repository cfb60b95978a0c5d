// Filling the host table from a scan of the window subnet.
#include "hosts/hostsWindow.h"

#include "gui/messages.h"
#include "hosts/hostItemModel.h"
#include "hosts/scan/scanOutcome.h"
#include "hosts/scan/scanReport.h"
#include "hosts/scan/scanRequest.h"
#include "hosts/scan/subnetProber.h"
#include "hosts/scanSubnetWindow.h"
#include "net/ipv4.h"
#include "ui_hostsWindow.h"

#include <QCloseEvent>
#include <QPushButton>
#include <QStandardItemModel>

void hostsWindow::scanWindow()
{
    if (scanRunning)
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
    scanner(*request);
}

void hostsWindow::scanner(const ScanRequest& outputdata)
{
    if (outputdata.method != scanRequest::icmp() && outputdata.method != scanRequest::tcp())
        return;
    const Result<scanRequest::Plan> plan = scanRequest::plan(windowSubnet, outputdata);
    if (!plan.ok()) {
        messages::error(nullptr, plan.errorText);
        return;
    }
    sweepPlan = plan.value;
    sweep = ScanOutcome { scanRequest::methodOf(plan.value), plan.value.tcp ? plan.value.port : quint16(0),
        windowSubnet, QDateTime::currentDateTimeUtc(), {}, plan.value.hosts.count, {} };
    if (plan.value.tcp) {
        hosts->progressBar->show();
        hosts->labelPort->show();
        hosts->labelPort->setText(
            QStringLiteral("Сканирование подсети по ") + outputdata.port + QStringLiteral(" порту"));
        pingPort(plan.value.hosts, plan.value.port);
    } else {
        ping_all(plan.value.hosts);
    }
}

void hostsWindow::newProber()
{
    // Never from inside the old prober's own signal: a new sweep starts from a command.
    prober = std::make_unique<SubnetProber>();
    connect(prober.get(), &SubnetProber::answered, this, [this](quint32 host) {
        sweep.answered << host;
        add_to_model(host);
    });
    connect(prober.get(), &SubnetProber::finished, this, &hostsWindow::sweepFinished);
    setScanning(true);
}

void hostsWindow::ping_all(const net::HostRange& addresses)
{
    newProber();
    if (!sweepPlan.fast) {
        prober->startPing(addresses);
        return;
    }
    // fping tells the addresses in ascending order: the bar and the label count them.
    const auto show = [this, total = addresses.count](quint64 settled) {
        hosts->progressBar->setValue(total ? int(settled * 100 / total) : 100);
        hosts->labelPort->setText(scanReport::fpingProgressText(settled, total));
    };
    show(0);
    hosts->progressBar->show();
    hosts->labelPort->show();
    connect(prober.get(), &SubnetProber::settled, this, [show, settled = quint64(0)]() mutable { show(++settled); });
    prober->startFping(addresses);
}

void hostsWindow::pingPort(const net::HostRange& addresses, int port, double timeout)
{
    if (port < 1 || port > 65535)
        return;
    newProber();
    // The bar counts the addresses settled in ascending order, one step each, as a running total.
    const double step = addresses.count ? 100.0 / double(addresses.count) : 0.0;
    connect(prober.get(), &SubnetProber::settled, this, [this, step, total = 0.0]() mutable {
        total += step;
        hosts->progressBar->setValue(int(total));
    });
    prober->startConnect(addresses, quint16(port), qMax(1, qRound(timeout * 1000)));
}

void hostsWindow::add_to_model(quint32 host)
{
    model->appendRow(new QStandardItem(net::toText(host)));
}

void hostsWindow::sweepFinished()
{
    setScanning(false);
    if (sweepPlan.tcp)
        hosts->progressBar->setValue(100);
    const std::optional<QString> failure = scanReport::failureText(sweepPlan, prober->tally(), sweepPlan.hosts.at(0));
    if (failure) {
        messages::error(nullptr, *failure);
        return;
    }
    sweep.ended = QDateTime::currentDateTimeUtc();
    scanEnded(sweep);
    messages::information(nullptr, QStringLiteral("Выполнено!"), QStringLiteral("Сканирование завершено!"));
}

// While probes run the window takes no input that could start another scan or change the
// table; closing it stays possible and stops the scan.
void hostsWindow::setScanning(bool on)
{
    scanRunning = on;
    if (!on) {
        for (const QPointer<QWidget>& w : qAsConst(disabledForScan))
            if (w)
                w->setEnabled(true);
        disabledForScan.clear();
        return;
    }
    QList<QWidget*> idle { hosts->tableView };
    for (QPushButton* b : findChildren<QPushButton*>())
        if (b != hosts->pbClose)
            idle << b;
    for (QWidget* w : idle)
        if (w->isEnabled()) {
            w->setEnabled(false);
            disabledForScan << w;
        }
}

void hostsWindow::closeEvent(QCloseEvent* event)
{
    if (prober)
        prober->abort();
    setScanning(false);
    QWidget::closeEvent(event);
}
