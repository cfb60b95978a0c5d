#pragma once

#include "hosts/scan/scanOutcome.h"
#include "hosts/scan/scanRequest.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QLabel;
class QProgressBar;
class QWidget;
class SubnetProber;

// One sweep of a hosts window at a time: its prober, plan and outcome, the bar and label that
// show it, and the widgets it disables meanwhile. A sweep in flight goes with the session.
class scanSession : public QObject {
    Q_OBJECT
public:
    // While probes run, `table` and every push button of `window` but `keep` take no input.
    scanSession(QWidget* window, QWidget* table, QWidget* keep, QProgressBar* bar, QLabel* label);
    ~scanSession() override;

    bool isRunning() const { return running; }

    // Each starts the sweep of `plan` over `subnet` and returns; `answered` comes for every
    // address that answers, then `ended` once the sweep ran to its end, or `failed` with why.
    void pingAll(const scanRequest::Plan& plan, const QString& subnet);
    void connectAll(const scanRequest::Plan& plan, const QString& subnet, int timeoutMs);
    // The window goes: the sweep stops, its children and sockets with it.
    void abort();

signals:
    void answered(quint32 host);
    void ended(const ScanOutcome& outcome);
    void failed(const QString& text);

private:
    void begin(const scanRequest::Plan& plan, const QString& subnet);
    void showCounted();
    void finish();
    void setScanning(bool on);

    QWidget* window;
    QWidget* table;
    QWidget* keep;
    QProgressBar* bar;
    QLabel* label;
    std::unique_ptr<SubnetProber> prober;
    scanRequest::Plan plan;
    ScanOutcome outcome;
    bool running = false;
    QList<QPointer<QWidget>> disabled;
};
