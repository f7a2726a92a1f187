'use strict';
// The alarm journal of a period, newest first; "Acquitter" for the operator role.
(async () => {
  const corps = document.querySelector('#journal tbody');
  const periode = document.getElementById('periode');
  const bouton = document.getElementById('acquitter');
  const sortie = document.getElementById('sortie');
  const leves = new Set(['Seuil haut', 'Seuil bas', 'Perte de communication']);

  const charger = async () => {
    const heures = Number(periode.value);
    const de = heures ? Date.now() - heures * 3600000 : 0;
    const evenements = await Merival.lire(`/api/journal?de=${de}&a=${Date.now() + 60000}`);
    corps.replaceChildren();
    for (const e of evenements) {
      const t = new Date(e.horodatage);
      const tr = document.createElement('tr');
      if (leves.has(e.evenement)) tr.className = 'leve';
      const cellules = [t.toLocaleDateString('fr-FR'), t.toLocaleTimeString('fr-FR'),
        e.voie === null ? '' : String(e.voie), e.repere, e.texte, e.evenement];
      for (const texte of cellules) {
        const td = document.createElement('td');
        td.textContent = texte;
        tr.appendChild(td);
      }
      corps.appendChild(tr);
    }
    corps.dataset.lignes = evenements.length;
  };

  await Merival.demarrer('/journal');
  bouton.hidden = !Merival.peutAcquitter();
  bouton.addEventListener('click', async () => {
    await Merival.acquitter(sortie);
    setTimeout(charger, 300);
  });
  periode.addEventListener('change', charger);
  document.getElementById('actualiser').addEventListener('click', charger);
  await charger();
  setInterval(charger, 5000);
})();
