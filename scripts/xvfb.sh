# Sourced by the scripts that take the README's pictures: installs what they need when it is
# missing, builds, and runs the calling script again inside a virtual X server.
#   under_xvfb SCREEN SCRIPT   SCREEN as WIDTHxHEIGHTxDEPTH; SCRIPT gets --inside
under_xvfb() {
    local screen=$1 script=$2 missing=()
    for tool in xvfb-run:xvfb xdotool:xdotool import:imagemagick xauth:xauth; do
        command -v "${tool%%:*}" >/dev/null || missing+=("${tool##*:}")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        local sudo=()
        [ "$(id -u)" -eq 0 ] || sudo=(sudo)
        "${sudo[@]}" apt-get update -q
        DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q \
            --no-install-recommends "${missing[@]}"
    fi
    bash scripts/dev.sh build
    exec xvfb-run -a -s "-screen 0 $screen" bash "$script" --inside
}
