#!/usr/bin/env bash
# The main job: builds the release tools, then lets the filter learn a sample of the
# public SpamAssassin corpus and judge mails it has not seen, printing each verdict and an
# accuracy table. The store is a file in a temporary folder, removed at the end. Without
# the corpus (no network) the sample mails in samples/mail stand in.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j "$(nproc)" --target lexisift >/dev/null
lexisift=$root/build/linux-release/bin/lexisift

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
store=$work/tokens.dat

# COUNT files of folder DIR, evenly spread over its sorted listing, as DIR/NAME.
pick() {
  local dir=$1 count=$2
  find "$dir" -maxdepth 1 -type f -name '*.eml' -printf '%f\n' | LC_ALL=C sort |
    awk -v n="$count" -v dir="$dir" '{ name[NR] = $0 }
      END { if (NR == 0) exit; step = NR / n; if (step < 1) step = 1
            for (i = 0; i < n && int(i * step) < NR; i++) print dir "/" name[int(i * step) + 1] }'
}

if mail=$(bash scripts/corpus-data.sh 2>"$work/corpus.log"); then
  cd "$mail"
  pick easy-ham-1 300 > "$work/learn-ham"
  pick spam-1 300 > "$work/learn-spam"
  { pick easy-ham-2 100; pick hard-ham-1 50; pick spam-2 100; } > "$work/check"
  echo "corpus: $mail"
else
  echo "corpus unavailable ($(tail -n 1 "$work/corpus.log")); using the sample mails in samples/mail instead"
  cd "$root/samples/mail"
  { echo 01-team-meeting.eml; echo 03-invoice-reminder.eml; ls ham/*.eml | head -n 20; } > "$work/learn-ham"
  { echo 02-cheap-pills.eml; ls spam/*.eml | awk 'NR % 2 == 1'; } > "$work/learn-spam"
  { ls ham/*.eml | tail -n +21; echo 04-lottery-winner.eml; ls spam/*.eml | awk 'NR % 2 == 0'; } > "$work/check"
fi

mapfile -t ham < "$work/learn-ham"
mapfile -t spam < "$work/learn-spam"
mapfile -t check < "$work/check"
"$lexisift" learn --store "$store" --ham "${ham[@]}"
"$lexisift" learn --store "$store" --spam "${spam[@]}"
echo "learned ${#ham[@]} ham and ${#spam[@]} spam mails; judging ${#check[@]} others (each is learned as judged)"
echo

"$lexisift" process --store "$store" "${check[@]}" | tee "$work/verdicts"

# The truth of a mail: its corpus folder, or for the samples what each was written as.
echo
awk -F '\t' '
  function group(file) { return file ~ /\// ? substr(file, 1, index(file, "/") - 1) : "samples" }
  function isSpam(file) { return file ~ /^spam/ || file ~ /cheap-pills|lottery-winner/ }
  {
    g = group($2); if (!(g in mails)) order[++groups] = g
    mails[g]++; right = (($1 == "spam") == isSpam($2)); correct[g] += right; total++; totalRight += right
    if ($1 == "spam") asSpam[g]++
  }
  END {
    printf "%-12s %6s %8s %8s %9s\n", "group", "mails", "as spam", "correct", "accuracy"
    for (i = 1; i <= groups; i++) {
      g = order[i]
      printf "%-12s %6d %8d %8d %8.1f%%\n", g, mails[g], asSpam[g], correct[g], 100 * correct[g] / mails[g]
    }
    if (total) printf "%-12s %6d %8s %8d %8.1f%%\n", "all", total, "", totalRight, 100 * totalRight / total
  }' "$work/verdicts"
