#!/usr/bin/env bash
# Writes the all-text fixture pairs in tests/fixtures/all-text/ with a real office suite (run
# once by hand; the results are committed, the suite is not a dependency of the build):
# apt-get install libreoffice-writer-nogui libreoffice-impress-nogui
#
# stories.fodt -> stories.doc + stories.docx: a body with a footnote, an endnote, a comment
#                 and a text box, a page header and footer.
# deck.fodp    -> deck.ppt + deck.pptx: three slides, the first and the last with notes. The
#                 suite names slide parts in the order the deck shows them, so the .pptx gets
#                 its first and last slide parts swapped afterwards (names, relationships and
#                 content types alike): its part names no longer follow the show order.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
DIR="$ROOT/tests/fixtures/all-text"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cp "$DIR/stories.fodt" "$DIR/deck.fodp" "$WORK/"
cd "$WORK"
export HOME="$WORK" # a profile of its own, away from the user's
soffice --headless --convert-to 'doc:MS Word 97' stories.fodt
soffice --headless --convert-to 'docx:MS Word 2007 XML' stories.fodt
soffice --headless --convert-to 'ppt:MS PowerPoint 97' deck.fodp
soffice --headless --convert-to 'pptx:Impress MS PowerPoint 2007 XML' deck.fodp
python3 - deck.pptx <<'PY'
import sys, zipfile

path = sys.argv[1]
swap = {"slide1.xml": "slide3.xml", "slide3.xml": "slide1.xml"}


def renamed(name):
    for folder in ("ppt/slides/", "ppt/slides/_rels/"):
        for old, new in swap.items():
            if name == folder + old or name == folder + old + ".rels":
                return name.replace(old, new)
    return name


def retargeted(data):
    text = data.decode("utf-8")
    text = text.replace("slides/slide1.xml", "\0").replace("slides/slide3.xml", "slides/slide1.xml")
    return text.replace("\0", "slides/slide3.xml").encode("utf-8")


with zipfile.ZipFile(path) as source:
    entries = [(info, source.read(info)) for info in source.infolist()]
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as target:
    for info, data in entries:
        name = renamed(info.filename)
        if name.endswith(".rels") or name == "[Content_Types].xml":
            data = retargeted(data)
        target.writestr(zipfile.ZipInfo(name, info.date_time), data, zipfile.ZIP_DEFLATED)
PY
cp stories.doc stories.docx deck.ppt deck.pptx "$DIR/"
