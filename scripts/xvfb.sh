# Sourced by the scripts that take the README's pictures: installs what they need when it is
# missing, builds, and runs the calling script again inside a virtual X server.
#   under_xvfb SCREEN SCRIPT        SCREEN as WIDTHxHEIGHTxDEPTH; SCRIPT gets --inside
#   under_xvfb_once SCREEN SCRIPT   the same, returning when it is done (a picture a screen)
xvfb_prepare() {
    [ -z "${XVFB_READY:-}" ] || return 0
    local missing=()
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
    XVFB_READY=1
}

under_xvfb() {
    xvfb_prepare
    exec xvfb-run -a -s "-screen 0 $1" bash "$2" --inside
}

under_xvfb_once() {
    xvfb_prepare
    xvfb-run -a -s "-screen 0 $1" bash "$2" --inside
}
