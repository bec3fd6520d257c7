module quillmar/gpuinfo

go 1.19
