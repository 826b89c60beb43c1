#!/usr/bin/env bash
# Installs what is missing, builds the tool and runs it.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

darq_build
echo "Built in $DARQ_BUILD. The window is not there yet: only the protocol core is built."
