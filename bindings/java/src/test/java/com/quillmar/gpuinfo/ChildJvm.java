package com.quillmar.gpuinfo;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;

/** Runs {@link Probe}, or another program, in a fresh JVM with this JVM's class path and more. */
final class ChildJvm {
    private static final long TIMEOUT_S = 60;

    record Result(int exitCode, String output) {
    }

    private ChildJvm() {
    }

    static Result probe(String scenario, List<String> jvmOptions, List<Path> extraClassPath, String... args)
            throws IOException, InterruptedException {
        List<String> program = new ArrayList<>(List.of(Probe.class.getName()));
        program.addAll(List.of(args));
        return run(scenario, jvmOptions, extraClassPath, program);
    }

    /** A copy of the stand-in where the first call looks for it, as the jar carries the DLL under win32-x86-64/. */
    static Path classPathWithStandIn(Path folder) throws IOException {
        Path resource = folder.resolve(com.sun.jna.Platform.RESOURCE_PREFIX)
                .resolve(System.mapLibraryName(GpuInfo.LIBRARY_NAME));
        java.nio.file.Files.createDirectories(resource.getParent());
        java.nio.file.Files.copy(StandIn.LIBRARY, resource);
        return folder;
    }

    /** @param program the main class or source file, and its arguments */
    static Result run(String scenario, List<String> jvmOptions, List<Path> extraClassPath, List<String> program)
            throws IOException, InterruptedException {
        StringBuilder classPath = new StringBuilder(System.getProperty("java.class.path"));
        for (Path p : extraClassPath) {
            classPath.append(java.io.File.pathSeparator).append(p);
        }
        List<String> command = new ArrayList<>();
        command.add(Path.of(System.getProperty("java.home"), "bin", "java").toString());
        command.addAll(jvmOptions);
        command.addAll(List.of("-cp", classPath.toString()));
        command.addAll(program);
        ProcessBuilder builder = new ProcessBuilder(command).redirectErrorStream(true);
        // The stand-in picks this scenario when it is loaded.
        builder.environment().put("FAKE_DXGI_SCENARIO", scenario);
        Process child = builder.start();
        String output = new String(child.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        if (!child.waitFor(TIMEOUT_S, TimeUnit.SECONDS)) {
            child.destroyForcibly();
            throw new AssertionError("the child JVM took over " + TIMEOUT_S + " s: " + output);
        }
        return new Result(child.exitValue(), output);
    }
}
