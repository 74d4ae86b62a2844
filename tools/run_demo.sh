#!/usr/bin/env bash
# The main job: configures the default preset and builds two of its targets,
# the demo player and the plug-in (the simulated device and the logging
# stand-in come with them), then plays the built-in test signal through the plug-in into the simulated
# device and writes what the device played to build/default/demo_output.wav.
# Extra arguments go to the demo player (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/ci/install_dependencies.sh --native-only
cmake --preset default >/dev/null
cmake --build --preset default --target zv_demo_player ZVAudioOutput
build/default/bin/zv_demo_player --out build/default/demo_output.wav "$@"
