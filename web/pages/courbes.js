'use strict';
// The history's curves, one chart per recorded number, from the trend window's min/max queries.
(async () => {
  const zone = document.getElementById('courbes');
  const message = document.getElementById('message');
  const csv = document.getElementById('csv');
  const choix = document.getElementById('choix-voies');
  const deInput = document.getElementById('de');
  const aInput = document.getElementById('a');
  let periode = null;
  let graphes = [];

  const local = (ms) => {
    const d = new Date(ms - new Date(ms).getTimezoneOffset() * 60000);
    return d.toISOString().slice(0, 16);
  };
  // French labels: seconds within a quarter of an hour, the hour within a day and a half,
  // else the day as well.
  const etiquetteHeure = (d) => {
    const duree = periode.a - periode.de;
    const heure = d.toLocaleTimeString('fr-FR', duree <= 15 * 60000
      ? { hour: '2-digit', minute: '2-digit', second: '2-digit' }
      : { hour: '2-digit', minute: '2-digit' });
    return duree > 36 * 3600000
      ? d.toLocaleDateString('fr-FR', { day: '2-digit', month: '2-digit' }) + ' ' + heure : heure;
  };
  const voiesChoisies = () =>
    [...choix.querySelectorAll('input:checked')].map((c) => c.value);

  const dessiner = async () => {
    if (!periode) return;
    message.textContent = '';
    const voies = voiesChoisies();
    const colonnes = Math.max(200, Math.min(2000, Math.round(zone.clientWidth || 1000)));
    const query = `de=${periode.de}&a=${periode.a}&voies=${voies.join(',')}&colonnes=${colonnes}`;
    csv.href = `/api/historique.csv?de=${periode.de}&a=${periode.a}` +
      (voies.length === 1 ? `&voie=${voies[0]}` : '');
    let donnees;
    try {
      donnees = await Merival.lire('/api/historique?' + query);
    } catch (e) {
      message.textContent = e.message;
      return;
    }
    for (const g of graphes) g.destroy();
    graphes = [];
    zone.replaceChildren();
    if (donnees.series.length === 0) message.textContent = 'Aucune valeur enregistrée sur la période.';
    for (const s of donnees.series) {
      const lignes = [];
      for (const segment of s.segments) {
        if (lignes.length > 0 && segment.length > 0) lignes.push([new Date(segment[0][0] - 1), null]);
        for (const [t, y] of segment) lignes.push([new Date(t), y]);
      }
      const bloc = document.createElement('div');
      bloc.className = 'courbe';
      const titre = document.createElement('h3');
      titre.textContent = `Voie ${s.voie} ${s.repere} - ${s.nom}` + (s.unite ? ` (${s.unite})` : '');
      const graphe = document.createElement('div');
      graphe.className = 'graphe';
      bloc.append(titre, graphe);
      zone.appendChild(bloc);
      if (lignes.length === 0) continue;
      graphes.push(new Dygraph(graphe, lignes, {
        labels: ['Heure', s.nom],
        ylabel: s.unite,
        dateWindow: [periode.de, periode.a],
        connectSeparatedPoints: false,
        drawGapEdgePoints: true,
        legend: 'follow',
        strokeWidth: 1.2,
        colors: ['#000080'],
        axes: {
          y: { axisLabelWidth: 80 },
          x: { axisLabelWidth: 80, axisLabelFormatter: etiquetteHeure, valueFormatter: (ms) => new Date(ms).toLocaleString('fr-FR') },
        },
      }));
    }
    zone.dataset.series = donnees.series.length;
  };

  const choisir = (heures) => {
    const a = Date.now();
    periode = { de: a - heures * 3600000, a: a };
    deInput.value = local(periode.de);
    aInput.value = local(periode.a);
    for (const b of document.querySelectorAll('#periodes button')) {
      b.classList.toggle('choisi', Number(b.dataset.heures) === heures);
    }
    dessiner();
  };

  await Merival.demarrer('/courbes');
  const passe = await Merival.lire('/api/passe');
  const voies = passe.voies.length ? passe.voies : [0, 1, 2, 3].map((n) => ({ voie: n, repere: '' }));
  for (const v of voies) {
    const label = document.createElement('label');
    const c = document.createElement('input');
    c.type = 'checkbox';
    c.value = v.voie;
    c.checked = true;
    c.addEventListener('change', dessiner);
    label.append(c, ` Voie ${v.voie} ${v.repere}`);
    choix.appendChild(label);
  }
  for (const b of document.querySelectorAll('#periodes button')) {
    b.addEventListener('click', () => choisir(Number(b.dataset.heures)));
  }
  document.getElementById('afficher').addEventListener('click', () => {
    const de = new Date(deInput.value).getTime();
    const a = new Date(aInput.value).getTime();
    if (!(de < a)) {
      message.textContent = 'Période invalide : le début doit précéder la fin.';
      return;
    }
    periode = { de, a };
    for (const b of document.querySelectorAll('#periodes button')) b.classList.remove('choisi');
    dessiner();
  });
  choisir(1);
})();
