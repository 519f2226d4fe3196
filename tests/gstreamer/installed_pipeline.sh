#!/usr/bin/env bash
# Installs Pellix into a scratch prefix, finds pellixsrc there through GST_PLUGIN_PATH with
# gst-inspect-1.0, and runs the README's pipeline with the installed plugin against the kelvo-sim
# program: a PNG of the simulated camera's 640x480 grey picture must come out.
#   installed_pipeline.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
plugin=$(find "$work/prefix" -name libgstpellix.so)
if [ -z "$plugin" ]; then
  echo "libgstpellix.so was not installed" >&2
  exit 1
fi
export GST_PLUGIN_PATH
GST_PLUGIN_PATH=$(dirname "$plugin")
export GST_REGISTRY_1_0=$work/registry.bin   # a registry of its own, not the user's
if ! gst-inspect-1.0 pellixsrc > "$work/inspect.txt" 2>&1 || ! grep -q "Filename *$plugin" "$work/inspect.txt"; then
  echo "gst-inspect-1.0 does not find pellixsrc in $GST_PLUGIN_PATH:" >&2
  cat "$work/inspect.txt" >&2
  exit 1
fi

# The camera on free ports; it names them in a line once every port listens.
exec 3< <(exec "$build/sim/kelvo-sim" --ephemeral)
sim=$!
trap 'kill "$sim" 2>/dev/null || true' EXIT
ports=""
while read -r -t 30 line <&3; do
  case $line in
    *"publish port"*) ports=$line; break ;;
  esac
done
cat <&3 >/dev/null &
if [[ ! $ports =~ publish\ port\ ([0-9]+),\ watchdog\ port\ ([0-9]+),\ message\ port\ ([0-9]+) ]]; then
  echo "kelvo-sim did not say its ports" >&2
  exit 1
fi
printf 'PublishPort=%s\nWatchDogPort=%s\nAsyncMsgPort=%s\n' \
  "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}" "${BASH_REMATCH[3]}" > "$work/vistel.conf"
export VISTEL_CONFIG=$work/vistel.conf

cd "$work"
gst-launch-1.0 pellixsrc camera=127.0.0.1 num-buffers=30 ! videoconvert ! pngenc snapshot=true ! filesink location=frame.png
signature=$(od -An -tx1 -N8 frame.png | tr -d ' \n')
size=$(od -An -tu1 -j16 -N8 frame.png | tr -s ' ' | sed 's/^ //')
if [ "$signature" != "89504e470d0a1a0a" ] || [ "$size" != "0 0 2 128 0 0 1 224" ]; then
  echo "frame.png is not a 640x480 PNG (signature $signature, size bytes $size)" >&2
  exit 1
fi
echo "frame.png: 640x480 PNG from the installed pellixsrc"
