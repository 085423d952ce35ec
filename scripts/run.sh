#!/usr/bin/env bash
# Sets everything up, builds, puts a demo database beside the program when none is there, starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --run
bash scripts/build.sh
bin=build/src/app
if [ ! -f "$bin/db.MyDB" ]; then
    build/src/app/tenemark-db demo "$bin/db.MyDB"
    # A first column layout for the demo; the program itself starts with no columns until some are
    # ticked in "Вид таблицы".
    if [ ! -f "$bin/fields.ini" ]; then
        cat > "$bin/fields.ini" <<'INI'
[Checked]
Field0=1
Field1=1
Field2=1
Field3=1
Field5=1
Field6=1
Field10=1
Field11=1
Field19=1
Field20=1
Field21=1
[Width]
Field0=120
Field1=120
Field2=110
Field3=60
Field5=90
Field6=130
Field10=45
Field11=45
Field19=110
Field20=80
Field21=60
INI
    fi
fi
exec "$bin/tenemark"
