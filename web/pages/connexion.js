'use strict';
document.getElementById('formulaire').addEventListener('submit', async (ev) => {
  ev.preventDefault();
  const message = document.getElementById('message');
  const r = await fetch('/api/connexion', {
    method: 'POST',
    credentials: 'same-origin',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify({
      nom: document.getElementById('nom').value,
      motdepasse: document.getElementById('motdepasse').value,
    }),
  });
  if (r.ok) {
    location.href = '/';
  } else {
    message.textContent = (await r.json()).erreur;
  }
});
