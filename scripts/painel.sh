#!/usr/bin/env bash
# The phone panel's tools: `painel.sh build` builds web/dist (what the program compiles in),
# `painel.sh testar` type-checks, runs the unit tests and builds.
set -euo pipefail
raiz="$(cd "$(dirname "$0")/.." && pwd)"

# npm packages, installed again only when the lock file changed.
if [ ! -f "$raiz/web/node_modules/.package-lock.json" ] ||
   [ "$raiz/web/package-lock.json" -nt "$raiz/web/node_modules/.package-lock.json" ]; then
  ( cd "$raiz/web" && npm ci --no-audit --no-fund )
fi

cd "$raiz/web"
case "${1:-build}" in
  build)  npm run --silent build ;;
  testar) npm run --silent typecheck && npm test && npm run --silent build ;;
  e2e)    npm run --silent e2e ;;
  *) echo "uso: painel.sh [build|testar|e2e]" >&2; exit 2 ;;
esac
