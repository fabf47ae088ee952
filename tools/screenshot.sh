#!/usr/bin/env bash
# Takes docs/screenshot.png: the window under Xvfb with a complete sample NZB loaded.
#   tools/screenshot.sh [BUILD_DIR]    (needs xvfb and imagemagick)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
{
    echo '<?xml version="1.0" encoding="utf-8"?>'
    echo '<nzb xmlns="http://www.newzbin.com/DTD/2003/nzb">'
    for i in 1 2 3 4 5; do
        echo "<file date=\"$(( $(date +%s) - 86400 * 12 ))\" subject=\"[$i/5] - &quot;Holiday.Pictures.part$i.rar&quot; yEnc (1/3)\">"
        echo '<groups><group>alt.binaries.pictures</group></groups><segments>'
        for s in 1 2 3; do echo "<segment bytes=\"768000\" number=\"$s\">p$i-s$s.holiday@example.invalid</segment>"; done
        echo '</segments></file>'
    done
    echo '</nzb>'
} > "$work/holiday.nzb"
cat > "$work/shoot.sh" <<SHOT
#!/usr/bin/env bash
"$build/app/Orvalis" "$work/holiday.nzb" & pid=\$!
sleep 3
import -window root "$work/root.png"
kill \$pid
SHOT
chmod +x "$work/shoot.sh"
xvfb-run -a -s "-screen 0 1024x700x24" "$work/shoot.sh"
convert "$work/root.png" -trim +repage docs/screenshot.png
