// Renders the main window and one hosts window on the database of ZARVIN_SUBNETS_DIR into PNG
// files for the README. Run by tools/screenshots.sh, which makes the demo database.
#include "hosts/hostsWindow.h"
#include "tree/ZarvinWindow.h"

#include <QApplication>
#include <QPushButton>
#include <QTreeView>

#include <cstdio>

namespace {

bool save(QWidget& window, const QString& file)
{
    QApplication::processEvents();
    const bool ok = window.grab().save(file);
    if (!ok)
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: zarvin-screenshots <output directory> <subnet of the hosts window>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString subnet = QString::fromLocal8Bit(argv[2]);

    ZarvinWindow main;
    main.resize(1040, 520);
    main.show();
    if (auto* tree = main.findChild<QTreeView*>(QStringLiteral("tree"))) {
        tree->expandAll();
        const QModelIndexList rows = tree->model()->match(tree->model()->index(0, 0), Qt::DisplayRole,
            QStringLiteral("Серверная"), 1, Qt::MatchExactly | Qt::MatchRecursive);
        if (!rows.isEmpty())
            tree->setCurrentIndex(rows.first());
    }

    hostsWindow hosts(subnet);
    hosts.setWindowTitle(QStringLiteral("Учет хостов для подсети ") + subnet);
    hosts.resize(800, 520);
    hosts.show();
    if (auto* load = hosts.findChild<QPushButton*>(QStringLiteral("pbLoad")))
        load->click();

    return save(main, out + QStringLiteral("/main-window.png"))
            && save(hosts, out + QStringLiteral("/hosts-window.png"))
        ? 0
        : 1;
}
