# Sourced by the scripts that run the program on a display of their own.
#
# start_private_xvfb FIRST LAST SIZE LOG
#   Starts Xvfb on the first display number from FIRST to LAST that nobody uses, with one
#   screen of SIZE (for example 1280x800x24), its output in LOG, and waits up to 10 s for
#   it to listen. Sets xvfb_pid (for the caller's clean-up) and exports DISPLAY. Returns 1,
#   having said why on standard error, when no number is free or Xvfb did not start.
start_private_xvfb() {
    local first="$1" last="$2" size="$3" log="$4" n display=""
    for n in $(seq "$first" "$last"); do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            display="$n"
            break
        fi
    done
    [ -n "$display" ] || { echo "no free display number in $first-$last" >&2; return 1; }
    # -noreset: the server otherwise resets each time its last client leaves, and a
    # program started in that moment is refused.
    Xvfb ":$display" -screen 0 "$size" -nolisten tcp -noreset >"$log" 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$display"
    for _ in $(seq 200); do
        [ -e "/tmp/.X11-unix/X$display" ] && return 0
        sleep 0.05
    done
    echo "Xvfb did not start on :$display" >&2
    return 1
}
