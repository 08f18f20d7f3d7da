/* SPDX-License-Identifier: MIT */
// The demonstration page: reads the identity card, the social-security
// card and its bank-card number from kestreld and lays them out as cards.
//
// Query parameters: service=URL reads from another kestreld (on a loopback
// address) than the one that served the page; autoread=1 presses Read once
// the page has loaded.
'use strict';

(function () {
  const params = new URLSearchParams(window.location.search);
  const service = (params.get('service') || '').replace(/\/+$/, '');

  const reads = [
    { prefix: 'id', path: '/v1/identity-card', body: {} },
    { prefix: 'ss', path: '/v1/basic-info', body: { cardType: 1 } },
    { prefix: 'bank', path: '/v1/bank-number', body: { cardType: 1 } },
  ];

  function setStatus(text) {
    document.getElementById('status').textContent = text;
  }

  function showError(text) {
    const el = document.getElementById('error');
    el.textContent = text;
    el.hidden = !text;
  }

  function clearFields() {
    document.querySelectorAll('[data-field]').forEach((el) => { el.textContent = ''; });
  }

  function fill(prefix, fields) {
    document.querySelectorAll('[data-field^="' + prefix + '."]').forEach((el) => {
      const name = el.getAttribute('data-field').slice(prefix.length + 1);
      const value = fields && fields[name];
      el.textContent = typeof value === 'string' ? value : '';
    });
  }

  async function readOne(read) {
    const response = await fetch(service + read.path, {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify(read.body),
    });
    const answer = await response.json();
    if (!response.ok) throw new Error(answer.message || ('HTTP ' + response.status));
    if (!answer.ok) throw new Error(read.path + ': ' + answer.text + ' (' + answer.code + ')');
    fill(read.prefix, answer.fields);
  }

  async function readAll() {
    const button = document.getElementById('read');
    button.disabled = true;
    clearFields();
    showError('');
    setStatus('Reading…');
    const failures = [];
    for (const read of reads) {
      try {
        await readOne(read);
      } catch (e) {
        failures.push(e.message || String(e));
      }
    }
    setStatus(failures.length ? 'Read failed.' : 'Read complete.');
    showError(failures.join('\n'));
    document.body.setAttribute('data-state', failures.length ? 'failed' : 'done');
    button.disabled = false;
  }

  document.getElementById('read').addEventListener('click', readAll);
  if (params.get('autoread') === '1') document.getElementById('read').click();
}());
