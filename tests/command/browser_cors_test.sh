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

# Generous bounds: on a busy two-core machine the page server alone may take seconds to
# start, and Chromium ten seconds or more.
readonly READY_SECONDS=30
readonly BROWSER_SECONDS=90
service=http://127.0.0.1:80/

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The service's answer to the command, as a client other than the browser sees it.
service_answers() {
    curl -s --noproxy '*' --max-time 3 -d '{"ProtocolCode":1000}' "$service" 2>/dev/null |
        grep -q OKK
}

ip link set lo up
# The service's log shows afterwards whether the page's requests reached it.
"$runner" 80 >"$work/service.log" 2>"$work/runner.err" &
runner_pid=$!
pids+=("$runner_pid")
"$python" -m http.server 8000 --bind 127.0.0.1 --directory "$page_dir" >"$work/page.log" 2>&1 &
pids+=($!)

# Both answer before the browser starts: the service a real request, the page server the page.
service_ready=no
page_ready=no
deadline=$((SECONDS + READY_SECONDS))
while [ "$SECONDS" -lt "$deadline" ]; do
    kill -0 "$runner_pid" 2>/dev/null ||
        fail "the service runner ended before it answered: $(cat "$work/runner.err")"
    [ "$service_ready" = yes ] || { service_answers && service_ready=yes; }
    [ "$page_ready" = yes ] ||
        { curl -s -o /dev/null --noproxy '*' --max-time 3 http://127.0.0.1:8000/index.html &&
            page_ready=yes; }
    [ "$service_ready$page_ready" = yesyes ] && break
    sleep 0.1
done
[ "$service_ready" = yes ] ||
    fail "the service did not answer command 1000 within ${READY_SECONDS} s: $(cat "$work/runner.err")"
[ "$page_ready" = yes ] ||
    fail "the page server did not serve the page within ${READY_SECONDS} s: $(tail -n 5 "$work/page.log")"
requests_before=$(grep -o 'ptHttpMs' "$work/service.log" | wc -l)

# Virtual time stands still while a fetch is pending and runs on when none is, so a large
# budget costs nothing once the page is done, and leaves slow gaps between its two requests
# on a busy machine time enough.
browser_status=0
HOME=$work timeout "$BROWSER_SECONDS" "$chromium" --headless --no-sandbox --disable-gpu \
    --disable-quic --no-first-run --disable-background-networking --disable-component-update \
    --disable-sync --disable-dev-shm-usage --user-data-dir="$work/profile" \
    --virtual-time-budget=60000 \
    --dump-dom "http://127.0.0.1:8000/index.html?service=$service" \
    >"$work/dom.html" 2>"$work/chromium.err" || browser_status=$?

result=$(grep -o 'CORVANE-RESULT.*END' "$work/dom.html" || true)
echo "page reported: ${result:-nothing}"
case "$result" in
    *"SIMPLE:200:OKK"*)
        echo "PASS: the page from another origin received the OKK answer"
        ;;
    *)
        # What a failure needs to be told apart: the browser, the service, or the way between.
        echo "FAIL: the page did not receive the OKK answer" >&2
        if [ "$browser_status" = 124 ]; then
            echo "chromium did not finish within ${BROWSER_SECONDS} s" >&2
        else
            echo "chromium exited with status $browser_status" >&2
        fi
        requests=$(($(grep -o 'ptHttpMs' "$work/service.log" | wc -l) - requests_before))
        echo "the service received $requests request(s) with a body from the page" >&2
        if service_answers; then
            echo "the service still answers command 1000" >&2
        else
            echo "the service no longer answers command 1000" >&2
        fi
        # Without a message bus in the namespace Chromium complains about it at length.
        grep -v 'dbus/' "$work/chromium.err" | tail -n 20 >&2 || true
        exit 1
        ;;
esac
