# desktop-session.sh: sourced by gnome-fixture and kwin-fixture; $folder is the session's folder.
# A private desktop session: its own HOME, runtime folder, session bus (D-Bus activation starts
# the portals with the session's environment) and, on request, a permissive system bus.
# With VO_DESKTOP_ROOT set, the desktop's own programs (buses, compositor, portals, tools) run
# inside that Debian testing root (scripts/make-testing-root ROOT desktops) through
# in-testing-root, with the session's folder and the colon-separated folders of
# VO_DESKTOP_BINDS bound at the same paths inside: a program outside reaches the buses and the
# Wayland socket by the same paths, and a file the portal names is the same file on both sides.

# The runtime folder: short, under /tmp, named after the session's folder, since a Unix socket's
# path has at most 107 bytes and the program's hand-off socket lies two levels below it (a build
# folder's path leaves too few). $folder/runtime links to it.
runtime=/tmp/vo-desktop-$(printf %s "$folder" | md5sum | cut -c1-12)

# Runs a program of the desktop: inside the testing root, or here. Inside, every program of the
# session shares one mount namespace, that of a keeper process the first call starts
# (root.pid): KWin authorises a caller by the path of its executable (/proc/PID/exe), and a
# process of another namespace would show it the path outside the root.
desktop_run() {
  if [ -z "${VO_DESKTOP_ROOT:-}" ]; then
    "$@"
    return
  fi
  desktop_keeper || return 1
  nsenter --target "$(cat "$folder/root.pid")" --mount --root --wd "$@"
}

# Starts the keeper unless it runs, and waits until it sleeps inside the root: a program
# entering its namespace before would run outside the root (the host's own bus or portal).
# Called once before the buses start in the background, so that two calls at once never start
# two keepers.
desktop_keeper() {
  [ -n "${VO_DESKTOP_ROOT:-}" ] || return 0
  if ! session_alive "$folder/root.pid"; then
    VO_ROOT_BINDS="${VO_DESKTOP_BINDS:+$VO_DESKTOP_BINDS:}$folder:$runtime" \
      "$here/in-testing-root" "$VO_DESKTOP_ROOT" sleep infinity > /dev/null 2>&1 &
    echo $! > "$folder/root.pid"
  fi
  local keeper
  keeper=$(cat "$folder/root.pid")
  for _ in $(seq 1 100); do
    [ "$(readlink "/proc/$keeper/root")" = "$VO_DESKTOP_ROOT" ] && return 0
    sleep 0.1
  done
  echo "desktop-session: the keeper $keeper did not enter $VO_DESKTOP_ROOT" >&2
  return 1
}

# Whether the desktop runs with its animations, as users have them: inside the testing root
# (today's desktops); Debian 12's run without, so that a window appears at once.
desktop_animations() {
  [ -n "${VO_DESKTOP_ROOT:-}" ]
}

# Exports the session's environment for DESKTOP (XDG_CURRENT_DESKTOP) and writes session.env.
session_env() {
  mkdir -p "$folder"
  export HOME="$folder/home" XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY=wayland-0
  export XDG_CURRENT_DESKTOP=$1 XDG_SESSION_TYPE=wayland
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$folder/bus"
  export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$folder/system-bus"
  unset DISPLAY XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME XDG_CONFIG_DIRS
  unset SESSION_MANAGER DESKTOP_SESSION QT_QPA_PLATFORM
  {
    for name in HOME XDG_RUNTIME_DIR WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE \
                DBUS_SESSION_BUS_ADDRESS DBUS_SYSTEM_BUS_ADDRESS; do
      echo "$name=${!name}"
    done
  } > "$folder/session.env"
}

# Whether the process in PIDFILE still runs (a zombie does not).
session_alive() {
  local pid
  pid=$(cat "$1" 2>/dev/null) || return 1
  [ -d "/proc/$pid" ] && ! grep -q '^State:.*Z' "/proc/$pid/status" 2>/dev/null
}

# A fresh HOME and runtime folder, the session bus, and with "system" the system bus.
session_start_buses() {
  rm -rf "$folder/home" "$folder/runtime" "$runtime"
  mkdir -p "$folder/home/Pictures"
  mkdir -m 0700 "$runtime"
  ln -s "$runtime" "$folder/runtime"
  desktop_keeper || return 1
  if [ "${1:-}" = system ]; then
    cat > "$folder/system-bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>$DBUS_SYSTEM_BUS_ADDRESS</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
EOF
    desktop_run dbus-daemon --config-file="$folder/system-bus.conf" --nofork --nopidfile \
      > "$folder/system-bus.log" 2>&1 &
  fi
  desktop_run dbus-daemon --session --address="$DBUS_SESSION_BUS_ADDRESS" --nofork --nopidfile \
    > "$folder/bus.log" 2>&1 &
  for _ in $(seq 1 50); do [ -S "$folder/bus" ] && break; sleep 0.1; done
}

# Sets the portal's "screenshot" permission for programs outside a sandbox (app id "") to yes
# or no: the permission store keeps it for the desktop's portal.
session_permit() {
  gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore \
    --object-path /org/freedesktop/impl/portal/PermissionStore \
    --method org.freedesktop.impl.portal.PermissionStore.SetPermission \
    screenshot true screenshot '' "['$1']" >/dev/null
}

# Waits until the desktop portal answers for its Screenshot interface.
session_wait_for_portal() {
  for _ in $(seq 1 100); do
    gdbus call --session --dest org.freedesktop.portal.Desktop \
      --object-path /org/freedesktop/portal/desktop \
      --method org.freedesktop.DBus.Properties.Get org.freedesktop.portal.Screenshot version \
      >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  return 1
}

# The processes of this session: those whose environment names its runtime folder. The buses
# and everything started from the fixture inherit it; D-Bus activation passes it on.
session_pids() {
  grep -lzxF "XDG_RUNTIME_DIR=$runtime" /proc/[0-9]*/environ 2>/dev/null \
    | cut -d/ -f3 | grep -vx "$$"
}

session_stop() {
  local pids
  pids=$(session_pids)
  if [ -n "$pids" ]; then
    # shellcheck disable=SC2086
    kill -TERM $pids 2>/dev/null
    for _ in $(seq 1 30); do
      pids=$(session_pids)
      [ -z "$pids" ] && break
      sleep 0.1
    done
    # shellcheck disable=SC2086
    [ -n "$pids" ] && kill -KILL $pids 2>/dev/null
  fi
  rm -rf "$folder/runtime" "$runtime" "$folder/bus" "$folder/system-bus"
  rm -f "$folder"/*.pid "$folder/session.env"
}
