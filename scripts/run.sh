#!/usr/bin/env bash
# Sets everything up, builds, puts a demo database beside the program when none is there, starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
bin=build/src/app
if [ ! -f "$bin/db.MyDB" ]; then
    build/tools/tenemark-db/tenemark-db demo "$bin/db.MyDB"
fi
exec "$bin/tenemark"
