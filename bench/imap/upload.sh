#!/usr/bin/env bash
# Times `convert --imap` of the generated Eudora tree (tests/support/make_eudora_folder.py) into a
# Dovecot of its own on a loopback port, against `doveadm import` of the same messages from the Maildir
# that `convert --maildir` makes: messages a second. Then a rerun, which only checks what is there.
# Figures only: nothing here fails on time. The system's Dovecot is not touched.
# Usage: bench/imap/upload.sh [BUILD_DIR]   (default: build/release)
# Environment: TMPDIR (where the tree, the Maildir and the server go), QM_SIZE (of the mailboxes,
# default 1G), QM_SEED (default 1), QM_TLS=1 to upload over imaps:// (default: imap:// with STARTTLS).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:-$ROOT/build/release}
CLI=$BUILD/cli/quillmend-cli
SIZE=${QM_SIZE:-1G}
SEED=${QM_SEED:-1}
DOVECOT=$(command -v dovecot || echo /usr/sbin/dovecot)
DOVEADM=$(command -v doveadm || echo /usr/bin/doveadm)
[[ -x $CLI ]] || { echo "missing $CLI: build it first" >&2; exit 1; }
[[ -x $DOVECOT && -x $DOVEADM ]] || { echo "Dovecot is not installed (apt-get install dovecot-imapd)" >&2; exit 1; }

bytes=$(numfmt --from=iec "$SIZE")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillmend-imap-bench.XXXXXX")
chmod 755 "$WORK"
stop() {
  [[ -f $WORK/server/run/master.pid ]] && kill "$(cat "$WORK/server/run/master.pid")" 2>/dev/null || true
  sleep 0.5
  rm -rf "$WORK"
}
trap stop EXIT

echo "== generating a $SIZE tree in $WORK (seed $SEED)"
python3 "$ROOT/tests/support/make_eudora_folder.py" "$WORK/Eudora" --scale "$bytes" --seed "$SEED"
"$CLI" convert "$WORK/Eudora" --maildir "$WORK/Maildir" >/dev/null 2>&1 || true
messages=$(find "$WORK/Maildir" -path '*/cur/*' -type f | wc -l)
echo "messages: $messages"

# The server: as an ordinary user (nobody when run as root), TLS with a certificate of its own.
if [[ $(id -u) -eq 0 ]]; then account=nobody; else account=$(id -un); fi
uid=$(id -u "$account"); gid=$(id -g "$account"); group=$(id -gn "$account")
S=$WORK/server
mkdir -p "$S"/{run,state,mail,home,index,tls}
( cd "$S/tls"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 -subj "/CN=Bench CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=bench" 2>/dev/null
  printf "subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n" >ext.cnf
  openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt -days 2 \
    -extfile ext.cnf 2>/dev/null )
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
tls_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
password=$(head -c 12 /dev/urandom | base64)
printf 'bench:{PLAIN}%s\n' "$password" >"$S/users"
cat >"$S/dovecot.conf" <<CONF
protocols = imap
listen = 127.0.0.1
base_dir = $S/run
state_dir = $S/state
log_path = $S/dovecot.log
ssl = yes
ssl_cert = <$S/tls/server.crt
ssl_key = <$S/tls/server.key
disable_plaintext_auth = no
default_internal_user = $account
default_internal_group = $group
default_login_user = $account
first_valid_uid = $uid
first_valid_gid = $gid
mail_location = maildir:~/Maildir:INDEX=~/index
namespace inbox {
  inbox = yes
  separator = /
}
passdb {
  driver = passwd-file
  args = $S/users
}
userdb {
  driver = static
  args = uid=$uid gid=$gid home=$S/home/%u
}
service imap-login {
  chroot =
  inet_listener imap {
    address = 127.0.0.1
    port = $port
  }
  inet_listener imaps {
    address = 127.0.0.1
    port = $tls_port
    ssl = yes
  }
}
service anvil {
  chroot =
}
CONF
mkdir -p "$S/home/bench" "$S/home/import"
printf 'import:{PLAIN}%s\n' "$password" >>"$S/users"
chown -R "$uid:$gid" "$S"
if [[ $(id -u) -eq 0 ]]; then
  setpriv --reuid="$uid" --regid="$gid" --clear-groups "$DOVECOT" -c "$S/dovecot.conf" </dev/null &>/dev/null
else
  "$DOVECOT" -c "$S/dovecot.conf" </dev/null &>/dev/null
fi
for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null && break; sleep 0.1; done

measure() {
  local name=$1
  shift
  sync
  /usr/bin/time -f "%e %M" -o "$WORK/time" "$@" >/dev/null 2>"$WORK/err" || { tail -5 "$WORK/err" >&2; }
  read -r seconds kilobytes < <(tail -1 "$WORK/time")
  printf '%-34s %8.2f s %8d MB %10.0f messages/s\n' "$name" "$seconds" $((kilobytes / 1024)) \
    "$(echo "$messages / $seconds" | bc -l)"
}

# imap:// upgrades with STARTTLS: the server offers it.
url="imap://bench@127.0.0.1:$port --imap-ca-file $S/tls/ca.crt"
[[ ${QM_TLS:-0} == 1 ]] && url="imaps://bench@127.0.0.1:$tls_port --imap-ca-file $S/tls/ca.crt"
export QUILLMEND_IMAP_PASSWORD=$password
# shellcheck disable=SC2086
measure "convert --imap" "$CLI" convert "$WORK/Eudora" --imap $url
# shellcheck disable=SC2086
measure "convert --imap again (adds none)" "$CLI" convert "$WORK/Eudora" --imap $url
chown -R "$uid:$gid" "$WORK/Maildir"  # doveadm writes its uidlist beside the messages
measure "doveadm import (from Maildir)" "$DOVEADM" -c "$S/dovecot.conf" import -u import \
  "maildir:$WORK/Maildir:INDEX=MEMORY" "" all
held() { find "$1" -type f \( -path '*/cur/*' -o -path '*/new/*' \) | wc -l; }
echo "on the server: $(held "$S/home/bench/Maildir") uploaded, $(held "$S/home/import/Maildir") imported"
