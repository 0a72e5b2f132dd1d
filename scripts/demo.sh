#!/usr/bin/env bash
# Builds the agent and prints a document end to end: orsanto-print writes a
# job with real EMF pages and hands it over as the printer side does, the
# agent delivers it by WM_COPYDATA, and the sample client shows the pages.
# The activity log and a screenshot are saved in build/demo/.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
trap orsanto_cleanup EXIT

orsanto_install xwd:x11-apps /usr/bin/convert-im6.q16:imagemagick
orsanto_build
orsanto_start_display
orsanto_start_wine

out=$ORSANTO_ROOT/build/demo
rm -rf "$out"
mkdir -p "$out"

# Lay the agent out as an installation would: its programs in one folder.
install_dir=$WINEPREFIX/drive_c/Orsanto
mkdir -p "$install_dir"
for program in orsanto-agent.exe CustomRoutine.exe progress.exe orstdisp.exe orsanto-sample-client.exe; do
  [[ -f $ORSANTO_BIN/$program ]] && cp "$ORSANTO_BIN/$program" "$install_dir/"
done

key='HKLM\Software\Orsanto'
reg_add() { wine reg add "$key" /v "$1" /t "$2" /d "$3" /f >/dev/null 2>&1; }
reg_add Log REG_DWORD 1
reg_add "Transfer Mode" REG_DWORD 1
# Quoted program path: the agent then passes the value on unchanged.
reg_add "Client Application" REG_SZ '"C:\Orsanto\orsanto-sample-client.exe" --class OrsantoSampleClient'
reg_add "Target Window Class" REG_SZ OrsantoSampleClient
reg_add "Message ID" REG_DWORD 1234

orsanto_log "starting the agent"
wine 'C:\Orsanto\orsanto-agent.exe' >/dev/null 2>&1 &
for _ in $(seq 100); do
  grep -qa 'W.a.i.t.i.n.g' "$WINEPREFIX/drive_c/vp_log.txt" 2>/dev/null && break
  sleep 0.1
done

orsanto_log "printing a three-page document"
wine "$ORSANTO_BIN/orsanto-print.exe" --pages 3 --folder 'C:\Orsanto\jobs'

# The client starts, receives the path and draws the pages.
for _ in $(seq 100); do
  grep -qa 'S.e.n.d.i.n.g. .W.M._.C.O.P.Y.D.A.T.A' "$WINEPREFIX/drive_c/vp_log.txt" 2>/dev/null && break
  sleep 0.1
done
sleep 2
xwd -root -silent -display "$DISPLAY" | /usr/bin/convert-im6.q16 xwd:- "$out/screenshot.png"

orsanto_log "ending the agent"
wine "$ORSANTO_BIN/orsanto-print.exe" --stop-agent

iconv -f UTF-16 -t UTF-8 "$WINEPREFIX/drive_c/vp_log.txt" >"$out/vp_log.txt"
orsanto_log "activity log ($out/vp_log.txt):"
cat "$out/vp_log.txt"
orsanto_log "screenshot: $out/screenshot.png"
