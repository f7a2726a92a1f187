"""/metrics of merival-poll --web against merival-sim, read by the Prometheus client's own
text-format parser: every family parses, the numbers are those of the same pass's readings,
and scraping adds no exchange on the line.

    metrics_test.py BUILD_DIR"""

import json
import os
import sys
import time
import unittest
import urllib.request

from prometheus_client.parser import text_string_to_metric_families

sys.path.insert(0, os.path.dirname(__file__))
from line import Line  # noqa: E402

BUILD = None


def get(url):
    with urllib.request.urlopen(url, timeout=5) as r:
        return r.headers.get("Content-Type"), r.read().decode("utf-8")


class MetricsTest(unittest.TestCase):
    def test_metrics_parse_and_match_the_readings(self):
        line = Line(BUILD, "[Alarmes]\nVoie1\\SeuilHaut=3\n")
        try:
            line.start_poll("--alarms", "--record", "--interval", "1500")
            time.sleep(2)
            # The readings and the metrics of one pass: retried until no pass ends between.
            for _ in range(20):
                before = json.loads(get(line.url + "/api/passe")[1])
                kind, text = get(line.url + "/metrics")
                after = json.loads(get(line.url + "/api/passe")[1])
                if before["passe"] == after["passe"]:
                    break
            self.assertEqual(kind, "text/plain; version=0.0.4; charset=utf-8")
            families = {f.name: f for f in text_string_to_metric_families(text)}
            types = {name: f.type for name, f in families.items()}
            self.assertEqual(types["merival_valeur"], "gauge")
            self.assertEqual(types["merival_etat"], "gauge")
            self.assertEqual(types["merival_alarme"], "gauge")
            self.assertEqual(types["merival_temps_reponse_secondes"], "gauge")
            self.assertEqual(types["merival_requetes"], "counter")
            self.assertEqual(types["merival_historique_passes_perdues"], "counter")

            values = {(s.labels["voie"], s.labels["grandeur"], s.labels["unite"]): s.value
                      for s in families["merival_valeur"].samples}
            expected = {(str(v["voie"]), n["nom"], n["unite"]): n["valeur"]
                        for v in before["voies"] for n in v["valeurs"]}
            self.assertEqual(values, expected)
            self.assertIn(("2", "Résistivité", "MOhm"), values)
            tags = {s.labels["voie"]: s.labels["repere"] for s in families["merival_etat"].samples}
            self.assertEqual(tags["0"], "Débit entrée")
            self.assertEqual({s.labels["voie"]: s.value for s in families["merival_alarme"].samples},
                             {"0": 0, "1": 1, "2": 0, "3": 0})
            self.assertEqual(families["merival_passes"].samples[0].value, before["passe"])

            def requests():
                fams = {f.name: f for f in text_string_to_metric_families(get(line.url + "/metrics")[1])}
                passes = fams["merival_passes"].samples[0].value
                return passes, sum(s.value for s in fams["merival_requetes"].samples)

            # Within one pass interval, fifty scrapes leave the line's counters as they were.
            passes, asked = requests()
            for _ in range(50):
                now_passes, now_asked = requests()
                if now_passes != passes:
                    break
                self.assertEqual(now_asked, asked)
            self.assertGreaterEqual(asked, 4 * passes)
            self.assertLessEqual(asked, 4 * (passes + 1))
        finally:
            line.close()


if __name__ == "__main__":
    BUILD = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0], "-v"])
