#!/usr/bin/env bash
# The Go module from dist/'s proxy layout, served to the go command as
# GOPROXY=file://...: a fresh module runs `go get <module>@v<VERSION>`, builds
# for windows/amd64 and runs under Wine, where the package writes its embedded
# DLL to the user's cache folder and loads it from there. Wine starts every
# process elevated, which the package refuses the per-user cache (it says to
# load by path, and writes nothing): the runs that load from the cache go
# through a launcher that starts the consumer with the user's unelevated
# (linked) token, where Wine's DXGI gives CreateDXGIFactory failed, the
# library's own answer. Then the cached copy is tampered with (table below):
# the next run rewrites it and still answers. Last, the elevated consumer
# loads a copy of the DLL by its path and gives the report.
#
# usage: registry_go.sh <dist> <VERSION file> <work folder> <wine>
set -euo pipefail
dist="$1" version="v$(head -n 1 "$2")" work="$3" wine="$4"
module=github.com/quillmar/quillmar-dxgi-gpu-info/bindings/go
dll_name=quillmar-dxgi-gpu-info.dll
cleanup() {
  chmod -R u+w "$work" 2>/dev/null || true
  WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true
}
trap cleanup EXIT
chmod -R u+w "$work" 2>/dev/null || true
rm -rf "$work"
mkdir -p "$work/consumer"
export GOPROXY="file://$dist/goproxy" GOFLAGS=-mod=mod GOSUMDB=off GONOSUMDB="$module" GOPRIVATE= \
  GOPATH="$work/gopath" GOCACHE="$work/gocache" CGO_ENABLED=0
# The cache folder the package uses, in this Wine prefix: emptied first.
cache_root() { find "$WINEPREFIX/drive_c/users" -maxdepth 5 -type d -path '*/AppData/Local/quillmar-dxgi-gpu-info' 2>/dev/null; }
for old in $(cache_root); do rm -rf "$old"; done

cd "$work/consumer"
cat >main.go <<'GO'
package main

import (
	"errors"
	"fmt"
	"os"

	gpuinfo "github.com/quillmar/quillmar-dxgi-gpu-info/bindings/go"
)

// consumer [path]: the module's own DLL, or with a path the DLL there.
func main() {
	if len(os.Args) > 1 {
		if err := gpuinfo.Load(os.Args[1]); err != nil {
			fmt.Println("FAIL:", err)
			os.Exit(1)
		}
	}
	version, err := gpuinfo.Version()
	if err != nil {
		fmt.Println("refused:", err)
		os.Exit(1)
	}
	fmt.Printf("library %s\n", version)
	report, err := gpuinfo.Report()
	var dxgi *gpuinfo.Error
	if errors.As(err, &dxgi) {
		// The library answered: DXGI did not.
		fmt.Println("dxgi:", dxgi.Reason)
		return
	}
	if err != nil {
		fmt.Println("FAIL:", err)
		os.Exit(1)
	}
	fmt.Println(report)
}
GO
go mod init example.com/consumer >/dev/null 2>&1
mkdir -p "$work/launcher"
cat >"$work/launcher/main.go" <<'GO'
// unelevated <program> [args]: runs the program with this process's linked,
// unelevated token.
package main

import (
	"fmt"
	"os"
	"os/exec"
	"syscall"
	"unsafe"
)

const tokenLinkedToken = 19 // TOKEN_INFORMATION_CLASS

func main() {
	token, err := syscall.OpenCurrentProcessToken()
	if err != nil {
		fmt.Println("FAIL: the process token:", err)
		os.Exit(1)
	}
	var linked syscall.Token
	var n uint32
	if err := syscall.GetTokenInformation(token, tokenLinkedToken, (*byte)(unsafe.Pointer(&linked)),
		uint32(unsafe.Sizeof(linked)), &n); err != nil {
		fmt.Println("FAIL: no unelevated token:", err)
		os.Exit(1)
	}
	cmd := exec.Command(os.Args[1], os.Args[2:]...)
	cmd.Stdout, cmd.Stderr = os.Stdout, os.Stderr
	cmd.SysProcAttr = &syscall.SysProcAttr{Token: linked}
	if err := cmd.Run(); err != nil {
		fmt.Println(err)
		os.Exit(1)
	}
}
GO
(cd "$work/launcher" && go mod init example.com/unelevated >/dev/null 2>&1 &&
  GOOS=windows GOARCH=amd64 go build -o "$work/consumer/unelevated.exe" .)
echo "publish: scripts/release/goproxy bindings/go $version <epoch> $dist/goproxy (GOPROXY=$GOPROXY)"
echo "install: go get $module@$version"
go get "$module@$version"
GOOS=windows GOARCH=amd64 go build -o consumer.exe .
# No DLL beside the program: it must come from the module.
if [ -e "$dll_name" ]; then echo "FAIL: a DLL beside the consumer"; exit 1; fi
embedded="$(go list -m -f '{{.Dir}}' "$module")/native/$dll_name"
[ -f "$embedded" ] || { echo "FAIL: the module holds no native/$dll_name"; exit 1; }
want="$(sha256sum "$embedded" | cut -d' ' -f1)"

run() {
  "$wine" ./unelevated.exe ./consumer.exe >"$1" 2>&1 </dev/null || { cat "$1"; echo "FAIL: the consumer failed ($2)"; exit 1; }
  cat "$1"
  grep -q "^library ${version#v}\$" "$1" || { echo "FAIL: no library ${version#v} ($2)"; exit 1; }
  grep -q '^dxgi: CreateDXGIFactory failed$' "$1" || { echo "FAIL: no answer from the library ($2)"; exit 1; }
}
cached_copy() {
  local root; root="$(cache_root)"
  find "$root" -name "$dll_name" -path "*/$version-${want:0:16}/*"
}
check_cached() {
  local copy; copy="$(cached_copy)"
  [ -n "$copy" ] || { echo "FAIL: no cached copy in $version-${want:0:16} ($1)"; exit 1; }
  [ "$(sha256sum "$copy" | cut -d' ' -f1)" = "$want" ] || { echo "FAIL: the cached copy is not the module's DLL ($1)"; exit 1; }
  echo "cached copy ($1): $copy matches $want"
}

echo "consumer output (elevated: refused, nothing written):"
if "$wine" ./consumer.exe >"$work/elevated.txt" 2>&1 </dev/null; then
  cat "$work/elevated.txt"; echo "FAIL: the elevated consumer answered"; exit 1
fi
cat "$work/elevated.txt"
grep -q "an elevated process does not load the DLL from the per-user cache" "$work/elevated.txt" ||
  { echo "FAIL: the elevated consumer did not say to load by path"; exit 1; }
[ -z "$(cache_root)" ] || { echo "FAIL: the elevated consumer wrote to the cache"; exit 1; }

echo "consumer output (first run, the DLL written to the cache):"
run "$work/first.txt" "first run"
check_cached "first run"

# <name> <how the cached copy is changed>
tampered=(
  garbage   'printf "not a DLL" >"$copy"'
  appended  'printf "\0" >>"$copy"'
  other_dll 'cp "$(find "$WINEPREFIX/drive_c/windows/system32" -name version.dll | head -n 1)" "$copy"'
)
set -- "${tampered[@]}"
while [ $# -gt 0 ]; do
  name="$1" how="$2"; shift 2
  copy="$(cached_copy)"
  eval "$how"
  [ "$(sha256sum "$copy" | cut -d' ' -f1)" != "$want" ] || { echo "FAIL: $name left the copy unchanged"; exit 1; }
  echo "consumer output (cached copy tampered: $name):"
  run "$work/$name.txt" "$name"
  check_cached "$name, rewritten"
done
echo "consumer output (elevated, a copy loaded by its path):"
mkdir -p "$work/by-path"
cp "$(cached_copy)" "$work/by-path/$dll_name"
"$wine" ./consumer.exe "$("$wine" winepath -w "$work/by-path/$dll_name" 2>/dev/null)" >"$work/by-path.txt" 2>&1 </dev/null ||
  { cat "$work/by-path.txt"; echo "FAIL: the elevated consumer failed to load by path"; exit 1; }
cat "$work/by-path.txt"
grep -q "^library ${version#v}\$" "$work/by-path.txt" || { echo "FAIL: no library ${version#v} (by path)"; exit 1; }
grep -q '^{"adapters":\[' "$work/by-path.txt" || { echo "FAIL: no report (by path)"; exit 1; }
echo "go registry: PASS"
