#include "hosts/scan/fpingSweep.h"

#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <vector>

namespace {

constexpr int keptErrorBytes = 4096; // of fping's standard error, for the failure's text

} // namespace

struct FpingSweep::Impl {
    enum State : quint8 { Pending, Alive, Silent };

    explicit Impl(FpingSweep* owner)
        : q(owner)
    { }
    ~Impl() { stopProcess(); }

    void startBatch();
    void finishLater();
    void readLines();
    void take(const QByteArray& line);
    void reportInOrder();
    void batchEnded(int exitCode, QProcess::ExitStatus status);
    void fail(const QString& why, int code);
    void finish();
    void stopProcess();
    void setFailure(const QString& why, int code);

    FpingSweep* q;
    QString program;
    net::HostRange range;
    quint64 batchLimit = defaultBatch;
    quint64 batchFirst = 0; // index in `range` of the running batch's first address
    std::vector<State> states; // of the running batch
    quint64 cursor = 0; // first address of the batch not yet reported
    QProcess* process = nullptr;
    QByteArray partial; // a line fping has not ended yet
    QByteArray errors;
    quint64 answered = 0, silent = 0, unsettled = 0;
    std::optional<QString> failure;
    int failureCode = 0;
    quint32 generation = 0; // tells a stopped sweep's queued calls from the next one's
};

QString FpingSweep::locate()
{
    return QStandardPaths::findExecutable(QStringLiteral("fping"));
}

QStringList FpingSweep::arguments(net::Address first, net::Address last)
{
    return { QStringLiteral("-i"), QStringLiteral("1"), QStringLiteral("-t"), QStringLiteral("500"),
        QStringLiteral("-r"), QStringLiteral("1"), QStringLiteral("-g"), net::toText(first), net::toText(last) };
}

FpingSweep::FpingSweep(QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Impl>(this))
{ }

FpingSweep::~FpingSweep() = default;

void FpingSweep::setBatchLimit(quint64 addresses)
{
    d->batchLimit = qMax<quint64>(1, addresses);
}

void FpingSweep::start(const net::HostRange& hosts)
{
    abort();
    d->range = hosts;
    d->batchFirst = 0;
    d->answered = d->silent = d->unsettled = 0;
    d->failure.reset();
    d->failureCode = 0;
    d->errors.clear();
    if (hosts.count == 0) {
        d->finishLater();
        return;
    }
    d->program = locate();
    if (d->program.isEmpty()) {
        d->setFailure(QStringLiteral("программа fping не найдена: установите пакет fping"), -ENOENT);
        d->finishLater();
        return;
    }
    d->startBatch();
}

void FpingSweep::abort()
{
    ++d->generation;
    d->stopProcess();
}

quint64 FpingSweep::answeredCount() const
{
    return d->answered;
}

quint64 FpingSweep::silentCount() const
{
    return d->silent;
}

quint64 FpingSweep::unsettledCount() const
{
    return d->unsettled;
}

const std::optional<QString>& FpingSweep::failure() const
{
    return d->failure;
}

int FpingSweep::failureCode() const
{
    return d->failureCode;
}

void FpingSweep::Impl::startBatch()
{
    const quint64 count = qMin(batchLimit, range.count - batchFirst);
    states.assign(count, Pending);
    cursor = 0;
    partial.clear();
    errors.clear();
    process = new QProcess(q);
    process->setProgram(program);
    process->setArguments(arguments(range.at(batchFirst), range.at(batchFirst + count - 1)));
    process->setStandardInputFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::readyReadStandardOutput, q, [this] { readLines(); });
    QObject::connect(process, &QProcess::readyReadStandardError, q, [this] {
        const QByteArray more = process->readAllStandardError();
        errors += more.left(keptErrorBytes - errors.size());
    });
    QObject::connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), q,
        [this](int exitCode, QProcess::ExitStatus status) { batchEnded(exitCode, status); });
    QObject::connect(process, &QProcess::errorOccurred, q, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            fail(QStringLiteral("программу fping не удалось запустить (") + process->errorString() + QLatin1Char(')'),
                -EACCES);
    });
    process->start();
}

void FpingSweep::Impl::finishLater()
{
    QMetaObject::invokeMethod(
        q,
        [this, gen = generation] {
            if (gen == generation)
                emit q->finished();
        },
        Qt::QueuedConnection);
}

void FpingSweep::Impl::readLines()
{
    partial += process->readAllStandardOutput();
    int from = 0;
    const quint32 gen = generation;
    for (int end; (end = partial.indexOf('\n', from)) >= 0 && gen == generation; from = end + 1)
        take(partial.mid(from, end - from));
    if (gen == generation)
        partial.remove(0, from);
}

// "ADDRESS is alive" or "ADDRESS is unreachable"; anything else, and an address outside the
// batch or told twice, is not a verdict.
void FpingSweep::Impl::take(const QByteArray& line)
{
    const QList<QByteArray> words = line.simplified().split(' ');
    if (words.size() < 3 || words[1] != "is" || (words[2] != "alive" && words[2] != "unreachable"))
        return;
    const std::optional<net::Address> address = net::parseAddress(QString::fromLatin1(words[0]));
    // Below the batch the difference wraps round to far above it.
    const quint64 index = address ? quint64(*address) - quint64(range.at(batchFirst)) : states.size();
    if (index >= states.size() || states[index] != Pending)
        return;
    states[index] = words[2] == "alive" ? Alive : Silent;
    reportInOrder();
}

void FpingSweep::Impl::reportInOrder()
{
    const quint32 gen = generation;
    while (cursor < states.size() && states[cursor] != Pending && gen == generation) {
        const net::Address address = range.at(batchFirst + cursor);
        const bool alive = states[cursor++] == Alive;
        alive ? ++answered : ++silent;
        if (alive)
            emit q->answered(address);
        if (gen == generation)
            emit q->settled(address);
    }
}

// fping ends with 0 when every target answered and 1 when some did not; it also ends with 1 on
// a bad option, so a batch counts only when every address of it was told.
void FpingSweep::Impl::batchEnded(int exitCode, QProcess::ExitStatus status)
{
    const quint32 gen = generation;
    readLines();
    if (gen != generation)
        return;
    if (!partial.isEmpty())
        take(std::exchange(partial, QByteArray()));
    if (gen != generation)
        return;
    if (status != QProcess::NormalExit)
        return fail(QStringLiteral("программа fping завершилась аварийно"), 128);
    if (exitCode != 0 && exitCode != 1)
        return fail(QStringLiteral("программа fping завершилась с кодом ") + QString::number(exitCode), exitCode);
    if (cursor < states.size())
        return fail(QStringLiteral("программа fping не сообщила о %1 адресах").arg(states.size() - cursor), exitCode);
    batchFirst += states.size();
    stopProcess();
    if (batchFirst < range.count)
        startBatch();
    else
        finish();
}

void FpingSweep::Impl::fail(const QString& why, int code)
{
    setFailure(why, code);
    ++generation;
    stopProcess();
    finishLater();
}

// fping's own first line of complaint, when it wrote one, follows the reason.
void FpingSweep::Impl::setFailure(const QString& why, int code)
{
    if (process)
        errors += process->readAllStandardError().left(keptErrorBytes - errors.size());
    const QString line = QString::fromLocal8Bit(errors).trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
    failure = why + QLatin1Char('.') + (line.isEmpty() ? QString() : QLatin1Char('\n') + line);
    failureCode = code;
    unsettled = range.count - answered - silent;
}

void FpingSweep::Impl::finish()
{
    emit q->finished();
}

void FpingSweep::Impl::stopProcess()
{
    if (!process)
        return;
    QObject::disconnect(process, nullptr, q, nullptr);
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(3000);
    }
    process->deleteLater();
    process = nullptr;
}
