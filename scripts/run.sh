#!/usr/bin/env bash
# The main job: the spam filter end to end over the stand-in mail client.
#
# A new identity and store folder (registry and files in a temporary folder). 300 ham
# mails of the public SpamAssassin corpus and 100 spam mails are in the Inbox when the
# plug-in (the headless host, kestrelon-host) attaches; its first pass is the first-run
# scan, which learns the whole Inbox as real mail. The spam is then taught with "Delete
# Spam" on its selected rows. Held-back corpus mails follow in batches, delivered by
# another process while the host watches the Inbox (notification mode): spam is deleted
# and archived as it arrives. One ham mail that was deleted is read in Deleted Items and
# moved back, and the next pass confirms it as real mail. At the end: the event log's
# tail, the folder counts, the archive and the accuracy per corpus folder. Without the
# corpus (no network) the sample mails in samples/mail stand in.
#
#   bash scripts/run.sh                the end-to-end run
#   bash scripts/run.sh --classifier   the classifier alone: lexisift learns a corpus sample
#                                      and judges mails it has not seen
#
# Run as root on Debian 12; installs what it needs through scripts/install-deps.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

mode=pipeline
case "${1:-}" in
  "") ;;
  --classifier) mode=classifier ;;
  *)
    echo "usage: bash scripts/run.sh [--classifier]" >&2
    exit 64
    ;;
esac

bash scripts/install-deps.sh
cmake --preset linux-release >/dev/null
bin=$root/build/linux-release/bin

work=$(mktemp -d)
host_pid=
cleanup() {
  if [ -n "$host_pid" ]; then kill "$host_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
# A registry of the run's own: nothing registered elsewhere on the machine takes part.
export KESTRELON_REGISTRY=$work/registry

# COUNT files of folder DIR, evenly spread over its sorted listing, as DIR/NAME.
pick() {
  local dir=$1 count=$2
  find "$dir" -maxdepth 1 -type f -name '*.eml' -printf '%f\n' | LC_ALL=C sort |
    mawk -v n="$count" -v dir="$dir" '{ name[NR] = $0 }
      END { if (NR == 0) exit; step = NR / n; if (step < 1) step = 1
            for (i = 0; i < n && int(i * step) < NR; i++) print dir "/" name[int(i * step) + 1] }'
}

# The lines of the named list files merged evenly, each list spread over the whole.
interleave() {
  mawk '{ n[FILENAME]++; line[FILENAME, n[FILENAME]] = $0; if (!(FILENAME in seen)) { seen[FILENAME]; files[++f] = FILENAME } }
    END { for (i = 1; i <= f; i++) for (j = 1; j <= n[files[i]]; j++)
            printf "%.6f\t%s\n", (j - 0.5) / n[files[i]], line[files[i], j] }' "$@" |
    LC_ALL=C sort -s -t $'\t' -k1,1n | cut -f2-
}

# The truth of a mail file: "<group>\t<0|1>" with 1 for spam. Corpus mails belong to their
# folder; the samples to samples/ham or samples/spam.
truth() {
  mawk '{ file = $0
         if (file ~ /^samples\//) { spam = file ~ /\/spam\// || file ~ /cheap-pills|lottery-winner/
                                    group = spam ? "samples/spam" : "samples/ham" }
         else { group = substr(file, 1, index(file, "/") - 1); spam = group ~ /^spam/ }
         print group "\t" (spam ? 1 : 0) }'
}

accuracy_table() {  # lines "<verdict spam 0|1>\t<group>\t<truth spam 0|1>"
  mawk -F '\t' '
    { g = $2; if (!(g in mails)) order[++groups] = g
      mails[g]++; right = ($1 == $3); correct[g] += right; total++; totalRight += right
      if ($1 == 1) asSpam[g]++ }
    END {
      printf "      %-14s %6s %8s %8s %9s\n", "folder", "mails", "as spam", "correct", "accuracy"
      for (i = 1; i <= groups; i++) {
        g = order[i]
        printf "      %-14s %6d %8d %8d %8.1f%%\n", g, mails[g], asSpam[g], correct[g], 100 * correct[g] / mails[g]
      }
      if (total) printf "      %-14s %6d %8s %8d %8.1f%%\n", "all", total, "", totalRight, 100 * totalRight / total
    }'
}

classifier_demo() {
  cmake --build --preset linux-release -j "$(nproc)" --target lexisift >/dev/null
  local lexisift=$bin/lexisift store=$work/tokens.dat
  if mail=$(bash scripts/corpus-data.sh 2>"$work/corpus.log"); then
    cd "$mail"
    pick easy-ham-1 300 >"$work/learn-ham"
    pick spam-1 300 >"$work/learn-spam"
    { pick easy-ham-2 100; pick hard-ham-1 50; pick spam-2 100; } >"$work/check"
    echo "corpus: $mail"
  else
    echo "corpus unavailable ($(tail -n 1 "$work/corpus.log")); using the sample mails in samples/mail instead"
    cd "$root"
    { echo samples/mail/01-team-meeting.eml; echo samples/mail/03-invoice-reminder.eml; ls samples/mail/ham/*.eml | sed -n 1,20p; } >"$work/learn-ham"
    { echo samples/mail/02-cheap-pills.eml; ls samples/mail/spam/*.eml | mawk 'NR % 2 == 1'; } >"$work/learn-spam"
    { ls samples/mail/ham/*.eml | tail -n +21; echo samples/mail/04-lottery-winner.eml; ls samples/mail/spam/*.eml | mawk 'NR % 2 == 0'; } >"$work/check"
  fi
  mapfile -t ham <"$work/learn-ham"
  mapfile -t spam <"$work/learn-spam"
  mapfile -t check <"$work/check"
  "$lexisift" learn --store "$store" --ham "${ham[@]}"
  "$lexisift" learn --store "$store" --spam "${spam[@]}"
  echo "learned ${#ham[@]} ham and ${#spam[@]} spam mails; judging ${#check[@]} others (each is learned as judged)"
  echo
  "$lexisift" process --store "$store" "${check[@]}" | tee "$work/verdicts"
  echo
  cut -f2 "$work/verdicts" | truth >"$work/truth"
  paste <(cut -f1 "$work/verdicts" | sed 's/^spam$/1/; s/^ham$/0/') "$work/truth" | accuracy_table
}

if [ "$mode" = classifier ]; then
  classifier_demo
  exit 0
fi

cmake --build --preset linux-release -j "$(nproc)" --target kestrelon-host lexisift oe-client >/dev/null

# --- the mails: which ones, in which role -----------------------------------------------
if mail=$(bash scripts/corpus-data.sh 2>"$work/corpus.log"); then
  source_note="corpus: $mail"
  cd "$mail"
  pick easy-ham-1 300 >"$work/first-ham"
  pick spam-1 100 >"$work/teach-spam"
  pick easy-ham-2 150 >"$work/s1"
  pick hard-ham-1 50 >"$work/s2"
  pick spam-2 150 >"$work/s3"
  batch_size=25
else
  source_note="corpus unavailable ($(tail -n 1 "$work/corpus.log")); the sample mails in samples/mail stand in"
  mail=$root
  cd "$root"
  { echo samples/mail/01-team-meeting.eml; echo samples/mail/03-invoice-reminder.eml; ls samples/mail/ham/*.eml | sed -n 1,20p; } >"$work/first-ham"
  { echo samples/mail/02-cheap-pills.eml; ls samples/mail/spam/*.eml | mawk 'NR % 2 == 1'; } >"$work/teach-spam"
  ls samples/mail/ham/*.eml | tail -n +21 >"$work/s1"
  { echo samples/mail/04-lottery-winner.eml; ls samples/mail/spam/*.eml | mawk 'NR % 2 == 0'; } >"$work/s3"
  : >"$work/s2"
  batch_size=4
fi
interleave "$work/s1" "$work/s2" "$work/s3" >"$work/stream"

# --- a new identity and store -----------------------------------------------------------
export KESTRELON_DETECTION=notification
store=$work/store
oe() { "$bin/oe-client" "$@"; }
"$bin/lexisift" register
oe init "$store"

host_fail() {
  echo
  echo "run.sh: $*" >&2
  echo "--- last lines of the host's output" >&2
  tail -n 20 "$work/host.out" >&2 || true
  cat "$work/host.err" >&2 || true
  exit 1
}
count_lines() { grep -ac -- "$1" "$work/host.out" || true; }
# Waits until at least COUNT lines of the host's output match PATTERN.
wait_lines() {
  local pattern=$1 count=$2
  for _ in $(seq 1200); do
    [ "$(count_lines "$pattern")" -ge "$count" ] && return 0
    kill -0 "$host_pid" 2>/dev/null || host_fail "the host ended unexpectedly"
    sleep 0.1
  done
  host_fail "waited two minutes for '$pattern'"
}
tell() { printf '%s\n' "$*" >&7; }
# Sends `echo TAG` and waits for it: every command before it has been carried out.
sync_host() {
  tell "echo $1"
  wait_lines "^echo"$'\t'"$1\$" 1
}
show() { sed 's/^/      /'; }
progress() {
  if [ -t 1 ]; then printf '\r      %s\033[K' "$*"; else printf '      %s\n' "$*"; fi
}

# Delivers the files named in FILE (one edit); appends "<id>\t<group>\t<truth>\t<file>"
# lines to the record of delivered mails.
deliver_list() {
  local list=$1 role=$2
  mapfile -t files <"$list"
  [ ${#files[@]} -gt 0 ] || return 0
  (cd "$mail" && oe deliver "$store" "${files[@]}") >"$work/ids"
  paste "$work/ids" <(truth <"$list") "$list" | sed "s/\$/\t$role/" >>"$work/delivered"
}
: >"$work/delivered"

echo "== Kestrelon end to end over the stand-in mail client"
echo "$source_note"
echo "store folder: $store"

echo "[1/5] first-run scan"
deliver_list "$work/first-ham" first
deliver_list "$work/teach-spam" teach
echo "      Inbox: $(wc -l <"$work/first-ham") ham and $(wc -l <"$work/teach-spam") spam mails"
mkfifo "$work/host.in"
"$bin/kestrelon-host" --answer yes <"$work/host.in" >"$work/host.out" 2>"$work/host.err" &
host_pid=$!
exec 7>"$work/host.in"
wait_lines $'^attached\t' 1
sed -n $'s/^attached\t\\(.*\\)\t\\(.*\\)$/      attached to \\1 (\\2 mode)/p' "$work/host.out"
tell pass
wait_lines $'^box\tKestrelon Spam Filter\tInbox scan has finished' 1
echo "      learned $(grep -a -m1 $'^progress\trange' "$work/host.out" | cut -f3) mails as real mail; the plug-in says:"
grep -a -m1 $'^box\tKestrelon Spam Filter\tInbox scan' "$work/host.out" | cut -f3 | sed 's/\\r\\n/\n/g' | show

echo "[2/5] Delete Spam on the $(wc -l <"$work/teach-spam") spam rows"
tell "select-id $(mawk -F '\t' '$5 == "teach" { printf "%s ", $1 }' "$work/delivered")"
tell delete-spam
sync_host taught
taught=$(count_lines $'^log\tSpam Mail manually deleted')
echo "      $taught mails learned as spam and deleted, e.g.:"
grep -a $'^log\tSpam Mail manually deleted' "$work/host.out" | sed -n 1,3p | cut -f2 | show

echo "[3/5] new mail in batches of $batch_size while the host watches (spam archive on);"
echo "      after each pass the user deletes the spam it missed with Delete Spam"
tell set archive on
sync_host archiving
total=$(wc -l <"$work/stream")
batches=$(((total + batch_size - 1) / batch_size))
split -l "$batch_size" -d -a 4 "$work/stream" "$work/batch."
: >"$work/verdicts"
: >"$work/moved"
done_mails=0
taught=0
b=0
for batch in "$work"/batch.*; do
  b=$((b + 1))
  passes=$(count_lines $'^cursor\trestore$')
  deleted_before=$(oe list "$store" Deleted | wc -l)
  first_line=$(($(wc -l <"$work/delivered") + 1))
  deliver_list "$batch" stream
  done_mails=$((done_mails + $(wc -l <"$batch")))
  wait_lines $'^cursor\trestore$' $((passes + 1))
  # The pass's verdicts: a mail that left the Inbox was judged spam. Its deletions went
  # into Deleted Items in the order of the ids, behind what was there before.
  tail -n +"$first_line" "$work/delivered" >"$work/batch-delivered"
  oe list "$store" Inbox | cut -f1 >"$work/inbox-ids"
  mawk -F '\t' 'NR == FNR { kept[$1]; next } { print (($1 in kept) ? 0 : 1) "\t" $2 "\t" $3 "\t" $1 "\t" $4 }' \
    "$work/inbox-ids" "$work/batch-delivered" >"$work/batch-verdicts"
  cat "$work/batch-verdicts" >>"$work/verdicts"
  paste <(mawk -F '\t' '$1 == 1 { print $4 }' "$work/batch-verdicts") \
    <(oe list "$store" Deleted | tail -n +"$((deleted_before + 1))" | cut -f1) >>"$work/moved"
  missed=$(mawk -F '\t' '$1 == 0 && $3 == 1 { printf "%s ", $4 }' "$work/batch-verdicts")
  if [ -n "$missed" ]; then
    tell "select-id $missed"
    tell delete-spam
    sync_host "taught-$b"
    taught=$((taught + $(printf '%s' "$missed" | wc -w)))
  fi
  progress "batch $b/$batches: $done_mails of $total mails delivered," \
    "$(mawk -F '\t' '$1 == 1' "$work/verdicts" | wc -l) deleted as spam, $taught missed spam taught"
done
if [ -t 1 ]; then echo; fi

echo "[4/5] a wrongly deleted mail moved back"
wrong=$(mawk -F '\t' '$1 == 1 && $3 == 0 { print $4; exit }' "$work/verdicts")
deleted_id=$(mawk -F '\t' -v id="$wrong" '$1 == id { print $2 }' "$work/moved")
if [ -z "$wrong" ] || [ -z "$deleted_id" ]; then
  echo "      no ham mail was deleted: nothing to move back"
else
  file=$(mawk -F '\t' -v id="$wrong" '$1 == id { print $4 }' "$work/delivered")
  entry=$(oe list "$store" Deleted | mawk -F '\t' -v id="$deleted_id" '$1 == id')
  echo "      $file, from $(printf '%s' "$entry" | cut -f4): \"$(printf '%s' "$entry" | cut -f5)\""
  oe read "$store" "$deleted_id" Deleted
  confirmed=$(count_lines $'^log\tFalse Positive Mail')
  new_id=$(oe move-back "$store" "$deleted_id")
  echo "      read in Deleted Items and moved back into the Inbox as message $new_id"
  wait_lines $'^log\tFalse Positive Mail' $((confirmed + 1))
  grep -a $'^box\tKestrelon Spam Filter\tIs the mail' "$work/host.out" | tail -n 1 | cut -f3,5 |
    sed 's/\\r\\n/ /g; s/\t/ -> /' | show
  grep -a $'^log\tFalse Positive Mail' "$work/host.out" | tail -n 1 | cut -f2 | show
fi
tell quit
exec 7>&-
wait "$host_pid" || host_fail "the host did not end cleanly"
host_pid=

echo "[5/5] results"
echo "    event log (last 12 entries of $store/Kestrelon.log):"
tail -n 12 "$store/Kestrelon.log" | tr -d '\r' | show
echo "    folders: Inbox $(oe list "$store" Inbox | wc -l), Deleted Items $(oe list "$store" Deleted | wc -l) messages"
archived=$(find "$store/SpamArchive" -type f 2>/dev/null | wc -l)
echo "    spam archive ($store/SpamArchive): $archived files, e.g.:"
find "$store/SpamArchive" -type f -printf '%f\n' 2>/dev/null | LC_ALL=C sort | sed -n 1,5p | show
echo "    the new mails judged, by corpus folder:"
cut -f1-3 "$work/verdicts" | accuracy_table
