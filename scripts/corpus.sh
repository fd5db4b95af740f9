#!/usr/bin/env bash
# The speed benchmark: fetches the public SpamAssassin corpus (cached outside the
# repository, see scripts/corpus-data.sh), builds the release harness and runs it. Both
# our filter and bogofilter learn easy-ham-1 and spam-1 and then classify-and-learn
# easy-ham-2, hard-ham-1 and spam-2: on an empty store, on a store grown first by 6000
# synthetic mails, and (ours only) on the shared store opened for every mail; ours in
# the harness's process and through `lexisift learn` / `lexisift process` as a user runs
# them. Then the plug-in's new-mail pass over an Inbox of 10 000 mails runs against the
# classifier alone. The tables give what each caught and took for spam, the mails per
# second of learning and processing (wall clock and processor time, best of three), peak
# memory of every run, and our rates divided by bogofilter's, gathered at the end. The
# harness fails when a store file, backup or verdict differs from the digests recorded
# in bench/corpus_digests.txt.
#   scripts/corpus.sh [corpus_bench options, e.g. --phases corpus,cli --repeat 1]
# Run as root on Debian 12; installs what it needs only when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
if ! command -v bogofilter >/dev/null; then
  echo "installing: bogofilter"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends bogofilter
fi
mail=$(bash scripts/corpus-data.sh)

cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j "$(nproc)" --target corpus_bench >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "corpus: $mail"
build/linux-release/bin/corpus_bench --corpus "$mail" --work "$work" --bogofilter "$(command -v bogofilter)" \
  --lexisift build/linux-release/bin/lexisift --digests bench/corpus_digests.txt "$@"
