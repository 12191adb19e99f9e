#!/usr/bin/env bash
# What verifying a signed repository costs: the launcher's FTP (per-file, compressed) and HTTP
# (packed) sessions on the same signed repository, without and with a trusted key, side by
# side; and torvane-cli --verify of the installed game against sha256sum of the same files.
# Each pair runs RUNS times (default 3), the two sides taking turns; medians are printed.
#
#   bench/trust/run.sh [build-dir]
#
# FILES files (default 600) of SIZE_KIB KiB (default 525: about 315 MB, the set of
# bench/compare). Needs the test build (patch-session-driver, torvane-publish, torvane-cli,
# torvane-connectd), pyftpdlib, nginx and sha256sum. Not run by tests or CI.
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$(pwd)
. bench/common.sh
build=$(realpath "${1:-build}")
driver=$build/bin/patch-session-driver
publish=$build/bin/torvane-publish
cli=$build/bin/torvane-cli
connectd=$build/bin/torvane-connectd
files=${FILES:-600}
size_kib=${SIZE_KIB:-525}
runs=${RUNS:-3}
for need in "$driver" "$publish" "$cli" "$connectd" /usr/sbin/nginx /usr/bin/time sha256sum; do
  command -v "$need" >/dev/null || { echo "missing: $need" >&2; exit 1; }
done

bench_work_dir trust
generate_data "$files" "$size_kib"
printf '[LOGIN]\r\nVersion=1.00.00\r\n' > data/config.ini
"$publish" keygen key.pub key.sec >/dev/null
"$publish" add ftp --label 1.00.01 --to data --compressed --sign key.sec >/dev/null
"$publish" add http --label 1.00.01 --to data --packed --sign key.sec >/dev/null
key=$(sed -n 2p key.pub)

start_ftp ftp
start_nginx http

seconds() { /usr/bin/time -f "%e" -o "$work/t" "$@" >/dev/null 2>&1 || { echo "FAILED: $*" >&2; exit 1; }; cat "$work/t"; }
fresh() { rm -rf "$1"; mkdir -p "$1/Temp"; }

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
pf=(); sf=(); ph=(); sh=(); vf=(); hs=()
for run in $(seq "$runs"); do
  fresh g; pf+=("$(seconds "$driver" "$work/g" 127.0.0.1 "$ftp_port" patch secret version.wvd)")
  fresh g; sf+=("$(TORVANE_TRUSTED_KEY=$key seconds "$driver" "$work/g" 127.0.0.1 "$ftp_port" patch secret version.wvd)")
  fresh g; sh+=("$(TORVANE_TRUSTED_KEY=$key seconds "$driver" --http "$work/g" "127.0.0.1:$http_port" version.wvd)")
  fresh g; ph+=("$(seconds "$driver" --http "$work/g" "127.0.0.1:$http_port" version.wvd)")
done
plain_ftp=$(printf '%s\n' "${pf[@]}" | median); signed_ftp=$(printf '%s\n' "${sf[@]}" | median)
plain_http=$(printf '%s\n' "${ph[@]}" | median); signed_http=$(printf '%s\n' "${sh[@]}" | median)

# --verify of the installed game (the packed version just installed), the connect server
# naming nginx; sha256sum reads and hashes the same files.
connect_port=$(free_port)
cat > connectd.conf <<CONF
patch = http
patch_host = 127.0.0.1:$http_port
patch_version_file = version.wvd
server.0.name = World1
server.0.address = 10.0.0.1
server.0.port = 55901
CONF
"$connectd" --config connectd.conf --port "$connect_port" >connectd.log 2>&1 &
pids+=($!)
wait_port "$connect_port"
printf 'connect_address = 127.0.0.1\nconnect_port = %s\ntrusted_key = %s\n' "$connect_port" "$key" > torvane.conf
"$cli" --config torvane.conf --game-dir g --verify >/dev/null 2>verify.log || { echo "FAILED: --verify" >&2; cat verify.log >&2; exit 1; }
for run in $(seq "$runs"); do
  if [ $((run % 2)) = 1 ]; then
    vf+=("$(seconds "$cli" --config torvane.conf --game-dir g --verify)")
    hs+=("$(seconds sh -c "sha256sum g/*.bmd")")
  else
    hs+=("$(seconds sh -c "sha256sum g/*.bmd")")
    vf+=("$(seconds "$cli" --config torvane.conf --game-dir g --verify)")
  fi
done
verify=$(printf '%s\n' "${vf[@]}" | median); hash=$(printf '%s\n' "${hs[@]}" | median)
mib=$(du -sm data | cut -f1)

printf '%-22s unverified %7.2f s | verified %7.2f s | cost %+6.1f %%\n' \
  "per-file FTP (.VKC)" "$plain_ftp" "$signed_ftp" "$(echo "($signed_ftp / $plain_ftp - 1) * 100" | bc -l)"
printf '%-22s unverified %7.2f s | verified %7.2f s | cost %+6.1f %%\n' \
  "packed HTTP" "$plain_http" "$signed_http" "$(echo "($signed_http / $plain_http - 1) * 100" | bc -l)"
printf '%-22s --verify   %7.2f s | sha256sum %6.2f s | %d MiB, %d files, %s runs\n' \
  "check of the game" "$verify" "$hash" "$mib" "$files" "$runs"
# Every run, in the order they ran: on a shared machine the spread says how far to trust the
# medians.
echo "runs: FTP unverified ${pf[*]} | verified ${sf[*]}; HTTP unverified ${ph[*]} | verified ${sh[*]}"
echo "runs: --verify ${vf[*]} | sha256sum ${hs[*]}"
