"""The web view in real headless chromium against merival-sim and merival-poll --web: the live
page shows merival-poll's value texts for the same passes and follows by itself, the curves
draw, and on another address a login, an operator's acknowledgement and its refusal for a
reader and for another origin.

    browser_test.py BUILD_DIR [SCREENSHOT_DIR [TEST...]]"""

import http.server
import json
import os
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import cdp  # noqa: E402
from line import Line, free_port  # noqa: E402

BUILD = None
SHOTS = None

ROWS = """(() => {
  const v = document.getElementById('voies');
  return { passe: Number(v.dataset.passe), rows: [...v.children].map((r) => ({
    voie: Number(r.dataset.voie),
    repere: r.querySelector('.repere').textContent,
    etat: r.querySelector('.etat').textContent,
    valeur: r.querySelector('.valeur').textContent,
    classes: r.querySelector('.valeur').className,
    fond: getComputedStyle(r.querySelector('.valeur')).backgroundColor,
    animation: getComputedStyle(r.querySelector('.valeur')).animationName })) };
})()"""


class WebBrowserTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # pH is near 5.5 with this seed: channel 1 is in alarm from its first pass.
        cls.line = Line(BUILD, "[Alarmes]\nVoie1\\SeuilHaut=3\n")
        cls.browser = cdp.Browser()

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        cls.line.close()

    def tearDown(self):
        self.line.stop_poll()

    def same_as_poll(self, shown):
        printed = self.line.value_lines(shown["passe"])
        self.assertEqual(sorted(printed), [r["voie"] for r in shown["rows"]])
        for row in shown["rows"]:
            self.assertEqual(row["valeur"].split("\n"), printed[row["voie"]],
                             f"voie {row['voie']}, passe {shown['passe']}")

    def test_1_live_page_and_curves_on_loopback(self):
        line = self.line
        line.start_poll("--alarms", "--record")
        page = self.browser.page(line.url + "/", 1280, 720)
        page.wait("document.getElementById('liaison').textContent === 'Liaison directe établie'")
        page.eval("window.marque = 'même page'")
        first = page.eval(ROWS)
        self.assertGreaterEqual(first["passe"], 1)
        self.assertEqual(len(first["rows"]), 4)
        self.same_as_poll(first)
        # Later passes arrive without a reload.
        later = page.wait(f"document.getElementById('voies').dataset.passe >= {first['passe'] + 2}"
                          f" && {ROWS}")
        self.assertEqual(page.eval("window.marque"), "même page")
        self.same_as_poll(later)
        self.assertTrue(all(r["etat"] == "OK" for r in later["rows"]))
        rows = {r["voie"]: r for r in later["rows"]}
        self.assertTrue(rows[1]["repere"].endswith("pH bassin"))
        # The measurement window's colours: yellow on blue, and the alarm blinking in dark red.
        self.assertEqual(rows[0]["fond"], "rgb(0, 0, 192)")
        self.assertIn("active", rows[1]["classes"].split())
        self.assertEqual(rows[1]["animation"], "clignote-active")
        colours = set()
        for _ in range(12):
            colours.add(page.eval("getComputedStyle(document.querySelector("
                                  "'[data-voie=\"1\"] .valeur')).backgroundColor"))
            time.sleep(0.1)
        self.assertEqual(colours, {"rgb(176, 0, 0)", "rgb(0, 0, 192)"})
        if SHOTS:
            time.sleep(0.3)
            page.screenshot(os.path.join(SHOTS, "web-live.png"))

        time.sleep(3)  # a few seconds of history to draw
        page.go(line.url + "/courbes")
        series = page.wait("Number(document.getElementById('courbes').dataset.series)")
        self.assertGreaterEqual(series, 4)
        inked = page.wait("""(() => {
          let n = 0;
          for (const c of document.querySelectorAll('.graphe canvas')) {
            const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
            for (let i = 0; i < d.length; i += 4) if (d[i] === 0 && d[i + 1] === 0 && d[i + 2] === 128 && d[i + 3] > 0) n++;
          }
          return n > 50 && n;
        })()""")
        self.assertGreater(inked, 50)
        head, csv = page.eval("fetch(document.getElementById('csv').href).then((r) => r.arrayBuffer())"
                              ".then((b) => [[...new Uint8Array(b, 0, 3)], new TextDecoder().decode(b)])")
        rows = csv.strip().split("\r\n")
        self.assertEqual(head, [0xEF, 0xBB, 0xBF])
        self.assertGreater(len(rows), 4)
        self.assertIn("pH bassin", csv)
        if SHOTS:
            # A minute and a half of curves, shown as an operator would choose it.
            time.sleep(90)
            page.eval("""(() => {
              const local = (ms) => new Date(ms - new Date(ms).getTimezoneOffset() * 60000).toISOString().slice(0, 16);
              document.getElementById('de').value = local(Date.now() - 120000);
              document.getElementById('a').value = local(Date.now() + 60000);
              document.getElementById('afficher').click();
            })()""")
            time.sleep(1.5)
            page.screenshot(os.path.join(SHOTS, "web-curves.png"))

    def test_2_login_acknowledgement_and_refusals(self):
        line = self.line
        for name, role, password in (("lea", "lecture", "lecture-seule"),
                                     ("oscar", "operateur", "operateur-1")):
            done = line.tool("--web-user", name, "--role", role, stdin=password.encode() + b"\n")
            self.assertEqual(done.returncode, 0, done.stderr.decode())
        line.write_ini("Adresse=127.0.0.2\n[Alarmes]\nVoie1\\SeuilHaut=3\n")
        line.start_poll("--alarms", address="127.0.0.2")
        page = self.browser.page(line.url + "/")
        page.wait("location.pathname === '/connexion' && document.readyState === 'complete'")

        def login(name, password):
            page.eval(f"""document.getElementById('nom').value = {json.dumps(name)};
                          document.getElementById('motdepasse').value = {json.dumps(password)};
                          document.getElementById('entrer').click()""")

        login("lea", "faux")
        self.assertEqual(page.wait("document.getElementById('message').textContent"),
                         "Nom ou mot de passe incorrect.")
        time.sleep(1.1)
        login("lea", "lecture-seule")
        page.wait("location.pathname === '/' && document.readyState === 'complete'")
        page.wait("document.querySelectorAll('#voies .voie').length === 4")
        page.go(line.url + "/journal")
        page.wait("document.querySelector('header .qui').textContent.startsWith('lea (lecture)')")
        self.assertTrue(page.eval("document.getElementById('acquitter').hidden"))
        refused = page.eval("Merival.poster('/api/acquitter').then(async (r) => [r.status, (await r.json()).erreur])")
        self.assertEqual(refused, [403, "Acquittement réservé au rôle « operateur »."])
        page.eval("document.querySelector('header .qui button').click()")
        page.wait("location.pathname === '/connexion' && document.readyState === 'complete'")

        login("oscar", "operateur-1")
        page.wait("location.pathname === '/' && document.readyState === 'complete'")
        page.wait("document.querySelector('[data-voie=\"1\"] .valeur') !== null && "
                  "document.querySelector('[data-voie=\"1\"] .valeur').classList.contains('active')")

        # A page of another site, in the same browser, tries to acknowledge.
        class Attacker(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                body = (f'<form method="POST" action="{line.url}/api/acquitter">'
                        '<input name="x" value="1"></form>'
                        '<script>document.forms[0].submit()</script>').encode()
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        attacker = http.server.ThreadingHTTPServer(("127.0.0.1", free_port()), Attacker)
        threading.Thread(target=attacker.serve_forever, daemon=True).start()
        other = self.browser.page(f"http://127.0.0.1:{attacker.server_address[1]}/")
        answer = other.wait("location.href.endsWith('/api/acquitter') && document.body.innerText")
        attacker.shutdown()
        attacker.server_close()
        self.assertIn("Requête d'une autre origine refusée.", answer)
        passe = page.eval("fetch('/api/passe').then((r) => r.json())")
        self.assertEqual([v["alarme"] for v in passe["voies"] if v["voie"] == 1], ["active"])

        page.go(line.url + "/journal")
        page.wait("!document.getElementById('acquitter').hidden")
        page.eval("document.getElementById('acquitter').click()")
        self.assertEqual(page.wait("document.getElementById('sortie').textContent"),
                         "Alarmes acquittées.")
        passe = page.eval("fetch('/api/passe').then((r) => r.json())")
        self.assertIn([v["alarme"] for v in passe["voies"] if v["voie"] == 1],
                      [["acquittee"], ["normale"]])
        journal = page.wait("""(async () => {
          document.getElementById('actualiser').click();
          await new Promise((r) => setTimeout(r, 300));
          const rows = [...document.querySelectorAll('#journal tbody tr')].map(
            (tr) => [...tr.children].map((td) => td.textContent));
          return rows.some((r) => r[5] === 'Acquittement web') && rows.some((r) => r[5] === 'Acquittement') && rows;
        })()""")
        events = {(r[2], r[3], r[5]) for r in journal}
        self.assertIn(("", "oscar", "Acquittement web"), events)
        self.assertIn(("", "oscar", "Connexion web"), events)
        self.assertIn(("", "lea", "Connexion web"), events)
        self.assertIn(("", "lea", "Échec de connexion web"), events)
        self.assertIn(("1", "pH bassin", "Acquittement"), events)
        self.assertEqual(sum(1 for r in journal if r[5] == "Acquittement web"), 1)


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv[1])
    SHOTS = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
    if not os.access(cdp.CHROMIUM, os.X_OK):
        print("chromium is missing (scripts/deps.sh installs it)")
        sys.exit(77)
    unittest.main(argv=[sys.argv[0], "-v", *sys.argv[3:]])
