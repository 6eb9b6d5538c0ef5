# Starts a private Xvfb on a free display and exports DISPLAY (sourced).
# FERNWOOD_XVFB_PID names the server so the caller can stop it.
fernwood_start_xvfb() {
    local display
    for display in $(seq 90 140); do
        [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] && continue
        Xvfb ":$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
        FERNWOOD_XVFB_PID=$!
        for _ in $(seq 1 100); do
            if xdpyinfo -display ":$display" >/dev/null 2>&1; then
                export DISPLAY=":$display"
                return 0
            fi
            kill -0 "$FERNWOOD_XVFB_PID" 2>/dev/null || break
            sleep 0.1
        done
    done
    echo "could not start Xvfb" >&2
    return 1
}
