// Figures for the host table: loading a /16 list and saving a /24, as a user does it.
#include "bench/benchSupport.h"
#include "db/DB.h"
#include "hosts/hostItemModel.h"
#include "hosts/hostModel.h"
#include "hosts/hostTable.h"
#include "hosts/hostsWindow.h"
#include "net/ipv4.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

QElapsedTimer clock_;
qint64 answeredAt = 0;

double seconds(qint64 ns)
{
    return double(ns) / 1e9;
}

// Presses OK on every message box as soon as it shows and notes when.
void answerBoxes(QTimer& timer)
{
    QObject::connect(&timer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            answeredAt = clock_.nsecsElapsed();
            box->button(QMessageBox::Ok)->click();
        }
    });
    timer.start(1);
}

QVector<QVariantList> hostRows(const net::Network& network)
{
    const net::HostRange range = net::hostRange(network);
    QVector<QVariantList> rows;
    rows.reserve(int(range.count));
    for (quint64 i = 0; i < range.count; ++i)
        rows << QVariantList { net::toText(range.at(i)), QStringLiteral("host %1").arg(i) };
    return rows;
}

void seed(const QString& subnet, const QVector<QVariantList>& rows)
{
    DB db;
    must(db.writeTransaction([&] {
        Status done;
        for (int i = 0; i < rows.size() && done.ok(); ++i)
            done = hostTable::insertHost(db, subnet, rows[i][0].toString(), rows[i][1].toString());
        return done;
    }));
}

void settle()
{
    QApplication::processEvents();
    QApplication::processEvents();
}

QTableView* tableOf(QWidget* window)
{
    return window->findChild<QTableView*>(QStringLiteral("tableView"));
}

// The same rows put into a model that a shown view already displays, one by one.
double appendToShownModel(const QVector<QVariantList>& rows)
{
    QTableView view;
    view.resize(800, 600);
    auto* model = hostModel::newModel(&view);
    view.setModel(model);
    view.horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    view.show();
    settle();
    clock_.restart();
    hostModel::fill(*model, rows);
    settle();
    return seconds(clock_.nsecsElapsed());
}

double load(const QString& subnet, int expectedRows)
{
    hostsWindow window(subnet);
    window.show();
    settle();
    clock_.restart();
    window.findChild<QPushButton*>(QStringLiteral("pbLoad"))->click();
    settle();
    const double s = seconds(clock_.nsecsElapsed());
    if (tableOf(&window)->model()->rowCount() != expectedRows)
        std::printf("hosts: LOAD GAVE %d ROWS, expected %d\n", tableOf(&window)->model()->rowCount(), expectedRows);
    return s;
}

// Seconds from the save notice being answered to the last row written.
double save(hostsWindow& window)
{
    QTimer answerer;
    answerBoxes(answerer);
    clock_.restart();
    window.findChild<QPushButton*>(QStringLiteral("pbSave"))->click();
    return seconds(clock_.nsecsElapsed() - answeredAt);
}

double saveWithoutWindow(const QString& subnet, const QVector<QVariantList>& rows)
{
    DB db;
    must(DB {}.run(QStringLiteral("INSERT INTO subnets (subnet, name) VALUES (?, ?)"), { subnet, subnet }));
    QVector<hostTable::SavedRow> saved;
    for (const QVariantList& row : rows)
        saved << hostTable::SavedRow { row[0].toString(), row[1].toString(), true };
    clock_.restart();
    const Status done = hostTable::saveRows(db, subnet, saved);
    const double s = seconds(clock_.nsecsElapsed());
    if (!done.ok())
        std::printf("hosts: SAVE FAILED: %s\n", qPrintable(done.errorText));
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("ZARVIN_SUBNETS_DIR", dir.path().toUtf8());
    clock_.start();
    {
        // Hosts go only under tree rows: one organisation with the three subnets as its branches.
        DB db;
        must(db.run(QStringLiteral("INSERT INTO subnets (id, subnet, name) VALUES (1, '10.0.0.0/8', 'Организация')")));
        for (const char* branch : { "10.1.0.0/16", "10.2.0.0/24", "10.3.0.0/24" })
            must(db.run(
                QStringLiteral(
                    "INSERT INTO subnets (subnet, name, parent_id, parent_subnet) VALUES (?, ?, 1, '10.0.0.0/8')"),
                { QString::fromLatin1(branch), QString::fromLatin1(branch) }));
    }

    const QString big = QStringLiteral("10.1.0.0/16");
    const QVector<QVariantList> bigRows = hostRows(*net::parseNetwork(big));
    seed(big, bigRows);
    const double loaded = load(big, bigRows.size());
    const double shown = appendToShownModel(bigRows);
    std::printf("hosts: load %d stored hosts of a /16 into the table: %.3f s (goal < 1 s)\n", bigRows.size(), loaded);
    std::printf("hosts:   the same rows appended one by one to a model already shown: %.3f s (%.0fx the load)\n", shown,
        shown / loaded);

    const QString lan = QStringLiteral("10.2.0.0/24");
    const QVector<QVariantList> lanRows = hostRows(*net::parseNetwork(lan));
    {
        hostsWindow window(lan);
        auto* model = qobject_cast<QStandardItemModel*>(tableOf(&window)->model());
        for (const QVariantList& row : lanRows) {
            auto* note = new QStandardItem(row[1].toString());
            note->setData(true, hostModel::noteWrittenRole); // as if typed: the second save updates
            model->appendRow({ new QStandardItem(row[0].toString()), note });
        }
        window.show();
        settle();
        const double inserted = save(window);
        // Every note edited, as typed: the second save updates each stored row.
        for (int row = 0; row < model->rowCount(); ++row)
            model->setData(model->index(row, 1), QStringLiteral("edited %1").arg(row));
        const double updated = save(window);
        std::printf("hosts: save %d new rows: %.3f s (goal <= 0.05 s)\n", lanRows.size(), inserted);
        std::printf("hosts: save the same %d rows again, every note edited: %.3f s\n", lanRows.size(), updated);
        if (DB {}
                .run(QStringLiteral("SELECT 1 FROM hosts WHERE subnet = ? AND note LIKE 'edited %'"), { lan })
                .rows.size()
            != lanRows.size())
            std::printf("hosts: THE SECOND SAVE DID NOT UPDATE EVERY NOTE\n");
    }
    const QString other = QStringLiteral("10.3.0.0/24");
    const double batched = saveWithoutWindow(other, hostRows(*net::parseNetwork(other)));
    std::printf("hosts:   reference, the same save without the window: %.3f s\n", batched);
    return 0;
}
