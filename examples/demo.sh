#!/usr/bin/env bash
# Runs the example programs of a build folder: demo.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: demo.sh BUILD_DIR}
VESKLEG_LOG=1 VESKLEG_LOG_LEVEL=Info "$build/bin/model_demo"
