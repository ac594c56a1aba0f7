# Shared settings of the project's scripts (sourced, not run).
REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
DEPS_CACHE="${XDG_CACHE_HOME:-$HOME/.cache}/quenby-launcher"
# Debian's own interpreter: the one on PATH may lack Debian's python modules.
PY=/usr/bin/python3
export REPO DEPS_CACHE PY
