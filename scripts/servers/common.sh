# shellcheck shell=bash
# Shared by start.sh and stop.sh: the state directory's layout and stopping by pid file.
# Sourced, not run.

# The folders start.sh writes below the state directory. Only these are ever removed, so a
# state directory given by mistake (the build folder, say) loses nothing else.
STATE_SUBDIRS=(conf certs logs run www)

# Echoes the absolute form of $1, creating the folder when it is missing.
absolute_dir() {
    mkdir -p -- "$1"
    (cd -- "$1" && pwd -P)
}

# True when pid file $1 names a live process whose command line contains $2 (a path of
# this state directory), so that a pid reused by another process is never signalled.
pidfile_alive() {
    local file=$1 marker=$2 pid
    [ -f "$file" ] || return 1
    pid=$(cat -- "$file" 2>/dev/null) || return 1
    [[ $pid =~ ^[0-9]+$ ]] || return 1
    local command
    command=$(tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline") || return 1
    [[ $command == *"$marker"* ]]
}

# True while process $1 exists and is no zombie (a zombie waits only for its parent, which
# may be slow to reap it, and has stopped serving).
running() {
    local stat
    stat=$(cat 2>/dev/null "/proc/$1/stat") || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ]
}

# Stops the process of pid file $1 (checked against marker $2): TERM, up to ten seconds of
# waiting, then KILL for it and its direct children. With $3 = group, the whole process
# group that the process leads is signalled (a watchdog and its sleep).
stop_pidfile() {
    local file=$1 marker=$2 mode=${3:-process} pid target i
    if ! pidfile_alive "$file" "$marker"; then
        rm -f -- "$file"
        return 0
    fi
    pid=$(cat -- "$file")
    target=$pid
    [ "$mode" = group ] && target=-$pid
    kill -TERM -- "$target" 2>/dev/null || true
    for ((i = 0; i < 100; i++)); do
        running "$pid" || break
        sleep 0.1
    done
    if running "$pid"; then
        echo "pid $pid ($file) did not stop within 10 s; killing it" >&2
        local children
        children=$(ps -o pid= --ppid "$pid" 2>/dev/null || true)
        # shellcheck disable=SC2086 # one pid per word
        kill -KILL -- "$target" $children 2>/dev/null || true
        for ((i = 0; i < 50; i++)); do
            running "$pid" || break
            sleep 0.1
        done
    fi
    rm -f -- "$file"
}

# Stops everything a start in state directory $1 left running, watchdog last.
stop_all() {
    local state=$1
    local run=$state/run
    rm -f -- "$state/servers.env"
    [ -d "$run" ] || return 0
    stop_pidfile "$run/apache.pid" "$state/conf/apache.conf"
    stop_pidfile "$run/proxy.pid" "$state/conf/squid.conf"
    stop_pidfile "$run/scripted.pid" "$state/logs/scripted-requests.jsonl"
    if [ "${VODAREZAZUV_SERVERS_WATCHDOG:-}" != 1 ]; then
        stop_pidfile "$run/watchdog.pid" "$state/run/watchdog" group
    fi
    # A document tree placed outside the state directory (see start.sh) goes with the run.
    if [ -f "$run/www.path" ]; then
        local outside
        outside=$(cat -- "$run/www.path")
        case $outside in
        /tmp/vodarezazuv-www.*) rm -rf -- "$outside" ;;
        esac
        rm -f -- "$run/www.path"
    fi
}
