# The release bundle as its users meet it (check_bundle.py). The zip is part
# of the default build, so every test run sees the current one.
find_package(Python3 COMPONENTS Interpreter)
find_program(BUNDLE_LLVM_NM NAMES llvm-nm-14 llvm-nm)
find_program(BUNDLE_LLVM_READOBJ NAMES llvm-readobj-14 llvm-readobj)
find_program(BUNDLE_LLVM_OBJDUMP NAMES llvm-objdump-14 llvm-objdump)
find_program(BUNDLE_CLANG NAMES clang-14 clang)
find_program(BUNDLE_LLD_LINK NAMES lld-link-14 lld-link)

set(check_bundle ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/bundle/check_bundle.py)
set(bundle_args --zip ${BUNDLE_ZIP_FILE} --source ${PROJECT_SOURCE_DIR} --cmake ${CMAKE_COMMAND})

# The zip's time stamp: SOURCE_DATE_EPOCH when set, as MakeBundle.cmake reads
# it, else the default packaging/CMakeLists.txt gives it.
add_test(NAME bundle_contents COMMAND ${check_bundle} contents ${bundle_args}
  --dll $<TARGET_FILE:gpuinfo> --exe $<TARGET_FILE:gpuinfo_tool> --default-epoch ${BUNDLE_EPOCH})
if(BUNDLE_LLVM_NM AND BUNDLE_LLVM_READOBJ AND BUNDLE_LLVM_OBJDUMP)
  add_test(NAME bundle_import_libs COMMAND ${check_bundle} import_libs ${bundle_args}
    --llvm-nm ${BUNDLE_LLVM_NM} --llvm-readobj ${BUNDLE_LLVM_READOBJ} --llvm-objdump ${BUNDLE_LLVM_OBJDUMP})
else()
  message(WARNING "bundle_import_libs not registered: llvm-nm, llvm-readobj or llvm-objdump missing")
endif()
# Two builds in two folders give the same zip; the second folder is made
# from nothing each time (a few seconds: only the DLL and the tool), with the
# same toolchain file, or on Windows itself the same compilers.
if(CMAKE_TOOLCHAIN_FILE)
  set(second_build_compilers --toolchain ${CMAKE_TOOLCHAIN_FILE})
else()
  set(second_build_compilers --c-compiler ${CMAKE_C_COMPILER} --cxx-compiler ${CMAKE_CXX_COMPILER})
endif()
add_test(NAME bundle_reproducible COMMAND ${check_bundle} reproducible ${bundle_args}
  --second-build ${CMAKE_BINARY_DIR}/bundle/second-build --build-type ${CMAKE_BUILD_TYPE}
  --generator ${CMAKE_GENERATOR} ${second_build_compilers})

foreach(test bundle_contents bundle_import_libs bundle_reproducible)
  if(TEST ${test})
    set_tests_properties(${test} PROPERTIES LABELS bundle)
  endif()
endforeach()

gpuinfo_wine_test(bundle_cmake_consumer DXGI fake LABELS bundle COMMAND ${check_bundle} consumer ${bundle_args}
  --wine ${CMAKE_CROSSCOMPILING_EMULATOR} --objdump ${BUNDLE_LLVM_OBJDUMP})
if(BUNDLE_CLANG AND BUNDLE_LLD_LINK)
  gpuinfo_wine_test(bundle_msvc_link DXGI fake LABELS bundle COMMAND ${check_bundle} msvc_link ${bundle_args}
    --wine ${CMAKE_CROSSCOMPILING_EMULATOR} --clang ${BUNDLE_CLANG} --lld-link ${BUNDLE_LLD_LINK}
    --dlltool ${GPUINFO_DLLTOOL})
else()
  message(STATUS "bundle_msvc_link not registered: it needs clang and lld-link")
endif()
