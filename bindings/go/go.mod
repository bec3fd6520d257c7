module github.com/quillmar/quillmar-dxgi-gpu-info/bindings/go

go 1.19
