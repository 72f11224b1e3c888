# Sourced by the scripts: configuring a preset's build directory, and running what needs
# port 4001 or the process table where nothing else on the machine can meet it.

# configure PRESET DIR [CMAKE OPTIONS...]: configures DIR from CMakePresets.json's PRESET,
# with Ninja when it is installed (unless DIR was configured with make before).
configure() {
  local preset=$1 dir=$2
  shift 2
  local generator=()
  command -v ninja >/dev/null && [ ! -f "$dir/Makefile" ] && generator=(-G Ninja)
  cmake --preset "$preset" -B "$dir" "${generator[@]}" "$@" >/dev/null
}

# The options that give a command a network and process namespace of its own: root needs
# none more, anyone else maps themselves to root in a user namespace. Empty when the
# machine allows neither (a container without the capability, user namespaces off).
namespace_options() {
  local options=(-n -p -f --mount-proc)
  [ "$(id -u)" -ne 0 ] && options=(-r "${options[@]}")
  unshare "${options[@]}" ip link set lo up 2>/dev/null && printf "%s\n" "${options[*]}"
}

# Sets ISOLATION to "private" when the machine allows a namespace of our own, else to
# "shared", once: the result is exported to the scripts this one runs.
check_isolation() {
  [ -n "${ISOLATION:-}" ] && return 0
  ISOLATION_OPTIONS=$(namespace_options || true)
  if [ -n "$ISOLATION_OPTIONS" ]; then ISOLATION=private; else ISOLATION=shared; fi
  export ISOLATION ISOLATION_OPTIONS
}

# isolated COMMAND...: runs COMMAND with a loopback of its own and a process table that
# shows only what it started, so that a broker or any listener on port 4001 elsewhere on
# the machine is invisible to it and every broker it starts ends with it. Where the machine
# allows no namespace, runs COMMAND as it is.
isolated() {
  check_isolation
  if [ "$ISOLATION" = private ]; then
    # The shell stays process 1 of the namespace and reaps the brokers that the library
    # starts (they leave their parent at once); when it ends, they end with it.
    # shellcheck disable=SC2086
    unshare $ISOLATION_OPTIONS bash -c 'ip link set lo up && "$@"; status=$?; exit $status' \
      isolated "$@"
  else
    "$@"
  fi
}

# brokers_in DIR...: the process ids of the tapbroker.exe processes started from any DIR,
# one a line, recognised as the library recognises a broker: by the name of the file it
# was started from, also when that file has since been rebuilt or deleted.
brokers_in() {
  local exe target pid dir
  for exe in /proc/[0-9]*/exe; do
    target=$(readlink "$exe" 2>/dev/null) || continue
    target=${target% (deleted)}
    pid=${exe#/proc/}
    for dir in "$@"; do
      [ "$target" = "$dir/tapbroker.exe" ] && echo "${pid%/exe}"
    done
  done
  return 0
}

# stop_brokers_since BEFORE DIR...: stops the brokers from any DIR whose process ids are
# not among BEFORE (an earlier brokers_in's output) and prints the id of each one stopped.
stop_brokers_since() {
  local before=$1 pid
  shift
  for pid in $(brokers_in "$@"); do
    grep -qx "$pid" <<<"$before" && continue
    kill "$pid" 2>/dev/null && echo "$pid"
  done
  return 0
}

# junit_option NAME: the ctest option that writes this run's results to $JUNIT_DIR/NAME.xml,
# from which scripts/test.sh counts the tests; nothing when JUNIT_DIR is not set.
junit_option() {
  [ -n "${JUNIT_DIR:-}" ] && printf '%s\n' "--output-junit $JUNIT_DIR/$1.xml"
  return 0
}
