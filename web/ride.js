// One ride of a replay on a track, through the physics module
// (velto-core.js): loading, stepping, the bike's state, and going to any
// step. Going back returns to a kept copy of the module's whole memory at or
// before the step and rides ahead from there; copies are kept at every
// `interval` steps, at most `maxKept` of them, the interval doubling (and
// every other copy dropped) when they would be more.
'use strict';

const VeltoStepResult = ['running', 'finished', 'crashed'];

class VeltoRide {
  constructor(core, options = {}) {
    this.core = core;
    this.interval = options.interval || 500;
    this.maxKept = options.maxKept || 48;
    this.kept = [];
    this.steps = 0;
    this.state = null;
  }

  // Copies `bytes` into the module's memory and calls `fn` with the address.
  withBytes(bytes, fn) {
    const at = this.core._malloc(Math.max(bytes.length, 1));
    if (at === 0) {
      return 0;
    }
    this.core.HEAPU8.set(bytes, at);
    try {
      return fn(at, bytes.length);
    } finally {
      this.core._free(at);
    }
  }

  error() {
    return this.core.UTF8ToString(this.core._velto_error());
  }

  // A track file's bytes; null when it loads, else the reason.
  loadTrack(bytes) {
    this.kept = [];
    this.steps = 0;
    const ok = this.withBytes(bytes, (at, n) => this.core._velto_load_track(at, n));
    return ok ? null : this.error();
  }

  // A replay's text (bytes); null when it rides on the loaded track, else
  // the reason. The ride starts over at step 0.
  loadReplay(bytes) {
    this.kept = [];
    const ok = this.withBytes(bytes, (at, n) => this.core._velto_load_replay(at, n));
    if (!ok) {
      this.steps = 0;
      return this.error();
    }
    this.steps = this.core._velto_replay_steps();
    this.keep();
    this.read();
    return null;
  }

  keep() {
    const used = this.core._velto_memory_used();
    this.kept.push({ step: this.step(), memory: this.core.HEAPU8.slice(0, used) });
    if (this.kept.length > this.maxKept) {
      this.interval *= 2;
      this.kept = this.kept.filter((k) => k.step % this.interval === 0);
    }
  }

  restore(kept) {
    this.core.HEAPU8.set(kept.memory, 0);
    this.read();
  }

  step() {
    return this.state ? this.state.step : 0;
  }

  over() {
    return this.state ? this.state.over : true;
  }

  // Rides up to `count` steps forward, keeping copies on the way; returns
  // the steps taken.
  ride(count) {
    let taken = 0;
    while (taken < count && !this.over()) {
      const now = this.step();
      const boundary = (Math.floor(now / this.interval) + 1) * this.interval;
      const n = this.core._velto_step(Math.min(count - taken, boundary - now));
      this.read();
      taken += n;
      if (n === 0) {
        break;
      }
      if (this.step() === boundary && !this.over()) {
        this.keep();
      }
    }
    return taken;
  }

  // Goes to `target` (0 to the ride's end): back to the nearest kept copy at
  // or before it when it lies behind, then forward at most `budget` steps.
  // True when the ride stands at the target (or at its end).
  seek(target, budget = Infinity) {
    target = Math.max(0, Math.min(target, this.steps));
    if (target < this.step()) {
      let best = this.kept[0];
      for (const k of this.kept) {
        if (k.step <= target && k.step >= best.step) {
          best = k;
        }
      }
      this.restore(best);
    } else {
      // Ahead: a kept copy nearer than the ride stands saves riding.
      let best = null;
      for (const k of this.kept) {
        if (k.step <= target && k.step > this.step() && (best === null || k.step > best.step)) {
          best = k;
        }
      }
      if (best !== null) {
        this.restore(best);
      }
    }
    const want = target - this.step();
    this.ride(Math.min(want, budget));
    return this.step() >= target || this.over();
  }

  read() {
    const core = this.core;
    const at = core._velto_state() >> 3;
    const v = core.HEAPF64.subarray(at, at + 20);
    const ball = (i) => ({ x: v[i], y: v[i + 1], angle: v[i + 2] });
    this.state = {
      step: v[0],
      result: v[1],
      resultName: VeltoStepResult[v[1]] || 'running',
      applesLeft: v[2],
      facing: v[3],
      cameraLead: v[4],
      keys: v[5],
      over: v[6] !== 0,
      frame: ball(7),
      front: ball(10),
      rear: ball(13),
      head: { x: v[16], y: v[17] },
    };
    return this.state;
  }

  digest() {
    return this.core.UTF8ToString(this.core._velto_digest());
  }

  clock() {
    return this.core.UTF8ToString(this.core._velto_clock());
  }

  replayResult() {
    return VeltoStepResult[this.core._velto_replay_result()] || 'running';
  }

  // The track as the world holds it: start, finish and the ground polygons.
  geometry() {
    const n = this.core._velto_geometry();
    const at = this.core._velto_buffer() >> 3;
    const g = this.core.HEAPF64.slice(at, at + n);
    const polygons = [];
    let i = 4;
    while (i < n) {
      const count = g[i];
      polygons.push(g.slice(i + 1, i + 1 + 2 * count));
      i += 1 + 2 * count;
    }
    return n < 4 ? null : { start: { x: g[0], y: g[1] }, finish: { x: g[2], y: g[3] }, polygons };
  }

  // The apples still on the track, x and y each.
  apples() {
    const n = this.core._velto_apples();
    const at = this.core._velto_apple_buffer() >> 3;
    return this.core.HEAPF64.slice(at, at + n);
  }
}

if (typeof module !== 'undefined') {
  module.exports = { VeltoRide };
}
