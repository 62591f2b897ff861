// The physics module under node: every proof run rides to its committed
// digest and ends as its replay says; going back to a kept copy of the
// module's memory and riding on gives the same ride; the track reader and
// the replay parser refuse what the game refuses.
//
//   node ride-test.js WEB_DIR TRACKS_DIR PROOF_DIR
// Prints one line per failure and a summary; exit status 1 on any failure.
'use strict';

const fs = require('fs');
const path = require('path');

const [webDir, tracksDir, proofDir] = process.argv.slice(2);
if (!proofDir) {
  console.error('usage: node ride-test.js WEB_DIR TRACKS_DIR PROOF_DIR');
  process.exit(2);
}
const createVeltoCore = require(path.resolve(webDir, 'velto-core.js'));
const { VeltoRide } = require(path.resolve(webDir, 'ride.js'));

let failures = 0;
function fail(text) {
  console.log('web ride: ' + text);
  failures += 1;
}

function header(text, name) {
  const m = text.match(new RegExp('^# ' + name + ': (.*)$', 'm'));
  return m ? m[1] : '';
}

async function main() {
  // The module's bytes are handed over: node's fetch takes no plain paths.
  const core = await createVeltoCore({ wasmBinary: fs.readFileSync(path.resolve(webDir, 'velto-core.wasm')) });
  const ride = new VeltoRide(core, { interval: 256, maxKept: 8 });
  const proofs = fs.readdirSync(proofDir).filter((f) => f.endsWith('.replay')).sort();
  if (proofs.length === 0) {
    fail('no proof runs in ' + proofDir);
  }
  let steps = 0;
  const started = process.cpuUsage();
  for (const file of proofs) {
    const name = file.replace(/\.replay$/, '');
    const text = fs.readFileSync(path.join(proofDir, file));
    const want = fs.readFileSync(path.join(proofDir, name + '.digest'), 'utf8').trim();
    const trackError = ride.loadTrack(fs.readFileSync(path.join(tracksDir, name + '.vlt')));
    if (trackError) {
      fail(`${name}: the track does not load: ${trackError}`);
      continue;
    }
    const replayError = ride.loadReplay(text);
    if (replayError) {
      fail(`${name}: the replay does not load: ${replayError}`);
      continue;
    }
    while (!ride.over()) {
      ride.ride(997);
    }
    steps += ride.step();
    const got = ride.digest();
    const result = header(text.toString(), 'result').split(' ');
    if (got !== want) {
      fail(`${name}: digest ${got}, committed ${want}`);
    }
    if (ride.state.resultName !== result[0] || String(ride.step()) !== result[2]) {
      fail(`${name}: ends ${ride.state.resultName} after ${ride.step()} steps, the replay says ${result.join(' ')}`);
    }
    // Back to a moment inside the ride, then to its end again: the same
    // ride, bit for bit, also where the kept copies were thinned out.
    const end = ride.step();
    const back = Math.floor(end * 0.37);
    ride.seek(back);
    if (ride.step() !== back) {
      fail(`${name}: going back to step ${back} stands at ${ride.step()}`);
    }
    ride.seek(end);
    if (ride.digest() !== want || ride.step() !== end) {
      fail(`${name}: after going back to step ${back}, the ride ends at ${ride.step()} with ${ride.digest()}`);
    }
    if (ride.kept.length > 8) {
      fail(`${name}: ${ride.kept.length} copies kept, at most 8 wanted`);
    }
  }
  const cpu = process.cpuUsage(started);
  const seconds = (cpu.user + cpu.system) / 1e6;

  // Refusals: a track cut short, a replay of another track, a replay cut
  // short, a replay before any track.
  const first = proofs[0].replace(/\.replay$/, '');
  const second = proofs[1].replace(/\.replay$/, '');
  const track = fs.readFileSync(path.join(tracksDir, first + '.vlt'));
  const fresh = new VeltoRide(core);
  if (fresh.loadTrack(track.subarray(0, track.length - 3)) !== "Cant't load the track.") {
    fail('a track cut short loads, or is refused with another text');
  }
  if (fresh.loadReplay(fs.readFileSync(path.join(proofDir, first + '.replay'))) !== 'no track loaded') {
    fail('a replay rides without a track');
  }
  if (fresh.loadTrack(track) !== null) {
    fail('the track does not load after a refused one');
  }
  const other = fresh.loadReplay(fs.readFileSync(path.join(proofDir, second + '.replay')));
  if (!other || !other.startsWith('a replay of another track')) {
    fail(`a replay of another track gives '${other}'`);
  }
  const replay = fs.readFileSync(path.join(proofDir, first + '.replay'));
  const cut = fresh.loadReplay(replay.subarray(0, replay.length - 4));
  if (!cut) {
    fail('a replay cut short loads');
  }
  if (fresh.ride(10) !== 0) {
    fail('a refused replay still rides');
  }

  const rate = seconds > 0 ? Math.round(steps / seconds) : 0;
  console.log(`web ride: ${proofs.length} proof runs, ${steps} steps in ${seconds.toFixed(2)} s of CPU` +
              ` (${rate} steps/s, ${(rate / 100).toFixed(0)}x real time), ${failures} failures`);
  process.exit(failures === 0 ? 0 : 1);
}

main().catch((e) => {
  console.log('web ride: ' + (e && e.stack ? e.stack : e));
  process.exit(1);
});
