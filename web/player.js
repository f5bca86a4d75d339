// Plays the station's WebM mount in a <video>, shows the now-playing title and
// the viewer count from Icecast's status page, and reconnects by itself.
// Every address is relative to this page, so the same files work from the
// master and from any relay. ?mount=/other.webm and ?stream=/other choose the
// mounts. When the page is told where the station's HTTP API is (data-api on
// <main>, or ?api=), it also shows what plays next.
"use strict";

(function () {
  const params = new URLSearchParams(location.search);
  // Relative to the page: "live.webm", not "/live.webm".
  const relative = (path) => path.replace(/^\/+/, "");
  const videoMount = "/" + relative(params.get("mount") || "/live.webm");
  const titleMount = "/" + relative(params.get("stream") || "/stream");
  // The API answers this page only if the station lists its origin
  // (--http-allow-origin); otherwise "Up next" stays hidden.
  const stationApi = (params.get("api") || document.querySelector("main").dataset.api || "").replace(/\/+$/, "");

  const statusInterval_ms = 5000;
  const liveThreshold_s = 5;
  // What is left in the buffer after a jump to the newest frame: a little, so
  // playback does not stall at once.
  const liveMargin_s = 0.5;
  const retryFirst_ms = 1000;
  // Short: a missing mount costs Icecast little to refuse, and the gateway
  // is back within seconds of the station.
  const retryMax_ms = 3000;
  // Playing this long counts as recovered: the next failure retries quickly.
  const healthyAfter_ms = 10000;
  // A picture that stands still this long while it should play is a dead
  // connection that never said so.
  const frozenAfter_ms = 10000;

  const video = document.getElementById("video");
  const stateText = document.getElementById("state");
  const notice = document.getElementById("notice");
  const soundButton = document.getElementById("sound");
  const liveButton = document.getElementById("live");
  const stationText = document.getElementById("station");
  const titleText = document.getElementById("title");
  const listenersText = document.getElementById("listeners");
  const nextBox = document.getElementById("next");
  const nextText = document.getElementById("next-title");

  let retryDelay_ms = retryFirst_ms;
  let retryTimer = 0;
  let healthyTimer = 0;
  let lastProgress = { time_s: -1, at_ms: performance.now() };
  let pausedAt_ms = 0;
  let connections = 0;

  function showState(text, onAir) {
    stateText.textContent = text;
    stateText.classList.toggle("on-air", onAir);
  }

  function showNotice(text) {
    notice.textContent = text;
    notice.hidden = text === "";
  }

  function bufferedEnd_s() {
    const ranges = video.buffered;
    return ranges.length > 0 ? ranges.end(ranges.length - 1) : video.currentTime;
  }

  // How far the picture is behind the newest frame received.
  function behind_s() {
    return Math.max(0, bufferedEnd_s() - video.currentTime);
  }

  function connect() {
    clearTimeout(retryTimer);
    retryTimer = 0;
    connections += 1;
    lastProgress = { time_s: -1, at_ms: performance.now() };
    // A new address each time: a browser may otherwise reuse a response that
    // already ended.
    video.src = relative(videoMount) + "?connection=" + Date.now();
    const playing = video.play();
    if (playing) {
      playing.catch(() => {}); // failures arrive as the element's error event
    }
  }

  function retryLater(reason) {
    if (retryTimer) {
      return;
    }
    clearTimeout(healthyTimer);
    showState("Reconnecting", false);
    showNotice(reason + " Trying again in " + Math.round(retryDelay_ms / 1000) + " s…");
    // A little randomness, so viewers of a restarted station do not all
    // come back in the same instant.
    retryTimer = setTimeout(connect, retryDelay_ms * (1 + Math.random() * 0.2));
    retryDelay_ms = Math.min(retryDelay_ms * 2, retryMax_ms);
  }

  video.addEventListener("playing", () => {
    showState("On air", true);
    showNotice("");
    clearTimeout(healthyTimer);
    healthyTimer = setTimeout(() => { retryDelay_ms = retryFirst_ms; }, healthyAfter_ms);
  });
  video.addEventListener("waiting", () => showState("Buffering", false));
  video.addEventListener("ended", () => retryLater("The stream ended."));
  video.addEventListener("error", () => retryLater("The stream is not available."));
  video.addEventListener("pause", () => {
    pausedAt_ms = performance.now();
    showState("Paused", false);
  });
  video.addEventListener("play", () => { pausedAt_ms = 0; });

  soundButton.addEventListener("click", () => {
    video.muted = !video.muted;
  });
  video.addEventListener("volumechange", () => {
    soundButton.textContent = video.muted ? "Sound on" : "Sound off";
    soundButton.setAttribute("aria-pressed", String(!video.muted));
  });

  liveButton.addEventListener("click", () => {
    // After a long pause the browser has stopped reading: a new connection
    // starts at the newest frame. Otherwise the newest frame is in the buffer.
    if (pausedAt_ms !== 0 && performance.now() - pausedAt_ms > liveThreshold_s * 1000) {
      connect();
      return;
    }
    video.currentTime = Math.max(video.currentTime, bufferedEnd_s() - liveMargin_s);
    video.play().catch(() => {});
  });

  function watchPlayback() {
    const now_ms = performance.now();
    const pausedLong = video.paused && pausedAt_ms !== 0 && now_ms - pausedAt_ms > liveThreshold_s * 1000;
    liveButton.hidden = !(behind_s() > liveThreshold_s || pausedLong);
    if (video.currentTime !== lastProgress.time_s || video.paused || retryTimer) {
      lastProgress = { time_s: video.currentTime, at_ms: now_ms };
    } else if (now_ms - lastProgress.at_ms > frozenAfter_ms) {
      retryLater("The picture stopped.");
    }
  }

  // Icecast gives one source as an object and several as a list.
  function sourcesOf(status) {
    const source = status && status.icestats ? status.icestats.source : undefined;
    if (!source) {
      return [];
    }
    return Array.isArray(source) ? source : [source];
  }

  function sourceFor(sources, mount) {
    return sources.find((source) => {
      try {
        return new URL(source.listenurl).pathname === mount;
      } catch (error) {
        return false;
      }
    });
  }

  async function readStatus() {
    try {
      // An answer later than the next poll is given up, so polls never pile up.
      const response = await fetch("status-json.xsl", { cache: "no-store", signal: AbortSignal.timeout(statusInterval_ms) });
      if (!response.ok) {
        return;
      }
      const sources = sourcesOf(await response.json());
      const station = sourceFor(sources, titleMount);
      const viewers = sourceFor(sources, videoMount);
      if (station) {
        titleText.textContent = station.title || station.server_name || "–";
        if (station.server_name) {
          stationText.textContent = station.server_name;
          document.title = station.server_name;
        }
      } else {
        titleText.textContent = "Off the air";
      }
      // The mount is back while we wait to retry: no need to wait longer.
      if (viewers && retryTimer) {
        connect();
      }
      if (viewers && Number.isInteger(viewers.listeners)) {
        listenersText.textContent = viewers.listeners === 1 ? "1 watching" : viewers.listeners + " watching";
      } else {
        listenersText.textContent = "";
      }
    } catch (error) {
      // The status page is down or malformed: keep what is shown.
    }
  }

  async function readNext() {
    try {
      const response = await fetch(stationApi + "/api/status", {
        cache: "no-store",
        signal: AbortSignal.timeout(statusInterval_ms),
      });
      const status = response.ok ? await response.json() : {};
      const next = Array.isArray(status.next_up) ? status.next_up[0] : undefined;
      nextText.textContent = next && next.title ? next.title : "";
    } catch (error) {
      // Not reachable, or not allowed to read: show nothing rather than stale.
      nextText.textContent = "";
    }
    nextBox.hidden = nextText.textContent === "";
  }

  // What tests and curious viewers can read: window.player.behind_s() etc.
  window.player = {
    behind_s,
    connections: () => connections,
    videoMount,
    titleMount,
  };

  setInterval(watchPlayback, 500);
  setInterval(readStatus, statusInterval_ms);
  readStatus();
  if (stationApi !== "") {
    setInterval(readNext, statusInterval_ms);
    readNext();
  }
  connect();
})();
