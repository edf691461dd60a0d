// Plays the page's adaptive streams through Media Source Extensions in either browser:
// hls.js for <video data-hls>, dash.js for <video data-dash>. Both are told to buffer
// further ahead than a stream lasts, so every segment is fetched while the first ones
// play, and the streams play to their end at the fastest rate the browsers allow.
(function () {
  "use strict";
  const ahead = 60;
  const fast = (video) => video.addEventListener("playing", () => { video.playbackRate = 4; });

  for (const video of document.querySelectorAll("video[data-hls]")) {
    fast(video);
    const hls = new Hls({ maxBufferLength: ahead, maxMaxBufferLength: ahead });
    hls.loadSource(video.dataset.hls);
    hls.attachMedia(video);
  }
  for (const video of document.querySelectorAll("video[data-dash]")) {
    fast(video);
    const player = dashjs.MediaPlayer().create();
    player.updateSettings({
      streaming: {
        buffer: {
          stableBufferTime: ahead,
          bufferTimeAtTopQuality: ahead,
          bufferTimeAtTopQualityLongForm: ahead,
        },
      },
    });
    player.initialize(video, video.dataset.dash, true);
  }
})();
