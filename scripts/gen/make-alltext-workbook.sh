#!/usr/bin/env bash
# Writes the workbook pair of the all-text tests, tests/fixtures/all-text/workbook.xls and
# workbook.xlsx, from the one flat source workbook.fods with the office suite (run by hand;
# the results are committed, the suite is not a build dependency): apt-get install
# libreoffice-calc-nogui
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
DIR="$ROOT/tests/fixtures/all-text"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cp "$DIR/workbook.fods" "$WORK/"
cd "$WORK"
# A profile of its own, so that a running instance of the suite is not asked to do the work.
# It recalculates the source's formulas on loading, so that both files store the results
# the suite computes (without that, the 97-2003 filter writes 0 for a text result).
PROFILE="-env:UserInstallation=file://$WORK/profile"
mkdir -p "$WORK/profile/user"
cat > "$WORK/profile/user/registrymodifications.xcu" <<'XCU'
<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="ODFRecalcMode" oor:op="fuse"><value>0</value></prop></item>
</oor:items>
XCU
soffice "$PROFILE" --headless --convert-to 'xls:MS Excel 97' workbook.fods >&2
soffice "$PROFILE" --headless --convert-to 'xlsx:Calc MS Excel 2007 XML' workbook.fods >&2
cp workbook.xls workbook.xlsx "$DIR/"
