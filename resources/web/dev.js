// Development page of the Tessivo window: lists every callback the engine
// sends and posts test messages to it.
(() => {
  'use strict';

  // Callbacks that carry one JSON payload, delivered by the engine.
  const payloadCallbacks = [
    'onResolveSubtitlesImported',
    'onResolveBridgeError',
    'onResolvePreviewCaptured',
    'onResolveExportComplete',
    'onFusionLibraryLoaded',
    'onFusionEffectCaptured',
    'onFusionEffectPreviewed',
    'onFusionEffectUpdated',
    'onFusionEffectDeleted',
    'onFusionEffectInserted',
    'onFusionNativeTemplateStatus',
    'onFusionSharedLibraryProgress',
    'onFusionSharedLibraryResult',
    'onFusionLiveResult',
    'onFusionTimelineLoaded',
    'onFusionPlayheadChanged',
    'onFusionFloatingPaletteState',
  ];
  // Signals without payload at the end of a render.
  const signalCallbacks = ['onRenderComplete', 'onRenderCancelled'];

  const log = document.getElementById('log');
  const logEmpty = document.getElementById('log-empty');

  const record = (name, payload) => {
    const item = document.createElement('li');
    const title = document.createElement('span');
    title.className = 'name';
    title.textContent = 'window.' + name;
    const time = document.createElement('span');
    time.className = 'time';
    time.textContent = new Date().toLocaleTimeString('fr-FR');
    item.append(title, time);
    if (payload !== undefined) {
      const body = document.createElement('pre');
      body.textContent = JSON.stringify(payload, null, 2);
      item.append(body);
    }
    log.prepend(item);
    logEmpty.hidden = true;
  };

  for (const name of payloadCallbacks) window[name] = (payload) => record(name, payload);
  for (const name of signalCallbacks) window[name] = () => record(name);

  const channel = window.webkit?.messageHandlers?.exportEngine;
  const channelState = document.getElementById('channel-state');
  channelState.textContent = channel ? 'disponible' : 'indisponible (page ouverte hors de Tessivo)';
  channelState.className = channel ? 'ok' : 'error';
  for (const button of document.querySelectorAll('form button, #import-subtitles')) button.disabled = !channel;

  const post = (envelope) => channel.postMessage(envelope);

  document.getElementById('import-subtitles').addEventListener('click', () => {
    post({ type: 'importResolveSubtitles', payload: {} });
  });

  document.getElementById('open-external').addEventListener('submit', (event) => {
    event.preventDefault();
    post({ type: 'openExternal', payload: { url: document.getElementById('external-url').value } });
  });

  const envelopeError = document.getElementById('envelope-error');
  document.getElementById('raw-envelope').addEventListener('submit', (event) => {
    event.preventDefault();
    envelopeError.textContent = '';
    let envelope;
    try {
      envelope = JSON.parse(document.getElementById('envelope-text').value);
    } catch (error) {
      envelopeError.textContent = 'JSON invalide : ' + error.message;
      return;
    }
    if (envelope === null || typeof envelope !== 'object' || Array.isArray(envelope)) {
      envelopeError.textContent = "L'enveloppe doit être un objet JSON.";
      return;
    }
    post(envelope);
  });

  document.getElementById('clear-log').addEventListener('click', () => {
    log.replaceChildren();
    logEmpty.hidden = false;
  });
})();
