# The Java binding's JUnit 5 tests in Java 17 against the library's source
# built as a Linux shared library (binding_stand_in), run by Maven offline
# against Debian's own repository of Java packages. Included by the native
# build's CMakeLists, which defines binding_stand_in and BINDING_CASES.
# Maven writes into the build tree, never into the source folder.
gpuinfo_find_program(JAVA_MAVEN mvn)
if(NOT JAVA_MAVEN)
  # Still registered: without Maven (scripts/setup.sh installs it) it fails and says why.
  message(WARNING "mvn not found: the Java binding test will fail")
  set(JAVA_MAVEN mvn)
endif()
set(java_binding_dir ${CMAKE_CURRENT_LIST_DIR})
add_test(NAME binding_java
  COMMAND ${JAVA_MAVEN} --offline --batch-mode --no-transfer-progress -Dstyle.color=never
          --settings ${java_binding_dir}/debian-settings.xml --file ${java_binding_dir}/pom.xml
          -Dgpuinfo.build.dir=${CMAKE_CURRENT_BINARY_DIR}/java test)
# Bounded: a JVM stuck on a lock would otherwise hold up the whole run.
set_tests_properties(binding_java PROPERTIES
  LABELS binding-java
  TIMEOUT 600
  ENVIRONMENT "GPUINFO_STAND_IN=$<TARGET_FILE:binding_stand_in>;GPUINFO_CASES=${BINDING_CASES}")
