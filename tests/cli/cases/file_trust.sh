# Files are never lost and nothing hangs: unreadable and special files,
# read-only files and folders, links, saves killed halfway, links planted
# in shared folders, refusals, script mistakes.
source "$(dirname "$0")/../lib.bash"

# run_cli EXPECTED_STATUS ARGS...: runs varnix-cli (at most 20 s), output in
# $T/out and $T/err.
run_cli() {
  local want=$1 status=0
  shift
  timeout 20 "$CLI" "$@" >"$T/out" 2>"$T/err" || status=$?
  [ "$status" = "$want" ] || fail "status $status, expected $want for: $* ($(cat "$T/err"))"
}

cp "$SAMPLES/T010K.dat" "$T/a.dat"

# A FIFO without a writer and a device are refused, the rest still loads.
mkfifo "$T/fifo.dat"
run_cli 1 -c "load $T/fifo.dat /dev/zero $T/a.dat; info"
grep -qx "Cannot load $T/fifo.dat: not a regular file" "$T/err" || fail "fifo message"
grep -qx "Cannot load /dev/zero: not a regular file" "$T/err" || fail "device message"
grep -qx " 1 files loaded. Press <R> to rescale" "$T/out" || fail "later file not loaded"

# A file that reports no size and never ends, and a link planted to it,
# are read only so far, then refused.
ln -s /proc/self/pagemap "$T/planted.dat"
endless="it went on far beyond the 0 bytes it had when opened"
run_cli 1 -c "load /proc/self/pagemap $T/planted.dat $T/a.dat; info"
grep -qx "Cannot load /proc/self/pagemap: $endless" "$T/err" || fail "endless load: $(cat "$T/err")"
grep -qx "Cannot load $T/planted.dat: $endless" "$T/err" || fail "planted link load"
grep -qx " 1 files loaded. Press <R> to rescale" "$T/out" || fail "file after the endless ones"
run_cli 1 -c "import $T/planted.dat"
grep -qx "$T/planted.dat: not imported: $endless" "$T/err" || fail "endless import: $(cat "$T/err")"

# A missing file becomes an empty graph with a warning and fails the run
# (which goes on); a folder says why.
run_cli 1 -c "load $T/missing.dat; info"
grep -qx "Warning: $T/missing.dat does not exist; it was added as an empty graph" "$T/err" ||
  fail "message for a missing file"
grep -qx " 1 files loaded. Press <R> to rescale" "$T/out" || fail "missing file not added"
run_cli 1 -c "load $T; info"
grep -qx "Could not read $T: Is a directory" "$T/err" || fail "folder message"

# Without a moments table nothing is written; a folder name is no file name.
printf 'keep\r\n' >"$T/m.dat"
run_cli 1 -c "moments-save 0 $T/m.dat"
grep -q "no moments table" "$T/err" || fail "moments-save message"
expect_eq "moments file kept" "$(cat "$T/m.dat")" "$(printf 'keep\r')"
run_cli 1 -c "load $T/a.dat; save-as $T/"
[ ! -e "$T/.dat" ] || fail "hidden .dat written"

# Script mistakes.
run_cli 1 -c 'info; rename "open'
grep -qx "line 1: unbalanced quote." "$T/err" || fail "unbalanced quote"
run_cli 2 "$T"
grep -q "cannot read $T: Is a directory" "$T/err" || fail "script folder"
# After "--" a script file may be named like an option.
printf 'load a.dat; info\n' >"$T/-c"
(cd "$T" && run_cli 0 -- -c)
grep -q "files loaded" "$T/out" || fail "script named -c not run"
run_cli 2 --
grep -qx "varnix-cli: -- needs the script file." "$T/err" || fail "-- without a file"

# A save through a symbolic link writes the linked file; the link stays.
mkdir "$T/real"
cp "$T/a.dat" "$T/real/b.dat"
ln -s real/b.dat "$T/link.dat"
run_cli 0 -c "load $T/link.dat; select all; normalize; save-selected"
[ -L "$T/link.dat" ] || fail "link replaced"
cmp -s "$T/a.dat" "$T/real/b.dat" && fail "linked file not written"

# A link another user placed in a shared folder (sticky, world-writable) is
# not written through.
if [ "$(id -u)" = 0 ]; then
  mkdir -m 1777 "$T/shared"
  cp "$T/a.dat" "$T/real/victim.dat"
  ln -s "$T/real/victim.dat" "$T/shared/out.dat"
  chown -h 65534:65534 "$T/shared/out.dat"
  run_cli 1 -c "load $T/a.dat; select all; normalize; save-as $T/shared/out.dat"
  grep -qx "Could not write $T/shared/out.dat: $T/shared/out.dat is another user's symbolic link in a shared folder" "$T/err" ||
    fail "planted link message"
  cmp -s "$T/a.dat" "$T/real/victim.dat" || fail "written through a planted link"
fi

# Import's name for the .dat is free of any entry, a dangling link too.
printf 'x,y\n1,10\n2,20\n' >"$T/exp.csv"
ln -s "$T/elsewhere.dat" "$T/exp.dat"
run_cli 0 -c "import $T/exp.csv; select all; save-selected"
[ ! -e "$T/elsewhere.dat" ] || fail "import saved through a dangling link"
expect_eq "import's file" "$(cat "$T/exp (2).dat")" "$(printf '"x,y\r\n1 10\r\n2 20\r')"

# interrupt_each_write RUNNER FILE: saves FILE, which is written in place,
# with the save killed (strace injects SIGKILL) at each of its writes in turn;
# after every kill the next load sees the old or the new content, never a
# mix, and says when it restored the file. RUNNER prefixes the commands.
interrupt_each_write() {
  local runner=$1 file=$2 n status=0 mixed restored=0
  local save="load $file; select all; normalize; save-selected"
  cp "$file" "$T/orig"
  $runner "$CLI" -c "$save" >/dev/null 2>&1 || fail "whole save of $file"
  cp "$file" "$T/new"
  cmp -s "$T/orig" "$T/new" && fail "the save changed nothing"
  for n in $(seq 1 60); do
    cat "$T/orig" >"$file"
    # (The shell's own word on the killed process goes to /dev/null too.
    # A sanitizer build's leak check cannot run under strace and would turn
    # every finished save into a failure: it is off for this run only.)
    status=$({
      $runner strace -f -o /dev/null -e trace=pwrite64 \
        -e inject=pwrite64:signal=KILL:when="$n" \
        env ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
        "$CLI" -c "$save" >/dev/null 2>&1
      echo $?
    } 2>/dev/null)
    mixed=1
    if cmp -s "$file" "$T/orig" || cmp -s "$file" "$T/new"; then mixed=0; fi
    $runner "$CLI" -c "load $file; info" >"$T/out" 2>"$T/err" || fail "load after kill $n"
    if [ "$mixed" = 1 ]; then
      grep -qx "Restored $file from an interrupted save" "$T/err" || fail "no word after kill $n"
      restored=$((restored + 1))
    else
      [ ! -s "$T/err" ] || fail "after kill $n: $(cat "$T/err")"
    fi
    cmp -s "$file" "$T/orig" || cmp -s "$file" "$T/new" || fail "a mix after kill $n"
    [ "$status" != 0 ] || break
  done
  echo "$file: $n writes, $restored kills restored" >&2
  [ "$status" = 0 ] || fail "the save of $file never finished"
  [ "$restored" -gt 0 ] || fail "no kill fell while $file was written"
}
# (Written back, every line of it changes: "7.50" becomes "7.5".)
BIG=$(awk 'BEGIN { for (i = 0; i < 200000; i++) printf "%d %d.50\r\n", i, i % 977 }')
if command -v strace >/dev/null; then
  # A file with a second hard link is written in place.
  printf '%s' "$BIG" >"$T/big.dat"
  ln "$T/big.dat" "$T/big.link"
  interrupt_each_write "" "$T/big.dat"
  ls -A "$T" | grep -q varnix-journal && fail "journal left beside big.dat"
  rm "$T/big.link" "$T/big.dat"
else
  echo "skip: no strace to interrupt saves"
fi

# A slicer whose windows stop moving ends at once, writing nothing, and
# fails the run.
mkdir "$T/slices"
run_cli 1 -c "load $T/a.dat; slice 9007199254740982 9007199254741092 1 d \"\" $T/slices"
[ -z "$(ls -A "$T/slices")" ] || fail "slices written"
run_cli 0 -c "load $T/a.dat; slice 2.3 2.65 0.1 d \"\" $T/slices 1"
expect_eq "slice names" "$(ls "$T/slices" | tr '\n' ' ')" "d2.3.Dat d2.4.Dat d2.5.Dat d2.6.Dat "

# As an unprivileged user (root drops its privileges for these).
if [ "$(id -u)" = 0 ]; then
  command -v setpriv >/dev/null || { echo "skip: no setpriv for the unprivileged checks"; exit 0; }
  as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
  U=$T/user
  mkdir "$U"
  chmod 755 "$T"
  chown 65534:65534 "$U"
  # The user's own state folder, for journals of files in folders that
  # take no new file.
  user_env() { as_user env XDG_STATE_HOME="$U/state" "$@"; }
  user_cli() {
    local want=$1 status=0
    shift
    user_env timeout 20 "$CLI" "$@" >"$T/out" 2>"$T/err" || status=$?
    [ "$status" = "$want" ] || fail "user: status $status, expected $want for: $* ($(cat "$T/err"))"
  }
  # A file the user may not read: the graph is empty, the user is told,
  # and Save Selected does not replace the file.
  cp "$T/a.dat" "$U/secret.dat"
  chown 0:0 "$U/secret.dat"
  chmod 600 "$U/secret.dat"
  user_cli 1 -c "load $U/secret.dat; select all; save-selected"
  grep -qx "Could not read $U/secret.dat: Permission denied" "$T/err" || fail "unreadable message"
  grep -qx "Could not write $U/secret.dat: Existing file $U/secret.dat is not writable" "$T/err" ||
    fail "unwritable message"
  cmp -s "$T/a.dat" "$U/secret.dat" || fail "unreadable file replaced"
  # A read-only file of the user's own.
  cp "$T/a.dat" "$U/ro.dat"
  chown 65534:65534 "$U/ro.dat"
  chmod 444 "$U/ro.dat"
  user_cli 1 -c "load $U/ro.dat; select all; normalize; save-selected"
  cmp -s "$T/a.dat" "$U/ro.dat" || fail "read-only file replaced"
  # A writable file in a read-only folder is written in place.
  mkdir "$U/rodir"
  cp "$T/a.dat" "$U/rodir/w.dat"
  chown -R 65534:65534 "$U/rodir"
  chmod 555 "$U/rodir"
  user_cli 0 -c "load $U/rodir/w.dat; select all; normalize; save-selected"
  cmp -s "$T/a.dat" "$U/rodir/w.dat" && fail "file in a read-only folder not written"
  expect_eq "read-only folder listing" "$(ls -A "$U/rodir")" "w.dat"
  # Its journal goes to the user's state folder.
  if command -v strace >/dev/null; then
    printf '%s' "$BIG" >"$U/rodir/w.dat"
    interrupt_each_write user_env "$U/rodir/w.dat"
    expect_eq "read-only folder after kills" "$(ls -A "$U/rodir")" "w.dat"
    expect_eq "journals left" "$(ls -A "$U/state/varnix/journals")" ""
  fi
  # A file a third user put into a shared folder (sticky, world-writable)
  # is not written, whatever its permissions: its owner could read it.
  mkdir -m 1777 "$T/drop"
  chown 65533:65533 "$T/drop"
  printf 'theirs' >"$T/drop/out.dat"
  chmod 666 "$T/drop/out.dat"
  user_cli 1 -c "load $T/a.dat; save-as $T/drop/out.dat"
  grep -qx "Could not write $T/drop/out.dat: $T/drop/out.dat belongs to user root in a shared folder" \
    "$T/err" || fail "planted file: $(cat "$T/err")"
  expect_eq "planted file" "$(cat "$T/drop/out.dat")" theirs
  # A file of another user in a folder of the user's: the owner stays.
  cp "$T/a.dat" "$U/shared.dat"
  chown 0:65534 "$U/shared.dat"
  chmod 666 "$U/shared.dat"
  user_cli 0 -c "load $U/shared.dat; select all; normalize; save-selected"
  expect_eq "owner kept" "$(stat -c %u "$U/shared.dat")" 0
  cmp -s "$T/a.dat" "$U/shared.dat" && fail "shared file not written"
fi
echo ok
