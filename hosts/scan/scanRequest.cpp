#include "hosts/scan/scanRequest.h"

#include <QRegExp>
#include <QSettings>

namespace scanRequest {

QString portPattern()
{
    return QStringLiteral("6553[0-5]|655[0-2][0-9]|65[0-4][0-9]{2}|6[0-4][0-9]{3}|[1-5][0-9]{4}|[1-9][0-9]{0,3}");
}

std::optional<quint16> parsePort(const QString& text)
{
    QRegExp rx(portPattern());
    if (!rx.exactMatch(text))
        return std::nullopt;
    return quint16(text.toUInt());
}

namespace {

const QString fastKey = QStringLiteral("scan/fping");

// ~/.config/zarvin/zarvin-subnets.conf (XDG_CONFIG_HOME): the user's, unlike the data directory's.
QSettings userSettings()
{
    return QSettings(QStringLiteral("zarvin"), QStringLiteral("zarvin-subnets"));
}

QString portError(const QString& text)
{
    if (text.isEmpty())
        return QStringLiteral("Не указан порт для сканирования по TCP: введите число от 1 до 65535");
    return QStringLiteral("Неверный порт \"") + text + QStringLiteral("\": введите число от 1 до 65535");
}

} // namespace

Result<Plan> plan(const QString& subnet, const ScanRequest& request)
{
    const bool tcp = request.method == scanRequest::tcp();
    if (!tcp && request.method != scanRequest::icmp())
        return Status::failure(QStringLiteral("Неизвестный способ сканирования: ") + request.method);
    // A bare address would read as a /32; the window subnet must be written as a network.
    const auto network = subnet.contains(QLatin1Char('/')) ? net::parseNetwork(subnet) : std::nullopt;
    if (!network)
        return Status::failure(QStringLiteral("Подсеть ") + subnet
            + QStringLiteral(" не является сетью IPv4 в записи CIDR: сканирование невозможно"));
    Plan result;
    result.tcp = tcp;
    result.fast = !tcp && request.fast;
    result.hosts = net::hostRange(*network);
    if (tcp) {
        const auto port = parsePort(request.port);
        if (!port)
            return Status::failure(portError(request.port));
        result.port = *port;
    }
    return result;
}

QString methodOf(const Plan& plan)
{
    return plan.tcp ? tcp() : plan.fast ? icmpByFping() : icmp();
}

bool fastChosen()
{
    return userSettings().value(fastKey, false).toBool();
}

void rememberFast(bool fast)
{
    userSettings().setValue(fastKey, fast);
}

} // namespace scanRequest
