// The track page's player: rides a run of the table with the game's own
// physics (velto-core.js through ride.js) and draws it on the page's canvas
// as the game draws its scene: the sky, the filled ground, the apples still
// on the track, the finish, the bike following the camera, and the clock.
//
// The physics moves in steps of 0.01 s of ride time; the drawing runs at
// the screen's rate and places the bike between the two steps around the
// moment shown. Each animation frame rides at most a slice of steps, so a
// long jump ahead never holds the page: the shown moment waits for the ride
// instead.
//
// The page is usable without this script: it only shows the player (hidden
// in the markup) once the module and the track have loaded.
(function () {
  'use strict';

  const section = document.getElementById('player');
  if (!section || typeof WebAssembly !== 'object' || typeof createVeltoCore !== 'function' ||
      typeof VeltoRide !== 'function') {
    return;
  }

  const kStepMs = 10;              // one physics step of ride time
  const kSliceMs = 8;              // riding per animation frame, at most
  const kWheelRadius = 80 / 3;
  const kHeadRadius = 46 / 3;
  const kAppleRadius = 20;
  const kSky = ['#699be0', '#86add2'];
  const kGround = '#765639';
  const kGroundEdge = '#4e3824';
  const kBorder = '#816917';
  const kKeys = [[1, '\u2190'], [2, '\u2192'], [4, '\u2191'], [8, '\u2193'], [16, 'Space']];

  const digest = section.dataset.digest;
  const version = section.dataset.version;
  const canvas = document.getElementById('view');
  const context = canvas.getContext('2d');
  const playButton = document.getElementById('play');
  const restartButton = document.getElementById('restart');
  const speedChoice = document.getElementById('speed');
  const seek = document.getElementById('seek');
  const clock = document.getElementById('clock');
  const keysShown = document.getElementById('keys');
  const watching = document.getElementById('watching');
  const verdict = document.getElementById('verdict');
  const table = document.getElementById('times');

  let ride = null;
  let ground = null;        // Path2D of the ground polygons
  let geometry = null;
  let apples = new Float64Array(0);
  let applesShown = -1;     // applesLeft when `apples` was read
  let before = null;        // the state one step before `after`
  let after = null;         // the state at the step the ride stands at
  let moment = 0;           // the moment shown, in steps (fractional)
  let playing = true;
  let speed = 1;
  let lastTime = null;
  let row = null;           // the table row of the run watched
  let ended = false;
  let firstFrame = false;

  const options = new URLSearchParams(location.hash.slice(1));
  if (options.has('speed')) {
    const wanted = Number(options.get('speed'));
    for (const option of speedChoice.options) {
      option.selected = Number(option.value) === wanted;
    }
  }
  speed = Number(speedChoice.value) || 1;

  for (const [bit, label] of kKeys) {
    const span = document.createElement('span');
    span.textContent = label;
    span.dataset.bit = bit;
    keysShown.appendChild(span);
  }

  function fail(text) {
    watching.textContent = text;
  }

  async function fetchBytes(url) {
    const response = await fetch(url, { credentials: 'omit' });
    if (!response.ok) {
      throw new Error(url + ': ' + response.status);
    }
    return new Uint8Array(await response.arrayBuffer());
  }

  async function start() {
    const core = await createVeltoCore({ locateFile: (file) => '/web/' + file + '?v=' + version });
    ride = new VeltoRide(core);
    const refused = ride.loadTrack(await fetchBytes('/api/tracks/' + digest));
    if (refused) {
      fail('The track cannot be ridden here: ' + refused);
      return;
    }
    geometry = ride.geometry();
    ground = new Path2D();
    for (const polygon of geometry.polygons) {
      for (let i = 0; i < polygon.length; i += 2) {
        if (i === 0) {
          ground.moveTo(polygon[i], polygon[i + 1]);
        } else {
          ground.lineTo(polygon[i], polygon[i + 1]);
        }
      }
      ground.closePath();
    }
    // Shown above the outline, which stays as the track's map.
    section.hidden = false;
    const rows = table ? Array.from(table.querySelectorAll('tr[data-rank]')) : [];
    for (const r of rows) {
      const cell = document.createElement('td');
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = 'Watch';
      button.addEventListener('click', () => watch(r));
      cell.appendChild(button);
      r.appendChild(cell);
    }
    if (table && rows.length > 0) {
      table.rows[0].appendChild(document.createElement('th'));
    }
    const wanted = rows.find((r) => r.dataset.rank === options.get('rank')) || rows[0];
    if (wanted) {
      await watch(wanted);
    } else {
      fail('Nobody has finished this track yet: the track at its start.');
      after = before = ride.read();
      readApples(true);
    }
    schedule();
  }

  async function watch(r) {
    if (row) {
      row.classList.remove('watching');
    }
    row = r;
    row.classList.add('watching');
    const name = row.cells[1] ? row.cells[1].textContent : '';
    const refused = ride.loadReplay(await fetchBytes('/api/tracks/' + digest + '/runs/' + row.dataset.rank + '.replay'));
    if (refused) {
      fail('This run cannot be ridden here: ' + refused);
      after = before = ride.read();
      return;
    }
    watching.textContent = 'Rank ' + row.dataset.rank + ': ' + name + ', ' + (row.cells[2] ? row.cells[2].textContent : '');
    seek.max = String(ride.steps);
    restart();
    playing = true;
    playButton.textContent = 'Pause';
  }

  function restart() {
    moment = 0;
    ended = false;
    verdict.textContent = '';
    delete verdict.dataset.digest;
    delete verdict.dataset.same;
    ride.seek(0);
    after = before = ride.read();
    readApples(true);
  }

  function readApples(always) {
    if (always || after.applesLeft !== applesShown) {
      apples = ride.apples();
      applesShown = after.applesLeft;
    }
  }

  // Brings the ride to `step` (the moment's step after it), a slice at a
  // time: false while it is still behind.
  function rideTo(step, deadline) {
    if (after && after.step === step && before) {
      return true;
    }
    if (step === 0) {
      ride.seek(0);
      after = before = ride.read();
      readApples(true);
      return true;
    }
    const back = step < ride.step();
    while (performance.now() < deadline) {
      const there = ride.seek(step - 1, 500);
      if (there) {
        break;
      }
    }
    if (ride.step() < step - 1 && !ride.over()) {
      after = before = ride.read();
      readApples(back);
      return false;
    }
    before = ride.read();
    ride.ride(1);
    after = ride.read();
    readApples(back);
    return true;
  }

  // Frames come with the screen's refresh; a timer stands in where none
  // comes (a browser that draws nothing, as a headless one on virtual time).
  // One request stays pending until it is answered.
  let frameAsked = false;
  let frameTimer = 0;
  function schedule() {
    if (!frameAsked) {
      frameAsked = true;
      requestAnimationFrame(() => {
        frameAsked = false;
        frame(performance.now());
      });
    }
    clearTimeout(frameTimer);
    frameTimer = setTimeout(() => frame(performance.now()), 100);
  }

  function frame(now) {
    schedule();
    // The frame's own time stamp may run on another clock than the
    // timer's: both frames read the one clock.
    const elapsed = lastTime === null ? 0 : Math.max(0, Math.min(now - lastTime, 250));
    lastTime = now;
    if (ride && ride.steps > 0) {
      if (playing && !ended) {
        moment = Math.min(moment + (elapsed / kStepMs) * speed, ride.steps);
      }
      const step = Math.min(Math.ceil(moment), ride.steps);
      if (!rideTo(step, now + kSliceMs)) {
        moment = after.step;   // the ride is behind: the moment waits
      }
      if (after.over && moment >= after.step) {
        moment = after.step;
        if (!ended) {
          end();
        }
      }
      if (document.activeElement !== seek) {
        seek.value = String(Math.floor(moment));
      }
    }
    draw();
    if (!firstFrame) {
      firstFrame = true;
      section.dataset.firstFrame = String(Math.round(performance.now()));
    }
  }

  function end() {
    ended = true;
    playing = false;
    playButton.textContent = 'Play';
    const got = ride.digest();
    const hubSteps = Number(row.dataset.steps);
    const same = after.resultName === 'finished' && after.step === hubSteps;
    verdict.dataset.digest = got;
    verdict.dataset.same = same ? 'yes' : 'no';
    verdict.textContent = '';
    const mine = document.createElement('span');
    mine.textContent = 'This ride: ' + after.resultName + ' at ' + ride.clock() + ', digest ';
    const code = document.createElement('code');
    code.textContent = got;
    mine.appendChild(code);
    const hub = document.createElement('span');
    hub.textContent = '. The hub verified: finished at ' + (row.cells[2] ? row.cells[2].textContent : '') +
        ' (' + hubSteps + ' steps). ';
    const word = document.createElement('span');
    word.className = same ? 'same' : 'differs';
    word.textContent = same ? 'the same ride as verified' : 'not the ride the hub verified';
    verdict.append(mine, hub, word);
  }

  function lerp(a, b, t) {
    return a + (b - a) * t;
  }

  // Angles in degrees, the short way round.
  function lerpAngle(a, b, t) {
    let d = b - a;
    d -= 360 * Math.round(d / 360);
    return a + d * t;
  }

  function between(a, b, t) {
    const ball = (p, q) => ({ x: lerp(p.x, q.x, t), y: lerp(p.y, q.y, t), angle: lerpAngle(p.angle || 0, q.angle || 0, t) });
    // A turn-around swaps the wheels: no blending across it.
    if (a.facing !== b.facing) {
      return b;
    }
    return {
      facing: b.facing,
      cameraLead: lerp(a.cameraLead, b.cameraLead, t),
      frame: ball(a.frame, b.frame),
      front: ball(a.front, b.front),
      rear: ball(a.rear, b.rear),
      head: ball(a.head, b.head),
    };
  }

  function draw() {
    const w = canvas.width;
    const h = canvas.height;
    const sky = context.createLinearGradient(0, 0, 0, h);
    sky.addColorStop(0, kSky[0]);
    sky.addColorStop(1, kSky[1]);
    context.setTransform(1, 0, 0, 1, 0, 0);
    context.fillStyle = sky;
    context.fillRect(0, 0, w, h);
    if (!after || !geometry) {
      return;
    }
    const t = after.step > before.step ? Math.max(0, Math.min(1, moment - before.step)) : 1;
    const bike = between(before, after, t);
    // One world unit a pixel, y upwards, the camera ahead of the bike as
    // the game leads it.
    const cx = bike.frame.x - w * bike.cameraLead;
    const cy = bike.frame.y;
    context.setTransform(1, 0, 0, -1, w / 2 - cx, h / 2 + cy);

    context.strokeStyle = kBorder;
    context.lineWidth = 6;
    context.strokeRect(-8000, -6000, 16000, 12000);
    context.fillStyle = kGround;
    context.fill(ground, 'evenodd');
    context.strokeStyle = kGroundEdge;
    context.lineWidth = 2;
    context.stroke(ground);

    drawStart(geometry.start);
    drawFinish(geometry.finish);
    for (let i = 0; i < apples.length; i += 2) {
      drawApple(apples[i], apples[i + 1]);
    }
    drawBike(bike);

    context.setTransform(1, 0, 0, 1, 0, 0);
    context.font = 'bold 20px sans-serif';
    context.textAlign = 'center';
    context.fillStyle = 'rgba(128, 128, 128, 0.3)';
    context.fillRect(0, 0, w, 30);
    context.fillStyle = 'rgba(255, 0, 0, 0.6)';
    const left = after.applesLeft;
    context.fillText(left === 0 ? 'no apples left' : left === 1 ? '1 apple left' : left + ' apples left', w / 2, 22);
    const shown = ride.clock();
    context.textAlign = 'right';
    context.fillStyle = 'rgba(255, 255, 255, 0.8)';
    context.fillText(shown, w - 12, 22);
    clock.textContent = shown;
    for (const span of keysShown.children) {
      span.classList.toggle('held', (after.keys & Number(span.dataset.bit)) !== 0);
    }
  }

  function circle(x, y, r) {
    context.beginPath();
    context.arc(x, y, r, 0, 2 * Math.PI);
  }

  function drawStart(p) {
    context.strokeStyle = '#2a9d4b';
    context.lineWidth = 3;
    context.beginPath();
    context.moveTo(p.x, p.y - 40);
    context.lineTo(p.x, p.y + 40);
    context.stroke();
    context.fillStyle = '#2a9d4b';
    context.beginPath();
    context.moveTo(p.x, p.y + 40);
    context.lineTo(p.x + 24, p.y + 32);
    context.lineTo(p.x, p.y + 24);
    context.fill();
  }

  function drawFinish(p) {
    circle(p.x, p.y, kWheelRadius);
    context.fillStyle = '#f2c200';
    context.fill();
    context.strokeStyle = '#8a6d00';
    context.lineWidth = 3;
    context.stroke();
    context.fillStyle = '#222';
    for (let i = 0; i < 4; i++) {
      context.beginPath();
      context.moveTo(p.x, p.y);
      context.arc(p.x, p.y, kWheelRadius - 4, (i * Math.PI) / 2, (i * Math.PI) / 2 + Math.PI / 4);
      context.fill();
    }
  }

  function drawApple(x, y) {
    circle(x, y - 2, kAppleRadius - 3);
    context.fillStyle = '#c0281f';
    context.fill();
    context.strokeStyle = '#6e140f';
    context.lineWidth = 2;
    context.stroke();
    context.fillStyle = '#3c8a2e';
    context.beginPath();
    context.ellipse(x + 5, y + 17, 7, 3, 0.5, 0, 2 * Math.PI);
    context.fill();
  }

  function drawWheel(ball) {
    circle(ball.x, ball.y, kWheelRadius);
    context.fillStyle = '#48484d';
    context.fill();
    circle(ball.x, ball.y, kWheelRadius - 6);
    context.fillStyle = '#9a9aa3';
    context.fill();
    context.strokeStyle = '#2b2b30';
    context.lineWidth = 2;
    const a = (ball.angle * Math.PI) / 180;
    context.beginPath();
    for (let i = 0; i < 3; i++) {
      const s = a + (i * Math.PI) / 3;
      context.moveTo(ball.x - Math.cos(s) * (kWheelRadius - 6), ball.y - Math.sin(s) * (kWheelRadius - 6));
      context.lineTo(ball.x + Math.cos(s) * (kWheelRadius - 6), ball.y + Math.sin(s) * (kWheelRadius - 6));
    }
    context.stroke();
  }

  // The frame's point (x, y), facing applied, in the world.
  function onFrame(bike, x, y) {
    const a = (bike.frame.angle * Math.PI) / 180;
    const fx = x * bike.facing;
    return { x: bike.frame.x + fx * Math.cos(a) - y * Math.sin(a), y: bike.frame.y + fx * Math.sin(a) + y * Math.cos(a) };
  }

  function line(from, to) {
    context.beginPath();
    context.moveTo(from.x, from.y);
    context.lineTo(to.x, to.y);
    context.stroke();
  }

  function drawBike(bike) {
    drawWheel(bike.front);
    drawWheel(bike.rear);
    // The springs, from their anchors on the frame to the wheels.
    context.strokeStyle = '#c9c9c9';
    context.lineWidth = 5;
    line(onFrame(bike, 43, 16), bike.front);
    line(onFrame(bike, -28 / 3, -53 / 3), bike.rear);
    // The frame: a body between the wheels, the tank and seat above it.
    const outline = [[-50, -8], [50, -8], [62, 20], [30, 30], [-10, 26], [-45, 18]];
    context.beginPath();
    outline.forEach(([x, y], i) => {
      const p = onFrame(bike, x, y + 95 / 3 - 30);
      if (i === 0) {
        context.moveTo(p.x, p.y);
      } else {
        context.lineTo(p.x, p.y);
      }
    });
    context.closePath();
    context.fillStyle = '#382f3a';
    context.fill();
    context.strokeStyle = '#b3261e';
    context.lineWidth = 3;
    context.stroke();
    // The rider: seat to head, hands to the bars.
    const seat = onFrame(bike, -12, 30);
    const bars = onFrame(bike, 40, 40);
    context.strokeStyle = '#2d4a3e';
    context.lineWidth = 8;
    context.lineCap = 'round';
    line(seat, bike.head);
    const shoulder = { x: lerp(seat.x, bike.head.x, 0.7), y: lerp(seat.y, bike.head.y, 0.7) };
    context.lineWidth = 5;
    line(shoulder, bars);
    context.lineCap = 'butt';
    circle(bike.head.x, bike.head.y, kHeadRadius);
    context.fillStyle = '#e8e1d0';
    context.fill();
    context.strokeStyle = '#2b2b30';
    context.lineWidth = 2;
    context.stroke();
  }

  playButton.addEventListener('click', () => {
    if (!ride || ride.steps === 0) {
      return;
    }
    if (ended) {
      restart();
    }
    playing = !playing;
    playButton.textContent = playing ? 'Pause' : 'Play';
  });
  restartButton.addEventListener('click', () => {
    if (ride && ride.steps > 0) {
      restart();
    }
  });
  speedChoice.addEventListener('change', () => {
    speed = Number(speedChoice.value) || 1;
  });
  seek.addEventListener('input', () => {
    if (!ride || ride.steps === 0) {
      return;
    }
    moment = Number(seek.value);
    if (ended && moment < ride.steps) {
      ended = false;
      verdict.textContent = '';
    }
  });

  start().catch((e) => fail('The player cannot start: ' + e.message));
})();
