'use strict';
// The diagnostics counters per channel, as the traffic window shows them.
(async () => {
  const tete = document.querySelector('#statistiques thead tr');
  const corps = document.querySelector('#statistiques tbody');
  const message = document.getElementById('message');

  const charger = async () => {
    const stats = await Merival.lire('/api/statistiques');
    if (tete.children.length === 0) {
      for (const titre of stats.entetes) {
        const th = document.createElement('th');
        th.textContent = titre;
        tete.appendChild(th);
      }
    }
    corps.replaceChildren();
    for (const v of stats.voies) {
      const tr = document.createElement('tr');
      for (const texte of v.cellules) {
        const td = document.createElement('td');
        td.textContent = texte;
        tr.appendChild(td);
      }
      corps.appendChild(tr);
    }
    message.textContent = stats.voies.length ? '' : "Pas encore d'échange compté.";
  };

  await Merival.demarrer('/statistiques');
  await charger();
  setInterval(charger, 2000);
})();
