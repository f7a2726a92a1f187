'use strict';
// One row per polled channel, redrawn at every pass pushed by the server.
(async () => {
  const voies = document.getElementById('voies');
  const liaison = document.getElementById('liaison');
  const bouton = document.getElementById('acquitter');
  const sortie = document.getElementById('sortie');
  const textesAlarme = {
    normale: '',
    active: 'Alarme active, non acquittée',
    acquittee: 'Alarme active, acquittée',
    retour: 'Retour à la normale, non acquitté',
  };
  let derniere = null;

  const ligne = (v) => {
    let row = voies.querySelector(`[data-voie="${v.voie}"]`);
    if (!row) {
      row = document.createElement('div');
      row.className = 'voie';
      row.dataset.voie = v.voie;
      for (const nom of ['repere', 'etat', 'valeur', 'alarme']) {
        const cellule = document.createElement('div');
        cellule.className = nom;
        row.appendChild(cellule);
      }
      voies.appendChild(row);
    }
    return row;
  };

  const afficher = (passe) => {
    const vues = new Set();
    let enAttente = false;
    for (const v of passe.voies) {
      const row = ligne(v);
      vues.add(String(v.voie));
      row.querySelector('.repere').textContent = `Voie ${v.voie}  ${v.repere}`;
      const etat = row.querySelector('.etat');
      etat.textContent = v.etat;
      etat.className = 'etat ' + (v.etat === 'OK' ? 'ok' : 'hs');
      const valeur = row.querySelector('.valeur');
      valeur.textContent = v.lignes.join('\n');
      valeur.className = 'valeur ' + v.alarme +
        (v.alarme === 'active' || v.alarme === 'retour' ? ' clignote' : '');
      row.querySelector('.alarme').textContent = textesAlarme[v.alarme] || '';
      enAttente = enAttente || v.alarme === 'active' || v.alarme === 'retour';
    }
    for (const row of [...voies.children]) {
      if (!vues.has(row.dataset.voie)) row.remove();
    }
    voies.dataset.passe = passe.passe;
    derniere = passe.horodatage;
    bouton.hidden = !(enAttente && Merival.peutAcquitter());
    liaison.dataset.heure = Merival.heure(derniere);
  };

  await Merival.demarrer('/');
  bouton.addEventListener('click', () => Merival.acquitter(sortie));
  afficher(await Merival.lire('/api/passe'));
  Merival.direct(afficher, (texte) => {
    liaison.textContent = texte;
  });
})();
