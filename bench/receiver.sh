# Sourced by the transfer benchmarks: a discarding loopback receiver on ADDR.
# Sets WORK (a temporary folder, removed at exit) and, per receiver, PORT.
WORK=$(mktemp -d)
RECV_PID=
cleanup() { [ -n "$RECV_PID" ] && kill "$RECV_PID" 2>/dev/null; rm -rf "$WORK"; }
trap cleanup EXIT

port() { python3 -c 'import socket; s=socket.socket(); s.bind(("'$ADDR'",0)); print(s.getsockname()[1])'; }

# One receiver per run: reads everything and throws it away.
start_receiver() {
    PORT=$(port)
    socat -u -b262144 "TCP-LISTEN:$PORT,bind=$ADDR,reuseaddr" OPEN:/dev/null &
    RECV_PID=$!
    for _ in $(seq 100); do
        ss -ltn 2>/dev/null | grep -q "$ADDR:$PORT " && return 0
        sleep 0.02
    done
}
stop_receiver() { wait "$RECV_PID" 2>/dev/null || true; RECV_PID=; }

# The downloader speaks the protocol: its receiver is the simulator, which
# takes the file and keeps nothing of it.
start_simulator() {
    PORT=$(port)
    "$BUILD/bin/tk650sim" --listen "$ADDR:$PORT" >/dev/null &
    RECV_PID=$!
    for _ in $(seq 100); do
        ss -ltn 2>/dev/null | grep -q "$ADDR:$PORT " && return 0
        sleep 0.02
    done
}
stop_simulator() { kill "$RECV_PID" 2>/dev/null || true; stop_receiver; }
