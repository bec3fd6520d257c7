#!/usr/bin/env python3
"""The release's Maven files checked against Maven Central's rules, deployed
with `mvn deploy:deploy-file` to a file:// repository, then resolved from it
by a fresh project whose JUnit test loads the binding from the jar it got.

Central's rules: the pom names name, description, url, licenses, developers
and scm; the sources and javadoc jars are there; with a GPG key (--gnupg
home), every file has an .asc that verifies against it. The rules are also
tried on a pom with each required part taken out, and a signature on a
tampered jar, which must each be refused.

Maven runs against Debian's repository of Java packages
(/usr/share/maven-repo), here as the mirror of every remote repository but
the one deployed to, with a local repository of this test's own. No JVM for
Windows exists here: the consumer's test loads the bindings' native
stand-in (tests/release/stand_in, built with the host's compiler), as the Java
binding's own tests do.
"""
import argparse
import os
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import checks  # noqa: E402

GROUP = "com.quillmar"
ARTIFACT = "quillmar-gpuinfo"
POM_NS = "http://maven.apache.org/POM/4.0.0"
SETTINGS_NS = "http://maven.apache.org/SETTINGS/1.2.0"
DEBIAN_REPOSITORY = "/usr/share/maven-repo"
DEPLOY_PLUGIN = "org.apache.maven.plugins:maven-deploy-plugin:3.0.0:deploy-file"
DEPLOY_ID = "release"
MAVEN_TIMEOUT_S = 300
BUILD_TIMEOUT_S = 300
# What Maven Central refuses a pom without (elements under <project>).
CENTRAL_REQUIRED = ("name", "description", "url", "licenses/license/name", "licenses/license/url",
                    "developers/developer/name", "scm/url", "scm/connection")
# The files of one release beside the pom: (classifier, extension).
CENTRAL_FILES = (("", "pom"), ("", "jar"), ("sources", "jar"), ("javadoc", "jar"))
SETTINGS = """\
<?xml version="1.0" encoding="UTF-8"?>
<settings xmlns="{ns}">
  <localRepository>{local}</localRepository>
  <mirrors>
    <mirror>
      <id>debian</id>
      <mirrorOf>*,!{deploy_id}</mirrorOf>
      <url>file://{debian}</url>
    </mirror>
  </mirrors>
  <profiles>
    <profile>
      <id>debian</id>
      <properties>{properties}</properties>
    </profile>
  </profiles>
  <activeProfiles>
    <activeProfile>debian</activeProfile>
  </activeProfiles>
</settings>
"""
CONSUMER_POM = """\
<?xml version="1.0" encoding="UTF-8"?>
<project xmlns="{ns}">
  <modelVersion>4.0.0</modelVersion>
  <groupId>com.example</groupId>
  <artifactId>gpuinfo-consumer</artifactId>
  <version>1.0.0</version>
  <properties>
    <maven.compiler.release>17</maven.compiler.release>
    <project.build.sourceEncoding>UTF-8</project.build.sourceEncoding>
  </properties>
  <repositories>
    <repository>
      <id>{deploy_id}</id>
      <url>{repository}</url>
    </repository>
  </repositories>
  <dependencies>
    <dependency>
      <groupId>{group}</groupId>
      <artifactId>{artifact}</artifactId>
      <version>{version}</version>
    </dependency>
    <dependency>
      <groupId>org.junit.jupiter</groupId>
      <artifactId>junit-jupiter-engine</artifactId>
      <version>{junit}</version>
      <scope>test</scope>
    </dependency>
  </dependencies>
  <build>
    <plugins>
{plugins}
      <plugin>
        <groupId>org.apache.maven.plugins</groupId>
        <artifactId>maven-surefire-plugin</artifactId>
        <version>${{surefire.version}}</version>
        <configuration>
          <systemPropertyVariables>
            <gpuinfo.expected.version>{version}</gpuinfo.expected.version>
          </systemPropertyVariables>
        </configuration>
      </plugin>
    </plugins>
  </build>
</project>
"""
CONSUMER_TEST = """\
package com.example.consumer;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.quillmar.gpuinfo.GpuInfo;
import java.nio.file.Path;
import org.junit.jupiter.api.Test;

class ConsumerTest {
    @Test
    void reportsThroughTheReleasedJar() {
        GpuInfo.load(Path.of(System.getenv("GPUINFO_STAND_IN")));
        String version = GpuInfo.version();
        String report = GpuInfo.report();
        System.out.println("version " + version);
        System.out.println(report);
        assertEquals(System.getProperty("gpuinfo.expected.version"), version);
        assertTrue(report.startsWith("{\\"adapters\\":["), report);
    }
}
"""


def fail(message):
    print(f"FAIL: {message}", flush=True)
    sys.exit(1)


def run(cmd, cwd, timeout, env=None):
    done = subprocess.run(cmd, cwd=cwd, env=env, capture_output=True, text=True, timeout=timeout)
    if done.returncode != 0:
        fail(f"{' '.join(cmd)} exited with {done.returncode}:\n{done.stdout}{done.stderr}")
    return done.stdout + done.stderr


def file_name(version, classifier, extension):
    return f"{ARTIFACT}-{version}{'-' + classifier if classifier else ''}.{extension}"


def pom_problems(pom_bytes, version):
    """What Maven Central would refuse in this pom."""
    root = ET.fromstring(pom_bytes)
    problems = []
    for field, want in (("groupId", GROUP), ("artifactId", ARTIFACT), ("version", version)):
        found = root.findtext(f"{{{POM_NS}}}{field}")
        if found != want:
            problems.append(f"{field} is {found!r}, want {want!r}")
    for path in CENTRAL_REQUIRED:
        element = root.find("/".join(f"{{{POM_NS}}}{part}" for part in path.split("/")))
        if element is None or not (element.text or "").strip():
            problems.append(f"no {path}")
    return problems


def without(pom_bytes, path):
    """The pom with the element at path (its last part) taken out, or None
    when it has no such element."""
    ET.register_namespace("", POM_NS)
    root = ET.fromstring(pom_bytes)
    parts = path.split("/")
    parent = root.find("/".join(f"{{{POM_NS}}}{part}" for part in parts[:-1])) if parts[:-1] else root
    element = None if parent is None else parent.find(f"{{{POM_NS}}}{parts[-1]}")
    if element is None:
        return None
    parent.remove(element)
    return ET.tostring(root)


def gpg_verifies(gnupg, signature, signed):
    return subprocess.run(["gpg", "--homedir", gnupg, "--batch", "--verify", signature, signed],
                          capture_output=True, timeout=MAVEN_TIMEOUT_S).returncode == 0


def check_central_rules(args, folder, version, work):
    pom = open(os.path.join(folder, file_name(version, "", "pom")), "rb").read()
    problems = pom_problems(pom, version)
    checks.check(not problems, "Central's pom rules", "; ".join(problems))
    for path in CENTRAL_REQUIRED:
        reduced = without(pom, path)
        if reduced is None:
            continue  # refused above already
        found = pom_problems(reduced, version)
        checks.check(f"no {path}" in found, f"pom without {path}", f"not refused (found {found})")
    for classifier, extension in CENTRAL_FILES:
        name = file_name(version, classifier, extension)
        checks.check(os.path.exists(os.path.join(folder, name)), "Central's files", f"no {name}")
    print(f"Central's rules: the pom has {', '.join(CENTRAL_REQUIRED)}; sources and javadoc jars there")
    if not args.gnupg:
        print("no GPG key given: no .asc signatures looked for")
        return
    for classifier, extension in CENTRAL_FILES:
        signed = os.path.join(folder, file_name(version, classifier, extension))
        checks.check(os.path.exists(signed + ".asc") and gpg_verifies(args.gnupg, signed + ".asc", signed),
                     "signature", f"{os.path.basename(signed)}.asc missing or not verified")
    tampered = os.path.join(work, "tampered.jar")
    jar = os.path.join(folder, file_name(version, "", "jar"))
    with open(tampered, "wb") as f:
        f.write(open(jar, "rb").read() + b"\0")
    checks.check(not gpg_verifies(args.gnupg, jar + ".asc", tampered), "tampered jar",
                 "the jar's signature verifies a changed jar")
    print("signatures: every file's .asc verifies with the release key; a changed jar's does not")


def settings(work, bindings_settings):
    """Settings with this test's local repository, Debian's repository as
    every remote but the release's, and the properties debian-settings.xml
    sets (the plugin versions Debian packages)."""
    debian = ET.parse(bindings_settings).getroot()
    properties = debian.find(f"{{{SETTINGS_NS}}}profiles/{{{SETTINGS_NS}}}profile/{{{SETTINGS_NS}}}properties")
    body = "".join(f"<{p.tag.split('}')[1]}>{p.text}</{p.tag.split('}')[1]}>" for p in properties)
    path = os.path.join(work, "settings.xml")
    with open(path, "w") as f:
        f.write(SETTINGS.format(ns=SETTINGS_NS, local=os.path.join(work, "local-repository"), deploy_id=DEPLOY_ID,
                                debian=DEBIAN_REPOSITORY, properties=body))
    return path


def binding_plugins_and_junit(binding_pom):
    """The binding's resources and compiler plugins (as it pins them) and its
    JUnit version, for the consumer to build as the binding does."""
    root = ET.parse(binding_pom).getroot()
    plugins = []
    for plugin in root.iter(f"{{{POM_NS}}}plugin"):
        name = plugin.findtext(f"{{{POM_NS}}}artifactId")
        if name in ("maven-resources-plugin", "maven-compiler-plugin"):
            plugins.append(f"""      <plugin>
        <groupId>org.apache.maven.plugins</groupId>
        <artifactId>{name}</artifactId>
        <version>{plugin.findtext(f"{{{POM_NS}}}version")}</version>
      </plugin>""")
    return "\n".join(plugins), root.findtext(f"{{{POM_NS}}}properties/{{{POM_NS}}}junit.version")


def deploy(args, settings_path, folder, version, repository, work):
    base = os.path.join(folder, f"{ARTIFACT}-{version}")
    cmd = ["-DrepositoryId=" + DEPLOY_ID, f"-Durl={repository}", f"-Dfile={base}.jar", f"-DpomFile={base}.pom",
           f"-Dsources={base}-sources.jar", f"-Djavadoc={base}-javadoc.jar"]
    signatures = [(classifier, extension) for classifier, extension in CENTRAL_FILES
                  if os.path.exists(os.path.join(folder, file_name(version, classifier, extension)) + ".asc")]
    if signatures:
        cmd += ["-Dfiles=" + ",".join(os.path.join(folder, file_name(version, c, e)) + ".asc" for c, e in signatures),
                "-Dtypes=" + ",".join(f"{e}.asc" for _, e in signatures),
                "-Dclassifiers=" + ",".join(c for c, _ in signatures)]
    line = [args.mvn, "--batch-mode", "--no-transfer-progress", "-Dstyle.color=never", "--settings", settings_path,
            DEPLOY_PLUGIN, *cmd]
    print(f"publish: {' '.join(line)}", flush=True)
    run(line, work, MAVEN_TIMEOUT_S)
    deployed = os.path.join(repository[len("file://"):], *GROUP.split("."), ARTIFACT, version)
    names = sorted(os.listdir(deployed))
    print(f"deployed: {', '.join(names)}")
    for classifier, extension in CENTRAL_FILES:
        name = file_name(version, classifier, extension)
        checks.check(name in names and open(os.path.join(deployed, name), "rb").read()
                     == open(os.path.join(folder, name), "rb").read(), "deployed", f"{name} not deployed as released")
        for suffix in (".sha1", ".md5") + ((".asc",) if (classifier, extension) in signatures else ()):
            checks.check(name + suffix in names, "deployed", f"no {name}{suffix}")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--dist", required=True)
    parser.add_argument("--version-file", required=True)
    parser.add_argument("--mvn", required=True)
    parser.add_argument("--cxx", required=True, help="the host's C++ compiler, for the stand-in")
    parser.add_argument("--stand-in-source", required=True, help="tests/release/stand_in")
    parser.add_argument("--java-binding", required=True, help="bindings/java")
    parser.add_argument("--gnupg", default="", help="the keyring the release signed with; empty: none")
    parser.add_argument("--work", required=True)
    args = parser.parse_args()

    version = open(args.version_file).readline().strip()
    folder = os.path.join(args.dist, "maven", *GROUP.split("."), ARTIFACT, version)
    work = args.work
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    try:
        check_central_rules(args, folder, version, work)
    finally:
        if args.gnupg:
            subprocess.run(["gpgconf", "--homedir", args.gnupg, "--kill", "all"], capture_output=True)

    settings_path = settings(work, os.path.join(args.java_binding, "debian-settings.xml"))
    repository = "file://" + os.path.join(work, "repository")
    deploy(args, settings_path, folder, version, repository, work)

    stand_in = os.path.join(work, "stand-in")
    run(["cmake", "-S", args.stand_in_source, "-B", stand_in, "-G", "Ninja", f"-DCMAKE_CXX_COMPILER={args.cxx}"],
        work, BUILD_TIMEOUT_S)
    run(["cmake", "--build", stand_in], work, BUILD_TIMEOUT_S)

    consumer = os.path.join(work, "consumer")
    test_dir = os.path.join(consumer, "src", "test", "java", "com", "example", "consumer")
    os.makedirs(test_dir)
    plugins, junit = binding_plugins_and_junit(os.path.join(args.java_binding, "pom.xml"))
    with open(os.path.join(consumer, "pom.xml"), "w") as f:
        f.write(CONSUMER_POM.format(ns=POM_NS, deploy_id=DEPLOY_ID, repository=repository, group=GROUP,
                                    artifact=ARTIFACT, version=version, plugins=plugins, junit=junit))
    with open(os.path.join(test_dir, "ConsumerTest.java"), "w") as f:
        f.write(CONSUMER_TEST)
    install = [args.mvn, "--batch-mode", "--no-transfer-progress", "-Dstyle.color=never", "--settings", settings_path,
               "test"]
    print(f"install: {' '.join(install)} (pom.xml depends on {GROUP}:{ARTIFACT}:{version})", flush=True)
    output = run(install, consumer, MAVEN_TIMEOUT_S,
                 env=dict(os.environ, GPUINFO_STAND_IN=os.path.join(stand_in, "libquillmar-dxgi-gpu-info.so")))
    lines = output.splitlines()
    start = next((i for i, line in enumerate(lines) if line.startswith("version ")), None)
    print("consumer (its JUnit test, Java 17, the native stand-in):")
    print("\n".join(lines[start:start + 2] if start is not None else []))
    print("\n".join(line for line in lines if "Tests run:" in line or "BUILD" in line))
    checks.check(f"version {version}" in lines, "consumer version", "the test printed no version line")
    checks.check("BUILD SUCCESS" in output, "consumer build", "mvn test did not succeed")
    resolved = os.path.join(work, "local-repository", *GROUP.split("."), ARTIFACT, version, "_remote.repositories")
    checks.check(os.path.exists(resolved) and f">{DEPLOY_ID}=" in open(resolved).read(), "resolved from the release",
                 f"{GROUP}:{ARTIFACT}:{version} did not come from the repository '{DEPLOY_ID}'")
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main())
