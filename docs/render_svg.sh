#!/usr/bin/env bash
# Renders SVG pictures made with `tandemtree --svg` to PNG in headless
# Chromium (installed from Debian's packages when missing), at the size the
# picture declares.
#
#   docs/render_svg.sh picture.svg [picture.png]
set -euo pipefail
svg=$(realpath "$1")
png=${2:-${1%.svg}.png}
if ! command -v chromium >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >/dev/null
  apt-get install -y -q chromium >/dev/null
fi
size=$(head -c 2000 "$svg" | tr '\n' ' ' | sed -n 's/.*<svg[^>]* width="\([0-9.]*\)" height="\([0-9.]*\)".*/\1 \2/p')
width=$(printf '%.0f' "$(echo "$size" | cut -d' ' -f1)")
height=$(printf '%.0f' "$(echo "$size" | cut -d' ' -f2)")
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$profile" --hide-scrollbars --window-size="$width,$height" \
  --screenshot="$(realpath -m "$png")" "file://$svg" >/dev/null 2>&1
echo "$png (${width}x${height})"
