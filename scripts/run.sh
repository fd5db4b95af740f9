#!/usr/bin/env bash
# The main job: builds the release tools and runs the engine over the sample mails,
# printing each mail's tokens with their counts.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j "$(nproc)" --target lexisift >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for mail in samples/mail/*.eml; do
  # Header: everything before the first empty line; body: everything after it.
  awk '/^\r?$/ {exit} {print}' "$mail" > "$work/header"
  awk 'body {print} /^\r?$/ && !body {body=1}' "$mail" > "$work/body"
  echo "== $(basename "$mail")"
  build/linux-release/bin/lexisift tokens --header "$work/header" --body "$work/body"
done
