#!/usr/bin/env bash
# Writes the bundled samples in samples/ with a real office suite (run once by hand; the
# results are committed, the suite is not a dependency): apt-get install
# libreoffice-writer-nogui libreoffice-calc-nogui libreoffice-impress-nogui
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
SRC="$ROOT/scripts/gen/samples"
OUT="$ROOT/samples"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cp "$OUT/sample.html" "$SRC/sample.csv" "$SRC/sample.fodp" "$WORK/"
cd "$WORK"
soffice --headless --convert-to 'doc:MS Word 97' sample.html
soffice --headless --convert-to 'docx:MS Word 2007 XML' sample.html
soffice --headless --convert-to 'rtf:Rich Text Format' sample.html
soffice --headless --convert-to 'pdf:writer_web_pdf_Export' sample.html
soffice --headless --infilter=CSV:44,34,76,1 --convert-to 'xls:MS Excel 97' sample.csv
soffice --headless --infilter=CSV:44,34,76,1 --convert-to 'xlsx:Calc MS Excel 2007 XML' sample.csv
soffice --headless --convert-to 'ppt:MS PowerPoint 97' sample.fodp
soffice --headless --convert-to 'pptx:Impress MS PowerPoint 2007 XML' sample.fodp
cp sample.doc sample.docx sample.rtf sample.pdf sample.xls sample.xlsx sample.ppt sample.pptx "$OUT/"
