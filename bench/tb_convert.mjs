// Tablebase conversions: Brik, with SyzygyPath set, plays the winning side of
// each position against Stockfish (Hash 16, one thread, no tables), both at a
// fixed time a move. A position passes when Brik mates before the fifty-move
// rule, a repetition or a stalemate can end the game.
//
//   node bench/tb_convert.mjs --match-dir DIR [--brik BIN] [--stockfish BIN]
//        [--syzygy DIR] [--positions FILE] [--movetime MS]
//
// DIR is a copy of the match tool with its packages installed (npm ci): the
// referee is its chess.js. Positions are FEN lines (text after ";" is a
// comment); the winning side is the one with more material. Exits with status
// 1 unless every position is converted.
import { spawn } from 'node:child_process';
import { createInterface } from 'node:readline';
import { createRequire } from 'node:module';
import { readFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const args = {
  brik: join(root, 'build/brik'),
  stockfish: '/usr/games/stockfish',
  syzygy: resolve(root, '../shared/syzygy'),
  positions: join(root, 'bench/tb_convert.epd'),
  movetime: '1000',
  'match-dir': '',
};
for (let i = 2; i < process.argv.length; i += 2) {
  const key = process.argv[i].replace(/^--/, '');
  if (!(key in args) || i + 1 >= process.argv.length) {
    console.error(`tb_convert: unknown or incomplete option ${process.argv[i]}`);
    process.exit(2);
  }
  args[key] = process.argv[i + 1];
}
if (!args['match-dir']) {
  console.error('tb_convert: --match-dir DIR (the match tool, with npm ci done) is required');
  process.exit(2);
}
const { Chess } = createRequire(join(resolve(args['match-dir']), 'package.json'))('chess.js');

const MAX_PLIES = 300;
const REPLY_TIMEOUT_MS = 30000 + Number(args.movetime) * 4;

function start_engine(path, options) {
  const child = spawn(path, [], { stdio: ['pipe', 'pipe', 'inherit'] });
  const lines = createInterface({ input: child.stdout });
  let waiting = null;
  const queue = [];
  lines.on('line', (line) => {
    if (waiting && waiting.test(line)) {
      const w = waiting;
      waiting = null;
      w.resolve(line);
    } else queue.push(line);
  });
  const engine = {
    send: (text) => child.stdin.write(text + '\n'),
    // Resolves with the first line matching `pattern`, earlier lines dropped.
    wait_for: (pattern) =>
      new Promise((resolve_line, reject) => {
        while (queue.length) {
          const line = queue.shift();
          if (pattern.test(line)) return resolve_line(line);
        }
        const timer = setTimeout(() => reject(new Error(`${path}: no ${pattern} in time`)), REPLY_TIMEOUT_MS);
        waiting = {
          test: (line) => pattern.test(line),
          resolve: (line) => { clearTimeout(timer); resolve_line(line); },
        };
      }),
    quit: () => { child.stdin.end('quit\n'); },
  };
  engine.send('uci');
  return engine.wait_for(/^uciok/).then(() => {
    for (const [name, value] of options) engine.send(`setoption name ${name} value ${value}`);
    engine.send('isready');
    return engine.wait_for(/^readyok/).then(() => engine);
  });
}

const VALUES = { p: 1, n: 3, b: 3, r: 5, q: 9, k: 0 };
function winning_colour(fen) {
  let balance = 0;
  for (const ch of fen.split(' ')[0]) {
    const v = VALUES[ch.toLowerCase()];
    if (v !== undefined) balance += ch === ch.toLowerCase() ? -v : v;
  }
  return balance > 0 ? 'w' : 'b';
}

async function play(fen, brik, stockfish) {
  const game = new Chess(fen);
  const brik_colour = winning_colour(fen);
  const moves = [];
  for (const e of [brik, stockfish]) {
    e.send('ucinewgame');
    e.send('isready');
    await e.wait_for(/^readyok/);
  }
  while (!game.isGameOver() && moves.length < MAX_PLIES) {
    const engine = game.turn() === brik_colour ? brik : stockfish;
    engine.send(`position fen ${fen}${moves.length ? ' moves ' + moves.join(' ') : ''}`);
    engine.send(`go movetime ${args.movetime}`);
    const line = await engine.wait_for(/^bestmove/);
    const uci = line.split(/\s+/)[1];
    const move = game.move({ from: uci.slice(0, 2), to: uci.slice(2, 4), promotion: uci[4] }, { strict: false });
    if (!move) return { result: `illegal move ${uci}`, plies: moves.length };
    moves.push(uci);
  }
  let result = 'unfinished';
  if (game.isCheckmate()) result = game.turn() === brik_colour ? 'Brik mated' : 'mate';
  else if (game.isStalemate()) result = 'stalemate';
  else if (game.isThreefoldRepetition()) result = 'repetition';
  else if (game.isInsufficientMaterial()) result = 'insufficient material';
  else if (game.isDraw()) result = 'fifty-move rule';
  return { result, plies: moves.length, moves };
}

const positions = readFileSync(args.positions, 'utf8')
  .split('\n')
  .map((l) => l.split(';'))
  .filter(([fen]) => fen.trim())
  .map(([fen, comment]) => ({ fen: fen.trim(), comment: (comment || '').trim() }));

const brik = await start_engine(args.brik, [['SyzygyPath', args.syzygy]]);
const stockfish = await start_engine(args.stockfish, [['Threads', 1], ['Hash', 16]]);
let converted = 0;
for (const { fen, comment } of positions) {
  const r = await play(fen, brik, stockfish);
  if (r.result === 'mate') converted++;
  console.log(`${r.result === 'mate' ? 'ok  ' : 'FAIL'} ${r.result.padEnd(16)} ${String(r.plies).padStart(3)} plies` +
    `  ${fen}${comment ? '  ; ' + comment : ''}`);
  if (r.result !== 'mate' && r.moves) console.log(`     moves ${r.moves.join(' ')}`);
}
brik.quit();
stockfish.quit();
console.log(`converted ${converted} of ${positions.length} at ${args.movetime} ms a move`);
process.exit(converted === positions.length ? 0 : 1);
