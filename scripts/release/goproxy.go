// Command goproxy lays a module folder out as a Go module proxy serves it
// (GOPROXY=file://...): <escaped path>/@v/list, .info, .mod and .zip, made by
// golang.org/x/mod so the zip is what the go command itself would check.
//
// usage: goproxy <module folder> <version> <unix time> <proxy folder>
package main

import (
	"encoding/json"
	"fmt"
	"os"
	"path/filepath"
	"strconv"
	"time"

	"golang.org/x/mod/modfile"
	"golang.org/x/mod/module"
	"golang.org/x/mod/semver"
	"golang.org/x/mod/zip"
)

func main() {
	if len(os.Args) != 5 {
		fmt.Fprintln(os.Stderr, "usage: goproxy <module folder> <version> <unix time> <proxy folder>")
		os.Exit(2)
	}
	if err := run(os.Args[1], os.Args[2], os.Args[3], os.Args[4]); err != nil {
		fmt.Fprintln(os.Stderr, "goproxy:", err)
		os.Exit(1)
	}
}

func run(dir, version, epoch, out string) error {
	if !semver.IsValid(version) || semver.Canonical(version) != version {
		return fmt.Errorf("%q is not a canonical version such as v1.0.0", version)
	}
	seconds, err := strconv.ParseInt(epoch, 10, 64)
	if err != nil {
		return fmt.Errorf("time %q: %v", epoch, err)
	}
	gomod, err := os.ReadFile(filepath.Join(dir, "go.mod"))
	if err != nil {
		return err
	}
	path := modfile.ModulePath(gomod)
	if path == "" {
		return fmt.Errorf("%s/go.mod names no module", dir)
	}
	mv := module.Version{Path: path, Version: version}
	if err := module.Check(path, version); err != nil {
		return err
	}
	escaped, err := module.EscapePath(path)
	if err != nil {
		return err
	}
	at := filepath.Join(out, filepath.FromSlash(escaped), "@v")
	if err := os.MkdirAll(at, 0o755); err != nil {
		return err
	}
	info, err := json.Marshal(struct {
		Version string
		Time    string
	}{version, time.Unix(seconds, 0).UTC().Format(time.RFC3339)})
	if err != nil {
		return err
	}
	files := map[string][]byte{
		"list":            []byte(version + "\n"),
		version + ".info": append(info, '\n'),
		version + ".mod":  gomod,
	}
	for name, data := range files {
		if err := os.WriteFile(filepath.Join(at, name), data, 0o644); err != nil {
			return err
		}
	}
	f, err := os.Create(filepath.Join(at, version+".zip"))
	if err != nil {
		return err
	}
	if err := zip.CreateFromDir(f, mv, dir); err != nil {
		f.Close()
		return err
	}
	return f.Close()
}
