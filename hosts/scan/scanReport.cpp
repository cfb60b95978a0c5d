#include "hosts/scan/scanReport.h"

#include <QProcess>

namespace scanReport {

bool needsConfirmation(const scanRequest::Plan& plan)
{
    return plan.hosts.count > largestUnasked;
}

qint64 expectedSeconds(const scanRequest::Plan& plan, int icmpCap, int tcpCap)
{
    if (plan.fast)
        return qint64(plan.hosts.count / 1000 + 1);
    const quint64 cap = quint64(qMax(1, plan.tcp ? tcpCap : icmpCap));
    const quint64 batches = (plan.hosts.count + cap - 1) / cap;
    return plan.tcp ? qint64((batches + 9) / 10) : qint64(batches);
}

QString durationText(qint64 seconds)
{
    const qint64 minutes = (seconds + 59) / 60;
    if (seconds < 60)
        return QStringLiteral("меньше минуты");
    if (minutes < 60)
        return QStringLiteral("%1 мин").arg(minutes);
    return QStringLiteral("%1 ч %2 мин").arg(minutes / 60).arg(minutes % 60);
}

QString confirmationText(const QString& subnet, const scanRequest::Plan& plan, int icmpCap, int tcpCap)
{
    return QStringLiteral("Подсеть ") + subnet + QStringLiteral(" содержит адресов хостов: ")
        + QString::number(plan.hosts.count) + QStringLiteral(".\nСканирование по ") + scanRequest::methodOf(plan)
        + QStringLiteral(" займет около ") + durationText(expectedSeconds(plan, icmpCap, tcpCap))
        + QStringLiteral(", и все это время окно будет занято.\nНачать сканирование?");
}

PingDiagnosis diagnosePing(quint32 address)
{
    // Through the shell, as the probes ran, so that a missing ping reads as the shell says it.
    QProcess ping;
    ping.setProcessChannelMode(QProcess::SeparateChannels);
    ping.setStandardOutputFile(QProcess::nullDevice());
    ping.start(
        QStringLiteral("/bin/sh"), { QStringLiteral("-c"), QStringLiteral("ping -c 1 ") + net::toText(address) });
    PingDiagnosis result;
    if (!ping.waitForFinished(3000)) {
        ping.kill();
        ping.waitForFinished(1000);
    } else if (ping.exitStatus() == QProcess::NormalExit) {
        result.status = ping.exitCode();
    }
    const QString err = QString::fromLocal8Bit(ping.readAllStandardError()).trimmed();
    result.firstLine = err.section(QLatin1Char('\n'), 0, 0).trimmed();
    return result;
}

namespace {

QString statusText(int failure)
{
    if (failure < 0)
        return qt_error_string(-failure);
    return QStringLiteral("код завершения ") + QString::number(failure);
}

} // namespace

std::optional<QString> failureText(
    const scanRequest::Plan& plan, const SubnetProber::Tally& tally, quint32 probedAddress)
{
    if (plan.fast && tally.failed > 0)
        return QStringLiteral("Сканирование по ") + scanRequest::icmpByFping() + QStringLiteral(" не выполнено: ")
            + tally.reason;
    if (!tally.nothingRan())
        return std::nullopt;
    if (plan.tcp)
        return QStringLiteral("Сканирование по TCP не выполнено: не удалось открыть сокет (")
            + statusText(tally.failure) + QStringLiteral(").");
    QString text = QStringLiteral("Сканирование по ICMP не выполнено: команду ping не удалось выполнить (")
        + statusText(tally.failure) + QStringLiteral(").");
    if (tally.failure >= 0) {
        const PingDiagnosis diagnosis = diagnosePing(probedAddress);
        if (!diagnosis.firstLine.isEmpty())
            text += QLatin1Char('\n') + diagnosis.firstLine;
    }
    return text;
}

QString fpingProgressText(quint64 settled, quint64 total)
{
    return QStringLiteral("Сканирование подсети по %1: опрошено %2 из %3")
        .arg(scanRequest::icmpByFping())
        .arg(settled)
        .arg(total);
}

} // namespace scanReport
