#!/usr/bin/env bash
# Installs the Debian packages that Tandril's build, tests and benchmarks need.
# Idempotent: packages already installed are skipped; apt-get runs only when
# something is missing. Uses sudo when not run as root.
#
#   scripts/install-deps.sh          everything (program, tests, benchmarks, screenshots)
#   scripts/install-deps.sh --core   only what the core library and its tests need (no Qt)
#   scripts/install-deps.sh --docs   everything, and the real documentation sets and the
#                                    browser that bench/real_docs.sh mirrors and opens
#   scripts/install-deps.sh --apps   everything, and the PHP applications, php-fpm and the
#                                    browser that bench/real_apps.sh serves and opens
set -euo pipefail

core=(build-essential cmake ninja-build pkg-config libcurl4-openssl-dev libssl-dev openssl
      ca-certificates time libgtest-dev libgmock-dev zlib1g-dev libbrotli-dev libsqlite3-dev)
gui=(qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev)
extra=(libbenchmark-dev clang libclang-rt-14-dev nginx-light wget wget2 httrack curl xvfb xauth xdotool
       x11-apps imagemagick linux-perf)

docs=(mkdocs-doc sphinx-doc doxygen-doc chromium python3)
apps=(dokuwiki mediawiki php-fpm php-sqlite3 php-xml php-mbstring php-intl chromium python3)

want=("${core[@]}")
if [ "${1:-}" != "--core" ]; then
    want+=("${gui[@]}" "${extra[@]}")
fi
if [ "${1:-}" = "--docs" ]; then
    want+=("${docs[@]}")
fi
if [ "${1:-}" = "--apps" ]; then
    want+=("${apps[@]}")
fi

missing=()
for p in "${want[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}" >&2
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
