#!/usr/bin/env bash
# The pipeline benchmark: builds the release tools, fetches the public SpamAssassin
# corpus (cached outside the repository, see scripts/corpus-data.sh) and times one
# new-mail pass of the plug-in over 1 000 new mails in an Inbox of 10 000 against
# `lexisift process` over the same mails (see bench/pipeline_bench.cpp). Extra arguments
# go to pipeline_bench (--inbox N, --new N, --repeat N).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
mail=$(bash scripts/corpus-data.sh)
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j "$(nproc)" --target pipeline_bench >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "corpus: $mail"
build/linux-release/bin/pipeline_bench --corpus "$mail" --work "$work" \
  --lexisift build/linux-release/bin/lexisift "$@"
