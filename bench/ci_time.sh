#!/usr/bin/env bash
# Times `.ci/run` as CI runs it: a fresh clone of a commit (with ../shared
# beside it), CI=true, restricted to the given cores, with the given ccache.
#
#   bench/ci_time.sh <label> <ccache folder> <cores> [commit]
#   e.g. bench/ci_time.sh cold2 /tmp/ccache-cold2 0,1
#        bench/ci_time.sh warm2 /tmp/ccache-cold2 0,1   # the cache cold2 left
#        bench/ci_time.sh cold8 /tmp/ccache-cold8 0-7
#
# The clone goes to $MUREL_CI_TIME_DIR/murel (default /tmp/murel-ci-time), the
# same path each time, so a warm run hits the cache a cold run filled. The log,
# with .ci/run's stage lines and /usr/bin/time's figures at its end, goes to
# $MUREL_CI_TIME_DIR/<label>.log.
set -euo pipefail
(($# >= 3)) || { sed -n '2,9p' "$0"; exit 2; }
label=$1 cache=$2 cores=$3
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
commit="${4:-$(git -C "$repo" rev-parse HEAD)}"
dir="${MUREL_CI_TIME_DIR:-/tmp/murel-ci-time}"
shared="$(cd "$repo/../shared" && pwd)"

rm -rf "$dir/murel"
mkdir -p "$dir" "$cache"
git clone -q "$repo" "$dir/murel"
git -C "$dir/murel" checkout -q "$commit"
ln -sfn "$shared" "$dir/shared"

log="$dir/$label.log"
echo "ci-time: $label, commit $commit, cores $cores, ccache $cache, $(date -u '+%F %T') UTC" | tee "$log"
cd "$dir/murel"
rc=0
CI=true CCACHE_DIR="$cache" CCACHE_MAXSIZE=40G \
  taskset -c "$cores" /usr/bin/time -v bash .ci/run >>"$log" 2>&1 || rc=$?
echo "ci-time: $label ended $(date -u '+%F %T') UTC, rc=$rc" | tee -a "$log"
grep -E '^ci: |Elapsed|User time|System time' "$log"
exit "$rc"
