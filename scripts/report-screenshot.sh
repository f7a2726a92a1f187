#!/usr/bin/env bash
# The picture of "Alarmes > Rapport" in docs/screenshots/alarm-report.png: a week of a made-up
# journal (a flood, a standing alarm, a chattering one, acknowledgements), under a virtual X
# display. Nothing of the machine appears: the journal lives in a temporary folder.
#
#   scripts/report-screenshot.sh [BUILD_DIR]        (default: build/)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
cmake --build "$build" --target merival-report-screenshot
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
TZ=Europe/Paris /usr/bin/python3 - "$work/historique.sqlite" <<'PY'
import random, sqlite3, sys, time
from datetime import datetime
db = sqlite3.connect(sys.argv[1])
db.execute("PRAGMA application_id = 1296388694")  # MERIVAL's
db.execute("CREATE TABLE journal_alarmes(id INTEGER PRIMARY KEY, t_ms INTEGER NOT NULL, "
           "voie INTEGER NOT NULL, repere TEXT NOT NULL, texte TEXT NOT NULL, "
           "evenement TEXT NOT NULL)")
tags = ["Entrée", "Bassin", "Sortie", "Rejet"]
rows = []
def add(t, channel, event, text=""):
    rows.append((int(t * 1000), channel, tags[channel], text, event))
start = time.mktime(datetime(2026, 3, 2).timetuple())
random.seed(4)
t = start
while t < start + 7 * 86400:               # ordinary alarms, acknowledged within minutes
    channel = random.randrange(3)
    add(t, channel, random.choice(["Seuil haut", "Seuil bas"]), "7,9 pH")
    add(t + random.randrange(30, 900), channel, "Acquittement")
    add(t + random.randrange(900, 3600), channel, "Retour à la normale")
    t += random.randrange(1800, 14400)
flood = start + 2 * 86400 + 14 * 3600       # a line stop: every channel, 25 minutes
for i in range(46):
    add(flood + i * 30, i % 3, "Perte de communication", "HS")
add(flood + 1800, 0, "Acquittement")
for i in range(5):                          # a chattering limit on the outlet
    add(start + 4 * 86400 + 3600 + i * 12, 2, "Seuil haut", "8,6 pH")
    add(start + 4 * 86400 + 3600 + i * 12 + 6, 2, "Retour à la normale", "8,4 pH")
add(start + 86400 + 7200, 3, "Seuil bas", "0,2 mg/l")   # standing on the discharge
add(start + 86400 + 9000, 3, "Acquittement")
rows.sort()
db.executemany("INSERT INTO journal_alarmes(t_ms, voie, repere, texte, evenement) "
               "VALUES(?, ?, ?, ?, ?)", rows)
db.commit()
PY
TZ=Europe/Paris xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$build/tools/history/merival-report-screenshot" "$work/historique.sqlite" \
    "$root/docs/screenshots/alarm-report.png" "2026-03-02 00:00" "2026-03-09 00:00"
echo "docs/screenshots/alarm-report.png"
