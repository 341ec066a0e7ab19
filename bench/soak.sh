#!/usr/bin/env bash
# Soak test (not in CI): plays many fast games of the Release brik against
# Stockfish limited to 1500 Elo through ../shared/tools/match and counts what
# must never happen to brik: crashes (and failed restarts), hangs, illegal or
# unparsable moves, time losses. Exits 1 when any of them is not zero.
#
#   bench/soak.sh [games]      default 1000, half at 1+0.01, half at 2+0.02
#
# Output (PGN, per-game log, JSON summary) goes to $SOAK_OUT, by default
# build/soak/<date-time>/. SOAK_SEED picks the opening order (default 13).
# SOAK_ENGINE replaces the engine command (to check the counting with the
# match tool's fake engines, e.g. "node .../tests/fake-engine.mjs crash").
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
games="${1:-1000}"
seed="${SOAK_SEED:-13}"
out="${SOAK_OUT:-$root/build/soak/$(date +%Y%m%d-%H%M%S)}"
controls=(1+0.01 2+0.02)
stockfish=/usr/games/stockfish
stockfish_elo=1500
concurrency=2

if ! [[ "$games" =~ ^[0-9]+$ ]] || [ "$games" -lt 1 ]; then
  echo "usage: bench/soak.sh [games]" >&2
  exit 2
fi

if [ ! -x "$stockfish" ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq >/dev/null || true
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq stockfish >/dev/null
fi
engine="${SOAK_ENGINE:-}"
if [ -z "$engine" ]; then
  "$root/scripts/build"
  engine="$root/build/brik"
fi

# The tool's folder may be read-only: a copy with its own node_modules.
tool="$(mktemp -d)"
trap 'rm -rf "$tool"' EXIT
cp -r "$root/../shared/tools/match/." "$tool/"
rm -rf "$tool/node_modules"
(cd "$tool" && npm ci --silent --no-audit --no-fund >/dev/null)

mkdir -p "$out"
echo "soak: $games games of brik against Stockfish (UCI_Elo $stockfish_elo), output in $out"
for i in "${!controls[@]}"; do
  tc="${controls[$i]}"
  # The first control gets the odd game.
  n=$(( games / ${#controls[@]} + (i < games % ${#controls[@]} ? 1 : 0) ))
  [ "$n" -eq 0 ] && continue
  name="tc-$tc"
  # Exit status 1 (an engine could not start at all) still leaves a summary
  # to count from; only bad arguments stop the soak.
  status=0
  node "$tool/match.mjs" --engine1 "$engine" --name1 brik \
    --engine2 "$stockfish" --name2 "SF$stockfish_elo" \
    --option2 UCI_LimitStrength=true --option2 UCI_Elo="$stockfish_elo" --option2 Threads=1 \
    --games "$n" --tc "$tc" --concurrency "$concurrency" \
    --openings openings-6to8ply.epd --seed "$seed" \
    --pgn "$out/$name.pgn" >"$out/$name.json" 2>"$out/$name.log" || status=$?
  if [ "$status" -ge 2 ]; then
    echo "match at $tc failed with status $status:" >&2
    tail -5 "$out/$name.log" >&2
    exit 1
  fi
  grep -E "^(Finished|brik vs|Endings|Forfeits)" "$out/$name.log" | sed "s/^/  $tc: /" || true
done

# brik's forfeits by kind, from the JSON line of every match.
node - "$out"/tc-*.json <<'JS'
const fs = require('fs');
const kinds = {
  crashes: ['crash', 'start-failure'],
  hangs: ['hang'],
  'illegal moves': ['illegal-move', 'unparsable-move'],
  'time losses': ['time-forfeit'],
};
const totals = Object.fromEntries(Object.keys(kinds).map((k) => [k, 0]));
let played = 0, planned = 0, wins = 0, draws = 0, losses = 0;
for (const file of process.argv.slice(2)) {
  const text = fs.readFileSync(file, 'utf8').trim();
  if (!text) { console.error(`${file}: no summary`); process.exit(1); }
  const r = JSON.parse(text.split('\n').pop());
  played += r.games; planned += r.gamesPlanned;
  wins += r.wins; draws += r.draws; losses += r.losses;
  for (const [k, reasons] of Object.entries(kinds))
    for (const reason of reasons) totals[k] += r.forfeits.engine1[reason] ?? 0;
}
console.log(`games ${played} of ${planned}: brik +${wins} =${draws} -${losses}`);
console.log(Object.entries(totals).map(([k, v]) => `${k} ${v}`).join(', '));
const bad = played !== planned || Object.values(totals).some((v) => v > 0);
console.log(bad ? 'SOAK FAILED' : 'soak clean');
process.exit(bad ? 1 : 0);
JS
