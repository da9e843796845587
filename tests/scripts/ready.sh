# Sourced by the Ctrl-C tests. A background job of a script starts with
# Ctrl-C ignored until rvo installs its handler, which a loaded machine can
# delay past any fixed sleep: the code under test writes "ready" to the file
# once it runs. wait_ready FILE [PID] waits up to a minute for that mark and
# fails the test (killing PID when given) if it never comes.
wait_ready() {
  i=0
  until grep -q ready "$1" 2>/dev/null; do
    i=$((i + 1))
    if [ "$i" -gt 1200 ]; then
      echo "rvo did not start within a minute"
      [ -n "$2" ] && kill "$2"
      exit 1
    fi
    sleep 0.05
  done
}
