#!/usr/bin/env bash
# What verifying a signed repository costs: the launcher's FTP (per-file, compressed) and HTTP
# (packed) sessions on the same signed repository, without and with a trusted key, side by
# side, and sha256sum over the same data for scale.
#
#   bench/trust/run.sh [build-dir]
#
# FILES files (default 300) of SIZE_KIB KiB (default 1024). Needs the test build
# (patch-session-driver, torvane-publish), pyftpdlib, nginx and sha256sum. Not run by tests
# or CI.
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$(pwd)
. bench/common.sh
build=$(realpath "${1:-build}")
driver=$build/bin/patch-session-driver
publish=$build/bin/torvane-publish
files=${FILES:-300}
size_kib=${SIZE_KIB:-1024}
for need in "$driver" "$publish" /usr/sbin/nginx /usr/bin/time sha256sum; do
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

fresh g; plain_ftp=$(seconds "$driver" "$work/g" 127.0.0.1 "$ftp_port" patch secret version.wvd)
fresh g; signed_ftp=$(TORVANE_TRUSTED_KEY=$key seconds "$driver" "$work/g" 127.0.0.1 "$ftp_port" patch secret version.wvd)
fresh g; plain_http=$(seconds "$driver" --http "$work/g" "127.0.0.1:$http_port" version.wvd)
fresh g; signed_http=$(TORVANE_TRUSTED_KEY=$key seconds "$driver" --http "$work/g" "127.0.0.1:$http_port" version.wvd)
hash=$(seconds sh -c "cat data/*.bmd | sha256sum")
mib=$(du -sm data | cut -f1)

printf '%-22s unverified %7.2f s | verified %7.2f s | cost %+6.1f %%\n' \
  "per-file FTP (.VKC)" "$plain_ftp" "$signed_ftp" "$(echo "($signed_ftp / $plain_ftp - 1) * 100" | bc -l)"
printf '%-22s unverified %7.2f s | verified %7.2f s | cost %+6.1f %%\n' \
  "packed HTTP" "$plain_http" "$signed_http" "$(echo "($signed_http / $plain_http - 1) * 100" | bc -l)"
printf '%-22s %7.2f s for %d MiB\n' "sha256sum of the data" "$hash" "$mib"
