#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the engine against three real FTP servers (vsftpd, ProFTPD, Pure-FTPd), each on
# 127.0.0.1 with a port of its own and a small tree (names with spaces, UTF-8 names, a
# symbolic link, nested directories, a 5 MiB random file), and prints one table of
# results. Each server also offers explicit TLS with a self-signed certificate, and the
# probe runs twice: in clear (ftp://) and over TLS (ftpes://). Needs root: it installs what is missing, adds a local test user and starts the
# servers. Not part of ./test.sh.
#
#   sudo tools/interop.sh            (ZODARU_INTEROP_BUILD=dir to build elsewhere)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
if [ "$(id -u)" != 0 ]; then
  echo "tools/interop.sh must run as root" >&2
  exit 2
fi

build=${ZODARU_INTEROP_BUILD:-$root/build/interop}
cache=/var/cache/zodaru-interop
user=zodaru-interop
password=interop-$$-$RANDOM
work=$(mktemp -d /tmp/zodaru-interop.XXXXXX)
chmod 755 "$work"
made_user=0
pam_file=/etc/pam.d/zodaru-interop

# shellcheck source=tools/ftp-servers.sh
. tools/ftp-servers.sh
ftp_work=$work

cleanup() {
  ftp_stop_all
  if [ "$made_user" = 1 ]; then userdel "$user" 2>/dev/null || true; fi
  rm -f "$pam_file"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The three packages conflict with one another (each provides ftp-server), so apt cannot
# install them side by side. An installed one is used as it is; for the others, apt brings
# their libraries and the package itself is unpacked into a cache and run from there.
server_binary() { # package binary-name
  local pkg=$1 bin=$2
  if dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q '^install ok installed'; then
    echo "/usr/sbin/$bin"
    return
  fi
  if [ ! -x "$cache/$pkg/usr/sbin/$bin" ]; then
    mkdir -p "$cache"
    if [ -z "${apt_updated:-}" ]; then apt-get update -qq >&2; apt_updated=1; fi
    local libs
    libs=$(apt-cache depends --no-recommends --no-suggests --no-conflicts --no-breaks --no-replaces \
      --no-enhances "$pkg" | awk '/Depends: lib/ {print $2}')
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $libs >&2
    (cd "$cache" && rm -f "$pkg"_*.deb && apt-get download -qq "$pkg" 2>/dev/null >&2 \
      && rm -rf "$pkg" && dpkg-deb -x "$pkg"_*.deb "$pkg")
  fi
  echo "$cache/$pkg/usr/sbin/$bin"
}

ftp_bin_vsftpd=$(server_binary vsftpd vsftpd)
ftp_bin_proftpd=$(server_binary proftpd-core proftpd)
ftp_bin_pureftpd=$(server_binary pure-ftpd pure-ftpd)

# ProFTPD's TLS module comes in a package of its own, unpacked beside the server.
proftpd_modules=$(dirname "$ftp_bin_proftpd")/../lib/proftpd
if [ ! -f "$proftpd_modules/mod_tls.so" ]; then
  if [ -z "${apt_updated:-}" ]; then apt-get update -qq >&2; apt_updated=1; fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends libsodium23 >&2
  (cd "$cache" && rm -f proftpd-mod-crypto_*.deb && apt-get download -qq proftpd-mod-crypto 2>/dev/null >&2 \
    && dpkg-deb -x proftpd-mod-crypto_*.deb proftpd-mod-crypto)
  proftpd_modules=$cache/proftpd-mod-crypto/usr/lib/proftpd
fi

echo "== building the probe"
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work} CCACHE_DIR=${CCACHE_DIR:-/work/.ccache}
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZODARU_BUILD_TOOLS=ON -DZODARU_BUILD_TESTS=OFF \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target interop_probe >/dev/null
probe=$build/tools/interop_probe
# The engine's and the servers' output, kept after the run.
logs=$build/interop-logs
rm -rf "$logs"
mkdir -p "$logs"
ftp_logs=$logs

echo "== test user and tree"
if ! id "$user" >/dev/null 2>&1; then
  useradd --no-create-home --home-dir "$work/home" --shell /bin/bash "$user"
  made_user=1
fi
echo "$user:$password" | chpasswd
mkdir -p "$work/home" "$work/local"
chown "$user:" "$work/home"
cat >"$pam_file" <<'EOF'
@include common-auth
@include common-account
@include common-session
EOF

# The servers' certificate, trusted by the probe through --trust.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=zodaru interop" \
  -addext "subjectAltName=IP:127.0.0.1" -keyout "$work/tls.key" -out "$work/tls.crt" 2>/dev/null
chmod 600 "$work/tls.key"

head -c $((5 * 1024 * 1024)) /dev/urandom >"$work/local/random.bin"
make_tree() { # dir
  local t=$1
  mkdir -p "$t/dir with spaces" "$t/nested/level1/level2" "$t/répertoire-日本"
  echo "one" >"$t/dir with spaces/file one.txt"
  echo "two" >"$t/dir with spaces/two  spaces.txt"
  echo "deep" >"$t/nested/level1/level2/deep.txt"
  echo "ete" >"$t/répertoire-日本/été.txt"
  echo "cafe" >"$t/répertoire-日本/naïve café.txt"
  echo "small" >"$t/small.txt"
  ln -s nested "$t/link-to-nested"
  cp "$work/local/random.bin" "$t/random.bin"
  chown -R -h "$user:" "$t"
}

# What each server adds to the shared set-up of tools/ftp-servers.sh: the test user's
# logins, uploads, and explicit TLS offered beside clear sessions.
vsftpd_config=(anonymous_enable=NO local_enable=YES write_enable=YES local_umask=022
  chroot_local_user=NO "pam_service_name=$(basename "$pam_file")" ssl_enable=YES
  "rsa_cert_file=$work/tls.crt" "rsa_private_key_file=$work/tls.key" force_local_logins_ssl=NO
  force_local_data_ssl=NO require_ssl_reuse=YES ssl_ciphers=HIGH)
proftpd_config=("AuthOrder mod_auth_unix.c" "RequireValidShell off" "Umask 022" "AllowOverwrite on"
  "ModulePath $proftpd_modules" "LoadModule mod_tls.c" "TLSEngine on" "TLSProtocol TLSv1.2 TLSv1.3"
  "TLSRSACertificateFile $work/tls.crt" "TLSRSACertificateKeyFile $work/tls.key" "TLSRequired off"
  "TLSVerifyClient off" "TLSLog $work/proftpd-tls.log")
# -l unix: system accounts; -E: no anonymous; no chroot option; -Y 1: TLS offered, clear
# allowed.
pureftpd_options=(-l unix -E -Y 1 -2 "$work/tls.crt,$work/tls.key")

declare -A results
servers=(vsftpd proftpd pure-ftpd)
columns=()
checks=()
for name in "${servers[@]}"; do
  echo "== $name"
  tree=$work/srv-$name/tree
  make_tree "$tree"
  started=0
  case $name in
    vsftpd) ftp_pasv="41000 41099" ftp_start vsftpd "$name" "${vsftpd_config[@]}" && started=1 ;;
    proftpd) ftp_pasv="41100 41199" ftp_start proftpd "$name" "${proftpd_config[@]}" && started=1 ;;
    pure-ftpd) ftp_pasv="41200 41299" ftp_start pure-ftpd "$name" "${pureftpd_options[@]}" && started=1 ;;
  esac
  for scheme in ftp ftpes; do
    column=$name
    [ "$scheme" = ftp ] || column="$name $scheme"
    columns+=("$column")
    report=$work/report-$name-$scheme
    : >"$report"
    if [ "$started" = 1 ]; then
      "$probe" --server "$scheme://127.0.0.1:$port" --user "$user" --password "$password" --base "$tree" \
        --served "$tree" --local "$work/local" --report "$report" --trust "$work/tls.crt" \
        >"$logs/$name-$scheme-engine.log" 2>&1 || true
    fi
    while IFS=$'\t' read -r check verdict detail; do
      [[ " ${checks[*]} " == *" $check "* ]] || checks+=("$check")
      results["$column|$check"]="$verdict $detail"
    done <"$report"
  done
done

echo
echo "== results (engine at $(git -C "$root" rev-parse --short HEAD); logs in $logs)"
{
  printf 'check'
  printf '\t%s' "${columns[@]}"
  printf '\n'
  for check in "${checks[@]}"; do
    printf '%s' "$check"
    for column in "${columns[@]}"; do printf '\t%s' "${results["$column|$check"]:-not run}"; done
    printf '\n'
  done
} | awk -F'\t' '
  { for (i = 1; i <= NF; i++) { cell[NR, i] = $i; if (length($i) > w[i]) w[i] = length($i) } n = NF; rows = NR }
  END {
    for (r = 1; r <= rows; r++) {
      line = ""
      for (i = 1; i <= n; i++) line = line sprintf("%-" w[i] "s", cell[r, i]) (i < n ? " | " : "")
      print line
      if (r == 1) { sep = ""; for (i = 1; i <= n; i++) { s = sprintf("%" w[i] "s", ""); gsub(/ /, "-", s); sep = sep s (i < n ? "-+-" : "") } print sep }
    }
  }'
