package com.quillmar.gpuinfo;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;

/** Runs {@link Probe} in a fresh JVM with this JVM's class path and more. */
final class ChildJvm {
    private static final long TIMEOUT_S = 60;

    record Result(int exitCode, String output) {
    }

    private ChildJvm() {
    }

    static Result probe(String scenario, List<String> jvmOptions, List<Path> extraClassPath, String... args)
            throws IOException, InterruptedException {
        StringBuilder classPath = new StringBuilder(System.getProperty("java.class.path"));
        for (Path p : extraClassPath) {
            classPath.append(java.io.File.pathSeparator).append(p);
        }
        List<String> command = new ArrayList<>();
        command.add(Path.of(System.getProperty("java.home"), "bin", "java").toString());
        command.addAll(jvmOptions);
        command.addAll(List.of("-cp", classPath.toString(), Probe.class.getName()));
        command.addAll(List.of(args));
        ProcessBuilder builder = new ProcessBuilder(command).redirectErrorStream(true);
        // The stand-in picks this scenario when it is loaded.
        builder.environment().put("FAKE_DXGI_SCENARIO", scenario);
        Process child = builder.start();
        String output = new String(child.getInputStream().readAllBytes(), StandardCharsets.US_ASCII);
        if (!child.waitFor(TIMEOUT_S, TimeUnit.SECONDS)) {
            child.destroyForcibly();
            throw new AssertionError("the child JVM took over " + TIMEOUT_S + " s: " + output);
        }
        return new Result(child.exitValue(), output);
    }
}
