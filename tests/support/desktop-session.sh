# desktop-session.sh: sourced by gnome-fixture and kwin-fixture; $folder is the session's folder.
# A private desktop session: its own HOME, runtime folder, session bus (D-Bus activation starts
# the portals with the session's environment) and, on request, a permissive system bus.

# Exports the session's environment for DESKTOP (XDG_CURRENT_DESKTOP) and writes session.env.
session_env() {
  mkdir -p "$folder"
  export HOME="$folder/home" XDG_RUNTIME_DIR="$folder/runtime" WAYLAND_DISPLAY=wayland-0
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
  rm -rf "$folder/home" "$folder/runtime"
  mkdir -p "$folder/home/Pictures"
  mkdir -m 0700 "$folder/runtime"
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
    dbus-daemon --config-file="$folder/system-bus.conf" --nofork --nopidfile \
      > "$folder/system-bus.log" 2>&1 &
  fi
  dbus-daemon --session --address="$DBUS_SESSION_BUS_ADDRESS" --nofork --nopidfile \
    > "$folder/bus.log" 2>&1 &
  for _ in $(seq 1 50); do [ -S "$folder/bus" ] && break; sleep 0.1; done
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
  grep -lzxF "XDG_RUNTIME_DIR=$folder/runtime" /proc/[0-9]*/environ 2>/dev/null \
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
  rm -rf "$folder/runtime" "$folder/bus" "$folder/system-bus"
  rm -f "$folder"/*.pid "$folder/session.env"
}
