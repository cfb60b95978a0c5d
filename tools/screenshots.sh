#!/usr/bin/env bash
# Makes the README's screenshots reproducibly: a demo database built with sqlite3, the main
# window and a hosts window rendered under Xvfb, written as small palette PNGs to docs/.
# Needs sqlite3, xvfb, xauth and ImageMagick (convert). BUILD_DIR chooses the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-tools}
cmake -S . -B "$build" -DZARVIN_BUILD_TOOLS=ON > /dev/null
cmake --build "$build" -j2 --target zarvin-screenshots > /dev/null

data=$(mktemp -d)
shots=$(mktemp -d)
trap 'rm -rf "$data" "$shots"' EXIT
sqlite3 "$data/subnets.db" <<'SQL'
CREATE TABLE IF NOT EXISTS subnets (id integer primary key, subnet text UNIQUE, parent_id int, parent_subnet text, name text);
CREATE TABLE IF NOT EXISTS hosts (id integer primary key, subnet text, host text UNIQUE, note text);
INSERT INTO subnets (subnet, parent_id, parent_subnet, name) VALUES ('10.0.0.0/8', NULL, NULL, 'ООО «Северный ветер»');
INSERT INTO subnets (name, subnet, parent_id, parent_subnet) VALUES
    ('Москва, головной офис', '10.1.0.0/16', 1, '10.0.0.0/8'),
    ('Санкт-Петербург', '10.2.0.0/16', 1, '10.0.0.0/8'),
    ('Казань', '10.3.0.0/16', 1, '10.0.0.0/8');
INSERT INTO subnets (name, subnet, parent_id, parent_subnet) VALUES
    ('Бухгалтерия', '10.1.10.0/24', 2, '10.1.0.0/16'),
    ('Серверная', '10.1.20.0/24', 2, '10.1.0.0/16'),
    ('Склад', '10.2.5.0/24', 3, '10.2.0.0/16');
INSERT INTO hosts (subnet, host, note) VALUES
    ('10.1.20.0/24', '10.1.20.1', 'шлюз, Cisco ISR 4331'),
    ('10.1.20.0/24', '10.1.20.10', 'контроллер домена dc1'),
    ('10.1.20.0/24', '10.1.20.11', 'контроллер домена dc2'),
    ('10.1.20.0/24', '10.1.20.25', 'почтовый сервер'),
    ('10.1.20.0/24', '10.1.20.40', '1С, сервер приложений'),
    ('10.1.20.0/24', '10.1.20.200', 'ИБП APC, веб-интерфейс');
SQL

ZARVIN_SUBNETS_DIR=$data xvfb-run -a -s "-screen 0 1280x900x24" "$build/zarvin-screenshots" "$shots" 10.1.20.0/24
for name in main-window hosts-window; do
    convert "$shots/$name.png" -strip -colors 64 "PNG8:docs/$name.png"
done
ls -l docs/*.png
