#!/usr/bin/env bash
# A real browser calls the tool's HTTP service from a page of another origin.
# Runs inside the private test network (scripts/testnet run), so the browser can reach
# nothing but this namespace: the service on 127.0.0.1:80, the page on 127.0.0.1:8000.
#   browser_cors_test.sh SERVICE_RUNNER PAGE_DIR
set -euo pipefail
runner=$1
page_dir=$2

if [ "${CORVANE_TESTNET:-}" != 1 ]; then
    echo "runs inside scripts/testnet only" >&2
    exit 1
fi
chromium=$(command -v chromium || true)
[ -n "$chromium" ] || { echo "chromium is missing" >&2; exit 1; }

# The system's interpreter when there is one: it starts faster than a version manager's shim.
python=$(command -v /usr/bin/python3 || command -v python3 || true)
[ -n "$python" ] || { echo "python3 is missing" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

ip link set lo up
"$runner" 80 --quiet 2>"$work/runner.err" &
pids+=($!)
"$python" -m http.server 8000 --bind 127.0.0.1 --directory "$page_dir" >"$work/page.log" 2>&1 &
pids+=($!)

# Both listen before the browser starts.
for _ in $(seq 100); do
    if grep -q ready "$work/runner.err" 2>/dev/null &&
        curl -s -o /dev/null --noproxy '*' http://127.0.0.1:8000/index.html; then
        break
    fi
    sleep 0.1
done

HOME=$work timeout 60 "$chromium" --headless --no-sandbox --disable-gpu --disable-quic \
    --no-first-run --disable-background-networking --disable-component-update --disable-sync \
    --disable-dev-shm-usage --user-data-dir="$work/profile" --virtual-time-budget=10000 \
    --dump-dom "http://127.0.0.1:8000/index.html?service=http://127.0.0.1:80/" \
    >"$work/dom.html" 2>"$work/chromium.err" || true

result=$(grep -o 'CORVANE-RESULT.*END' "$work/dom.html" || true)
echo "page reported: ${result:-nothing}"
case "$result" in
    *"SIMPLE:200:OKK"*)
        echo "PASS: the page from another origin received the OKK answer"
        ;;
    *)
        echo "FAIL: the page did not receive the OKK answer" >&2
        tail -n 20 "$work/chromium.err" >&2 || true
        exit 1
        ;;
esac
