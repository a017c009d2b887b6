# Files are never lost and nothing hangs: unreadable and special files,
# read-only files and folders, links, refusals, script mistakes.
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

# A save through a symbolic link writes the linked file; the link stays.
mkdir "$T/real"
cp "$T/a.dat" "$T/real/b.dat"
ln -s real/b.dat "$T/link.dat"
run_cli 0 -c "load $T/link.dat; select all; normalize; save-selected"
[ -L "$T/link.dat" ] || fail "link replaced"
cmp -s "$T/a.dat" "$T/real/b.dat" && fail "linked file not written"

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
  user_cli() {
    local want=$1 status=0
    shift
    as_user timeout 20 "$CLI" "$@" >"$T/out" 2>"$T/err" || status=$?
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
  # A file of another user in a folder of the user's: the owner stays.
  cp "$T/a.dat" "$U/shared.dat"
  chown 0:65534 "$U/shared.dat"
  chmod 666 "$U/shared.dat"
  user_cli 0 -c "load $U/shared.dat; select all; normalize; save-selected"
  expect_eq "owner kept" "$(stat -c %u "$U/shared.dat")" 0
  cmp -s "$T/a.dat" "$U/shared.dat" && fail "shared file not written"
fi
echo ok
