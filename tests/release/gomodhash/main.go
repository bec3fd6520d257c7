// Command gomodhash compares the Go module the proxy would make from a tag
// with the one in dist/: it zips the module folder of a git revision as the
// go command zips a tagged subdirectory (golang.org/x/mod/zip.CreateFromVCS,
// git archive underneath) and prints the module hash (the h1: of go.sum,
// golang.org/x/mod/sumdb/dirhash) of that zip and of dist/'s.
//
// usage: gomodhash <repository> <revision> <module folder> <version> <dist zip>
package main

import (
	"fmt"
	"os"
	"path/filepath"

	"golang.org/x/mod/module"
	"golang.org/x/mod/sumdb/dirhash"
	"golang.org/x/mod/zip"
)

const modulePath = "github.com/quillmar/quillmar-dxgi-gpu-info/bindings/go"

func main() {
	if len(os.Args) != 6 {
		fmt.Fprintln(os.Stderr, "usage: gomodhash <repository> <revision> <module folder> <version> <dist zip>")
		os.Exit(2)
	}
	repo, revision, folder, version, distZip := os.Args[1], os.Args[2], os.Args[3], os.Args[4], os.Args[5]
	tagged := filepath.Join(os.TempDir(), fmt.Sprintf("gomodhash-%d.zip", os.Getpid()))
	defer os.Remove(tagged)
	f, err := os.Create(tagged)
	if err == nil {
		err = zip.CreateFromVCS(f, module.Version{Path: modulePath, Version: version}, repo, revision, folder)
		if closeErr := f.Close(); err == nil {
			err = closeErr
		}
	}
	if err != nil {
		fmt.Println("FAIL: zipping the tagged module:", err)
		os.Exit(1)
	}
	fromTag, err := dirhash.HashZip(tagged, dirhash.Hash1)
	if err != nil {
		fmt.Println("FAIL:", err)
		os.Exit(1)
	}
	fromDist, err := dirhash.HashZip(distZip, dirhash.Hash1)
	if err != nil {
		fmt.Println("FAIL:", err)
		os.Exit(1)
	}
	fmt.Printf("module hash of the tag's %s: %s\nmodule hash of dist/'s zip:     %s\n", folder, fromTag, fromDist)
	if fromTag != fromDist {
		fmt.Println("FAIL: the proxy's zip from the tag would not be dist/'s")
		os.Exit(1)
	}
	fmt.Println("the same module: go.sum's h1: for the tag is dist/'s")
}
