'use strict';
// What every page shares: the server's state (user, role, token), the menu, the calls.
const Merival = {
  etat: null,

  async demarrer(ici) {
    const r = await fetch('/api/etat', { credentials: 'same-origin' });
    this.etat = await r.json();
    if (this.etat.connexionRequise && !this.etat.utilisateur) {
      location.href = '/connexion';
      throw new Error('connexion nécessaire');
    }
    const menu = document.querySelector('header nav');
    for (const a of menu.querySelectorAll('a')) {
      if (a.getAttribute('href') === ici) a.classList.add('ici');
    }
    const qui = document.querySelector('header .qui');
    if (this.etat.connexionRequise) {
      qui.textContent = this.etat.utilisateur + ' (' + this.etat.role + ')';
      const sortir = document.createElement('button');
      sortir.textContent = 'Déconnexion';
      sortir.addEventListener('click', async () => {
        await this.poster('/api/deconnexion');
        location.href = '/connexion';
      });
      qui.appendChild(sortir);
    }
    return this.etat;
  },

  peutAcquitter() {
    return this.etat && this.etat.alarmes && this.etat.role === 'operateur';
  },

  async lire(url) {
    const r = await fetch(url, { credentials: 'same-origin' });
    if (r.status === 401) location.href = '/connexion';
    if (!r.ok) {
      let texte = r.statusText;
      try { texte = (await r.json()).erreur; } catch (e) { /* not JSON */ }
      throw new Error(texte);
    }
    return r.json();
  },

  async poster(url, corps) {
    return fetch(url, {
      method: 'POST',
      credentials: 'same-origin',
      headers: { 'Content-Type': 'application/json', 'X-Jeton': (this.etat && this.etat.jeton) || '' },
      body: JSON.stringify(corps || {}),
    });
  },

  async acquitter(sortie) {
    const r = await this.poster('/api/acquitter');
    sortie.textContent = r.ok ? 'Alarmes acquittées.' : (await r.json()).erreur;
    return r.ok;
  },

  // The push channel, opened again after a loss; `recu` gets each pass.
  direct(recu, etat) {
    const ouvrir = (attente) => {
      const ws = new WebSocket((location.protocol === 'https:' ? 'wss://' : 'ws://') + location.host + '/api/direct');
      ws.onopen = () => { attente = 500; etat('Liaison directe établie'); };
      ws.onmessage = (m) => recu(JSON.parse(m.data));
      ws.onclose = () => {
        etat('Liaison directe perdue : nouvel essai…');
        setTimeout(() => ouvrir(Math.min(attente * 2, 10000)), attente);
      };
    };
    ouvrir(500);
  },

  heure(iso) {
    return iso ? new Date(iso).toLocaleString('fr-FR') : '—';
  },
};
