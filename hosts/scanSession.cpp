#include "hosts/scanSession.h"

#include "hosts/scan/scanReport.h"
#include "hosts/scan/subnetProber.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

scanSession::scanSession(QWidget* window_, QWidget* table_, QWidget* keep_, QProgressBar* bar_, QLabel* label_)
    : QObject(window_)
    , window(window_)
    , table(table_)
    , keep(keep_)
    , bar(bar_)
    , label(label_)
{ }

scanSession::~scanSession() = default;

void scanSession::begin(const scanRequest::Plan& planned, const QString& subnet)
{
    plan = planned;
    outcome = ScanOutcome { scanRequest::methodOf(plan), plan.tcp ? plan.port : quint16(0), subnet,
        QDateTime::currentDateTimeUtc(), {}, plan.hosts.count, {} };
    // Never from inside the old prober's own signal: a new sweep starts from a command.
    prober = std::make_unique<SubnetProber>();
    connect(prober.get(), &SubnetProber::answered, this, [this](quint32 host) {
        outcome.answered << host;
        emit answered(host);
    });
    connect(prober.get(), &SubnetProber::finished, this, &scanSession::finish);
    setScanning(true);
}

void scanSession::pingAll(const scanRequest::Plan& planned, const QString& subnet)
{
    begin(planned, subnet);
    if (!plan.fast) {
        prober->startPing(plan.hosts);
        return;
    }
    showCounted();
    prober->startFping(plan.hosts);
}

// fping tells the addresses in ascending order: the bar and the label count them.
void scanSession::showCounted()
{
    const auto show = [this, total = plan.hosts.count](quint64 settled) {
        bar->setValue(total ? int(settled * 100 / total) : 100);
        label->setText(scanReport::fpingProgressText(settled, total));
    };
    show(0);
    bar->show();
    label->show();
    connect(prober.get(), &SubnetProber::settled, this, [show, settled = quint64(0)]() mutable { show(++settled); });
}

void scanSession::connectAll(const scanRequest::Plan& planned, const QString& subnet, int timeoutMs)
{
    begin(planned, subnet);
    // The bar counts the addresses settled in ascending order, one step each, as a running total.
    const double step = plan.hosts.count ? 100.0 / double(plan.hosts.count) : 0.0;
    connect(prober.get(), &SubnetProber::settled, this, [this, step, total = 0.0]() mutable {
        total += step;
        bar->setValue(int(total));
    });
    prober->startConnect(plan.hosts, plan.port, timeoutMs);
}

void scanSession::finish()
{
    setScanning(false);
    if (plan.tcp)
        bar->setValue(100);
    const std::optional<QString> failure = scanReport::failureText(plan, prober->tally(), plan.hosts.at(0));
    if (failure) {
        emit failed(*failure);
        return;
    }
    outcome.ended = QDateTime::currentDateTimeUtc();
    emit ended(outcome);
}

void scanSession::abort()
{
    if (prober)
        prober->abort();
    setScanning(false);
}

// While probes run the window takes no input that could start another scan or change the
// table; closing it stays possible and stops the scan.
void scanSession::setScanning(bool on)
{
    running = on;
    if (!on) {
        for (const QPointer<QWidget>& w : qAsConst(disabled))
            if (w)
                w->setEnabled(true);
        disabled.clear();
        return;
    }
    QList<QWidget*> idle { table };
    for (QPushButton* b : window->findChildren<QPushButton*>())
        if (b != keep)
            idle << b;
    for (QWidget* w : idle)
        if (w->isEnabled()) {
            w->setEnabled(false);
            disabled << w;
        }
}
