# Sourced by the scripts that start vantyx-sim: waits for the port it prints in its log.
#   sim_port LOG   prints the port, or fails after five seconds
sim_port() {
    local log=$1 port=""
    for _ in $(seq 50); do
        port=$(sed -n 's/^port: //p' "$log")
        [ -n "$port" ] && { echo "$port"; return 0; }
        sleep 0.1
    done
    return 1
}
